// The main window and the port offscreen against the simulated counter: one device job at a
// time, a reply that names no counter, a counter that goes away during a download, and
// monitoring that outlives the tools, its box and an unplug.
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QCheckBox>
#include <QPushButton>

#include "core/common/clock.h"
#include "core/serial/port_catalogue.h"
#include "core/store/store.h"
#include "sim/pty_transport.h"
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

TEST_F(MainWindowDeviceTest, MonitoringKeepsItsRecordingThroughAToolItsBoxAndAnUnplug) {
  SystemClock clock;
  sim::SimulatedCounter counter(Paced("ZQT-400"), clock);
  // The counter's stable name, as /dev/serial/by-id gives one: it comes back there after an unplug.
  const std::filesystem::path device = dir_ / "ttyZQT";
  std::string error;
  const auto plug = [&] {
    std::unique_ptr<sim::PtyTransport> t = sim::PtyTransport::Open(counter, &error, device);
    if (t && !t->Start(&error)) t.reset();
    return t;
  };
  std::unique_ptr<sim::PtyTransport> transport = plug();
  ASSERT_TRUE(transport) << error;
  ViewerOptions options;
  options.store_path = dir_ / "store.sqlite";
  auto w = Connected(device.string(), {}, options);
  auto* box = qobject_cast<QCheckBox*>(w->Control(1175));
  const auto recorded = [&] { return w->context().recorder.recorded_seconds(); };
  const auto grows = [&](uint32_t by) {
    const uint32_t from = recorded();
    return WaitFor([&] { return recorded() >= from + by; }, 20000);
  };
  box->click();
  ASSERT_TRUE(grows(3)) << w->StatusLog().toStdString();

  // A screenshot borrows the port; the pause is told as a gap and the same recording goes on.
  w->SetFileChooser([&](const FileRequest&) { return FileAnswer{(dir_ / "screen").string(), "bmp files (*.bmp)"}; });
  w->Command(32801)->trigger();
  ASSERT_TRUE(WaitFor([&] { return messages_.contains("Screenshot Saved."); }, 20000)) << messages_.join("|").toStdString();
  ASSERT_TRUE(grows(2));
  EXPECT_TRUE(w->StatusLog().contains("those seconds are a gap")) << w->StatusLog().toStdString();

  // Unticked, polling stops and the recording stays; ticked again, it grows from there.
  box->click();
  w->worker().WaitIdle();
  QCoreApplication::processEvents();
  const uint32_t kept = recorded();
  EXPECT_GE(kept, 5u);
  box->click();
  ASSERT_TRUE(WaitFor([&] { return recorded() >= kept + 2; }, 20000));

  // Unplugged: noticed within seconds, told in the log and not in a box, and found again.
  transport.reset();
  ASSERT_TRUE(WaitFor([&] { return w->StatusLog().contains("Counter lost"); }, 3000)) << w->StatusLog().toStdString();
  transport = plug();
  ASSERT_TRUE(transport) << error;
  ASSERT_TRUE(grows(2)) << w->StatusLog().toStdString();
  EXPECT_TRUE(messages_ == QStringList{"Screenshot Saved."}) << messages_.join("|").toStdString();
  const uint32_t total = recorded();
  w.reset();
  // Every second the window recorded went into the store first, all under the one counter.
  store::Store store(dir_ / "store.sqlite");
  const std::vector<store::CounterRow> counters = store.Counters();
  ASSERT_EQ(counters.size(), 1u);
  const int64_t now = clock.Now();
  EXPECT_GE(store.ComputeStats(counters[0].id, now - 3600, now + 60, {}).measured_seconds, total);
}

TEST_F(MainWindowDeviceTest, AnAlarmShowsAsABannerUnderTheReadingsAndInTheLog) {
  SimulatedLine line(Paced("ZQT-400"));
  ASSERT_TRUE(line.ok());
  // A fixed threshold any background is above: the first measured seconds raise it.
  auto w = Connected(line.path(), {"\"AlarmUsvH\"=\"0.0001\""});
  qobject_cast<QCheckBox*>(w->Control(1175))->click();
  ASSERT_TRUE(WaitFor([&] { return w->StatusLog().contains("Alarm: "); }, 20000)) << w->StatusLog().toStdString();
  EXPECT_TRUE(w->StatusLog().contains("at or above the fixed threshold of 0.000 µSv/h")) << w->StatusLog().toStdString();
  EXPECT_TRUE(Text(*w, 1040).startsWith("Alarm: ")) << Text(*w, 1040).toStdString();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  // At the window's default width the banner is wrapped whole, not cut.
  auto* banner = qobject_cast<QLabel*>(w->Control(1040));
  QCoreApplication::processEvents();
  EXPECT_TRUE(banner->wordWrap());
  EXPECT_GE(banner->height(), banner->heightForWidth(banner->width())) << banner->text().toStdString();
  // Unplugged under the banner: the window says so and shows no reading it no longer has.
  line.Unplug();
  ASSERT_TRUE(WaitFor([&] { return Text(*w, 1040).contains("The counter is lost"); }, 20000))
      << Text(*w, 1040).toStdString();
  EXPECT_TRUE(Text(*w, 1040).startsWith("Alarm: "));
  EXPECT_EQ(Text(*w, 1043), "CPM:-");
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
