// Fusion of scribbles, weighted reference votes and the segmentation prior.
#include <cmath>

#include "tests/oracle/Oracle.h"

namespace oracle {

std::unique_ptr<CFVoxel> Fuse(const CVoxel& interactionMap, const CVoxel& segmentation,
                              const CFVoxelList& distanceMaps, const CFVoxelList& probabilityMaps,
                              const CPointArray& windowOrigins, const CPointArray& windowEnds,
                              int foregroundCount, int backgroundCount, double priorDistance,
                              double distanceScale) {
  const double confidence = 5.0;
  const double foregroundConfident = 0.5;
  const double backgroundConfident = 0.1;
  const int N = foregroundCount + backgroundCount;
  if (!interactionMap.SameSize(segmentation) || !interactionMap.HasData() || !segmentation.HasData() ||
      N < 0 || static_cast<std::size_t>(N) > windowOrigins.size() ||
      static_cast<std::size_t>(N) > windowEnds.size() || static_cast<std::size_t>(N) > distanceMaps.size() ||
      static_cast<std::size_t>(N) > probabilityMaps.size()) {
    return nullptr;
  }
  auto result = std::make_unique<CFVoxel>(interactionMap.X, interactionMap.Y, interactionMap.Z);
  std::vector<int> containing;
  containing.reserve(static_cast<std::size_t>(N > 0 ? N : 0));
  for (int z = 0; z < interactionMap.Z; ++z) {
    for (int y = 0; y < interactionMap.Y; ++y) {
      for (int x = 0; x < interactionMap.X; ++x) {
        const int scribble = interactionMap.At(x, y, z);
        if (scribble == 3) {
          result->At(x, y, z) = 0.0f;
          continue;
        }
        if (scribble == 2) {
          result->At(x, y, z) = 1.0f;
          continue;
        }
        containing.clear();
        int nF = 0;
        int nG = 0;
        for (int l = 0; l < N; ++l) {
          const C3DPoint o = windowOrigins[l];
          const C3DPoint e = windowEnds[l];
          if (o.x <= x && x <= e.x && o.y <= y && y <= e.y && o.z <= z && z <= e.z) {
            containing.push_back(l);
            if (l < foregroundCount) {
              nF = nF + 1;
            } else {
              nG = nG + 1;
            }
          }
        }
        const bool segmented = segmentation.At(x, y, z) != 0;
        if (containing.empty()) {
          result->At(x, y, z) = segmented ? 1.0f : 0.0f;
          continue;
        }
        double sum = 0.0;
        double total = 0.0;
        for (const int l : containing) {
          const C3DPoint o = windowOrigins[l];
          const int lx = x - o.x;
          const int ly = y - o.y;
          const int lz = z - o.z;
          const double p = static_cast<double>(probabilityMaps[l]->At(lx, ly, lz));
          const double d = static_cast<double>(distanceMaps[l]->At(lx, ly, lz));
          const double w = std::exp(-(d * d) / distanceScale);
          double k;
          if (l < foregroundCount) {
            k = 1.0 / std::sqrt(static_cast<double>(nF));
            if (p > foregroundConfident) k = k * confidence;
          } else {
            if (p < backgroundConfident) {
              k = confidence / std::sqrt(static_cast<double>(nG));
            } else {
              k = 1.0 / std::sqrt(static_cast<double>(nG));
            }
          }
          total = total + w * k * p;
          sum = sum + w * k;
        }
        const double q = std::exp(-(priorDistance * priorDistance) / distanceScale);
        sum = sum + q;
        if (segmented) total = total + q;
        result->At(x, y, z) = sum > 0.0 ? static_cast<float>(total / sum) : 0.0f;
      }
    }
  }
  return result;
}

}  // namespace oracle
