#include "correction/MillimetreScale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace correction {

namespace {

// A voxel-count parameter that keeps its length: n voxels of the design size
// become the nearest whole number of voxels of the case's size, at least one.
int KeepLength(int designVoxels, double ratio) {
  return std::max(1, static_cast<int>(std::lround(designVoxels * ratio)));
}

// Voxels a volume may have when a reference is placed onto another grid; a
// placement that would need more (a hostile or absurd geometry) is not made.
constexpr std::int64_t kMaxPlacedVoxels = std::int64_t{1} << 28;

// The 3 x 3 inverse of m; false when it is singular or not finite.
bool Invert(const double m[3][3], double inverse[3][3]) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (!std::isfinite(det) || det == 0.0) return false;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      // The cofactor of (c, r), transposed into place.
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
  return true;
}

void Multiply(const double m[3][3], const double v[3], double out[3]) {
  for (int r = 0; r < 3; ++r) out[r] = m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2];
}

bool HasGeometry(const CVoxel& v) {
  return v.spacing[0] > 0.0f && v.spacing[1] > 0.0f && v.spacing[2] > 0.0f;
}

bool SameSpacingAndDirection(const CVoxel& a, const CVoxel& b) {
  for (int i = 0; i < 3; ++i) {
    const double sa = a.spacing[i], sb = b.spacing[i];
    if (std::fabs(sa - sb) > 1e-4 * std::max(sa, sb)) return false;
    for (int j = 0; j < 3; ++j)
      if (std::fabs(a.direction[i][j] - b.direction[i][j]) > 1e-4) return false;
  }
  return true;
}

// The bounding box of the voxels > 0; false when there is none.
bool ForegroundBox(const CVoxel& v, C3DPoint& first, C3DPoint& last) {
  first = {v.X, v.Y, v.Z};
  last = {-1, -1, -1};
  std::size_t i = 0;
  for (int z = 0; z < v.Z; ++z)
    for (int y = 0; y < v.Y; ++y)
      for (int x = 0; x < v.X; ++x, ++i)
        if (v[i] > 0) {
          first = {std::min(first.x, x), std::min(first.y, y), std::min(first.z, z)};
          last = {std::max(last.x, x), std::max(last.y, y), std::max(last.z, z)};
        }
  return last.x >= 0;
}

}  // namespace

void ConversionSpacing(const CVoxel& volume, double spacing[3]) {
  for (int a = 0; a < 3; ++a) spacing[a] = HasGeometry(volume) ? volume.spacing[a] : kDesignSpacing[a];
}

fusion::CorrectionParameters MillimetreParameters(const fusion::CorrectionParameters& design,
                                                  const double spacing[3]) {
  fusion::CorrectionParameters p = design;
  double ratio[3];  // case voxels per design voxel
  for (int a = 0; a < 3; ++a)
    ratio[a] = spacing[a] > 0.0 && std::isfinite(spacing[a]) ? kDesignSpacing[a] / spacing[a] : 1.0;
  const auto convert = [&ratio](const C3DPoint& n) {
    return C3DPoint{KeepLength(n.x, ratio[0]), KeepLength(n.y, ratio[1]), KeepLength(n.z, ratio[2])};
  };
  p.neighbourhoodMargin = convert(design.neighbourhoodMargin);
  // The step is the shortest whole number of voxels at least as long as the
  // design's step: a step rounded down to a shorter one would make the search
  // try more offsets (and cost more) than at the design resolution.
  const auto atLeast = [](int designVoxels, double r) {
    return std::max(1, static_cast<int>(std::ceil(designVoxels * r - 1e-9)));
  };
  p.translationStep = {atLeast(design.translationStep.x, ratio[0]),
                       atLeast(design.translationStep.y, ratio[1]),
                       atLeast(design.translationStep.z, ratio[2])};
  // The range is the whole number of steps nearest its length, so the offsets
  // tried are symmetric about 0, and never more steps than the design's.
  const C3DPoint range = convert(design.translationRange);
  const auto whole = [](int r, int step, int designRange, int designStep) {
    const int steps = static_cast<int>(std::lround(double(r) / step));
    const int designSteps = designStep > 0 ? std::max(1, designRange / designStep) : steps;
    return std::max(1, std::min(steps, designSteps)) * step;
  };
  p.translationRange = {
      whole(range.x, p.translationStep.x, design.translationRange.x, design.translationStep.x),
      whole(range.y, p.translationStep.y, design.translationRange.y, design.translationStep.y),
      whole(range.z, p.translationStep.z, design.translationRange.z, design.translationStep.z)};
  const C3DPoint box = convert(design.referenceBoxMargin);
  p.referenceBoxMargin = {std::max(box.x, design.referenceBoxMargin.x),
                          std::max(box.y, design.referenceBoxMargin.y),
                          std::max(box.z, design.referenceBoxMargin.z)};
  p.voxelLengths = {1.0 / ratio[0], 1.0 / ratio[1], 1.0 / ratio[2]};
  p.placeReferencesByGeometry = true;
  return p;
}

