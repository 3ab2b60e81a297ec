// Decoding and encoding the configuration block through each family's layout, as the editor shows it.
#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>

#include "core/config/config_editor.h"
#include "core/config/config_layout.h"
#include "tests/common/recording_notifier.h"

namespace norvane {
namespace {

using F = EditorField;

ConfigBlock Erased() {
  ConfigBlock b;
  b.fill(0xFF);
  return b;
}

void Put(ConfigBlock& b, size_t at, std::initializer_list<int> bytes) {
  for (int v : bytes) b[at++] = static_cast<uint8_t>(v);
}

std::vector<int> Bytes(const ConfigBlock& b, size_t at, size_t n) {
  return std::vector<int>(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// The editor with its own block and table, as a test needs it.
struct Editor {
  ConfigBlock block = Erased();
  ConversionTable table = kDefaultConversionTable;
  testing::RecordingNotifier notifier;
  ConfigEditor editor{block, table, notifier};
  std::string& operator[](F f) { return editor.form()[f]; }
};

TEST(ConfigDecode, CalibrationPointOneByFamily) {
  Editor legacy;
  Put(legacy.block, 8, {0x01, 0x2C, 0x3F, 0x80, 0x00, 0x00});
  legacy.editor.Decode(4);
  EXPECT_EQ(legacy[F::kCal1Cpm], "300");
  EXPECT_EQ(legacy[F::kCal1Usv], "1.00");

  // Family 6 keeps the same point as a 32-bit count and a float stored least significant first.
  Editor six;
  Put(six.block, 73, {0x00, 0x00, 0x01, 0x2C});
  Put(six.block, 97, {0x00, 0x00, 0x80, 0x3F});
  six.editor.Decode(6);
  EXPECT_EQ(six[F::kCal1Cpm], "300");
  EXPECT_EQ(six[F::kCal1Usv], "1.00");
  // ...and the legacy place, which family 6 does not read, does not leak in.
  Put(six.block, 8, {0x00, 0x10});
  six.editor.Decode(6);
  EXPECT_EQ(six[F::kCal1Cpm], "300");

  // Family 7 has the same CPM place but its floats most significant first.
  Editor seven;
  Put(seven.block, 73, {0x00, 0x00, 0x01, 0x2C});
  Put(seven.block, 97, {0x3F, 0x80, 0x00, 0x00});
  seven.editor.Decode(7);
  EXPECT_EQ(seven[F::kCal1Usv], "1.00");

  Editor extended;
  Put(extended.block, 379 + 20, {0x00, 0x01, 0x11, 0x70});
  Put(extended.block, 403 + 20, {0x42, 0x28, 0x00, 0x00});
  extended.editor.Decode(8);
  EXPECT_EQ(extended[F::kCal6Cpm], "70000");
  EXPECT_EQ(extended[F::kCal6Usv], "42.00");
}

TEST(ConfigDecode, DisplayRulesOfTheExtendedLayout) {
  Editor e;
  e.block[332] = 3;
  Put(e.block, 336, {0xFF, 0xFF, 0xFF, 0xFF});  // dead time #1 and #2
  e.editor.Decode(8);
  EXPECT_EQ(e[F::kTubeSelect], "0");
  EXPECT_EQ(e[F::kDeadTime1], "65535");
  EXPECT_EQ(e[F::kDeadTime2], "0");
  e.block[332] = 2;
  Put(e.block, 338, {0x01, 0x02});
  e.editor.Decode(8);
  EXPECT_EQ(e[F::kTubeSelect], "2");
  EXPECT_EQ(e[F::kDeadTime2], "258");
  // The 32-bit CPM alarm of an erased block shows as "%d" shows it.
  EXPECT_EQ(e[F::kCpmAlarm], "-1");
}

TEST(ConfigDecode, Family7TakesItsOwnPlaces) {
  Editor e;
  Put(e.block, 0, {0, 1, 0, 0, 0, 0, 0x00, 0x64});  // 16-bit alarm 100 at 6-7
  Put(e.block, 125, {0x00, 0x01, 0x86, 0xA0});       // 32-bit alarm 100000
  e.block[121] = 1;
  e.block[123] = 1;
  e.block[33] = 0;
  e.block[53] = 7;
  e.editor.Decode(7);
  EXPECT_EQ(e[F::kCpmAlarm], "100000");
  EXPECT_EQ(e[F::kSpeaker], "1");
  EXPECT_EQ(e[F::kBacklightLevel], "7");
  EXPECT_EQ(e[*FieldForKey("swivel", 7)], "1");  // the "Vibrate" box
  EXPECT_EQ(e[*FieldForKey("swivel", 8)], "0");
}

TEST(ConfigDecode, ClearsPointsAndTextsButKeepsOtherValues) {
  Editor e;
  std::string ssid = "HomeNet";
  std::copy(ssid.begin(), ssid.end(), e.block.begin() + 69);
  e.block[69 + ssid.size()] = 0;
  Put(e.block, 379 + 12, {0, 0, 0x0F, 0xA0});
  e.block[335] = 9;
  e.editor.Decode(8);
  EXPECT_EQ(e[F::kSsid], "HomeNet");
  EXPECT_EQ(e[F::kCal4Cpm], "4000");

  e.editor.Decode(4);  // a three-point counter without texts
  EXPECT_EQ(e[F::kSsid], "");
  EXPECT_EQ(e[F::kCal4Cpm], "0");
  EXPECT_EQ(e[F::kDeadTime], "9");  // not stored by family 4: the editor keeps it
}

TEST(ConfigEncode, LowBitsWithoutRangeCheck) {
  Editor e;
  e.editor.Decode(4);
  e[F::kCal1Cpm] = "70000";
  e[F::kAlarm] = "300";
  e[F::kCpmAlarm] = "-1";
  ASSERT_TRUE(e.editor.Encode(4));
  EXPECT_EQ(Bytes(e.block, 8, 2), (std::vector<int>{0x11, 0x70}));
  EXPECT_EQ(e.block[1], 0x2C);
  EXPECT_EQ(Bytes(e.block, 6, 2), (std::vector<int>{0xFF, 0xFF}));
  // Families 0-4 also get the six-point places, floats least significant first.
  EXPECT_EQ(Bytes(e.block, 73, 4), (std::vector<int>{0x00, 0x01, 0x11, 0x70}));
}

TEST(ConfigEncode, FieldsAreReadAsTheCLibraryReadsThem) {
  Editor e;
  e.editor.Decode(8);
  e[F::kUsvAlarm] = "letters";
  e[F::kCal1Usv] = " 0.39xyz";
  e[F::kCal1Cpm] = "  12abc";
  e[F::kPeriod] = "abc";
  ASSERT_TRUE(e.editor.Encode(8));
  EXPECT_EQ(Bytes(e.block, 27, 4), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(Bytes(e.block, 403, 4), (std::vector<int>{0x3E, 0xC7, 0xAE, 0x14}));  // 0.39 in single precision
  EXPECT_EQ(Bytes(e.block, 379, 4), (std::vector<int>{0, 0, 0, 12}));
  EXPECT_EQ(e.block[325], 0);
}

TEST(ConfigEncode, ExtendedWritesLegacyPointsAlso) {
  Editor e;
  e.editor.Decode(8);
  e[F::kCal2Cpm] = "65537";
  e[F::kCal2Usv] = "1";
  ASSERT_TRUE(e.editor.Encode(8));
  EXPECT_EQ(Bytes(e.block, 14, 6), (std::vector<int>{0x00, 0x01, 0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(Bytes(e.block, 383, 4), (std::vector<int>{0x00, 0x01, 0x00, 0x01}));
  // Never read back from there: the six-point place wins.
  e.block[14] = 0x7F;
  e.editor.Decode(8);
  EXPECT_EQ(e[F::kCal2Cpm], "65537");
}

TEST(ConfigEncode, Family6SixPointsLeastSignificantFirst) {
  Editor e;
  e.editor.Decode(6);
  e[F::kCal5Cpm] = "300";
  e[F::kCal5Usv] = "1.00";
  ASSERT_TRUE(e.editor.Encode(6));
  EXPECT_EQ(Bytes(e.block, 89, 4), (std::vector<int>{0x00, 0x00, 0x01, 0x2C}));
  EXPECT_EQ(Bytes(e.block, 113, 4), (std::vector<int>{0x00, 0x00, 0x80, 0x3F}));
}

TEST(ConfigEncode, TextKeepsTheBytesAfterItsNul) {
  Editor e;
  const std::string old = "HomeNet";
  std::fill_n(e.block.begin() + 69, 64, uint8_t{0});
  std::copy(old.begin(), old.end(), e.block.begin() + 69);
  e.editor.Decode(8);
  e[F::kSsid] = "AB";
  ASSERT_TRUE(e.editor.Encode(8));
  EXPECT_EQ(Bytes(e.block, 69, 9), (std::vector<int>{'A', 'B', 0, 'e', 'N', 'e', 't', 0, 0}));
  EXPECT_EQ(e.block[132], 0);
  EXPECT_EQ(e.block[133], 0xFF);  // the password field beside it is untouched by the SSID
}

TEST(ConfigEncode, Family5RoundTrip) {
  Editor e;
  Put(e.block, 0, {1, 1, 0, 0, 20, 0, 0x03, 0xE8});
  Put(e.block, 8, {0x00, 0x3C, 0x3E, 0xC6, 0x24, 0xDD});  // 60 CPM at 0.387 uSv/h
  Put(e.block, 14, {0x00, 0xF0, 0x3F, 0xC7, 0xAE, 0x14});
  Put(e.block, 20, {0x03, 0xE8, 0x40, 0xD0, 0x00, 0x00});
  Put(e.block, 27, {0x40, 0xA0, 0x00, 0x00});
  e.block[32] = 2;
  e.block[33] = 0;
  e.block[60] = 1;
  const std::string site = "www.example-map-site.com";  // 24 characters, past the old 16-byte read
  std::fill_n(e.block.begin() + 69, 94, uint8_t{0});
  std::copy(site.begin(), site.end(), e.block.begin() + 101);
  e.block[162] = 5;
  const ConfigBlock before = e.block;

  e.editor.Decode(5);
  EXPECT_EQ(e[F::kWebsite], site);
  EXPECT_EQ(e[F::kPeriod], "5");
  ASSERT_TRUE(e.editor.Encode(5));
  for (size_t a : {0, 1, 2, 4, 6, 7, 8, 9, 14, 15, 20, 21, 32, 33, 60}) EXPECT_EQ(e.block[a], before[a]) << a;
  EXPECT_EQ(Bytes(e.block, 101, 25), Bytes(before, 101, 25));
  EXPECT_EQ(e.block[162], 5);
  // uSv/h come back as the editor showed them: 0.387 became "0.39".
  EXPECT_EQ(Bytes(e.block, 10, 4), (std::vector<int>{0x3E, 0xC7, 0xAE, 0x14}));
  EXPECT_EQ(Bytes(e.block, 16, 4), Bytes(before, 16, 4));
  // Family 5's network fields sit where the six-point places would be: those are not written.
  EXPECT_EQ(Bytes(e.block, 73, 24), Bytes(before, 73, 24));
}

TEST(ConfigEncode, Family7KeepsTheAlarmBytesAsRead) {
  Editor e;
  Put(e.block, 27, {0x40, 0xA0, 0x00, 0x00});  // 5.0, most significant first
  e.editor.Decode(7);
  EXPECT_EQ(e[F::kUsvAlarm], "5.00");
  ASSERT_TRUE(e.editor.Encode(7));
  EXPECT_EQ(Bytes(e.block, 27, 4), (std::vector<int>{0x40, 0xA0, 0x00, 0x00}));
  EXPECT_FALSE(StoredAt(7, F::kUsvAlarm));

  e[F::kCpmAlarm] = "70000";
  e[*FieldForKey("swivel", 7)] = "1";
  ASSERT_TRUE(e.editor.Encode(7));
  EXPECT_EQ(Bytes(e.block, 125, 4), (std::vector<int>{0x00, 0x01, 0x11, 0x70}));
  EXPECT_EQ(e.block[123], 1);
  EXPECT_EQ(Bytes(e.block, 6, 2), (std::vector<int>{0xFF, 0xFF}));  // its 16-bit place is not written
}

TEST(ConfigEncode, TextsLongerThanTheirFieldAreRefused) {
  struct Case {
    int family;
    F field;
    size_t limit;
  };
  for (const Case c : {Case{8, F::kSsid, 64}, Case{8, F::kPassword, 64}, Case{8, F::kWebsite, 32},
                       Case{8, F::kCounterId, 32}, Case{5, F::kSsid, 16}, Case{5, F::kWebsite, 25},
                       Case{5, F::kUrl, 12}, Case{5, F::kUserId, 12}}) {
    SCOPED_TRACE(FieldLabel(c.field) + " family " + std::to_string(c.family));
    Editor e;
    e.editor.Decode(c.family);
    e[c.field] = std::string(c.limit, 'x');
    ASSERT_TRUE(e.editor.Encode(c.family));
    const ConfigBlock fits = e.block;

    e[c.field] = std::string(c.limit + 1, 'y');
    e[F::kAlarm] = "7";
    EXPECT_FALSE(e.editor.Encode(c.family));
    EXPECT_EQ(e.block, fits);  // nothing at all encoded
    const auto messages = e.notifier.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find(FieldLabel(c.field)), std::string::npos) << messages[0].text;
    EXPECT_NE(messages[0].text.find(std::to_string(c.limit)), std::string::npos) << messages[0].text;
  }
}

TEST(ConfigLayout, EveryEntryLiesInsideItsLayout) {
  for (int family : {0, 1, 4, 5, 6, 7, 8}) {
    const size_t end = family >= 8 ? kConfigFileSize : 256;
    for (auto layout : {DecodeLayout(family), EncodeLayout(family)}) {
      for (const LayoutEntry& e : layout) {
        EXPECT_LE(e.address + e.width, end) << family << " " << FieldKey(e.field);
        if (e.encoding == FieldEncoding::kText) {
          EXPECT_TRUE(IsTextField(e.field));
          EXPECT_LE(e.width, TextBufferSize(e.field) - 1);
        } else {
          // A float field must have a float encoding, and the other way round.
          const bool float_encoding =
              e.encoding == FieldEncoding::kFloatMsbFirst || e.encoding == FieldEncoding::kFloatLsbFirst;
          EXPECT_EQ(IsFloatField(e.field), float_encoding) << FieldKey(e.field);
        }
      }
    }
  }
  EXPECT_EQ(LegacyAddressName(0), "PowerOnOff");
  EXPECT_EQ(LegacyAddressName(53), "nLCDBackLightLevel");
  EXPECT_EQ(LegacyAddressName(96), "C23");
  EXPECT_EQ(LegacyAddressName(127), "MaximumBytes");
  EXPECT_EQ(LegacyAddressName(128), "");
}

}  // namespace
}  // namespace norvane
