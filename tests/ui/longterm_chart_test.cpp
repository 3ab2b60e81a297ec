#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSet>
#include <QTest>
#include <QToolTip>
#include <qcustomplot.h>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <random>

#include "core/common/text_format.h"
#include "core/settings/settings_store.h"
#include "core/store/poisson_interval.h"
#include "core/store/store.h"
#include "core/store/store_chart_queries.h"
#include "core/store/store_time.h"
#include "sim/history_generator.h"
#include "tests/common/temp_dir.h"
#include "tests/integration/child_process.h"
#include "ui/longterm_chart_window.h"

namespace norvane {
namespace {

using store::Second;

constexpr int64_t kStart = 1'767'225'600;            // 2026-01-01 00:00:00 UTC
constexpr int64_t kYear = 365 * 86400;
constexpr int64_t kGapFrom = kStart + 100 * 86400;    // ten days without a second
constexpr int64_t kGapTo = kGapFrom + 10 * 86400;
constexpr int64_t kRiseFrom = kStart + 200 * 86400 + 12 * 3600;  // one hour at ten times the rate
constexpr int64_t kRiseTo = kRiseFrom + 3600;

template <typename Condition>
bool WaitFor(Condition condition, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// A year for two counters: a measured minute at the start of every hour (the rise hour whole),
// nothing in the gap, Poisson counts of about 0.3 a second, 10 a second in the rise.
class LongtermChartTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    store::Store db(*dir_ / "store.sqlite");
    const store::CounterId a = db.RegisterCounter({"GC-A 1.0", "GC", "GC-A", "/dev/ttyUSB0", ""}, kStart);
    const store::CounterId b = db.RegisterCounter({"GC-B 2.0", "GC", "GC-B", "/dev/ttyUSB1", ""}, kStart);
    std::mt19937 rng(17);
    std::poisson_distribution<uint32_t> background(0.3), high(10.0);
    for (store::CounterId id : {a, b}) {
      std::vector<Second> seconds;
      for (int64_t hour = kStart; hour < kStart + kYear; hour += 3600) {
        if (id == a && hour >= kGapFrom && hour < kGapTo) continue;
        const bool rise = hour == kRiseFrom;
        for (int64_t t = hour; t < hour + (rise ? 3600 : 60); ++t)
          seconds.push_back({t, rise && id == a ? high(rng) : background(rng)});
        if (seconds.size() > 200000) db.AppendSeconds(id, seconds), seconds.clear();
      }
      db.AppendSeconds(id, seconds);
    }
  }
  static void TearDownTestSuite() { delete dir_; }

  void SetUp() override {
    window_ = std::make_unique<LongtermChartWindow>(*dir_ / "store.sqlite", settings_.path() / "settings.reg");
    window_->resize(1200, 600);
    window_->show();
    ASSERT_TRUE(WaitFor([&] { return window_->Settled() && window_->shown(); }));
  }

  void Show(int64_t from, int64_t to) {
    window_->ShowRange(from, to);
    ASSERT_TRUE(WaitFor([&] { return window_->Settled() && window_->shown()->from == from; }));
  }

  const CounterView& CounterA() const { return window_->shown()->counters.front(); }

