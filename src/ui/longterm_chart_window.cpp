#include "ui/longterm_chart_window.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QStyle>
#include <QSvgGenerator>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <cmath>
#include <set>

#include "core/chart/time_ticks.h"
#include "core/common/text_format.h"
#include "core/files/writer_options.h"
#include "core/i18n/window_texts.h"
#include "core/platform/store_location.h"
#include "core/store/poisson_interval.h"
#include "core/store/store_time.h"
#include "ui/file_types.h"
#include "ui/qt_notifier.h"
#include "ui/qt_language.h"
#include "ui/qt_text.h"

namespace norvane {
namespace {

// The window's own choices live in a key beside the program's settings.
constexpr char kChartKey[] = "Software\\Norvane Data Viewer\\Long-term Chart";
constexpr char kGeometryName[] = "Geometry";
constexpr char kUnitName[] = "Unit";
constexpr char kLogScaleName[] = "LogScale";
constexpr char kAverageName[] = "MovingAverage";
constexpr char kFollowName[] = "Follow";
constexpr char kHistoryName[] = "History";
constexpr char kHiddenName[] = "HiddenCounters";
constexpr char kViewSpanName[] = "ViewSpan";

constexpr int64_t kAverages[] = {0, 600, 3600, 86400};
constexpr int kAverageTexts[] = {kTextChartNoAverage, kTextChartTenMinuteAverage, kTextChartHourAverage,
                                 kTextChartDayAverage};
constexpr int64_t kSpans[] = {3600, 86400, 7 * 86400, 30 * 86400, 365 * 86400};
// Hour, day, week, month and year are the dictionary's oldest texts.
constexpr int kSpanTexts[] = {7, 8, 9, 10, 11, kTextChartAll};
constexpr int kSpanTips[] = {kTextChartLastHourTip,  kTextChartLastDayTip,  kTextChartLastWeekTip,
                             kTextChartLastMonthTip, kTextChartLastYearTip, kTextChartAllTip};
constexpr std::string_view kExportTypes =
    "CSV|*.csv|HTML|*.html;*.htm|Realtime Binary Files|*.rbn|Tidy JSON Lines, a row per second and record|*.jsonl|";
constexpr std::string_view kPictureTypes = "PNG|*.png|SVG|*.svg|";
// The counter list's glances are a day's verdict: read again this often, and when counters come.
constexpr int kGlanceEveryMs = 5 * 60 * 1000;
constexpr int kFailingRole = Qt::UserRole + 1;  // whether the item shows the quality mark

const QColor kPalette[] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xd0, 0x50, 0x10), QColor(0x20, 0x90, 0x40),
                           QColor(0x90, 0x30, 0xa0), QColor(0x80, 0x60, 0x20), QColor(0x10, 0x90, 0x90)};

// The min/max band, each column a solid run from its lowest to its highest value, at least a pixel
// tall so that a lone peak always shows. QCPErrorBars strokes each bar as cosmetic lines, a pixel
// at a time, which took two thirds of a replot of ten counters; a filled rectangle is a fill.
class ColumnBand final : public QCPErrorBars {
 public:
  using QCPErrorBars::QCPErrorBars;

 protected:
  void draw(QCPPainter* painter) override {
    QCPPlottableInterface1D* means = dataPlottable() ? dataPlottable()->interface1D() : nullptr;
    QCPAxis* keys = keyAxis();
    QCPAxis* values = valueAxis();
    if (!means || !keys || !values) return;
    const QRect area = clipRect();
    const QColor colour = pen().color();
    const int n = std::min(means->dataCount(), static_cast<int>(mDataContainer->size()));
    for (int i = 0; i < n; ++i) {
      const double mean = means->dataMainValue(i);
      if (std::isnan(mean)) continue;
      const int x = qRound(keys->coordToPixel(means->dataMainKey(i)));
      if (x < area.left() || x > area.right()) continue;
      const QCPErrorBarsData& e = mDataContainer->at(i);
      double low = values->coordToPixel(mean - e.errorMinus), high = values->coordToPixel(mean + e.errorPlus);
      if (!std::isfinite(low) || !std::isfinite(high)) continue;
      // Kept near the plot: a value far off the axis would overflow a pixel's int.
      low = std::clamp(low, area.top() - 1.0, area.bottom() + 1.0);
      high = std::clamp(high, area.top() - 1.0, area.bottom() + 1.0);
      const int top = qFloor(std::min(low, high)), bottom = qCeil(std::max(low, high));
      painter->fillRect(QRect(x, top, 1, std::max(1, bottom - top + 1)), colour);
    }
  }
};

QString Number(double value, int decimals) { return ToQString(FormatFixed(value, decimals)); }

// A column's mean and its band as the error bars draw it: distances below and above the mean.
void BandData(const chart::PlotColumns& c, bool log, QVector<double>& x, QVector<double>& mean, QVector<double>& neg,
              QVector<double>& pos) {
  const qsizetype n = static_cast<qsizetype>(c.time.size());
  x.resize(n), mean.resize(n), neg.resize(n), pos.resize(n);
  for (qsizetype i = 0; i < n; ++i) {
    x[i] = c.time[size_t(i)];
    double m = c.mean[size_t(i)];
    if (log && !(m > 0)) m = qQNaN();  // a log axis has no zero
    mean[i] = m;
    neg[i] = std::isnan(m) ? 0 : m - (log ? std::max(c.low[size_t(i)], m / 100) : c.low[size_t(i)]);
    pos[i] = std::isnan(m) ? 0 : c.high[size_t(i)] - m;
  }
}

}  // namespace

// The time axis' ticks come from the core, which places them on local calendar boundaries.
class LocalTimeTicker final : public QCPAxisTicker {
 public:
  explicit LocalTimeTicker(const Clock& clock) : clock_(clock) {}
  // Dates name their months as `locale` does ("8 Dez. 2026").
  void UseLocale(const QLocale& locale) {
    for (int m = 1; m <= 12; ++m) months_[size_t(m - 1)] = locale.monthName(m, QLocale::ShortFormat).toStdString();
  }
  void generate(const QCPRange& range, const QLocale&, QChar, int, QVector<double>& ticks, QVector<double>* sub_ticks,
                QVector<QString>* labels) override {
    ticks.clear();
    if (sub_ticks) sub_ticks->clear();
    if (labels) labels->clear();
    const auto from = static_cast<int64_t>(std::ceil(range.lower)), to = static_cast<int64_t>(std::floor(range.upper));
    for (const chart::Tick& tick : chart::TimeTicks(from, to, tickCount(), clock_, &months_)) {
      ticks.push_back(double(tick.time));
      if (labels) labels->push_back(ToQString(tick.label));
    }
  }

 private:
  const Clock& clock_;
  chart::MonthNames months_ = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
};

