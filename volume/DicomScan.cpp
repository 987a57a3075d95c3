#include "volume/DicomScan.h"

#include <gdcmDataSet.h>
#include <gdcmFileMetaInformation.h>
#include <gdcmReader.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmStringFilter.h>
#include <gdcmTag.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "volume/FileIO.h"

namespace volume::dicom {
namespace {

const gdcm::Tag kPixelData(0x7fe0, 0x0010);
const gdcm::Tag kSopClass(0x0008, 0x0016), kSopInstance(0x0008, 0x0018), kStudy(0x0020, 0x000d),
    kSeries(0x0020, 0x000e), kFrameOfReference(0x0020, 0x0052), kInstanceNumber(0x0020, 0x0013),
    kSeriesDescription(0x0008, 0x103e), kModality(0x0008, 0x0060), kRows(0x0028, 0x0010),
    kColumns(0x0028, 0x0011), kBitsAllocated(0x0028, 0x0100), kNumberOfFrames(0x0028, 0x0008),
    kPosition(0x0020, 0x0032), kOrientation(0x0020, 0x0037), kPixelSpacing(0x0028, 0x0030),
    kSliceThickness(0x0018, 0x0050), kSpacingBetweenSlices(0x0018, 0x0088), kIntercept(0x0028, 0x1052),
    kSlope(0x0028, 0x1053), kSharedGroups(0x5200, 0x9229), kPerFrameGroups(0x5200, 0x9230),
    kPlanePosition(0x0020, 0x9113), kPlaneOrientation(0x0020, 0x9116), kPixelMeasures(0x0028, 0x9110),
    kValueTransformation(0x0028, 0x9145), kSamplesPerPixel(0x0028, 0x0002), kPhotometric(0x0028, 0x0004),
    kBitsStored(0x0028, 0x0101), kPixelRepresentation(0x0028, 0x0103);

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  std::size_t start = 0;
  while (start < s.size() && s[start] == ' ') ++start;
  return s.substr(start);
}

// The numbers of a multi-valued string (DS, IS: "0.5\0.75") or of the text
// GDCM gives for binary values. False unless exactly `count` finite numbers.
bool Numbers(const std::string& text, double* out, int count) {
  std::string item;
  std::istringstream in(text);
  int n = 0;
  while (std::getline(in, item, '\\')) {
    if (n == count) return false;
    item = Trimmed(item);
    char* end = nullptr;
    const double v = std::strtod(item.c_str(), &end);
    if (item.empty() || end != item.c_str() + item.size() || !std::isfinite(v)) return false;
    out[n++] = v;
  }
  return n == count;
}

// Values of one data set, read through GDCM's string conversion (which
// knows every value representation and byte order).
class Values {
 public:
  Values(const gdcm::StringFilter& filter, const gdcm::DataSet& ds) : m_filter(filter), m_ds(ds) {}
  bool Has(const gdcm::Tag& tag) const {
    return m_ds.FindDataElement(tag) && !m_ds.GetDataElement(tag).IsEmpty();
  }
  std::string Text(const gdcm::Tag& tag) const {
    if (!Has(tag)) return {};
    try {
      return Trimmed(m_filter.ToString(m_ds.GetDataElement(tag)));
    } catch (...) {
      return {};
    }
  }
  bool Number(const gdcm::Tag& tag, double* out, int count = 1) const {
    return Numbers(Text(tag), out, count);
  }
  // Item `index` (0-based) of a sequence, or null.
  const gdcm::DataSet* Item(const gdcm::Tag& tag, std::size_t index,
                            gdcm::SmartPointer<gdcm::SequenceOfItems>* keep) const {
    if (!Has(tag)) return nullptr;
    *keep = m_ds.GetDataElement(tag).GetValueAsSQ();
    if (!*keep || index >= (*keep)->GetNumberOfItems()) return nullptr;
    return &(*keep)->GetItem(index + 1).GetNestedDataSet();
  }
  std::size_t ItemCount(const gdcm::Tag& tag) const {
    if (!Has(tag)) return 0;
    const gdcm::SmartPointer<gdcm::SequenceOfItems> sq = m_ds.GetDataElement(tag).GetValueAsSQ();
    return sq ? sq->GetNumberOfItems() : 0;
  }
  const gdcm::StringFilter& Filter() const { return m_filter; }

