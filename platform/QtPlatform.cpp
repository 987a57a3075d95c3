#include "platform/QtPlatform.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/FileFilter.h"

namespace platform {

namespace {
QString ToQString(const std::string& text) { return QString::fromStdString(text); }
std::string ToStdString(const QString& text) { return text.toStdString(); }

QString MessageTitle() {
  const QString name = QGuiApplication::applicationDisplayName();
  return name.isEmpty() ? QStringLiteral("Corvane") : name;
}
}  // namespace

QtPlatform::QtPlatform() : m_windowThread(std::this_thread::get_id()) {
  if (::pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    // Without a pipe there is no way to wake the window's thread from a
    // worker; starting workers is then refused (see StartThread).
    m_wakePipe[0] = m_wakePipe[1] = -1;
    return;
  }
  m_wakeNotifier = std::make_unique<QSocketNotifier>(m_wakePipe[0], QSocketNotifier::Read);
  QObject::connect(m_wakeNotifier.get(), &QSocketNotifier::activated, [this] {
    char drained[64];
    while (::read(m_wakePipe[0], drained, sizeof drained) > 0) {
    }
    RunPostedTasks();
  });
}

QtPlatform::~QtPlatform() {
  // A worker may still be waiting for the window's thread: keep serving it.
  if (IsWindowThread()) WaitForThreads();
  for (auto& worker : m_workers) {
    if (worker->thread.joinable()) worker->thread.join();
  }
  m_wakeNotifier.reset();
  for (int fd : m_wakePipe) {
    if (fd >= 0) ::close(fd);
  }
}

bool QtPlatform::IsWindowThread() const { return std::this_thread::get_id() == m_windowThread; }

void QtPlatform::Wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing is lost when this write fails.
  [[maybe_unused]] const auto written = ::write(m_wakePipe[1], &byte, 1);
}

void QtPlatform::RunOnWindowThread(const std::function<void()>& task) {
  if (IsWindowThread()) {
    task();
    return;
  }
  Task posted;
  posted.function = &task;
  {
    std::lock_guard lock(m_taskMutex);
    m_tasks.push_back(&posted);
  }
  Wake();
  std::unique_lock lock(m_taskMutex);
  m_taskDone.wait(lock, [&posted] { return posted.finished; });
}

void QtPlatform::RunPostedTasks() {
  while (true) {
    Task* task = nullptr;
    {
      std::lock_guard lock(m_taskMutex);
      if (m_tasks.empty()) return;
      task = m_tasks.front();
      m_tasks.pop_front();
    }
    (*task->function)();
    {
      std::lock_guard lock(m_taskMutex);
      task->finished = true;
    }
    m_taskDone.notify_all();
  }
}

void QtPlatform::SetOwnerWindow(QWidget* window) { m_owner = window; }

QWidget* QtPlatform::OwnerWindow() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (m_owner) return m_owner.data();
  return QApplication::activeWindow();
}

void QtPlatform::ShowMessage(const std::string& text) {
  RunOnWindowThread([this, &text] {
    QMessageBox box(QMessageBox::Warning, MessageTitle(), ToQString(text), QMessageBox::Ok, OwnerWindow());
    box.exec();
  });
}

int QtPlatform::AskQuestion(const std::string& text, const std::vector<std::string>& buttons) {
  QMessageBox box(QMessageBox::Question, MessageTitle(), ToQString(text), QMessageBox::NoButton,
                  OwnerWindow());
  std::vector<QPushButton*> pressed;
  for (const std::string& label : buttons)
    pressed.push_back(box.addButton(ToQString(label), QMessageBox::ActionRole));
  if (!pressed.empty()) box.setDefaultButton(pressed.front());
  box.exec();
  const auto it = std::find(pressed.begin(), pressed.end(), box.clickedButton());
  return it == pressed.end() ? -1 : static_cast<int>(it - pressed.begin());
}

