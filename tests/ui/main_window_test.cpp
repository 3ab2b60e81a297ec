// The main window offscreen: start-up, the chart and its navigation, playback, and device work
// against the simulated counter on a pseudo-terminal.
#include "tests/ui/main_window_fixture.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "core/files/local_time.h"
#include "core/files/realtime_binary.h"
#include "tests/integration/simulated_line.h"
#include "ui/graph_canvas.h"
#include "ui/scroll_bar_ex.h"

namespace norvane {
namespace {

using testing::SimulatedLine;

TEST_F(MainWindowTest, StartsWithItsDefaults) {
  auto w = Open();
  EXPECT_EQ(Text(*w, 1034), "V2.75");
  EXPECT_EQ(Text(*w, 1036), "AUTO");
  EXPECT_EQ(Text(*w, 1042), "No data loaded.");
  EXPECT_EQ(Text(*w, 1043), "CPM:-");
  EXPECT_FALSE(w->Control(1173)->isEnabled());  // Play
  EXPECT_FALSE(w->Control(1174)->isEnabled());  // Stop
  EXPECT_FALSE(w->Control(1176)->isEnabled());  // speed
  EXPECT_TRUE(w->Control(1162)->isEnabled());   // Download
  EXPECT_FALSE(w->Command(32792)->isEnabled());
  EXPECT_FALSE(w->Command(32794)->isEnabled());
  EXPECT_EQ(w->chart_inputs().zoom, 100.0f);
  auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
  EXPECT_EQ(ports->itemText(0), "Select");
  // The empty chart: a flat blue line along y = 163.
  const QImage& picture = w->canvas().picture();
  EXPECT_EQ(picture.pixelColor(300, 163), QColor(0, 0, 255));
  EXPECT_EQ(picture.pixelColor(305, 100), QColor(255, 255, 255));
}

TEST_F(MainWindowTest, ThePortListHoldsThePortsThatExistAndARememberedMissingOneSaysWhy) {
  const SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  ViewerOptions options;
  options.extra_ports = {line.path()};
  auto w = Open({"\"COMPORT\"=dword:00000028"}, options);  // COM40, no such device here
  auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
  const std::vector<PortEntry>& known = w->context().ports.ports();
  ASSERT_EQ(ports->count(), static_cast<int>(known.size()) + 2);  // "Select", the ports, COM40
  for (size_t i = 0; i < known.size(); ++i) {
    EXPECT_EQ(ports->itemData(static_cast<int>(i) + 1).toInt(), known[i].number);
    EXPECT_TRUE(ports->itemText(static_cast<int>(i) + 1).contains(QString::fromStdString(known[i].path)));
    EXPECT_TRUE(std::filesystem::exists(known[i].path)) << known[i].path;
  }
  EXPECT_EQ(ports->currentText(), "COM40  (not present)");
  EXPECT_EQ(w->SelectedPort(), 40);
  w->ConnectSelectedPort();
  ASSERT_TRUE(WaitFor([&] { return !w->worker().busy(); }, 10000));
  ASSERT_FALSE(messages_.isEmpty());
  EXPECT_TRUE(messages_.front().startsWith("COM40 cannot be opened.\n\nCOM40 is not in the port list"))
      << messages_.front().toStdString();

  // The simulator's port is chosen by its number, whatever its place in the list.
  ports->setCurrentIndex(ports->findText(QString::fromStdString(line.path()), Qt::MatchContains));
  EXPECT_EQ(w->SelectedPort(), w->context().ports.NumberOf(line.path()));
}

TEST_F(MainWindowTest, WithoutASaveFolderDayFilesAndFileDialogsUseTheRecordingFolder) {
  const QByteArray kept = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir_ / "xdg").string()));
  ViewerOptions options;
  options.store_path = dir_ / "data" / "store.sqlite";
  auto w = Open({"\"FileSavePath\"=\"\""}, options);
  qputenv("XDG_DATA_HOME", kept);
  const std::filesystem::path folder = dir_ / "xdg" / "norvane-data-viewer" / "recordings" / "";
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(w->context().recorder.name_prefix(), folder.string());
  QStringList starts;
  w->SetFileChooser([&](const FileRequest& request) {
    starts << request.default_name;
    return std::nullopt;
  });
  w->SetOptionsChooser([](const DownloadOptions& shown) { return shown; });
  w->LoadData();
  w->StartDownload();
  // Not the store's folder, among its journal files.
  ASSERT_EQ(starts.size(), 2);
  EXPECT_EQ(starts[0], QString::fromStdString(folder.string()));
  EXPECT_TRUE(starts[1].startsWith(QString::fromStdString(folder.string()))) << starts[1].toStdString();
}

