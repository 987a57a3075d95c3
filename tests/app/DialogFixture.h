// A main window on the scripted platform, with small volumes written to a
// temporary folder and helpers that click controls and answer the dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "../volume/TestVolumes.h"
#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "platform/ScriptedPlatform.h"
#include "viewer/VoxelSliceViewerWidget.h"
#include "volume/Writers.h"

namespace apptest {

using Lines = std::vector<std::string>;

using testvolumes::MakeBox;
using testvolumes::MakeImage;
using testvolumes::SameVoxels;

class DialogFixture : public ::testing::Test {
 protected:
  static constexpr int kX = 64, kY = 48, kZ = 10;

  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_startDirectory = QDir::currentPath();
    m_dialog = std::make_unique<CCorvaneDlg>(m_platform);
    m_dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
  }

  void TearDown() override {
    m_dialog.reset();
    QDir::setCurrent(m_startDirectory);
    EXPECT_EQ(m_platform.UnansweredDialogs(), 0) << "a dialog opened that the test did not expect";
  }

  CCorvaneDlg& Dialog() { return *m_dialog; }
  CVoxelSliceViewer& Viewer() { return m_dialog->Viewer(); }

  std::string PathOf(const std::string& name) const {
    return m_dir.filePath(QString::fromStdString(name)).toStdString();
  }

  // Writes a volume as a lossless MetaImage file and returns its path.
  std::string Write(const std::string& name, const CVoxel& volume) {
    const std::string path = PathOf(name);
    std::string error;
    EXPECT_TRUE(volume::SaveMetaImageShort(volume, path, &error)) << error;
    return path;
  }

  QAbstractButton* Button(int id) { return m_dialog->ControlAs<QAbstractButton>(id); }
  QSlider* Slider(int id) { return m_dialog->ControlAs<QSlider>(id); }
  QString Text(int id) {
    if (auto* label = m_dialog->ControlAs<QLabel>(id)) return label->text();
    if (auto* edit = m_dialog->ControlAs<QLineEdit>(id)) return edit->text();
    return Button(id)->text();
  }
  bool Enabled(int id) { return m_dialog->Control(id)->isEnabled(); }
  bool Checked(int id) { return Button(id)->isChecked(); }
  void SetEditText(int id, const QString& text) { m_dialog->ControlAs<QLineEdit>(id)->setText(text); }

  // A user's click: does nothing on a disabled control.
  void Click(int id) { Button(id)->click(); }
  // Clicks a command whose file dialog is answered with `path` (empty: cancel).
  void ClickWithFile(int id, const std::optional<std::string>& path) {
    m_platform.QueueFile(path);
    Click(id);
  }

  // A left click on the window's own surface, away from every control (it
  // takes a typed brush size).
  void ClickTheWindowSurface() {
    for (int y = 1; y < m_dialog->height(); y += 3)
      for (int x = 1; x < m_dialog->width(); x += 3)
        if (!m_dialog->childAt(x, y)) {
          QTest::mouseClick(m_dialog.get(), Qt::LeftButton, {}, QPoint(x, y));
          return;
        }
    FAIL() << "the window has no free surface";
  }

  std::vector<std::string> Messages() { return m_platform.TakeMessages(); }
  Lines Log() { return m_dialog->LogLines(); }

  // The usual start: an image of kX x kY x kZ, then a segmentation box.
  void LoadCase() {
    ClickWithFile(app::ctl::kLoadImage, Write("image.mhd", MakeImage(kX, kY, kZ)));
    ClickWithFile(app::ctl::kLoadSegmentation,
                  Write("segmentation.mhd", MakeBox(kX, kY, kZ, 20, 40, 15, 30, 3, 7)));
    ASSERT_NE(m_dialog->Segmentation(), nullptr);
  }

  // Screen point of plane point (h, v) for painting on the current view.
  QPoint ScreenPoint(int h, int v) {
    const double zoom = Viewer().Zoom();
    return QPoint(static_cast<int>((h + 0.5) * zoom) - Viewer().PanX(),
                  static_cast<int>((v + 0.5) * zoom) - Viewer().PanY());
  }
  void PaintAt(int h, int v, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    auto& widget = m_dialog->ViewerWidget();
    QTest::mousePress(&widget, Qt::LeftButton, modifiers, ScreenPoint(h, v));
    QTest::mouseRelease(&widget, Qt::LeftButton, modifiers, ScreenPoint(h, v));
  }

  // Manual mode with Marking on and the scribble help written.
  void StartManualMarking() {
    Click(app::ctl::kManual);
    Click(app::ctl::kMarking);
    ASSERT_TRUE(m_dialog->Marking());
  }

  ScriptedPlatform m_platform;
  QTemporaryDir m_dir;
  QString m_startDirectory;
  std::unique_ptr<CCorvaneDlg> m_dialog;
};

}  // namespace apptest
