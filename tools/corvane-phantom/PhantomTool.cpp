#include "PhantomTool.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <set>
#include <system_error>

#include "evaluation/Metrics.h"
#include "volume/FileIO.h"
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
  if (!volume::SaveMetaImageShort(volume, path.string(), &why)) {
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

// A folder that holds the case until it is complete; removed (with what it
// holds) unless moved into place.
class StagingFolder {
 public:
  explicit StagingFolder(fs::path path) : m_path(std::move(path)) {}
  ~StagingFolder() {
    if (m_created) {
      std::error_code ignored;
      fs::remove_all(m_path, ignored);
      volume::temporaries::Forget(m_path.string());
    }
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  const fs::path& Path() const { return m_path; }

  bool Create(std::ostream& err) {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);  // left by a process that was killed outright
    std::error_code ec;
    m_created =
        volume::temporaries::Create(m_path.string(), true, [&] { return fs::create_directory(m_path, ec); });
    if (!m_created)
      err << kPrefix << "cannot create folder '" << m_path.string() << "': " << ec.message() << "\n";
    return m_created;
  }

  // Puts the case at `dir`: by one rename when dir does not exist, else file
  // by file, removing references of an earlier, larger run (only files named
  // as this tool names them). An interruption waits until this is done.
  bool MoveInto(const fs::path& dir, int& removed, std::ostream& err) {
    const std::unique_lock<std::mutex> hold = volume::temporaries::Hold();
    std::error_code ec;
    if (!fs::exists(dir, ec)) {
      fs::rename(m_path, dir, ec);
      if (!ec) {
        m_moved = true;
        return true;
      }
    }
    ec.clear();
    fs::create_directories(dir / "references", ec);
    std::set<std::string> written;
    for (const char* sub : {"", "references"}) {
      for (const fs::directory_entry& entry : fs::directory_iterator(m_path / sub, ec)) {
        if (!entry.is_regular_file()) continue;
        const fs::path to = dir / sub / entry.path().filename();
        fs::rename(entry.path(), to, ec);
        if (ec) {
          err << kPrefix << "cannot write '" << to.string() << "': " << ec.message() << "\n";
          return false;
        }
        if (*sub) written.insert(entry.path().filename().string());
      }
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(dir / "references", ec)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && IsReferenceName(name) && !written.contains(name)) {
        std::error_code removeError;
        if (fs::remove(entry.path(), removeError)) ++removed;
      }
    }
    return true;
  }

  // After MoveInto, outside its lock.
  void Forget() {
    if (m_moved) {
      volume::temporaries::Forget(m_path.string());
      m_created = false;
    }
  }

 private:
  fs::path m_path;
  bool m_created = false;
  bool m_moved = false;
};

}  // namespace

int RunPhantomTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ToolOptions options;
  std::string problem;
  if (!ParseToolArguments(args, &options, &problem)) {
    err << kPrefix << problem << " (see --help)\n";
    return cli::kUsage;
  }
  if (options.help) {
    out << cli::HelpText(ToolProgram());
    return cli::kDone;
  }
  if (options.version) {
    out << cli::VersionLine("corvane-phantom") << "\n";
    return cli::kDone;
  }

  fs::path dir(options.outDir);
  if (!dir.has_filename()) dir = dir.parent_path();  // "out/" is the folder out
  std::error_code ec;
  if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
    err << kPrefix << "cannot write into '" << options.outDir << "': it is not a folder\n";
    return cli::kOutput;
  }
  // The case is written into a hidden folder beside DIR and moved into place
  // when complete, so that an interruption or a failed write leaves no half case.
  const fs::path parent = dir.has_parent_path() ? dir.parent_path() : fs::path(".");
  fs::create_directories(parent, ec);
  problem = volume::OutputProblem((parent / "x").string());
  if (std::error_code ignored; problem.empty() && fs::is_directory(dir, ignored))
    problem = volume::OutputProblem((dir / "x").string());
  if (ec || !problem.empty()) {
    err << kPrefix << "cannot write into '" << options.outDir
        << "': " << (ec ? ec.message() : problem.substr(problem.find("': ") + 3)) << "\n";
    return cli::kOutput;
  }
  StagingFolder staging(parent / ("." + dir.filename().string() + ".tmp" + std::to_string(::getpid())));
  if (!staging.Create(err)) return cli::kOutput;
  const fs::path work = staging.Path();
  const fs::path referenceDir = work / "references";
  fs::create_directory(referenceDir, ec);
  if (ec) {
    err << kPrefix << "cannot create output folder '" << referenceDir.string() << "': " << ec.message()
        << "\n";
    return cli::kOutput;
  }

  // The case itself; references are generated and written one at a time so
  // that forty full-size labels never sit in memory together.
  PhantomOptions caseOptions = options.phantom;
  caseOptions.references = 0;
  const PhantomCase c = GeneratePhantom(caseOptions);
  if (!Save(c.image, work / "image.mhd", err) || !Save(c.truth, work / "truth.mhd", err) ||
      !Save(c.segmentation, work / "segmentation.mhd", err) ||
      !Save(c.scribbles, work / "scribbles.mhd", err)) {
    return cli::kOutput;
  }

  const int count = options.phantom.references;
  int smallest = 0;
  int largest = 0;
  cli::Progress progress("corvane-phantom", "references", count);
  for (int i = 0; i < count; ++i) {
    const CVoxel reference = GenerateReference(options.phantom, i);
    const std::string name = ReferenceFileName(i, count);
    if (!Save(reference, referenceDir / name, err)) return cli::kOutput;
    const int inside = reference.CountNonZero();
    smallest = i == 0 ? inside : std::min(smallest, inside);
    largest = i == 0 ? inside : std::max(largest, inside);
    progress.Update(i + 1);
  }
  int removed = 0;
  if (!staging.MoveInto(dir, removed, err)) return cli::kOutput;

  staging.Forget();
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
  out << "wrote " << 4 + count << " volumes to " << options.outDir << "\n";
  if (s.dots < options.phantom.dots) {
    err << kPrefix << "warning: only " << s.dots << " of " << options.phantom.dots
        << " dots found room on the segmentation errors\n";
  }
  return 0;
}

}  // namespace phantom
