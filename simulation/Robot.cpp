#include "simulation/Robot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "evaluation/SurfaceDistance.h"
#include "viewer/Brush.h"
#include "volume/ScribbleValues.h"

namespace simulation {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// 0: no error, 1: missed, 2: extra.
inline int ErrorAt(const std::int16_t* truth, const std::int16_t* segmentation, std::size_t i) {
  const bool t = truth[i] != 0, s = segmentation[i] != 0;
  return t == s ? 0 : (t ? 1 : 2);
}

inline int KindCode(ErrorKind kind) { return kind == ErrorKind::kMissed ? 1 : 2; }

// The face neighbours of voxel (x, y, z) inside the volume.
template <typename Visit>
void ForFaceNeighbours(const CVoxel& v, std::size_t i, Visit&& visit) {
  const std::size_t X = v.X, XY = static_cast<std::size_t>(v.X) * v.Y;
  const std::size_t x = i % X, y = (i / X) % v.Y, z = i / XY;
  if (x > 0) visit(i - 1);
  if (x + 1 < X) visit(i + 1);
  if (y > 0) visit(i - X);
  if (y + 1 < static_cast<std::size_t>(v.Y)) visit(i + X);
  if (z > 0) visit(i - XY);
  if (z + 1 < static_cast<std::size_t>(v.Z)) visit(i + XY);
}

// A box of voxels, inclusive corners.
struct Box {
  std::array<int, 3> lo{}, hi{};
  int Size(int axis) const { return hi[axis] - lo[axis] + 1; }
};

// The bounding box of the voxels, one voxel wider on every side that does not
// touch the volume's edge (so the voxels just outside count as outside, while
// the edge itself is no border).
Box PaddedBox(const CVoxel& v, const std::vector<std::size_t>& voxels) {
  Box box{{v.X, v.Y, v.Z}, {-1, -1, -1}};
  for (std::size_t i : voxels) {
    const int p[3] = {static_cast<int>(i % v.X), static_cast<int>((i / v.X) % v.Y),
                      static_cast<int>(i / (static_cast<std::size_t>(v.X) * v.Y))};
    for (int a = 0; a < 3; ++a) {
      box.lo[a] = std::min(box.lo[a], p[a]);
      box.hi[a] = std::max(box.hi[a], p[a]);
    }
  }
  const int dims[3] = {v.X, v.Y, v.Z};
  for (int a = 0; a < 3; ++a) {
    box.lo[a] = std::max(box.lo[a] - 1, 0);
    box.hi[a] = std::min(box.hi[a] + 1, dims[a] - 1);
  }
  return box;
}

}  // namespace

Robot::Robot(const CVoxel& truth, float brushRadius, bool brush3D)
    : m_truth(truth), m_radius(brushRadius), m_brush3D(brush3D) {}

Robot::PieceScan Robot::ScanPieces(const CVoxel& segmentation, const CVoxel* scribbled) {
  PieceScan scan;
  const std::size_t n = m_truth.VoxelCount();
  if (!m_truth.HasData() || !segmentation.HasData() || !segmentation.SameSize(m_truth)) return scan;
  if (scribbled && (!scribbled->HasData() || !scribbled->SameSize(m_truth))) scribbled = nullptr;
  // Allocated at the first scan and kept (volume memory: mapped in one go).
  if (m_visited.size() != n) m_visited.resize(n);
  std::fill(m_visited.begin(), m_visited.end(), std::uint8_t{0});
  const std::int16_t* truth = m_truth.Data();
  const std::int16_t* seg = segmentation.Data();
  const std::int16_t* marks = scribbled ? scribbled->Data() : nullptr;
  std::vector<std::size_t>& queue = m_queue;
  // Most of a volume is right: a block where the truth and the segmentation
  // hold the same values has no error voxel and is passed over whole.
  constexpr std::size_t kBlock = 256;
  for (std::size_t first = 0; first < n; ++first) {
    if (first % kBlock == 0) {
      while (first + kBlock <= n && std::memcmp(truth + first, seg + first, kBlock * sizeof(*truth)) == 0)
        first += kBlock;
      if (first >= n) break;
    }
    const int code = ErrorAt(truth, seg, first);
    if (code == 0 || m_visited[first]) continue;
    ErrorPiece piece{code == 1 ? ErrorKind::kMissed : ErrorKind::kExtra, 0, first};
    bool open = false;
    queue.assign(1, first);
    m_visited[first] = 1;
    while (!queue.empty()) {
      const std::size_t i = queue.back();
      queue.pop_back();
      ++piece.size;
      if (!marks || marks[i] == 0) open = true;
      ForFaceNeighbours(segmentation, i, [&](std::size_t j) {
        if (!m_visited[j] && ErrorAt(truth, seg, j) == code) {
          m_visited[j] = 1;
          queue.push_back(j);
        }
      });
    }
    scan.pieces.push_back(piece);
    scan.open.push_back(open);
  }
  return scan;
}

