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
               const CFVoxelList& probabilityMaps, const fusion::RegionWindowList& windows,
               double distanceScale) {
  if (!interactionMap.HasData() || !segmentation.HasData() || !interactionMap.SameSize(segmentation))
    return false;
  if (!(distanceScale > 0.0)) return false;
  const std::size_t n = windows.size();
  if (distanceMaps.size() != n || probabilityMaps.size() != n) return false;
  for (std::size_t l = 0; l < n; ++l) {
    const fusion::RegionWindow& window = windows[l];
    if (fusion::IsEmptyWindow(window)) continue;
    if (!fusion::WindowInside(window, interactionMap.Size())) return false;
    const C3DPoint size = window.Size();
    for (const CFVoxel* map : {distanceMaps[l].get(), probabilityMaps[l].get()})
      if (!map || !map->HasData() || !(map->Size() == size)) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<CFVoxel> Fuse(const CVoxel& interactionMap, const CVoxel& segmentation,
                              const CFVoxelList& distanceMaps, const CFVoxelList& probabilityMaps,
                              const fusion::RegionWindowList& regionWindows,
                              const fusion::CorrectionParameters& parameters) {
  const double priorDistance = parameters.priorDistance;
  const double distanceScale = parameters.distanceScale;
  if (!InputsFit(interactionMap, segmentation, distanceMaps, probabilityMaps, regionWindows, distanceScale))
    return nullptr;
  auto result = std::make_unique<CFVoxel>(interactionMap.Size());
  if (!result->HasData()) return nullptr;

  const int windows = static_cast<int>(regionWindows.size());
  const double prior = std::exp(-(priorDistance * priorDistance) / distanceScale);
  const int X = interactionMap.X;
  const int Y = interactionMap.Y;

  // Slices are independent: each voxel's result depends only on that voxel.
  geometry::ParallelFor(geometry::ResolveThreadCount(parameters.threads), interactionMap.Z, [&](int z) {
    std::vector<int> rowWindows;
    std::vector<int> containing;
    rowWindows.reserve(static_cast<std::size_t>(windows));
    containing.reserve(static_cast<std::size_t>(windows));
    for (int y = 0; y < Y; ++y) {
      // The windows that hold this row, in ascending order; only their voxels
      // need any floating-point work.
      rowWindows.clear();
      for (int l = 0; l < windows; ++l) {
        const C3DPoint& first = regionWindows[l].origin;
        const C3DPoint& last = regionWindows[l].end;
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
          if (x < regionWindows[l].origin.x || x > regionWindows[l].end.x) continue;
          containing.push_back(l);
          if (regionWindows[l].kind == fusion::ScribbleKind::Foreground)
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
          const C3DPoint& first = regionWindows[l].origin;
          const int lx = x - first.x;
          const int ly = y - first.y;
          const int lz = z - first.z;
          const double p = probabilityMaps[l]->At(lx, ly, lz);
          const double d = distanceMaps[l]->At(lx, ly, lz);
          const double w = std::exp(-(d * d) / distanceScale);
          double k;
          if (regionWindows[l].kind == fusion::ScribbleKind::Foreground) {
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
