// The SEG reader: the first segment of a DICOM Segmentation as a label volume
// on the grid of the series it segments.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmfg/fginterface.h>
#include <dcmtk/dcmfg/fgpixmsr.h>
#include <dcmtk/dcmfg/fgplanor.h>
#include <dcmtk/dcmfg/fgplanpo.h>
#include <dcmtk/dcmseg/segdoc.h>
#include <dcmtk/dcmseg/segment.h>
#include <dcmtk/dcmseg/segutils.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "volume/DicomScan.h"
#include "volume/DicomSeg.h"
#include "volume/DicomSegSupport.h"
#include "volume/Isolated.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"

namespace volume {

namespace {

constexpr const char* kSegmentationClass = dicom::kSegmentationStorage;

// One frame of the first segment, unpacked to one byte per pixel (0 or 1).
struct SegFrame {
  int number = 0;  // 1-based, as users count frames
  double position[3] = {0, 0, 0};
  double row[3] = {0, 0, 0};     // direction of increasing column index
  double column[3] = {0, 0, 0};  // direction of increasing row index
  double rowSpacing = 0.0;       // between rows (along `column`)
  double columnSpacing = 0.0;    // between columns (along `row`)
  std::vector<std::uint8_t> inside;
};

struct LoadedSeg {
  std::unique_ptr<DcmFileFormat> file;
  std::unique_ptr<DcmSegmentation> seg;
  int rows = 0;
  int columns = 0;
};

bool LoadSeg(const std::string& path, LoadedSeg* out, std::string* why) {
  QuietDcmtk();
  out->file = std::make_unique<DcmFileFormat>();
  OFCondition result = out->file->loadFile(path.c_str());
  if (result.bad()) {
    *why = std::string("it is not a readable DICOM file (") + result.text() + ")";
    return false;
  }
  DcmDataset& data = *out->file->getDataset();
  OFString sopClass;
  data.findAndGetOFString(DCM_SOPClassUID, sopClass);
  if (sopClass != kSegmentationClass) {
    *why = "it is not a DICOM Segmentation";
    return false;
  }
  Uint16 rows = 0, columns = 0;
  data.findAndGetUint16(DCM_Rows, rows);
  data.findAndGetUint16(DCM_Columns, columns);
  if (rows == 0 || columns == 0) {
    *why = "its frames have no size";
    return false;
  }
  out->rows = rows;
  out->columns = columns;
  DcmSegmentation* seg = nullptr;
  result = DcmSegmentation::loadDataset(data, seg);
  out->seg.reset(seg);
  if (result.bad() || !seg) {
    *why = std::string("DCMTK cannot read it as a segmentation (") + result.text() + ")";
    return false;
  }
  return true;
}

std::string ReferencedSeriesUid(DcmDataset& data) {
  DcmItem* item = nullptr;
  OFString uid;
  if (data.findAndGetSequenceItem(DCM_ReferencedSeriesSequence, item, 0).good() && item)
    item->findAndGetOFString(DCM_SeriesInstanceUID, uid);
  return uid.c_str();
}

template <typename Group>
Group* FrameGroup(FGInterface& groups, std::size_t frame, DcmFGTypes::E_FGType type) {
  return dynamic_cast<Group*>(groups.get(static_cast<Uint32>(frame), type));
}

bool Finite(std::initializer_list<double> values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// The frames of the first segment with their geometry and pixels.
bool FramesOfFirstSegment(LoadedSeg& loaded, std::vector<SegFrame>* frames, std::string* why) {
  DcmSegmentation& seg = *loaded.seg;
  if (seg.getNumberOfSegments() == 0) {
    *why = "it holds no segment";
    return false;
  }
  const bool binary = seg.getSegmentationType() == DcmSegTypes::ST_BINARY;
  Uint16 maxFraction = 0;
  if (!binary) {
    loaded.file->getDataset()->findAndGetUint16(DCM_MaximumFractionalValue, maxFraction);
    if (maxFraction == 0) maxFraction = 255;
  }
  OFVector<size_t> numbers;
  seg.getFramesForSegment(1, numbers);
  FGInterface& groups = seg.getFunctionalGroups();
  const std::size_t pixels = static_cast<std::size_t>(loaded.rows) * loaded.columns;
  for (size_t n : numbers) {
    SegFrame frame;
    frame.number = static_cast<int>(n) + 1;
    const std::string which = "its frame " + std::to_string(frame.number);
    auto* position = FrameGroup<FGPlanePosPatient>(groups, n, DcmFGTypes::EFG_PLANEPOSPATIENT);
    auto* orientation = FrameGroup<FGPlaneOrientationPatient>(groups, n, DcmFGTypes::EFG_PLANEORIENTPATIENT);
    auto* measures = FrameGroup<FGPixelMeasures>(groups, n, DcmFGTypes::EFG_PIXELMEASURES);
    if (!position || !orientation || !measures ||
        position->getImagePositionPatient(frame.position[0], frame.position[1], frame.position[2]).bad() ||
        orientation
            ->getImageOrientationPatient(frame.row[0], frame.row[1], frame.row[2], frame.column[0],
                                         frame.column[1], frame.column[2])
            .bad() ||
        measures->getPixelSpacing(frame.rowSpacing, 0).bad() ||
        measures->getPixelSpacing(frame.columnSpacing, 1).bad()) {
      *why = which + " has no position, orientation or pixel spacing";
      return false;
    }
    if (!Finite({frame.position[0], frame.position[1], frame.position[2], frame.row[0], frame.row[1],
                 frame.row[2], frame.column[0], frame.column[1], frame.column[2]}) ||
        !(frame.rowSpacing > 0.0 && frame.columnSpacing > 0.0 && std::isfinite(frame.rowSpacing) &&
          std::isfinite(frame.columnSpacing))) {
      *why = which + " has an unusable position, orientation or pixel spacing";
      return false;
    }
    const DcmIODTypes::Frame* stored = seg.getFrame(n);
    if (!stored || !stored->pixData) {
      *why = which + " has no pixels";
      return false;
    }
    frame.inside.assign(pixels, 0);
    if (binary) {
      if (stored->length * 8 < pixels) {
        *why = which + " is shorter than its size needs";
        return false;
      }
      std::unique_ptr<DcmIODTypes::Frame> unpacked(DcmSegUtils::unpackBinaryFrame(
          stored, static_cast<Uint16>(loaded.rows), static_cast<Uint16>(loaded.columns)));
      if (!unpacked || unpacked->length < pixels) {
        *why = which + " cannot be unpacked";
        return false;
      }
      for (std::size_t i = 0; i < pixels; ++i) frame.inside[i] = unpacked->pixData[i] != 0;
    } else {
      if (stored->length < pixels) {
        *why = which + " is shorter than its size needs";
        return false;
      }
      // A fractional segment is inside where it reaches half its maximum.
      for (std::size_t i = 0; i < pixels; ++i) frame.inside[i] = 2u * stored->pixData[i] >= maxFraction;
    }
    frames->push_back(std::move(frame));
  }
  return true;
}

void Cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}
double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

std::string Mm(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// The grid laid out from the frames alone, as the DICOM reader lays out a
// series at those positions: x along the rows, y down the columns, z by
// decreasing position along the normal, evenly spaced.
bool GridFromFrames(const std::vector<SegFrame>& frames, const LoadedSeg& loaded, CVoxel* grid,
                    std::string* why) {
  if (frames.empty()) {
    *why = "the series it segments was not found beside it and it holds no frame to place the segment by";
    return false;
  }
  const SegFrame& first = frames.front();
  double normal[3];
  Cross(first.row, first.column, normal);
  const double length = std::sqrt(Dot(normal, normal));
  if (!(length > 0.0)) {
    *why = "its frame orientation is degenerate";
    return false;
  }
  for (double& n : normal) n /= length;
  std::vector<double> heights;
  for (const SegFrame& f : frames) {
    for (int i = 0; i < 3; ++i) {
      if (std::fabs(f.row[i] - first.row[i]) > 1e-4 || std::fabs(f.column[i] - first.column[i]) > 1e-4) {
        *why = "its frames are not parallel, so they form no grid";
        return false;
      }
    }
    heights.push_back(Dot(f.position, normal));
  }
  std::sort(heights.begin(), heights.end(), std::greater<>());
  const double tolerance = 1e-3;
  heights.erase(std::unique(heights.begin(), heights.end(),
                            [&](double a, double b) { return std::fabs(a - b) <= tolerance; }),
                heights.end());
  double step = 0.0;
  Float64 stated = 0.0;
  DcmSegmentation& seg = *loaded.seg;
  if (auto* measures =
          FrameGroup<FGPixelMeasures>(seg.getFunctionalGroups(), 0, DcmFGTypes::EFG_PIXELMEASURES)) {
    if (measures->getSpacingBetweenSlices(stated).bad() || !(stated > 0.0) || !std::isfinite(stated)) {
      stated = 0.0;
      if (heights.size() == 1 && measures->getSliceThickness(stated).bad()) stated = 0.0;
    }
  }
  if (heights.size() == 1) {
    step = stated > 0.0 && std::isfinite(stated) ? stated : 1.0;
  } else {
    step = stated > 0.0 ? stated : heights.front() - heights.back();
    for (std::size_t k = 1; k < heights.size(); ++k) step = std::min(step, heights[k - 1] - heights[k]);
    for (std::size_t k = 1; k < heights.size(); ++k) {
      const double gaps = (heights[k - 1] - heights[k]) / step;
      if (std::fabs(gaps - std::round(gaps)) > 0.01) {
        *why = "its frames are not evenly spaced (two neighbours are " + Mm(heights[k - 1] - heights[k]) +
               " mm apart where the slice spacing is " + Mm(step) + " mm)";
        return false;
      }
    }
  }
  const double slices = std::round((heights.front() - heights.back()) / step) + 1.0;
  if (!(slices <= 1e9)) {
    *why = "its frames span too many slices";
    return false;
  }
  if (!CheckDimensions(loaded.columns, loaded.rows, static_cast<std::int64_t>(slices), why)) return false;
  // The top frame (largest height) is slice 0; its in-plane place is the origin.
  const SegFrame* top = &frames.front();
  for (const SegFrame& f : frames)
    if (Dot(f.position, normal) > Dot(top->position, normal)) top = &f;
  double axes[3][3], origin[3];
  for (int r = 0; r < 3; ++r) {
    axes[r][0] = first.row[r] * first.columnSpacing;
    axes[r][1] = first.column[r] * first.rowSpacing;
    axes[r][2] = -normal[r] * step;
    origin[r] = top->position[r];
  }
  grid->X = loaded.columns;
  grid->Y = loaded.rows;
  grid->Z = static_cast<int>(slices);
  if (!grid->SetGeometryFromMatrix(axes, origin)) {
    *why = "its frame geometry is unusable";
    return false;
  }
  return true;
}

bool Invert(const double m[3][3], double out[3][3]) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
  return true;
}

void Apply(const double m[3][3], const double v[3], double out[3]) {
  for (int r = 0; r < 3; ++r) out[r] = m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2];
}

// A vector of voxel steps that must be whole; false when it is not.
bool Whole(const double v[3], int out[3], double tolerance) {
  for (int i = 0; i < 3; ++i) {
    const double rounded = std::round(v[i]);
    if (!(std::fabs(v[i] - rounded) <= tolerance) || std::fabs(rounded) > 1e9) return false;
    out[i] = static_cast<int>(rounded);
  }
  return true;
}

bool IsAxisStep(const int v[3]) { return std::abs(v[0]) + std::abs(v[1]) + std::abs(v[2]) == 1; }

// Sets every voxel a frame marks inside. Each frame must lie on the grid:
// its first pixel on a voxel centre, its rows and columns along voxel axes.
bool PlaceFrames(const std::vector<SegFrame>& frames, int rows, int columns, CVoxel& volume,
                 std::string* why) {
  double axes[3][3], origin[3], inverse[3][3];
  volume.GeometryMatrix(axes, origin);
  if (!Invert(axes, inverse)) {
    *why = "the grid of its series is degenerate";
    return false;
  }
  for (const SegFrame& f : frames) {
    const std::string which = "its frame " + std::to_string(f.number);
    double offset[3], start[3], alongRow[3], alongColumn[3], stepX[3], stepY[3];
    for (int i = 0; i < 3; ++i) {
      offset[i] = f.position[i] - origin[i];
      alongRow[i] = f.row[i] * f.columnSpacing;
      alongColumn[i] = f.column[i] * f.rowSpacing;
    }
    Apply(inverse, offset, start);
    Apply(inverse, alongRow, stepX);
    Apply(inverse, alongColumn, stepY);
    int s[3], dx[3], dy[3];
    if (!Whole(start, s, 0.1) || !Whole(stepX, dx, 1e-3) || !Whole(stepY, dy, 1e-3) || !IsAxisStep(dx) ||
        !IsAxisStep(dy) || (dx[0] == dy[0] && dx[1] == dy[1] && dx[2] == dy[2]) ||
        (dx[0] == -dy[0] && dx[1] == -dy[1] && dx[2] == -dy[2])) {
      *why = which + " does not lie on the grid of the series it segments";
      return false;
    }
    for (int j = 0; j < rows; ++j) {
      for (int i = 0; i < columns; ++i) {
        if (!f.inside[static_cast<std::size_t>(j) * columns + i]) continue;
        const std::int64_t x = std::int64_t{s[0]} + std::int64_t{i} * dx[0] + std::int64_t{j} * dy[0];
        const std::int64_t y = std::int64_t{s[1]} + std::int64_t{i} * dx[1] + std::int64_t{j} * dy[1];
        const std::int64_t z = std::int64_t{s[2]} + std::int64_t{i} * dx[2] + std::int64_t{j} * dy[2];
        if (x < 0 || y < 0 || z < 0 || x >= volume.X || y >= volume.Y || z >= volume.Z) {
          *why = which + " reaches outside the grid of the series it segments";
          return false;
        }
        volume.At(static_cast<int>(x), static_cast<int>(y), static_cast<int>(z)) = 1;
      }
    }
  }
  return true;
}

// Folders where the segmented series may be: the SEG's folder, the folders
// below it, then the other folders of its parent (and below them), at most
// `limit` in all.
std::vector<std::filesystem::path> FoldersBeside(const std::string& segPath, std::size_t limit) {
  namespace fs = std::filesystem;
  std::vector<fs::path> folders;
  std::error_code ec;
  fs::path folder = fs::absolute(fs::path(segPath), ec).parent_path().lexically_normal();
  if (ec) return folders;
  auto addTree = [&](const fs::path& root) {
    folders.push_back(root);
    std::error_code walk;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, walk), end;
         !walk && it != end && folders.size() < limit; it.increment(walk)) {
      std::error_code kind;
      if (it->is_directory(kind) && !it->is_symlink(kind)) folders.push_back(it->path());
    }
  };
  addTree(folder);
  const fs::path parent = folder.parent_path();
  if (parent != folder && !parent.empty()) {
    std::vector<fs::path> siblings;
    for (fs::directory_iterator it(parent, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
      std::error_code kind;
      if (it->is_directory(kind) && !it->is_symlink(kind) && it->path() != folder)
        siblings.push_back(it->path());
    }
    std::sort(siblings.begin(), siblings.end());
    for (const fs::path& sibling : siblings) {
      if (folders.size() >= limit) break;
      addTree(sibling);
    }
  }
  if (folders.size() > limit) folders.resize(limit);
  return folders;
}

