// Work done in a child process: what comes back, and how a child that fails,
// throws or hangs is told apart, whatever the caller did with the signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "volume/Isolated.h"

namespace {

TEST(Isolated, TheChildsTextComesBackWhole) {
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 % 251);
  std::string result = "stale";
  ASSERT_EQ(volume::RunIsolated([&] { return big; }, 30, &result), volume::IsolatedOutcome::kDone);
  EXPECT_EQ(result, big);
  ASSERT_EQ(volume::RunIsolated([] { return std::string(); }, 30, &result), volume::IsolatedOutcome::kDone);
  EXPECT_TRUE(result.empty());
}

TEST(Isolated, AFailingChildIsToldFromAFinishedOne) {
  std::string result = "kept";
  EXPECT_EQ(volume::RunIsolated([]() -> std::string { std::abort(); }, 30, &result),
            volume::IsolatedOutcome::kFailed);
  EXPECT_EQ(volume::RunIsolated([]() -> std::string { throw std::runtime_error("no"); }, 30, &result),
            volume::IsolatedOutcome::kFailed);
  EXPECT_EQ(volume::RunIsolated([]() -> std::string { ::_exit(0); }, 30, &result),
            volume::IsolatedOutcome::kDone);
  EXPECT_EQ(result, "");
}

// The caller may ignore or block SIGALRM and SIGABRT, or handle them: the
// child still ends when its time is up, and an assertion still ends it.
TEST(Isolated, ABusyChildIsEndedWhateverTheCallersSignalsAre) {
  struct sigaction ignore {
  }, oldAlarm{}, oldAbort{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGALRM, &ignore, &oldAlarm), 0);
  ASSERT_EQ(::sigaction(SIGABRT, &ignore, &oldAbort), 0);
  sigset_t blocked, old;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGALRM);
  ASSERT_EQ(::sigprocmask(SIG_BLOCK, &blocked, &old), 0);
  std::string result;
  EXPECT_EQ(volume::RunIsolated(
                [] {
                  for (;;) ::pause();
                  return std::string();
                },
                1, &result),
            volume::IsolatedOutcome::kTimedOut);
  EXPECT_EQ(volume::RunIsolated([]() -> std::string { std::abort(); }, 30, &result),
            volume::IsolatedOutcome::kFailed);
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
  ::sigaction(SIGALRM, &oldAlarm, nullptr);
  ::sigaction(SIGABRT, &oldAbort, nullptr);
}

}  // namespace
