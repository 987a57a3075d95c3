// Work on files from outside done in a child process. The DICOM libraries
// end the process on some impossible states of their parsers (assertions)
// and loop forever on some malformed files: what they do to a file from a USB
// stick or a PACS must not take the program down, nor keep it waiting.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace volume {

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

// For a body run by RunIsolated: bounds the child's address space to what it
// has plus `allowance` bytes. The DICOM libraries allocate (and fill) a value
// of the length a file declares before reading it: a corrupt length of
// gigabytes would otherwise cost seconds of work and as much memory before
// the file is found short; with the bound the allocation fails at once. (Not
// in the DICOM fuzz target, which is to see the library's allocations as they are.)
void LimitAddressSpace(std::uint64_t allowance);

// RunIsolated for work that reads DICOM headers only (pixel data skipped), in
// a folder or the folders beside a file: the child's address space is bounded
// to a few hundred megabytes more than it has, and it has two minutes. True
// when `body` ran to its end, with its text in *result.
bool ReadHeadersIsolated(const std::function<std::string()>& body, std::string* result);

}  // namespace volume
