#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "CommandLine.h"
#include "volume/FileIO.h"

namespace cli {

void HandleInterruptions() {
  sigset_t handled;
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
  std::thread([handled] {
    int signal = 0;
    while (::sigwait(&handled, &signal) != 0) {
    }
    temporaries::RemoveAllForExit();
    ::_exit(signal == SIGINT ? kInterrupted : kTerminated);
  }).detach();
}

}  // namespace cli
