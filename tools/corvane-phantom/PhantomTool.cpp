#include "PhantomTool.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <set>
#include <system_error>

#include "evaluation/Metrics.h"
#include "volume/Writers.h"

namespace phantom {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPrefix = "corvane-phantom: ";

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The spacing as written to the headers, without trailing zeros (0.3125, 3).
std::string Millimetres(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

bool Save(const CVoxel& volume, const fs::path& path, std::ostream& err) {
  std::string why;
  if (!volume.HasData()) {
    err << kPrefix << "out of memory while generating " << path.filename().string() << "\n";
    return false;
  }
  if (!SaveMetaImageShort(volume, path.string(), &why)) {
    err << kPrefix << "cannot write '" << path.string() << "'" << (why.empty() ? "" : ": " + why) << "\n";
    return false;
  }
  return true;
}

// True for names this tool gives references: case_<digits>_label.mhd or .raw.
bool IsReferenceName(const std::string& name) {
  const std::string head = "case_";
  const std::string tail = "_label";
  std::string stem = name;
  if (stem.size() > 4 && (stem.ends_with(".mhd") || stem.ends_with(".raw"))) {
    stem.resize(stem.size() - 4);
  } else {
    return false;
  }
  if (!stem.starts_with(head) || !stem.ends_with(tail) || stem.size() <= head.size() + tail.size())
    return false;
  const std::string digits = stem.substr(head.size(), stem.size() - head.size() - tail.size());
  return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

int RunPhantomTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ToolOptions options;
  std::string problem;
  if (!ParseToolArguments(args, &options, &problem)) {
    err << kPrefix << problem << " (see --help)\n";
    return 2;
  }
  if (options.help) {
    out << ToolUsage();
    return 0;
  }

  const fs::path dir(options.outDir);
  const fs::path referenceDir = dir / "references";
  std::error_code ec;
  fs::create_directories(referenceDir, ec);
  if (ec || !fs::is_directory(referenceDir)) {
    err << kPrefix << "cannot create output folder '" << referenceDir.string() << "'"
        << (ec ? ": " + ec.message() : std::string()) << "\n";
    return 2;
  }

  // The case itself; references are generated and written one at a time so
  // that forty full-size labels never sit in memory together.
  PhantomOptions caseOptions = options.phantom;
  caseOptions.references = 0;
  const PhantomCase c = GeneratePhantom(caseOptions);
  if (!Save(c.image, dir / "image.mhd", err) || !Save(c.truth, dir / "truth.mhd", err) ||
      !Save(c.segmentation, dir / "segmentation.mhd", err) ||
      !Save(c.scribbles, dir / "scribbles.mhd", err)) {
    return 2;
  }

  const int count = options.phantom.references;
  std::set<std::string> written;
  int smallest = 0;
  int largest = 0;
  for (int i = 0; i < count; ++i) {
    const CVoxel reference = GenerateReference(options.phantom, i);
    const std::string name = ReferenceFileName(i, count);
    if (!Save(reference, referenceDir / name, err)) return 2;
    written.insert(name);
    written.insert(name.substr(0, name.size() - 4) + ".raw");
    const int inside = reference.CountNonZero();
    smallest = i == 0 ? inside : std::min(smallest, inside);
    largest = i == 0 ? inside : std::max(largest, inside);
  }
  // References of an earlier, larger run in the same folder would join the
  // atlas unseen; remove them (only files named as this tool names them).
  int removed = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(referenceDir, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && IsReferenceName(name) && !written.contains(name)) {
      std::error_code removeError;
      if (fs::remove(entry.path(), removeError)) ++removed;
    }
  }

  const ScribbleStats& s = c.scribbleStats;
  const int truthInside = c.truth.CountNonZero();
  const CVoxel& image = c.image;
  const auto [lowest, highest] = std::minmax_element(image.Data(), image.Data() + image.VoxelCount());
  out << "corvane-phantom: seed " << options.phantom.seed << ", " << image.X << "x" << image.Y << "x"
      << image.Z << " voxels of " << Millimetres(image.spacing[0]) << " x " << Millimetres(image.spacing[1])
      << " x " << Millimetres(image.spacing[2]) << " mm\n";
  out << "  image.mhd          intensities " << *lowest << " ... " << *highest << "\n";
  out << "  truth.mhd          " << truthInside << " voxels inside\n";
  out << "  segmentation.mhd   " << c.segmentation.CountNonZero() << " voxels inside, Dice vs truth "
      << Fixed(evaluation::Dice(c.segmentation, c.truth), 4) << "\n";
  out << "  scribbles.mhd      " << s.errorStrokes << " error strokes, " << s.agreeingStrokes
      << " agreeing strokes, " << s.dots << " dots: " << s.foregroundVoxels << " foreground and "
      << s.backgroundVoxels << " background voxels, " << s.contradicting << " contradict the segmentation\n";
  if (count > 0) {
    out << "  references/        " << count << " labels " << ReferenceFileName(0, count) << " ... "
        << ReferenceFileName(count - 1, count) << ", " << smallest << " ... " << largest
        << " voxels inside\n";
  } else {
    out << "  references/        none\n";
  }
  if (removed > 0) out << "  removed " << removed << " reference files of an earlier run\n";
  out << "wrote " << 4 + count << " volumes to " << dir.string() << "\n";
  if (s.dots < options.phantom.dots) {
    err << kPrefix << "warning: only " << s.dots << " of " << options.phantom.dots
        << " dots found room on the segmentation errors\n";
  }
  return 0;
}

}  // namespace phantom
