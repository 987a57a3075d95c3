#include "volume/Sinks.h"

#include <cstdio>

void StderrMessageSink::ShowMessage(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

void StdoutLogSink::AppendLine(const std::string& line) {
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}