std::vector<ErrorPiece> Robot::ErrorPieces(const CVoxel& segmentation, const CVoxel* scribbled) {
  return ScanPieces(segmentation, scribbled).pieces;
}

void Robot::CollectPiece(const CVoxel& segmentation, std::size_t first, ErrorKind kind) {
  const std::int16_t* truth = m_truth.Data();
  const std::int16_t* seg = segmentation.Data();
  const int code = KindCode(kind);
  std::vector<std::size_t>&voxels = m_piece, &queue = m_queue;
  voxels.assign(1, first);
  queue.assign(1, first);
  m_visited[first] = 2;
  while (!queue.empty()) {
    const std::size_t i = queue.back();
    queue.pop_back();
    ForFaceNeighbours(segmentation, i, [&](std::size_t j) {
      if (m_visited[j] != 2 && ErrorAt(truth, seg, j) == code) {
        m_visited[j] = 2;
        queue.push_back(j);
        voxels.push_back(j);
      }
    });
  }
  std::sort(voxels.begin(), voxels.end());
}

std::optional<RobotStroke> Robot::NextStroke(const CVoxel& segmentation, const CVoxel& scribbled) {
  const PieceScan scan = ScanPieces(segmentation, &scribbled);
  // The largest open piece; missed before extra, then the lowest first voxel.
  const ErrorPiece* best = nullptr;
  for (std::size_t p = 0; p < scan.pieces.size(); ++p) {
    if (!scan.open[p]) continue;
    const ErrorPiece& piece = scan.pieces[p];
    if (!best || piece.size > best->size ||
        (piece.size == best->size && (KindCode(piece.kind) < KindCode(best->kind) ||
                                      (piece.kind == best->kind && piece.firstVoxel < best->firstVoxel))))
      best = &piece;
  }
  if (!best) return std::nullopt;

  RobotStroke stroke;
  stroke.piece = *best;
  stroke.value =
      best->kind == ErrorKind::kMissed ? volume::scribble::kForeground : volume::scribble::kBackground;
  CollectPiece(segmentation, best->firstVoxel, best->kind);
  const std::vector<std::size_t>& voxels = m_piece;
  const Box box = PaddedBox(segmentation, voxels);
  const std::size_t X = segmentation.X, XY = X * segmentation.Y;
  const double spacing[3] = {segmentation.SpacingOrUnit(0), segmentation.SpacingOrUnit(1),
                             segmentation.SpacingOrUnit(2)};

  // Depth of every voxel of the piece: squared distance to the nearest voxel of
  // the box outside the piece.
  const std::size_t bx = box.Size(0), by = box.Size(1), bz = box.Size(2);
  const auto boxIndex = [&](std::size_t i) {
    const std::size_t x = i % X - box.lo[0], y = (i / X) % segmentation.Y - box.lo[1], z = i / XY - box.lo[2];
    return (z * by + y) * bx + x;
  };
  std::vector<double>& depth = m_depth;
  depth.assign(bx * by * bz, 0.0);
  for (std::size_t i : voxels) depth[boxIndex(i)] = kInfinity;
  evaluation::SquaredDistanceTransform(
      depth, C3DPoint{static_cast<int>(bx), static_cast<int>(by), static_cast<int>(bz)}, spacing);
  const std::int16_t* marks = scribbled.Data();
  double deepest = -1.0;
  for (std::size_t i : voxels) {
    if (marks[i] != 0) continue;
    const double d = depth[boxIndex(i)];
    if (d > deepest) {
      deepest = d;
      stroke.deepestVoxel = i;
    }
  }
  stroke.depthMm = std::sqrt(deepest);
  stroke.slice = static_cast<int>(stroke.deepestVoxel / XY);
  const int deepX = static_cast<int>(stroke.deepestVoxel % X);
  const int deepY = static_cast<int>((stroke.deepestVoxel / X) % segmentation.Y);

  // The cross-section: the piece's voxels on the slice, 4-connected to the
  // deepest one in the slice (marked 1 in a box-sized plane).
  std::vector<std::uint8_t>& section = m_section;
  section.assign(bx * by, 0);
  const std::size_t sliceStart = static_cast<std::size_t>(stroke.slice) * XY;
  for (auto it = std::lower_bound(voxels.begin(), voxels.end(), sliceStart);
       it != voxels.end() && *it < sliceStart + XY; ++it)
    section[boxIndex(*it) % (bx * by)] = 2;  // on the slice, not reached yet
  std::vector<std::size_t>& queue = m_queue;
  queue.assign(1, (deepY - box.lo[1]) * bx + (deepX - box.lo[0]));
  section[queue.front()] = 1;
  while (!queue.empty()) {
    const std::size_t p = queue.back();
    queue.pop_back();
    const std::size_t x = p % bx, y = p / bx;
    for (const std::size_t q :
         {x > 0 ? p - 1 : p, x + 1 < bx ? p + 1 : p, y > 0 ? p - bx : p, y + 1 < by ? p + bx : p})
      if (section[q] == 2) {
        section[q] = 1;
        queue.push_back(q);
      }
  }
  // In-slice depth of the cross-section, then its ridge.
  std::vector<double>& flat = m_flat;
  flat.resize(bx * by);
  for (std::size_t p = 0; p < flat.size(); ++p) flat[p] = section[p] == 1 ? kInfinity : 0.0;
  evaluation::SquaredDistanceTransform(flat, C3DPoint{static_cast<int>(bx), static_cast<int>(by), 1},
                                       spacing);
  bool deepestOnRidge = false;
  for (std::size_t y = 0; y < by; ++y) {
    for (std::size_t x = 0; x < bx; ++x) {
      const std::size_t p = y * bx + x;
      if (section[p] != 1) continue;
      bool ridge = true;
      for (int dy = -1; dy <= 1 && ridge; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const std::int64_t nx = static_cast<std::int64_t>(x) + dx, ny = static_cast<std::int64_t>(y) + dy;
          if (nx < 0 || ny < 0 || nx >= static_cast<std::int64_t>(bx) || ny >= static_cast<std::int64_t>(by))
            continue;
          if (flat[ny * bx + nx] > flat[p]) {
            ridge = false;
            break;
          }
        }
      if (!ridge) continue;
      const PlanePoint point{static_cast<int>(x) + box.lo[0], static_cast<int>(y) + box.lo[1]};
      deepestOnRidge = deepestOnRidge || (point.x == deepX && point.y == deepY);
      stroke.centres.push_back(point);
    }
  }
  if (!deepestOnRidge) {
    const PlanePoint point{deepX, deepY};
    stroke.centres.insert(std::upper_bound(stroke.centres.begin(), stroke.centres.end(), point,
                                           [](const PlanePoint& a, const PlanePoint& b) {
                                             return a.y != b.y ? a.y < b.y : a.x < b.x;
                                           }),
                          point);
  }
  return stroke;
}

