#include "ui/device_worker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

namespace norvane {

DeviceWorker::DeviceWorker(QObject* parent) : QObject(parent), runner_(new QObject) {
  thread_.setObjectName("device");
  runner_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, runner_, &QObject::deleteLater);
  thread_.start();
}

DeviceWorker::~DeviceWorker() {
  WaitIdle();
  thread_.quit();
  thread_.wait();
}

void DeviceWorker::Run(std::function<void()> work, std::function<void()> done) {
  if (++pending_ == 1) emit busyChanged(true);
  QMetaObject::invokeMethod(runner_, [this, work = std::move(work), done = std::move(done)] {
    work();
    QMetaObject::invokeMethod(this, [this, done] {
      if (done) done();
      if (--pending_ == 0) emit busyChanged(false);
    }, Qt::QueuedConnection);
  }, Qt::QueuedConnection);
}

void DeviceWorker::WaitIdle() {
  while (pending_ > 0) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

}  // namespace norvane
