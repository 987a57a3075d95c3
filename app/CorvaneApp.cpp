#include "app/CorvaneApp.h"

#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <cstdio>

#include "app/AppIcon.h"
#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "platform/QtPlatform.h"

CCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CCommandLine result;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--demo") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        result.error = "--demo needs a folder";
        return result;
      }
      result.demoDir = arguments[++i];
    } else if (argument.rfind("--demo=", 0) == 0 && argument.size() > 7) {
      result.demoDir = argument.substr(7);
    } else {
      result.error = "unknown argument: " + argument;
      return result;
    }
  }
  return result;
}

int CCorvaneApp::InitInstance(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  QApplication::setWindowIcon(CorvaneIcon());
  // One look on every desktop, so that the laid-out texts fit everywhere.
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
  QApplication::setFont(DialogFont());

  std::vector<std::string> arguments;
  const QStringList qtArguments = QApplication::arguments();  // Qt's own options removed
  for (int i = 1; i < qtArguments.size(); ++i) arguments.push_back(qtArguments[i].toStdString());
  const CCommandLine commandLine = ParseCommandLine(arguments);
  if (!commandLine.error.empty()) {
    std::fprintf(stderr, "corvane: %s\nusage: corvane [--demo DIR]\n", commandLine.error.c_str());
    return 2;
  }

  CQtPlatform platform;
  CCorvaneDlg::Options options;
  if (commandLine.demoDir) {
    const QString demo = QDir(QString::fromStdString(*commandLine.demoDir)).absolutePath();
    platform.SetFileDialogDirectory(QDir::toNativeSeparators(demo).toStdString());
    options.referenceDir =
        QDir::toNativeSeparators(QDir(demo).filePath(QStringLiteral("references"))).toStdString();
  }
  CCorvaneDlg dialog(platform, options);
  platform.SetOwnerWindow(&dialog);
  dialog.exec();
  return 0;
}