struct LongtermChartWindow::CounterGraphs {
  QCPGraph* mean = nullptr;
  QCPErrorBars* band = nullptr;
  QCPGraph* moving = nullptr;
  QCPGraph* history = nullptr;
  QCPErrorBars* history_band = nullptr;
  QCPGraph* notes = nullptr;
  std::vector<store::StoredNote> note_list;
};

LongtermChartWindow::LongtermChartWindow(std::filesystem::path store_path, std::filesystem::path settings_path,
                                         QWidget* parent)
    : QWidget(parent, Qt::Window),
      settings_path_(std::move(settings_path)),
      settings_store_(settings_path_),
      fetcher_(std::make_unique<LongtermFetcher>(store_path)),
      glance_fetcher_(std::make_unique<CounterGlanceFetcher>(std::move(store_path))) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  settings_ = settings_store_.Load();
  {
    QtNotifier notifier(this, [](const QString&) {});
    texts_.LoadAtStartUp(ReadLanguageFileSetting(settings_store_.Key()), notifier);
  }
  captions_.Bind(this, [this] { setWindowTitle(Text(kTextChartTitle)); });
  BuildWidgets();
  connect(fetcher_.get(), &LongtermFetcher::viewReady, this, &LongtermChartWindow::OnView);
  connect(fetcher_.get(), &LongtermFetcher::overviewReady, this, &LongtermChartWindow::OnOverview);
  connect(fetcher_.get(), &LongtermFetcher::statsReady, this, &LongtermChartWindow::OnStats);
  connect(fetcher_.get(), &LongtermFetcher::storeFailed, this, [this](const QString& m) {
    // The request that failed gets no answer: nothing may wait for it, or the polls would stop.
    overview_pending_ = false;
    stats_pending_ = false;
    store_failed_ = true;
    Say(status_, [m] { return m; });
  });
  connect(fetcher_.get(), &LongtermFetcher::exportDone, this,
          [this](const QString& m, bool) { Say(status_, [m] { return m; }); });
  connect(glance_fetcher_.get(), &CounterGlanceFetcher::glancesReady, this, &LongtermChartWindow::OnGlances);
  connect(glance_fetcher_.get(), &CounterGlanceFetcher::glancesFailed, this, [this] { glances_pending_ = false; });
  glance_timer_.setInterval(kGlanceEveryMs);
  connect(&glance_timer_, &QTimer::timeout, this, [this] { RequestGlances(); });
  glance_timer_.start();
  poll_timer_.setInterval(1000);
  connect(&poll_timer_, &QTimer::timeout, this, [this] { Poll(); });
  axis_replot_.setSingleShot(true);
  // As long as an input may take to show its data. Drawing the old data at the new range sooner
  // takes a core from the fetch on a two-core machine, and the data then waits for that paint.
  axis_replot_.setInterval(50);
  connect(&axis_replot_, &QTimer::timeout, this, [this] { plot_->replot(QCustomPlot::rpQueuedReplot); });
  settle_timer_.setSingleShot(true);
  settle_timer_.setInterval(600);
  connect(&settle_timer_, &QTimer::timeout, this, [this] {
    if (unsettled_from_ && !(*unsettled_from_ == view_)) {
      history_.Leave(*unsettled_from_);
      back_button_->setEnabled(history_.CanGoBack());
      forward_button_->setEnabled(history_.CanGoForward());
    }
    unsettled_from_.reset();
  });
  LoadChoices();
  const int64_t now = clock_.Now();
  view_ = {now - 86400, now};
  uint32_t span = 0;
  if (settings_store_.Key().ReadNumber(kViewSpanName, span) && span >= chart::kMinimumSpan) view_ = {now - span, now};
  settings_store_.Key().Close();
  overview_pending_ = true;
  fetcher_->RequestOverview(true);
  poll_timer_.start();
  UpdateAxes();
}

LongtermChartWindow::~LongtermChartWindow() = default;

void LongtermChartWindow::UseTexts(const LanguageDictionary& texts) {
  texts_ = texts;
  ticker_->UseLocale(LanguageLocale(texts));
  captions_.Refresh();
  for (const auto& [label, say] : said_) label->setText(say());
  UpdateCounterPanel();
  RequestView();  // the legend names its curves again
}

void LongtermChartWindow::Say(QLabel* label, std::function<QString()> say) {
  if (!say) {
    said_.erase(label);
    label->clear();
    return;
  }
  label->setText(say());
  said_[label] = std::move(say);
}

