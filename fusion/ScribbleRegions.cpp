// Scribble regions: the connected pieces of scribble that contradict the
// segmentation, plus unions of pieces that lie close together.
//
// Regions are kept over their bounding boxes only, and the components are
// found once, as voxel lists, within the bounding box of the scribbles of one
// value: memory follows the scribbles' extent, not the volume size times the
// number of regions.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"
#include "geometry/LabelGeometry.h"

namespace fusion {

namespace {

// Face neighbours in the order x - 1, y - 1, z - 1, x + 1, y + 1, z + 1.
constexpr C3DPoint kNeighbours[6] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

struct Box {
  C3DPoint first{INT_MAX, INT_MAX, INT_MAX};
  C3DPoint last{INT_MIN, INT_MIN, INT_MIN};

  bool Empty() const { return first.x > last.x || first.y > last.y || first.z > last.z; }
  C3DPoint Size() const { return last - first + 1; }
  void Add(const C3DPoint& p) {
    first.Set(std::min(first.x, p.x), std::min(first.y, p.y), std::min(first.z, p.z));
    last.Set(std::max(last.x, p.x), std::max(last.y, p.y), std::max(last.z, p.z));
  }
  void Add(const Box& b) {
    if (b.Empty()) return;
    Add(b.first);
    Add(b.last);
  }
  bool Contains(const C3DPoint& p) const {
    return first.x <= p.x && p.x <= last.x && first.y <= p.y && p.y <= last.y && first.z <= p.z &&
           p.z <= last.z;
  }
  bool Overlaps(const Box& b) const {
    return first.x <= b.last.x && b.first.x <= last.x && first.y <= b.last.y && b.first.y <= last.y &&
           first.z <= b.last.z && b.first.z <= last.z;
  }
};

// The label box enlarged by the margin: minimum clipped at 0, maximum at the
// dimension minus 1, as the enlarged bounding box of a label is defined.
Box Enlarge(const Box& box, const C3DPoint& margin, const C3DPoint& dimensions) {
  const auto clampInt = [](std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
  };
  const int lo[3] = {box.first.x, box.first.y, box.first.z};
  const int hi[3] = {box.last.x, box.last.y, box.last.z};
  const int m[3] = {margin.x, margin.y, margin.z};
  const int dims[3] = {dimensions.x, dimensions.y, dimensions.z};
  int first[3];
  int last[3];
  for (int a = 0; a < 3; ++a) {
    first[a] = clampInt(std::max<std::int64_t>(static_cast<std::int64_t>(lo[a]) - m[a], 0));
    last[a] = clampInt(std::min<std::int64_t>(static_cast<std::int64_t>(hi[a]) + m[a], dims[a] - 1));
  }
  Box enlarged;
  enlarged.first.Set(first[0], first[1], first[2]);
  enlarged.last.Set(last[0], last[1], last[2]);
  return enlarged;
}

// One 6-connected component of the scribbles of one value.
struct Component {
  std::vector<C3DPoint> voxels;  // volume positions in scan order
  Box box;
  C3DPoint centroid;
};

// Centroid of positions given in scan order: single-precision sums in that
// order, each mean rounded as floor(mean + 0.5), as for the centroid of a label.
C3DPoint CentroidOf(const std::vector<C3DPoint>& voxels) {
  float sx = 0.0f;
  float sy = 0.0f;
  float sz = 0.0f;
  for (const C3DPoint& p : voxels) {
    sx += static_cast<float>(p.x);
    sy += static_cast<float>(p.y);
    sz += static_cast<float>(p.z);
  }
  const float n = static_cast<float>(static_cast<int>(voxels.size()));
  return {static_cast<int>(std::floor(sx / n + 0.5f)), static_cast<int>(std::floor(sy / n + 0.5f)),
          static_cast<int>(std::floor(sz / n + 0.5f))};
}

// The components of a mask (one byte per voxel of `box`), in the order of
// their first voxel in scan order, at most `limit` of them. With `grow` false
// every voxel is a component of its own (a mask value that is not > 0).
std::vector<Component> ComponentsOf(std::vector<std::uint8_t>& mask, const Box& box, bool grow, int limit) {
  std::vector<Component> components;
  const C3DPoint size = box.Size();
  const std::size_t X = static_cast<std::size_t>(size.x);
  const std::size_t XY = X * static_cast<std::size_t>(size.y);
  std::vector<std::size_t> pending;
  std::vector<std::size_t> members;
  for (std::size_t seed = 0; seed < mask.size() && static_cast<int>(components.size()) < limit; ++seed) {
    if (mask[seed] == 0) continue;
    mask[seed] = 0;
    members.assign(1, seed);
    pending.assign(1, seed);
    while (grow && !pending.empty()) {
      const std::size_t index = pending.back();
      pending.pop_back();
      const int x = static_cast<int>(index % X);
      const int y = static_cast<int>((index / X) % static_cast<std::size_t>(size.y));
      const int z = static_cast<int>(index / XY);
      for (const C3DPoint& d : kNeighbours) {
        const int nx = x + d.x;
        const int ny = y + d.y;
        const int nz = z + d.z;
        if (nx < 0 || ny < 0 || nz < 0 || nx >= size.x || ny >= size.y || nz >= size.z) continue;
        const std::size_t n = static_cast<std::size_t>(nx) + X * static_cast<std::size_t>(ny) +
                              XY * static_cast<std::size_t>(nz);
        if (mask[n] == 0) continue;
        mask[n] = 0;
        members.push_back(n);
        pending.push_back(n);
      }
    }
    std::sort(members.begin(), members.end());
    Component c;
    c.voxels.reserve(members.size());
    for (const std::size_t index : members) {
      const C3DPoint p(box.first.x + static_cast<int>(index % X),
                       box.first.y + static_cast<int>((index / X) % static_cast<std::size_t>(size.y)),
                       box.first.z + static_cast<int>(index / XY));
      c.voxels.push_back(p);
      c.box.Add(p);
    }
    c.centroid = CentroidOf(c.voxels);
    components.push_back(std::move(c));
  }
  return components;
}

// A region made of one or two components: `value` on their voxels.
ScribbleRegion MakeRegion(const C3DPoint& volumeSize, ScribbleKind kind, const Component& a,
                          const Component* b) {
  const int value = ScribbleValue(kind);
  Box box = a.box;
  if (b) box.Add(b->box);
  ScribbleRegion region;
  region.kind = kind;
  region.volumeSize = volumeSize;
  region.origin = box.first;
  region.voxels = CVoxel(box.Size());
  if (!region.voxels.HasData()) throw std::bad_alloc();
  for (const Component* c : {&a, b}) {
    if (!c) continue;
    for (const C3DPoint& p : c->voxels)
      region.voxels.At(p.x - box.first.x, p.y - box.first.y, p.z - box.first.z) =
          static_cast<CVoxel::value_type>(value);
  }
  return region;
}

bool AnyVoxelIn(const Component& c, const Box& box) {
  if (!box.Overlaps(c.box)) return false;
  return std::any_of(c.voxels.begin(), c.voxels.end(), [&box](const C3DPoint& p) { return box.Contains(p); });
}

// Components, pair unions and neighbourhood unions of the scribbles of one
// value (a mask over `box`), appended to `regions` in that order.
void RegionsOfValue(std::vector<std::uint8_t>& mask, const Box& box, const C3DPoint& volumeSize,
                    ScribbleKind kind, const CorrectionParameters& parameters, ScribbleRegionList& regions) {
  const std::vector<Component> components = ComponentsOf(mask, box, true, kMaxComponents);
  const int n = static_cast<int>(components.size());
  for (const Component& c : components) regions.push_back(MakeRegion(volumeSize, kind, c, nullptr));

  // Unions are told apart by their pair of components: components are disjoint
  // and never empty, so two unions hold the same voxels exactly when they join
  // the same two components.
  std::vector<std::pair<int, int>> unions;
  for (int b = 0; b < n; ++b)
    for (int k = b + 1; k < n; ++k)
      if (FormsPair(components[b].centroid, components[k].centroid, parameters.pairDistance,
                    parameters.voxelLengths)) {
        regions.push_back(MakeRegion(volumeSize, kind, components[b], &components[k]));
        unions.emplace_back(b, k);
      }

  // Neighbourhood unions: each component joined with the LAST other component
  // that has a voxel inside its enlarged bounding box (earlier touching
  // components are overwritten, not accumulated). One equal to a region before
  // it is dropped.
  for (int b = 0; b < n; ++b) {
    const Box neighbourhood = Enlarge(components[b].box, parameters.neighbourhoodMargin, volumeSize);
    int touching = -1;
    for (int k = 0; k < n; ++k)
      if (k != b && AnyVoxelIn(components[k], neighbourhood)) touching = k;
    if (touching < 0) continue;
    const std::pair<int, int> joined(std::min(b, touching), std::max(b, touching));
    if (std::find(unions.begin(), unions.end(), joined) != unions.end()) continue;
    regions.push_back(MakeRegion(volumeSize, kind, components[b], &components[touching]));
    unions.push_back(joined);
  }
}

}  // namespace

std::unique_ptr<CVoxel> GrowComponent(const CVoxel& mask) {
  if (!mask.HasData()) return nullptr;
  auto result = std::make_unique<CVoxel>(mask.Size());
  if (!result->HasData()) return nullptr;
  if (mask.VoxelCount() == 0) return result;
  // Non-zero voxels are seeds; only voxels > 0 let the component grow.
  std::vector<std::uint8_t> seeds(mask.VoxelCount());
  std::vector<std::uint8_t> growing(mask.VoxelCount());
  for (std::size_t i = 0; i < mask.VoxelCount(); ++i) {
    seeds[i] = mask[i] != 0;
    growing[i] = mask[i] > 0;
  }
  const auto first = std::find(seeds.begin(), seeds.end(), 1);
  if (first == seeds.end()) return result;
  growing[static_cast<std::size_t>(first - seeds.begin())] = 1;
  Box box;
  box.first = {0, 0, 0};
  box.last = mask.Size() + (-1);
  const auto components = ComponentsOf(growing, box, true, 1);
  for (const C3DPoint& p : components.front().voxels) result->At(p.x, p.y, p.z) = 1;
  return result;
}

bool FormsPair(const C3DPoint& a, const C3DPoint& b, double pairDistance, const AxisLengths& lengths) {
  const std::int64_t dx = static_cast<std::int64_t>(a.x) - b.x;
  const std::int64_t dy = static_cast<std::int64_t>(a.y) - b.y;
  const std::int64_t dz = static_cast<std::int64_t>(a.z) - b.z;
  if (!lengths.IsUnit()) {
    const double ex = static_cast<double>(dx) * lengths.x;
    const double ey = static_cast<double>(dy) * lengths.y;
    const double ez = static_cast<double>(dz) * lengths.z;
    if (std::fabs(ez) > kMaxPairSlices) return false;
    return pairDistance > std::sqrt(ex * ex + ey * ey + kSliceWeightSquared * ez * ez);
  }
  if (std::llabs(dz) > kMaxPairSlices) return false;
  const std::int64_t squared = dx * dx + dy * dy + kSliceWeightSquared * dz * dz;
  return pairDistance > std::sqrt(static_cast<double>(squared));
}

ScribbleRegion CompactRegion(const CVoxel& region) {
  ScribbleRegion compact;
  compact.volumeSize = region.Size();
  if (!region.HasData()) return compact;
  Box box;
  bool kindSeen = false;
  for (int z = 0; z < region.Z; ++z)
    for (int y = 0; y < region.Y; ++y)
      for (int x = 0; x < region.X; ++x) {
        const int value = region.At(x, y, z);
        if (value == 0) continue;
        box.Add(C3DPoint{x, y, z});
        if (!kindSeen && (value == kForegroundScribble || value == kBackgroundScribble)) {
          compact.kind = value == kBackgroundScribble ? ScribbleKind::Background : ScribbleKind::Foreground;
          kindSeen = true;
        }
      }
  if (box.Empty()) return compact;
  compact.origin = box.first;
  compact.voxels = CVoxel(box.Size());
  if (!compact.voxels.HasData()) throw std::bad_alloc();
  const C3DPoint size = box.Size();
  for (int z = 0; z < size.z; ++z)
    for (int y = 0; y < size.y; ++y)
      for (int x = 0; x < size.x; ++x)
        compact.voxels.At(x, y, z) = region.At(box.first.x + x, box.first.y + y, box.first.z + z);
  return compact;
}

std::unique_ptr<CVoxel> ExpandRegion(const ScribbleRegion& region) {
  auto full = std::make_unique<CVoxel>(region.volumeSize);
  if (!full->HasData()) return full;
  const CVoxel& v = region.voxels;
  if (!v.HasData()) return full;
  for (int z = 0; z < v.Z; ++z)
    for (int y = 0; y < v.Y; ++y)
      for (int x = 0; x < v.X; ++x) {
        const C3DPoint p = region.origin + C3DPoint{x, y, z};
        if (full->Contains(p.x, p.y, p.z)) full->At(p.x, p.y, p.z) = v.At(x, y, z);
      }
  return full;
}

RegionWindow WindowOf(const ScribbleRegion& region, const C3DPoint& margin) {
  RegionWindow empty;
  empty.kind = region.kind;
  const CVoxel& v = region.voxels;
  if (!v.HasData()) return empty;
  Box box;
  for (int z = 0; z < v.Z; ++z)
    for (int y = 0; y < v.Y; ++y)
      for (int x = 0; x < v.X; ++x)
        if (v.At(x, y, z) > 0) box.Add(region.origin + C3DPoint{x, y, z});
  if (box.Empty()) return empty;
  const Box window = Enlarge(box, margin, region.volumeSize);
  // An inverted box (a hostile margin) is the empty window.
  if (window.Empty()) return empty;
  return RegionWindow{window.first, window.last, region.kind};
}

}  // namespace fusion

