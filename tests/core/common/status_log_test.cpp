#include "core/common/status_log.h"

#include <gtest/gtest.h>

#include <string>

namespace norvane {
namespace {

TEST(StatusLogText, LinesAreAddedWithALeadingBreakUntilHalfTheLimitIsPassed) {
  StatusLogText log(40);
  EXPECT_FALSE(log.Append("COM3 opened successfully."));  // 25 characters
  EXPECT_EQ(log.text(), "\r\nCOM3 opened successfully.");
  // The log already holds 25 characters, above half of 40: the next line starts it over.
  EXPECT_TRUE(log.Append("Downloading started.."));
  EXPECT_EQ(log.text(), "\r\nDownloading started..");
}

TEST(StatusLogText, LineBreaksInsideEntriesDoNotCountTowardsTheLimit) {
  StatusLogText log(40);
  // 16 characters of text and four breaks: still below half the limit.
  log.Append("2026-03-07:\r\nSaved:a\r\n");
  EXPECT_FALSE(log.Append("next"));
  EXPECT_EQ(log.text(), "\r\n2026-03-07:\r\nSaved:a\r\n\r\nnext");
}

TEST(StatusLogText, ALongRunningLogNeverOutgrowsItsLimit) {
  StatusLogText log;
  for (int i = 0; i < 10000; ++i) log.Append("Data submited to server. " + std::to_string(i));
  EXPECT_LE(log.text().size(), kStatusLogLimit);
  EXPECT_NE(log.text().find("9999"), std::string::npos);
}

}  // namespace
}  // namespace norvane