void LongtermChartWindow::BuildWidgets() {
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  layout->addLayout(bar);
  const auto button = [&](const QString& text, int tip, auto run) {
    auto* b = new QToolButton;
    b->setText(text);
    captions_.Tip(b, tip);
    connect(b, &QToolButton::clicked, this, run);
    bar->addWidget(b);
    return b;
  };
  back_button_ = button("<", kTextChartBackTip, [this] { GoBack(); });
  forward_button_ = button(">", kTextChartForwardTip, [this] { GoForward(); });
  back_button_->setEnabled(false);
  forward_button_->setEnabled(false);
  for (int i = 0; i < 6; ++i)
    captions_.Text(button({}, kSpanTips[i], [this, i] { ShowSpan(static_cast<Span>(i)); }), kSpanTexts[i]);
  follow_box_ = captions_.Tip(captions_.Text(new QCheckBox, kTextChartFollow), kTextChartFollowTip);
  connect(follow_box_, &QCheckBox::toggled, this, [this](bool on) { SetFollow(on); });
  bar->addWidget(follow_box_);
  unit_box_ = new QComboBox;
  unit_box_->addItems({"CPM", QString::fromUtf8("µSv/h")});
  bar->addWidget(unit_box_);
  log_box_ = captions_.Text(new QCheckBox, kTextChartLog);
  bar->addWidget(log_box_);
  average_box_ = new QComboBox;
  for (size_t i = 0; i < std::size(kAverageTexts); ++i) average_box_->addItem(QString());
  captions_.Bind(average_box_, [this] {
    for (int i = 0; i < average_box_->count(); ++i) average_box_->setItemText(i, Text(kAverageTexts[i]));
  });
  bar->addWidget(average_box_);
  history_box_ = captions_.Tip(captions_.Text(new QCheckBox, kTextChartDownloads), kTextChartDownloadsTip);
  history_box_->setChecked(true);
  bar->addWidget(history_box_);
  bar->addStretch();
  captions_.Text(button({}, kTextChartExportTip, [this] { ChooseExport(); }), kTextChartExport);
  captions_.Text(button({}, kTextChartPictureTip, [this] { ChoosePicture(); }), kTextChartPicture);
  for (QWidget* w : {static_cast<QWidget*>(unit_box_), static_cast<QWidget*>(average_box_)})
    connect(static_cast<QComboBox*>(w), &QComboBox::currentIndexChanged, this, [this] {
      UpdateAxes();
      UpdateCounterPanel();
      RequestView();
    });
  for (QCheckBox* box : {log_box_, history_box_})
    connect(box, &QCheckBox::toggled, this, [this] {
      UpdateAxes();
      RequestView();
    });

  // The keys belong to the plot: a click on a button, box or list of the bar leaves them there,
  // so the arrows, +/- and End go on moving the view (Tab still reaches every control).
  for (int i = 0; i < bar->count(); ++i)
    if (QWidget* w = bar->itemAt(i)->widget()) w->setFocusPolicy(Qt::TabFocus);
  for (QComboBox* box : {unit_box_, average_box_})
    connect(box, &QComboBox::activated, this, [this] { plot_->setFocus(Qt::OtherFocusReason); });

  auto* middle = new QHBoxLayout;
  layout->addLayout(middle, 1);
  plot_ = new QCustomPlot;
  plot_->setMinimumSize(480, 280);
  plot_->setNoAntialiasingOnDrag(true);
  plot_->setNotAntialiasedElements(QCP::aeAll);
  ticker_ = QSharedPointer<LocalTimeTicker>::create(clock_);
  plot_->xAxis->setTicker(ticker_);
  plot_->xAxis->ticker()->setTickCount(8);
  plot_->legend->setVisible(true);
  plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
  plot_->setMouseTracking(true);
  plot_->installEventFilter(this);
  plot_->setFocusPolicy(Qt::StrongFocus);
  selection_item_ = new QCPItemRect(plot_);
  selection_item_->setPen(QPen(QColor(0x60, 0x60, 0x60), 1, Qt::DashLine));
  selection_item_->setBrush(QColor(0xf0, 0xc0, 0x40, 60));
  selection_item_->setVisible(false);
  selection_item_->setLayer("grid");  // behind the curves it selects
  band_item_ = new QCPItemRect(plot_);
  band_item_->setPen(QPen(Qt::black, 1, Qt::DotLine));
  band_item_->setBrush(QColor(0x40, 0x80, 0xf0, 40));
  band_item_->setVisible(false);
  for (QCPItemRect* item : {selection_item_, band_item_}) {
    item->topLeft->setTypeY(QCPItemPosition::ptAxisRectRatio);
    item->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
    item->topLeft->setCoords(0, 0);
    item->bottomRight->setCoords(0, 1);
  }
  middle->addWidget(plot_, 1);
  // A centre's store holds hundreds of counters: the list is searched, not scrolled.
  auto* panel = new QVBoxLayout;
  counter_filter_ = new QLineEdit;
  counter_filter_->setObjectName("counterFilter");
  captions_.Bind(counter_filter_, [this] { counter_filter_->setPlaceholderText(Text(kTextChartFilter)); });
  counter_filter_->setClearButtonEnabled(true);
  captions_.Tip(counter_filter_, kTextChartFilterTip);
  counter_filter_->installEventFilter(this);
  connect(counter_filter_, &QLineEdit::textChanged, this, &LongtermChartWindow::FilterCounters);
  panel->addWidget(counter_filter_);
  counter_list_ = new QListWidget;
  counter_list_->setObjectName("counterList");
  counter_list_->setMinimumWidth(250);
  counter_list_->setMaximumWidth(320);
  counter_list_->setUniformItemSizes(true);
  captions_.Tip(counter_list_, kTextChartListTip);
  counter_list_->setFocusPolicy(Qt::TabFocus);
  connect(counter_list_, &QListWidget::itemChanged, this, [this] {
    if (selection_) SelectRange(selection_->from, selection_->to);
    RequestView();
  });
  panel->addWidget(counter_list_, 1);
  middle->addLayout(panel);

  readout_ = new QLabel(" ");
  readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(readout_);
  selection_label_ = new QLabel;
  Say(selection_label_, [this] { return Text(kTextChartHint); });
  selection_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  selection_label_->setWordWrap(true);
  layout->addWidget(selection_label_);
  status_ = new QLabel;
  layout->addWidget(status_);
}

void LongtermChartWindow::LoadChoices() {
  RegistryKey& key = settings_store_.Key();
  if (!key.Open(kChartKey)) {
    resize(1100, 650);
    return;
  }
  std::string geometry;
  if (key.ReadText(kGeometryName, geometry)) {
    int x, y, w, h;
    if (std::sscanf(geometry.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h) == 4 && w > 100 && h > 100)
      setGeometry(x, y, w, h);
  } else {
    resize(1100, 650);
  }
  uint32_t value = 0;
  if (key.ReadNumber(kUnitName, value)) unit_box_->setCurrentIndex(value == 1 ? 1 : 0);
  if (key.ReadNumber(kLogScaleName, value)) log_box_->setChecked(value == 1);
  if (key.ReadNumber(kAverageName, value) && value < std::size(kAverages)) average_box_->setCurrentIndex(int(value));
  if (key.ReadNumber(kHistoryName, value)) history_box_->setChecked(value == 1);
  if (key.ReadNumber(kFollowName, value)) follow_box_->setChecked(value == 1);
  std::string hidden;
  if (key.ReadText(kHiddenName, hidden)) counter_list_->setProperty("hidden", ToQString(hidden));
}

void LongtermChartWindow::SaveChoices() {
  RegistryKey& key = settings_store_.Key();
  if (!key.Create(kChartKey)) return;
  const QRect g = geometry();
  key.WriteText(kGeometryName, Format("%d,%d,%d,%d", g.x(), g.y(), g.width(), g.height()));
  key.WriteNumber(kUnitName, static_cast<uint32_t>(unit_box_->currentIndex()));
  key.WriteNumber(kLogScaleName, log_box_->isChecked() ? 1 : 0);
  key.WriteNumber(kAverageName, static_cast<uint32_t>(average_box_->currentIndex()));
  key.WriteNumber(kHistoryName, history_box_->isChecked() ? 1 : 0);
  key.WriteNumber(kFollowName, follow_box_->isChecked() ? 1 : 0);
  key.WriteNumber(kViewSpanName, static_cast<uint32_t>(std::min<int64_t>(view_.to - view_.from, UINT32_MAX)));
  QStringList hidden;
  for (int i = 0; i < counter_list_->count(); ++i)
    if (counter_list_->item(i)->checkState() != Qt::Checked) hidden << counter_list_->item(i)->data(Qt::UserRole).toString();
  key.WriteText(kHiddenName, hidden.join(',').toStdString());
  key.Close();
}

void LongtermChartWindow::closeEvent(QCloseEvent* event) {
  SaveChoices();
  poll_timer_.stop();
  event->accept();
}

std::vector<store::CounterId> LongtermChartWindow::ShownCounters() const {
  std::vector<store::CounterId> ids;
  for (int i = 0; i < counter_list_->count(); ++i)
    if (counter_list_->item(i)->checkState() == Qt::Checked)
      ids.push_back(counter_list_->item(i)->data(Qt::UserRole).toLongLong());
  return ids;
}