TEST_F(MainWindowTest, TheAboutBoxNamesVersionLicenceAndTheFilesInUseAsSelectableText) {
  ViewerOptions options;
  options.store_path = dir_ / "data" / "store.sqlite";
  auto w = Open({}, options);
  w->Command(32781)->trigger();
  auto* box = w->findChild<QMessageBox*>("about");
  ASSERT_NE(box, nullptr);
  const QString text = box->text();
  EXPECT_TRUE(text.contains(QString("Version: ") + NORVANE_VERSION)) << text.toStdString();
  EXPECT_TRUE(text.contains("all rights reserved"));
  for (const std::filesystem::path& used :
       {dir_ / "settings.reg", dir_ / "data" / "", dir_.path() / "", options.store_path})
    EXPECT_TRUE(text.contains(QString::fromStdString(used.string()))) << used << "\n" << text.toStdString();
  EXPECT_TRUE(box->textInteractionFlags() & Qt::TextSelectableByMouse);
  box->close();
}

TEST_F(MainWindowTest, TheStatusLogStartsOverOnceItHasGrownPastHalfItsLimit) {
  auto w = Open();
  const std::string line(1000, 'x');
  for (int i = 0; i < 17; ++i) w->notifier().Status(line);
  EXPECT_GT(w->StatusLog().size(), 16000);
  w->notifier().Status("newest");
  EXPECT_EQ(w->StatusLog().trimmed(), "newest");
}

// A history image of `bytes` bytes: per-second counts, all of value `count`.
std::filesystem::path WriteImage(const TempDir& dir, const std::string& name, size_t bytes, uint8_t count) {
  const std::filesystem::path file = dir / name;
  std::ofstream(file, std::ios::binary) << std::string(bytes, static_cast<char>(count));
  return file;
}

TEST_F(MainWindowTest, LoadedDataScrollsAndTheFirstThirtyPositionsShowTheStart) {
  auto w = Open({"\"nLastGeigerCounterSelected\"=dword:00000004"});  // ZQT-100, 64 KiB
  const auto file = WriteImage(dir_, "h.bin", 65536, 7);
  w->SetFileChooser([&](const FileRequest& r) {
    EXPECT_EQ(r.kind, FileRequest::Kind::kOpen);
    return FileAnswer{file.string(), "binary files (*.bin)"};
  });
  w->LoadData();
  EXPECT_TRUE(w->StatusLog().contains("Data loaded!"));
  EXPECT_TRUE(w->Control(1173)->isEnabled());
  EXPECT_TRUE(w->Command(32794)->isEnabled());
  for (double p : {0.0, 15.0, 29.0}) {
    w->scroll_bar().SetPosition(p);
    w->Refill();
    EXPECT_EQ(w->context().data.window.position, 0u) << p;
  }
  w->scroll_bar().SetPosition(500);
  w->Refill();
  EXPECT_EQ(w->context().data.window.position, 500u);
  // Automatic scale: the largest value sits 91 pixels above the base line.
  EXPECT_EQ(w->canvas().picture().pixelColor(305, 72), QColor(0, 0, 255));
}

