// GoogleTest main for tests that need a QApplication. Runs on the offscreen
// platform unless another one is asked for.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/TsanLibrarySuppressions.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
