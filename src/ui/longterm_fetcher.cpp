#include "ui/longterm_fetcher.h"

#include <QMetaObject>
#include <algorithm>
#include <thread>

#include "core/i18n/window_texts.h"
#include "core/platform/atomic_file.h"
#include "core/store/store_export.h"
#include "ui/qt_text.h"

namespace norvane {
namespace {

// Threads that read the counters of one view: the store answers from its page cache, so more
// lanes than cores only queue.
constexpr size_t kMaxLanes = 4;

}  // namespace

LongtermFetcher::LongtermFetcher(std::filesystem::path store_path) : path_(std::move(store_path)) {
  qRegisterMetaType<std::shared_ptr<const ViewData>>();
  qRegisterMetaType<std::shared_ptr<const StoreOverview>>();
  qRegisterMetaType<store::Stats>();
  qRegisterMetaType<store::HistoryColumn>();
  context_ = new QObject;
  context_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
  thread_.setObjectName("longterm-chart");
  thread_.start();
}

LongtermFetcher::~LongtermFetcher() {
  // The store belongs to the worker: it is closed there, after the work already queued.
  QMetaObject::invokeMethod(context_, [this] {
    helpers_.clear();
    store_.reset();
  }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

template <typename Work>
void LongtermFetcher::Post(Work work) {
  QMetaObject::invokeMethod(context_, [this, work = std::move(work)]() mutable {
    try {
      work();
    } catch (const store::StoreError& e) {
      // Every failed request is reported, so the window never waits for its answer; the store is
      // opened afresh next time.
      helpers_.clear();
      store_.reset();
      emit storeFailed(ToQString(e.what()));
    }
  }, Qt::QueuedConnection);
}

store::CounterStore* LongtermFetcher::Open() {
  if (!store_) {
    if (!store::IsServerLocation(path_.string()) && !std::filesystem::exists(path_)) return nullptr;
    store_ = store::OpenStore(path_.string(), store::StoreAccess::kReadOnly);
  }
  return store_.get();
}

void LongtermFetcher::RequestView(ViewRequest request) {
  newest_view_ = request.generation;
  Post([this, request = std::move(request)] {
    if (request.generation != newest_view_) return;
    store::CounterStore* db = Open();
    auto data = std::make_shared<ViewData>();
    data->generation = request.generation;
    data->from = request.from;
    data->to = request.to;
    data->unit = request.unit;
    data->plan = chart::PlanColumns(request.from, request.to, request.columns);
    if (db && data->plan.count) {
      const chart::ColumnPlan& plan = data->plan;
      const size_t n = request.counters.size();
      const size_t lanes = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, kMaxLanes);
      const size_t used = std::min(n, lanes);
      while (helpers_.size() + 1 < used)
        helpers_.push_back(store::OpenStore(path_.string(), store::StoreAccess::kReadOnly));
      std::vector<CounterView> views(n);
      const auto lane = [&](size_t first, store::CounterStore& reader) {
        for (size_t i = first; i < n && request.generation == newest_view_; i += used) {
          CounterView& view = views[i];
          view.counter = request.counters[i];
          view.columns = chart::SecondsColumns(reader, view.counter, plan, request.average, request.unit, request.conversion);
          if (request.history) {
            view.history = chart::DownloadColumns(reader, view.counter, plan, request.unit, request.conversion);
            view.notes = reader.Notes(view.counter, plan.from, plan.End());
          }
        }
      };
      std::vector<std::future<void>> others;
      for (size_t k = 1; k < used; ++k) others.push_back(std::async(std::launch::async, lane, k, std::ref(*helpers_[k - 1])));
      lane(0, *db);
      for (std::future<void>& other : others) other.get();  // a helper's StoreError is reported as the worker's
      if (request.generation != newest_view_) return;
      data->counters = std::move(views);
    }
    emit viewReady(data);
  });
}

void LongtermFetcher::RequestOverview(bool with_first) {
  Post([this, with_first] {
    auto overview = std::make_shared<StoreOverview>();
    if (store::CounterStore* db = Open()) {
      overview->counters = db->Counters();
      for (const store::CounterRow& row : overview->counters) {
        overview->last.push_back(db->NewestSecond(row.id));
        overview->first.push_back(with_first ? db->OldestSecond(row.id) : std::nullopt);
        overview->downloads.push_back(db->HistoryEnds(row.id));
      }
    }
    emit overviewReady(overview);
  });
}

void LongtermFetcher::RequestStats(uint64_t generation, store::CounterId counter, int64_t from, int64_t to,
                                   const ConversionTable& conversion) {
  Post([this, generation, counter, from, to, conversion] {
    store::CounterStore* db = Open();
    if (!db) return;
    const std::vector<store::HistoryColumn> downloads = db->HistoryColumns(counter, from, to - from, 1);
    emit statsReady(generation, counter, db->ComputeStats(counter, from, to, conversion), downloads.front());
  });
}

void LongtermFetcher::RequestExport(store::CounterId counter, int64_t from, int64_t to, const std::string& path,
                                    const WriterOptions& options, const LanguageDictionary& texts) {
  Post([this, counter, from, to, path, options, texts] {
    const auto text = [&texts](int entry) { return ToQString(texts.GetText(entry)); };
    const QString file_name = ToQString(path);
    store::CounterStore* db = Open();
    if (!db) {
      emit exportDone(text(kTextChartNoStore), false);
      return;
    }
    SystemClock clock;
    if (store::TidyFormatOf(path) == store::TidyFormat::kJsonLines) {
      // Gigabytes for a year of seconds: written a day at a time, never held whole.
      AtomicFileWriter file(path);
      const store::TidyExport tidy = store::BuildTidyExport(*db, counter, from, to, store::TidyFormat::kJsonLines,
                                                            options.conversion, clock,
                                                            [&](std::string_view rows) { return file.Write(rows); });
      if (!tidy.written || !file.Commit()) {
        emit exportDone(text(kTextChartCannotWrite).arg(file_name) + ": " + ToQString(file.error()), false);
        return;
      }
      emit exportDone(text(kTextChartWroteTidy)
                          .arg(file_name, QString::number(tidy.seconds), QString::number(tidy.records)), true);
      return;
    }
    const auto kind = store::ExportKindOf(path);
    if (!kind) {
      emit exportDone(text(kTextChartBadName), false);
      return;
    }
    const store::ExportText built = store::BuildExport(db->ReadSeconds(counter, from, to), from, *kind, options, clock,
                                                       store::ScaleOf(*db, counter, options.conversion));
    if (!built.error.empty()) {
      emit exportDone(text(kTextChartNothingWritten).arg(ToQString(built.error)), false);
      return;
    }
    std::string error;
    if (!AtomicWriteFile(path, built.text, &error)) {
      emit exportDone(text(kTextChartCannotWrite).arg(file_name) + ": " + ToQString(error), false);
      return;
    }
    const QString partial = QString::number(built.partial_minutes);
    emit exportDone(built.partial_minutes ? text(kTextChartWrotePartial).arg(file_name, partial)
                                          : text(kTextChartWrote).arg(file_name),
                    true);
  });
}

}  // namespace norvane
