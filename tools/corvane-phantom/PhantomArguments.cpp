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
         "  --dots N          separate scribble dots on the errors (stress case), default 0\n";
}

bool ParseToolArguments(const std::vector<std::string>& args, ToolOptions* options, std::string* error) {
  ToolOptions parsed;
  bool haveOut = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool haveValue = false;
    if (name == "--help" || name == "-h") {
      parsed.help = true;
      continue;
    }
    if (name.rfind("--", 0) != 0) {
      *error = "unexpected argument '" + name + "'";
      return false;
    }
    const std::size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      haveValue = true;
    }
    if (name != "--out" && name != "--size" && name != "--references" && name != "--seed" &&
        name != "--strokes" && name != "--dots") {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (!haveValue) {
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    bool ok = true;
    if (name == "--out") {
      ok = !value.empty();
      parsed.outDir = value;
      haveOut = true;
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
  if (!parsed.help) {
    if (!haveOut) {
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
