#include "sim/counter_model.h"

#include <gtest/gtest.h>

#include "core/protocol/model_table.h"

namespace norvane::sim {
namespace {

TEST(CounterModels, EveryReplyNamesItsOwnFamily) {
  for (const CounterModel& m : CounterModels()) {
    EXPECT_EQ(FamilyForVersionText(m.version), m.family) << m.name;
    EXPECT_LE(m.version.size(), 20u) << m.name;
    EXPECT_GE(ModelListIndex(m.list_entry), 0) << m.name;
  }
}

TEST(CounterModels, IdentificationOrderOfTheReplies) {
  EXPECT_EQ(FamilyForVersionText("ZQT-100Re2.00"), 0);
  EXPECT_EQ(FamilyForVersionText("ZQT-100Re 4.10"), 1);
  EXPECT_EQ(FamilyForVersionText("ZQT-120Re 5.12"), 5);
  EXPECT_EQ(FamilyForVersionText("ZQT-120Re 4.09"), 4);
  EXPECT_EQ(FamilyForVersionText("HQMZ LE"), 1);
  EXPECT_EQ(FamilyForVersionText("RadonTrak"), 16);
  EXPECT_EQ(FamilyForVersionText("something else"), -1);
}

TEST(CounterModels, FoundByNameOrListEntryInAnyCase) {
  ASSERT_NE(FindCounterModel("zqt-600"), nullptr);
  EXPECT_EQ(FindCounterModel("zqt-600")->family, 7);
  ASSERT_NE(FindCounterModel("ZQT-100 Re2.0x(Stopped suppot)"), nullptr);
  EXPECT_EQ(FindCounterModel("ZQT-100 Re2.0x(Stopped suppot)")->family, 0);
  EXPECT_EQ(FindCounterModel("ZQT-999"), nullptr);
  EXPECT_EQ(LineBaud(3), 57600);
  EXPECT_EQ(LineBaud(4), 115200);
}

}  // namespace
}  // namespace norvane::sim
