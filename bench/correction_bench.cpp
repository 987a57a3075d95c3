// correction-bench: the semi-automatic correction of one case, run by the
// plain reference version (the oracle) and by the production pipeline, each in
// a child process of its own so that each peak memory is its own. Prints the
// time of every stage, the peak memory, whether both results are identical
// voxel for voxel, the time of a manual correction and of loading the
// segmentation's MetaImage. Two more figures: the registration of every
// reference with VTK's own transform (and its cell locator) against the grid
// search the pipeline uses, which must give the same matrices, and a second
// run of the case as the window makes it, with the reference labels kept from
// the first. It ends with the line
//   speedup: R.RRx identical: yes|no
// where "identical" covers the oracle's result, the matrices and the second run.
//
//   correction-bench [--threads N] [--no-oracle] CASE_DIR
//   correction-bench [--threads N] [--no-oracle] --generate [corvane-phantom options]
//
// CASE_DIR is a folder written by corvane-phantom (segmentation.mhd,
// scribbles.mhd, references/). --generate builds the case in memory instead;
// its references are then generated when the pipeline asks for them, so
// "reference loading" measures their generation. --no-oracle times the
// production pipeline alone (for cases the oracle would take very long on); it
// then ends with "speedup: n/a" instead.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Phantom.h"
#include "PhantomTool.h"
#include "correction/CorrectionDriver.h"
#include "correction/MillimetreScale.h"
#include "correction/Registration.h"
#include "fusion/Fusion.h"
#include "geometry/BoundaryPoints.h"
#include "geometry/Parallel.h"
#include "tests/oracle/Oracle.h"
#include "volume/FileIO.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

const char kUsage[] =
    "usage: correction-bench [--threads N] [--no-oracle] CASE_DIR\n"
    "       correction-bench [--threads N] [--no-oracle] --generate [corvane-phantom options, e.g.\n"
    "                        --size 512x512x32 --references 40 --strokes 6 --seed 1, or --dots 20]\n";

// The case: the segmentation and the scribble map, and where references come from.
struct Case {
  std::string description;
  CVoxel segmentation;
  CVoxel scribbles;
  std::vector<std::string> referencePaths;
  std::function<std::unique_ptr<CVoxel>(const std::string&)> load;  // thread-safe
  std::string metaImage;                                            // a 512 x 512 x 32-like file to time
};

// Stages in table order; the oracle and the production fill the same slots.
enum Stage {
  kLoading,
  kBoundary,
  kRegistration,
  kResampling,
  kRegions,
  kDistance,
  kProbability,
  kFusion,
  kPost,
  kStages
};
const char* const kStageNames[kStages] = {"reference loading",       "boundary lists",   "registration",
                                          "resampling and cropping", "scribble regions", "distance maps",
                                          "probability maps",        "fusion",           "post-processing"};

// What a child process sends back through its pipe, followed by the voxels.
struct Report {
  int accepted = 0;
  double total = 0.0;           // wall clock of the whole correction
  double referenceStage = 0.0;  // wall clock of the reference stage
  double stages[kStages] = {};
  long startKilobytes = 0;  // resident memory just before the run
};

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool ReadAll(int fd, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

struct ChildResult {
  bool ok = false;
  Report report;
  CVoxel segmentation;
  long peakKilobytes = 0;
};

// Runs `run` (which corrects the segmentation it is given and fills the
// report) in a child process and collects what it sends back.
ChildResult InChild(const Case& c, const std::function<void(CVoxel&, Report&)>& run) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    close(fds[0]);
    CVoxel segmentation(c.segmentation);
    Report report;
    report.startKilobytes = ResidentKilobytes();
    run(segmentation, report);
    const bool sent =
        volume::WriteAll(fds[1], &report, sizeof report) &&
        volume::WriteAll(fds[1], segmentation.Data(), segmentation.VoxelCount() * sizeof(CVoxel::value_type));
    close(fds[1]);
    _exit(sent ? 0 : 1);
  }
  close(fds[1]);
  result.segmentation = CVoxel(c.segmentation.Size());
  result.ok = ReadAll(fds[0], &result.report, sizeof result.report) &&
              ReadAll(fds[0], result.segmentation.Data(),
                      result.segmentation.VoxelCount() * sizeof(CVoxel::value_type));
  close(fds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    result.ok = false;
  result.peakKilobytes = usage.ru_maxrss;
  return result;
}

