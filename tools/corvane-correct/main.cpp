// corvane-correct: one correction run on files, for batch use and evaluation.
//
//   corvane-correct --segmentation SEG --scribbles MAP --references DIR --output OUT
//                   [--mode semi|manual] [--truth GT] [--threads N] [--metrics FILE]
//                   [--image IMAGE]
//
// OUT ending in .nii or .nii.gz is written as NIfTI-1, OUT ending in .dcm as
// a DICOM Segmentation of the DICOM series IMAGE (checked before the run),
// any other name as MetaImage (".mhd" appended unless it ends in it); either
// way with the segmentation's geometry.
//
// Prints the log lines of the run as the window shows them; with --truth also
// the Dice overlap before and after, and with --metrics every measure of
// corvane-evaluate before and after, as its CSV file. Any failure: one line on stderr, exit
// status 2, no output written.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "correction/CorrectionDriver.h"
#include "evaluation/Metrics.h"
#include "evaluation/ResultFiles.h"
#include "geometry/LabelGeometry.h"
#include "session/CaseSession.h"
#include "volume/DicomSeg.h"
#include "volume/FileIO.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace {

constexpr int kFailure = 2;
constexpr int kMaximumThreads = 1024;

const char kUsage[] =
    "usage: corvane-correct --segmentation SEG --scribbles MAP --references DIR --output OUT\n"
    "                       [--mode semi|manual] [--truth GT] [--threads N] [--metrics FILE]\n"
    "                       [--image IMAGE]\n"
    "OUT ending in .nii or .nii.gz is written as NIfTI-1, any other name as MetaImage\n"
    "(.mhd appended unless OUT ends in it), in the segmentation's place in space.\n"
    "OUT ending in .dcm is written as a DICOM Segmentation of IMAGE, the DICOM series\n"
    "(a file of it, or its folder) whose grid the segmentation lies on.\n";

// Keeps the messages of the libraries so a failure can be told on one line.
class CollectingSink final : public MessageSink {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

bool Fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

struct Options {
  std::string segmentation, scribbles, references, output, truth, metrics, image;
  bool manual = false;
  int threads = 0;  // 0: every core; the result never depends on it
};

bool ParseArguments(int argc, char** argv, Options& o, std::string& error) {
  static const std::vector<std::string> kNames{"--segmentation", "--scribbles", "--references",
                                               "--output",       "--mode",      "--truth",
                                               "--threads",      "--metrics",   "--image"};
  std::map<std::string, std::string> values;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (std::find(kNames.begin(), kNames.end(), name) == kNames.end())
      return Fail(error, "unknown argument '" + name + "' (see --help)");
    if (i + 1 >= argc) return Fail(error, name + " needs a value");
    if (values.count(name)) return Fail(error, name + " is given twice");
    values[name] = argv[++i];
  }
  for (const char* required : {"--segmentation", "--scribbles", "--output"})
    if (!values.count(required)) return Fail(error, std::string("missing ") + required + " (see --help)");
  o.segmentation = values["--segmentation"];
  o.scribbles = values["--scribbles"];
  o.output = values["--output"];
  o.references = values.count("--references") ? values["--references"] : "";
  o.truth = values.count("--truth") ? values["--truth"] : "";
  o.metrics = values.count("--metrics") ? values["--metrics"] : "";
  o.image = values.count("--image") ? values["--image"] : "";
  if (IsDicomSegPath(o.output) && o.image.empty())
    return Fail(error,
                "a DICOM Segmentation output (" + o.output + ") needs --image, the DICOM series it segments");
  if (values.count("--metrics") && o.truth.empty()) return Fail(error, "--metrics needs --truth");
  if (values.count("--mode")) {
    const std::string& mode = values["--mode"];
    if (mode != "semi" && mode != "manual")
      return Fail(error, "--mode must be semi or manual, not '" + mode + "'");
    o.manual = mode == "manual";
  }
  if (!o.manual && !values.count("--references"))
    return Fail(error, "missing --references (needed by --mode semi)");
  if (values.count("--threads")) {
    const std::string& text = values["--threads"];
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || n < 1 || n > kMaximumThreads)
      return Fail(error, "--threads must be a whole number from 1 to " + std::to_string(kMaximumThreads) +
                             ", not '" + text + "'");
    o.threads = static_cast<int>(n);
  }
  return true;
}

// Loads through the load dispatcher; a volume without voxels is a failure.
bool Load(const std::string& what, const std::string& path, std::unique_ptr<CVoxel>& volume,
          std::string& error) {
  std::error_code missing;
  if (path.empty() || !std::filesystem::exists(path, missing))
    return Fail(error, "cannot read the " + what + " '" + path + "': no such file or folder");
  CollectingSink sink;
  volume = std::make_unique<CVoxel>(path, &sink);
  if (!volume->HasData() || volume->VoxelCount() == 0) {
    const std::string why = sink.messages.empty() ? "it holds no voxel data" : OneLine(sink.messages.front());
    return Fail(error, "cannot read the " + what + " '" + path + "': " + why);
  }
  return true;
}

