// Web map requests against a real HTTP server on 127.0.0.1, and the setup's OK rules.
#include <gtest/gtest.h>

#include "core/net/http_post.h"
#include "core/net/map_submission.h"
#include "core/net/map_urls.h"
#include "tests/common/recording_notifier.h"
#include "tests/common/temp_dir.h"
#include "tests/core/net/one_shot_http_server.h"

namespace norvane {
namespace {

using testing::OneShotHttpServer;
using testing::RecordingNotifier;

const LocalTime kNow{2026, 3, 7, 9, 5, 4};
HttpAnswer Post(const std::string& url) { return PostMapRequest(url); }

TEST(MapRequest, PostsTheFormBodyWithItsHeaderAndNoCredentials) {
  OneShotHttpServer server("200 OK", "Logged");
  const std::string url = SubmissionUrl(server.base(), "1234", "5678", 21, 19.5f, 0.1365f);
  const HttpAnswer answer = PostMapRequest(url);
  EXPECT_TRUE(answer.accepted());
  EXPECT_EQ(answer.status_text, "OK");
  EXPECT_EQ(answer.body, "Logged");
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string request = server.requests()[0];
  EXPECT_EQ(request.substr(0, request.find("\r\n")),
            "POST /log2.asp?AID=1234&GID=5678&CPM=21&ACPM=19.50&uSV=0.136500&type=VWR2.75 HTTP/1.1");
  EXPECT_NE(request.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos);
  EXPECT_EQ(request.find("Authorization:"), std::string::npos);
  EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), "<RequestStockPrice Symbol=''/>");
}

TEST(MapRequest, SubmissionLogsTheThreeLinesAndTheReportTime) {
  OneShotHttpServer server("200 OK", "Thanks");
  FixedClock clock(kNow);
  RecordingNotifier notifier;
  const std::string url = server.base() + "log2.asp?AID=1";
  EXPECT_TRUE(RunSubmission(url, [](const std::string& u) { return PostMapRequest(u); }, clock, notifier));
  EXPECT_EQ(notifier.status(), (std::vector<std::string>{url, "Data submited to server.", "Thanks",
                                                         "Report time:2026-03-07 09:05:04\r\n"}));
  EXPECT_TRUE(notifier.messages().empty());
}

TEST(MapRequest, ServerErrorIsNotReportedAsSubmitted) {
  OneShotHttpServer server("500 Internal Server Error", "boom");
  FixedClock clock(kNow);
  RecordingNotifier notifier;
  EXPECT_FALSE(RunSubmission(server.base() + "log2.asp?", [](const std::string& u) { return PostMapRequest(u); },
                             clock, notifier));
  EXPECT_FALSE(notifier.HasStatus("Data submited to server."));
  EXPECT_TRUE(notifier.HasStatusContaining("500"));
  EXPECT_TRUE(notifier.HasStatus("boom"));
  EXPECT_FALSE(notifier.HasStatusContaining("Report time:"));
}

TEST(MapRequest, RefusedConnectionIsAMessageNotALogLine) {
  FixedClock clock(kNow);
  RecordingNotifier notifier;
  const std::string url = "http://127.0.0.1:" + std::to_string(testing::RefusingPort()) + "/log2.asp?";
  EXPECT_FALSE(RunSubmission(url, [](const std::string& u) { return PostMapRequest(u); }, clock, notifier));
  ASSERT_EQ(notifier.messages().size(), 1u);
  EXPECT_FALSE(notifier.messages()[0].text.empty());
  EXPECT_TRUE(notifier.status().empty());

  // Without a description from the transport the fixed advice is shown.
  RecordingNotifier plain;
  RunSubmission(url, [](const std::string&) { return HttpAnswer{}; }, clock, plain);
  ASSERT_EQ(plain.messages().size(), 1u);
  EXPECT_EQ(plain.messages()[0].text, "Make sure your web server is running");
}

