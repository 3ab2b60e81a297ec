// The main window and the port offscreen against the simulated counter: one device job at a
// time, a reply that names no counter, and a counter that goes away during a download.
#include <QAction>
#include <QCheckBox>
#include <QPushButton>

#include "core/serial/port_catalogue.h"
#include "core/store/store.h"
#include "tests/integration/simulated_line.h"
#include "tests/ui/main_window_fixture.h"

namespace norvane {
namespace {

using testing::SimulatedLine;

// A counter that sends at its line rate, so a download of its flash runs for a minute or more.
sim::CounterOptions Paced(std::string_view model) {
  sim::CounterOptions options = testing::CounterFor(model);
  options.pace = true;
  return options;
}

class MainWindowDeviceTest : public MainWindowTest {
 protected:
  // Starts downloading the whole flash and waits until it runs.
  bool StartWholeDownload(CMainViewerDlg& w) {
    w.SetOptionsChooser([](const DownloadOptions&) { return DownloadOptions{1, 100}; });
    const std::string target = (dir_ / "download").string();
    w.SetFileChooser([target](const FileRequest&) { return FileAnswer{target, "binary files (*.bin)"}; });
    w.StartDownload();
    return WaitFor([&] { return w.context().download.running() && !w.worker().busy(); }, 20000);
  }
};

TEST_F(MainWindowDeviceTest, NothingElseTalksToTheCounterWhileADownloadHasThePort) {
  SimulatedLine line(Paced("ZQT-400"));
  ASSERT_TRUE(line.ok());
  auto w = Connected(line.path());
  ASSERT_EQ(Text(*w, 1302), "Disconnect");
  ASSERT_TRUE(StartWholeDownload(*w));

  // Auto detect, Serial Port, the settings, terminal and configuration dialogs, screenshots.
  const int counter_commands[] = {32796, 32789, 32795, 32797, 32798, 32801, 32802, 32804, 32806};
  for (int id : counter_commands) EXPECT_FALSE(w->Command(id)->isEnabled()) << id;
  for (int id : {1302, 1168, 1169, 1175, 1214, 1162}) EXPECT_FALSE(w->Control(id)->isEnabled()) << id;
  // Commands reached some other way refuse and say why; the download goes on.
  const int model_before = w->context().state.selected_model;
  w->SelectModel(0);
  w->StartAutoDetect();
  EXPECT_EQ(w->context().state.selected_model, model_before);
  EXPECT_GE(messages_.filter("busy").size(), 2) << messages_.join("|").toStdString();
  EXPECT_TRUE(w->context().download.running());

  w->context().download.RequestStop();
  ASSERT_TRUE(WaitFor([&] { return !w->context().download.running() && !w->worker().busy() && w->Command(32798)->isEnabled(); },
                      20000));
  for (int id : counter_commands) EXPECT_TRUE(w->Command(id)->isEnabled()) << id;
  EXPECT_TRUE(w->Control(1302)->isEnabled());
}

// The viewer started on a port, as scripts/run starts it, with monitoring to resume: no "busy" box,
// and the seconds are filed under the counter that answered, never under the model's name.
TEST_F(MainWindowDeviceTest, StartingOnAPortConnectsAndResumesMonitoringOnTheCounterThatAnswered) {
  SimulatedLine line(Paced("ZQT-400"));
  ASSERT_TRUE(line.ok());
  ViewerOptions options;
  options.extra_ports = {line.path()};
  options.port = PortCatalogue::DiscoverMachine(options.extra_ports).NumberOf(line.path());
  options.store_path = dir_ / "store.sqlite";
  auto w = Open({"\"RealtimeMornitoring\"=dword:00000001", "\"LastGeigerCounterSelected\"=dword:00000000"},
                options);
  ASSERT_TRUE(WaitFor([&] { return w->context().data.realtime.measured_count() >= 3; }, 20000))
      << w->StatusLog().toStdString();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_EQ(Text(*w, 1302), "Disconnect");
  w.reset();
  store::Store store(dir_ / "store.sqlite");
  const std::vector<store::CounterRow> counters = store.Counters();
  ASSERT_EQ(counters.size(), 1u);
  EXPECT_EQ(counters[0].info.version, line.counter().version());
}

TEST_F(MainWindowDeviceTest, AReplyThatNamesNoCounterLeavesTheModelAlone) {
  sim::Faults faults;
  faults.silent = true;
  SimulatedLine line(testing::CounterFor("ZQT-100", faults));
  ASSERT_TRUE(line.ok());
  auto w = Connected(line.path(), {"\"nLastGeigerCounterSelected\"=dword:00000004"});
  EXPECT_TRUE(w->StatusLog().contains("Please try again!")) << w->StatusLog().toStdString();
  EXPECT_EQ(Text(*w, 1168), "ZQT-100");
  EXPECT_EQ(w->context().state.selected_model, 4);
}

TEST_F(MainWindowDeviceTest, ACounterLostDuringADownloadLeavesTheWindowDisconnected) {
  SimulatedLine line(Paced("ZQT-400"));
  ASSERT_TRUE(line.ok());
  auto w = Connected(line.path());
  ASSERT_EQ(Text(*w, 1302), "Disconnect");
  ASSERT_TRUE(StartWholeDownload(*w));
  line.Unplug();
  ASSERT_TRUE(WaitFor([&] { return !messages_.filter("was lost").isEmpty() && !w->worker().busy(); }, 60000))
      << w->StatusLog().toStdString();
  EXPECT_EQ(Text(*w, 1302), "Connect");
  EXPECT_FALSE(w->context().link.IsOpen());
  EXPECT_FALSE(w->context().state.port_open);
  EXPECT_TRUE(w->Control(1302)->isEnabled());
}

}  // namespace
}  // namespace norvane
