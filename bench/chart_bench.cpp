// The long-term chart's figures, on a live window over a generated store (offscreen unless a
// display is given, e.g. under xvfb-run). Every figure runs from the user's act to the data on
// screen: the paint that follows the drawing of the view's own data.
//   chart_bench STORE open    from the window's creation to the first paint of a year of all ten
//                             counters with their downloads
//   chart_bench STORE shots DIR  pictures of the window on the year and on a day, into DIR
//   chart_bench STORE frames  from each wheel notch and pan key to its data on screen, with ten
//                             counters and downloads shown, at every span from a year to a minute
//                             (the month and 38 days, the costliest, among them): mean, p95, max;
//                             the longest replot and the longest stall of the GUI thread
// STORE is made on the first run (several minutes): a year of 1 Hz seconds for two counters, 90
// days around mid-year for eight more, a year of downloaded per-minute records for the first, and
// a one-minute peak in its seconds and in its downloads.
#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <vector>

#include "core/history/record_stream.h"
#include "core/store/store.h"
#include "ui/longterm_chart_window.h"

namespace {

using norvane::LongtermChartWindow;
namespace store = norvane::store;

constexpr int64_t kStart = 1'767'225'600;  // 2026-01-01 00:00:00 UTC
constexpr int64_t kYear = 365 * 86400;
constexpr int kCounters = 10;
constexpr int64_t kLivePeak = kStart + 123 * 86400 + 13 * 3600 + 7 * 60;       // 500 a second
constexpr int64_t kDownloadedPeak = kStart + 250 * 86400 + 9 * 3600 + 41 * 60;  // 25755 CPM

// A year of per-minute records as a counter's flash holds them: a stamp each day, then its minutes.
std::vector<uint8_t> DownloadedYear() {
  std::vector<uint8_t> image;
  std::mt19937 rng(9);
  std::poisson_distribution<uint32_t> cpm(21.0);
  for (int64_t day = kStart; day < kStart + kYear; day += 86400) {
    std::tm t{};
    const std::time_t at = day;
    localtime_r(&at, &t);
    image.insert(image.end(), {norvane::kMarker0, norvane::kMarker1, norvane::kCodeStamp, uint8_t(t.tm_year - 100),
                               uint8_t(t.tm_mon + 1), uint8_t(t.tm_mday), uint8_t(t.tm_hour), uint8_t(t.tm_min),
                               uint8_t(t.tm_sec), norvane::kMarker0, norvane::kMarker1, norvane::kEveryMinute});
    for (int64_t m = day; m < day + 86400; m += 60) {
      const uint32_t v = m == kDownloadedPeak ? 25755 : cpm(rng);
      if (v < 255) image.push_back(uint8_t(v));
      else image.insert(image.end(), {norvane::kMarker0, norvane::kMarker1, norvane::kCodeValue2, uint8_t(v >> 8), uint8_t(v)});
    }
  }
  image.resize(0x100000, 0xFF);
  return image;
}

void Generate(const std::filesystem::path& path) {
  if (std::filesystem::exists(path)) return;
  std::fprintf(stderr, "generating %d counters' seconds and a downloaded year in %s...\n", kCounters, path.c_str());
  store::Store db(path);
  std::mt19937 rng(5);
  std::poisson_distribution<uint32_t> counts(0.35);
  for (int c = 0; c < kCounters; ++c) {
    const std::string model = "GC-" + std::string(1, char('A' + c));
    const store::CounterId id = db.RegisterCounter({model + " 1.0", "GC", model, "", ""}, kStart);
    const int64_t from = c < 2 ? kStart : kStart + kYear / 2 - 45 * 86400;
    const int64_t to = c < 2 ? kStart + kYear : kStart + kYear / 2 + 45 * 86400;
    std::vector<store::Second> day(86400);
    for (int64_t d = from; d < to; d += 86400) {
      for (int64_t s = 0; s < 86400; ++s)
        day[size_t(s)] = {d + s, c == 0 && d + s >= kLivePeak && d + s < kLivePeak + 60 ? 500u : counts(rng)};
      db.AppendSeconds(id, day);
    }
    if (c == 0) {
      const std::vector<uint8_t> image = DownloadedYear();
      norvane::SystemClock clock;
      db.ImportHistory(id, norvane::ImageView(image.data(), image.size()), clock);
    }
  }
}

// Waits as a user's window does, asleep until an event comes: a loop that spins would take a core
// from the chart's own threads and time the benchmark's polling rather than the chart.
template <typename Condition>
bool WaitFor(Condition condition, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  QTimer wake;  // so that the deadline is seen when nothing else happens
  wake.start(20);
  while (!condition()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
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

// Sorted copies of the samples: their mean, 95th percentile and largest.
struct Summary {
  double mean = 0, p95 = 0, max = 0;
};
Summary Summarise(std::vector<double> ms) {
  Summary s;
  if (ms.empty()) return s;
  std::sort(ms.begin(), ms.end());
  for (double v : ms) s.mean += v / double(ms.size());
  s.p95 = ms[std::min(ms.size() - 1, (ms.size() * 95 + 99) / 100 - 1)];
  s.max = ms.back();
  return s;
}

// Times from an act to the first paint after the data of the view it led to was drawn.
class DataOnScreen {
 public:
  explicit DataOnScreen(LongtermChartWindow& window) : window_(window) {
    window_.plot()->installEventFilter(&watch_);
    QObject::connect(&window_, &LongtermChartWindow::viewDrawn, [this] {
      const auto* shown = window_.shown();
      if (paints_at_data_ < 0 && shown && !shown->counters.empty() && shown->from == window_.view().from &&
          shown->to == window_.view().to)
        paints_at_data_ = watch_.paints;
    });
  }
  // Starts the clock when `act` is done; empty when the act left the view as it was.
  template <typename Act>
  std::optional<double> Time(Act act, const QElapsedTimer* since = nullptr) {
    QElapsedTimer timer;
    timer.start();
    const auto before = window_.view();
    paints_at_data_ = -1;
    act();
    if (window_.view() == before && !since) return std::nullopt;
    if (!WaitFor([&] { return paints_at_data_ >= 0 && watch_.paints > paints_at_data_; })) return std::nullopt;
    return double((since ? since : &timer)->nsecsElapsed()) / 1e6;
  }

 private:
  LongtermChartWindow& window_;
  PaintWatch watch_;
  int paints_at_data_ = -1;
};

// A window opens with as many counters ticked as it has colours; a user who wants all ten ticks
// the rest once, and the window remembers them. This does that and closes the window, so that the
// benchmarks' windows open on all ten.
bool TickEveryCounter(const std::filesystem::path& store_path, const std::filesystem::path& dir) {
  LongtermChartWindow window(store_path, dir / "settings.reg");
  window.show();
  auto* list = window.findChild<QListWidget*>("counterList");
  if (!WaitFor([&] { return window.Settled() && list->count() == kCounters; })) return false;
  for (int i = 0; i < list->count(); ++i) list->item(i)->setCheckState(Qt::Checked);
  window.close();
  return true;
}

int Open(const std::filesystem::path& store_path, const std::filesystem::path& dir) {
  QElapsedTimer created;
  created.start();
  LongtermChartWindow window(store_path, dir / "settings.reg");
  window.resize(1280, 720);
  DataOnScreen data(window);
  const auto ms = data.Time([&] {
    window.show();
    window.ShowRange(kStart, kStart + kYear);
  }, &created);
  if (!ms) return std::fprintf(stderr, "the year's data never reached the screen\n"), 1;
  std::printf("open: %.1f ms from the window's creation to the first paint of a year of %zu counters with "
              "downloads (%zu columns)\n",
              *ms, window.shown()->counters.size(), window.shown()->plan.count);
  return 0;
}

int Frames(const std::filesystem::path& store_path, const std::filesystem::path& dir) {
  LongtermChartWindow window(store_path, dir / "settings.reg");
  window.resize(1280, 720);
  window.show();
  std::vector<double> replot_ms;
  QObject::connect(window.plot(), &QCustomPlot::afterReplot, [&] { replot_ms.push_back(window.plot()->replotTime()); });
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
  if (!WaitFor([&] { return window.Settled() && window.shown() && window.shown()->counters.size() == kCounters; }))
    return std::fprintf(stderr, "the window never showed all %d counters\n", kCounters), 1;
  DataOnScreen data(window);
  ticker.start();
  last = beat.elapsed();
  const int64_t spans[] = {kYear, 38 * 86400, 30 * 86400, 7 * 86400, 86400, 3600, 600, 60};
  const int64_t middle = kStart + kYear / 2;
  std::printf("%-10s %7s %9s %9s %9s %10s %6s\n", "span", "inputs", "mean ms", "p95 ms", "max ms", "replot ms", "cols");
  std::vector<double> all;
  double worst_replot = 0;
  for (int64_t span : spans) {
    data.Time([&] { window.ShowRange(middle - span / 2, middle + span / 2); });
    WaitFor([&] { return window.Settled(); });
    replot_ms.clear();
    std::vector<double> input_ms;
    // Five wheel notches in and five out about the middle, then ten pan steps each way.
    const QPointF centre = window.plot()->axisRect()->center();
    for (int i = 0; i < 30; ++i) {
      const auto ms = data.Time([&] {
        if (i < 10) {
          QWheelEvent wheel(centre, window.plot()->mapToGlobal(centre), {}, QPoint(0, i < 5 ? 120 : -120),
                            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
          QApplication::sendEvent(window.plot(), &wheel);
        } else {
          QKeyEvent key(QEvent::KeyPress, i < 20 ? Qt::Key_Right : Qt::Key_Left, Qt::NoModifier);
          QApplication::sendEvent(window.plot(), &key);
        }
      });
      if (ms) input_ms.push_back(*ms);
      WaitFor([&] { return window.Settled(); });
    }
    QCoreApplication::processEvents();
    const Summary s = Summarise(input_ms);
    const double replot = replot_ms.empty() ? 0 : *std::max_element(replot_ms.begin(), replot_ms.end());
    worst_replot = std::max(worst_replot, replot);
    all.insert(all.end(), input_ms.begin(), input_ms.end());
    std::printf("%-10lld %7zu %9.1f %9.1f %9.1f %10.1f %6zu\n", static_cast<long long>(span), input_ms.size(), s.mean,
                s.p95, s.max, replot, window.shown()->plan.count);
  }
  ticker.stop();
  const Summary s = Summarise(all);
  std::printf("input to data on screen with %d counters: p95 %.1f ms, max %.1f ms; worst replot %.1f ms; "
              "longest stall of the GUI thread %lld ms\n",
              kCounters, s.p95, s.max, worst_replot, static_cast<long long>(stall));
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
  if (!TickEveryCounter(store_path, dir)) return std::fprintf(stderr, "the store's %d counters never came\n", kCounters), 1;
  const int code = what == "open"                  ? Open(store_path, dir)
                   : what == "frames"              ? Frames(store_path, dir)
                   : what == "shots" && argc == 4 ? Shots(store_path, dir, argv[3])
                                                   : 2;
  std::filesystem::remove_all(dir);
  return code;
}
