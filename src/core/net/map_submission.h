// Posting readings to the web map on worker threads, the "Verify" request and the setup's OK rules.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/common/clock.h"
#include "core/common/user_notifier.h"
#include "core/net/http_post.h"
#include "core/settings/settings_store.h"

namespace norvane {

using MapPoster = std::function<HttpAnswer(const std::string& url)>;

// One submission, blocking: posts, then the status lines (the URL, "Data submited to server."
// and the answer, then the report time). A refused answer is logged as not accepted instead of
// as submitted; a transport failure is a message. True when the service accepted the data.
bool RunSubmission(const std::string& url, const MapPoster& post, const Clock& clock, UserNotifier& notifier);

// Starts one low-priority worker per submission, as the housekeeping tick asks. The indicator
// is "running" while any worker runs.
class MapSubmitter {
 public:
  MapSubmitter(const Clock& clock, UserNotifier& notifier, MapPoster post = {});
  ~MapSubmitter();  // waits for the workers still posting
  MapSubmitter(const MapSubmitter&) = delete;
  MapSubmitter& operator=(const MapSubmitter&) = delete;

  void Submit(std::string url);
  bool running() const { return running_.load() > 0; }
  // Waits for every worker started so far.
  void WaitAll();
  uint32_t accepted() const { return accepted_.load(); }

 private:
  const Clock& clock_;
  UserNotifier& notifier_;
  MapPoster post_;
  std::atomic<int> running_{0};
  std::atomic<uint32_t> accepted_{0};
  std::mutex mutex_;
  std::vector<std::thread> workers_;
};

struct VerifyOutcome {
  HttpAnswer answer;
  bool verified = false;
};

// "Verify": posts the verification request; verified when the service accepted it and its
// answer does not contain "Error". The answer text is shown as a message.
VerifyOutcome VerifyMapAccount(const std::string& url, const MapPoster& post, UserNotifier& notifier);

// What the setup dialog holds when "OK" is pressed.
struct MapSetupForm {
  std::string account_id;
  std::string counter_id;
  std::string period_text;
  bool auto_submit = false;
};

// "OK": changed, unverified IDs switch automatic submission off (and say so); the IDs are then
// stored; a period of 0 is refused. Returns true when the dialog may close. `form.auto_submit`
// follows the switch-off, as the check box does.
bool ApplyMapSetup(MapSetupForm& form, bool verified, Settings& settings, SettingsStore& store,
                   UserNotifier& notifier);

}  // namespace norvane