QString LongtermChartWindow::CounterName(store::CounterId id) const {
  const auto plain = [](const store::CounterInfo& info) {
    const std::string& name = info.name.empty() ? info.model : info.name;
    return name.empty() ? info.version : name;
  };
  for (const store::CounterRow& row : overview_.counters) {
    if (row.id != id) continue;
    const std::string name = plain(row.info);
    const bool shared = std::ranges::any_of(overview_.counters, [&](const store::CounterRow& other) {
      return other.id != id && plain(other.info) == name;
    });
    if (!shared) return ToQString(name);
    // Two counters of one model: told apart by their serial numbers' ends, else their ports.
    constexpr size_t kSerialShown = 8;
    const std::string& serial = row.info.serial;
    const std::string mark = !serial.empty() ? serial.substr(serial.size() - std::min(serial.size(), kSerialShown))
                             : !row.info.port.empty() ? row.info.port
                                                      : "#" + std::to_string(id);
    return ToQString(name + " (" + mark + ")");
  }
  return Text(kTextChartCounter).arg(id);
}

QColor LongtermChartWindow::CounterColour(store::CounterId id) const {
  return kPalette[static_cast<size_t>(id - 1) % std::size(kPalette)];
}

std::optional<chart::ViewRange> LongtermChartWindow::DataExtent() const {
  // Downloaded records are data as much as measured seconds, while they are shown.
  const bool downloads = history_box_->isChecked();
  std::optional<int64_t> first, last;
  const auto widen = [&](std::optional<int64_t> a, std::optional<int64_t> b) {
    if (a) first = first ? std::min(*first, *a) : *a;
    if (b) last = last ? std::max(*last, *b) : *b;
  };
  for (size_t i = 0; i < overview_.counters.size(); ++i) {
    widen(overview_.first[i], overview_.last[i]);
    if (downloads && overview_.downloads[i]) widen(overview_.downloads[i]->first, overview_.downloads[i]->last);
  }
  if (!last) return std::nullopt;
  return chart::ViewRange{first.value_or(*last), *last + 1};
}

void LongtermChartWindow::ShowSpan(Span span) {
  SetFollow(false);
  const std::optional<chart::ViewRange> data = DataExtent();
  if (span == Span::kAll) {
    bool first_known = false;
    for (const auto& f : overview_.first) first_known = first_known || f.has_value();
    for (const auto& d : overview_.downloads) first_known = first_known || d.has_value();
    if (!data || !first_known) {
      want_all_ = true;
      overview_pending_ = true;
      fetcher_->RequestOverview(true);
      return;
    }
    const int64_t margin = std::max<int64_t>(1, (data->to - data->from) / 100);
    ShowRange(data->from - margin, data->to + margin);
    return;
  }
  // The last hour, day... of the data: what was measured or downloaded last, else now.
  const int64_t end = data ? data->to : clock_.Now();
  ShowRange(end - kSpans[static_cast<int>(span)], end);
}

void LongtermChartWindow::ShowRange(int64_t from, int64_t to) {
  SetView({from, std::max(to, from + chart::kMinimumSpan)}, true);
}

void LongtermChartWindow::SetView(const chart::ViewRange& range, bool remember) {
  opened_ = true;  // a view chosen before the data is known stays
  if (range == view_) return;
  if (remember) {
    history_.Leave(unsettled_from_.value_or(view_));
    unsettled_from_.reset();
    settle_timer_.stop();
  } else if (!unsettled_from_) {
    unsettled_from_ = view_;
    settle_timer_.start();
  } else {
    settle_timer_.start();
  }
  view_ = range;
  back_button_->setEnabled(history_.CanGoBack() || unsettled_from_);
  forward_button_->setEnabled(history_.CanGoForward());
  plot_->xAxis->setRange(double(view_.from), double(view_.to));
  // The old data at the new range is drawn only if the new data is late: one replot instead of
  // two brings it to the screen sooner.
  if (!axis_replot_.isActive()) axis_replot_.start();
  RequestView();
}

void LongtermChartWindow::GoBack() {
  if (unsettled_from_) {
    history_.Leave(*unsettled_from_);
    unsettled_from_.reset();
  }
  if (const auto previous = history_.Back(view_)) {
    view_ = *previous;
    plot_->xAxis->setRange(double(view_.from), double(view_.to));
    plot_->replot(QCustomPlot::rpQueuedReplot);
    RequestView();
  }
  back_button_->setEnabled(history_.CanGoBack());
  forward_button_->setEnabled(history_.CanGoForward());
}

void LongtermChartWindow::GoForward() {
  if (const auto next = history_.Forward(view_)) {
    view_ = *next;
    plot_->xAxis->setRange(double(view_.from), double(view_.to));
    plot_->replot(QCustomPlot::rpQueuedReplot);
    RequestView();
  }
  back_button_->setEnabled(history_.CanGoBack());
  forward_button_->setEnabled(history_.CanGoForward());
}

void LongtermChartWindow::SetFollow(bool on) {
  if (follow_box_->isChecked() != on) {
    follow_box_->setChecked(on);  // comes back here through toggled
    return;
  }
  if (on) Poll();
}

void LongtermChartWindow::RequestView() {
  ViewRequest request;
  request.generation = ++generation_;
  request.counters = ShownCounters();
  request.from = view_.from;
  request.to = view_.to;
  request.columns = static_cast<size_t>(std::max(16, plot_->axisRect()->width()));
  request.average = kAverages[std::max(0, average_box_->currentIndex())];
  request.unit = unit_box_->currentIndex() == 1 ? chart::Unit::kUsvPerHour : chart::Unit::kCpm;
  request.conversion = settings_.calibration;
  request.history = history_box_->isChecked();
  fetcher_->RequestView(std::move(request));
}

bool LongtermChartWindow::Settled() const {
  return drawn_generation_ == generation_ && !overview_pending_ && !stats_pending_ && !glances_pending_;
}

void LongtermChartWindow::UpdateAxes() {
  const bool usv = unit_box_->currentIndex() == 1;
  plot_->yAxis->setLabel(usv ? QString::fromUtf8("µSv/h") : "CPM");
  if (log_box_->isChecked()) {
    plot_->yAxis->setScaleType(QCPAxis::stLogarithmic);
    plot_->yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>(new QCPAxisTickerLog));
  } else {
    plot_->yAxis->setScaleType(QCPAxis::stLinear);
    plot_->yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
  }
  plot_->xAxis->setRange(double(view_.from), double(view_.to));
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

