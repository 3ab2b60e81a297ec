#include "core/files/history_csv.h"

#include <gtest/gtest.h>

#include "tests/core/history/image_builder.h"

namespace norvane {
namespace {

using testing::Hex;
using testing::operator+;
using testing::Repeat;
using testing::Stamp;

std::string Csv(const std::vector<uint8_t>& image, char sep = ',') {
  WriterOptions options;
  options.separator = sep;
  return BuildHistoryCsv({image.data(), image.size()}, options);
}

// The rows after the two header lines (the first row starts with its own line break).
std::string Rows(const std::string& csv) {
  const size_t second = csv.find("\r\n", csv.find("\r\n") + 2);
  return csv.substr(second + 2);
}

std::string Ones(int n, char sep = ',') {
  std::string out;
  for (int i = 0; i < n; ++i) (out += '1') += sep;
  return out;
}

TEST(HistoryCsvTest, HeaderLinesWithEitherSeparator) {
  const std::string comma = Csv({});
  EXPECT_TRUE(comma.starts_with("Norvane Electronics LLC, ZQT Data Viewer,Version 2.75\r\n"
                                "Date Time,Type,uSv/h,CPM,#1(CPS),#2(CPS),"));
  EXPECT_TRUE(comma.ends_with("#59(CPS),#60(CPS),\r\n"));
  const std::string semi = Csv({}, ';');
  EXPECT_TRUE(semi.starts_with("Norvane Electronics LLC; ZQT Data Viewer;Version 2.75\r\nDate Time;Type;uSv/h;CPM;#1(CPS);"));
}

TEST(HistoryCsvTest, FullEverySecondRowsCarryDoseAndSumAndAdvanceOneMinute) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 1) + Repeat(1, 120);
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:05,Every Second,0.390,60," + Ones(60) +
                                  "\r\n2024-01-31 12:06,Every Second,0.390,60," + Ones(60));
  EXPECT_EQ(Rows(Csv(image, ';')), "\r\n2024-01-31 12:05;Every Second;0.390;60;" + Ones(60, ';') +
                                       "\r\n2024-01-31 12:06;Every Second;0.390;60;" + Ones(60, ';'));
}

TEST(HistoryCsvTest, EverySecondRowCutShortByAStamp) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 1) + Repeat(3, 10) + Stamp(24, 1, 31, 23, 59, 0, 1) + Repeat(1, 60);
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:05,Every Second,0.195,30,3,3,3,3,3,3,3,3,3,3,"
                              "\r\n2024-01-31 23:59,Every Second,0.390,60," + Ones(60));
}

TEST(HistoryCsvTest, WideSampleBeforeAStampStillEndsTheRow) {
  // The look-ahead for a following stamp starts after the whole value record.
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 1) + Hex("02 55 AA 01 01 2C") + Stamp(24, 1, 31, 13, 0, 0, 1) + Hex("04");
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:05,Every Second,1.963,302,2,300,"
                              "\r\n2024-01-31 13:00,Every Second,0.026,4,4,");
}

TEST(HistoryCsvTest, PendingRowsAreWrittenAtAStampAfterErasedBytesAndAtTheEnd) {
  // Erased bytes between the samples and the stamp hide the stamp from the look-ahead, and the
  // last row of an image has no stamp after it: neither row may be lost.
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 1) + Hex("05 05 FF FF") + Stamp(24, 1, 31, 12, 30, 0, 4) + Hex("07 08");
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:05,Every Second,0.065,10,5,5,"
                              "\r\n2024-01-31 12:30,Threshold Second,,,7,8,");
}

TEST(HistoryCsvTest, ThresholdSecondRowsHaveEmptyRateCellsAndKeepTheirTime) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 4) + Repeat(2, 61);
  std::string twos;
  for (int i = 0; i < 60; ++i) twos += "2,";
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:05,Threshold Second,,," + twos +
                                  "\r\n2024-01-31 12:05,Threshold Second,,,2,");
}