  static testing::TempDir* dir_;
  testing::TempDir settings_;
  std::unique_ptr<LongtermChartWindow> window_;
};
testing::TempDir* LongtermChartTest::dir_ = nullptr;

size_t ColumnOf(const ViewData& data, int64_t t) { return static_cast<size_t>((t - data.plan.from) / data.plan.step); }

TEST_F(LongtermChartTest, AllShowsTheYearWithGapsAsGapsAndTheRise) {
  window_->ShowSpan(LongtermChartWindow::Span::kAll);
  ASSERT_TRUE(WaitFor([&] { return window_->Settled() && window_->view().to - window_->view().from > kYear; }));
  const ViewData& data = *window_->shown();
  ASSERT_EQ(data.counters.size(), 2u);
  const chart::PlotColumns& a = CounterA().columns;
  EXPECT_GT(data.plan.step, 3600);
  // Every column inside the gap is a gap, the counter beside it is not.
  for (int64_t t = kGapFrom + data.plan.step; t < kGapTo - data.plan.step; t += data.plan.step) {
    EXPECT_TRUE(std::isnan(a.mean[ColumnOf(data, t)])) << t;
    EXPECT_FALSE(std::isnan(data.counters[1].columns.mean[ColumnOf(data, t)])) << t;
  }
  // The rise's column stands above all others, and its band reaches the busy minutes.
  const size_t rise = ColumnOf(data, kRiseFrom + 1800);
  double highest_other = 0;
  for (size_t i = 0; i < a.mean.size(); ++i)
    if (i != rise && !std::isnan(a.mean[i])) highest_other = std::max(highest_other, a.mean[i]);
  EXPECT_GT(a.mean[rise], 3 * highest_other);
  EXPECT_GT(a.high[rise], 150.0);
  // What is drawn is that data: the plot's mean graph has the NaN in the gap too.
  QCPGraph* mean = window_->plot()->graph(0);
  const auto it = mean->data()->findBegin(double(kGapFrom + 86400));
  ASSERT_NE(it, mean->data()->constEnd());
  EXPECT_TRUE(std::isnan(it->value));
}

TEST_F(LongtermChartTest, RubberBandToTheRiseThenSecondsShowTheStoredCounts) {
  Show(kRiseFrom - 6 * 3600, kRiseTo + 6 * 3600);
  // A right-button drag over the rise zooms to it.
  QCustomPlot* plot = window_->plot();
  const int y = plot->axisRect()->center().y();
  const QPoint a(int(window_->PixelOfTime(kRiseFrom)) + 1, y), b(int(window_->PixelOfTime(kRiseTo)), y);
  QTest::mousePress(plot, Qt::RightButton, {}, a);
  QMouseEvent move(QEvent::MouseMove, b, plot->mapToGlobal(b), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(plot, &move);
  QTest::mouseRelease(plot, Qt::RightButton, {}, b);
  ASSERT_TRUE(WaitFor([&] { return window_->Settled() && window_->shown()->from != kRiseFrom - 6 * 3600; }));
  const chart::ViewRange zoomed = window_->view();
  EXPECT_NEAR(double(zoomed.from), double(kRiseFrom), 60.0);
  EXPECT_NEAR(double(zoomed.to), double(kRiseTo), 60.0);
  // Back returns to the wider view, forward to the zoom.
  window_->GoBack();
  EXPECT_EQ(window_->view().from, kRiseFrom - 6 * 3600);
  window_->GoForward();
  EXPECT_EQ(window_->view(), zoomed);

  // Single seconds: every column is one stored second, the read-out gives its count.
  const int64_t from = kRiseFrom + 600;
  Show(from, from + 60);
  const ViewData& data = *window_->shown();
  EXPECT_EQ(data.plan.step, 1);
  store::Store db(*dir_ / "store.sqlite", store::Store::Access::kReadOnly);
  const auto seconds = db.ReadSeconds(1, from, from + 60);
  ASSERT_EQ(seconds.size(), 60u);
  for (const Second& s : seconds) {
    const size_t i = ColumnOf(data, s.time);
    EXPECT_DOUBLE_EQ(CounterA().columns.mean[i], 60.0 * s.count);
  }
  const Second chosen = seconds[17];
  EXPECT_TRUE(window_->ReadoutAt(chosen.time).contains(QString("GC-A: %1 counts").arg(chosen.count)))
      << window_->ReadoutAt(chosen.time).toStdString();
  // An unmeasured second says so.
  Show(kRiseTo + 100, kRiseTo + 160);
  EXPECT_TRUE(window_->ReadoutAt(kRiseTo + 130).contains("GC-A: not measured"));
}

TEST_F(LongtermChartTest, SelectionStatisticsEqualTheStoreAndAHandComputation) {
  Show(kRiseFrom - 3600, kRiseTo + 3600);
  store::Store db(*dir_ / "store.sqlite", store::Store::Access::kReadOnly);
  const Settings settings = SettingsStore(settings_.path() / "settings.reg").Load();
  // A range across the rise's end and some background hours.
  window_->SelectRange(kRiseFrom + 1234, kRiseTo + 2 * 3600 + 17);
  ASSERT_TRUE(WaitFor([&] { return window_->selection_stats().has_value(); }));
  const store::Stats expected = db.ComputeStats(1, kRiseFrom + 1234, kRiseTo + 2 * 3600 + 17, settings.calibration);
  const store::Stats shown = *window_->selection_stats();
  EXPECT_EQ(shown.measured_seconds, expected.measured_seconds);
  EXPECT_EQ(shown.counts, expected.counts);
  EXPECT_DOUBLE_EQ(shown.mean_cpm, expected.mean_cpm);
  EXPECT_DOUBLE_EQ(shown.cpm_low, expected.cpm_low);
  EXPECT_EQ(shown.max_cpm, expected.max_cpm);
  EXPECT_EQ(shown.max_cpm_at, expected.max_cpm_at);
  EXPECT_DOUBLE_EQ(shown.dose_usv, expected.dose_usv);
  EXPECT_TRUE(window_->selection_text().contains(QString("measured %1 s").arg(expected.measured_seconds)));

  // Two minutes of the rise by hand: the mean rate and the normal interval of a large count.
  const int64_t a = kRiseFrom + 300, b = a + 120;
  window_->SelectRange(a, b);
  ASSERT_TRUE(WaitFor([&] { return window_->Settled() && window_->selection_stats(); }));
  uint64_t sum = 0;
  for (const Second& s : db.ReadSeconds(1, a, b)) sum += s.count;
  ASSERT_GT(sum, 1000u);  // where the interval is n ± 1.96 √n
  const store::Stats small = *window_->selection_stats();
  EXPECT_EQ(small.measured_seconds, 120u);
  EXPECT_DOUBLE_EQ(small.coverage, 1.0);
  EXPECT_NEAR(small.mean_cpm, double(sum) / 2.0, 1e-9);
  EXPECT_NEAR(small.cpm_low, (double(sum) - 1.96 * std::sqrt(double(sum))) / 2.0, 0.01 * double(sum) / 2.0 * 0.01);
  EXPECT_NEAR(small.cpm_high, (double(sum) + 1.96 * std::sqrt(double(sum))) / 2.0, 0.01 * double(sum) / 2.0 * 0.01);
}

TEST_F(LongtermChartTest, ExportOfTheSelectionAndPicturesOfTheChart) {
  Show(kRiseFrom, kRiseTo);
  window_->SelectRange(kRiseFrom, kRiseFrom + 180);
  ASSERT_TRUE(WaitFor([&] { return window_->Settled(); }));
  testing::TempDir out;
  window_->ExportSelection(out / "rise.csv");
  ASSERT_TRUE(WaitFor([&] { return window_->status_text().startsWith("Wrote"); })) << window_->status_text().toStdString();
  const std::string csv = testing::ReadAll(out / "rise.csv");
  size_t rows = 0;
  for (size_t p = 0; (p = csv.find("\r\n", p)) != std::string::npos; p += 2) ++rows;
  EXPECT_GE(rows, 3u + 2u);  // two header lines and a row for each of the three minutes
  // A range with gaps cannot be a realtime binary: the message says why, and nothing is written.
  window_->SelectRange(kRiseTo - 60, kRiseTo + 3630);
  ASSERT_TRUE(WaitFor([&] { return window_->Settled(); }));
  window_->ExportSelection(out / "gappy.rbn");
  ASSERT_TRUE(WaitFor([&] { return window_->status_text().contains("has a gap"); })) << window_->status_text().toStdString();
  EXPECT_FALSE(std::filesystem::exists(out / "gappy.rbn"));

  ASSERT_TRUE(window_->SavePicture(QString::fromStdString((out / "chart.png").string())));
  ASSERT_TRUE(window_->SavePicture(QString::fromStdString((out / "chart.svg").string())));
  EXPECT_EQ(testing::ReadAll(out / "chart.png").substr(1, 3), "PNG");
  EXPECT_NE(testing::ReadAll(out / "chart.svg").find("<svg"), std::string::npos);
}

TEST(LongtermFollowTest, ASecondFromAnotherWriterAppearsWithinTwoSeconds) {
  testing::TempDir dir;
  store::Store writer(dir / "store.sqlite");
  const store::CounterId id = writer.RegisterCounter({"GC-F 1.0", "GC", "GC-F", "", ""}, 0);
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::vector<Second> minute;
  for (int64_t t = now - 60; t < now; ++t) minute.push_back({t, 1});
  writer.AppendSeconds(id, minute);
  LongtermChartWindow window(dir / "store.sqlite", dir / "settings.reg");
  window.show();
  window.ShowRange(now - 120, now);
  window.SetFollow(true);
  ASSERT_TRUE(WaitFor([&] { return window.Settled() && window.shown() && !window.shown()->counters.empty(); }));
  // The monitor records a second well past the view's end.
  const int64_t later = now + 300;
  writer.AppendSeconds(id, std::vector<Second>{{later, 42}});
  QElapsedTimer timer;
  timer.start();
  const auto drawn = [&] {
    const ViewData* data = window.shown();
    if (!data || data->counters.empty() || later < data->plan.from || later >= data->plan.End()) return false;
    const chart::PlotColumns& c = data->counters.front().columns;
    return c.mean[static_cast<size_t>((later - data->plan.from) / data->plan.step)] > 0;
  };
  ASSERT_TRUE(WaitFor(drawn, 2000));
  EXPECT_LE(timer.elapsed(), 2000);
  EXPECT_EQ(window.view().to - window.view().from, 120);
  EXPECT_TRUE(window.ReadoutAt(later).contains("42 counts"));
}

// `n` seconds of one count each from `from`.
void AppendOnes(store::Store& db, store::CounterId id, int64_t from, int64_t n) {
  std::vector<Second> seconds;
  for (int64_t t = from; t < from + n; ++t) seconds.push_back({t, 1});
  db.AppendSeconds(id, seconds);
}

// A counter's download beside its realtime seconds: the records are drawn at their own times with
// their own values, each note is a marker whose text shows on hover, and "Downloads" hides both.
TEST(LongtermHistoryTest, DownloadedRecordsAndNotesAreDrawnBesideTheSeconds) {
  testing::TempDir dir;
  store::Store db(dir / "store.sqlite");
  const store::CounterId id = db.RegisterCounter({"ZQT-400 9.9", "4", "ZQT-400", "/dev/ttyUSB0", ""}, 0);
  sim::HistoryOptions options;
  options.image_size = 0x10000;
  options.seed = 3;
  options.start = StampTime{26, 3, 20, 9, 15, 0};
  const std::vector<uint8_t> image = sim::GenerateHistory(options);
  SystemClock clock;
  ASSERT_GT(db.ImportHistory(id, ImageView(image.data(), image.size()), clock).notes, 0u);
  const std::vector<store::HistoryRecord> records = db.History(id, 0, INT64_MAX);
  const std::vector<store::StoredNote> notes = store::NotesBetween(db, id, 0, INT64_MAX);
  ASSERT_FALSE(notes.empty());
  // An hour that starts at a per-minute record, with realtime seconds in its first ten minutes.
  const auto minute = std::find_if(records.begin(), records.end(), [](const auto& r) { return r.save_type == kEveryMinute; });
  ASSERT_NE(minute, records.end());
  const int64_t from = minute->time, to = from + 3600;
  AppendOnes(db, id, from, 600);

  LongtermChartWindow window(dir / "store.sqlite", dir / "settings.reg");
  window.resize(1200, 600);
  window.show();
  const auto show = [&](int64_t a, int64_t b) {
    window.ShowRange(a, b);
    return WaitFor([&] { return window.Settled() && window.shown() && window.shown()->from == a; });
  };
  const auto graph = [&](const QString& ending) -> QCPGraph* {
    for (int i = 0; i < window.plot()->graphCount(); ++i)
      if (window.plot()->graph(i)->name().endsWith(ending)) return window.plot()->graph(i);
    return nullptr;
  };
  const auto points = [](QCPGraph* g) {
    std::map<int64_t, double> at;
    for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
      if (!std::isnan(it->value)) at.emplace(static_cast<int64_t>(it->key), it->value);
    return at;
  };
  ASSERT_TRUE(show(from, to));
  QCPGraph* downloaded = graph("(downloaded)");
  ASSERT_TRUE(downloaded);
  EXPECT_TRUE(downloaded->visible());
  // The realtime seconds are drawn too, where they were measured: 1 count a second.
  EXPECT_TRUE(window.ReadoutAt(from + 10).contains("mean 60.0")) << window.ReadoutAt(from + 10).toStdString();

  // Records with a time of their own (threshold records share their stamp's) are drawn with their
  // CPM in the columns they cover.
  std::map<int64_t, int> at_time;
  for (const store::HistoryRecord& r : records) ++at_time[r.time];
  const chart::ColumnPlan plan = window.shown()->plan;
  const std::map<int64_t, double> drawn = points(downloaded);
  size_t checked = 0;
  for (const store::HistoryRecord& r : records) {
    const int64_t length = store::RecordSeconds(r.save_type);
    if (r.time < from || r.time >= to || at_time[r.time] > 1 || length < 2 * plan.step) continue;
    // The column after the one the record starts in lies wholly inside the record.
    const int64_t column = (r.time - plan.from) / plan.step + 1;
    const auto middle = static_cast<int64_t>(double(plan.from + column * plan.step) + double(plan.step) / 2.0);
    ASSERT_TRUE(drawn.count(middle)) << "record at " << r.time - from << " s";
    EXPECT_NEAR(drawn.at(middle), length == 1 ? 60.0 * r.value : double(r.value), 1e-9) << r.time - from;
    ++checked;
  }
  EXPECT_GE(checked, 10u);

  // A note: its marker at its time, its text on hover.
  const store::StoredNote note = notes.front();
  ASSERT_FALSE(note.text.empty());
  ASSERT_TRUE(show(note.time - 1800, note.time + 1800));
  QCPGraph* markers = graph("(notes)");
  ASSERT_TRUE(markers);
  EXPECT_TRUE(markers->visible());
  EXPECT_TRUE(points(markers).count(note.time));
  const QPoint at(static_cast<int>(std::lround(window.PixelOfTime(note.time))), window.plot()->axisRect()->center().y());
  QMouseEvent move(QEvent::MouseMove, QPointF(at), window.plot()->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(window.plot(), &move);
  EXPECT_TRUE(QToolTip::text().contains(QString::fromStdString(note.text))) << QToolTip::text().toStdString();

  // "All" spans the downloaded days, not only the ten minutes of live seconds.
  window.ShowSpan(LongtermChartWindow::Span::kAll);
  ASSERT_TRUE(WaitFor([&] {
    return window.Settled() && window.view().from <= records.front().time && window.view().to > records.back().time;
  }));
  // The selection's statistics count each downloaded record for its own length.
  const int64_t end = records.back().time + 1;
  double covered = 0;
  for (const store::HistoryRecord& r : records) covered += double(std::min(r.time + store::RecordSeconds(r.save_type), end) - r.time);
  window.SelectRange(records.front().time, end);
  ASSERT_TRUE(WaitFor([&] { return window.Settled() && window.selection_downloads(); }));
  EXPECT_EQ(window.selection_downloads()->records, records.size());
  EXPECT_DOUBLE_EQ(window.selection_downloads()->seconds, covered);
  EXPECT_TRUE(window.selection_text().contains("Downloaded: ")) << window.selection_text().toStdString();

  // After a click on a box of the bar, or a choice in one of its lists, the keys still move the view.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  window.plot()->setFocus();
  QCheckBox* downloads = nullptr;
  for (QCheckBox* box : window.findChildren<QCheckBox*>())
    if (box->text() == "Downloads") downloads = box;
  ASSERT_TRUE(downloads);
  QTest::mouseClick(downloads, Qt::LeftButton);
  ASSERT_FALSE(downloads->isChecked());
  QComboBox* average = nullptr;  // the list of averages: End would choose its last
  for (QComboBox* box : window.findChildren<QComboBox*>())
    if (!average || box->count() > average->count()) average = box;
  ASSERT_GT(average->count(), 2);
  QTest::mouseClick(average, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return average->view()->isVisible(); }));
  QTest::keyClick(average->view(), Qt::Key_Down);
  QTest::keyClick(average->view(), Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return !average->view()->isVisible(); }));
  const int chosen = average->currentIndex();
  ASSERT_EQ(chosen, 1);
  ASSERT_TRUE(QApplication::focusWidget());
  const chart::ViewRange before = window.view();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
  EXPECT_GT(window.view().from, before.from);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
  EXPECT_EQ(average->currentIndex(), chosen);
  ASSERT_TRUE(WaitFor([&] { return window.Settled() && !graph("(downloaded)")->visible(); }));
  EXPECT_FALSE(graph("(notes)")->visible());
}

