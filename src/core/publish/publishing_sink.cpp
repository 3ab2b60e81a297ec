#include "core/publish/publishing_sink.h"

#include <ctime>
#include <memory>

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/store/counter_store.h"

namespace norvane::publish {

PublishingSink::Known* PublishingSink::Find(const store::CounterInfo& counter, int64_t now) {
  if (auto it = known_.find(store::IdentityKey(counter)); it != known_.end()) return &it->second;
  if (store_.empty()) return nullptr;
  try {
    // The journals of ended writers are the seconds' writer's to fold, and to tell what was lost.
    const std::unique_ptr<store::CounterStore> db =
        store::OpenStore(store_.string(), store::StoreAccess::kReadWrite, store::EndedJournals::kLeave);
    db->HoldAs(holder_, 0);
    const store::CounterId id = db->RegisterCounter(counter, now);
    Known& known = known_[store::IdentityKey(counter)];
    known.id = id;
    publishing_.OnCounter(
        {id, counter.model, counter.version, counter.port, counter.serial, counter.device_path, counter.family});
    return &known;
  } catch (const store::StoreError& e) {
    // Retried with the next second: a store that is briefly locked must not end publishing.
    notifier_.Status(EnglishText(kTextLinePublishingWaits, {e.what()}));
    return nullptr;
  }
}

void PublishingSink::OnSecond(const store::CounterInfo& counter, const LiveSecond& second) {
  Known* known = Find(counter, second.utc);
  if (!known) return;
  known->counts += second.count;
  ++known->seconds;
  const double acpm = 60.0 * static_cast<double>(known->counts) / static_cast<double>(known->seconds);
  publishing_.OnSecond({known->id, counter.model, counter.version, counter.port, second.utc, second.count,
                        static_cast<double>(second.cpm), second.usv_h, acpm});
  publishing_.OnStoreWriteErrors(known->id, second.store_write_errors);
}

void PublishingSink::OnLinkState(const store::CounterInfo& counter, LinkState state) {
  Known* known = Find(counter, static_cast<int64_t>(std::time(nullptr)));
  if (!known) return;
  // Monitoring that starts again is a new run, with an ACPM of its own.
  if (state == LinkState::kStopped) *known = {known->id, 0, 0};
  publishing_.OnConnection(known->id,
                           state == LinkState::kConnected ? ConnectionState::kConnected : ConnectionState::kLost);
}

void PublishingSink::OnAlarm(const store::CounterInfo& counter, const alarm::AlarmEvent& event) {
  Known* known = Find(counter, event.utc);
  if (!known) return;
  publishing_.OnAlarm(known->id, {event.kind == alarm::AlarmKind::kRaised, event.utc, event.window, event.level_cpm,
                                  event.threshold_cpm, event.background_cpm, event.usv_h});
}

void PublishingSink::OnWatched(const store::CounterInfo& counter) {
  Known* known = Find(counter, static_cast<int64_t>(std::time(nullptr)));
  if (known) publishing_.OnAlarm(known->id, {});
}

}  // namespace norvane::publish
