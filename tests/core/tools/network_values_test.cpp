// The network values: where each family keeps them, who may use them, and the frames that set them.
#include "core/tools/network_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace norvane {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

void Put(std::vector<uint8_t>& block, size_t at, std::string_view text) {
  std::memcpy(block.data() + at, text.data(), text.size());
}

NetworkValues Values(std::string ssid, std::string period = "5") {
  NetworkValues v;
  v[NetworkField::kSsid] = std::move(ssid);
  v[NetworkField::kPassword] = "secret";
  v[NetworkField::kWebsite] = "www.example.org";
  v[NetworkField::kUrl] = "log2.asp";
  v[NetworkField::kUserId] = "1234";
  v[NetworkField::kCounterId] = "5678";
  v[NetworkField::kPeriod] = std::move(period);
  return v;
}

TEST(NetworkLayout, EachFamilyReadsItsOwnAddresses) {
  // Family 17 keeps its SSID one byte earlier and its period at 66; family 8 at 69 and 325.
  std::vector<uint8_t> block(4096, 0xFF);
  Put(block, 68, std::string("MyWifi\0", 7));
  block[66] = 10;
  const auto radon = ExtractNetworkValues(17, block);
  ASSERT_TRUE(radon);
  EXPECT_EQ((*radon)[NetworkField::kSsid], "MyWifi");
  EXPECT_EQ((*radon)[NetworkField::kPeriod], "10");

  std::vector<uint8_t> extended(4096, 0);
  Put(extended, 69, "HomeNet");
  Put(extended, 133, "pw");
  Put(extended, 293, "counter");
  extended[325] = 255;
  const auto eight = ExtractNetworkValues(8, extended);
  ASSERT_TRUE(eight);
  EXPECT_EQ((*eight)[NetworkField::kSsid], "HomeNet");
  EXPECT_EQ((*eight)[NetworkField::kPassword], "pw");
  EXPECT_EQ((*eight)[NetworkField::kCounterId], "counter");
  EXPECT_EQ((*eight)[NetworkField::kPeriod], "255");
  EXPECT_TRUE(ExtractNetworkValues(16, extended));  // RadonTrak keeps the common extended layout

  // Family 5: a full field with no NUL ends at the field's end, not in the next one.
  std::vector<uint8_t> legacy(256, 0);
  Put(legacy, 69, "ABCDEFGHIJKLMNOP");  // 16 bytes, all of the SSID field
  Put(legacy, 85, "password");
  Put(legacy, 101, "0123456789012345678901234");  // the web site's 25 bytes
  legacy[162] = 7;
  const auto five = ExtractNetworkValues(5, legacy);
  ASSERT_TRUE(five);
  EXPECT_EQ((*five)[NetworkField::kSsid], "ABCDEFGHIJKLMNOP");
  EXPECT_EQ((*five)[NetworkField::kWebsite], "0123456789012345678901234");
  EXPECT_EQ((*five)[NetworkField::kPeriod], "7");

  EXPECT_FALSE(ExtractNetworkValues(4, block));
  EXPECT_FALSE(ExtractNetworkValues(7, block));
  // A block too short for the layout gives nothing rather than reading past it.
  EXPECT_FALSE(ExtractNetworkValues(8, std::vector<uint8_t>(300, 0)));
}

TEST(NetworkLayout, WhoMayReadAndWrite) {
  EXPECT_TRUE(NetworkReadAllowed(504, "ZQT-120Re 5.04"));
  EXPECT_FALSE(NetworkReadAllowed(503, "ZQT-120Re 5.03"));
  EXPECT_TRUE(NetworkReadAllowed(105, "RadonMax Re 1.05"));
  EXPECT_TRUE(NetworkReadAllowed(242, "ZQT-3030Re 2.42"));
  EXPECT_FALSE(NetworkReadAllowed(102, "RadonTrak Re 1.02"));
  EXPECT_TRUE(NetworkWriteAllowed(5, 0));
  EXPECT_TRUE(NetworkWriteAllowed(8, 0));
  EXPECT_FALSE(NetworkWriteAllowed(7, 108));
  EXPECT_FALSE(NetworkWriteAllowed(4, 503));
  EXPECT_TRUE(NetworkWriteAllowed(4, 504));
}

TEST(NetworkFrames, SevenFramesInOrder) {
  const NetworkFrames f = BuildNetworkFrames(Values("HomeNet"), 8);
  ASSERT_EQ(f.refusal, "");
  EXPECT_EQ(f.frames[0], Bytes("<SETSSIDHomeNet>>"));
  EXPECT_EQ(f.frames[0].size(), 17u);
  EXPECT_EQ(f.frames[1], Bytes("<SETWIFIPWsecret>>"));
  EXPECT_EQ(f.frames[2], Bytes("<SETWEBSITEwww.example.org>>"));
  EXPECT_EQ(f.frames[3], Bytes("<SETURLlog2.asp>>"));
  EXPECT_EQ(f.frames[4], Bytes("<SETUSERID1234>>"));
  EXPECT_EQ(f.frames[5], Bytes("<SETCOUNTERID5678>>"));
  EXPECT_EQ(f.frames[6], (std::vector<uint8_t>{0x3C, 0x53, 0x45, 0x54, 0x50, 0x45, 0x52, 0x49, 0x4F, 0x44, 0x05, 0x3E, 0x3E}));
  // The period is read as a number and keeps its low 8 bits.
  EXPECT_EQ(BuildNetworkFrames(Values("x", "300"), 8).frames[6][10], 0x2C);
  EXPECT_EQ(BuildNetworkFrames(Values("x", "12 minutes"), 8).frames[6][10], 12);
  EXPECT_EQ(BuildNetworkFrames(Values("x", "soon"), 8).frames[6][10], 0);
}

TEST(NetworkFrames, TooLongIsRefusedBeforeAnything) {
  // 64 characters fit a family-8 SSID, 65 do not.
  EXPECT_EQ(BuildNetworkFrames(Values(std::string(64, 'a')), 8).refusal, "");
  const NetworkFrames long_ssid = BuildNetworkFrames(Values(std::string(65, 'a')), 8);
  EXPECT_NE(long_ssid.refusal.find("SSID"), std::string::npos);
  EXPECT_TRUE(long_ssid.frames[0].empty());
  // Family 5 has 32-byte frames: 22 characters of SSID fit, 23 do not.
  EXPECT_EQ(BuildNetworkFrames(Values(std::string(22, 'a')), 5).refusal, "");
  const NetworkFrames five = BuildNetworkFrames(Values(std::string(23, 'a')), 5);
  EXPECT_NE(five.refusal.find("SSID"), std::string::npos);
  EXPECT_NE(five.refusal.find("22"), std::string::npos);
  // A later field that does not fit refuses the whole set, so no frame is built at all.
  NetworkValues late = Values("ok");
  late[NetworkField::kCounterId] = std::string(32, 'c');
  const NetworkFrames refused = BuildNetworkFrames(late, 8);
  EXPECT_NE(refused.refusal.find("counter ID"), std::string::npos);
  for (const auto& frame : refused.frames) EXPECT_TRUE(frame.empty());
  // Text that would end the frame early.
  for (std::string_view bad : {"a>>b", "net>"}) {
    const NetworkFrames f = BuildNetworkFrames(Values(std::string(bad)), 8);
    EXPECT_NE(f.refusal.find("SSID"), std::string::npos) << bad;
  }
  EXPECT_EQ(BuildNetworkFrames(Values("a>b"), 8).frames[0], Bytes("<SETSSIDa>b>>"));
}

}  // namespace
}  // namespace norvane
