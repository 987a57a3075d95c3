// The corvane-phantom command: options, and writing a case to a folder.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Phantom.h"

namespace phantom {

struct ToolOptions {
  PhantomOptions phantom;
  std::string outDir;
  bool help = false;
  bool version = false;
  bool quiet = false;
};

// Parses the arguments that follow the program name. Returns false with a
// one-line reason for an unknown option, a missing or malformed value, a value
// out of range or a missing --out (unless --help is given).
bool ParseToolArguments(const std::vector<std::string>& args, ToolOptions* options, std::string* error);

std::string ToolUsage();
// The program as the shared command-line code knows it (name, help).
const cli::Program& ToolProgram();

// File name of reference number index (0-based) out of count: case_NN_label.mhd,
// zero-padded to at least two digits and to the digits of count, so that sorting
// the names byte-wise keeps the numeric order.
std::string ReferenceFileName(int index, int count);

// The whole command: parses, generates, writes OUT/image.mhd, truth.mhd,
// segmentation.mhd, scribbles.mhd and OUT/references/case_NN_label.mhd, and
// prints a summary to out. Returns 0, or (with one line on err starting with
// "corvane-phantom: ") 1 for bad options and 3 for output that cannot be written.
int RunPhantomTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace phantom