// A store of a few minutes opens on those minutes, not on a sliver at the right of a day.
TEST(LongtermOpenTest, TheFirstViewIsTheDataOwnSpan) {
  testing::TempDir dir;
  const int64_t start = std::time(nullptr) - 3 * 86400;
  {
    store::Store db(dir / "store.sqlite");
    AppendOnes(db, db.RegisterCounter({"GC-A 1.0", "GC", "GC-A", "/dev/ttyUSB0", ""}, start), start, 300);
  }
  LongtermChartWindow window(dir / "store.sqlite", dir / "settings.reg");
  window.resize(1200, 600);
  window.show();
  ASSERT_TRUE(WaitFor([&] { return window.Settled() && window.shown() && !window.shown()->counters.empty(); }));
  EXPECT_LE(window.view().from, start);
  EXPECT_GE(window.view().to, start + 300);
  EXPECT_LT(window.view().to - window.view().from, 400);
}

// Opened while monitoring makes the store: the chart says the store holds nothing yet, then shows
// the counter as soon as the store is made, and the status no longer tells of the failure.
TEST(LongtermFollowTest, AStoreBeingMadeIsWaitedForAndThenShown) {
  testing::TempDir dir;
  const auto path = dir / "store.sqlite";
  sqlite3* half_made = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &half_made), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(half_made, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(half_made);

  LongtermChartWindow window(path, dir / "settings.reg");
  window.show();
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  window.ShowRange(now - 120, now);
  window.SetFollow(true);
  ASSERT_TRUE(WaitFor([&] { return window.status_text().contains("holds nothing yet"); }, 3000))
      << window.status_text().toStdString();

  store::Store writer(path);
  const store::CounterId id = writer.RegisterCounter({"GC-M 1.0", "GC", "GC-M", "", ""}, now);
  std::vector<Second> seconds;
  for (int64_t t = now - 30; t < now; ++t) seconds.push_back({t, 7});
  writer.AppendSeconds(id, seconds);
  ASSERT_TRUE(WaitFor([&] { return window.ReadoutAt(now - 5).contains("7 counts"); }, 3000))
      << window.ReadoutAt(now - 5).toStdString() << " / " << window.status_text().toStdString();
  EXPECT_TRUE(window.status_text().isEmpty()) << window.status_text().toStdString();
}

