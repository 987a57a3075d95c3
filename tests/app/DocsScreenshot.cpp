// Renders the main window with a demo case loaded, for the documentation:
//   corvane_docs_screenshot <demo folder from corvane-phantom> <out.png>
// The window is the real one; its file dialogs are answered by the scripted
// platform. Run it under xvfb-run (or QT_QPA_PLATFORM=offscreen).
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QSlider>
#include <QStyleFactory>
#include <QTest>
#include <cstdio>

#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "platform/ScriptedPlatform.h"
#include "viewer/VoxelSliceViewerWidget.h"

using namespace app;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: corvane_docs_screenshot <demo folder> <out.png>\n");
    return 2;
  }
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setFont(DialogFont());
  const QDir demo(QString::fromLocal8Bit(argv[1]));
  auto file = [&](const char* name) { return QDir::toNativeSeparators(demo.filePath(name)).toStdString(); };

  ScriptedPlatform platform;
  CCorvaneDlg::Options options;
  options.referenceDir = file("references");
  // A picture for the documentation leaves no recovery file behind.
  options.recoveryFolder.clear();
  CCorvaneDlg dialog(platform, options);
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog)) return 1;
  auto click = [&](int id) { dialog.ControlAs<QAbstractButton>(id)->click(); };

  platform.QueueFile(file("image.mhd"));
  click(ctl::kLoadImage);
  platform.QueueFile(file("segmentation.mhd"));
  click(ctl::kLoadSegmentation);
  platform.QueueFile(file("truth.mhd"));
  click(ctl::kLoadBoundary);
  click(ctl::kSemiAutomatic);
  click(ctl::kMarking);
  platform.QueueFile(file("scribbles.mhd"));
  click(ctl::kLoadUI);
  // A slice through the middle of the organ.
  QSlider* slices = dialog.ControlAs<QSlider>(ctl::kSliceZ);
  slices->setSliderPosition((slices->maximum() + 1) / 2);
  QTest::qWait(200);

  for (const auto& message : platform.Messages()) std::fprintf(stderr, "message: %s\n", message.c_str());
  if (!dialog.grab().save(QString::fromLocal8Bit(argv[2]))) return 1;
  return platform.Messages().empty() ? 0 : 1;
}