std::size_t Robot::Paint(const RobotStroke& stroke, CVoxel& strokeMap) {
  if (stroke.centres.empty() || !strokeMap.HasData() || !strokeMap.SameSize(m_truth)) return 0;
  // The box the brush can reach around the centres; the brush is painted into
  // a canvas of that box, then clipped into the map.
  Box touched{{m_truth.X, m_truth.Y, m_truth.Z}, {-1, -1, -1}};
  const int reach = static_cast<int>(std::ceil(m_radius)) + 1;
  const int dims[3] = {m_truth.X, m_truth.Y, m_truth.Z};
  for (const PlanePoint& c : stroke.centres) {
    const int p[3] = {c.x, c.y, stroke.slice};
    for (int a = 0; a < 3; ++a) {
      touched.lo[a] = std::max(std::min(touched.lo[a], p[a] - reach), 0);
      touched.hi[a] = std::min(std::max(touched.hi[a], p[a] + reach), dims[a] - 1);
    }
  }
  if (touched.hi[0] < touched.lo[0] || touched.hi[1] < touched.lo[1] || touched.hi[2] < touched.lo[2])
    return 0;
  const std::size_t bx = touched.Size(0), by = touched.Size(1), bz = touched.Size(2);
  m_canvas.assign(bx * by * bz, 0);
  const std::size_t X = m_truth.X, XY = X * m_truth.Y;
  const viewer::BrushPlane plane = viewer::AxialPlane(m_truth);
  for (const PlanePoint& c : stroke.centres) {
    viewer::ForEachBrushVoxel(plane, stroke.slice, c.x, c.y, m_radius, m_brush3D, [&](std::int64_t voxel) {
      const auto i = static_cast<std::size_t>(voxel);
      const std::size_t x = i % X - touched.lo[0], y = (i / X) % m_truth.Y - touched.lo[1],
                        z = i / XY - touched.lo[2];
      m_canvas[(z * by + y) * bx + x] = 1;
    });
  }
  // The clip: a foreground scribble only inside the truth, a background one only outside.
  const std::int16_t* truth = m_truth.Data();
  std::int16_t* map = strokeMap.Data();
  const bool inside = stroke.value == volume::scribble::kForeground;
  std::size_t written = 0;
  const std::uint8_t* painted = m_canvas.data();
  for (int z = touched.lo[2]; z <= touched.hi[2]; ++z)
    for (int y = touched.lo[1]; y <= touched.hi[1]; ++y)
      for (int x = touched.lo[0]; x <= touched.hi[0]; ++x, ++painted) {
        const std::size_t i = z * XY + y * X + x;
        if (*painted && (truth[i] != 0) == inside) {
          map[i] = stroke.value;
          ++written;
        }
      }
  return written;
}

}  // namespace simulation
