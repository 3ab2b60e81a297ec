#include "core/net/map_submission.h"

#include <chrono>
#include <cstdlib>

#include "core/common/text_format.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/platform/thread_priority.h"

namespace norvane {
namespace {

constexpr char kServerDownMessage[] = "Make sure your web server is running";

void ReportFailure(const HttpAnswer& answer, UserNotifier& notifier) {
  // The transport's own words are quoted inside ours, which the window translates.
  notifier.Message(answer.error.empty() ? std::string(kServerDownMessage)
                                        : EnglishText(kTextMsgMapUnreachable, {answer.error}));
}

}  // namespace

bool RunSubmission(const std::string& url, const MapPoster& post, const Clock& clock, UserNotifier& notifier) {
  const HttpAnswer answer = post(url);
  if (!answer.delivered) {
    ReportFailure(answer, notifier);
    return false;
  }
  notifier.Status(url);
  if (!answer.accepted()) {
    // The old line said "submitted" even when the service turned the data away.
    notifier.Status(EnglishText(kTextLineMapNotAccepted, {std::to_string(answer.status), answer.status_text}));
    notifier.Status(answer.body);
    return false;
  }
  notifier.Status(EnglishText(kTextLineMapSubmitted));
  notifier.Status(answer.body);
  const LocalTime t = clock.LocalNow();
  notifier.Status(Format("Report time:20%02d-%02d-%02d %02d:%02d:%02d\r\n", (t.year - 2000) % 100, t.month, t.day,
                         t.hour, t.minute, t.second));
  return true;
}

MapSubmitter::MapSubmitter(const Clock& clock, UserNotifier& notifier, MapPoster post)
    : clock_(clock), notifier_(notifier), post_(std::move(post)) {
  if (!post_) post_ = [](const std::string& url) { return PostMapRequest(url); };
}

MapSubmitter::~MapSubmitter() { WaitAll(); }

void MapSubmitter::Submit(std::string url) {
  std::lock_guard lock(mutex_);
  ++running_;
  workers_.emplace_back([this, url = std::move(url)] {
    LowerCurrentThreadPriority();
    if (RunSubmission(url, post_, clock_, notifier_)) ++accepted_;
    // The indicator stays on a moment so a quick answer is still seen.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    --running_;
  });
}

void MapSubmitter::WaitAll() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
}

VerifyOutcome VerifyMapAccount(const std::string& url, const MapPoster& post, UserNotifier& notifier) {
  notifier.Message("click on OK  to submit data to server, then wait for a few seconds.");
  VerifyOutcome outcome;
  outcome.answer = post(url);
  if (!outcome.answer.delivered) {
    ReportFailure(outcome.answer, notifier);
    return outcome;
  }
  // The server's reply as it came, framed so the user knows who is speaking.
  notifier.Message(EnglishText(kTextMsgMapAnswered, {outcome.answer.body}));
  outcome.verified = outcome.answer.accepted() && outcome.answer.body.find("Error") == std::string::npos;
  return outcome;
}

bool ApplyMapSetup(MapSetupForm& form, bool verified, Settings& settings, SettingsStore& store,
                   UserNotifier& notifier) {
  namespace names = setting_names;
  const bool changed =
      form.account_id != settings.zqt_map_user_account_id || form.counter_id != settings.zqt_map_geiger_counter_id;
  if (changed && !verified) {
    form.auto_submit = false;
    settings.auto_submit_enabled = 0;
    store.StoreNumber(names::kAutoSubmitEnabled, 0);
    notifier.Message(
        "Your user account Geiger counter information not been verified, \r\n The Auto submition dada is been "
        "disabled.");
  }
  settings.zqt_map_user_account_id = form.account_id;
  settings.zqt_map_geiger_counter_id = form.counter_id;
  store.StoreText(names::kZqtMapUserAccountId, form.account_id);
  store.StoreText(names::kZqtMapGeigerCounterId, form.counter_id);

  const long period = std::strtol(form.period_text.c_str(), nullptr, 10);
  if (period <= 0) {
    // A negative period would wrap to a huge unsigned one: refused like 0.
    notifier.Message("Please set Auto submit period 1 minute or longer.");
    return false;
  }
  settings.auto_submit_period = static_cast<uint32_t>(period);
  settings.auto_submit_enabled = form.auto_submit ? 1 : 0;
  store.StoreNumber(names::kAutoSubmitPeriod, settings.auto_submit_period);
  store.StoreNumber(names::kAutoSubmitEnabled, settings.auto_submit_enabled);
  return true;
}

}  // namespace norvane
