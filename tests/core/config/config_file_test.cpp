// Configuration files: names, the CSV text, loading either kind, and failures told truthfully.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/config/config_editor.h"
#include "core/config/config_file.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::ReadAll;
using testing::RecordingNotifier;
using testing::TempDir;
using testing::WriteAll;

ConfigBlock Filled(uint8_t v) {
  ConfigBlock b;
  b.fill(v);
  return b;
}

TEST(ConfigFileName, EveryExtensionRemovedThenOneAppended) {
  EXPECT_EQ(ConfigFileName(ConfigFileFormat::kBinary, "cfg.bin.bin"), "cfg.bin");
  EXPECT_EQ(ConfigFileName(ConfigFileFormat::kCsv, "cfg"), "cfg.csv");
  EXPECT_EQ(ConfigFileName(ConfigFileFormat::kCsv, "a.csv.b.csv"), "a.b.csv");
  EXPECT_EQ(ConfigFileName(ConfigFileFormat::kBinary, "cfg.csv"), "cfg.csv.bin");
  EXPECT_EQ(FormatFromTypeText("csv files (*.csv)"), ConfigFileFormat::kCsv);
  EXPECT_EQ(FormatFromTypeText("binary files (*.bin)"), ConfigFileFormat::kBinary);
  EXPECT_EQ(FormatFromTypeText(".csv"), ConfigFileFormat::kBinary);  // only after the first character
}

TEST(ConfigCsv, SignedValuesEachWithAComma) {
  ConfigBlock b = Filled(0xFF);
  b[0] = 0x00;
  b[1] = 0x01;
  b[3] = 0x3C;
  b[4] = 0x80;
  const std::string text = ConfigCsvText(b);
  EXPECT_EQ(text.substr(0, 16), "0,1,-1,60,-128,-");
  EXPECT_EQ(std::count(text.begin(), text.end(), ','), 512);
  EXPECT_EQ(text.substr(text.size() - 5), "-1,\r\n");
}

TEST(ConfigFileSave, BinaryIs512BytesAndCsvOneLine) {
  TempDir dir;
  RecordingNotifier notifier;
  ConfigBlock b = Filled(0xFF);
  for (size_t i = 0; i < 255; ++i) b[i] = static_cast<uint8_t>(i);  // a family-4 read fills only these

  const std::string bin = SaveConfigFile(b, ConfigFileFormat::kBinary, (dir / "cfg.bin.bin").string(), notifier);
  EXPECT_EQ(bin, (dir / "cfg.bin").string());
  const std::string bytes = ReadAll(bin);
  ASSERT_EQ(bytes.size(), 512u);
  EXPECT_EQ(static_cast<uint8_t>(bytes[254]), 254);
  EXPECT_EQ(static_cast<uint8_t>(bytes[300]), 0xFF);

  const std::string csv = SaveConfigFile(b, ConfigFileFormat::kCsv, (dir / "cfg").string(), notifier);
  EXPECT_EQ(csv, (dir / "cfg.csv").string());
  const std::string text = ReadAll(csv);
  EXPECT_EQ(text, ConfigCsvText(b));
  EXPECT_NE(text.find(",127,-128,"), std::string::npos);
  const auto messages = notifier.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Configuration Saved.");
}

TEST(ConfigFileSave, AFailedCsvSaveSaysSo) {
  TempDir dir;
  RecordingNotifier notifier;
  const ConfigBlock b = Filled(0);
  for (auto format : {ConfigFileFormat::kCsv, ConfigFileFormat::kBinary}) {
    EXPECT_EQ(SaveConfigFile(b, format, (dir / "no-such-folder" / "cfg").string(), notifier), "");
  }
  const auto messages = notifier.messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) EXPECT_EQ(m.text, "Error creating file");
  EXPECT_FALSE(notifier.status().empty());  // with the reason
}

