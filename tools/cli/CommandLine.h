// What every Corvane command-line program shares: option parsing (`--opt value`
// and `--opt=value`), --help and --version, -q, the exit-status table, the
// checks of output names before any work, and clean exits on SIGINT/SIGTERM.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The exit statuses of every tool.
enum Exit : int {
  kDone = 0,
  kUsage = 1,          // bad arguments
  kInput = 2,          // an input cannot be read or does not fit
  kOutput = 3,         // an output cannot be written
  kSomeFailed = 4,     // a cohort was measured and written without the cases that could not be read
  kInterrupted = 130,  // SIGINT (128 + 2)
  kTerminated = 143,   // SIGTERM (128 + 15)
};

// The table as --help prints it.
extern const char kExitStatusHelp[];

struct Option {
  std::string name;  // "--truth"; a one-letter alias such as "-o" may follow in `alias`
  bool takesValue = true;
  bool repeatable = false;
  std::string alias = "";
};

struct Program {
  std::string name;         // "corvane-volume"
  std::string help;         // usage and description; the exit-status table is appended
  bool positional = false;  // whether arguments that are not options are accepted
  bool someFailed = false;  // whether the table lists kSomeFailed
};

class Arguments {
 public:
  bool Has(std::string_view name) const;
  // The value of an option given once ("" when absent).
  std::string Value(std::string_view name) const;
  // Every value of a repeatable option, in the given order.
  std::vector<std::string> Values(std::string_view name) const;
  // Copies the value of each option given (a name and the string it goes to).
  void CopyValues(std::initializer_list<std::pair<std::string_view, std::string*>> into) const;
  const std::vector<std::string>& Positional() const { return m_positional; }
  bool Quiet() const { return m_quiet; }
  bool Help() const { return m_help; }
  bool Version() const { return m_version; }

 private:
  friend bool ParseOnly(const Program&, const std::vector<std::string>&, const std::vector<Option>&,
                        Arguments&, std::string*);
  std::vector<std::pair<std::string, std::string>> m_given;
  std::vector<std::string> m_positional;
  bool m_quiet = false, m_help = false, m_version = false;
};

// The parsing alone, for programs that report through streams of their own:
// false with the problem (without "(see --help)") in *error.
bool ParseOnly(const Program& program, const std::vector<std::string>& args,
               const std::vector<Option>& options, Arguments& arguments, std::string* error);

// --help's text: the program's help and the exit-status table.
std::string HelpText(const Program& program);

// Parses the arguments after the program name. Returns an exit status when
// the program is done: 0 after --help (to stdout, with the exit-status table)
// or --version, kUsage after one line on stderr naming the problem. -q and
// --quiet silence notices; "--" ends the options; "-" is an ordinary argument.
std::optional<int> Parse(const Program& program, int argc, const char* const* argv,
                         const std::vector<Option>& options, Arguments& arguments);

// "corvane-volume 1.0".
std::string VersionLine(const std::string& name);

// One line on stderr: "<program>: <text>". Notices are dropped under -q.
void Error(const std::string& program, const std::string& text);
void Notice(const std::string& program, const std::string& text);
void SetQuiet(bool quiet);
bool IsQuiet();

// Checks an output name before any work: empty when it can be written (as a
// file, or "-" for standard output when `dashIsStdout`), else the sentence.
std::string CheckOutput(const std::string& path, bool dashIsStdout);

// Whether a name ends in one of `suffixes` (ASCII case ignored).
bool HasSuffix(std::string_view path, std::string_view suffix);
// The sentence that refuses a suffix: "cannot write 'x.nrrd': corvane-volume
// writes .raw, .mhd, .mha, .nii and .nii.gz files".
std::string SuffixProblem(const std::string& program, const std::string& path,
                          const std::vector<std::string>& suffixes);

// A tool's failure: its exit status and its one line.
struct Failure {
  int status = kInput;
  std::string message;
};
// Records the failure and returns false, so that a check reads `return Fail(...)`.
bool Fail(Failure& failure, int status, std::string message);

// Whether `text` is a whole decimal number in [low, high]; the number in `value`.
bool ParseWholeNumber(const std::string& text, long low, long high, long& value);

// Handles SIGINT and SIGTERM on a thread of their own: removes the recorded
// temporary files and folders and exits 130 or 143. Call first in main, before
// any other thread starts (the signals are blocked in every thread started later).
// A signal that was ignored when the program started stays ignored.
void HandleInterruptions();

// A progress line on stderr, "<program>: <what> <done>/<total>" (or, for
// work whose size is not known, total 0: "<program>: <what>, <seconds> s"),
// redrawn in place by a thread of its own a few times a second. Shown only
// when stderr is a terminal and notices are on, once the work has lasted over
// a second; cleared when done, and before any line of cli::Error or Notice
// (it comes back at the next redraw).
class Progress {
 public:
  Progress(std::string program, std::string what, long total = 0);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Update(long done);

 private:
  struct Line;
  std::unique_ptr<Line> m_line;
};

// Writes to stdout with the progress line (if one is shown) cleared first, so
// that output and progress on one terminal do not run into each other.
void PrintOut(const std::string& text);

// Clears a progress line left on the terminal, unless the terminal is busy;
// for the exit on an interruption.
void ClearProgressLineForExit();

}  // namespace cli