 private:
  const gdcm::StringFilter& m_filter;
  const gdcm::DataSet& m_ds;
};

// Takes the placing attributes found in `v` into `frame`; those absent there are kept.
void TakePlacement(const Values& v, DicomFrame& frame) {
  double p[6];
  if (v.Number(kPosition, p, 3)) {
    frame.hasPosition = true;
    std::copy(p, p + 3, frame.position.begin());
  }
  if (v.Number(kOrientation, p, 6)) {
    frame.hasOrientation = true;
    std::copy(p, p + 6, frame.orientation.begin());
  }
  if (v.Number(kPixelSpacing, p, 2) && p[0] > 0 && p[1] > 0) {
    frame.hasPixelSpacing = true;
    std::copy(p, p + 2, frame.pixelSpacing.begin());
  }
  if (v.Number(kSliceThickness, p) && p[0] > 0) frame.sliceThickness = p[0];
  if (v.Number(kSpacingBetweenSlices, p) && p[0] > 0) frame.spacingBetweenSlices = p[0];
  if (v.Number(kSlope, p) && p[0] != 0.0) frame.slope = p[0];
  if (v.Number(kIntercept, p)) frame.intercept = p[0];
}

// The functional groups of an enhanced multi-frame image: each macro is a
// sequence with one item holding the attributes of a classic image.
void TakeFunctionalGroups(const Values& groups, DicomFrame& frame) {
  for (const gdcm::Tag& macro : {kPlanePosition, kPlaneOrientation, kPixelMeasures, kValueTransformation}) {
    gdcm::SmartPointer<gdcm::SequenceOfItems> keep;
    if (const gdcm::DataSet* item = groups.Item(macro, 0, &keep))
      TakePlacement(Values(groups.Filter(), *item), frame);
  }
}

// For a plain image: checks that the pixel data element's header lies just
// before `offset` (where the header reader stopped) and that the value it
// declares is in the file, and records where the pixels are.
void TakePlainPixels(const std::string& path, std::uint64_t offset, bool explicitVr, const Values& v,
                     DicomInstance& instance) {
  double samples = 0, bitsAllocated = 0, bitsStored = 0, representation = -1;
  if (!v.Number(kSamplesPerPixel, &samples) || samples != 1 || v.Text(kPhotometric) != "MONOCHROME2" ||
      !v.Number(kBitsAllocated, &bitsAllocated) || !(bitsAllocated == 8 || bitsAllocated == 16) ||
      !v.Number(kBitsStored, &bitsStored) || bitsStored != bitsAllocated ||
      !v.Number(kPixelRepresentation, &representation) || !(representation == 0 || representation == 1))
    return;
  const std::uint64_t headerBytes = explicitVr ? 12 : 8;
  std::error_code ec;
  const std::uint64_t size = std::filesystem::file_size(path, ec);
  if (ec || offset < headerBytes || offset > size) return;
  unsigned char header[12] = {};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  const bool read = std::fseek(f, static_cast<long>(offset - headerBytes), SEEK_SET) == 0 &&
                    std::fread(header, 1, headerBytes, f) == headerBytes;
  std::fclose(f);
  if (!read) return;
  static constexpr unsigned char kTag[4] = {0xe0, 0x7f, 0x10, 0x00};
  if (!std::equal(kTag, kTag + 4, header)) return;
  if (explicitVr &&
      !((header[4] == 'O' && (header[5] == 'W' || header[5] == 'B')) && header[6] == 0 && header[7] == 0))
    return;
  const unsigned char* l = header + headerBytes - 4;
  const std::uint64_t length =
      std::uint64_t{l[0]} | std::uint64_t{l[1]} << 8 | std::uint64_t{l[2]} << 16 | std::uint64_t{l[3]} << 24;
  if (length == 0xffffffffu || length > size - offset) return;  // encapsulated, or cut short
  instance.plainPixelOffset = offset;
  instance.plainPixelLength = length;
  instance.bitsAllocated = static_cast<int>(bitsAllocated);
  instance.signedPixels = representation == 1;
}

void ScanFile(const std::string& path, DicomFolderScan& scan) {
  gdcm::Reader reader;
  reader.SetFileName(path.c_str());
  // The header only: reading stops at the pixel data, whose value is skipped.
  if (!reader.ReadUpToTag(kPixelData, {kPixelData})) return;
  const gdcm::File& file = reader.GetFile();
  const gdcm::DataSet& ds = file.GetDataSet();
  gdcm::StringFilter filter;
  filter.SetFile(file);
  const Values v(filter, ds);

  DicomInstance instance;
  instance.path = path;
  instance.sopClassUid = v.Text(kSopClass);
  if (instance.sopClassUid.empty()) {
    const Values meta(filter, file.GetHeader());
    instance.sopClassUid = meta.Text(gdcm::Tag(0x0002, 0x0002));
  }
  instance.sopInstanceUid = v.Text(kSopInstance);
  instance.studyUid = v.Text(kStudy);
  instance.seriesUid = v.Text(kSeries);
  instance.frameOfReferenceUid = v.Text(kFrameOfReference);
  instance.seriesDescription = v.Text(kSeriesDescription);
  instance.modality = v.Text(kModality);
  if (const char* ts = file.GetHeader().GetDataSetTransferSyntax().GetString())
    instance.transferSyntaxUid = ts;
  double n = 0;
  if (v.Number(kInstanceNumber, &n) && std::abs(n) < 1e9) instance.instanceNumber = static_cast<int>(n);
  if (v.Number(kRows, &n) && n >= 1 && n <= 65535) instance.rows = static_cast<int>(n);
  if (v.Number(kColumns, &n) && n >= 1 && n <= 65535) instance.columns = static_cast<int>(n);
  if (v.Number(kBitsAllocated, &n) && n >= 1 && n <= 64) instance.bitsAllocated = static_cast<int>(n);
  instance.signedPixels = v.Number(kPixelRepresentation, &n) && n == 1;

  // An image describes its pixels (whether they are really there is found when they are decoded).
  const bool objectWithPixels = v.Has(kBitsAllocated) && instance.sopClassUid != kSegmentationStorage &&
                                instance.sopClassUid != kMediaDirectoryStorage;
  if (objectWithPixels && instance.rows > 0 && instance.columns > 0) {
    instance.frames = 1;
    if (v.Has(kNumberOfFrames)) {
      // Every frame takes at least a byte of the file: more frames than
      // bytes is a corrupt count.
      std::error_code ec;
      const auto bytes = static_cast<double>(std::filesystem::file_size(path, ec));
      if (!v.Number(kNumberOfFrames, &n) || n < 1 || ec || n > bytes) {
        instance.frames = 0;
      } else {
        instance.frames = static_cast<int>(n);
      }
    }
  }
  instance.enhanced = instance.frames > 0 && v.Has(kPerFrameGroups);
  if (instance.IsImage() && (instance.transferSyntaxUid == "1.2.840.10008.1.2" ||
                             instance.transferSyntaxUid == "1.2.840.10008.1.2.1")) {
    TakePlainPixels(path, reader.GetStreamCurrentPosition(),
                    instance.transferSyntaxUid != "1.2.840.10008.1.2", v, instance);
  }
  const int index = static_cast<int>(scan.instances.size());
  scan.instances.push_back(instance);
  if (!instance.IsImage()) return;

  DicomFrame common;
  common.instance = index;
  TakePlacement(v, common);
  if (!instance.enhanced) {
    // A classic multi-frame image (no functional groups): its frames share
    // one placement, so they cannot be stacked by position.
    for (int f = 0; f < instance.frames; ++f) {
      common.frame = f;
      scan.frames.push_back(common);
    }
    return;
  }
  gdcm::SmartPointer<gdcm::SequenceOfItems> sharedKeep;
  if (const gdcm::DataSet* shared = v.Item(kSharedGroups, 0, &sharedKeep))
    TakeFunctionalGroups(Values(filter, *shared), common);
  gdcm::SmartPointer<gdcm::SequenceOfItems> perFrame;
  if (v.Has(kPerFrameGroups)) perFrame = ds.GetDataElement(kPerFrameGroups).GetValueAsSQ();
  for (int f = 0; f < instance.frames; ++f) {
    DicomFrame frame = common;
    frame.frame = f;
    if (perFrame && static_cast<std::size_t>(f) < perFrame->GetNumberOfItems()) {
      TakeFunctionalGroups(
          Values(filter, perFrame->GetItem(static_cast<std::size_t>(f) + 1).GetNestedDataSet()), frame);
    } else {
      frame.hasPosition = false;  // a frame the per-frame groups do not describe cannot be placed
    }
    scan.frames.push_back(frame);
  }
}

std::array<double, 3> Normal(const std::array<double, 6>& o) {
  std::array<double, 3> n = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 1e-6)) return {0, 0, 0};
  for (double& c : n) c /= length;
  return n;
}