void RunOracle(const Case& c, CVoxel& segmentation, Report& report) {
  volume::RecordingSink log, messages;
  oracle::StageTimes t;
  const fusion::CorrectionParameters parameters;
  const auto start = Clock::now();
  report.accepted = oracle::SemiAutomaticCorrection(segmentation, c.scribbles, c.referencePaths, c.load,
                                                    parameters, log, messages, &t);
  report.total = Seconds(start);
  report.referenceStage = t.referenceLoading + t.boundaryLists + t.registration + t.resamplingAndCropping;
  const double stages[kStages] = {t.referenceLoading,      t.boundaryLists, t.registration,
                                  t.resamplingAndCropping, t.regions,       t.distanceMaps,
                                  t.probabilityMaps,       t.fusion,        t.postProcessing};
  std::copy(std::begin(stages), std::end(stages), report.stages);
}

// The window's run; with `millimetre` the same method with its lengths kept in
// millimetres for the case's voxel size.
void RunProduction(const Case& c, int threads, CVoxel& segmentation, Report& report,
                   bool millimetre = false) {
  volume::RecordingSink log, messages;
  correction::CorrectionTimes t;
  fusion::CorrectionParameters parameters =
      millimetre ? correction::MillimetreParameters(fusion::CorrectionParameters{}, c.segmentation)
                 : fusion::CorrectionParameters{};
  parameters.threads = threads;
  const auto start = Clock::now();
  report.accepted = RunSemiAutomaticCorrection(segmentation, c.scribbles, c.referencePaths, parameters,
                                               {log, messages, &t}, {c.load});
  report.total = Seconds(start);
  report.referenceStage = t.references;
  const double stages[kStages] = {t.referenceLoading,      t.boundaryLists, t.registration,
                                  t.resamplingAndCropping, t.regions,       t.distanceMaps,
                                  t.probabilityMaps,       t.fusion,        t.postProcessing};
  std::copy(std::begin(stages), std::end(stages), report.stages);
}

// The window's second run: a first run keeps the reference labels, the timed
// second one starts at their registration.
void RunWithKeptReferences(const Case& c, int threads, CVoxel& segmentation, Report& report) {
  correction::ReferenceCache kept;
  {
    CVoxel first(segmentation);
    volume::RecordingSink log, messages;
    fusion::CorrectionParameters parameters;
    parameters.threads = threads;
    RunSemiAutomaticCorrection(first, c.scribbles, c.referencePaths, parameters, {log, messages},
                               {c.load, &kept});
  }
  volume::RecordingSink log, messages;
  correction::CorrectionTimes t;
  fusion::CorrectionParameters parameters;
  parameters.threads = threads;
  const auto start = Clock::now();
  report.accepted = RunSemiAutomaticCorrection(segmentation, c.scribbles, c.referencePaths, parameters,
                                               {log, messages, &t}, {c.load, &kept});
  report.total = Seconds(start);
  report.referenceStage = t.references;
  report.stages[kRegistration] = t.registration;
}

// The registration of every reference onto the segmentation, one after the
// other, by VTK's own transform and by the grid search.
struct RegistrationComparison {
  double vtkSeconds = 0.0;
  double gridSeconds = 0.0;  // the target's search structure built once included
  int references = 0;
  bool identical = true;
};