#ifdef NORVANE_CLI_PATH
// The logging service as its own process, on the paced simulator: each second it reports is on
// the chart within 2 s of the report, with the count it reported.
TEST(LongtermFollowTest, SecondsOfARunningRecordAppearWithinTwoSeconds) {
  using namespace std::chrono_literals;
  testing::TempDir dir;
  testing::ChildCli simulator({"--model", "ZQT-400", "simulate", "--pace", "--cpm", "3000"});
  const std::string device = simulator.ReadLine(5s);
  ASSERT_FALSE(device.empty());
  const auto store_path = dir / "store.sqlite";
  testing::ChildCli record({"--settings", (dir / "settings.reg").string(), "--store", store_path.string(), "--model",
                            "ZQT-400", "--port", device, "record", "--echo"});
  ASSERT_FALSE(record.ReadLine(30s).empty()) << "record reported no second";

  LongtermChartWindow window(store_path, dir / "chart.reg");
  window.resize(1200, 600);
  window.show();
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  window.ShowRange(now - 60, now + 60);
  window.SetFollow(true);
  SystemClock clock;
  for (int i = 0; i < 4; ++i) {
    const std::string line = record.ReadLine(30s);
    ASSERT_FALSE(line.empty());
    QElapsedTimer timer;
    timer.start();
    std::string error;
    const std::optional<int64_t> t = store::ParseTime(line.substr(0, line.find(' ')), clock, &error);
    ASSERT_TRUE(t) << error;
    const QString count = QString::fromStdString(line.substr(line.find(' ') + 1)) + " counts";
    ASSERT_TRUE(WaitFor([&] { return window.ReadoutAt(*t).contains(count); }, 2000))
        << line << ": " << window.ReadoutAt(*t).toStdString() << " / " << window.status_text().toStdString();
    EXPECT_LE(timer.elapsed(), 2000);
  }
  record.Signal(SIGTERM);
  EXPECT_EQ(record.Wait(), 0);
}
#endif

