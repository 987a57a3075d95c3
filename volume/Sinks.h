// Where the Qt-free libraries send what the user must see.
//
// A MessageSink shows a modal message with an OK button (the window shows a
// message box; the command-line tools print to stderr). A LogSink appends one
// progress line to the log (the window's log list, or stdout in the tools).
// Both may be called from a worker thread; implementations must cope.
#pragma once

#include <string>
#include <vector>

namespace volume {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLine(const std::string& line) = 0;
};

// The log sink of the command-line tools.
class StdoutLogSink final : public LogSink {
 public:
  void AppendLine(const std::string& line) override;
};

// Collects everything, for tests (single-threaded use).
class RecordingSink final : public MessageSink, public LogSink {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void AppendLine(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> messages;
  std::vector<std::string> lines;
};

}  // namespace volume