RegistrationComparison CompareRegistrations(const Case& c) {
  RegistrationComparison result;
  const CBoundaryPoints targetPoints(c.segmentation);
  auto start = Clock::now();
  const correction::RegistrationTarget target(targetPoints);
  result.gridSeconds += Seconds(start);
  for (const std::string& path : c.referencePaths) {
    const std::unique_ptr<CVoxel> reference = c.load(path);
    if (!reference || !reference->HasData()) continue;
    const CBoundaryPoints source(*reference);
    vtkNew<vtkMatrix4x4> vtk, grid;
    start = Clock::now();
    correction::RegisterSurfacesWithVtk(source, targetPoints, *vtk, 100, correction::LandmarkMode::Affine);
    result.vtkSeconds += Seconds(start);
    start = Clock::now();
    RegisterSurfaces(source, target, *grid, 100, correction::LandmarkMode::Affine);
    result.gridSeconds += Seconds(start);
    result.identical =
        result.identical && std::memcmp(&vtk->Element[0][0], &grid->Element[0][0], sizeof(double) * 16) == 0;
    ++result.references;
  }
  return result;
}

// Median of `runs` timings of `work` (which is given a fresh setup each time).
double MedianSeconds(int runs, const std::function<void()>& setup, const std::function<void()>& work) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    setup();
    const auto start = Clock::now();
    work();
    times.push_back(Seconds(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

bool LoadCaseFolder(const std::string& folder, Case& c, std::string& error) {
  c.metaImage = (fs::path(folder) / "segmentation.mhd").string();
  c.segmentation = CVoxel(c.metaImage);
  c.scribbles = CVoxel((fs::path(folder) / "scribbles.mhd").string());
  if (!c.segmentation.HasData() || !c.scribbles.HasData()) {
    error = "cannot read segmentation.mhd and scribbles.mhd in '" + folder + "'";
    return false;
  }
  if (!FindReferenceLabels((fs::path(folder) / "references").string(), c.referencePaths) ||
      c.referencePaths.empty()) {
    error = "no reference labels in '" + folder + "/references'";
    return false;
  }
  c.load = [](const std::string& path) { return std::make_unique<CVoxel>(path, nullptr); };
  c.description = folder;
  return true;
}

bool GenerateCase(const std::vector<std::string>& phantomArguments, Case& c, std::string& error) {
  std::vector<std::string> arguments = phantomArguments;
  arguments.insert(arguments.end(), {"--out", "(memory)"});
  phantom::ToolOptions tool;
  if (!phantom::ParseToolArguments(arguments, &tool, &error)) return false;
  const phantom::PhantomOptions options = tool.phantom;
  phantom::PhantomOptions withoutReferences = options;
  withoutReferences.references = 0;
  {
    phantom::PhantomCase generated = phantom::GeneratePhantom(withoutReferences);
    c.segmentation = std::move(generated.segmentation);
    c.scribbles = std::move(generated.scribbles);
  }
  if (!c.segmentation.HasData() || !c.scribbles.HasData()) {
    error = "not enough memory for the case";
    return false;
  }
  for (int r = 0; r < options.references; ++r) c.referencePaths.push_back(std::to_string(r));
  c.load = [options](const std::string& path) {
    return std::make_unique<CVoxel>(phantom::GenerateReference(options, std::stoi(path)));
  };
  c.description = "generated (seed " + std::to_string(options.seed) + ", " + std::to_string(options.strokes) +
                  " strokes, " + std::to_string(options.dots) + " dots)";
  return true;
}

std::string Megabytes(long kilobytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", static_cast<double>(kilobytes) / 1024.0);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int threads = 0;
  bool withOracle = true;
  std::optional<std::vector<std::string>> generate;
  std::string folder;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (args[i] == "--threads" && i + 1 < args.size()) {
      threads = std::atoi(args[++i].c_str());
      if (threads < 1) {
        std::fprintf(stderr, "correction-bench: --threads needs a number from 1 up\n");
        return 2;
      }
    } else if (args[i] == "--no-oracle") {
      withOracle = false;
    } else if (args[i] == "--generate") {
      generate = std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (folder.empty() && args[i].rfind("--", 0) != 0) {
      folder = args[i];
    } else {
      std::fprintf(stderr, "correction-bench: unexpected argument '%s'\n%s", args[i].c_str(), kUsage);
      return 2;
    }
  }
  if (!generate && folder.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  Case c;
  std::string error;
  if (!(generate ? GenerateCase(*generate, c, error) : LoadCaseFolder(folder, c, error))) {
    std::fprintf(stderr, "correction-bench: %s\n", error.c_str());
    return 2;
  }
  const int used = geometry::ResolveThreadCount(threads);
  std::printf("case: %s, %d x %d x %d voxels, %zu references\n", c.description.c_str(), c.segmentation.X,
              c.segmentation.Y, c.segmentation.Z, c.referencePaths.size());
  std::printf("machine: %u cores; production threads: %d\n", std::thread::hardware_concurrency(), used);

  // The two runs, each in a process of its own.
  ChildResult o;
  if (withOracle) o = InChild(c, [&c](CVoxel& s, Report& r) { RunOracle(c, s, r); });
  const ChildResult p = InChild(c, [&c, threads](CVoxel& s, Report& r) { RunProduction(c, threads, s, r); });
  const ChildResult k =
      InChild(c, [&c, threads](CVoxel& s, Report& r) { RunWithKeptReferences(c, threads, s, r); });
  if ((withOracle && !o.ok) || !p.ok || !k.ok) {
    std::fprintf(stderr, "correction-bench: the %s run did not complete\n", o.ok ? "production" : "oracle");
    std::printf("speedup: 0.00x identical: no\n");
    return 1;
  }

  std::size_t differing = 0;
  for (std::size_t i = 0; i < o.segmentation.VoxelCount() && withOracle; ++i)
    differing += o.segmentation[i] != p.segmentation[i];
  const bool sameAsOracle = differing == 0 && o.report.accepted == p.report.accepted;

  // The scribble regions of the case, for the record.
  fusion::ScribbleRegionList regions;
  const fusion::CorrectionParameters parameters;
  const fusion::RegionCounts counts =
      ExtractScribbleRegions(c.scribbles, c.segmentation, parameters, regions);
  const int foreground = counts.foreground;
  const int background = counts.background;
  CFVoxelList distance;
  fusion::RegionWindowList windows;
  ComputeDistanceMaps(regions, parameters, distance, windows);
  long long windowVoxels = 0;
  for (const fusion::RegionWindow& window : windows) {
    const C3DPoint s = window.Size();
    if (s.x > 0 && s.y > 0 && s.z > 0) windowVoxels += static_cast<long long>(s.x) * s.y * s.z;
  }
  std::printf("scribble regions: %d foreground, %d background; %lld window voxels\n\n", foreground,
              background, windowVoxels);

  // One table row: the oracle's figure (or "-" without an oracle run) and the production's.
  const auto row = [withOracle](const char* name, const std::string& oracleValue, const std::string& value,
                                const char* note = "") {
    std::printf("%-34s %12s %14s%s\n", name, withOracle ? oracleValue.c_str() : "-", value.c_str(), note);
  };
  const auto seconds = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return std::string(text);
  };
  std::printf("%-34s %12s %14s\n", "stage", "oracle (s)", "production (s)");
  for (int s = 0; s < kStages; ++s)
    row(kStageNames[s], seconds(o.report.stages[s]), seconds(p.report.stages[s]),
        s <= kResampling ? " *" : "");
  row("reference stage (wall clock)", seconds(o.report.referenceStage), seconds(p.report.referenceStage));
  row("whole correction (wall clock)", seconds(o.report.total), seconds(p.report.total));
  row("peak memory, process (MB)", Megabytes(o.peakKilobytes), Megabytes(p.peakKilobytes));
  row("  of which before the run (MB)", Megabytes(o.report.startKilobytes),
      Megabytes(p.report.startKilobytes));
  std::printf("* production: summed over the references, which run on %d threads at once\n\n", used);

  // The registration alone, VTK's locator against the grid search, and the
  // window's second run.
  const RegistrationComparison registration = CompareRegistrations(c);
  const bool sameSecondRun =
      k.report.accepted == p.report.accepted &&
      std::equal(k.segmentation.Data(), k.segmentation.Data() + k.segmentation.VoxelCount(),
                 p.segmentation.Data());
  std::printf("registration of %d references one after another, 1 thread:\n", registration.references);
  std::printf("  %-40s %8.3f s\n", "VTK's transform and cell locator", registration.vtkSeconds);
  std::printf("  %-40s %8.3f s  (%.1fx faster), matrices identical: %s\n", "grid search (built once)",
              registration.gridSeconds,
              registration.gridSeconds > 0.0 ? registration.vtkSeconds / registration.gridSeconds : 0.0,
              registration.identical ? "yes" : "no");
  std::printf(
      "second run, references kept (wall clock): %.3f s, registration %.3f s*, reference stage %.3f s, "
      "peak memory %s MB, same result: %s\n\n",
      k.report.total, k.report.stages[kRegistration], k.report.referenceStage,
      Megabytes(k.peakKilobytes).c_str(), sameSecondRun ? "yes" : "no");
  const ChildResult mm =
      InChild(c, [&c, threads](CVoxel& s, Report& r) { RunProduction(c, threads, s, r, true); });
  std::printf("millimetre run (wall clock): %.3f s, %.2fx the voxel run, peak memory %s MB\n\n",
              mm.report.total, p.report.total > 0.0 ? mm.report.total / p.report.total : 0.0,
              Megabytes(mm.peakKilobytes).c_str());

  // Manual correction: merging the strokes and writing the scribbles into the label.
  CVoxel label, accumulated;
  const double manual = MedianSeconds(
      21,
      [&] {
        label = c.segmentation;
        accumulated = CVoxel(c.scribbles.Size());
      },
      [&] {
        MergeStrokes(accumulated, c.scribbles);
        ApplyScribbles(label, accumulated);
      });
  std::printf("manual correction (merge strokes + apply), median of 21: %.2f ms\n", manual * 1e3);

  // Loading a MetaImage of the case's size.
  fs::path written;
  if (c.metaImage.empty()) {
    written = fs::temp_directory_path() / ("correction-bench-" + std::to_string(getpid()));
    fs::create_directories(written);
    c.metaImage = (written / "segmentation.mhd").string();
    std::string writeError;
    if (!volume::SaveMetaImageShort(c.segmentation, c.metaImage, &writeError)) c.metaImage.clear();
  }
  if (!c.metaImage.empty()) {
    bool loaded = true;
    const double load = MedianSeconds(
        11, [] {}, [&] { loaded = loaded && CVoxel(c.metaImage).HasData(); });
    std::printf("MetaImage load (%d x %d x %d, 16-bit), median of 11: %.2f ms%s\n", c.segmentation.X,
                c.segmentation.Y, c.segmentation.Z, load * 1e3, loaded ? "" : " (read failed)");
  }
  if (!written.empty()) fs::remove_all(written);

  if (!withOracle) {
    std::printf("speedup: n/a (no oracle run)\n");
    return registration.identical && sameSecondRun ? 0 : 1;
  }
  std::printf("voxels differing from the oracle: %zu of %zu\n", differing, o.segmentation.VoxelCount());
  const double speedup = p.report.total > 0.0 ? o.report.total / p.report.total : 0.0;
  const bool identical = sameAsOracle && registration.identical && sameSecondRun;
  std::printf("speedup: %.2fx identical: %s\n", speedup, identical ? "yes" : "no");
  return identical ? 0 : 1;
}