TEST(ConfigFileLoad, TextRule) {
  ConfigBlock b = Filled(0x55);
  EXPECT_EQ(LoadConfigText("10,20,,30,", b), 2u);
  EXPECT_EQ(b[0], 10);
  EXPECT_EQ(b[1], 20);
  EXPECT_EQ(b[2], 0x55);  // stopped at the empty field

  b = Filled(0x55);
  EXPECT_EQ(LoadConfigText("300,-1,abc, 7x,9", b), 4u);
  EXPECT_EQ(b[0], 44);
  EXPECT_EQ(b[1], 0xFF);
  EXPECT_EQ(b[2], 0);
  EXPECT_EQ(b[3], 7);
  EXPECT_EQ(b[4], 0x55);  // "9" has no comma after it

  b = Filled(0x55);
  EXPECT_EQ(LoadConfigText("12 34", b), 0u);
  EXPECT_EQ(b, Filled(0x55));

  std::string many;
  for (int i = 0; i < 600; ++i) many += "1,";
  b = Filled(0);
  EXPECT_EQ(LoadConfigText(many, b), 512u);
  EXPECT_EQ(b[511], 1);
  EXPECT_EQ(b[512], 0);
}

TEST(ConfigFileLoad, BinaryTakesAtMost512Bytes) {
  TempDir dir;
  RecordingNotifier notifier;
  WriteAll(dir / "long.bin", std::string(600, '\x07'));
  WriteAll(dir / "short.BIN", std::string("\x01,\x02", 3));
  ConfigBlock b = Filled(0xFF);
  ASSERT_TRUE(LoadConfigFile(dir / "long.bin", b, notifier));
  EXPECT_EQ(b[511], 7);
  EXPECT_EQ(b[512], 0xFF);

  b = Filled(0xFF);
  ASSERT_TRUE(LoadConfigFile(dir / "short.BIN", b, notifier));  // raw bytes, not the text rule
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[1], ',');
  EXPECT_EQ(b[2], 2);
  EXPECT_EQ(b[3], 0xFF);
  EXPECT_TRUE(notifier.messages().empty());
}

TEST(ConfigFileLoad, ReadOnlyLoadsAndMissingFails) {
  TempDir dir;
  RecordingNotifier notifier;
  const auto path = dir / "locked.csv";
  WriteAll(path, "1,2,3,\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  ConfigBlock b = Filled(0xFF);
  EXPECT_TRUE(LoadConfigFile(path, b, notifier));
  EXPECT_EQ(b[2], 3);

  b = Filled(0xFF);
  EXPECT_FALSE(LoadConfigFile(dir / "missing.csv", b, notifier));
  EXPECT_EQ(b, Filled(0xFF));
  ASSERT_EQ(notifier.messages().size(), 1u);
  EXPECT_EQ(notifier.messages()[0].text, "Failed to open the file.");
}

TEST(ConfigEditorFiles, SaveEncodesAndLoadDecodes) {
  TempDir dir;
  RecordingNotifier notifier;
  ConfigBlock block = Filled(0xFF);
  ConversionTable table = kDefaultConversionTable;
  ConfigEditor editor(block, table, notifier);
  editor.Decode(4);
  editor.form()[EditorField::kCal1Cpm] = "120";
  editor.form()[EditorField::kCal1Usv] = "0.78";
  const std::string saved = editor.SaveToFile(4, (dir / "mine").string(), ConfigFileFormat::kCsv);
  ASSERT_FALSE(saved.empty());

  ConfigBlock other_block = Filled(0xFF);
  ConversionTable other_table = kDefaultConversionTable;
  ConfigEditor other(other_block, other_table, notifier);
  ASSERT_TRUE(other.LoadFromFile(4, saved));
  EXPECT_EQ(other.form()[EditorField::kCal1Cpm], "120");
  EXPECT_EQ(other_table[0].cpm, 120u);
  EXPECT_DOUBLE_EQ(other_table[0].usv, static_cast<double>(0.78f));
}

}  // namespace
}  // namespace norvane
