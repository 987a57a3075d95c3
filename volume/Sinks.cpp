#include "volume/Sinks.h"

#include <cstdio>

namespace volume {

void StdoutLogSink::AppendLine(const std::string& line) {
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace volume
