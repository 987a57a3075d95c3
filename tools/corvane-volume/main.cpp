// corvane-volume: inspect any volume Corvane reads, or convert it losslessly
// (see --help).
#include <nifti2_io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "CommandLine.h"
#include "volume/DicomScan.h"
#include "volume/DicomSeg.h"
#include "volume/FileIO.h"
#include "volume/Isolated.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace {

constexpr const char* kName = "corvane-volume";

const cli::Program kProgram{
    kName,
    "usage: corvane-volume [-q] info PATH [PATH ...]\n"
    "       corvane-volume [-q] convert IN OUT\n"
    "       corvane-volume --help | --version\n"
    "\n"
    "info     prints for each PATH its name, the data type stored in the file, size, spacing,\n"
    "         origin (LPS, as ITK), direction (row by row), value range and the number of\n"
    "         non-zero voxels; files are separated by an empty line. For a DICOM Segmentation\n"
    "         also its segment label and frames (the volume is its first segment on the grid\n"
    "         of its series)\n"
    "convert  writes the volume losslessly, in the format OUT's suffix names:\n"
    "           .raw     16-bit raw with the 40-byte header (int32 -1, spacing x y z,\n"
    "                    origin x y z, X, Y, Z, int16 voxels, little-endian)\n"
    "           .mhd     MetaImage header with MET_SHORT voxels in OUT's name with .raw\n"
    "           .mha     MetaImage in one file (header and MET_SHORT voxels)\n"
    "           .nii     NIfTI-1 with int16 voxels, .nii.gz the same compressed\n"
    "         any other suffix is refused. Spacing, origin and direction are kept (the raw\n"
    "         format has no direction: a notice says when one is lost). An OUT that is a\n"
    "         symbolic link is written through to the file it names.\n"
    "-q       no notices on stderr\n",
    true};

const std::vector<std::string> kWrittenSuffixes{".raw", ".mhd", ".mha", ".nii", ".nii.gz"};

// Keeps the readers' messages, one line each.
class CollectingSink final : public volume::MessageSink {
 public:
  void ShowMessage(const std::string& text) override {
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) messages.push_back(line);
  }
  std::vector<std::string> messages;
};

int Usage(const std::string& problem) {
  cli::Error(kName, problem + " (see --help)");
  return cli::kUsage;
}

// One line on stderr; the path is added when the text does not name it already.
void Say(const std::string& path, const std::string& text, bool notice = false) {
  const std::string line = text.find(path) != std::string::npos ? text : path + ": " + text;
  if (notice) {
    cli::Notice(kName, line);
  } else {
    cli::Error(kName, line);
  }
}

// Loads the volume; on failure prints the one line that says why.
bool Load(const std::string& path, CVoxel& volume) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    Say(path, std::strerror(errno));
    return false;
  }
  CollectingSink sink;
  volume = CVoxel(path, &sink);
  if (!volume.HasData()) {
    std::string why;
    for (const std::string& m : sink.messages) why += (why.empty() ? "" : "; ") + m;
    if (why.empty()) why = "no volume could be read from it";
    Say(path, why);
    return false;
  }
  for (const std::string& m : sink.messages) Say(path, m, true);
  return true;
}

// The first line of info on a DICOM Segmentation: what it is and holds.
void DescribeSegmentation(const std::string& path) {
  volume::DicomSegSummary seg;
  std::string why;
  if (!volume::DescribeDicomSegmentation(path, &seg, &why)) return;
  std::printf("DICOM Segmentation: segment \"%s\" (first of %d), %d of its %d frames",
              seg.segmentLabel.c_str(), seg.segments, seg.framesOfFirstSegment, seg.frames);
  if (!seg.referencedSeries.empty()) std::printf(", of series %s", seg.referencedSeries.c_str());
  std::printf("\n");
}

// The ElementType of a MetaImage header ("MET_UCHAR" when the line is missing,
// as the reader takes it).
std::string MetaImageElementType(const std::string& path) {
  volume::InputFile file = volume::InputFile::Open(path);
  if (!file.IsOpen()) return "unknown";
  char line[512];
  // The header ends at ElementDataFile; a few hundred lines is far beyond any real header.
  for (int n = 0; n < 1000 && std::fgets(line, sizeof line, file.Stream()); ++n) {
    std::string text(line);
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    auto trim = [](std::string t) {
      const std::size_t b = t.find_first_not_of(" \t\r\n");
      const std::size_t e = t.find_last_not_of(" \t\r\n");
      return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
    };
    const std::string key = trim(text.substr(0, equals));
    if (key == "ElementType") return trim(text.substr(equals + 1));
    if (key == "ElementDataFile") break;
  }
  return "MET_UCHAR";
}

// The NIfTI or Analyze datatype of the header ("INT16", "FLOAT32", ...).
std::string NiftiDataType(const std::string& path) {
  nifti_set_debug_level(0);
  nifti_image* header = nifti_image_read(path.c_str(), 0);
  if (!header) return "unknown";
  const std::string type = nifti_datatype_string(header->datatype);
  nifti_image_free(header);
  return type;
}

