// The services of the windowing platform that the Corvane window relies on.
//
// The dialog code calls only this interface, so that the same code runs on the
// Qt platform (QtPlatform) and on the scripted platform the tests use
// (ScriptedPlatform, in tests/platform), which answers dialogs from a script and records message
// boxes. The platform is also the volume::MessageSink and volume::LogSink the Qt-free libraries
// report through: both may be called from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "volume/Sinks.h"

namespace platform {

// How an open-file dialog lists the files.
enum class FileListView {
  kList,    // the plain open-file dialog
  kReport,  // the same dialog with the file list in its details (report) layout
};

class Platform : public volume::MessageSink, public volume::LogSink {
 public:
  ~Platform() override = default;

  // MessageSink: a modal message box with the text and an OK button. Callable
  // from any thread; the box is shown on the window's thread and the caller
  // continues once it has been closed.
  //   void ShowMessage(const std::string& text);
  // LogSink: appends one line at the end of the window's log list. Callable
  // from any thread; the line is in the list when the call returns, so lines
  // appear in the order they were appended.
  //   void AppendLine(const std::string& line);

  // A modal question with the text and one button per answer, left to right.
  // Returns the index of the button pressed, or -1 when the box was closed
  // without an answer (Escape, the window manager). Window's thread only.
  virtual int AskQuestion(const std::string& text, const std::vector<std::string>& buttons) = 0;

  // Where AppendLine delivers its lines: called on the window's thread only.
  // An empty function drops lines (used while the window is being torn down).
  virtual void SetLogTarget(std::function<void(const std::string&)> append) = 0;

  // Runs `task` on the window's thread and returns when it has finished; a call
  // made on the window's thread runs it directly.
  virtual void RunOnWindowThread(const std::function<void()>& task) = 0;
  virtual bool IsWindowThread() const = 0;

  // The open-file dialog. `filter` is a "|"-separated list of description and
  // pattern pairs ("Text (*.txt)|*.txt|All Files(*.*)|*.*||"). Any file name is
  // accepted, also one that does not exist yet, and no overwrite question is
  // asked: the save commands choose their target with this dialog too.
  // Returns the chosen full path, or nothing when the user cancels.
  virtual std::optional<std::string> ChooseFile(const std::string& filter, platform::FileListView view) = 0;

  // The folder browser with a title; it opens at the process's current
  // directory. Returns the chosen folder, or nothing when the user cancels.
  virtual std::optional<std::string> BrowseForFolder(const std::string& title) = 0;

  // Wait cursor; calls nest. Use WaitCursor rather than calling these directly.
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;

  // Starts `body` on a new thread. Returns false when no thread could be started.
  virtual bool StartThread(std::function<void()> body) = 0;
  // Returns once every thread started here has ended. On the window's thread it
  // keeps serving the workers' RunOnWindowThread calls while it waits.
  virtual void WaitForThreads() = 0;

  // The process's current working directory (shared by every thread).
  virtual std::string GetCurrentDirectory() const = 0;
  virtual bool SetCurrentDirectory(const std::string& directory) = 0;
};

// Shows the wait cursor for the lifetime of the object.
class WaitCursor {
 public:
  explicit WaitCursor(Platform& platform) : m_platform(platform) { m_platform.BeginWaitCursor(); }
  ~WaitCursor() { m_platform.EndWaitCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  Platform& m_platform;
};

}  // namespace platform
