#include "volume/Isolated.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "volume/FileIO.h"

namespace volume {

namespace {

// A report larger than this is no report of this program's.
constexpr std::size_t kMaxResult = std::size_t{256} << 20;

}  // namespace

IsolatedOutcome RunIsolated(const std::function<std::string()>& body, unsigned seconds, std::string* result) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return IsolatedOutcome::kNoProcess;
  // Output still buffered here would be written a second time should the
  // child flush its copy (a library's message on std::cerr flushes stdout).
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return IsolatedOutcome::kNoProcess;
  }
  if (pid == 0) {
    ::close(fds[0]);
    // A failing child ends at once, without writing a core file.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // The alarm's and an assertion's default actions are wanted, whatever
    // handlers or mask the program had (its crash handling is the parent's business).
    std::signal(SIGALRM, SIG_DFL);
    std::signal(SIGABRT, SIG_DFL);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    ::alarm(seconds);
#ifndef CORVANE_FUZZING
    // The libraries' complaints would reach the user's terminal: what matters
    // comes back in the result. (The fuzzer is to show a sanitizer's report.)
    if (const int null = ::open("/dev/null", O_WRONLY); null >= 0) ::dup2(null, 2);
#endif
    try {
      const std::string text = body();
      ::_exit(WriteAll(fds[1], text.data(), text.size()) ? 0 : 3);
    } catch (...) {
      ::_exit(2);
    }
  }
  ::close(fds[1]);
  std::string bytes;
  char block[65536];
  bool tooLong = false;
  for (;;) {
    const ssize_t n = ::read(fds[0], block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxResult) {
      tooLong = true;
      break;
    }
    bytes.append(block, static_cast<std::size_t>(n));
  }
  // Closing first: a child still writing ends instead of waiting for a reader.
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return IsolatedOutcome::kTimedOut;
#ifdef CORVANE_FUZZING
  // A sanitizer's report in the child (exit status 1) is a fault of this
  // program's own code there: the fuzzer must see it.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 1) std::abort();
#endif
  if (tooLong || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return IsolatedOutcome::kFailed;
  *result = std::move(bytes);
  return IsolatedOutcome::kDone;
}

void LimitAddressSpace(std::uint64_t allowance) {
#ifndef CORVANE_FUZZING
  std::uint64_t pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    unsigned long long size = 0;
    if (std::fscanf(f, "%llu", &size) == 1) pages = size;
    std::fclose(f);
  }
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages == 0 || pageSize <= 0) return;
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0) return;
  const std::uint64_t wanted = pages * static_cast<std::uint64_t>(pageSize) + allowance;
  if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) return;
  limit.rlim_cur = static_cast<rlim_t>(wanted);
  ::setrlimit(RLIMIT_AS, &limit);
#else
  (void)allowance;
#endif
}

bool ReadHeadersIsolated(const std::function<std::string()>& body, std::string* result) {
  constexpr unsigned kSeconds = 120;
  constexpr std::uint64_t kAllowance = std::uint64_t{512} << 20;
  return RunIsolated(
             [&body] {
               LimitAddressSpace(kAllowance);
               return body();
             },
             kSeconds, result) == IsolatedOutcome::kDone;
}

}  // namespace volume
