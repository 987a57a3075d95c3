// The application object: sets up Qt, the platform and the main window, runs
// the window and ends the program when it closes.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CCommandLine {
  // --demo DIR: the file dialogs open in DIR and the reference image directory
  // starts as DIR/references.
  std::optional<std::string> demoDir;
  std::string error;  // set when the arguments cannot be used
};

// Reads the program's arguments (without the program name).
CCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

class CCorvaneApp {
 public:
  // Runs the program; returns the process's exit code.
  int InitInstance(int argc, char** argv);
};
