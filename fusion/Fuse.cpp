// Fusion: the scribbles, the distance-weighted probability maps of all regions
// and the segmentation as a prior, merged voxel by voxel into one probability.
#include <cmath>

#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

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

bool Contains(const C3DPoint& first, const C3DPoint& last, int x, int y, int z) {
  return first.x <= x && x <= last.x && first.y <= y && y <= last.y && first.z <= z && z <= last.z;
}

}  // namespace

std::unique_ptr<CFVoxel> Fuse(const CVoxel& interactionMap, const CVoxel& segmentation,
                              const CFVoxelList& distanceMaps, const CFVoxelList& probabilityMaps,
                              const CPointArray& windowOrigins, const CPointArray& windowEnds,
                              int foregroundCount, int backgroundCount, double priorDistance,
                              double distanceScale) {
  if (!InputsFit(interactionMap, segmentation, distanceMaps, probabilityMaps, windowOrigins, windowEnds,
                 foregroundCount, backgroundCount, distanceScale))
    return nullptr;
  auto result = std::make_unique<CFVoxel>(interactionMap.Size());
  if (!result->HasData()) return nullptr;

  const int windows = foregroundCount + backgroundCount;
  const double prior = std::exp(-(priorDistance * priorDistance) / distanceScale);
  std::vector<int> containing;
  containing.reserve(static_cast<std::size_t>(windows));

  for (int z = 0; z < interactionMap.Z; ++z)
    for (int y = 0; y < interactionMap.Y; ++y)
      for (int x = 0; x < interactionMap.X; ++x) {
        const int scribble = interactionMap.At(x, y, z);
        if (scribble == fusion::kBackgroundScribble) {
          result->At(x, y, z) = 0.0f;
          continue;
        }
        if (scribble == fusion::kForegroundScribble) {
          result->At(x, y, z) = 1.0f;
          continue;
        }
        const bool labelled = segmentation.At(x, y, z) != 0;

        containing.clear();
        int nF = 0;
        int nG = 0;
        for (int l = 0; l < windows; ++l) {
          if (!Contains(windowOrigins[l], windowEnds[l], x, y, z)) continue;
          containing.push_back(l);
          if (l < foregroundCount)
            ++nF;
          else
            ++nG;
        }
        if (containing.empty()) {
          result->At(x, y, z) = labelled ? 1.0f : 0.0f;
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
        result->At(x, y, z) = static_cast<float>(sum > 0.0 ? total / sum : 0.0);
      }
  return result;
}
