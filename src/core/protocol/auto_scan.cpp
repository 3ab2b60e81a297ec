#include "core/protocol/auto_scan.h"

#include "core/protocol/model_identification.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

constexpr auto kFirstStep = 100ms;
constexpr auto kAfterSilentPort = 300ms;  // opened, but nothing of ours answered
constexpr auto kAfterClosedPort = 100ms;  // could not be opened

}  // namespace

std::chrono::milliseconds AutoScan::Start() {
  DeviceState& state = session_.state();
  session_.link().Close();
  state.port_open = false;
  state.current_port = 1;
  identified_ = {};
  active_ = true;
  return kFirstStep;
}

AutoScan::Step AutoScan::Finish(Outcome outcome) {
  active_ = false;
  if (outcome != Outcome::kFound) {
    // Nothing found: leave no port held open.
    session_.link().Close();
  }
  return {outcome, 0ms};
}

AutoScan::Step AutoScan::RunStep() {
  if (!active_) return {Outcome::kDeclined, 0ms};
  DeviceState& state = session_.state();
  UserNotifier& notifier = session_.notifier();
  const int n = state.current_port;
  if (n > kScanLastPort) {
    notifier.Status("Norvane Geiger Counter not detected, please try again.");
    return Finish(Outcome::kNotDetected);
  }
  if (n % kScanQuestionEvery == 0 &&
      !notifier.Ask("Device not detected, \r\nContinue to check for next 16 comports?", "Auto detect comport")) {
    notifier.Status("Can not find any comport is connected to the device.");
    return Finish(Outcome::kDeclined);
  }

  // A fresh open of port n, quietly: most candidates fail. The current family's rate first,
  // then the other one, for a counter of another model than the one selected.
  DeviceLine& link = session_.link();
  const int selected_rate = BaudForFamily(state.family.load());
  std::string reply;
  bool open = false;
  int found_at = 0;
  for (const int rate : {selected_rate, OtherLineRate(selected_rate)}) {
    reply.clear();
    if (link.Open(n, rate)) reply = session_.RequestVersion();
    open = link.IsOpen();
    if (!open) break;  // the port itself failed: no other rate will open it
    if (LooksLikeCounter(reply)) {
      found_at = rate;
      break;
    }
  }
  state.model_text = reply;
  if (found_at) {
    active_ = false;
    if (found_at == selected_rate) session_.SelectModelFromList(state.selected_model);
    else session_.AdoptModelFoundAt(found_at, reply);
    state.current_port = n;
    identified_ = session_.ConnectAndIdentify(n);
    return {Outcome::kFound, 0ms};
  }
  state.current_port = n + 1;
  return {Outcome::kContinue, open ? kAfterSilentPort : kAfterClosedPort};
}

}  // namespace norvane