bool SameOrientation(const DicomFrame& a, const DicomFrame& b) {
  if (a.hasOrientation != b.hasOrientation) return false;
  for (int i = 0; i < 6; ++i)
    if (std::abs(a.orientation[i] - b.orientation[i]) > 1e-3) return false;
  return true;
}

// "3", "2.5", "0.625"
std::string Millimetres(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

std::string SeriesLabel(const DicomInstance& instance, std::size_t slices) {
  std::string label = instance.seriesDescription.empty() ? instance.modality : instance.seriesDescription;
  if (label.empty()) label = "series";
  return "\"" + label + "\" (" + std::to_string(slices) + (slices == 1 ? " image" : " images") + ", e.g. " +
         std::string(std::filesystem::path(instance.path).filename().string()) + ")";
}

// Sorts the slices, checks their spacing and places the volume.
bool Arrange(const DicomFolderScan& scan, std::vector<DicomFrame> frames, DicomStack* stack,
             std::string* why) {
  const DicomFrame first = frames.front();
  const bool placed = std::all_of(frames.begin(), frames.end(),
                                  [](const DicomFrame& f) { return f.hasPosition && f.hasOrientation; });
  const std::array<double, 3> normal = placed ? Normal(first.orientation) : std::array<double, 3>{0, 0, 0};
  const bool usable = placed && (normal[0] != 0 || normal[1] != 0 || normal[2] != 0);
  auto along = [&](const DicomFrame& f) {
    return f.position[0] * normal[0] + f.position[1] * normal[1] + f.position[2] * normal[2];
  };
  auto byNumber = [&](const DicomFrame& a, const DicomFrame& b) {
    const DicomInstance& ia = scan.instances[a.instance];
    const DicomInstance& ib = scan.instances[b.instance];
    if (ia.instanceNumber != ib.instanceNumber) return ia.instanceNumber < ib.instanceNumber;
    if (ia.path != ib.path) return ia.path < ib.path;
    return a.frame < b.frame;
  };
  // The frames of one classic multi-frame image share its position: they
  // follow each other along the normal in frame order.
  const bool oneClassicMultiFrame =
      frames.size() > 1 && std::all_of(frames.begin(), frames.end(), [&](const DicomFrame& f) {
        return f.instance == first.instance && !scan.instances[f.instance].enhanced;
      });
  if (oneClassicMultiFrame && usable) {
    // Frame k lies k steps along the normal from the image's position.
    std::stable_sort(frames.begin(), frames.end(), byNumber);
    const DicomFrame f0 = frames.front();
    const double step = f0.spacingBetweenSlices > 0 ? f0.spacingBetweenSlices
                        : f0.sliceThickness > 0     ? f0.sliceThickness
                                                    : 1.0;
    for (std::size_t i = 1; i < frames.size(); ++i)
      for (int r = 0; r < 3; ++r)
        frames[i].position[r] = f0.position[r] + static_cast<double>(i) * step * normal[r];
  }
  if (usable) {
    std::stable_sort(frames.begin(), frames.end(), [&](const DicomFrame& a, const DicomFrame& b) {
      const double pa = along(a), pb = along(b);
      return pa != pb ? pa > pb : byNumber(a, b);
    });
  } else {
    std::stable_sort(frames.begin(), frames.end(), byNumber);
  }

  double rowSpacing = first.hasPixelSpacing ? first.pixelSpacing[0] : 1.0;
  double columnSpacing = first.hasPixelSpacing ? first.pixelSpacing[1] : 1.0;
  double sliceSpacing = first.sliceThickness > 0 ? first.sliceThickness : 1.0;
  if (usable && frames.size() > 1) {
    std::vector<double> gaps;
    for (std::size_t i = 0; i + 1 < frames.size(); ++i)
      gaps.push_back(along(frames[i]) - along(frames[i + 1]));
    std::vector<double> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    const double typical = sorted[(sorted.size() - 1) / 2];
    if (typical < 1e-3) {
      *why =
          "several of its images lie at the same position (more than one image per slice, such as "
          "echoes, time points or diffusion directions)";
      return false;
    }
    const double tolerance = std::max(0.01, 0.01 * typical);
    for (std::size_t i = 0; i < gaps.size(); ++i) {
      if (std::abs(gaps[i] - typical) > tolerance) {
        *why = "slices " + std::to_string(i + 1) + " and " + std::to_string(i + 2) + " are " +
               Millimetres(gaps[i]) + " mm apart where the others are " + Millimetres(typical) + " mm";
        return false;
      }
    }
    // Every slice must lie on the line through the first along the normal.
    for (std::size_t i = 1; i < frames.size(); ++i) {
      const double d = along(frames.front()) - along(frames[i]);
      double off = 0;
      for (int r = 0; r < 3; ++r) {
        const double e = frames[i].position[r] - (frames.front().position[r] - d * normal[r]);
        off += e * e;
      }
      if (std::sqrt(off) > std::max(0.01, 0.1 * typical)) {
        *why = "slice " + std::to_string(i + 1) +
               " is shifted sideways from the others (not one stack of slices)";
        return false;
      }
    }
    sliceSpacing = (along(frames.front()) - along(frames.back())) / static_cast<double>(frames.size() - 1);
  }

  stack->hasPlacement = usable;
  stack->spacing[0] = columnSpacing;
  stack->spacing[1] = rowSpacing;
  stack->spacing[2] = sliceSpacing;
  if (usable) {
    for (int r = 0; r < 3; ++r) {
      stack->axes[r][0] = first.orientation[r] * columnSpacing;
      stack->axes[r][1] = first.orientation[3 + r] * rowSpacing;
      stack->axes[r][2] = -normal[r] * sliceSpacing;
      stack->origin[r] = frames.front().position[r];
    }
  }
  // Renumber the instances into the stack's own list.
  std::map<int, int> renumber;
  for (DicomFrame& f : frames) {
    auto [it, inserted] = renumber.emplace(f.instance, static_cast<int>(stack->instances.size()));
    if (inserted) stack->instances.push_back(scan.instances[f.instance]);
    f.instance = it->second;
  }
  stack->slices = std::move(frames);
  return true;
}

}  // namespace

