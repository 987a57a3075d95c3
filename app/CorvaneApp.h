// The application object: sets up Qt, the platform and the main window, runs
// the window and ends the program when it closes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

struct CommandLine {
  // --image, --segmentation, --boundary, --scribbles: files loaded at start,
  // in this order, as the Load Image, Load Segmentation, Load Boundary and
  // Load UI buttons would load them.
  std::optional<std::string> image;
  std::optional<std::string> segmentation;
  std::optional<std::string> boundary;
  std::optional<std::string> scribbles;
  // --references DIR: the reference image directory the window starts with.
  std::optional<std::string> referenceDir;
  // --demo DIR: the file dialogs open in DIR and the reference image directory
  // starts as DIR/references (unless --references says otherwise).
  std::optional<std::string> demoDir;
  std::string error;  // set when the arguments cannot be used
};

inline constexpr const char* kCommandLineUsage =
    "usage: corvane [--image I] [--segmentation S] [--boundary B] [--scribbles M] [--references DIR] "
    "[--demo DIR]";

// What --help prints after the usage line.
inline constexpr const char* kCommandLineHelp =
    "       corvane --help | --version\n"
    "\n"
    "Opens the Corvane window, in which a 3-D prostate segmentation on an MR volume is corrected\n"
    "with scribbles, by hand or semi-automatically from a folder of reference labels.\n"
    "\n"
    "  --image I          the MR image to load once the window is open\n"
    "  --segmentation S   the segmentation to correct\n"
    "  --boundary B       a label whose contour is shown (a ground truth, say)\n"
    "  --scribbles M      a scribble map (2 foreground, 3 background)\n"
    "  --references DIR   the folder of reference labels for the semi-automatic correction\n"
    "  --demo DIR         a case folder: file dialogs open there, references in DIR/references\n"
    "Options take their value as --opt VALUE or --opt=VALUE. --help and --version need no display.\n"
    "\n"
    "Exit status: 0 the window was closed; 1 bad arguments.\n";

// Prints --help or --version when asked (and returns 0), before any display is
// needed; nullopt when the window is to open.
std::optional<int> AnswerWithoutDisplay(int argc, char** argv);

// The style and font of every window of the program (set on the application,
// after it has been created).
void ApplyApplicationLook();

// Reads the program's arguments (without the program name).
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The program's own arguments: argv without the program name and without the
// options Qt takes for itself (-platform NAME, -style=NAME, -reverse, ...), so
// that they can be read before the application object, which needs a
// display, exists.
std::vector<std::string> ProgramArguments(int argc, const char* const* argv);

}  // namespace app

class CCorvaneApp {
 public:
  // Runs the program; returns the process's exit code.
  int InitInstance(int argc, char** argv);
};
