#include <charconv>
#include <string_view>

#include "PhantomTool.h"

namespace phantom {

namespace {

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  if (text.empty() || text.front() == '+' || text.front() == '-') return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

// "XxYxZ" with decimal components (an upper-case X also separates).
bool ParseSize(std::string_view text, C3DPoint* size) {
  int parts[3];
  for (int k = 0; k < 3; ++k) {
    const std::size_t cut = k < 2 ? text.find_first_of("xX") : text.size();
    if (cut == std::string_view::npos || !ParseNumber(text.substr(0, cut), &parts[k])) return false;
    text.remove_prefix(k < 2 ? cut + 1 : cut);
  }
  size->Set(parts[0], parts[1], parts[2]);
  return true;
}

}  // namespace

std::string ToolUsage() {
  return "usage: corvane-phantom --out DIR [--size XxYxZ] [--references N] [--seed S] [--strokes K] [--dots "
         "N]\n"
         "  --out DIR         folder for image.mhd, truth.mhd, segmentation.mhd, scribbles.mhd and\n"
         "                    references/case_NN_label.mhd (created if missing)\n"
         "  --size XxYxZ      voxels of the scan, default 512x512x32 (field of view 160 x 160 x 96 mm)\n"
         "  --references N    reference labels to write, default 10\n"
         "  --seed S          the case to generate (same seed, same files), default 1\n"
         "  --strokes K       scribble strokes marking segmentation errors, default 6\n"
         "  --dots N          separate scribble dots on the errors (stress case), default 0\n"
         "  -q                no notices on stderr\n"
         "The case is written into a temporary folder beside DIR's files and moved into place when\n"
         "complete, so an interrupted run leaves no half case. Options take their value as\n"
         "--opt VALUE or --opt=VALUE.\n";
}

const cli::Program& ToolProgram() {
  static const cli::Program program{"corvane-phantom", ToolUsage()};
  return program;
}

bool ParseToolArguments(const std::vector<std::string>& args, ToolOptions* options, std::string* error) {
  // The options; a new one is a new row here and a branch below.
  static const std::vector<cli::Option> kOptions{{"--out"},  {"--size"},    {"--references"},
                                                 {"--seed"}, {"--strokes"}, {"--dots"}};
  cli::Arguments arguments;
  if (!cli::ParseOnly(ToolProgram(), args, kOptions, arguments, error)) return false;
  ToolOptions parsed;
  parsed.help = arguments.Help();
  parsed.version = arguments.Version();
  parsed.quiet = arguments.Quiet();
  parsed.outDir = arguments.Value("--out");
  for (const cli::Option& option : kOptions) {
    const std::string& name = option.name;
    if (!arguments.Has(name)) continue;
    const std::string value = arguments.Value(name);
    bool ok = true;
    if (name == "--out") {
      ok = !value.empty();
    } else if (name == "--size") {
      ok = ParseSize(value, &parsed.phantom.size);
    } else if (name == "--references") {
      ok = ParseNumber(value, &parsed.phantom.references);
    } else if (name == "--seed") {
      ok = ParseNumber(value, &parsed.phantom.seed);
    } else if (name == "--strokes") {
      ok = ParseNumber(value, &parsed.phantom.strokes);
    } else {
      ok = ParseNumber(value, &parsed.phantom.dots);
    }
    if (!ok) {
      *error = "invalid value '" + value + "' for " + name;
      return false;
    }
  }
  if (!parsed.help && !parsed.version) {
    if (!arguments.Has("--out")) {
      *error = "missing --out DIR";
      return false;
    }
    const std::string problem = CheckPhantomOptions(parsed.phantom);
    if (!problem.empty()) {
      *error = problem;
      return false;
    }
  }
  *options = parsed;
  return true;
}

std::string ReferenceFileName(int index, int count) {
  std::string number = std::to_string(index + 1);
  const std::size_t width = std::max<std::size_t>(2, std::to_string(count).size());
  if (number.size() < width) number.insert(0, width - number.size(), '0');
  return "case_" + number + "_label.mhd";
}

}  // namespace phantom