DicomFolderScan ScanDicomFolder(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kindError;
    // Only regular files (or links to them): opening a FIFO or a device could block.
    if (it->is_regular_file(kindError)) paths.push_back(it->path().string());
  }
  std::sort(paths.begin(), paths.end());
  return ScanDicomFiles(folder, paths);
}

DicomFolderScan ScanDicomFiles(const std::string& folder, const std::vector<std::string>& paths) {
  DicomFolderScan scan;
  scan.folder = folder;
  for (const std::string& path : paths) {
    try {
      ScanFile(path, scan);
    } catch (...) {
      // A header GDCM cannot make sense of: not an object of the folder.
    }
  }
  return scan;
}

bool ReadDicomInstance(const std::string& path, DicomInstance* instance) {
  DicomFolderScan scan;
  try {
    ScanFile(path, scan);
  } catch (...) {
    return false;
  }
  if (scan.instances.empty()) return false;
  *instance = scan.instances.front();
  return true;
}

std::string StoredPixelType(const DicomInstance& instance) {
  switch (instance.bitsAllocated) {
    case 1:
      return "bit";
    case 8:
    case 16:
    case 32:
    case 64:
      return (instance.signedPixels ? "int" : "uint") + std::to_string(instance.bitsAllocated);
    default:
      return instance.bitsAllocated > 0 ? std::to_string(instance.bitsAllocated) + "-bit" : std::string();
  }
}

