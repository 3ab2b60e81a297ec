// The long-term chart's worker: reads the store on its own thread and hands results back.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <future>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "core/chart/plot_columns.h"
#include "core/files/writer_options.h"
#include "core/i18n/language_dictionary.h"
#include "core/store/store.h"
#include "core/store/store_chart_queries.h"

namespace norvane {

struct ViewRequest {
  uint64_t generation = 0;
  std::vector<store::CounterId> counters;
  int64_t from = 0, to = 0;
  size_t columns = 1000;
  int64_t average = 0;  // seconds of the moving average, 0 for none
  chart::Unit unit = chart::Unit::kCpm;
  ConversionTable conversion = kDefaultConversionTable;
  bool history = true;  // downloaded history and its notes
};

struct CounterView {
  store::CounterId counter = 0;
  chart::PlotColumns columns;
  chart::PlotColumns history;  // downloaded records; empty when they are not asked for
  std::vector<store::StoredNote> notes;
};

struct ViewData {
  uint64_t generation = 0;
  int64_t from = 0, to = 0;
  chart::ColumnPlan plan;
  chart::Unit unit = chart::Unit::kCpm;
  std::vector<CounterView> counters;
};

struct StoreOverview {
  std::vector<store::CounterRow> counters;
  std::vector<std::optional<int64_t>> first, last;  // per counter, its measured seconds' ends
  std::vector<std::optional<store::TimeSpan>> downloads;  // per counter, its downloaded records' ends
};

// Every call returns at once; the answer comes as a queued signal. Views are answered newest
// first: a request that a newer one has overtaken before it started is dropped.
class LongtermFetcher : public QObject {
  Q_OBJECT

 public:
  explicit LongtermFetcher(std::filesystem::path store_path);
  ~LongtermFetcher() override;

  void RequestView(ViewRequest request);
  void RequestOverview(bool with_first);
  void RequestStats(uint64_t generation, store::CounterId counter, int64_t from, int64_t to,
                    const ConversionTable& conversion);
  // `texts` word the message exportDone brings.
  void RequestExport(store::CounterId counter, int64_t from, int64_t to, const std::string& path,
                     const WriterOptions& options, const LanguageDictionary& texts);

 signals:
  void viewReady(std::shared_ptr<const ViewData> data);
  void overviewReady(std::shared_ptr<const StoreOverview> overview);
  void statsReady(uint64_t generation, store::CounterId counter, store::Stats stats, store::HistoryColumn downloads);
  void exportDone(QString message, bool ok);
  void storeFailed(QString message);

 private:
  // The store, opened read-only on the worker thread the first time it is needed; null while
  // there is none yet (the chart waits for monitoring to create it).
  store::CounterStore* Open();
  template <typename Work>
  void Post(Work work);

  std::filesystem::path path_;
  QThread thread_;
  QObject* context_ = nullptr;  // lives on thread_
  std::unique_ptr<store::CounterStore> store_;
  // Connections of the helper threads that read further counters of a view at the same time: a
  // connection serves one thread at a time. They live and die with store_.
  std::vector<std::unique_ptr<store::CounterStore>> helpers_;
  std::atomic<uint64_t> newest_view_{0};
};

}  // namespace norvane
