#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <latch>
#include <memory>
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
  // The caller goes on only once the waiting thread has started: a fork() made
  // while it is still starting can copy a lock it holds (the sanitizers' thread
  // registry, say) into the child, where the DICOM reader's threads then wait
  // on it for ever.
  // (Shared: the thread may still be inside count_down() when this returns.)
  const auto started = std::make_shared<std::latch>(1);
  std::thread([started] {
    started->count_down();
    int signal = 0;
    while (::sigwait(&g_handled, &signal) != 0) {
    }
    volume::temporaries::RemoveAllForExit();
    ClearProgressLineForExit();
    ::_exit(signal == SIGINT ? kInterrupted : kTerminated);
  }).detach();
  started->wait();
}

}  // namespace cli
