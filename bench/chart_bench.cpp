// The long-term chart's figures, on a live window over a generated store (offscreen unless a
// display is given, e.g. under xvfb-run):
//   chart_bench STORE open    time from show() to the first paint of a year of one counter
//   chart_bench STORE shots DIR  pictures of the window on the year and on a day, into DIR
//   chart_bench STORE frames  replot time of each zoom and pan frame at every zoom from a year to a
//                             minute with two counters, and the longest stall of the GUI thread
// STORE is made on the first run: a year of 1 Hz seconds for two counters (a few minutes).
#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "core/store/store.h"
#include "ui/longterm_chart_window.h"

namespace {

using norvane::LongtermChartWindow;
namespace store = norvane::store;

constexpr int64_t kStart = 1'767'225'600;  // 2026-01-01 00:00:00 UTC
constexpr int64_t kYear = 365 * 86400;

void Generate(const std::filesystem::path& path) {
  if (std::filesystem::exists(path)) return;
  std::fprintf(stderr, "generating a year of seconds for two counters in %s...\n", path.c_str());
  store::Store db(path);
  std::mt19937 rng(5);
  std::poisson_distribution<uint32_t> counts(0.35);
  for (const char* model : {"GC-A", "GC-B"}) {
    const store::CounterId id = db.RegisterCounter({std::string(model) + " 1.0", "GC", model, "", ""}, kStart);
    std::vector<store::Second> day(86400);
    for (int64_t d = kStart; d < kStart + kYear; d += 86400) {
      for (int64_t s = 0; s < 86400; ++s) day[size_t(s)] = {d + s, counts(rng)};
      db.AppendSeconds(id, day);
    }
  }
}

template <typename Condition>
bool WaitFor(Condition condition, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Watches a widget's paint events.
class PaintWatch : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

int Open(const std::filesystem::path& store_path, const std::filesystem::path& dir) {
  // One counter: the second is hidden, as the window remembers it.
  std::ofstream(dir / "settings.reg") << "Windows Registry Editor Version 5.00\r\n\r\n"
                                      << "[HKEY_CURRENT_USER\\Software\\Norvane Data Viewer\\Long-term Chart]\r\n"
                                      << "\"HiddenCounters\"=\"2\"\r\n";
  LongtermChartWindow window(store_path, dir / "settings.reg");
  window.resize(1280, 720);
  PaintWatch watch;
  window.plot()->installEventFilter(&watch);
  // The paint count when the year's data is handed to the plot: the next paint shows it.
  int paints_at_data = -1;
  QObject::connect(&window, &LongtermChartWindow::viewDrawn, [&] {
    if (paints_at_data < 0) paints_at_data = watch.paints;
  });
  QElapsedTimer timer;
  timer.start();
  window.show();
  window.ShowRange(kStart, kStart + kYear);
  WaitFor([&] { return paints_at_data >= 0 && watch.paints > paints_at_data; });
  std::printf("open: first paint of a year with its data %lld ms after show (%zu columns)\n",
              static_cast<long long>(timer.elapsed()), window.shown() ? window.shown()->plan.count : 0);
  return 0;
}

int Frames(const std::filesystem::path& store_path, const std::filesystem::path& dir) {
  LongtermChartWindow window(store_path, dir / "settings.reg");
  window.resize(1280, 720);
  window.show();
  std::vector<double> frame_ms;
  QObject::connect(window.plot(), &QCustomPlot::afterReplot, [&] { frame_ms.push_back(window.plot()->replotTime()); });
  // The GUI thread's longest pause, seen by a 5 ms timer.
  QElapsedTimer beat;
  beat.start();
  qint64 last = 0, stall = 0;
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = beat.elapsed();
    stall = std::max(stall, now - last);
    last = now;
  });
  WaitFor([&] { return window.Settled() && window.shown(); });
  ticker.start();
  const int64_t spans[] = {kYear, 30 * 86400, 7 * 86400, 86400, 3600, 600, 60};
  const int64_t middle = kStart + kYear / 2;
  std::printf("%-10s %8s %8s %8s %6s\n", "span", "frames", "mean ms", "max ms", "cols");
  double worst = 0;
  for (int64_t span : spans) {
    window.ShowRange(middle - span / 2, middle + span / 2);
    WaitFor([&] { return window.Settled(); });
    frame_ms.clear();
    // Ten wheel notches in and out about the middle, then twenty pan steps each way.
    const QPointF centre = window.plot()->axisRect()->center();
    for (int i = 0; i < 20; ++i) {
      QWheelEvent wheel(centre, window.plot()->mapToGlobal(centre), {}, QPoint(0, i < 10 ? 120 : -120), Qt::NoButton,
                        Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(window.plot(), &wheel);
      WaitFor([&] { return window.Settled(); });
    }
    for (int i = 0; i < 40; ++i) {
      QKeyEvent key(QEvent::KeyPress, i < 20 ? Qt::Key_Right : Qt::Key_Left, Qt::NoModifier);
      QApplication::sendEvent(window.plot(), &key);
      WaitFor([&] { return window.Settled(); });
    }
    QCoreApplication::processEvents();
    double sum = 0, max = 0;
    for (double ms : frame_ms) sum += ms, max = std::max(max, ms);
    worst = std::max(worst, max);
    std::printf("%-10lld %8zu %8.2f %8.2f %6zu\n", static_cast<long long>(span), frame_ms.size(),
                frame_ms.empty() ? 0.0 : sum / double(frame_ms.size()), max, window.shown()->plan.count);
  }
  ticker.stop();
  std::printf("worst frame %.2f ms; longest stall of the GUI thread %lld ms\n", worst, static_cast<long long>(stall));
  return 0;
}

int Shots(const std::filesystem::path& store_path, const std::filesystem::path& dir, const std::filesystem::path& out) {
  LongtermChartWindow window(store_path, dir / "settings.reg");
  window.resize(1200, 640);
  window.show();
  window.ShowSpan(LongtermChartWindow::Span::kAll);
  WaitFor([&] { return window.Settled() && window.view().to - window.view().from > kYear; });
  // A selection shows its statistics under the chart.
  window.SelectRange(kStart + 150 * 86400, kStart + 180 * 86400);
  WaitFor([&] { return window.Settled() && window.selection_stats(); });
  QCoreApplication::processEvents();
  bool ok = window.grab().save(QString::fromStdString((out / "longterm_year.png").string()));
  const int64_t day = kStart + 200 * 86400 - 3600;  // a local day in summer (UTC+1 and more)
  window.ShowRange(day, day + 86400);
  WaitFor([&] { return window.Settled(); });
  window.SelectRange(day + 9 * 3600, day + 12 * 3600);
  WaitFor([&] { return window.Settled() && window.selection_stats(); });
  QCoreApplication::processEvents();
  ok = window.grab().save(QString::fromStdString((out / "longterm_day.png").string())) && ok;
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: chart_bench STORE open|frames|shots DIR\n");
    return 2;
  }
  const std::filesystem::path store_path = argv[1];
  Generate(store_path);
  const auto dir = std::filesystem::temp_directory_path() / ("chart_bench_" + std::to_string(QCoreApplication::applicationPid()));
  std::filesystem::create_directories(dir);
  const std::string what = argv[2];
  const int code = what == "open"                  ? Open(store_path, dir)
                   : what == "frames"              ? Frames(store_path, dir)
                   : what == "shots" && argc == 4 ? Shots(store_path, dir, argv[3])
                                                   : 2;
  std::filesystem::remove_all(dir);
  return code;
}
