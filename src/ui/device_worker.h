// The one thread that runs blocking device work for the window, one operation at a time.
#pragma once

#include <QObject>
#include <QThread>
#include <functional>

namespace norvane {

// Identification, connecting, the download's start and end, realtime start-up, clock and
// configuration exchanges wait on the counter for up to seconds; here they wait off the window's
// thread. Each job's continuation runs back on the window's thread, in the order the jobs ran.
class DeviceWorker : public QObject {
  Q_OBJECT
 public:
  explicit DeviceWorker(QObject* parent = nullptr);
  ~DeviceWorker() override;

  // Queues `work` for the device thread; `done` then runs on this object's thread.
  void Run(std::function<void()> work, std::function<void()> done = {});
  // Jobs queued or running.
  bool busy() const { return pending_ > 0; }
  // Keeps the window's events flowing (a job may be showing a message through it) until every
  // queued job has finished.
  void WaitIdle();

 signals:
  void busyChanged(bool busy);

 private:
  QThread thread_;
  QObject* runner_;  // lives on thread_
  int pending_ = 0;
};

}  // namespace norvane
