// corvane-correct: one correction run on files, for batch use and evaluation.
//
//   corvane-correct --segmentation SEG --scribbles MAP --references DIR --output OUT
//                   [--mode semi|semi-mm|manual] [--truth GT] [--threads N] [--metrics FILE]
//                   [--image IMAGE]
//
// OUT ending in .nii or .nii.gz is written as NIfTI-1, in .mha as one-file
// MetaImage, OUT ending in .dcm as a DICOM Segmentation of the DICOM series
// IMAGE (checked before the run), any other name as MetaImage (".mhd" appended
// unless it ends in it); either way with the segmentation's geometry.
//
// Prints the log lines of the run as the window shows them; with --truth also
// the Dice overlap before and after, and with --metrics every measure of
// corvane-evaluate before and after, as its CSV file. Any failure: one line on
// stderr, the exit status of the common table, no output written.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ToolSteps.h"
#include "correction/CorrectionDriver.h"
#include "evaluation/Metrics.h"
#include "evaluation/ResultFiles.h"
#include "geometry/LabelGeometry.h"
#include "session/CaseSession.h"
#include "volume/DicomSeg.h"
#include "volume/FileIO.h"
#include "volume/GridReorder.h"
#include "volume/Sinks.h"
#include "volume/ValueChecks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace {

constexpr const char* kName = "corvane-correct";
constexpr int kMaximumThreads = 1024;

const cli::Program kProgram{
    kName,
    "usage: corvane-correct --segmentation SEG --scribbles MAP --references DIR --output OUT\n"
    "                       [--mode semi|semi-mm|manual] [--truth GT] [--threads N] [--metrics FILE] [-q]\n"
    "                       [--image IMAGE]\n"
    "       corvane-correct --help | --version\n"
    "OUT ending in .nii or .nii.gz is written as NIfTI-1, in .mha as MetaImage in one file, any\n"
    "other name as MetaImage (.mhd appended unless OUT ends in it), in the segmentation's place in\n"
    "space; an OUT that is a folder or ends in '/' is refused. --metrics - writes the measures to\n"
    "standard output. Options take their value as --opt VALUE or --opt=VALUE; -q silences notices.\n"
    "OUT ending in .dcm is written as a DICOM Segmentation of IMAGE, the DICOM series (a file of\n"
    "it, or its folder) whose grid the segmentation lies on.\n"};

// The options; a new one is a new row here and a line in ParseArguments.
const std::vector<cli::Option> kOptions{{"--segmentation"}, {"--scribbles"}, {"--references"},
                                        {"--output"},       {"--mode"},      {"--truth"},
                                        {"--threads"},      {"--metrics"},   {"--image"}};

using cli::Fail;
using cli::Failure;

