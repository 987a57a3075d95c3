// The real Qt dialogs of QtPlatform, answered by a timer on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "platform/QtPlatform.h"

namespace {
// Runs `answer` on the first modal window that opens (polled by a timer), or
// gives up after a few seconds so that a missing dialog fails the test instead
// of hanging it.
template <typename Dialog>
void AnswerNextModal(std::function<void(Dialog*)> answer) {
  auto* timer = new QTimer;
  auto attempts = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, answer, attempts] {
    if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      answer(dialog);
      // An answer that did not close the dialog fails the test instead of hanging it.
      if (dialog->isVisible()) {
        ADD_FAILURE() << "the dialog stayed open";
        static_cast<QDialog*>(dialog)->done(QDialog::Rejected);
      }
    } else if (++*attempts > 500) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no dialog appeared";
    }
  });
  timer->start(10);
}
// Types a name into the dialog's file name box, as a user does.
void TypeFileName(QFileDialog* dialog, const QString& name) {
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(edit, nullptr);
  edit->setText(name);
}
}  // namespace

TEST(QtDialogs, OpenFileAcceptsANameThatDoesNotExistYet) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  platform::QtPlatform platform;
  platform.SetFileDialogDirectory(dir.path().toStdString());
  QStringList filters;
  QFileDialog::ViewMode mode = QFileDialog::List;
  AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
    filters = dialog->nameFilters();
    mode = dialog->viewMode();
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
    TypeFileName(dialog, QStringLiteral("new-result"));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as the Open button does
  });
  const auto path =
      platform.ChooseFile("Select Seed Mask Save Path(*.mhd)|*.mhd|", platform::FileListView::kList);
  ASSERT_TRUE(path.has_value());
  // A new name without suffix takes the filter's.
  EXPECT_EQ(QDir(QString::fromStdString(*path)).absolutePath(),
            QDir(dir.filePath("new-result.mhd")).absolutePath());
  EXPECT_EQ(filters, QStringList{"Select Seed Mask Save Path(*.mhd)"});
  EXPECT_EQ(mode, QFileDialog::List);
  // The next dialog opens where the previous choice was made.
  EXPECT_EQ(platform.FileDialogDirectory(), QDir(dir.path()).absolutePath().toStdString());
}

TEST(QtDialogs, ExistingFileIsChosenWithoutAnOverwriteQuestionInReportView) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile existing(dir.filePath("seg.mhd"));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.close();
  platform::QtPlatform platform;
  platform.SetFileDialogDirectory(dir.path().toStdString());
  QFileDialog::ViewMode mode = QFileDialog::List;
  AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
    mode = dialog->viewMode();
    TypeFileName(dialog, QStringLiteral("seg.mhd"));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as the Open button does
  });
  const auto path = platform.ChooseFile("Ground truth Files(*.mhd)|*.mhd|All Files(*.*)|*.*||",
                                        platform::FileListView::kReport);
  // Had an overwrite question been asked, the answer above would not have
  // accepted the dialog and no path would come back.
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(QFileInfo(QString::fromStdString(*path)).fileName(), "seg.mhd");
  EXPECT_EQ(mode, QFileDialog::Detail);
}

TEST(QtDialogs, ANameTypedUnderTheNiftiFilterIsSavedAsNifti) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  platform::QtPlatform platform;
  platform.SetFileDialogDirectory(dir.path().toStdString());
  AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
    dialog->selectNameFilter(QStringLiteral("NIfTI (*.nii.gz *.nii)"));
    TypeFileName(dialog, QStringLiteral("corrected"));
    static_cast<QDialog*>(dialog)->accept();
  });
  const auto path = platform.ChooseFile("MetaImage (*.mhd)|*.mhd|NIfTI (*.nii.gz *.nii)|*.nii.gz;*.nii||",
                                        platform::FileListView::kList);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(QFileInfo(QString::fromStdString(*path)).fileName(), "corrected.nii.gz");
}

TEST(QtDialogs, CancelReturnsNothing) {
  platform::QtPlatform platform;
  AnswerNextModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(platform.ChooseFile("All Files(*.*)|*.*||", platform::FileListView::kList).has_value());
  AnswerNextModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(platform.BrowseForFolder("Select directory containing training data").has_value());
}

TEST(QtDialogs, FolderBrowserOpensAtTheCurrentDirectory) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir("refs"));
  const QString previous = QDir::currentPath();
  platform::QtPlatform platform;
  ASSERT_TRUE(platform.SetCurrentDirectory(dir.path().toStdString()));
  QString opened;
  QString title;
  AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
    opened = dialog->directory().canonicalPath();
    title = dialog->windowTitle();
    TypeFileName(dialog, QStringLiteral("refs"));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as the Open button does
  });
  const auto folder = platform.BrowseForFolder("Select directory containing training data");
  QDir::setCurrent(previous);
  EXPECT_EQ(opened, QDir(dir.path()).canonicalPath());
  EXPECT_EQ(title, "Select directory containing training data");
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(QDir(QString::fromStdString(*folder)).canonicalPath(),
            QDir(dir.filePath("refs")).canonicalPath());
}

TEST(QtDialogs, MessageBoxHasTheTextAndOneOkButton) {
  platform::QtPlatform platform;
  QString text;
  int buttons = 0;
  AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
    text = box->text();
    buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  platform.ShowMessage("There is no backup result.");
  EXPECT_EQ(text, "There is no backup result.");
  EXPECT_EQ(buttons, 1);
}

TEST(QtDialogs, WaitCursorNestsAndIsRestored) {
  platform::QtPlatform platform;
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  {
    platform::WaitCursor outer(platform);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    { platform::WaitCursor inner(platform); }
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