void LongtermChartWindow::OnOverview(std::shared_ptr<const StoreOverview> overview) {
  overview_pending_ = false;
  if (store_failed_) {
    store_failed_ = false;
    Say(status_, nullptr);
  }
  // Keep the first seconds already known: polls ask only for the newest.
  std::vector<std::optional<int64_t>> first = overview->first;
  for (size_t i = 0; i < overview->counters.size(); ++i) {
    if (first[i]) continue;
    for (size_t j = 0; j < overview_.counters.size(); ++j)
      if (overview_.counters[j].id == overview->counters[i].id) first[i] = overview_.first[j];
  }
  const bool new_counters = overview->counters.size() != overview_.counters.size();
  overview_ = *overview;
  overview_.first = std::move(first);
  if (new_counters) {
    const QVariant saved = counter_list_->property("hidden");
    const QStringList hidden = saved.toString().split(',', Qt::SkipEmptyParts);
    size_t ticked = ShownCounters().size();
    QSignalBlocker block(counter_list_);
    for (size_t i = static_cast<size_t>(counter_list_->count()); i < overview_.counters.size(); ++i) {
      const store::CounterRow& row = overview_.counters[i];
      auto* item = new QListWidgetItem(CounterName(row.id), counter_list_);
      item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(row.id));
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      // Until the user has chosen, a store of many counters opens with as many ticked as have a
      // colour of their own: hundreds of curves at once say nothing.
      const bool tick = saved.isValid() ? !hidden.contains(QString::number(row.id)) : ticked < std::size(kPalette);
      ticked += tick ? 1 : 0;
      item->setCheckState(tick ? Qt::Checked : Qt::Unchecked);
      item->setForeground(CounterColour(row.id));
    }
    FilterCounters(counter_filter_->text());
    RequestGlances();
  }
  UpdateCounterPanel();
  if (overview_.counters.empty()) Say(status_, [this] { return Text(kTextChartStoreEmpty); });
  else if (status_->text() == Text(kTextChartStoreEmpty)) Say(status_, nullptr);
  if (want_all_) {
    want_all_ = false;
    bool known = false;
    for (const auto& f : overview_.first) known = known || f.has_value();
    for (const auto& d : overview_.downloads) known = known || d.has_value();
    if (known) {
      ShowSpan(Span::kAll);
      return;
    }
  }
  const std::optional<chart::ViewRange> data = DataExtent();
  if (!opened_ && data) {
    // The first view is the data's own span: the last day only when there is that much.
    opened_ = true;
    const int64_t span = view_.to - view_.from;
    if (data->to - data->from < span) {
      const int64_t margin = std::max<int64_t>(1, (data->to - data->from) / 100);
      SetView({data->from - margin, std::max(data->to + margin, data->from - margin + chart::kMinimumSpan)}, false);
    } else {
      SetView({data->to - span, data->to}, false);
    }
    unsettled_from_.reset();
    settle_timer_.stop();
    back_button_->setEnabled(false);
    if (!follow_box_->isChecked()) return;
  }
  if (follow_box_->isChecked() && data) {
    const int64_t last = data->to - 1;
    if (last + 1 > view_.to - 1) {
      // The newest second sits at the right edge; the span stays as it was.
      const int64_t span = view_.to - view_.from;
      const int64_t end = last + 1 + std::max<int64_t>(1, span / 50);
      view_ = {end - span, end};
      plot_->xAxis->setRange(double(view_.from), double(view_.to));
      RequestView();
      return;
    }
  }
  if (new_counters || drawn_generation_ == 0 || follow_box_->isChecked()) RequestView();
}

void LongtermChartWindow::UpdateCounterPanel() {
  // Each counter with its last minute's value, how much of the last day was measured and when it
  // was last seen: at a glance, which counters are live and sound. The rest is in its tip.
  QSignalBlocker block(counter_list_);
  const bool usv = unit_box_->currentIndex() == 1;
  for (int i = 0; i < counter_list_->count() && size_t(i) < overview_.counters.size(); ++i) {
    const store::CounterRow& row = overview_.counters[size_t(i)];
    QListWidgetItem* item = counter_list_->item(i);
    const auto found = glances_.find(row.id);
    const store::CounterGlance* glance = found == glances_.end() ? nullptr : &found->second;
    QStringList facts, tip;
    if (glance && glance->last_cpm)
      facts << (usv ? Number(store::DoseRate(settings_.calibration, *glance->last_cpm), 4) + QString::fromUtf8(" µSv/h")
                    : Number(*glance->last_cpm, 1) + " CPM");
    if (glance) facts << Text(kTextChartCoverage).arg(Number(100 * glance->coverage, 0));
    // When it was last seen takes a line of its own: beside the rest it runs past the panel's edge.
    QStringList lines{CounterName(row.id)};
    if (!facts.isEmpty()) lines << facts.join(QString::fromUtf8(" · "));
    if (const auto& last = overview_.last[size_t(i)])
      lines << Text(kTextChartSeen).arg(ToQString(chart::LocalText(*last, clock_)));
    const QString text = lines.join('\n');
    if (item->text() != text) item->setText(text);

    const QString version = ToQString(row.info.version);
    tip << (row.info.port.empty() ? version : Text(kTextChartOnPort).arg(version, ToQString(row.info.port)));
    if (!row.info.serial.empty()) tip << Text(kTextChartSerial).arg(ToQString(row.info.serial));
    if (const auto& d = overview_.downloads[size_t(i)])
      tip << Text(kTextChartDownloadedSpan)
                 .arg(ToQString(store::FormatTime(d->first, clock_).substr(0, 10)),
                      ToQString(store::FormatTime(d->last, clock_).substr(0, 10)));
    const bool failing = glance && glance->quality && !glance->quality->problems.empty();
    if (failing) {
      tip << Text(kTextChartQualityFails);
      for (const std::string& problem : glance->quality->problems) tip << "  " + ToQString(problem);
    } else if (glance && glance->quality) {
      tip << Text(kTextChartQualityPasses);
    }
    const QString tooltip = tip.join('\n');
    if (item->toolTip() != tooltip) item->setToolTip(tooltip);
    if (item->data(kFailingRole).toBool() != failing) {
      item->setData(kFailingRole, failing);
      item->setIcon(failing ? style()->standardIcon(QStyle::SP_MessageBoxWarning) : QIcon());
    }
  }
}

void LongtermChartWindow::RequestGlances() {
  if (glances_pending_ || overview_.counters.empty()) return;
  glances_pending_ = true;
  std::vector<store::CounterId> ids;
  for (const store::CounterRow& row : overview_.counters) ids.push_back(row.id);
  glance_fetcher_->Request(std::move(ids), clock_.Now());
}

void LongtermChartWindow::OnGlances(std::shared_ptr<const CounterGlances> glances) {
  glances_pending_ = false;
  for (const store::CounterGlance& glance : *glances) glances_[glance.counter] = glance;
  UpdateCounterPanel();
  if (glances->size() < overview_.counters.size()) RequestGlances();  // counters came while these were read
}