bool Run(const Options& o, std::string& error) {
  std::unique_ptr<CVoxel> segmentation, map, truth;
  if (!Load("segmentation", o.segmentation, segmentation, error) ||
      !Load("scribble map", o.scribbles, map, error))
    return false;
  if (!map->SameSize(*segmentation))
    return Fail(error, "the scribble map and the segmentation differ in size");
  if (!o.truth.empty()) {
    if (!Load("ground truth", o.truth, truth, error)) return false;
    if (!truth->SameSize(*segmentation))
      return Fail(error, "the ground truth and the segmentation differ in size");
    const std::string mismatch = o.metrics.empty() ? "" : evaluation::GeometryMismatch(*truth, *segmentation);
    if (!mismatch.empty()) return Fail(error, "cannot measure against the ground truth: " + mismatch);
  }
  // Volumes that do not lie where the segmentation lies are still used voxel
  // for voxel, as the window does; the user is told.
  auto warnIfElsewhere = [&](const CVoxel& volume, const char* what) {
    if (!SameGeometry(volume, *segmentation))
      std::fprintf(stderr, "corvane-correct: %s\n", GeometryMismatchText(what, "segmentation").c_str());
  };
  std::string why;
  if (IsDicomSegPath(o.output) && !CanSaveDicomSegmentation(*segmentation, o.image, &why))
    return Fail(error, "cannot write the DICOM Segmentation '" + o.output + "': " + OneLine(why));
  warnIfElsewhere(*map, "scribble map");
  if (truth) warnIfElsewhere(*truth, "ground truth");
  const CVoxel before = truth ? *segmentation : CVoxel();

  // The window's correction job, so that a batch run is an interactive one.
  CCorrectionJob job;
  job.mode = o.manual ? CorrectionMode::kManual : CorrectionMode::kSemiAutomatic;
  if (!o.manual) {
    if (!HasForeground(*segmentation))
      return Fail(error, "the segmentation '" + o.segmentation + "' is empty: there is nothing to correct");
    if (!FindReferenceLabels(o.references, job.referencePaths))
      return Fail(error, "cannot read the reference folder '" + o.references + "'");
    if (job.referencePaths.empty())
      return Fail(error, "no reference label (a file whose name contains \"mhd\" and \"label\") in '" +
                             o.references + "'");
    job.parameters = SemiAutomaticParameters();
    job.parameters.threads = o.threads;
  }
  // The scribble map is the whole accumulated map of this one run.
  job.segmentation = std::move(segmentation);
  job.accumulatedMap = std::move(map);
  StdoutLogSink log;
  CollectingSink messages;
  const bool done = job.Run(log, messages);
  segmentation = std::move(job.segmentation);
  if (!done)
    return Fail(error,
                messages.messages.empty() ? "the correction failed" : OneLine(messages.messages.front()));
  for (const std::string& warning : messages.messages)
    std::fprintf(stderr, "corvane-correct: warning: %s\n", OneLine(warning).c_str());

  // The result lies where the segmentation lies: it is the segmentation, corrected.
  const std::string output = SavedPathFor(o.output);
  // The measures are staged first and put in place only once the segmentation is written.
  StagedFile metrics(o.metrics);
  if (!o.metrics.empty()) {
    std::vector<evaluation::ResultRow> rows;
    evaluation::AppendCaseRows("", o.segmentation, evaluation::Evaluate(*truth, before), rows);
    evaluation::AppendCaseRows("", output, evaluation::Evaluate(*truth, *segmentation), rows);
    if (!metrics.Create() || !metrics.Write(evaluation::CsvText(rows, false)) || !metrics.Finish())
      return Fail(error, "cannot write '" + o.metrics + "': " + metrics.Error());
  }
  const SegAlgorithm algorithm = o.manual ? SegAlgorithm::Manual : SegAlgorithm::SemiAutomatic;
  if (!SaveLabelAs(*segmentation, o.output, o.image, algorithm, nullptr, &why))
    return Fail(error, why.empty() ? "cannot write '" + output + "'" : OneLine(why));
  if (!o.metrics.empty() && !metrics.Commit())
    return Fail(error, "cannot write '" + o.metrics + "': " + metrics.Error());
  if (truth) {
    std::printf("Dice before: %.4f\n", evaluation::Dice(before, *truth));
    std::printf("Dice after: %.4f\n", evaluation::Dice(*segmentation, *truth));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Every reference label is read into a block of the same size and freed again.
  ReuseVolumeMemory();
  Options options;
  std::string error;
  bool done = false;
  try {
    done = ParseArguments(argc, argv, options, error) && Run(options, error);
  } catch (const std::bad_alloc&) {
    error = "not enough memory";
  }
  if (done) return 0;
  std::fflush(stdout);
  std::fprintf(stderr, "corvane-correct: %s\n", error.c_str());
  return kFailure;
}
