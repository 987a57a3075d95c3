// Scribble regions: components, pair unions, neighbourhood unions, duplicates.
#include <cmath>
#include <cstdlib>

#include "tests/oracle/Oracle.h"

namespace oracle {

namespace {

constexpr int kMaxComponents = 10000;

bool SameVoxels(const CVoxel& a, const CVoxel& b) {
  if (!a.SameSize(b)) return false;
  for (std::size_t i = 0; i < a.VoxelCount(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<CVoxel> SelectValue(const CVoxel& source, int key, int value) {
  auto out = std::make_unique<CVoxel>(source.X, source.Y, source.Z);
  for (int z = 0; z < source.Z; ++z) {
    for (int y = 0; y < source.Y; ++y) {
      for (int x = 0; x < source.X; ++x) {
        if (source.At(x, y, z) == key) out->At(x, y, z) = static_cast<CVoxel::value_type>(value);
      }
    }
  }
  return out;
}

std::unique_ptr<CVoxel> GrowComponent(const CVoxel& mask) {
  auto result = std::make_unique<CVoxel>(mask.X, mask.Y, mask.Z);
  std::vector<C3DPoint> pending;
  for (int z = 0; z < mask.Z && pending.empty(); ++z) {
    for (int y = 0; y < mask.Y && pending.empty(); ++y) {
      for (int x = 0; x < mask.X && pending.empty(); ++x) {
        if (mask.At(x, y, z) != 0) {
          result->At(x, y, z) = 1;
          pending.push_back(C3DPoint(x, y, z));
        }
      }
    }
  }
  while (!pending.empty()) {
    const C3DPoint p = pending.back();
    pending.pop_back();
    const C3DPoint neighbours[6] = {{p.x - 1, p.y, p.z}, {p.x, p.y - 1, p.z}, {p.x, p.y, p.z - 1},
                                    {p.x + 1, p.y, p.z}, {p.x, p.y + 1, p.z}, {p.x, p.y, p.z + 1}};
    for (const C3DPoint& q : neighbours) {
      if (mask.Contains(q.x, q.y, q.z) && result->At(q.x, q.y, q.z) == 0 && mask.At(q.x, q.y, q.z) > 0) {
        result->At(q.x, q.y, q.z) = 1;
        pending.push_back(q);
      }
    }
  }
  return result;
}

void ExtractRegionsOfOneValue(const CVoxel& filteredMap, int value, double pairDistance,
                              const C3DPoint& margin, CVoxelList& regions, int& count) {
  const auto v = static_cast<CVoxel::value_type>(value);

  // Components, each with its centroid.
  std::unique_ptr<CVoxel> mask = oracle::SelectValue(filteredMap, value, value);
  std::vector<C3DPoint> centroids;
  for (int attempt = 0; attempt < kMaxComponents; ++attempt) {
    std::unique_ptr<CVoxel> component = oracle::GrowComponent(*mask);
    C3DPoint centre;
    oracle::Centroid(*component, centre);
    centroids.push_back(centre);
    bool any = false;
    for (std::size_t i = 0; i < component->VoxelCount(); ++i) {
      if ((*component)[i] != 0) {
        (*mask)[i] = 0;
        (*component)[i] = v;
        any = true;
      }
    }
    if (!any) break;
    regions.push_back(std::move(component));
  }
  mask.reset();
  const int n = static_cast<int>(regions.size());

  // Pair unions of components whose centroids lie close together.
  for (int b = 0; b < n; ++b) {
    for (int k = b + 1; k < n; ++k) {
      const C3DPoint cb = centroids[b];
      const C3DPoint ck = centroids[k];
      const int dx = cb.x - ck.x;
      const int dy = cb.y - ck.y;
      const int dz = cb.z - ck.z;
      if (std::abs(dz) <= 3 &&
          pairDistance > std::sqrt(static_cast<double>(dx * dx + dy * dy + 9 * dz * dz))) {
        const CVoxel& rb = *regions[b];
        const CVoxel& rk = *regions[k];
        auto joined = std::make_unique<CVoxel>(rb.X, rb.Y, rb.Z);
        for (std::size_t i = 0; i < joined->VoxelCount(); ++i) (*joined)[i] = rb[i] != 0 ? rb[i] : rk[i];
        regions.push_back(std::move(joined));
      }
    }
  }
  const std::size_t afterPairs = regions.size();

  // Neighbourhood unions. Each touching component overwrites the candidate,
  // so only the last one that touches the box is joined to component b.
  for (int b = 0; b < n; ++b) {
    const CVoxel& rb = *regions[b];
    C3DPoint lo, hi;
    oracle::EnlargedBoundingBox(rb, margin, lo, hi);
    auto candidate = std::make_unique<CVoxel>(rb.X, rb.Y, rb.Z);
    bool anyTouched = false;
    for (int k = 0; k < n; ++k) {
      if (k == b) continue;
      const CVoxel& rk = *regions[k];
      bool touches = false;
      for (int z = lo.z; z <= hi.z; ++z) {
        for (int y = lo.y; y <= hi.y; ++y) {
          for (int x = lo.x; x <= hi.x; ++x) {
            if (rk.At(x, y, z) != 0) touches = true;
          }
        }
      }
      if (touches) {
        anyTouched = true;
        for (std::size_t i = 0; i < candidate->VoxelCount(); ++i) (*candidate)[i] = rk[i] != 0 ? v : 0;
      }
    }
    if (anyTouched) {
      for (std::size_t i = 0; i < candidate->VoxelCount(); ++i) {
        if ((*candidate)[i] != v) (*candidate)[i] = rb[i] != 0 ? v : 0;
      }
      regions.push_back(std::move(candidate));
    }
  }

  // Neighbourhood unions equal to an earlier region are dropped.
  for (std::size_t c = afterPairs; c < regions.size();) {
    bool duplicate = false;
    for (std::size_t j = 0; j < c; ++j) {
      if (SameVoxels(*regions[c], *regions[j])) duplicate = true;
    }
    if (duplicate) {
      regions.erase(regions.begin() + static_cast<std::ptrdiff_t>(c));
    } else {
      ++c;
    }
  }
  count = static_cast<int>(regions.size());
}

void ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation, int foregroundValue,
                            int backgroundValue, double pairDistance, const C3DPoint& margin,
                            CVoxelList& regions, int& foregroundCount, int& backgroundCount) {
  foregroundCount = 0;
  backgroundCount = 0;
  if (!interactionMap.SameSize(segmentation) || !interactionMap.HasData() || !segmentation.HasData()) return;
  auto filtered = std::make_unique<CVoxel>(interactionMap);
  for (int z = 0; z < interactionMap.Z; ++z) {
    for (int y = 0; y < interactionMap.Y; ++y) {
      for (int x = 0; x < interactionMap.X; ++x) {
        const int m = interactionMap.At(x, y, z);
        const int s = segmentation.At(x, y, z);
        if ((m == foregroundValue && s != 0) || (m == backgroundValue && s == 0)) filtered->At(x, y, z) = 0;
      }
    }
  }
  oracle::ExtractRegionsOfOneValue(*filtered, foregroundValue, pairDistance, margin, regions,
                                   foregroundCount);
  CVoxelList background;
  oracle::ExtractRegionsOfOneValue(*filtered, backgroundValue, pairDistance, margin, background,
                                   backgroundCount);
  for (std::unique_ptr<CVoxel>& region : background) regions.push_back(std::move(region));
}

}  // namespace oracle