TEST(HistoryCsvTest, PerMinuteTypes) {
  const auto minute = Stamp(24, 12, 31, 23, 59, 0, 2) + Hex("00 3C");
  EXPECT_EQ(Rows(Csv(minute)), "\r\n2024-12-31 23:59,Every Minute,-,0,"
                               "\r\n2025-01-01 00:00,Every Minute,0.390,60,");
  const auto threshold = Stamp(24, 1, 31, 12, 5, 0, 5) + Hex("09 0A");
  EXPECT_EQ(Rows(Csv(threshold)), "\r\n2024-01-31 12:05,Threshold Minute,,9,"
                                  "\r\n2024-01-31 12:05,Threshold Minute,,10,");
}

TEST(HistoryCsvTest, EveryHourSamplesAreRowsOneHourApart) {
  const auto image = Stamp(24, 2, 28, 23, 0, 0, 3) + Hex("3C 00");
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-02-28 23:00,Every Hour,0.390,60,"
                              "\r\n2024-02-29 00:00,Every Hour,-,0,");
}

TEST(HistoryCsvTest, NotesCloseTheRowAndStandOnTheirOwnLine) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 1) + Hex("01 01") + Hex("55 AA 02 05") + Hex("48 45 4C 4C 4F") +
                     Repeat(1, 60);
  // The cut row is closed with its own sum; the next row counts only its own 60 seconds.
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:05,Every Second,0.013,2,1,1,"
                              "\r\nHELLO,,,\r\n"
                              "\r\n2024-01-31 12:06,Every Second,0.390,60," + Ones(60));
  EXPECT_NE(Csv(image, ';').find("\r\nHELLO;;;\r\n"), std::string::npos);
}

TEST(HistoryCsvTest, UnknownSaveTypeKeepsTheLastName) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 2) + Hex("01") + Stamp(24, 1, 31, 13, 0, 0, 9) + Hex("02");
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:05,Every Minute,0.007,1,"
                              "\r\n2024-01-31 13:00,Every Minute,0.013,2,");
}

TEST(HistoryCsvTest, SamplesBeforeAnyKnownTypeAndDamagedRecordsDoNotStopTheExport) {
  const auto image = Stamp(24, 1, 31, 12, 5, 0, 0) + Hex("01 02") + Hex("55 AA 02 40 41") +
                     Stamp(24, 1, 31, 12, 6, 0, 2) + Hex("03");
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 12:06,Every Minute,0.020,3,");
}

TEST(HistoryCsvTest, DamagedStampKeepsTheFieldsOfTheTimeTheRowsHaveReached) {
  // Two full rows from 20:47 bring the time to 20:49; the next stamp's hour is out of range, so
  // its hour and minute are those reached, not those of the 20:47 stamp.
  const auto image = Stamp(24, 1, 31, 20, 47, 0, 1) + Repeat(1, 120) + Stamp(24, 1, 31, 0xFF, 0xFF, 0xFF, 1) +
                     Repeat(1, 60);
  EXPECT_EQ(Rows(Csv(image)), "\r\n2024-01-31 20:47,Every Second,0.390,60," + Ones(60) +
                                  "\r\n2024-01-31 20:48,Every Second,0.390,60," + Ones(60) +
                                  "\r\n2024-01-31 20:49,Every Second,0.390,60," + Ones(60));
}

TEST(HistoryCsvTest, ImplausibleRowTimeLeavesTheDateCellEmpty) {
  // The decoder never hands out such a time; a builder fed directly still keeps its columns.
  std::string out;
  WriterOptions options;
  HistoryCsvBuilder builder({}, options, out);
  builder.OnStamp(0, StampTime{24, 1, 31, 40, 5, 0}, kEveryMinute);
  builder.OnSample(12, 60);
  builder.OnSample(13, 60);
  EXPECT_EQ(out, "\r\n2024-01-31 40:05,Every Minute,0.390,60,\r\n,Every Minute,0.390,60,");
}

}  // namespace
}  // namespace norvane
