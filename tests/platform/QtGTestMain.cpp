// GoogleTest main for tests that need a QApplication. Runs on the offscreen
// platform unless another one is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "tests/TsanLibrarySuppressions.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Windows keep their recovery files in a folder of this run only: nothing
  // goes to the user's home, and no window is offered another run's work.
  QTemporaryDir state;
  if (!state.isValid()) return 1;
  qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
