#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "CommandLine.h"
#include "volume/FileIO.h"

namespace cli {

namespace {
sigset_t g_handled;

// A child made by fork() (the DICOM reader's) has no waiting thread: it takes
// SIGINT and SIGTERM with their default action again.
void UnblockInChild() { ::pthread_sigmask(SIG_UNBLOCK, &g_handled, nullptr); }
}  // namespace

void HandleInterruptions() {
  sigset_t& handled = g_handled;
  sigemptyset(&handled);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    // A shell starts background jobs with SIGINT ignored; they keep ignoring it.
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&handled, signal);
  }
  // Blocked here, inherited by every thread started later, and taken by the
  // waiting thread alone: the clean-up runs as ordinary code, not in a handler.
  if (::pthread_sigmask(SIG_BLOCK, &handled, nullptr) != 0) return;
  ::pthread_atfork(nullptr, nullptr, &UnblockInChild);
  std::thread([handled] {
    int signal = 0;
    while (::sigwait(&handled, &signal) != 0) {
    }
    temporaries::RemoveAllForExit();
    ::_exit(signal == SIGINT ? kInterrupted : kTerminated);
  }).detach();
}

}  // namespace cli