void LongtermChartWindow::FilterCounters(const QString& text) {
  const QString wanted = text.trimmed();
  for (int i = 0; i < counter_list_->count() && size_t(i) < overview_.counters.size(); ++i) {
    const store::CounterInfo& info = overview_.counters[size_t(i)].info;
    const QString searched = CounterName(overview_.counters[size_t(i)].id) + ' ' +
                             ToQString(info.name + ' ' + info.model + ' ' + info.version + ' ' + info.serial + ' ' +
                                       info.port + ' ' + info.device_path);
    counter_list_->setRowHidden(i, !wanted.isEmpty() && !searched.contains(wanted, Qt::CaseInsensitive));
  }
}

void LongtermChartWindow::Poll() {
  if (overview_pending_) return;
  overview_pending_ = true;
  fetcher_->RequestOverview(false);
}

void LongtermChartWindow::OnView(std::shared_ptr<const ViewData> data) {
  if (data->generation < drawn_generation_) return;
  drawn_generation_ = data->generation;
  shown_ = data;
  if (data->generation == generation_) axis_replot_.stop();  // this replot shows the range too
  const bool log = log_box_->isChecked();
  std::set<store::CounterId> present;
  for (const CounterView& view : data->counters) {
    present.insert(view.counter);
    auto& g = graphs_[view.counter];
    const QColor colour = CounterColour(view.counter);
    if (!g) {
      g = std::make_unique<CounterGraphs>();
      g->mean = plot_->addGraph();
      // Thin pens: a wider line is stroked as a polygon, which costs a frame its 16 ms on a jagged
      // day of seconds.
      g->mean->setPen(QPen(colour, 1));
      g->band = new ColumnBand(plot_->xAxis, plot_->yAxis);
      g->band->setDataPlottable(g->mean);
      g->band->setWhiskerWidth(0);
      // An opaque tint: blending a thousand translucent bars costs more than drawing them. Dark
      // enough that a one-minute peak, one column's line at a year's width, is seen.
      const QColor light((colour.red() + 2 * 255) / 3, (colour.green() + 2 * 255) / 3, (colour.blue() + 2 * 255) / 3);
      g->band->setPen(QPen(light, 1));
      g->band->removeFromLegend();
      g->moving = plot_->addGraph();
      g->moving->setPen(QPen(colour.darker(170), 1));
      g->history = plot_->addGraph();
      g->history->setPen(QPen(colour.lighter(140), 1, Qt::DashLine));
      // Downloaded peaks stand out in the counter's own colour: a single minute is one column's
      // line up to its value, even at a year's width.
      g->history_band = new ColumnBand(plot_->xAxis, plot_->yAxis);
      g->history_band->setDataPlottable(g->history);
      g->history_band->setWhiskerWidth(0);
      g->history_band->setPen(QPen(colour.lighter(130), 1));
      g->history_band->removeFromLegend();
      g->notes = plot_->addGraph();
      g->notes->setLineStyle(QCPGraph::lsNone);
      g->notes->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssTriangleInverted, colour.darker(130), colour, 9));
    }
    const QString name = CounterName(view.counter);
    g->mean->setName(name);
    g->moving->setName(name + " (" + average_box_->currentText() + ")");
    g->history->setName(Text(kTextChartDownloadedGraph).arg(name));
    g->notes->setName(Text(kTextChartNotesGraph).arg(name));
    const chart::PlotColumns& c = view.columns;
    QVector<double> x, mean, neg, pos;
    BandData(c, log, x, mean, neg, pos);
    g->mean->setData(x, mean, true);
    g->band->setData(neg, pos);
    g->band->setVisible(!c.raw);
    if (!c.moving.empty()) {
      g->moving->setData(x, QVector<double>(c.moving.begin(), c.moving.end()), true);
      g->moving->setVisible(true);
      g->moving->addToLegend();
    } else {
      g->moving->data()->clear();
      g->moving->setVisible(false);
      g->moving->removeFromLegend();
    }
    QVector<double> hx, hmean, hneg, hpos;
    BandData(view.history, log, hx, hmean, hneg, hpos);
    g->history->setData(hx, hmean, true);
    g->history_band->setData(hneg, hpos);
    const bool has_history = std::any_of(hmean.begin(), hmean.end(), [](double v) { return !std::isnan(v); });
    g->history->setVisible(has_history);
    g->history_band->setVisible(has_history);
    has_history ? (void)g->history->addToLegend() : (void)g->history->removeFromLegend();
    // Notes sit on the curve at their time, or on the axis where nothing was measured.
    QVector<double> note_x, note_y;
    for (const store::StoredNote& note : view.notes) {
      const double t = double(note.time);
      double y = 0;
      if (data->plan.count && !c.time.empty()) {
        const auto i = static_cast<size_t>(std::clamp<int64_t>((note.time - data->plan.from) / data->plan.step, 0,
                                                                int64_t(c.time.size()) - 1));
        const double on_history = i < view.history.mean.size() ? view.history.mean[i] : qQNaN();
        y = !std::isnan(c.mean[i]) ? c.mean[i] : !std::isnan(on_history) ? on_history : 0;
      }
      note_x << t;
      note_y << y;
    }
    g->notes->setData(note_x, note_y, true);
    g->note_list = view.notes;
    g->notes->setVisible(!view.notes.empty());
    view.notes.empty() ? (void)g->notes->removeFromLegend() : (void)g->notes->addToLegend();
    g->mean->setVisible(true);
  }
  for (auto& [id, g] : graphs_) {
    if (present.count(id)) continue;
    for (QCPGraph* graph : {g->mean, g->moving, g->history, g->notes}) {
      graph->setVisible(false);
      graph->removeFromLegend();
    }
    g->band->setVisible(false);
    g->history_band->setVisible(false);
  }
  // The value axis fits what is shown, bands included.
  bool found = false;
  QCPRange range;
  for (auto& [id, g] : graphs_) {
    if (!present.count(id)) continue;
    for (QCPAbstractPlottable* p : {static_cast<QCPAbstractPlottable*>(g->band), static_cast<QCPAbstractPlottable*>(g->history_band)}) {
      if (!p->visible()) continue;
      bool ok = false;
      const QCPRange r = p->getValueRange(ok, QCP::sdBoth, plot_->xAxis->range());
      if (ok) range = found ? QCPRange(std::min(range.lower, r.lower), std::max(range.upper, r.upper)) : r, found = true;
    }
    bool ok = false;
    const QCPRange r = g->mean->getValueRange(ok, QCP::sdBoth, plot_->xAxis->range());
    if (ok) range = found ? QCPRange(std::min(range.lower, r.lower), std::max(range.upper, r.upper)) : r, found = true;
  }
  if (found) {
    if (log) plot_->yAxis->setRange(std::max(range.lower * 0.8, 1e-3), std::max(range.upper * 1.25, 1e-2));
    else plot_->yAxis->setRange(std::min(0.0, range.lower), range.upper * 1.08 + (range.upper <= 0 ? 1 : 0));
  }
  plot_->replot(QCustomPlot::rpQueuedReplot);
  emit viewDrawn();
}

