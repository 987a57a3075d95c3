// Work on files from outside done in a child process. The DICOM libraries
// end the process on some impossible states of their parsers (assertions)
// and loop forever on some malformed files: what they do to a file from a USB
// stick or a PACS must not take the program down, nor keep it waiting.
#pragma once

#include <functional>
#include <string>

enum class IsolatedOutcome {
  kDone,       // the body ran to its end; its text was handed back
  kNoProcess,  // no child process could be started
  kTimedOut,   // the body was still busy after its time
  kFailed,     // the child ended otherwise (an assertion, a signal, an exception)
};

// Runs `body` in a child process made by fork() and hands back the text it
// returns. In the child, SIGALRM and SIGABRT have their default actions, no
// core file is written and the libraries' diagnostics on stderr are dropped;
// a child still busy after `seconds` is ended. Threads the caller has are not
// in the child: `body` must not wait for them.
IsolatedOutcome RunIsolated(const std::function<std::string()>& body, unsigned seconds, std::string* result);
