// corvane-phantom: writes one synthetic prostate case (see --help).
#include <iostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "PhantomTool.h"

int main(int argc, char** argv) {
  cli::HandleInterruptions();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return phantom::RunPhantomTool(args, std::cout, std::cerr);
}
