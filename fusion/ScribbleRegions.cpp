// Scribble regions: the connected pieces of scribble that contradict the
// segmentation, plus unions of pieces that lie close together.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "correction/LabelGeometry.h"
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

namespace fusion {

namespace {

// New all-zero volume of the given size, or null when memory runs out.
std::unique_ptr<CVoxel> NewVolume(const C3DPoint& size) {
  auto volume = std::make_unique<CVoxel>(size);
  if (!volume->HasData()) return nullptr;
  return volume;
}

// `value` where either region is non-zero, 0 elsewhere. Both regions hold only
// `value` and 0, so this is "region a where non-zero, else region b".
std::unique_ptr<CVoxel> UnionOf(const CVoxel& a, const CVoxel& b, int value) {
  auto result = NewVolume(a.Size());
  if (!result) return nullptr;
  for (std::size_t i = 0; i < result->VoxelCount(); ++i)
    if (a[i] != 0 || b[i] != 0) (*result)[i] = static_cast<CVoxel::value_type>(value);
  return result;
}

bool AnyNonZeroInBox(const CVoxel& volume, const C3DPoint& first, const C3DPoint& last) {
  for (int z = first.z; z <= last.z; ++z)
    for (int y = first.y; y <= last.y; ++y)
      for (int x = first.x; x <= last.x; ++x)
        if (volume.At(x, y, z) != 0) return true;
  return false;
}

bool SameVoxels(const CVoxel& a, const CVoxel& b) {
  return a.SameSize(b) && std::equal(a.Data(), a.Data() + a.VoxelCount(), b.Data());
}

}  // namespace

std::unique_ptr<CVoxel> SelectValue(const CVoxel& source, int key, int value) {
  if (!source.HasData()) return nullptr;
  auto result = NewVolume(source.Size());
  if (!result) return nullptr;
  for (std::size_t i = 0; i < source.VoxelCount(); ++i)
    if (source[i] == key) (*result)[i] = static_cast<CVoxel::value_type>(value);
  return result;
}

std::unique_ptr<CVoxel> GrowComponent(const CVoxel& mask, std::size_t* searchFrom) {
  if (!mask.HasData()) return nullptr;
  auto result = NewVolume(mask.Size());
  if (!result) return nullptr;

  std::size_t seed = searchFrom ? *searchFrom : 0;
  while (seed < mask.VoxelCount() && mask[seed] == 0) ++seed;
  if (searchFrom) *searchFrom = std::min(seed + 1, mask.VoxelCount());
  if (seed >= mask.VoxelCount()) return result;

  // Depth-first growth over the six face neighbours; every joined voxel's
  // neighbours are examined once, so the whole component is reached.
  const int X = mask.X;
  const int Y = mask.Y;
  (*result)[seed] = 1;
  std::vector<std::size_t> pending{seed};
  while (!pending.empty()) {
    const std::size_t index = pending.back();
    pending.pop_back();
    const int x = static_cast<int>(index % static_cast<std::size_t>(X));
    const int y = static_cast<int>((index / static_cast<std::size_t>(X)) % static_cast<std::size_t>(Y));
    const int z = static_cast<int>(index / (static_cast<std::size_t>(X) * static_cast<std::size_t>(Y)));
    const C3DPoint neighbours[6] = {{x - 1, y, z}, {x, y - 1, z}, {x, y, z - 1},
                                    {x + 1, y, z}, {x, y + 1, z}, {x, y, z + 1}};
    for (const C3DPoint& n : neighbours) {
      if (!mask.Contains(n.x, n.y, n.z)) continue;
      const std::size_t ni = mask.Index(n.x, n.y, n.z);
      if ((*result)[ni] == 0 && mask[ni] > 0) {
        (*result)[ni] = 1;
        pending.push_back(ni);
      }
    }
  }
  return result;
}

bool FormsPair(const C3DPoint& a, const C3DPoint& b, double pairDistance) {
  const std::int64_t dx = static_cast<std::int64_t>(a.x) - b.x;
  const std::int64_t dy = static_cast<std::int64_t>(a.y) - b.y;
  const std::int64_t dz = static_cast<std::int64_t>(a.z) - b.z;
  if (std::llabs(dz) > kMaxPairSlices) return false;
  const std::int64_t squared = dx * dx + dy * dy + kSliceWeightSquared * dz * dz;
  return pairDistance > std::sqrt(static_cast<double>(squared));
}

void ExtractRegionsOfValue(const CVoxel& filtered, int value, double pairDistance, const C3DPoint& margin,
                           CVoxelList& regions) {
  auto mask = SelectValue(filtered, value, value);
  if (!mask) return;

  // Components, in the order of their seeds in scan order.
  CVoxelList found;
  CPointArray centroids;
  std::size_t searchFrom = 0;
  for (int i = 0; i < kMaxComponents; ++i) {
    auto component = GrowComponent(*mask, &searchFrom);
    if (!component) break;
    C3DPoint centre;
    Centroid(*component, centre);
    bool any = false;
    for (std::size_t v = 0; v < component->VoxelCount(); ++v) {
      if ((*component)[v] != 0) {
        (*mask)[v] = 0;
        (*component)[v] = static_cast<CVoxel::value_type>(value);
        any = true;
      }
    }
    if (!any) break;
    centroids.push_back(centre);
    found.push_back(std::move(component));
  }
  mask.reset();
  const std::size_t n = found.size();

  // Pair unions of components whose centroids lie close together.
  for (std::size_t b = 0; b < n; ++b)
    for (std::size_t k = b + 1; k < n; ++k)
      if (FormsPair(centroids[b], centroids[k], pairDistance))
        if (auto pair = UnionOf(*found[b], *found[k], value)) found.push_back(std::move(pair));
  const std::size_t beforeNeighbourhood = found.size();

  // Neighbourhood unions: each component joined with the LAST other component
  // that has a voxel inside its enlarged bounding box (earlier touching
  // components are overwritten, not accumulated).
  for (std::size_t b = 0; b < n; ++b) {
    C3DPoint first;
    C3DPoint last;
    EnlargedBoundingBox(*found[b], margin, first, last);
    std::size_t touching = n;
    for (std::size_t k = 0; k < n; ++k)
      if (k != b && AnyNonZeroInBox(*found[k], first, last)) touching = k;
    if (touching < n)
      if (auto neighbourhood = UnionOf(*found[b], *found[touching], value))
        found.push_back(std::move(neighbourhood));
  }

  // A neighbourhood union equal to any region before it is dropped.
  for (std::size_t c = beforeNeighbourhood; c < found.size();) {
    const bool duplicate =
        std::any_of(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(c),
                    [&](const std::unique_ptr<CVoxel>& r) { return SameVoxels(*r, *found[c]); });
    if (duplicate)
      found.erase(found.begin() + static_cast<std::ptrdiff_t>(c));
    else
      ++c;
  }

  for (auto& region : found) regions.push_back(std::move(region));
}

}  // namespace fusion

void ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation, int foregroundValue,
                            int backgroundValue, double pairDistance, const C3DPoint& margin,
                            CVoxelList& regions, int& foregroundCount, int& backgroundCount) {
  foregroundCount = 0;
  backgroundCount = 0;
  if (!interactionMap.HasData() || !segmentation.HasData() || !interactionMap.SameSize(segmentation)) return;

  // Keep only the scribbles that contradict the segmentation.
  CVoxel filtered(interactionMap);
  if (!filtered.HasData()) return;
  for (std::size_t i = 0; i < filtered.VoxelCount(); ++i) {
    const int scribble = interactionMap[i];
    const bool inside = segmentation[i] != 0;
    if ((scribble == foregroundValue && inside) || (scribble == backgroundValue && !inside)) filtered[i] = 0;
  }

  CVoxelList foreground;
  CVoxelList background;
  fusion::ExtractRegionsOfValue(filtered, foregroundValue, pairDistance, margin, foreground);
  fusion::ExtractRegionsOfValue(filtered, backgroundValue, pairDistance, margin, background);
  foregroundCount = static_cast<int>(foreground.size());
  backgroundCount = static_cast<int>(background.size());
  for (auto& region : foreground) regions.push_back(std::move(region));
  for (auto& region : background) regions.push_back(std::move(region));
}
