#include "core/files/file_filters.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

TEST(FileFilter, ListsSplitIntoTheirItemsWhateverEndsThem) {
  const std::vector<FileTypeItem> realtime = ParseFileFilter(kRealtimeSaveFilter);
  ASSERT_EQ(realtime.size(), 7u);
  EXPECT_EQ(realtime[0].description, "Both Files (RBN and CSV)");
  EXPECT_EQ(realtime[0].pattern, "*.*");
  EXPECT_EQ(realtime[5].description, "Radioactive@Home (*.R@H)");
  EXPECT_EQ(realtime[6].pattern, "*.*");

  const std::vector<FileTypeItem> load = ParseFileFilter(kLoadFilter);
  ASSERT_EQ(load.size(), 3u);
  EXPECT_EQ(load[0].pattern, "*.bin;*.rbn");
  EXPECT_EQ(ParseFileFilter(kDownloadFilter).size(), 3u);
  EXPECT_EQ(ParseFileFilter(kHistoryCsvFilter).size(), 1u);
  EXPECT_TRUE(ParseFileFilter("").empty());
  EXPECT_TRUE(ParseFileFilter("Lonely description").empty());
}

}  // namespace
}  // namespace norvane
