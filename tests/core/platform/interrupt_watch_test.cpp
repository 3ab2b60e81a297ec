// Ctrl+C as a call: the watch and the hooks of objects that live shorter than it.
#include "core/platform/interrupt_watch.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace norvane {
namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(5ms))
    if (done()) return true;
  return done();
}

TEST(InterruptWatch, ASignalCallsTheWatchAndEveryHookOnce) {
  std::atomic<int> watch_calls{0}, hook_calls{0};
  InterruptWatch watch([&] { ++watch_calls; });
  const InterruptHook hook(watch, [&] { ++hook_calls; });
  ::kill(::getpid(), SIGTERM);
  ASSERT_TRUE(WaitFor([&] { return hook_calls.load() == 1; }));
  ::kill(::getpid(), SIGINT);
  std::this_thread::sleep_for(150ms);  // time for a second call, were there one
  EXPECT_TRUE(watch.interrupted());
  EXPECT_EQ(watch_calls.load(), 1);
  EXPECT_EQ(hook_calls.load(), 1);
}

// A service reopens its log at every SIGHUP and goes on running.
TEST(InterruptWatch, EveryHangupCallsItsOwnCallAndIsNoInterrupt) {
  std::atomic<int> hangups{0};
  InterruptWatch watch({}, [&] { ++hangups; });
  ::kill(::getpid(), SIGHUP);
  ASSERT_TRUE(WaitFor([&] { return hangups.load() == 1; }));
  ::kill(::getpid(), SIGHUP);
  ASSERT_TRUE(WaitFor([&] { return hangups.load() == 2; }));
  EXPECT_FALSE(watch.interrupted());
}

TEST(InterruptWatch, AHookMadeAfterTheInterruptIsCalledAtOnce) {
  InterruptWatch watch;
  ::kill(::getpid(), SIGINT);
  ASSERT_TRUE(WaitFor([&] { return watch.interrupted(); }));
  int calls = 0;
  const InterruptHook late(watch, [&] { ++calls; });
  EXPECT_EQ(calls, 1);
}

TEST(InterruptWatch, AHookLeavingWaitsForACallUnderWay) {
  InterruptWatch watch;
  std::atomic<bool> entered{false}, finished{false};
  auto hook = std::make_unique<InterruptHook>(watch, [&] {
    entered = true;
    std::this_thread::sleep_for(200ms);  // a stop request that takes its time
    finished = true;
  });
  ::kill(::getpid(), SIGINT);
  ASSERT_TRUE(WaitFor([&] { return entered.load(); }));
  hook.reset();
  // The object the hook served may go now: its call is over.
  EXPECT_TRUE(finished.load());
}

TEST(InterruptWatch, AHookThatHasLeftIsNeverCalled) {
  InterruptWatch watch;
  std::atomic<int> calls{0};
  { const InterruptHook gone(watch, [&] { ++calls; }); }
  ::kill(::getpid(), SIGINT);
  ASSERT_TRUE(WaitFor([&] { return watch.interrupted(); }));
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(calls.load(), 0);
}

}  // namespace
}  // namespace norvane