fusion::RegionCounts ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation,
                                            const fusion::CorrectionParameters& parameters,
                                            fusion::ScribbleRegionList& regions) {
  fusion::RegionCounts counts;
  if (!interactionMap.HasData() || !segmentation.HasData() || !interactionMap.SameSize(segmentation))
    return counts;

  // Only the scribbles that contradict the segmentation count.
  constexpr int foregroundValue = fusion::kForegroundScribble;
  constexpr int backgroundValue = fusion::kBackgroundScribble;
  const auto contradicts = [&](std::size_t i) {
    const int scribble = interactionMap[i];
    const bool inside = segmentation[i] != 0;
    return !((scribble == foregroundValue && inside) || (scribble == backgroundValue && !inside));
  };
  constexpr fusion::ScribbleKind kinds[2] = {fusion::ScribbleKind::Foreground,
                                             fusion::ScribbleKind::Background};
  constexpr int values[2] = {foregroundValue, backgroundValue};
  fusion::Box boxes[2];
  const int X = interactionMap.X;
  const int Y = interactionMap.Y;
  std::size_t i = 0;
  for (int z = 0; z < interactionMap.Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x, ++i) {
        const int scribble = interactionMap[i];
        if (scribble == 0) continue;
        for (int v = 0; v < 2; ++v)
          if (scribble == values[v] && contradicts(i)) boxes[v].Add(C3DPoint{x, y, z});
      }

  const std::size_t before = regions.size();
  for (int v = 0; v < 2; ++v) {
    const fusion::Box& box = boxes[v];
    if (!box.Empty()) {
      const C3DPoint size = box.Size();
      std::vector<std::uint8_t> mask(static_cast<std::size_t>(size.x) * static_cast<std::size_t>(size.y) *
                                     static_cast<std::size_t>(size.z));
      std::size_t m = 0;
      for (int z = box.first.z; z <= box.last.z; ++z)
        for (int y = box.first.y; y <= box.last.y; ++y)
          for (int x = box.first.x; x <= box.last.x; ++x, ++m) {
            const std::size_t index = interactionMap.Index(x, y, z);
            mask[m] = interactionMap[index] == values[v] && contradicts(index);
          }
      fusion::RegionsOfValue(mask, box, interactionMap.Size(), kinds[v], parameters, regions);
    }
    const int count = static_cast<int>(regions.size() - before);
    if (v == 0)
      counts.foreground = count;
    else
      counts.background = count - counts.foreground;
  }
  return counts;
}
