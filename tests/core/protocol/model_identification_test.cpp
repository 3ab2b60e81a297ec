#include "core/protocol/model_identification.h"

#include <gtest/gtest.h>

#include "core/protocol/model_table.h"

namespace norvane {
namespace {

struct Row {
  const char* reply;
  std::optional<int> family;
};

TEST(ModelIdentification, EveryRowOfTheFamilyTableInItsOrder) {
  const Row rows[] = {
      {"ZQT-100Re2.00", 0},       {"ZQT-100Re 4.10", 1},     {"ZQT-100 Re2.05", 0},
      {"ZQT-120Re 5.12", 5},      {"ZQT-120Re 4.09", 4},     {"ZQT-1010Re 4.26", 4},
      {"ZQT-3010Re 4.26", 4},     {"ZQT-LT Re 4.18", 6},     {"ZQT-600Re 1.08", 7},
      {"ZQT-200Re 4.21", 8},      {"ZQT-210", 8},            {"ZQT-220", 8},
      {"ZQT-260", 8},             {"ZQT-280", 8},            {"ZQT-290", 8},
      {"ZQT-400Re 4.21", 8},      {"ZQT-420", 8},            {"ZQT-3020Re 2.42", 8},
      {"ZQT-3030", 8},            {"HQMZ LE Re 2.30", 1},    {"RadonMax Re 1.05", 17},
      {"RadonTrak Re 1.02", 16},  {"", std::nullopt},        {"GMC-300Re 4.20", std::nullopt},
      {"?", std::nullopt},        {"zqt-400", std::nullopt},  // case matters, as on the counter
  };
  for (const Row& row : rows) EXPECT_EQ(FamilyFromReply(row.reply), row.family) << row.reply;
}

TEST(ModelIdentification, FirmwareVersionNumberRule) {
  EXPECT_EQ(FirmwareVersionNumber("ZQT-120Re 4.09"), 409);
  EXPECT_EQ(FirmwareVersionNumber("ZQT-100Re2.00"), 200);
  EXPECT_EQ(FirmwareVersionNumber("ZQT-400Re 4.21"), 421);
  EXPECT_EQ(FirmwareVersionNumber("ZQT-120Re 5.12"), 512);
  EXPECT_EQ(FirmwareVersionNumber("ZQT-500Re 2.38 extra"), 238);
  EXPECT_EQ(FirmwareVersionNumber("Re 3.1"), 31);        // only the first point goes
  EXPECT_EQ(FirmwareVersionNumber("Re 1.2.3"), 12);
  EXPECT_EQ(FirmwareVersionNumber("HQMZ LE Re 2.30"), 230);
  EXPECT_EQ(FirmwareVersionNumber("HQMZ LE"), 0);  // no "R" and no "e": nothing is left to read
  EXPECT_EQ(FirmwareVersionNumber("RadonMax 1.05"), 0);  // stops at once on the "R"
  EXPECT_EQ(FirmwareVersionNumber(""), 0);
  EXPECT_EQ(FirmwareVersionNumber("ZQT-120Re 99999999999.9"), 0);  // too large to be a version
}

TEST(ModelIdentification, MatchModelInListPicksTheEntryTheReplyNames) {
  const auto entry = [](std::string_view reply) { return kModelList[static_cast<size_t>(MatchModelInList(reply))]; };
  EXPECT_EQ(entry("ZQT-120Re 5.12"), "ZQT-120+V5");
  EXPECT_EQ(entry("ZQT-120Re 4.09"), "ZQT-120");
  EXPECT_EQ(entry("ZQT-400Re 4.21"), "ZQT-400");
  EXPECT_EQ(entry("ZQT-100Re2.00"), "ZQT-100");
  EXPECT_EQ(entry("HQMZ LE Re 2.30"), "ZQT-100");
  EXPECT_EQ(entry("RadonMax Re 1.05"), "RadonMax");
  EXPECT_EQ(entry("RadonTrak Re 1.02"), "RadonTrak");
  EXPECT_EQ(entry("ZQT-3030Re 2.42"), "ZQT-3030");
  EXPECT_EQ(entry(""), "ZQT-120");  // nothing named: the fallback entry
  EXPECT_EQ(entry("GMC-300Re 4.20"), "ZQT-120");
  // Not in the list, but applying "ZQT-120" would set the wrong line rate for them.
  EXPECT_EQ(entry("ZQT-210Re 4.21"), "ZQT-400");
  EXPECT_EQ(entry("ZQT-420Re 4.21"), "ZQT-400");
}

TEST(ModelIdentification, TheScanTakesEveryCounterIdentificationKnows) {
  for (const char* reply : {"ZQT-600Re 1.08", "HQMZ LE Re 2.30", "ZQT-100Re2.00", "RadonX 1.0", "ZQT-LT Re 4.18"})
    EXPECT_TRUE(LooksLikeCounter(reply)) << reply;
  EXPECT_FALSE(LooksLikeCounter(""));
  EXPECT_FALSE(LooksLikeCounter("OK\r\n"));
}

}  // namespace
}  // namespace norvane
