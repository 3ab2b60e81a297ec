#include "ui/longterm_fetcher.h"

#include <QMetaObject>

#include "core/platform/atomic_file.h"
#include "core/store/store_export.h"
#include "ui/qt_text.h"

namespace norvane {

LongtermFetcher::LongtermFetcher(std::filesystem::path store_path) : path_(std::move(store_path)) {
  qRegisterMetaType<std::shared_ptr<const ViewData>>();
  qRegisterMetaType<std::shared_ptr<const StoreOverview>>();
  qRegisterMetaType<store::Stats>();
  context_ = new QObject;
  context_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
  thread_.setObjectName("longterm-chart");
  thread_.start();
}

LongtermFetcher::~LongtermFetcher() {
  // The store belongs to the worker: it is closed there, after the work already queued.
  QMetaObject::invokeMethod(context_, [this] { store_.reset(); }, Qt::BlockingQueuedConnection);
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
      store_.reset();
      emit storeFailed(ToQString(e.what()));
    }
  }, Qt::QueuedConnection);
}

store::Store* LongtermFetcher::Open() {
  if (!store_) {
    if (!std::filesystem::exists(path_)) return nullptr;
    store_ = std::make_unique<store::Store>(path_, store::Store::Access::kReadOnly);
  }
  return store_.get();
}

void LongtermFetcher::RequestView(ViewRequest request) {
  newest_view_ = request.generation;
  Post([this, request = std::move(request)] {
    if (request.generation != newest_view_) return;
    store::Store* db = Open();
    auto data = std::make_shared<ViewData>();
    data->generation = request.generation;
    data->from = request.from;
    data->to = request.to;
    data->unit = request.unit;
    data->plan = chart::PlanColumns(request.from, request.to, request.columns);
    if (db && data->plan.count) {
      const chart::ColumnPlan& plan = data->plan;
      // The moving average needs its window's worth of columns before the first one shown.
      const size_t lead = request.average > 0 ? static_cast<size_t>((request.average + plan.step - 1) / plan.step) : 0;
      const int64_t query_from = plan.from - static_cast<int64_t>(lead) * plan.step;
      for (store::CounterId counter : request.counters) {
        if (request.generation != newest_view_) return;
        CounterView view;
        view.counter = counter;
        const store::Series series = db->Query(counter, query_from, plan.End(), plan.count + lead);
        view.columns = chart::ColumnsOf(series, lead, request.average, request.unit, request.conversion);
        if (request.history) {
          const auto records = db->History(counter, plan.from, plan.End());
          view.history = chart::HistoryLineOf(records, plan.step, request.unit, request.conversion);
          view.notes = store::NotesBetween(*db, counter, plan.from, plan.End());
        }
        data->counters.push_back(std::move(view));
      }
    }
    emit viewReady(data);
  });
}

void LongtermFetcher::RequestOverview(bool with_first) {
  Post([this, with_first] {
    auto overview = std::make_shared<StoreOverview>();
    if (store::Store* db = Open()) {
      overview->counters = db->Counters();
      for (const store::CounterRow& row : overview->counters) {
        overview->last.push_back(store::LastSecond(*db, row.id));
        std::optional<int64_t> first;
        if (with_first) {
          const auto seconds = db->ReadSeconds(row.id, INT64_MIN / 4, INT64_MAX / 4, 1);
          if (!seconds.empty()) first = seconds.front().time;
        }
        overview->first.push_back(first);
      }
    }
    emit overviewReady(overview);
  });
}

void LongtermFetcher::RequestStats(uint64_t generation, store::CounterId counter, int64_t from, int64_t to,
                                   const ConversionTable& conversion) {
  Post([this, generation, counter, from, to, conversion] {
    if (store::Store* db = Open()) emit statsReady(generation, counter, db->ComputeStats(counter, from, to, conversion));
  });
}

void LongtermFetcher::RequestExport(store::CounterId counter, int64_t from, int64_t to, const std::string& path,
                                    const WriterOptions& options) {
  Post([this, counter, from, to, path, options] {
    store::Store* db = Open();
    if (!db) {
      emit exportDone("There is no store to export from yet.", false);
      return;
    }
    const auto kind = store::ExportKindOf(path);
    if (!kind) {
      emit exportDone("The file name must end in .csv, .html, .htm or .rbn.", false);
      return;
    }
    SystemClock clock;
    const store::ExportText built = store::BuildExport(db->ReadSeconds(counter, from, to), from, *kind, options, clock);
    if (!built.error.empty()) {
      emit exportDone(ToQString("Nothing was written: " + built.error + "."), false);
      return;
    }
    std::string error;
    if (!AtomicWriteFile(path, built.text, &error)) {
      emit exportDone(ToQString("Cannot write " + path + ": " + error), false);
      return;
    }
    std::string message = "Wrote " + path;
    if (built.partial_minutes)
      message += " (" + std::to_string(built.partial_minutes) + " partly measured minutes left out: the file holds whole minutes only)";
    emit exportDone(ToQString(message), true);
  });
}

}  // namespace norvane
