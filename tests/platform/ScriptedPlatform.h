// A platform whose dialogs are answered from a script and whose message boxes
// are recorded instead of shown: lets tests and automation drive the window
// without a person. Everything else (threads, the window's thread, the log,
// the current directory) is the real Qt platform.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/QtPlatform.h"

class ScriptedPlatform : public platform::QtPlatform {
 public:
  struct FileRequest {
    std::string filter;
    platform::FileListView view = platform::FileListView::kList;
  };

  // The answers of the next file dialogs and folder browsers, in order; an
  // empty answer is a cancel. A dialog without a queued answer is cancelled
  // and counted in UnansweredDialogs().
  void QueueFile(std::optional<std::string> answer) { m_fileAnswers.push_back(std::move(answer)); }
  void QueueFolder(std::optional<std::string> answer) { m_folderAnswers.push_back(std::move(answer)); }
  // The answers of the next questions, by button text, in order. A question
  // without a queued answer (or whose answer is not one of its buttons) is
  // closed without an answer and counted in UnansweredDialogs().
  void QueueAnswer(std::string button) { m_answers.push_back(std::move(button)); }
  // Questions asked so far, in order.
  const std::vector<std::string>& Questions() const { return m_questions; }
  // The next StartThread fails as if the system had no thread to give.
  void FailNextThreadStart() { m_failNextThreadStart = true; }

  // Message boxes shown so far (from any thread), in order.
  std::vector<std::string> Messages() const;
  // Returns the recorded messages and forgets them.
  std::vector<std::string> TakeMessages();

  const std::vector<FileRequest>& FileRequests() const { return m_fileRequests; }
  const std::vector<std::string>& FolderRequests() const { return m_folderRequests; }
  int UnansweredDialogs() const { return m_unanswered; }
  int WaitCursorDepth() const { return m_waitCursorDepth; }
  int WaitCursorUses() const { return m_waitCursorUses; }

  void ShowMessage(const std::string& text) override;
  int AskQuestion(const std::string& text, const std::vector<std::string>& buttons) override;
  std::optional<std::string> ChooseFile(const std::string& filter, platform::FileListView view) override;
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  bool StartThread(std::function<void()> body) override;

 private:
  mutable std::mutex m_messageMutex;
  std::vector<std::string> m_messages;
  std::deque<std::optional<std::string>> m_fileAnswers;
  std::deque<std::optional<std::string>> m_folderAnswers;
  std::deque<std::string> m_answers;
  std::vector<std::string> m_questions;
  std::vector<FileRequest> m_fileRequests;
  std::vector<std::string> m_folderRequests;
  int m_unanswered = 0;
  int m_waitCursorDepth = 0;
  int m_waitCursorUses = 0;
  bool m_failNextThreadStart = false;
};