TEST(LongtermChoicesTest, SizeUnitScaleAndAverageAreRememberedAndAMissingStoreIsSaid) {
  testing::TempDir dir;
  const auto settings = dir / "settings.reg";
  {
    LongtermChartWindow window(dir / "none.sqlite", settings);
    window.show();
    ASSERT_TRUE(WaitFor([&] { return window.Settled(); }));
    EXPECT_TRUE(window.status_text().contains("no counter yet")) << window.status_text().toStdString();
    window.setGeometry(40, 50, 1000, 600);
    window.findChildren<QComboBox*>()[0]->setCurrentIndex(1);  // µSv/h
    window.findChildren<QComboBox*>()[1]->setCurrentIndex(2);  // 1 h average
    for (QCheckBox* box : window.findChildren<QCheckBox*>())
      if (box->text() == "Log") box->setChecked(true);
    window.ShowRange(0, 7 * 86400);
    window.close();
  }
  LongtermChartWindow again(dir / "none.sqlite", settings);
  EXPECT_EQ(again.size(), QSize(1000, 600));
  EXPECT_EQ(again.findChildren<QComboBox*>()[0]->currentIndex(), 1);
  EXPECT_EQ(again.findChildren<QComboBox*>()[1]->currentIndex(), 2);
  EXPECT_EQ(again.view().to - again.view().from, 7 * 86400);
  EXPECT_EQ(again.plot()->yAxis->scaleType(), QCPAxis::stLogarithmic);
  // The program's own settings are left as they were.
  EXPECT_EQ(SettingsStore(settings).Load().cpm_color, Settings{}.cpm_color);
}

