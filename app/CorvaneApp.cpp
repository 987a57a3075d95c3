#include "app/CorvaneApp.h"

#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "app/AppIcon.h"
#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "corvane/Version.h"
#include "platform/QtPlatform.h"

namespace app {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  const std::pair<const char*, std::optional<std::string> CommandLine::*> options[] = {
      {"--image", &CommandLine::image},
      {"--segmentation", &CommandLine::segmentation},
      {"--boundary", &CommandLine::boundary},
      {"--scribbles", &CommandLine::scribbles},
      {"--references", &CommandLine::referenceDir},
      {"--demo", &CommandLine::demoDir},
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

std::vector<std::string> ProgramArguments(int argc, const char* const* argv) {
  // Qt's own options (QGuiApplication's, QApplication's and those of its X11
  // platform), which the application object takes out of the arguments; the
  // first group takes a value, given after the option or after "=".
  static constexpr std::string_view kWithValue[] = {"platform",
                                                    "platformpluginpath",
                                                    "platformtheme",
                                                    "plugin",
                                                    "qwindowgeometry",
                                                    "geometry",
                                                    "qwindowicon",
                                                    "icon",
                                                    "qwindowtitle",
                                                    "title",
                                                    "session",
                                                    "display",
                                                    "name",
                                                    "style",
                                                    "stylesheet",
                                                    "visual",
                                                    "ncols",
                                                    "cmap",
                                                    "qmljsdebugger"};
  static constexpr std::string_view kWithoutValue[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    // Qt takes "-option" and "--option" alike.
    std::string_view name = argument;
    if (name.starts_with("--"))
      name.remove_prefix(2);
    else if (name.starts_with("-"))
      name.remove_prefix(1);
    else
      name = {};
    const std::size_t equals = name.find('=');
    const std::string_view bare = name.substr(0, equals);
    const auto in = [&](const auto& list) {
      return std::find(std::begin(list), std::end(list), bare) != std::end(list);
    };
    if (!name.empty() && in(kWithValue)) {
      if (equals == std::string_view::npos) ++i;  // the value follows
      continue;
    }
    if (!name.empty() && equals == std::string_view::npos && in(kWithoutValue)) continue;
    arguments.emplace_back(argument);
  }
  return arguments;
}

}  // namespace app

using namespace app;

int CCorvaneApp::InitInstance(int argc, char** argv) {
  // Answered before the application object exists, which needs a display.
  if (const std::optional<int> status = AnswerWithoutDisplay(argc, argv)) return *status;
  const CommandLine commandLine = ParseCommandLine(ProgramArguments(argc, argv));
  if (!commandLine.error.empty()) {
    std::fprintf(stderr, "corvane: %s\n%s\n", commandLine.error.c_str(), kCommandLineUsage);
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
  QApplication::setWindowIcon(CorvaneIcon());
  ApplyApplicationLook();

  platform::QtPlatform platform;
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
  const CaseFiles files{absolute(commandLine.image), absolute(commandLine.segmentation),
                        absolute(commandLine.boundary), absolute(commandLine.scribbles)};
  QTimer::singleShot(0, &dialog, [&dialog, &files] {
    if (!dialog.OfferRecovery()) dialog.OpenCase(files);
  });
  dialog.exec();
  return 0;
}
