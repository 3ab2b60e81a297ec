// The window's own figures, measured on a live window (offscreen unless a display is given):
//   window_bench launch    time from main() to the first painted window
//   window_bench playback  share of one core used by playback at "x64" over 20 s
//   window_bench stall     longest stall of the window's thread over 60 s of realtime monitoring
//                          against the simulated counter on a pseudo-terminal
// These run the event loop for seconds, so they are plain programs rather than microbenchmarks.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/realistic_image.h"
#include "sim/counter_model.h"
#include "sim/pty_transport.h"
#include "sim/simulated_counter.h"
#include "ui/main_window.h"
#include "ui/scroll_bar_ex.h"

namespace {

using norvane::CMainViewerDlg;
using norvane::FileAnswer;
using norvane::ViewerOptions;

std::filesystem::path Scratch() {
  auto dir = std::filesystem::temp_directory_path() / ("window_bench_" + std::to_string(QCoreApplication::applicationPid()));
  std::filesystem::create_directories(dir);
  return dir;
}

std::unique_ptr<CMainViewerDlg> OpenWindow(const std::filesystem::path& dir, ViewerOptions options = {},
                                           const std::string& extra_settings = "") {
  const auto settings = dir / "settings.reg";
  std::ofstream(settings) << "Windows Registry Editor Version 5.00\r\n\r\n"
                          << "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Settings]\r\n"
                          << extra_settings;
  options.settings_path = settings;
  auto window = std::make_unique<CMainViewerDlg>(std::move(options));
  window->notifier().SetMessageHandler([](const QString& text, const QString&) {
    std::fprintf(stderr, "message: %s\n", text.toStdString().c_str());
  });
  window->notifier().SetAskHandler([](const QString&, const QString&) { return false; });
  return window;
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

int Launch(QElapsedTimer& since_main) {
  const auto dir = Scratch();
  auto window = OpenWindow(dir);
  struct PaintSpy : QObject {
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) painted = true;
      return false;
    }
  } spy;
  window->installEventFilter(&spy);
  window->show();
  window->Initialise();
  while (!spy.painted) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  std::printf("launch: first paint %.1f ms after main()\n", since_main.nsecsElapsed() / 1e6);
  window->close();
  std::filesystem::remove_all(dir);
  return 0;
}

int Playback() {
  const auto dir = Scratch();
  const auto image = dir / "history.bin";
  const std::vector<uint8_t>& bytes = norvane::RealisticImage();
  std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  // A ZQT-LT keeps 2 MiB of history; "Fast Download" 1 plays on through all-zero windows.
  auto window = OpenWindow(dir, {}, "\"nLastGeigerCounterSelected\"=dword:00000005\r\n\"Fast Download\"=dword:00000001\r\n");
  window->show();
  window->Initialise();
  window->worker().WaitIdle();
  window->SetFileChooser([&](const norvane::FileRequest&) { return FileAnswer{image.string(), "binary files (*.bin)"}; });
  window->LoadData();
  for (int i = 0; i < 6; ++i) window->NextSpeed();
  window->Play();
  RunFor(1000);  // settle
  const double start_position = window->scroll_bar().Position();
  const std::clock_t cpu0 = std::clock();
  QElapsedTimer wall;
  wall.start();
  RunFor(20000);
  const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
  const double seconds = wall.nsecsElapsed() / 1e9;
  std::printf("playback x64: %.1f %% of one core (%.2f s CPU in %.2f s), %.0f bytes played, still playing: %s\n",
              100.0 * cpu / seconds, cpu, seconds, window->scroll_bar().Position() - start_position,
              window->playing() ? "yes" : "no");
  window->StopPlayback();
  window->close();
  std::filesystem::remove_all(dir);
  return 0;
}

int Stall() {
  const auto dir = Scratch();
  norvane::SystemClock clock;
  norvane::sim::CounterOptions counter_options;
  counter_options.model = norvane::sim::FindCounterModel("ZQT-400");
  counter_options.pace = true;
  norvane::sim::SimulatedCounter counter(counter_options, clock);
  std::string error;
  auto transport = norvane::sim::PtyTransport::Open(counter, &error);
  if (!transport || !transport->Start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  ViewerOptions options;
  options.extra_ports = {transport->device_path()};
  auto window = OpenWindow(dir, options);
  window->show();
  window->Initialise();
  window->worker().WaitIdle();
  const int port = window->context().ports.NumberOf(transport->device_path());
  window->SelectModel(0);
  qobject_cast<QComboBox*>(window->Control(1169))->setCurrentIndex(port);
  window->ConnectSelectedPort();
  window->worker().WaitIdle();
  qobject_cast<QCheckBox*>(window->Control(1175))->setChecked(true);
  window->ToggleRealtime();

  // A 5 ms heartbeat on the window's thread: any gap beyond it is time the thread was held.
  QElapsedTimer beat;
  beat.start();
  qint64 last = 0, worst = 0, worst_at = 0;
  QTimer heart;
  heart.setTimerType(Qt::PreciseTimer);
  QObject::connect(&heart, &QTimer::timeout, [&] {
    const qint64 now = beat.nsecsElapsed();
    if (last && now - last > worst) {
      worst = now - last;
      worst_at = now;
    }
    last = now;
  });
  heart.start(5);
  RunFor(60000);
  heart.stop();
  std::printf("stall: longest gap between 5 ms heartbeats %.1f ms (at %.1f s) during 60 s of monitoring; %u seconds recorded, polling: %s\n",
              worst / 1e6, worst_at / 1e9, window->context().recorder.recorded_seconds(), window->polling() ? "yes" : "no");
  window->SetCloseQuestion([](const QString&) { return norvane::CloseAnswer::kNo; });
  window->close();
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer since_main;
  since_main.start();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "launch") return Launch(since_main);
  if (mode == "playback") return Playback();
  if (mode == "stall") return Stall();
  std::fprintf(stderr, "usage: window_bench launch|playback|stall\n");
  return 2;
}