int64_t LongtermChartWindow::TimeAtPixel(double x) const {
  return static_cast<int64_t>(std::floor(plot_->xAxis->pixelToCoord(x)));
}

double LongtermChartWindow::PixelOfTime(int64_t time) const { return plot_->xAxis->coordToPixel(double(time)); }

QString LongtermChartWindow::ReadoutAt(int64_t time) const {
  QString text = ToQString(chart::LocalText(time, clock_));
  if (!shown_ || !shown_->plan.count) return text;
  const chart::ColumnPlan& plan = shown_->plan;
  if (time < plan.from || time >= plan.End()) return text;
  const auto i = static_cast<size_t>((time - plan.from) / plan.step);
  const bool usv = shown_->unit == chart::Unit::kUsvPerHour;
  const int decimals = usv ? 4 : 1;
  const QString unit = usv ? QString::fromUtf8("µSv/h") : "CPM";
  const auto band = [&](const chart::PlotColumns& c) {
    return Text(kTextChartBand)
        .arg(Number(c.mean[i], decimals), Number(c.low[i], decimals), Number(c.high[i], decimals), unit);
  };
  for (const CounterView& view : shown_->counters) {
    const chart::PlotColumns& c = view.columns;
    if (i >= c.mean.size()) continue;
    text += "    " + CounterName(view.counter) + ": ";
    const double m = c.mean[i];
    if (std::isnan(m)) {
      text += Text(kTextChartNotMeasured);
    } else if (c.raw) {
      // A single second: its count as stored, and the rate it stands for.
      const double cpm = usv ? 0 : m;
      text += usv ? QString("%1 µSv/h").arg(Number(m, 4))
                  : Text(kTextChartCounts).arg(qRound64(cpm / 60.0)).arg(qRound64(cpm));
    } else {
      text += band(c);
    }
    // Where both were recorded, both are told, each by its name.
    if (i < view.history.mean.size() && !std::isnan(view.history.mean[i]))
      text += "; " + Text(kTextChartDownloadedBand).arg(band(view.history));
  }
  return text;
}

void LongtermChartWindow::ShowReadout(double x) { readout_->setText(ReadoutAt(TimeAtPixel(x))); }

void LongtermChartWindow::ShowNoteTip(const QPoint& pos) {
  for (const auto& [id, g] : graphs_) {
    if (!g->notes->visible()) continue;
    for (const store::StoredNote& note : g->note_list) {
      if (std::abs(PixelOfTime(note.time) - pos.x()) > 5) continue;
      QToolTip::showText(plot_->mapToGlobal(pos),
                         CounterName(id) + ", " + ToQString(chart::LocalText(note.time, clock_)) + ": " + ToQString(note.text),
                         plot_);
      return;
    }
  }
  QToolTip::hideText();
}

void LongtermChartWindow::SelectRange(int64_t from, int64_t to) {
  if (to <= from) return;
  selection_ = chart::ViewRange{from, to};
  selection_stats_.reset();
  selection_downloads_.reset();
  UpdateSelectionItem();
  const auto counters = ShownCounters();
  if (counters.empty()) {
    Say(selection_label_, [this] { return Text(kTextChartTickCounter); });
    return;
  }
  stats_pending_ = true;
  fetcher_->RequestStats(++stats_generation_, counters.front(), from, to, settings_.calibration);
}

void LongtermChartWindow::OnStats(uint64_t generation, store::CounterId counter, store::Stats s,
                                  store::HistoryColumn downloads) {
  if (generation != stats_generation_ || !selection_) return;
  stats_pending_ = false;
  selection_stats_ = s;
  selection_downloads_ = downloads;
  Say(selection_label_, [this, counter, range = *selection_, s, downloads] {
    return StatsText(counter, range, s, downloads);
  });
}

QString LongtermChartWindow::StatsText(store::CounterId counter, chart::ViewRange range, const store::Stats& s,
                                       const store::HistoryColumn& downloads) const {
  QString text = Text(kTextChartRange)
                     .arg(CounterName(counter), ToQString(store::FormatTime(range.from, clock_)),
                          ToQString(store::FormatTime(range.to, clock_)));
  text += ' ' + Text(kTextChartMeasured).arg(s.measured_seconds).arg(Number(100 * s.coverage, 1));
  if (s.measured_seconds) {
    text += "; " + Text(kTextChartMeanCpm).arg(Number(s.mean_cpm, 3), Number(s.cpm_low, 3), Number(s.cpm_high, 3));
    if (s.max_cpm)
      text += "; " + Text(kTextChartMaxCpm).arg(*s.max_cpm).arg(ToQString(store::FormatTime(s.max_cpm_at, clock_)));
    text += "; " + Text(kTextChartMeanUsv).arg(Number(s.mean_usv_h, 4));
    if (s.max_usv_h) text += ", " + Text(kTextChartMaxUsv).arg(Number(*s.max_usv_h, 4));
    text += "; " + Text(kTextChartDose).arg(Number(s.dose_usv, 4));
  }
  if (downloads.records) {
    // Records count for their own length (a per-minute record is 60 s of counting), under the
    // same interval rule as seconds.
    const double seconds = downloads.seconds;
    const double per_count = 60.0 / seconds;
    const store::Interval interval = store::PoissonInterval95(static_cast<uint64_t>(std::llround(downloads.counts)));
    text += '\n' + Text(kTextChartDownloadedStats)
                .arg(downloads.records)
                .arg(qRound64(seconds))
                .arg(Number(100 * seconds / double(range.to - range.from), 1))
                .arg(Number(downloads.counts * per_count, 3), Number(interval.low * per_count, 3),
                     Number(interval.high * per_count, 3), Number(downloads.max_cpm, 0),
                     Number(store::DoseRate(settings_.calibration, downloads.counts * per_count), 4));
  }
  return text;
}

QString LongtermChartWindow::selection_text() const { return selection_label_->text(); }
QString LongtermChartWindow::status_text() const { return status_->text(); }