TEST_F(MainWindowTest, ARealtimeRecordingLoadsAndPlaysLikeADump) {
  auto w = Open({"\"nLastGeigerCounterSelected\"=dword:00000004"});
  const FixedClock clock(LocalTime{2026, 3, 7, 9, 5, 4});
  RealtimeSeries series(clock.Now());
  series.StartSession(clock.Now(), StampFromLocal(clock.ToLocal(clock.Now())));
  std::vector<uint32_t> counts;
  for (uint32_t i = 0; i < 600; ++i) counts.push_back(i % 5 == 0 ? 400 + i : i % 40);
  for (uint32_t c : counts) series.Append(c);
  const std::filesystem::path file = dir_ / "day.rbn";
  ASSERT_TRUE(WriteRealtimeBinary(file.string(), series, clock));

  w->SetFileChooser([&](const FileRequest& r) {
    EXPECT_NE(r.filter.find("*.rbn"), std::string_view::npos);
    EXPECT_NE(r.filter.find("*.bin"), std::string_view::npos);
    return FileAnswer{file.string(), ""};
  });
  w->LoadData();
  ASSERT_TRUE(w->StatusLog().contains("Data loaded!"));
  const HistoryWindow& shown = w->context().data.window;
  for (size_t i = 0; i < HistoryWindow::kSamples; ++i) EXPECT_EQ(shown.values[i], counts[i]) << i;
  EXPECT_TRUE(Text(*w, 1042).contains("09:05:")) << Text(*w, 1042).toStdString();

  for (int i = 0; i < 6; ++i) w->NextSpeed();  // x64
  w->Play();
  ASSERT_TRUE(WaitFor([&] { return shown.position > 100; }, 10000));
  EXPECT_TRUE(w->playing());
  w->StopPlayback();

  // A file that only carries the ending is refused with its reason, and the chart stays.
  const auto before = shown.values;
  std::ofstream(file, std::ios::binary) << std::string(100, '\x07');
  w->LoadData();
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_.front().contains("does not start with a time stamp")) << messages_.front().toStdString();
  EXPECT_EQ(shown.values, before);
}

TEST_F(MainWindowTest, SevenPressesOfTheSpeedButtonReturnToOneTimes) {
  auto w = Open();
  auto* speed = qobject_cast<QPushButton*>(w->Control(1176));
  QStringList captions;
  for (int i = 0; i < 7; ++i) {
    w->NextSpeed();
    captions << PlainCaption(speed->text());
  }
  EXPECT_EQ(captions, (QStringList{"x2", "x4", "x8", "x16", "x32", "x64", "x1"}));
}

TEST_F(MainWindowTest, PlaybackOfZerosEndsOnlyInEndOfDataMode) {
  for (const bool end_of_data : {true, false}) {
    auto w = Open({"\"nLastGeigerCounterSelected\"=dword:00000004",
                   std::string("\"Fast Download\"=dword:0000000") + (end_of_data ? "0" : "1")});
    const auto file = WriteImage(dir_, "zeros.bin", 65536, 0);
    w->SetFileChooser([&](const FileRequest&) { return FileAnswer{file.string(), "binary files (*.bin)"}; });
    w->LoadData();
    for (int i = 0; i < 6; ++i) w->NextSpeed();  // x64
    w->Play();
    EXPECT_TRUE(w->StatusLog().contains("Playing...."));
    QTest::qWait(200);
    EXPECT_EQ(w->playing(), !end_of_data) << end_of_data;
    EXPECT_EQ(w->StatusLog().contains("Play ended!"), end_of_data);
    if (!end_of_data) {
      EXPECT_GT(w->scroll_bar().Position(), 5.0);
      w->StopPlayback();
      EXPECT_TRUE(w->Control(1173)->isEnabled());
    }
  }
}

