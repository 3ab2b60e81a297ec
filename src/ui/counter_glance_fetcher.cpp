#include "ui/counter_glance_fetcher.h"

#include <QMetaObject>

namespace norvane {

CounterGlanceFetcher::CounterGlanceFetcher(std::filesystem::path store_path) : path_(std::move(store_path)) {
  qRegisterMetaType<std::shared_ptr<const CounterGlances>>();
  context_ = new QObject;
  context_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
  thread_.setObjectName("counter-glances");
  thread_.start();
}

CounterGlanceFetcher::~CounterGlanceFetcher() {
  QMetaObject::invokeMethod(context_, [this] { store_.reset(); }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

void CounterGlanceFetcher::Request(std::vector<store::CounterId> counters, int64_t now) {
  QMetaObject::invokeMethod(context_, [this, counters = std::move(counters), now] {
    try {
      if (!store_) store_ = store::OpenStore(path_.string(), store::StoreAccess::kReadOnly);
      auto glances = std::make_shared<CounterGlances>();
      for (store::CounterId id : counters) glances->push_back(store::Glance(*store_, id, now));
      emit glancesReady(glances);
    } catch (const std::exception&) {
      // The chart's own fetcher tells what is wrong with the store; the list keeps what it had.
      store_.reset();
      emit glancesFailed();
    }
  }, Qt::QueuedConnection);
}

}  // namespace norvane