fusion::CorrectionParameters MillimetreParameters(const fusion::CorrectionParameters& design,
                                                  const CVoxel& segmentation) {
  double spacing[3];
  ConversionSpacing(segmentation, spacing);
  return MillimetreParameters(design, spacing);
}

bool FarFromDesignResolution(const double spacing[3]) {
  for (int a = 0; a < 3; ++a) {
    const double ratio = spacing[a] / kDesignSpacing[a];
    if (!(ratio >= 0.8 && ratio <= 1.25)) return true;
  }
  return false;
}

std::unique_ptr<CVoxel> ReferenceOnGridOf(const CVoxel& reference, const CVoxel& grid) {
  if (!reference.HasData() || !HasGeometry(reference) || !HasGeometry(grid)) return nullptr;
  if (SameSpacingAndDirection(reference, grid)) return nullptr;
  C3DPoint first, last;
  if (!ForegroundBox(reference, first, last)) return nullptr;

  // Reference index i lies at grid index A i + t.
  double R[3][3], Ro[3], G[3][3], Go[3], Gi[3][3];
  reference.GeometryMatrix(R, Ro);
  grid.GeometryMatrix(G, Go);
  if (!Invert(G, Gi)) return nullptr;
  double A[3][3], Ai[3][3], t[3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) A[r][c] = Gi[r][0] * R[0][c] + Gi[r][1] * R[1][c] + Gi[r][2] * R[2][c];
  const double shift[3] = {Ro[0] - Go[0], Ro[1] - Go[1], Ro[2] - Go[2]};
  Multiply(Gi, shift, t);
  if (!Invert(A, Ai)) return nullptr;

  // The grid box that holds every corner of the label's voxels.
  double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (int corner = 0; corner < 8; ++corner) {
    const double p[3] = {(corner & 1) ? last.x + 0.5 : first.x - 0.5,
                         (corner & 2) ? last.y + 0.5 : first.y - 0.5,
                         (corner & 4) ? last.z + 0.5 : first.z - 0.5};
    double g[3];
    Multiply(A, p, g);
    for (int a = 0; a < 3; ++a) {
      low[a] = std::min(low[a], g[a] + t[a]);
      high[a] = std::max(high[a], g[a] + t[a]);
    }
  }
  std::int64_t count = 1;
  int lo[3], size[3];
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(low[a]) || !std::isfinite(high[a]) || high[a] - low[a] > 1e6) return nullptr;
    lo[a] = static_cast<int>(std::floor(low[a]));
    size[a] = static_cast<int>(std::ceil(high[a])) - lo[a] + 1;
    count *= size[a];
  }
  if (count > kMaxPlacedVoxels) return nullptr;

  auto placed = std::make_unique<CVoxel>(size[0], size[1], size[2]);
  if (!placed->HasData()) return nullptr;
  std::size_t i = 0;
  for (int z = 0; z < size[2]; ++z)
    for (int y = 0; y < size[1]; ++y)
      for (int x = 0; x < size[0]; ++x, ++i) {
        const double g[3] = {lo[0] + x - t[0], lo[1] + y - t[1], lo[2] + z - t[2]};
        double p[3];
        Multiply(Ai, g, p);
        const double px = std::floor(p[0] + 0.5), py = std::floor(p[1] + 0.5), pz = std::floor(p[2] + 0.5);
        if (px < 0 || py < 0 || pz < 0 || px >= reference.X || py >= reference.Y || pz >= reference.Z)
          continue;
        (*placed)[i] = reference.At(static_cast<int>(px), static_cast<int>(py), static_cast<int>(pz));
      }
  // Placed where its grid box lies: the grid's spacing and direction, the box corner as origin.
  for (int a = 0; a < 3; ++a) {
    placed->spacing[a] = grid.spacing[a];
    for (int c = 0; c < 3; ++c) placed->direction[a][c] = grid.direction[a][c];
  }
  const double corner[3] = {double(lo[0]), double(lo[1]), double(lo[2])};
  double offset[3];
  Multiply(G, corner, offset);
  for (int a = 0; a < 3; ++a) placed->origin[a] = static_cast<float>(Go[a] + offset[a]);
  return placed;
}

VolumeLoader PlacingLoader(VolumeLoader load, const CVoxel& grid) {
  return [load = std::move(load), &grid](const std::string& path) {
    std::unique_ptr<CVoxel> reference = load(path);
    if (reference) {
      if (std::unique_ptr<CVoxel> placed = ReferenceOnGridOf(*reference, grid)) return placed;
    }
    return reference;
  };
}

}  // namespace correction
