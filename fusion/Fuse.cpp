// Fusion: the scribbles, the distance-weighted probability maps of all regions
// and the segmentation as a prior, merged voxel by voxel into one probability.
#include <cmath>
#include <vector>

#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"
#include "geometry/Parallel.h"

namespace {

// Every window is either empty or lies inside the volume with both of its maps
// at the window's size, so every lookup below stays in bounds.
bool InputsFit(const CVoxel& interactionMap, const CVoxel& segmentation, const CFVoxelList& distanceMaps,
               const CFVoxelList& probabilityMaps, const CPointArray& windowOrigins,
               const CPointArray& windowEnds, int foregroundCount, int backgroundCount,
               double distanceScale) {
  if (!interactionMap.HasData() || !segmentation.HasData() || !interactionMap.SameSize(segmentation))
    return false;
  if (foregroundCount < 0 || backgroundCount < 0 || !(distanceScale > 0.0)) return false;
  const std::size_t n = static_cast<std::size_t>(foregroundCount) + static_cast<std::size_t>(backgroundCount);
  if (distanceMaps.size() != n || probabilityMaps.size() != n || windowOrigins.size() != n ||
      windowEnds.size() != n)
    return false;
  for (std::size_t l = 0; l < n; ++l) {
    const C3DPoint& first = windowOrigins[l];
    const C3DPoint& last = windowEnds[l];
    if (fusion::IsEmptyWindow(first, last)) continue;
    if (!fusion::WindowInside(first, last, interactionMap.Size())) return false;
    const C3DPoint size = last - first + 1;
    for (const CFVoxel* map : {distanceMaps[l].get(), probabilityMaps[l].get()})
      if (!map || !map->HasData() || !(map->Size() == size)) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<CFVoxel> Fuse(const CVoxel& interactionMap, const CVoxel& segmentation,
                              const CFVoxelList& distanceMaps, const CFVoxelList& probabilityMaps,
                              const CPointArray& windowOrigins, const CPointArray& windowEnds,
                              int foregroundCount, int backgroundCount, double priorDistance,
                              double distanceScale, int threads) {
  if (!InputsFit(interactionMap, segmentation, distanceMaps, probabilityMaps, windowOrigins, windowEnds,
                 foregroundCount, backgroundCount, distanceScale))
    return nullptr;
  auto result = std::make_unique<CFVoxel>(interactionMap.Size());
  if (!result->HasData()) return nullptr;

  const int windows = foregroundCount + backgroundCount;
  const double prior = std::exp(-(priorDistance * priorDistance) / distanceScale);
  const int X = interactionMap.X;
  const int Y = interactionMap.Y;

  // Slices are independent: each voxel's result depends only on that voxel.
  fusion::ParallelFor(fusion::ResolveThreadCount(threads), interactionMap.Z, [&](int z) {
    std::vector<int> rowWindows;
    std::vector<int> containing;
    rowWindows.reserve(static_cast<std::size_t>(windows));
    containing.reserve(static_cast<std::size_t>(windows));
    for (int y = 0; y < Y; ++y) {
      // The windows that hold this row, in ascending order; only their voxels
      // need any floating-point work.
      rowWindows.clear();
      for (int l = 0; l < windows; ++l) {
        const C3DPoint& first = windowOrigins[l];
        const C3DPoint& last = windowEnds[l];
        if (first.x <= last.x && first.y <= y && y <= last.y && first.z <= z && z <= last.z)
          rowWindows.push_back(l);
      }
      const std::size_t row = interactionMap.Index(0, y, z);
      for (int x = 0; x < X; ++x) {
        const int scribble = interactionMap[row + static_cast<std::size_t>(x)];
        float& out = (*result)[row + static_cast<std::size_t>(x)];
        if (scribble == fusion::kBackgroundScribble) {
          out = 0.0f;
          continue;
        }
        if (scribble == fusion::kForegroundScribble) {
          out = 1.0f;
          continue;
        }
        const bool labelled = segmentation[row + static_cast<std::size_t>(x)] != 0;

        containing.clear();
        int nF = 0;
        int nG = 0;
        for (const int l : rowWindows) {
          if (x < windowOrigins[l].x || x > windowEnds[l].x) continue;
          containing.push_back(l);
          if (l < foregroundCount)
            ++nF;
          else
            ++nG;
        }
        if (containing.empty()) {
          out = labelled ? 1.0f : 0.0f;
          continue;
        }

        double sum = 0.0;
        double total = 0.0;
        for (const int l : containing) {
          const C3DPoint& first = windowOrigins[l];
          const int lx = x - first.x;
          const int ly = y - first.y;
          const int lz = z - first.z;
          const double p = probabilityMaps[l]->At(lx, ly, lz);
          const double d = distanceMaps[l]->At(lx, ly, lz);
          const double w = std::exp(-(d * d) / distanceScale);
          double k;
          if (l < foregroundCount) {
            k = 1.0 / std::sqrt(static_cast<double>(nF));
            if (p > fusion::kForegroundConfident) k = k * fusion::kConfidenceFactor;
          } else if (p < fusion::kBackgroundConfident) {
            k = fusion::kConfidenceFactor / std::sqrt(static_cast<double>(nG));
          } else {
            k = 1.0 / std::sqrt(static_cast<double>(nG));
          }
          total = total + w * k * p;
          sum = sum + w * k;
        }
        sum = sum + prior;
        if (labelled) total = total + prior;
        out = static_cast<float>(sum > 0.0 ? total / sum : 0.0);
      }
    }
  });
  return result;
}