// A file of series `uid` beside the SEG, or "" when there is none. The
// folders are scanned in a child process: the DICOM library may fail on a
// corrupt file anywhere among them.
std::string FindSeriesBeside(const std::string& segPath, const std::string& uid) {
  if (uid.empty()) return {};
  constexpr std::size_t kMaxFolders = 2000;
  std::string found;
  const bool done = ReadHeadersIsolated(
      [&] {
        for (const auto& folder : FoldersBeside(segPath, kMaxFolders)) {
          const dicom::DicomFolderScan scan = dicom::ScanDicomFolder(folder.string());
          for (const dicom::DicomInstance& instance : scan.instances)
            if (instance.seriesUid == uid && instance.IsImage()) return instance.path;
        }
        return std::string();
      },
      &found);
  return done ? found : std::string();
}

}  // namespace

bool IsDicomSegmentation(const std::string& path) { return SopClassOf(path) == kSegmentationClass; }

bool ReadDicomSegmentation(CVoxel& volume, const std::string& path, MessageSink* sink) {
  const std::string what = "Cannot read the DICOM Segmentation";
  volume.Release();
  {
    InputFile file;
    if (!OpenInput(file, volume, sink, what, path)) return false;
  }
  LoadedSeg loaded;
  std::vector<SegFrame> frames;
  std::string why;
  if (!LoadSeg(path, &loaded, &why) || !FramesOfFirstSegment(loaded, &frames, &why))
    return Refuse(volume, sink, what, path, why);

  CVoxel grid;
  const std::string seriesUid = ReferencedSeriesUid(*loaded.file->getDataset());
  const std::string seriesFile = FindSeriesBeside(path, seriesUid);
  std::string notice;
  if (!seriesFile.empty()) {
    RecordingSink seriesMessages;
    if (!LoadVolume(grid, seriesFile, &seriesMessages) || !grid.HasData()) {
      notice = path + ": the series it segments (" + seriesFile + ") cannot be read";
      if (!seriesMessages.messages.empty()) notice += " (" + seriesMessages.messages.front() + ")";
      notice += "; the grid comes from its own frames";
      grid = CVoxel();
    }
  } else {
    notice = path + ": the series it segments was not found beside it; the grid comes from its own frames";
  }
  if (!notice.empty() && !GridFromFrames(frames, loaded, &grid, &why))
    return Refuse(volume, sink, what, path, why);

  // The label takes the grid's size and place; its voxels start at 0.
  volume.X = grid.X;
  volume.Y = grid.Y;
  volume.Z = grid.Z;
  volume.CopyGeometry(grid);
  grid.Release();
  if (!volume.Allocate()) return Refuse(volume, sink, what, path, "not enough memory");
  if (!PlaceFrames(frames, loaded.rows, loaded.columns, volume, &why))
    return Refuse(volume, sink, what, path, why);
  if (!notice.empty()) Tell(sink, notice);
  return true;
}

bool DescribeDicomSegmentation(const std::string& path, DicomSegSummary* summary, std::string* why) {
  LoadedSeg loaded;
  if (!LoadSeg(path, &loaded, why)) return false;
  DcmSegmentation& seg = *loaded.seg;
  DicomSegSummary s;
  s.segments = static_cast<int>(seg.getNumberOfSegments());
  s.frames = static_cast<int>(seg.getNumberOfFrames());
  if (DcmSegment* first = seg.getSegment(1)) {
    OFString label;
    first->getSegmentLabel(label);
    s.segmentLabel = label.c_str();
  }
  OFVector<size_t> numbers;
  seg.getFramesForSegment(1, numbers);
  s.framesOfFirstSegment = static_cast<int>(numbers.size());
  s.referencedSeries = ReferencedSeriesUid(*loaded.file->getDataset());
  *summary = s;
  return true;
}

}  // namespace volume
