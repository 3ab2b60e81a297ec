// The live engine's seconds and news, which it gives on its own thread, handed to the window's
// thread in the order they came.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

#include "core/alarm/alarm_sink.h"
#include "core/live/live_engine.h"
#include "core/realtime/live_sink.h"

namespace norvane {

class LiveBridge final : public LiveSink, public live::EngineLog, public alarm::AlarmListener {
 public:
  struct Handlers {
    std::function<void(const LiveSecond&)> second;
    std::function<void(int64_t utc)> gap;
    std::function<void(const store::CounterInfo&, LinkState)> link;
    std::function<void(live::Priority, const std::string&)> log;
    std::function<void(const alarm::AlarmEvent&)> alarm;
  };
  LiveBridge(QObject* window, Handlers handlers) : window_(window), h_(std::move(handlers)) {}

  void OnSecond(const store::CounterInfo&, const LiveSecond& second) override;
  void OnGap(const store::CounterInfo&, int64_t utc) override;
  void OnLinkState(const store::CounterInfo& counter, LinkState state) override;
  void Write(live::Priority priority, std::string_view text) override;
  void OnAlarm(const store::CounterInfo&, const alarm::AlarmEvent& event) override;

 private:
  void Post(std::function<void()> call);

  QObject* window_;  // outlives every engine that reports to it
  const Handlers h_;
};

}  // namespace norvane
