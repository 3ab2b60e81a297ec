#include <gtest/gtest.h>

#include "core/store/store_chart_queries.h"
#include "core/store/sqlite_db.h"
#include "tests/common/temp_dir.h"

namespace norvane::store {
namespace {

TEST(StoreNotesTest, NotesOfOneCounterInTheRangeOldestFirst) {
  testing::TempDir dir;
  Store db(dir / "store.sqlite");
  const CounterId a = db.RegisterCounter({"A 1.0", "", "A", "", ""}, 0);
  const CounterId b = db.RegisterCounter({"B 1.0", "", "B", "", ""}, 0);
  Statement add(db.database().handle(), "INSERT INTO notes(counter, time, text) VALUES(?1, ?2, ?3)");
  add.Bind(1, a).Bind(2, int64_t{300}).Bind(3, std::string_view("cellar"));
  add.Run();
  add.Bind(1, a).Bind(2, int64_t{100}).Bind(3, std::string_view("garden"));
  add.Run();
  add.Bind(1, b).Bind(2, int64_t{200}).Bind(3, std::string_view("other counter"));
  add.Run();
  add.Bind(1, a).Bind(2, int64_t{900}).Bind(3, std::string_view("later"));
  add.Run();
  Store reader(dir / "store.sqlite", Store::Access::kReadOnly);
  EXPECT_EQ(NotesBetween(reader, a, 0, 900), (std::vector<StoredNote>{{100, "garden"}, {300, "cellar"}}));
  EXPECT_TRUE(NotesBetween(reader, b, 300, 1000).empty());
}

TEST(StoreChartQueriesTest, LastSecondFollowsAnotherWriter) {
  testing::TempDir dir;
  Store writer(dir / "store.sqlite");
  const CounterId a = writer.RegisterCounter({"A 1.0", "", "A", "", ""}, 0);
  Store reader(dir / "store.sqlite", Store::Access::kReadOnly);
  EXPECT_FALSE(LastSecond(reader, a));
  writer.AppendSeconds(a, std::vector<Second>{{6000, 1}, {6007, 2}, {100, 3}});
  EXPECT_EQ(LastSecond(reader, a), 6007);
  writer.AppendSeconds(a, std::vector<Second>{{6061, 0}});
  EXPECT_EQ(LastSecond(reader, a), 6061);
}

}  // namespace
}  // namespace norvane::store