void QtPlatform::AppendLine(const std::string& line) {
  RunOnWindowThread([this, &line] {
    if (m_logTarget) m_logTarget(line);
  });
}

void QtPlatform::SetLogTarget(std::function<void(const std::string&)> append) {
  m_logTarget = std::move(append);
}

void QtPlatform::RememberFileDirectory(const std::string& chosenPath) {
  m_fileDialogDirectory = ToStdString(QFileInfo(ToQString(chosenPath)).absolutePath());
}

std::optional<std::string> QtPlatform::ChooseFile(const std::string& filter, FileListView view) {
  const QString start =
      m_fileDialogDirectory.empty() ? QDir::currentPath() : ToQString(m_fileDialogDirectory);
  QFileDialog dialog(OwnerWindow(), QStringLiteral("Open"), start);
  // Qt's own dialog: it accepts names of files that do not exist yet and,
  // being an open dialog, asks no overwrite question.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setViewMode(view == FileListView::kReport ? QFileDialog::Detail : QFileDialog::List);
  const auto filters = ParseFileFilter(filter);
  QStringList nameFilters;
  for (const auto& entry : filters) nameFilters << ToQString(ToNameFilter(entry));
  if (!nameFilters.isEmpty()) dialog.setNameFilters(nameFilters);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  const QFileInfo chosen(files.first());
  std::string path = ToStdString(QDir::toNativeSeparators(chosen.absoluteFilePath()));
  const qsizetype selected = nameFilters.indexOf(dialog.selectedNameFilter());
  if (selected >= 0)
    path = WithFilterSuffix(path, filters[static_cast<std::size_t>(selected)], chosen.exists());
  RememberFileDirectory(path);
  return path;
}

std::optional<std::string> QtPlatform::BrowseForFolder(const std::string& title) {
  QFileDialog dialog(OwnerWindow(), ToQString(title), QDir::currentPath());
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList folders = dialog.selectedFiles();
  if (folders.isEmpty() || folders.first().isEmpty()) return std::nullopt;
  return ToStdString(QDir::toNativeSeparators(folders.first()));
}

void QtPlatform::BeginWaitCursor() {
  if (m_waitCursorDepth++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtPlatform::EndWaitCursor() {
  if (m_waitCursorDepth > 0 && --m_waitCursorDepth == 0) QApplication::restoreOverrideCursor();
}

void QtPlatform::JoinFinishedWorkers() {
  auto finished = std::stable_partition(m_workers.begin(), m_workers.end(),
                                        [](const auto& worker) { return !worker->done.load(); });
  for (auto it = finished; it != m_workers.end(); ++it) (*it)->thread.join();
  m_workers.erase(finished, m_workers.end());
}

bool QtPlatform::StartThread(std::function<void()> body) {
  JoinFinishedWorkers();
  auto worker = std::make_unique<Worker>();
  Worker* self = worker.get();
  if (m_wakePipe[1] < 0) return false;
  try {
    worker->thread = std::thread([this, self, body = std::move(body)] {
      body();
      self->done.store(true);
      // Wakes a window thread that waits in WaitForThreads.
      Wake();
    });
  } catch (const std::system_error&) {
    return false;
  }
  m_workers.push_back(std::move(worker));
  return true;
}

void QtPlatform::WaitForThreads() {
  auto running = [this] {
    return std::any_of(m_workers.begin(), m_workers.end(), [](const auto& w) { return !w->done.load(); });
  };
  if (IsWindowThread()) {
    while (running()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  for (auto& worker : m_workers) {
    if (worker->thread.joinable()) worker->thread.join();
  }
  m_workers.clear();
}

std::string QtPlatform::GetCurrentDirectory() const {
  std::error_code error;
  const auto path = std::filesystem::current_path(error);
  return error ? std::string() : path.string();
}

bool QtPlatform::SetCurrentDirectory(const std::string& directory) {
  if (directory.empty()) return false;
  std::error_code error;
  std::filesystem::current_path(directory, error);
  return !error;
}

}  // namespace platform