TEST(MapRequest, SubmitterRunsWorkersAndReportsWhenIdle) {
  OneShotHttpServer server("200 OK", "ok", 2);
  FixedClock clock(kNow);
  RecordingNotifier notifier;
  MapSubmitter submitter(clock, notifier);
  EXPECT_FALSE(submitter.running());
  submitter.Submit(server.base() + "log2.asp?a");
  submitter.Submit(server.base() + "log2.asp?b");
  submitter.WaitAll();
  EXPECT_FALSE(submitter.running());
  EXPECT_EQ(submitter.accepted(), 2u);
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST(MapVerify, ErrorInTheAnswerKeepsItUnverified) {
  RecordingNotifier notifier;
  {
    OneShotHttpServer server("200 OK", "Error: unknown id");
    const VerifyOutcome outcome =
        VerifyMapAccount(VerificationUrl(server.base(), "1", "2"), Post, notifier);
    EXPECT_FALSE(outcome.verified);
    const std::string request = server.requests().at(0);
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /testlog.asp?id=1+2+0+0+0 HTTP/1.1");
  }
  {
    OneShotHttpServer server("200 OK", "Welcome");
    EXPECT_TRUE(VerifyMapAccount(VerificationUrl(server.base(), "1", "2"), Post, notifier).verified);
  }
  {
    OneShotHttpServer server("404 Not Found", "Welcome");
    EXPECT_FALSE(VerifyMapAccount(VerificationUrl(server.base(), "1", "2"), Post, notifier).verified);
  }
  EXPECT_EQ(notifier.messages().front().text, "click on OK  to submit data to server, then wait for a few seconds.");
}

struct SetupFixture : ::testing::Test {
  SetupFixture() : store(dir / "settings.reg") {
    store.Load();  // creates the key, as start-up does
    settings.zqt_map_user_account_id = "1234";
    settings.zqt_map_geiger_counter_id = "5678";
    settings.auto_submit_enabled = 1;
  }
  testing::TempDir dir;
  SettingsStore store;
  Settings settings;
  RecordingNotifier notifier;
};

TEST_F(SetupFixture, ChangedUnverifiedIdsSwitchSubmissionOff) {
  MapSetupForm form{"9999", "5678", "10", true};
  EXPECT_TRUE(ApplyMapSetup(form, false, settings, store, notifier));
  EXPECT_FALSE(form.auto_submit);
  const Settings stored = store.Load();
  EXPECT_EQ(stored.auto_submit_enabled, 0u);
  EXPECT_EQ(stored.zqt_map_user_account_id, "9999");
  EXPECT_EQ(stored.auto_submit_period, 10u);
  EXPECT_TRUE(notifier.messages().at(0).text.starts_with("Your user account Geiger counter information"));
}

TEST_F(SetupFixture, UnchangedOrVerifiedIdsKeepTheSwitch) {
  MapSetupForm same{"1234", "5678", "3", true};
  EXPECT_TRUE(ApplyMapSetup(same, false, settings, store, notifier));
  EXPECT_EQ(store.Load().auto_submit_enabled, 1u);
  MapSetupForm verified{"1", "2", "3", true};
  EXPECT_TRUE(ApplyMapSetup(verified, true, settings, store, notifier));
  EXPECT_EQ(store.Load().auto_submit_enabled, 1u);
  EXPECT_TRUE(notifier.messages().empty());
}

TEST_F(SetupFixture, PeriodZeroIsRefusedButTheIdsAreStored) {
  for (const char* period : {"0", "", "-4"}) {
    MapSetupForm form{"1234", "77", period, true};
    EXPECT_FALSE(ApplyMapSetup(form, true, settings, store, notifier)) << period;
    EXPECT_EQ(notifier.messages().back().text, "Please set Auto submit period 1 minute or longer.");
  }
  const Settings stored = store.Load();
  EXPECT_EQ(stored.zqt_map_geiger_counter_id, "77");
  EXPECT_EQ(stored.auto_submit_period, 5u);
}

}  // namespace
}  // namespace norvane
