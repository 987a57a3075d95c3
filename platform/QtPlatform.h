// The platform services on Qt 6 Widgets.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"

class QSocketNotifier;
class QWidget;

namespace platform {

class QtPlatform : public Platform {
 public:
  // Must be constructed on the window's (GUI) thread, after the QApplication.
  QtPlatform();
  ~QtPlatform() override;
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  void ShowMessage(const std::string& text) override;
  void AppendLine(const std::string& line) override;
  int AskQuestion(const std::string& text, const std::vector<std::string>& buttons) override;
  void SetLogTarget(std::function<void(const std::string&)> append) override;
  void RunOnWindowThread(const std::function<void()>& task) override;
  bool IsWindowThread() const override;
  std::optional<std::string> ChooseFile(const std::string& filter, FileListView view) override;
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  bool StartThread(std::function<void()> body) override;
  void WaitForThreads() override;
  std::string GetCurrentDirectory() const override;
  bool SetCurrentDirectory(const std::string& directory) override;

  // The folder the open-file dialogs show first; afterwards they open where the
  // previous choice was made. Empty: the process's current directory.
  void SetFileDialogDirectory(const std::string& directory) { m_fileDialogDirectory = directory; }
  const std::string& FileDialogDirectory() const { return m_fileDialogDirectory; }

  // The window that owns message boxes and dialogs (the active window when unset).
  void SetOwnerWindow(QWidget* window);

 protected:
  QWidget* OwnerWindow() const;
  // Remembers the folder of a chosen file for the next open-file dialog.
  void RememberFileDirectory(const std::string& chosenPath);

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  struct Task {
    const std::function<void()>* function = nullptr;
    bool finished = false;
  };

  // Runs the tasks posted by other threads (window's thread only).
  void RunPostedTasks();
  void JoinFinishedWorkers();
  // Wakes the window's thread from any thread: one byte into the wake pipe.
  // Workers allocate no Qt objects on their side of the hand-over, so every
  // synchronisation between the threads is one the sanitizers can see.
  void Wake();

  const std::thread::id m_windowThread;
  int m_wakePipe[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> m_wakeNotifier;  // lives on the window's thread
  QPointer<QWidget> m_owner;
  std::function<void(const std::string&)> m_logTarget;  // window's thread only
  std::string m_fileDialogDirectory;
  int m_waitCursorDepth = 0;

  // Tasks handed to the window's thread. The handshake runs through these
  // standard primitives so that every hand-over is a visible synchronisation.
  std::mutex m_taskMutex;
  std::condition_variable m_taskDone;
  std::deque<Task*> m_tasks;

  std::vector<std::unique_ptr<Worker>> m_workers;  // window's thread only
};

}  // namespace platform