bool SelectDicomStack(const DicomFolderScan& scan, const std::string& chosenFile, DicomStack* stack,
                      std::string* why) {
  *stack = DicomStack{};
  stack->folder = scan.folder;
  // The series: that of the chosen file, or the folder's only image series.
  const DicomFrame* chosen = nullptr;
  std::string chosenName;
  if (!chosenFile.empty()) {
    std::error_code ec;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(chosenFile, ec);
    for (const DicomInstance& instance : scan.instances) {
      std::error_code e2;
      if (instance.path == chosenFile ||
          (!ec && std::filesystem::weakly_canonical(instance.path, e2) == wanted)) {
        chosenName = instance.path;
        if (!instance.IsImage()) {
          *why = "the chosen file " + chosenFile + " is a DICOM object without an image (" +
                 (instance.sopClassUid.empty() ? std::string("unknown kind")
                                               : "SOP class " + instance.sopClassUid) +
                 ")";
          return false;
        }
        break;
      }
    }
  }
  std::map<std::string, std::vector<const DicomFrame*>> series;  // image frames by Series Instance UID
  for (const DicomFrame& f : scan.frames) {
    const DicomInstance& instance = scan.instances[f.instance];
    series[instance.seriesUid].push_back(&f);
    if (!chosen && !chosenName.empty() && instance.path == chosenName) chosen = &f;
  }
  if (series.empty()) {
    *why = "the folder holds no DICOM images";
    return false;
  }
  if (!chosen) {
    if (series.size() > 1) {
      // Listed by file name (the frames are in file-name order), as a folder listing shows them.
      std::vector<std::pair<std::string, std::string>> labels;
      for (const auto& [uid, frames] : series) {
        const DicomInstance& example = scan.instances[frames.front()->instance];
        labels.emplace_back(example.path, SeriesLabel(example, frames.size()));
      }
      std::sort(labels.begin(), labels.end());
      std::string list;
      for (const auto& [path, label] : labels) list += (list.empty() ? "" : ", ") + label;
      *why = "it holds " + std::to_string(series.size()) + " image series (" + list +
             "); choose a file of the one to open";
      return false;
    }
    // A folder chosen: the largest stack of its series.
    std::size_t best = 0;
    for (const DicomFrame* f : series.begin()->second) {
      std::size_t count = 0;
      for (const DicomFrame* g : series.begin()->second) {
        const DicomInstance& a = scan.instances[f->instance];
        const DicomInstance& b = scan.instances[g->instance];
        if (a.rows == b.rows && a.columns == b.columns && SameOrientation(*f, *g)) ++count;
      }
      if (count > best) {
        best = count;
        chosen = f;
      }
    }
  }
  const DicomInstance& chosenInstance = scan.instances[chosen->instance];
  std::vector<DicomFrame> frames;
  for (const DicomFrame* f : series[chosenInstance.seriesUid]) {
    const DicomInstance& instance = scan.instances[f->instance];
    if (instance.rows == chosenInstance.rows && instance.columns == chosenInstance.columns &&
        SameOrientation(*f, *chosen))
      frames.push_back(*f);
  }
  stack->studyUid = chosenInstance.studyUid;
  stack->seriesUid = chosenInstance.seriesUid;
  stack->frameOfReferenceUid = chosenInstance.frameOfReferenceUid;
  stack->rows = chosenInstance.rows;
  stack->columns = chosenInstance.columns;
  if (chosenInstance.frames > 1 && !chosenInstance.enhanced) {
    // Frames without their own positions cannot be told apart from other slices of the series.
    if (frames.size() != static_cast<std::size_t>(chosenInstance.frames)) {
      *why = "its multi-frame image " + chosenInstance.path +
             " carries no per-frame positions to stack it with the other images";
      return false;
    }
  }
  return Arrange(scan, std::move(frames), stack, why);
}

std::string DicomFolderFor(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return path;
  std::string folder(FolderOf(path));
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder.empty() ? std::string(".") : folder;
}

bool LocateDicomStack(const std::string& path, DicomStack* stack, std::string* why,
                      const std::vector<std::string>* onlyFiles) {
  const std::string folder = DicomFolderFor(path);
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    *why = "it is not a folder";
    return false;
  }
  const bool folderChosen = folder == path || std::filesystem::is_directory(path, ec);
  const DicomFolderScan scan = onlyFiles ? ScanDicomFiles(folder, *onlyFiles) : ScanDicomFolder(folder);
  return SelectDicomStack(scan, folderChosen ? std::string() : path, stack, why);
}

}  // namespace volume::dicom
