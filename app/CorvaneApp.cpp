#include "app/CorvaneApp.h"

#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>

#include "app/AppIcon.h"
#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "corvane/Version.h"
#include "platform/QtPlatform.h"

CCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CCommandLine result;
  const std::pair<const char*, std::optional<std::string> CCommandLine::*> options[] = {
      {"--image", &CCommandLine::image},
      {"--segmentation", &CCommandLine::segmentation},
      {"--boundary", &CCommandLine::boundary},
      {"--scribbles", &CCommandLine::scribbles},
      {"--references", &CCommandLine::referenceDir},
      {"--demo", &CCommandLine::demoDir},
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    bool known = false;
    for (const auto& [name, member] : options) {
      const std::string option = name;
      std::optional<std::string> value;
      if (argument == option) {
        if (i + 1 < arguments.size()) value = arguments[++i];
      } else if (argument.rfind(option + "=", 0) == 0) {
        value = argument.substr(option.size() + 1);
      } else {
        continue;
      }
      known = true;
      if (!value || value->empty()) {
        result.error =
            option + " needs " + (option == "--demo" || option == "--references" ? "a folder" : "a file");
        return result;
      }
      result.*member = std::move(value);
      break;
    }
    if (!known) {
      result.error = "unknown argument: " + argument;
      return result;
    }
  }
  return result;
}

void ApplyApplicationLook() {
  // One look on every desktop, so that the laid-out texts fit everywhere.
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
  QApplication::setFont(DialogFont());
}

std::optional<int> AnswerWithoutDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::printf("%s\n%s", kCommandLineUsage, kCommandLineHelp);
      return 0;
    }
    if (argument == "--version") {
      std::printf("corvane %s\n", CORVANE_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

int CCorvaneApp::InitInstance(int argc, char** argv) {
  // Answered before the application object exists, which needs a display.
  if (const std::optional<int> status = AnswerWithoutDisplay(argc, argv)) return *status;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
  QApplication::setWindowIcon(CorvaneIcon());
  ApplyApplicationLook();

  std::vector<std::string> arguments;
  const QStringList qtArguments = QApplication::arguments();  // Qt's own options removed
  for (int i = 1; i < qtArguments.size(); ++i) arguments.push_back(qtArguments[i].toStdString());
  const CCommandLine commandLine = ParseCommandLine(arguments);
  if (!commandLine.error.empty()) {
    std::fprintf(stderr, "corvane: %s\n%s\n", commandLine.error.c_str(), kCommandLineUsage);
    return 1;
  }

  CQtPlatform platform;
  auto absolute = [](const std::optional<std::string>& path) -> std::optional<std::string> {
    if (!path) return std::nullopt;
    return QDir::toNativeSeparators(QDir(QString::fromStdString(*path)).absolutePath()).toStdString();
  };
  CCorvaneDlg::Options options;
  if (commandLine.demoDir) {
    const QString demo = QDir(QString::fromStdString(*commandLine.demoDir)).absolutePath();
    platform.SetFileDialogDirectory(QDir::toNativeSeparators(demo).toStdString());
    options.referenceDir =
        QDir::toNativeSeparators(QDir(demo).filePath(QStringLiteral("references"))).toStdString();
  }
  if (commandLine.referenceDir) options.referenceDir = *absolute(commandLine.referenceDir);
  CCorvaneDlg dialog(platform, options);
  platform.SetOwnerWindow(&dialog);
  // The files are loaded once the window is on the screen, so that a message
  // about one of them appears over it. Work left by a window that crashed or
  // was killed is offered first; a case given back that way is not replaced
  // by the files of the command line.
  const CCaseFiles files{absolute(commandLine.image), absolute(commandLine.segmentation),
                         absolute(commandLine.boundary), absolute(commandLine.scribbles)};
  QTimer::singleShot(0, &dialog, [&dialog, &files] {
    if (!dialog.OfferRecovery()) dialog.OpenCase(files);
  });
  dialog.exec();
  return 0;
}
