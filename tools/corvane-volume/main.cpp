// corvane-volume: inspect any volume Corvane reads, or convert it losslessly.
//
//   corvane-volume info PATH
//   corvane-volume convert IN OUT.raw     (OUT.mhd writes MetaImage MET_SHORT,
//                                          OUT.nii or OUT.nii.gz NIfTI-1 int16)
//
// Exit status: 0 done, 1 bad arguments, 2 the input could not be loaded,
// 3 the output could not be written.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "volume/DicomSeg.h"
#include "volume/FileIO.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace {

constexpr const char* kUsage =
    "usage: corvane-volume info PATH\n"
    "       corvane-volume convert IN OUT.raw\n"
    "\n"
    "info     prints size, spacing, origin (LPS, as ITK), direction (row by row), value range\n"
    "         and the number of non-zero voxels; for a DICOM Segmentation first its segment\n"
    "         label and frames (the volume is its first segment on its series' grid)\n"
    "convert  writes the volume losslessly: 16-bit raw with the 40-byte header\n"
    "         (int32 -1, spacing x y z, origin x y z, X, Y, Z, int16 voxels, little-endian),\n"
    "         MetaImage with MET_SHORT voxels when OUT ends in .mhd, or NIfTI-1 with int16\n"
    "         voxels when OUT ends in .nii or .nii.gz; spacing, origin and direction are kept\n"
    "         (the raw format has no direction: a line on stderr says when one is lost)\n";

// Keeps the readers' messages, one line each.
class CollectingSink final : public MessageSink {
 public:
  void ShowMessage(const std::string& text) override {
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) messages.push_back(line);
  }
  std::vector<std::string> messages;
};

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "corvane-volume: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 1;
}

// One line on stderr; the path is added when the text does not name it already.
void Say(const std::string& path, const std::string& text) {
  if (text.find(path) != std::string::npos) {
    std::fprintf(stderr, "corvane-volume: %s\n", text.c_str());
  } else {
    std::fprintf(stderr, "corvane-volume: %s: %s\n", path.c_str(), text.c_str());
  }
}

// Loads the volume; on failure prints the one line that says why.
bool Load(const std::string& path, CVoxel& volume) {
  CollectingSink sink;
  volume = CVoxel(path, &sink);
  if (!volume.HasData()) {
    std::string why;
    for (const std::string& m : sink.messages) why += (why.empty() ? "" : "; ") + m;
    if (why.empty()) {
      FileCause cause = FileCause::none;
      const bool opened = InputFile::Open(path, &cause).IsOpen();
      why = opened ? "no volume could be read from it"
                   : std::string("cannot open it (") + FileCauseName(cause) + ")";
    }
    Say(path, why);
    return false;
  }
  for (const std::string& m : sink.messages) Say(path, m);
  return true;
}

// The first line of info on a DICOM Segmentation: what it is and holds.
void DescribeSegmentation(const std::string& path) {
  DicomSegSummary seg;
  std::string why;
  if (!DescribeDicomSegmentation(path, &seg, &why)) return;
  std::printf("DICOM Segmentation: segment \"%s\" (first of %d), %d of its %d frames",
              seg.segmentLabel.c_str(), seg.segments, seg.framesOfFirstSegment, seg.frames);
  if (!seg.referencedSeries.empty()) std::printf(", of series %s", seg.referencedSeries.c_str());
  std::printf("\n");
}

int Info(const std::string& path) {
  CVoxel volume;
  if (!Load(path, volume)) return 2;
  if (IsDicomSegmentation(path)) DescribeSegmentation(path);
  const CVoxel::value_type* data = volume.Data();
  const auto [lo, hi] = std::minmax_element(data, data + volume.VoxelCount());
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
  return 0;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Whether the voxel axes are the patient's axes (within the tolerance of SameGeometry).
bool AxesArePatientAxes(const CVoxel& volume) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (std::fabs(volume.direction[r][c] - (r == c ? 1.0 : 0.0)) > 1e-4) return false;
  return true;
}

int Convert(const std::string& in, const std::string& out) {
  CVoxel volume;
  if (!Load(in, volume)) return 2;
  std::string error;
  const bool metaImage = EndsWith(out, ".mhd") || EndsWith(out, ".MHD");
  const bool raw = !metaImage && !IsNiftiPath(out);
  const bool ok = IsNiftiPath(out) ? SaveNifti(volume, out, ElementStorage::Short, &error)
                  : metaImage      ? SaveMetaImageShort(volume, out, &error)
                                   : SaveRaw16(volume, out, &error);
  if (!ok) {
    std::fprintf(stderr, "corvane-volume: %s\n", error.c_str());
    return 3;
  }
  if (raw && !AxesArePatientAxes(volume)) {
    Say(out,
        "the raw format keeps spacing and origin but not the direction; write .mhd or .nii.gz to keep it");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.empty()) return Usage(nullptr);
  if (args[0] == "info") return args.size() == 2 ? Info(args[1]) : Usage("info takes one PATH");
  if (args[0] == "convert")
    return args.size() == 3 ? Convert(args[1], args[2]) : Usage("convert takes IN and OUT");
  return Usage(("unknown command \"" + args[0] + "\"").c_str());
}
