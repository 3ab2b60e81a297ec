// The web map addresses: exact for ordinary IDs, escaped for the rest.
#include <gtest/gtest.h>

#include "core/net/map_urls.h"

namespace norvane {
namespace {

TEST(MapUrls, OrdinaryIdsGiveTheServiceAddressExactly) {
  EXPECT_EQ(SubmissionUrl("http://www.zqtmap.com/", "1234", "5678", 21, 19.5f, 0.1365f),
            "http://www.zqtmap.com/log2.asp?AID=1234&GID=5678&CPM=21&ACPM=19.50&uSV=0.136500&type=VWR2.75");
  EXPECT_EQ(VerificationUrl("http://www.zqtmap.com/", "ab12", "CD34"),
            "http://www.zqtmap.com/testlog.asp?id=ab12+CD34+0+0+0");
}

TEST(MapUrls, IdsCannotAddOrBreakQueryKeys) {
  const std::string url = SubmissionUrl("http://h/", "a&CPM=9", "x y#z", 1, 1.0f, 0.0f);
  EXPECT_EQ(url.find("&CPM=9"), std::string::npos);
  EXPECT_NE(url.find("AID=a%26CPM%3D9&GID=x%20y%23z&CPM=1&"), std::string::npos);
  EXPECT_EQ(VerificationUrl("http://h/", "a+b", "c"), "http://h/testlog.asp?id=a%2Bb+c+0+0+0");
  EXPECT_EQ(PercentEncode("\xC3\xA9-._~"), "%C3%A9-._~");
}

TEST(MapUrls, ServerAddressWithoutClosingSlashOrEmpty) {
  EXPECT_EQ(VerificationUrl("http://127.0.0.1:8080", "1", "2"), "http://127.0.0.1:8080/testlog.asp?id=1+2+0+0+0");
  EXPECT_EQ(VerificationUrl("", "1", "2"), "http://www.zqtmap.com/testlog.asp?id=1+2+0+0+0");
}

}  // namespace
}  // namespace norvane