// Keeps the messages of the libraries so a failure can be told on one line.
class CollectingSink final : public volume::MessageSink {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

bool Fail(Failure& failure, std::string text) { return Fail(failure, cli::kInput, std::move(text)); }

// The run's log lines on standard output, clear of the progress line.
class ProgressLog final : public volume::LogSink {
 public:
  void AppendLine(const std::string& line) override { cli::PrintOut(line + "\n"); }
};

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

struct Options {
  std::string segmentation, scribbles, references, output, truth, metrics, image;
  session::CorrectionMode mode = session::CorrectionMode::kSemiAutomatic;
  int threads = 0;  // 0: every core; the result never depends on it
};

bool ParseArguments(const cli::Arguments& a, Options& o, Failure& failure) {
  const auto usage = [&](const std::string& text) {
    return Fail(failure, cli::kUsage, text + " (see --help)");
  };
  for (const char* required : {"--segmentation", "--scribbles", "--output"})
    if (!a.Has(required)) return usage(std::string("missing ") + required);
  a.CopyValues({{"--segmentation", &o.segmentation},
                {"--scribbles", &o.scribbles},
                {"--output", &o.output},
                {"--references", &o.references},
                {"--truth", &o.truth},
                {"--metrics", &o.metrics},
                {"--image", &o.image}});
  if (volume::IsDicomSegPath(o.output) && o.image.empty())
    return Fail(failure, cli::kInput,
                "a DICOM Segmentation output (" + o.output + ") needs --image, the DICOM series it segments");
  if (a.Has("--metrics") && o.truth.empty()) return usage("--metrics needs --truth");
  if (a.Has("--mode")) {
    const std::string mode = a.Value("--mode");
    if (mode == "semi")
      o.mode = session::CorrectionMode::kSemiAutomatic;
    else if (mode == "semi-mm")
      o.mode = session::CorrectionMode::kSemiAutomaticMillimetre;
    else if (mode == "manual")
      o.mode = session::CorrectionMode::kManual;
    else
      return usage("--mode must be semi, semi-mm or manual, not '" + mode + "'");
  }
  if (session::UsesReferences(o.mode) && !a.Has("--references"))
    return usage("missing --references (needed by --mode semi and semi-mm)");
  long threads = 0;
  if (!cli::NumberOption(a, "--threads", 1, kMaximumThreads, threads, failure)) return false;
  o.threads = static_cast<int>(threads);
  return true;
}

// The outputs can be written: checked before any input is read.
bool CheckOutputs(const Options& o, Failure& failure) {
  // The ".mhd appended" rule would turn a folder name into a hidden "DIR/.mhd".
  if (const std::string problem = volume::SavePathProblem(o.output); !problem.empty())
    return Fail(failure, cli::kOutput, problem);
  return cli::CheckOutputs({volume::SavedPathFor(o.output)}, false, failure) &&
         cli::CheckOutputs({o.metrics}, true, failure);
}

// Loads through the load dispatcher; a volume without voxels is a failure.
bool Load(const std::string& what, const std::string& path, std::unique_ptr<CVoxel>& volume, Failure& error) {
  std::error_code missing;
  if (path.empty() || !std::filesystem::exists(path, missing))
    return Fail(error, "cannot read the " + what + " '" + path + "': no such file or folder");
  CollectingSink sink;
  volume = std::make_unique<CVoxel>(path, &sink);
  if (!volume->HasData() || volume->VoxelCount() == 0) {
    const std::string why = sink.messages.empty() ? "it holds no voxel data" : OneLine(sink.messages.front());
    return Fail(error, "cannot read the " + what + " '" + path + "': " + why);
  }
  for (const std::string& message : sink.messages) cli::Notice(kName, OneLine(message));
  return true;
}

bool Run(const Options& o, Failure& error) {
  std::unique_ptr<CVoxel> segmentation, map, truth;
  if (!Load("segmentation", o.segmentation, segmentation, error) ||
      !Load("scribble map", o.scribbles, map, error))
    return false;
  // A volume holding the segmentation's voxels in another axis order or direction is put on its grid.
  auto reorder = [&](CVoxel& volume, const char* what, const std::string& path) {
    std::string how;
    if (volume::ReorderOntoGrid(volume, *segmentation, &how) == volume::GridMatch::Reordered)
      cli::Notice(kName, volume::ReorderedText(what, path, "segmentation", o.segmentation, how));
  };
  reorder(*map, "scribble map", o.scribbles);
  if (!map->SameSize(*segmentation))
    return Fail(error, "the scribble map and the segmentation differ in size");
  // Notices are told once the run has succeeded: a failed run prints its one line only.
  std::vector<std::string> notices;
  // Inputs in the wrong role (swapped, or an image) are told; the run goes on as asked.
  if (const std::string problem = volume::SegmentationValuesProblem(*segmentation); !problem.empty())
    notices.push_back("the segmentation '" + o.segmentation + "' " + problem);
  if (const std::string problem = volume::ScribbleValuesProblem(*map); !problem.empty())
    notices.push_back("the scribble map '" + o.scribbles + "' " + problem);
  if (!o.truth.empty()) {
    if (!Load("ground truth", o.truth, truth, error)) return false;
    reorder(*truth, "ground truth", o.truth);
    if (!truth->SameSize(*segmentation))
      return Fail(error, "the ground truth and the segmentation differ in size");
    const std::string mismatch = o.metrics.empty() ? "" : evaluation::GeometryMismatch(*truth, *segmentation);
    if (!mismatch.empty()) return Fail(error, "cannot measure against the ground truth: " + mismatch);
  }
  // Volumes that do not lie where the segmentation lies are still used voxel
  // for voxel, as the window does; the user is told.
  auto warnIfElsewhere = [&](const CVoxel& volume, const char* what) {
    if (!SameGeometry(volume, *segmentation))
      notices.push_back(volume::GeometryMismatchText(what, "segmentation"));
  };
  std::string why;
  if (volume::IsDicomSegPath(o.output) && !volume::CanSaveDicomSegmentation(*segmentation, o.image, &why))
    return Fail(error, cli::kInput,
                "cannot write the DICOM Segmentation '" + o.output + "': " + OneLine(why));
  warnIfElsewhere(*map, "scribble map");
  if (truth) warnIfElsewhere(*truth, "ground truth");
  const CVoxel before = truth ? *segmentation : CVoxel();

  // The window's correction job, so that a batch run is an interactive one.
  session::CorrectionJob job;
  job.mode = o.mode;
  if (session::UsesReferences(o.mode)) {
    if (!geometry::HasForeground(*segmentation))
      return Fail(error, "the segmentation '" + o.segmentation + "' is empty: there is nothing to correct");
    if (!FindReferenceLabels(o.references, job.referencePaths))
      return Fail(error, "cannot read the reference folder '" + o.references + "'");
    if (job.referencePaths.empty())
      return Fail(error, "no reference label (a file whose name contains \"mhd\" and \"label\") in '" +
                             o.references + "'");
    // The window's parameter set for the mode, so that a batch run matches an interactive one.
    job.parameters = session::ParametersFor(o.mode, *segmentation);
    job.parameters.threads = o.threads;
  }
  // The scribble map is the whole accumulated map of this one run.
  job.segmentation = std::move(segmentation);
  job.accumulatedMap = std::move(map);
  ProgressLog log;
  CollectingSink messages;
  bool done = false;
  {
    cli::Progress progress(kName, "correcting");
    done = job.Run(log, messages);
  }
  segmentation = std::move(job.segmentation);
  if (!done)
    return Fail(error,
                messages.messages.empty() ? "the correction failed" : OneLine(messages.messages.front()));
  for (const std::string& warning : messages.messages) notices.push_back("warning: " + OneLine(warning));

  // The result lies where the segmentation lies: it is the segmentation, corrected.
  const std::string output = volume::SavedPathFor(o.output);
  // The measures are staged first and put in place only once the segmentation is written.
  cli::TextOutputs metrics;
  if (!o.metrics.empty()) {
    std::vector<evaluation::ResultRow> rows;
    evaluation::AppendCaseRows("", o.segmentation, evaluation::Evaluate(*truth, before), rows);
    evaluation::AppendCaseRows("", output, evaluation::Evaluate(*truth, *segmentation), rows);
    if (!metrics.Add(o.metrics, evaluation::CsvText(rows, false), error)) return false;
  }
  bool widened = false;
  const volume::SegAlgorithm algorithm = o.mode == session::CorrectionMode::kManual
                                             ? volume::SegAlgorithm::Manual
                                             : volume::SegAlgorithm::SemiAutomatic;
  const bool saved = volume::IsDicomSegPath(o.output)
                         ? volume::SaveDicomSegmentation(*segmentation, o.image, algorithm, o.output, &why)
                         : volume::SaveVolumeAs(*segmentation, o.output, volume::ElementStorage::UnsignedByte,
                                                nullptr, &why, &widened);
  if (!saved) return Fail(error, cli::kOutput, why.empty() ? "cannot write '" + output + "'" : OneLine(why));
  if (widened) notices.push_back(volume::WidenedSaveText(output));
  if (!metrics.Commit(error)) return false;
  metrics.PrintStdout();
  if (truth) {
    std::printf("Dice before: %.4f\n", evaluation::Dice(before, *truth));
    std::printf("Dice after: %.4f\n", evaluation::Dice(*segmentation, *truth));
  }
  std::fflush(stdout);
  for (const std::string& notice : notices) cli::Notice(kName, notice);
  return true;
}

bool ParseCheckAndRun(const cli::Arguments& arguments, int&, Failure& failure) {
  Options options;
  return ParseArguments(arguments, options, failure) && CheckOutputs(options, failure) &&
         Run(options, failure);
}

}  // namespace

int main(int argc, char** argv) { return cli::Main(kProgram, argc, argv, kOptions, ParseCheckAndRun); }
