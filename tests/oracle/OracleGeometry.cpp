// Label geometry, post-processing, boundary lists and manual correction.
#include <cmath>
#include <cstdint>

#include "tests/oracle/Oracle.h"

namespace oracle {

double StageTimes::Total() const {
  return referenceLoading + boundaryLists + registration + resamplingAndCropping + regions + distanceMaps +
         probabilityMaps + fusion + postProcessing;
}

void EnlargedBoundingBox(const CVoxel& label, const C3DPoint& margin, C3DPoint& minCorner,
                         C3DPoint& maxCorner) {
  std::int64_t minX = 2147483647, minY = 2147483647, minZ = 2147483647;
  std::int64_t maxX = -2147483647, maxY = -2147483647, maxZ = -2147483647;
  if (label.HasData()) {
    for (int z = 0; z < label.Z; ++z) {
      for (int y = 0; y < label.Y; ++y) {
        for (int x = 0; x < label.X; ++x) {
          if (label.At(x, y, z) > 0) {
            if (x < minX) minX = x;
            if (y < minY) minY = y;
            if (z < minZ) minZ = z;
            if (x > maxX) maxX = x;
            if (y > maxY) maxY = y;
            if (z > maxZ) maxZ = z;
          }
        }
      }
    }
  }
  std::int64_t lo[3] = {minX - margin.x, minY - margin.y, minZ - margin.z};
  std::int64_t hi[3] = {maxX + margin.x, maxY + margin.y, maxZ + margin.z};
  const int dims[3] = {label.X, label.Y, label.Z};
  for (int a = 0; a < 3; ++a) {
    if (lo[a] < 0) lo[a] = 0;
    if (hi[a] > dims[a] - 1) hi[a] = dims[a] - 1;
  }
  minCorner = C3DPoint(static_cast<int>(lo[0]), static_cast<int>(lo[1]), static_cast<int>(lo[2]));
  maxCorner = C3DPoint(static_cast<int>(hi[0]), static_cast<int>(hi[1]), static_cast<int>(hi[2]));
}

void Centroid(const CVoxel& label, C3DPoint& centre) {
  if (!label.HasData()) return;
  int count = 0;
  float sumX = 0.0f;
  float sumY = 0.0f;
  float sumZ = 0.0f;
  for (int z = 0; z < label.Z; ++z) {
    for (int y = 0; y < label.Y; ++y) {
      for (int x = 0; x < label.X; ++x) {
        if (label.At(x, y, z) != 0) {
          count = count + 1;
          sumX = sumX + static_cast<float>(x);
          sumY = sumY + static_cast<float>(y);
          sumZ = sumZ + static_cast<float>(z);
        }
      }
    }
  }
  if (count == 0) return;
  const float n = static_cast<float>(count);
  const float half = 0.5f;
  centre.x = static_cast<int>(std::floor(sumX / n + half));
  centre.y = static_cast<int>(std::floor(sumY / n + half));
  centre.z = static_cast<int>(std::floor(sumZ / n + half));
}

std::unique_ptr<CVoxel> Crop(const CVoxel& source, const C3DPoint& c, const C3DPoint& s) {
  if (!source.HasData()) return nullptr;
  const int cs[3] = {c.x, c.y, c.z};
  const int ss[3] = {s.x, s.y, s.z};
  const int dims[3] = {source.X, source.Y, source.Z};
  for (int a = 0; a < 3; ++a) {
    const std::int64_t end = static_cast<std::int64_t>(cs[a]) + ss[a];
    if (cs[a] < 0 || cs[a] >= dims[a] || end < 0 || end > dims[a] || ss[a] < 0) return nullptr;
  }
  auto out = std::make_unique<CVoxel>(s.x, s.y, s.z);
  if (!out->HasData()) return nullptr;
  for (int a = 0; a < 3; ++a) {
    out->spacing[a] = source.spacing[a];
    out->origin[a] = source.origin[a];
  }
  for (int z = 0; z < s.z; ++z) {
    for (int y = 0; y < s.y; ++y) {
      for (int x = 0; x < s.x; ++x) {
        out->At(x, y, z) = source.At(c.x + x, c.y + y, c.z + z);
      }
    }
  }
  return out;
}

std::unique_ptr<CVoxel> Threshold(const CFVoxel& probabilities, double threshold) {
  auto out = std::make_unique<CVoxel>(probabilities.X, probabilities.Y, probabilities.Z);
  for (int z = 0; z < probabilities.Z; ++z) {
    for (int y = 0; y < probabilities.Y; ++y) {
      for (int x = 0; x < probabilities.X; ++x) {
        const double value = static_cast<double>(probabilities.At(x, y, z));
        out->At(x, y, z) = value >= threshold ? 1 : 0;
      }
    }
  }
  return out;
}

void CopyBox(CVoxel& destination, const C3DPoint& first, const C3DPoint& last, const CVoxel& source) {
  if (!destination.HasData() || !source.HasData()) return;
  for (int z = first.z; z <= last.z; ++z) {
    for (int y = first.y; y <= last.y; ++y) {
      for (int x = first.x; x <= last.x; ++x) {
        if (destination.Contains(x, y, z) && source.Contains(x, y, z)) {
          destination.At(x, y, z) = source.At(x, y, z);
        }
      }
    }
  }
}

std::unique_ptr<CVoxel> KeepSeedComponent(const CVoxel& label, const C3DPoint& seed) {
  auto result = std::make_unique<CVoxel>(label.X, label.Y, label.Z);
  if (label.X <= 0 || label.Y <= 0 || label.Z <= 0 || !label.HasData()) return result;
  if (!label.Contains(seed.x, seed.y, seed.z)) return result;
  std::vector<C3DPoint> work;
  work.push_back(seed);
  while (true) {
    const std::size_t n = work.size();
    for (std::size_t i = 0; i < n; ++i) {
      const C3DPoint p = work[i];
      result->At(p.x, p.y, p.z) = 1;
      const C3DPoint neighbours[6] = {{p.x - 1, p.y, p.z}, {p.x, p.y - 1, p.z}, {p.x, p.y, p.z - 1},
                                      {p.x + 1, p.y, p.z}, {p.x, p.y + 1, p.z}, {p.x, p.y, p.z + 1}};
      for (const C3DPoint& q : neighbours) {
        if (label.Contains(q.x, q.y, q.z) && result->At(q.x, q.y, q.z) == 0 && label.At(q.x, q.y, q.z) > 0) {
          result->At(q.x, q.y, q.z) = 1;
          work.push_back(q);
        }
      }
    }
    if (work.size() == n) break;
  }
  return result;
}

std::vector<C3DPoint> BoundaryPoints(const CVoxel& label) {
  std::vector<C3DPoint> points;
  if (!label.HasData()) return points;
  for (int z = 0; z < label.Z; ++z) {
    for (int y = 0; y < label.Y; ++y) {
      for (int x = 0; x < label.X; ++x) {
        const int m = label.At(x, y, z);
        if (m == 0) continue;
        const C3DPoint neighbours[6] = {{x - 1, y, z}, {x, y - 1, z}, {x, y, z - 1},
                                        {x + 1, y, z}, {x, y + 1, z}, {x, y, z + 1}};
        bool boundary = false;
        for (const C3DPoint& q : neighbours) {
          if (label.Contains(q.x, q.y, q.z) && label.At(q.x, q.y, q.z) != m) boundary = true;
        }
        if (boundary) points.push_back(C3DPoint(x, y, z));
      }
    }
  }
  return points;
}

std::unique_ptr<CVoxel> Rasterise(const std::vector<C3DPoint>& points, int X, int Y, int Z) {
  auto out = std::make_unique<CVoxel>(X, Y, Z);
  if (!out->HasData()) return out;
  for (const C3DPoint& p : points) {
    if (p.x >= 0 && p.x < X && p.y >= 0 && p.y < Y && p.z >= 0 && p.z < Z) out->At(p.x, p.y, p.z) = 1;
  }
  return out;
}

void MergeStrokes(CVoxel& accumulatedMap, const CVoxel& strokeMap) {
  if (!accumulatedMap.SameSize(strokeMap) || !accumulatedMap.HasData() || !strokeMap.HasData()) return;
  for (int z = 0; z < accumulatedMap.Z; ++z) {
    for (int y = 0; y < accumulatedMap.Y; ++y) {
      for (int x = 0; x < accumulatedMap.X; ++x) {
        if (strokeMap.At(x, y, z) != 0) accumulatedMap.At(x, y, z) = strokeMap.At(x, y, z);
      }
    }
  }
}

void ApplyScribbles(CVoxel& segmentation, const CVoxel& accumulatedMap) {
  if (!segmentation.SameSize(accumulatedMap) || !segmentation.HasData() || !accumulatedMap.HasData()) return;
  for (int z = 0; z < segmentation.Z; ++z) {
    for (int y = 0; y < segmentation.Y; ++y) {
      for (int x = 0; x < segmentation.X; ++x) {
        if (accumulatedMap.At(x, y, z) == 2) segmentation.At(x, y, z) = 1;
        if (accumulatedMap.At(x, y, z) == 3) segmentation.At(x, y, z) = 0;
      }
    }
  }
}

}  // namespace oracle
