#include "ui/live_bridge.h"

#include <QMetaObject>

namespace norvane {

void LiveBridge::Post(std::function<void()> call) {
  // Queued, never waited for: the engine must not stall on a window busy with a dialog.
  QMetaObject::invokeMethod(window_, std::move(call), Qt::QueuedConnection);
}

void LiveBridge::OnSecond(const store::CounterInfo&, const LiveSecond& second) {
  Post([this, second] { h_.second(second); });
}

void LiveBridge::OnGap(const store::CounterInfo&, int64_t utc) {
  Post([this, utc] { h_.gap(utc); });
}

void LiveBridge::OnLinkState(const store::CounterInfo& counter, LinkState state) {
  Post([this, counter, state] { h_.link(counter, state); });
}

void LiveBridge::OnAlarm(const store::CounterInfo&, const alarm::AlarmEvent& event) {
  Post([this, event] { h_.alarm(event); });
}

void LiveBridge::Write(live::Priority priority, std::string_view text) {
  Post([this, priority, text = std::string(text)] { h_.log(priority, text); });
}

}  // namespace norvane