void LongtermChartWindow::UpdateSelectionItem() {
  selection_item_->setVisible(selection_.has_value());
  if (selection_) {
    selection_item_->topLeft->setCoords(double(selection_->from), 0);
    selection_item_->bottomRight->setCoords(double(selection_->to), 1);
  }
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

bool LongtermChartWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == counter_filter_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) {
      for (int i = 0; i < counter_list_->count(); ++i) {
        if (counter_list_->isRowHidden(i)) continue;
        counter_list_->setCurrentRow(i);
        counter_list_->setFocus(Qt::TabFocusReason);
        break;
      }
      return true;
    }
    if (key == Qt::Key_Escape) {
      counter_filter_->clear();
      plot_->setFocus(Qt::OtherFocusReason);
      return true;
    }
  }
  if (watched == plot_) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: MousePress(static_cast<QMouseEvent*>(event)); return true;
      case QEvent::MouseMove: MouseMove(static_cast<QMouseEvent*>(event)); return true;
      case QEvent::MouseButtonRelease: MouseRelease(static_cast<QMouseEvent*>(event)); return true;
      case QEvent::Wheel: Wheel(static_cast<QWheelEvent*>(event)); return true;
      case QEvent::KeyPress: keyPressEvent(static_cast<QKeyEvent*>(event)); return true;
      default: break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void LongtermChartWindow::MousePress(QMouseEvent* event) {
  drag_start_ = event->pos();
  drag_view_ = view_;
  const bool zoom = event->button() == Qt::RightButton || event->modifiers() & Qt::ControlModifier;
  drag_ = zoom ? Drag::kZoom : event->modifiers() & Qt::ShiftModifier ? Drag::kSelect : Drag::kPan;
  if (drag_ == Drag::kPan) SetFollow(false);
}

void LongtermChartWindow::MouseMove(QMouseEvent* event) {
  ShowReadout(event->pos().x());
  if (drag_ == Drag::kNone) {
    ShowNoteTip(event->pos());
    return;
  }
  if (drag_ == Drag::kPan) {
    const double width = std::max(1, plot_->axisRect()->width());
    SetView(chart::Pan(drag_view_, -(event->pos().x() - drag_start_.x()) / width), false);
    return;
  }
  band_item_->topLeft->setCoords(double(TimeAtPixel(std::min(drag_start_.x(), event->pos().x()))), 0);
  band_item_->bottomRight->setCoords(double(TimeAtPixel(std::max(drag_start_.x(), event->pos().x()))), 1);
  band_item_->setVisible(true);
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

void LongtermChartWindow::MouseRelease(QMouseEvent* event) {
  const Drag drag = drag_;
  drag_ = Drag::kNone;
  band_item_->setVisible(false);
  const int64_t a = TimeAtPixel(std::min(drag_start_.x(), event->pos().x()));
  const int64_t b = TimeAtPixel(std::max(drag_start_.x(), event->pos().x())) + 1;
  const bool moved = std::abs(event->pos().x() - drag_start_.x()) > 3;
  if (drag == Drag::kZoom && moved) {
    SetFollow(false);
    ShowRange(a, b);
  } else if (drag == Drag::kSelect && moved) {
    SelectRange(a, b);
  } else if (drag == Drag::kSelect || (drag == Drag::kPan && !moved && selection_)) {
    selection_.reset();
    selection_stats_.reset();
    selection_downloads_.reset();
    UpdateSelectionItem();
  }
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

void LongtermChartWindow::Wheel(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  const int64_t anchor = TimeAtPixel(event->position().x());
  if (notches > 0) SetFollow(false);
  SetView(chart::ZoomAbout(view_, anchor, std::pow(0.8, notches)), false);
}

void LongtermChartWindow::keyPressEvent(QKeyEvent* event) {
  const bool alt = event->modifiers() & Qt::AltModifier;
  const int64_t center = (view_.from + view_.to) / 2;
  switch (event->key()) {
    case Qt::Key_Left:
      if (alt) GoBack();
      else SetFollow(false), SetView(chart::Pan(view_, -0.1), false);
      break;
    case Qt::Key_Right:
      if (alt) GoForward();
      else SetView(chart::Pan(view_, 0.1), false);
      break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: SetFollow(false), SetView(chart::ZoomAbout(view_, center, 0.5), false); break;
    case Qt::Key_Minus: SetView(chart::ZoomAbout(view_, center, 2.0), false); break;
    case Qt::Key_Home:
      if (const auto data = DataExtent()) SetFollow(false), ShowRange(data->from, data->from + (view_.to - view_.from));
      break;
    case Qt::Key_End:
      if (const auto data = DataExtent()) ShowRange(data->to - (view_.to - view_.from), data->to);
      break;
    case Qt::Key_Backspace: GoBack(); break;
    default: QWidget::keyPressEvent(event); return;
  }
  event->accept();
}

void LongtermChartWindow::ExportSelection(const std::filesystem::path& file) {
  const auto counters = ShownCounters();
  if (!selection_ || counters.empty()) {
    Say(status_, [this] { return Text(kTextChartSelectFirst); });
    return;
  }
  WriterOptions options = MakeWriterOptions(settings_, settings_.calibration, texts_);
  for (const store::CounterRow& row : overview_.counters)
    if (row.id == counters.front()) options.model = row.info.model;
  Say(status_, [this] { return Text(kTextChartExporting); });
  fetcher_->RequestExport(counters.front(), selection_->from, selection_->to, file.string(), options, texts_);
}

bool LongtermChartWindow::SavePicture(const QString& file) {
  const int w = plot_->width(), h = plot_->height();
  bool ok = false;
  if (file.endsWith(".svg", Qt::CaseInsensitive)) {
    QSvgGenerator svg;
    svg.setFileName(file);
    svg.setSize(QSize(w, h));
    svg.setViewBox(QRect(0, 0, w, h));
    svg.setTitle(Text(kTextChartTitle));
    QCPPainter painter;
    ok = painter.begin(&svg);
    if (ok) {
      plot_->toPainter(&painter, w, h);
      ok = painter.end();
    }
  } else {
    ok = plot_->savePng(file, w, h);
  }
  // Saved (the dictionary's oldest word for it) or not, in the language of the moment.
  Say(status_, [this, ok, file] {
    return ok ? Text(kSavedTextEntry) + ' ' + file : Text(kTextChartCannotWrite).arg(file);
  });
  return ok;
}

void LongtermChartWindow::ChooseExport() {
  // A name without an ending gets the chosen type's, so the type decides, in any language.
  const FileTypes types(kExportTypes, texts_);
  QString chosen;
  const QString file =
      QFileDialog::getSaveFileName(this, Text(kTextChartExportCaption), QString(), types.shown().join(";;"), &chosen);
  if (!file.isEmpty()) ExportSelection(types.WithEnding(file, chosen).toStdString());
}

void LongtermChartWindow::ChoosePicture() {
  const FileTypes types(kPictureTypes, texts_);
  QString chosen;
  const QString file =
      QFileDialog::getSaveFileName(this, Text(kTextChartPictureCaption), QString(), types.shown().join(";;"), &chosen);
  if (!file.isEmpty()) SavePicture(types.WithEnding(file, chosen));
}

LongtermChartWindow* OpenLongtermChart(QWidget* parent, const std::filesystem::path& settings_path,
                                       const LanguageDictionary& texts) {
  if (auto* open = parent->findChild<LongtermChartWindow*>()) {
    open->show();
    open->raise();
    open->activateWindow();
    return open;
  }
  auto* window = new LongtermChartWindow(DefaultStorePath(), settings_path, parent);
  window->UseTexts(texts);
  window->show();
  return window;
}

}  // namespace norvane
