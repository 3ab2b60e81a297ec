// The long-term chart window: months of the store at a glance, zoom to the second, range statistics.
#pragma once

#include <QColor>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "core/chart/view_history.h"
#include "core/common/clock.h"
#include "core/i18n/language_dictionary.h"
#include "core/settings/settings_store.h"
#include "ui/captions.h"
#include "ui/counter_glance_fetcher.h"
#include "ui/longterm_fetcher.h"

class QCheckBox;
class QComboBox;
class QCPGraph;
class QCPErrorBars;
class QCPItemRect;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QListWidget;
class QMouseEvent;
class QWheelEvent;
class QToolButton;

namespace norvane {

class LocalTimeTicker;

class LongtermChartWindow : public QWidget {
  Q_OBJECT

 public:
  LongtermChartWindow(std::filesystem::path store_path, std::filesystem::path settings_path, QWidget* parent = nullptr);
  ~LongtermChartWindow() override;

  // Speaks the language of `texts` from now on: the main window's, when the user changes it there.
  // On its own the window speaks the language the settings name.
  void UseTexts(const LanguageDictionary& texts);

  // What the buttons, keys and mouse do, callable directly.
  enum class Span { kHour, kDay, kWeek, kMonth, kYear, kAll };
  void ShowSpan(Span span);
  void ShowRange(int64_t from, int64_t to);  // a new view: the present one goes on the back list
  void GoBack();
  void GoForward();
  void SetFollow(bool on);
  void SelectRange(int64_t from, int64_t to);
  void ExportSelection(const std::filesystem::path& file);
  bool SavePicture(const QString& file);  // .png or .svg by the name's ending

  // The time under a horizontal pixel of the plot, and what the read-out says there.
  QString ReadoutAt(int64_t time) const;
  int64_t TimeAtPixel(double x) const;
  double PixelOfTime(int64_t time) const;

  chart::ViewRange view() const { return view_; }
  // What is drawn now: the view the data was made for and the data itself.
  const ViewData* shown() const { return shown_.get(); }
  bool Settled() const;  // no view, overview, statistics or counter glances on its way
  std::optional<store::Stats> selection_stats() const { return selection_stats_; }
  // The downloaded records in the selection: their number, counts and the seconds they cover.
  std::optional<store::HistoryColumn> selection_downloads() const { return selection_downloads_; }
  QString selection_text() const;
  QString status_text() const;
  QCustomPlot* plot() const { return plot_; }

 signals:
  void viewDrawn();  // data of a new view has been drawn

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct CounterGraphs;
  QString Text(int entry) const { return captions_(entry); }
  // Shows what `say` says on `label`, and says it again in a new language; nothing clears it.
  void Say(QLabel* label, std::function<QString()> say);
  QString StatsText(store::CounterId counter, chart::ViewRange range, const store::Stats& s,
                    const store::HistoryColumn& downloads) const;
  void BuildWidgets();
  void LoadChoices();
  void SaveChoices();
  void SetView(const chart::ViewRange& range, bool remember);
  void RequestView();
  void OnView(std::shared_ptr<const ViewData> data);
  void OnOverview(std::shared_ptr<const StoreOverview> overview);
  void OnStats(uint64_t generation, store::CounterId counter, store::Stats stats, store::HistoryColumn downloads);
  void Poll();
  void UpdateCounterPanel();
  void RequestGlances();
  void OnGlances(std::shared_ptr<const CounterGlances> glances);
  void FilterCounters(const QString& text);
  void UpdateSelectionItem();
  void UpdateAxes();
  void ShowReadout(double x);
  void ShowNoteTip(const QPoint& pos);
  std::vector<store::CounterId> ShownCounters() const;
  // From the first to past the last second of data of any counter, downloads included while shown.
  std::optional<chart::ViewRange> DataExtent() const;
  QString CounterName(store::CounterId id) const;
  QColor CounterColour(store::CounterId id) const;
  void MousePress(QMouseEvent* event);
  void MouseMove(QMouseEvent* event);
  void MouseRelease(QMouseEvent* event);
  void Wheel(QWheelEvent* event);
  void ChooseExport();
  void ChoosePicture();

  std::filesystem::path settings_path_;
  SettingsStore settings_store_;
  Settings settings_;
  SystemClock clock_;
  LanguageDictionary texts_;
  Captions captions_{texts_};
  std::map<QLabel*, std::function<QString()>> said_;
  std::unique_ptr<LongtermFetcher> fetcher_;
  std::unique_ptr<CounterGlanceFetcher> glance_fetcher_;

  QCustomPlot* plot_ = nullptr;
  QSharedPointer<LocalTimeTicker> ticker_;
  QLineEdit* counter_filter_ = nullptr;
  QListWidget* counter_list_ = nullptr;
  QComboBox* unit_box_ = nullptr;
  QComboBox* average_box_ = nullptr;
  QCheckBox* log_box_ = nullptr;
  QCheckBox* follow_box_ = nullptr;
  QCheckBox* history_box_ = nullptr;
  QToolButton* back_button_ = nullptr;
  QToolButton* forward_button_ = nullptr;
  QLabel* readout_ = nullptr;
  QLabel* selection_label_ = nullptr;
  QLabel* status_ = nullptr;
  QCPItemRect* band_item_ = nullptr;  // the rubber band or the selection while dragging
  QCPItemRect* selection_item_ = nullptr;
  std::map<store::CounterId, std::unique_ptr<CounterGraphs>> graphs_;

  StoreOverview overview_;
  std::map<store::CounterId, store::CounterGlance> glances_;
  bool glances_pending_ = false;
  QTimer glance_timer_;
  bool overview_pending_ = false;
  bool store_failed_ = false;  // the status tells of a failed request until the store answers again
  bool want_all_ = false;  // "all" waits for the overview's first seconds
  bool opened_ = false;    // the first view has been fitted to the data
  chart::ViewRange view_;
  chart::ViewHistory history_;
  uint64_t generation_ = 0;
  uint64_t drawn_generation_ = 0;
  std::shared_ptr<const ViewData> shown_;
  QTimer poll_timer_;
  QTimer axis_replot_;  // the range moved, its data not come yet
  QTimer settle_timer_;  // a pan or zoom goes on the back list once it has rested
  std::optional<chart::ViewRange> unsettled_from_;

  enum class Drag { kNone, kPan, kZoom, kSelect } drag_ = Drag::kNone;
  QPoint drag_start_;
  chart::ViewRange drag_view_;
  std::optional<chart::ViewRange> selection_;
  std::optional<store::Stats> selection_stats_;
  std::optional<store::HistoryColumn> selection_downloads_;
  uint64_t stats_generation_ = 0;
  bool stats_pending_ = false;
};

// Opens the long-term chart over the store beside `parent`, or raises the one already open.
LongtermChartWindow* OpenLongtermChart(QWidget* parent, const std::filesystem::path& settings_path,
                                       const LanguageDictionary& texts);

}  // namespace norvane
