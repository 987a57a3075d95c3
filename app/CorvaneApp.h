// The application object: sets up Qt, the platform and the main window, runs
// the window and ends the program when it closes.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CCommandLine {
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

// The style and font of every window of the program (set on the application,
// after it has been created).
void ApplyApplicationLook();

// Reads the program's arguments (without the program name).
CCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

class CCorvaneApp {
 public:
  // Runs the program; returns the process's exit code.
  int InitInstance(int argc, char** argv);
};
