#include "platform/ScriptedPlatform.h"

#include <algorithm>

std::vector<std::string> ScriptedPlatform::Messages() const {
  std::lock_guard lock(m_messageMutex);
  return m_messages;
}

std::vector<std::string> ScriptedPlatform::TakeMessages() {
  std::lock_guard lock(m_messageMutex);
  std::vector<std::string> taken;
  taken.swap(m_messages);
  return taken;
}

void ScriptedPlatform::ShowMessage(const std::string& text) {
  std::lock_guard lock(m_messageMutex);
  m_messages.push_back(text);
}

int ScriptedPlatform::AskQuestion(const std::string& text, const std::vector<std::string>& buttons) {
  m_questions.push_back(text);
  if (!m_answers.empty()) {
    const std::string answer = std::move(m_answers.front());
    m_answers.pop_front();
    const auto it = std::find(buttons.begin(), buttons.end(), answer);
    if (it != buttons.end()) return static_cast<int>(it - buttons.begin());
  }
  ++m_unanswered;
  return -1;
}

std::optional<std::string> ScriptedPlatform::ChooseFile(const std::string& filter,
                                                        platform::FileListView view) {
  m_fileRequests.push_back({filter, view});
  if (m_fileAnswers.empty()) {
    ++m_unanswered;
    return std::nullopt;
  }
  auto answer = std::move(m_fileAnswers.front());
  m_fileAnswers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedPlatform::BrowseForFolder(const std::string& title) {
  m_folderRequests.push_back(title);
  if (m_folderAnswers.empty()) {
    ++m_unanswered;
    return std::nullopt;
  }
  auto answer = std::move(m_folderAnswers.front());
  m_folderAnswers.pop_front();
  return answer;
}

void ScriptedPlatform::BeginWaitCursor() {
  ++m_waitCursorDepth;
  ++m_waitCursorUses;
}

void ScriptedPlatform::EndWaitCursor() {
  if (m_waitCursorDepth > 0) --m_waitCursorDepth;
}

bool ScriptedPlatform::StartThread(std::function<void()> body) {
  if (m_failNextThreadStart) {
    m_failNextThreadStart = false;
    return false;
  }
  return platform::QtPlatform::StartThread(std::move(body));
}
