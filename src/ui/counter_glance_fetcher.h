// Reads the counter list's glances (last value, coverage, data quality) on a thread of its own.
#pragma once

#include <QObject>
#include <QThread>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/store/counter_glance.h"

namespace norvane {

using CounterGlances = std::vector<store::CounterGlance>;

// Judging a day of seconds for hundreds of counters takes a while: it has its own thread and
// connection, so the chart's views never queue behind it. Request returns at once; the answer
// comes as a queued signal, or none when the store cannot be read.
class CounterGlanceFetcher : public QObject {
  Q_OBJECT

 public:
  explicit CounterGlanceFetcher(std::filesystem::path store_path);
  ~CounterGlanceFetcher() override;

  void Request(std::vector<store::CounterId> counters, int64_t now);

 signals:
  void glancesReady(std::shared_ptr<const CounterGlances> glances);
  void glancesFailed();

 private:
  std::filesystem::path path_;
  QThread thread_;
  QObject* context_ = nullptr;  // lives on thread_
  std::unique_ptr<store::CounterStore> store_;  // the thread's own
};

}  // namespace norvane
