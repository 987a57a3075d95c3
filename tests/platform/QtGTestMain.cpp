// GoogleTest main for tests that need a QApplication. Runs on the offscreen
// platform unless another one is asked for.
#include <gtest/gtest.h>

#include <QApplication>

#if defined(__SANITIZE_THREAD__)
// Qt, TBB and VTK come from the distribution, not built with ThreadSanitizer:
// their internal hand-overs (futex based thread pools) are invisible to it, so
// the memory calls these libraries make themselves are not checked. Every
// access made by our own code stays checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so\n"
         "called_from_lib:libQt6Gui.so\n"
         "called_from_lib:libQt6Widgets.so\n"
         "called_from_lib:libtbb.so\n"
         "called_from_lib:libvtkCommonCore\n";
}
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