// The element type of a DICOM object's pixels: of the chosen file when it is
// an image or a segmentation, else of the series the path designates; empty
// when it cannot be told. The headers are read in a child process with a
// bounded address space, as the readers read them: GDCM allocates a value of
// the length a header declares before reading it, so a corrupt length would
// otherwise cost gigabytes and seconds here.
std::string DicomStoredType(const std::string& path) {
  std::string type;
  const bool done = volume::ReadHeadersIsolated(
      [&path] {
        std::error_code ec;
        volume::dicom::DicomInstance instance;
        if (!std::filesystem::is_directory(path, ec) && volume::dicom::ReadDicomInstance(path, &instance) &&
            instance.bitsAllocated > 0)
          return volume::dicom::StoredPixelType(instance);
        volume::dicom::DicomStack stack;
        std::string why;
        if (volume::dicom::LocateDicomStack(path, &stack, &why) && !stack.instances.empty())
          return volume::dicom::StoredPixelType(stack.instances.front());
        return std::string();
      },
      &type);
  return done ? type : std::string();
}

// The element type stored in the file, as the format spells it.
std::string StoredType(const std::string& path) {
  switch (volume::FormatForPath(path)) {
    case volume::VolumeFormat::ByteRaw:
      return "uint8";
    case volume::VolumeFormat::ShortRaw:
      return "int16";
    case volume::VolumeFormat::MetaImage:
      return MetaImageElementType(path);
    case volume::VolumeFormat::AnalyzeNifti:
      return NiftiDataType(path);
    case volume::VolumeFormat::Image2048:
      return "uint16";  // big-endian
    case volume::VolumeFormat::DicomSeries:
      if (std::string type = DicomStoredType(path); !type.empty()) return type;
      break;
  }
  return "unknown";
}

bool Info(const std::string& path, bool first) {
  CVoxel volume;
  if (!Load(path, volume)) return false;
  const CVoxel::value_type* data = volume.Data();
  const auto [lo, hi] = std::minmax_element(data, data + volume.VoxelCount());
  if (!first) std::printf("\n");
  std::printf("file %s\n", path.c_str());
  if (volume::IsDicomSegmentation(path)) DescribeSegmentation(path);
  std::printf("type %s\n", StoredType(path).c_str());
  std::printf("size %d %d %d\n", volume.X, volume.Y, volume.Z);
  std::printf("spacing %g %g %g\n", double{volume.spacing[0]}, double{volume.spacing[1]},
              double{volume.spacing[2]});
  std::printf("origin %g %g %g\n", double{volume.origin[0]}, double{volume.origin[1]},
              double{volume.origin[2]});
  std::printf("direction");
  for (const auto& row : volume.direction)
    for (double d : row) std::printf(" %g", d + 0.0);  // + 0.0: no "-0"
  std::printf("\n");
  std::printf("range %d %d\n", int{*lo}, int{*hi});
  std::printf("nonzero %d\n", volume.CountNonZero());
  return true;
}

// Whether the voxel axes are the patient's axes (within the tolerance of SameGeometry).
bool AxesArePatientAxes(const CVoxel& volume) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (std::fabs(volume.direction[r][c] - (r == c ? 1.0 : 0.0)) > 1e-4) return false;
  return true;
}

int Convert(const std::string& in, const std::string& out) {
  // The output's name and folder are checked before the input is read.
  const bool known = std::any_of(kWrittenSuffixes.begin(), kWrittenSuffixes.end(),
                                 [&](const std::string& s) { return cli::HasSuffix(out, s); });
  if (!known) {
    cli::Error(kName, cli::SuffixProblem(kName, out, kWrittenSuffixes));
    return cli::kOutput;
  }
  if (const std::string problem = cli::CheckOutput(out, false); !problem.empty()) {
    cli::Error(kName, problem);
    return cli::kOutput;
  }
  CVoxel volume;
  if (!Load(in, volume)) return cli::kInput;
  std::string error;
  const bool raw = cli::HasSuffix(out, ".raw");
  const bool ok = volume::IsNiftiPath(out)
                      ? volume::SaveNifti(volume, out, volume::ElementStorage::Short, &error)
                  : raw ? volume::SaveRaw16(volume, out, &error)
                        : volume::SaveMetaImageShort(volume, out, &error);
  if (!ok) {
    cli::Error(kName, error);
    return cli::kOutput;
  }
  if (raw && !AxesArePatientAxes(volume)) {
    Say(out,
        "the raw format keeps spacing and origin but not the direction; write .mhd, .mha or .nii.gz to keep "
        "it",
        true);
  }
  return cli::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  cli::HandleInterruptions();
  cli::Arguments arguments;
  if (const auto status = cli::Parse(kProgram, argc, argv, {}, arguments)) return *status;
  const std::vector<std::string>& args = arguments.Positional();
  if (args.empty()) return Usage("give a command, info or convert");
  if (args[0] == "info") {
    if (args.size() < 2) return Usage("info takes one or more PATHs");
    bool all = true;
    for (std::size_t i = 1; i < args.size(); ++i) all = Info(args[i], i == 1) && all;
    return all ? cli::kDone : cli::kInput;
  }
  if (args[0] == "convert")
    return args.size() == 3 ? Convert(args[1], args[2]) : Usage("convert takes IN and OUT");
  return Usage("unknown command \"" + args[0] + "\"");
}