TEST_F(MainWindowTest, ConnectingToTheSimulatorIdentifiesIt) {
  SimulatedLine line("ZQT-120");
  ASSERT_TRUE(line.ok());
  ViewerOptions options;
  options.extra_ports = {line.path()};
  auto w = Open({}, options);
  auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
  const int number = ports->findText(QString::fromStdString(line.path()), Qt::MatchContains);
  ASSERT_GT(number, 0);
  ports->setCurrentIndex(number);
  w->ConnectSelectedPort();
  ASSERT_TRUE(WaitFor([&] { return !w->worker().busy(); }, 10000));
  EXPECT_TRUE(w->StatusLog().contains(QString("ZQT-120Re 4.09 detected on comport %1.").arg(number)));
  EXPECT_EQ(Text(*w, 1302), "Disconnect");
  EXPECT_EQ(Text(*w, 1168), "ZQT-120");
  EXPECT_EQ(w->context().state.family.load(), 4);
}

TEST_F(MainWindowTest, ADownloadThroughTheWindowShowsTheChartAndTheTimeLabel) {
  SimulatedLine line("ZQT-100");
  ASSERT_TRUE(line.ok());
  ViewerOptions options;
  options.extra_ports = {line.path()};
  auto w = Open({"\"nLastGeigerCounterSelected\"=dword:00000004"}, options);
  auto* ports = qobject_cast<QComboBox*>(w->Control(1169));
  ports->setCurrentIndex(ports->findText(QString::fromStdString(line.path()), Qt::MatchContains));
  w->ConnectSelectedPort();
  ASSERT_TRUE(WaitFor([&] { return !w->worker().busy(); }, 10000));

  w->SetOptionsChooser([](const DownloadOptions&) { return DownloadOptions{1, 100}; });
  const std::string target = (dir_ / "download").string();
  w->SetFileChooser([&](const FileRequest& r) {
    EXPECT_EQ(r.filter.substr(0, 24), "Both Files (BIN and CSV)");
    return FileAnswer{target, "binary files (*.bin)"};
  });
  w->StartDownload();
  ASSERT_TRUE(WaitFor([&] { return w->StatusLog().contains("Data saved into:") && !w->worker().busy(); }, 60000))
      << w->StatusLog().toStdString();
  EXPECT_EQ(std::filesystem::file_size(target + ".bin"), 65536u + 256u);
  EXPECT_NE(Text(*w, 1042), "No data loaded.");
  EXPECT_TRUE(QRegularExpression(R"(^20\d\d-\d\d-\d\d \d\d:\d\d:\d\d$)").match(Text(*w, 1042)).hasMatch())
      << Text(*w, 1042).toStdString();
  EXPECT_TRUE(w->Control(1173)->isEnabled());
  // The chart shows the downloaded samples, not the flat empty line.
  EXPECT_GT(w->context().data.window.sum, 0u);
}

TEST_F(MainWindowTest, DemoModeShowsCountsAndClosingAsksAboutUnsavedSeconds) {
  auto w = Open();
  w->ToggleDemo();
  EXPECT_TRUE(qobject_cast<QCheckBox*>(w->Control(1214))->isChecked());
  ASSERT_TRUE(WaitFor([&] { return QRegularExpression(R"(^CPM:\d+$)").match(Text(*w, 1043)).hasMatch(); }, 8000));
  EXPECT_TRUE(w->polling());
  EXPECT_FALSE(w->Control(1162)->isEnabled());  // no download while monitoring holds the port
  EXPECT_TRUE(WaitFor([&] { return w->context().recorder.recorded_seconds() >= 1; }, 4000));

  QStringList questions;
  w->SetCloseQuestion([&](const QString& text) {
    questions << text;
    return questions.size() == 1 ? CloseAnswer::kCancel : CloseAnswer::kYes;
  });
  w->close();
  EXPECT_TRUE(w->isVisible());
  ASSERT_EQ(questions.size(), 1);
  // The question says where Yes writes.
  EXPECT_EQ(questions[0], "Data file not saved yet.\n\nYes saves the recording in " +
                              QString::fromStdString(dir_.path().string()) + ".");
  w->close();
  EXPECT_FALSE(w->isVisible());
  int saved = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) saved += entry.path().extension() == ".rbn";
  EXPECT_EQ(saved, 1);
}

}  // namespace
}  // namespace norvane
