#include "CommandLine.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "corvane/Version.h"
#include "volume/FileIO.h"

namespace cli {

bool Fail(Failure& failure, int status, std::string message) {
  failure = {status, std::move(message)};
  return false;
}

bool ParseWholeNumber(const std::string& text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && value >= low && value <= high;
}

const char kExitStatusHelp[] =
    "Exit status: 0 done; 1 bad arguments; 2 an input cannot be read or does not fit; 3 an output\n"
    "cannot be written; 130 interrupted (SIGINT), 143 terminated (SIGTERM), with no temporary file\n"
    "left behind.\n";

namespace {

bool g_quiet = false;

std::mutex g_progressLock;      // guards g_shown and the terminal while a progress line may be shown
const void* g_shown = nullptr;  // the progress whose line is on the terminal

// Clears the shown progress line, if any; g_progressLock is held.
void ClearShownLine() {
  if (!g_shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  g_shown = nullptr;
}

const Option* Find(const std::vector<Option>& options, std::string_view name) {
  for (const Option& o : options)
    if (o.name == name || (!o.alias.empty() && o.alias == name)) return &o;
  return nullptr;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool Arguments::Has(std::string_view name) const {
  return std::any_of(m_given.begin(), m_given.end(), [&](const auto& g) { return g.first == name; });
}

std::string Arguments::Value(std::string_view name) const {
  for (const auto& [n, v] : m_given)
    if (n == name) return v;
  return {};
}

std::vector<std::string> Arguments::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [n, v] : m_given)
    if (n == name) values.push_back(v);
  return values;
}

void Arguments::CopyValues(std::initializer_list<std::pair<std::string_view, std::string*>> into) const {
  for (const auto& [name, value] : into)
    if (Has(name)) *value = Value(name);
}

bool ParseOnly(const Program& program, const std::vector<std::string>& args,
               const std::vector<Option>& options, Arguments& arguments, std::string* error) {
  arguments = Arguments();
  const auto fail = [&](const std::string& problem) {
    *error = problem;
    return false;
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    if (optionsEnded || name == "-" || name.empty() || name.front() != '-') {
      if (!program.positional) return fail("unexpected argument '" + name + "'");
      arguments.m_positional.push_back(name);
      continue;
    }
    if (name == "--") {
      optionsEnded = true;
    } else if (name == "--help" || name == "-h") {
      arguments.m_help = true;
    } else if (name == "--version") {
      arguments.m_version = true;
    } else if (name == "-q" || name == "--quiet") {
      arguments.m_quiet = true;
    } else {
      std::optional<std::string> value;
      if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
        value = name.substr(equals + 1);
        name.resize(equals);
      }
      const Option* option = Find(options, name);
      if (!option) return fail("unknown argument '" + name + "'");
      if (!option->takesValue && value) return fail(name + " takes no value");
      if (option->takesValue && !value) {
        if (i + 1 >= args.size()) return fail(name + " needs a value");
        value = args[++i];
      }
      if (!option->repeatable && arguments.Has(option->name)) return fail(option->name + " is given twice");
      arguments.m_given.emplace_back(option->name, value.value_or(""));
    }
  }
  return true;
}

std::string HelpText(const Program& program) {
  std::string text = program.help + "\n" + kExitStatusHelp;
  if (program.someFailed)
    text +=
        "4 some cases could not be read: the others are measured and written, and each failed case\n"
        "has one line on stderr.\n";
  return text;
}

std::optional<int> Parse(const Program& program, int argc, const char* const* argv,
                         const std::vector<Option>& options, Arguments& arguments) {
  std::string problem;
  const bool parsed =
      ParseOnly(program, std::vector<std::string>(argv + 1, argv + argc), options, arguments, &problem);
  // --help and --version answer even next to other mistakes, as most tools do.
  if (arguments.Help()) {
    std::fputs(HelpText(program).c_str(), stdout);
    return kDone;
  }
  if (arguments.Version()) {
    std::printf("%s\n", VersionLine(program.name).c_str());
    return kDone;
  }
  if (!parsed) {
    Error(program.name, problem + " (see --help)");
    return kUsage;
  }
  SetQuiet(arguments.Quiet());
  return std::nullopt;
}

std::string VersionLine(const std::string& name) { return name + " " + CORVANE_VERSION; }

void Error(const std::string& program, const std::string& text) {
  const std::lock_guard hold(g_progressLock);
  ClearShownLine();
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", program.c_str(), text.c_str());
}

void Notice(const std::string& program, const std::string& text) {
  if (!g_quiet) Error(program, text);
}

void SetQuiet(bool quiet) { g_quiet = quiet; }
bool IsQuiet() { return g_quiet; }

std::string CheckOutput(const std::string& path, bool dashIsStdout) {
  if (path == "-" && dashIsStdout) return {};
  return volume::OutputProblem(path);
}

bool HasSuffix(std::string_view path, std::string_view suffix) {
  if (path.size() < suffix.size()) return false;
  const std::string_view end = path.substr(path.size() - suffix.size());
  return std::equal(end.begin(), end.end(), suffix.begin(), suffix.end(),
                    [](char a, char b) { return Lower(a) == Lower(b); });
}

std::string SuffixProblem(const std::string& program, const std::string& path,
                          const std::vector<std::string>& suffixes) {
  std::string list;
  for (std::size_t i = 0; i < suffixes.size(); ++i)
    list += (i == 0 ? "" : i + 1 == suffixes.size() ? " and " : ", ") + suffixes[i];
  return "cannot write '" + path + "': " + program + " writes " + list + " files";
}

// The progress line on the terminal: at most one at a time. The lock
// serialises everything written to the terminal while one may be shown.
struct Progress::Line {
  std::string program, what;
  long total = 0;
  std::atomic<long> done{0};
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::mutex lock;  // guards `stop` and the terminal
  std::condition_variable wake;
  bool stop = false;
  std::thread redraw;
};

void ClearProgressLineForExit() {
  // The thread that exits must not wait for a lock held by the work it ends.
  if (!g_progressLock.try_lock()) return;
  ClearShownLine();
  g_progressLock.unlock();
}

Progress::Progress(std::string program, std::string what, long total) {
  if (g_quiet || !::isatty(STDERR_FILENO)) return;
  m_line = std::make_unique<Line>();
  m_line->program = std::move(program);
  m_line->what = std::move(what);
  m_line->total = total;
  m_line->redraw = std::thread([line = m_line.get()] {
    using namespace std::chrono_literals;
    std::unique_lock wait(line->lock);
    std::string drawn;
    while (!line->wake.wait_for(wait, 250ms, [line] { return line->stop; })) {
      const auto elapsed = std::chrono::steady_clock::now() - line->start;
      if (elapsed < 1s) continue;
      char text[64];
      if (line->total > 0)
        std::snprintf(text, sizeof text, " %ld/%ld", line->done.load(), line->total);
      else
        std::snprintf(text, sizeof text, ", %ld s",
                      static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()));
      const std::lock_guard terminal(g_progressLock);
      // Drawn again when it changed or a message took its place.
      if (g_shown == line && drawn == text) continue;
      std::fprintf(stderr, "\r\033[K%s: %s%s", line->program.c_str(), line->what.c_str(), text);
      std::fflush(stderr);
      g_shown = line;
      drawn = text;
    }
  });
}

Progress::~Progress() {
  if (!m_line) return;
  {
    const std::lock_guard hold(m_line->lock);
    m_line->stop = true;
  }
  m_line->wake.notify_one();
  m_line->redraw.join();
  const std::lock_guard hold(g_progressLock);
  if (g_shown == m_line.get()) ClearShownLine();
}

void Progress::Update(long done) {
  if (m_line) m_line->done = done;
}

void PrintOut(const std::string& text) {
  const std::lock_guard hold(g_progressLock);
  ClearShownLine();
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace cli