// A centre's store of 300 counters: part of a serial number typed into the filter narrows the list
// to its counter; Down and Space from there tick it, and it is drawn. A counter whose count stuck
// is marked with the reason in its tip and shows its last minute's value; a working one is not marked.
TEST(LongtermCounterPanelTest, TheFilterFindsOneOfManyCountersToTickAndAStuckOneIsMarked) {
  testing::TempDir dir;
  constexpr size_t kCounters = 300;
  constexpr uint32_t kStuck = 7;
  const int64_t start = std::time(nullptr) - 3600;
  std::vector<store::CounterId> ids;
  {
    store::Store db(dir / "store.sqlite");
    std::vector<store::CounterInfo> infos;
    for (size_t i = 0; i < kCounters; ++i) {
      store::CounterInfo info{"GC-N v" + std::to_string(i), "GC", "GC-N", "/dev/ttyUSB0", ""};
      info.serial = Format("5a%014zx", 0x1000 + i);
      infos.push_back(info);
    }
    ids = db.RegisterCounters(infos, start);
    std::mt19937 rng(3);
    std::poisson_distribution<uint32_t> counts(1.0);
    std::vector<Second> stuck;
    for (int64_t t = start; t < start + 1200; ++t) stuck.push_back({t, kStuck});
    db.AppendSeconds(ids.front(), stuck);
    for (size_t i = 1; i < kCounters; ++i) {
      std::vector<Second> seconds;
      for (int64_t t = start; t < start + 60; ++t) seconds.push_back({t, counts(rng)});
      db.AppendSeconds(ids[i], seconds);
    }
  }
  LongtermChartWindow window(dir / "store.sqlite", dir / "settings.reg");
  window.resize(1200, 600);
  window.show();
  auto* filter = window.findChild<QLineEdit*>("counterFilter");
  auto* list = window.findChild<QListWidget*>("counterList");
  ASSERT_TRUE(filter && list);
  ASSERT_TRUE(WaitFor([&] { return window.Settled() && window.shown() && list->count() == int(kCounters); }, 20000));
  ASSERT_TRUE(WaitFor([&] { return !list->item(0)->icon().isNull(); }, 20000));
  EXPECT_NE(list->item(0)->toolTip().indexOf("steadier than Poisson"), -1) << list->item(0)->toolTip().toStdString();
  EXPECT_NE(list->item(0)->text().indexOf(QString("%1.0 CPM").arg(kStuck * 60)), -1) << list->item(0)->text().toStdString();
  EXPECT_TRUE(list->item(1)->icon().isNull()) << list->item(1)->toolTip().toStdString();
  // Counters of one model are told apart by their serial numbers.
  QSet<QString> names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text().section('\n', 0, 0);
  EXPECT_EQ(names.size(), int(kCounters)) << list->item(0)->text().toStdString();

  const size_t wanted = 200;
  const auto drawn = [&] {
    if (!window.shown()) return false;
    for (const CounterView& view : window.shown()->counters)
      if (view.counter == ids[wanted]) return true;
    return false;
  };
  ASSERT_FALSE(drawn());
  QTest::keyClicks(filter, QString::fromStdString(Format("%zx", 0x1000 + wanted)));
  std::vector<int> visible;
  for (int i = 0; i < list->count(); ++i)
    if (!list->isRowHidden(i)) visible.push_back(i);
  ASSERT_EQ(visible, std::vector<int>{int(wanted)});
  QTest::keyClick(filter, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_EQ(list->item(int(wanted))->checkState(), Qt::Checked);
  EXPECT_TRUE(WaitFor([&] { return window.Settled() && drawn(); }, 10000));
}

}  // namespace
}  // namespace norvane
