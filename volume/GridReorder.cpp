#include "volume/GridReorder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>

namespace volume {

namespace {

// Grid axis c is the volume's axis `axis[c]`, run the other way when reversed[c].
struct AxisMap {
  std::array<int, 3> axis{0, 1, 2};
  std::array<bool, 3> reversed{false, false, false};
};

int SizeAlong(const CVoxel& v, int axis) { return axis == 0 ? v.X : axis == 1 ? v.Y : v.Z; }

// An empty volume with the size and geometry `volume` has when its axes are
// taken in the order `map` gives; false when that geometry cannot be held.
bool Remapped(const CVoxel& volume, const AxisMap& map, CVoxel& out) {
  double axes[3][3], origin[3], newAxes[3][3];
  volume.GeometryMatrix(axes, origin);
  for (int c = 0; c < 3; ++c) {
    const int a = map.axis[c];
    const double sign = map.reversed[c] ? -1.0 : 1.0;
    for (int r = 0; r < 3; ++r) {
      newAxes[r][c] = sign * axes[r][a];
      // The first voxel of a reversed axis is the volume's last along it.
      if (map.reversed[c]) origin[r] += axes[r][a] * (SizeAlong(volume, a) - 1);
    }
  }
  out.X = SizeAlong(volume, map.axis[0]);
  out.Y = SizeAlong(volume, map.axis[1]);
  out.Z = SizeAlong(volume, map.axis[2]);
  out.niftiQformCode = volume.niftiQformCode;
  out.niftiSformCode = volume.niftiSformCode;
  return out.SetGeometryFromMatrix(newAxes, origin);
}

std::string Describe(const AxisMap& map) {
  static const char* const kNames[3] = {"x", "y", "z"};
  std::string along;
  for (int a = 0; a < 3; ++a) {
    const int c = static_cast<int>(std::find(map.axis.begin(), map.axis.end(), a) - map.axis.begin());
    along += std::string(a ? ", " : "") + (map.reversed[c] ? "-" : "") + kNames[c];
  }
  return along;
}

}  // namespace

GridMatch ReorderOntoGrid(CVoxel& volume, const CVoxel& grid, std::string* how) {
  if (volume.SameSize(grid) && SameGeometry(volume, grid)) return GridMatch::Same;
  if (!volume.HasData()) return GridMatch::Different;
  AxisMap map;
  std::array<int, 3> order{0, 1, 2};
  bool found = false;
  CVoxel placed;
  do {
    for (int flips = 0; flips < 8 && !found; ++flips) {
      if (order == std::array<int, 3>{0, 1, 2} && flips == 0) continue;  // the volume's own order
      AxisMap candidate;
      candidate.axis = order;
      for (int c = 0; c < 3; ++c) candidate.reversed[c] = (flips >> c) & 1;
      CVoxel geometry;
      if (Remapped(volume, candidate, geometry) && geometry.SameSize(grid) && SameGeometry(geometry, grid)) {
        map = candidate;
        placed = std::move(geometry);
        found = true;
      }
    }
  } while (!found && std::next_permutation(order.begin(), order.end()));
  if (!found) return GridMatch::Different;

  // Grid voxel (x, y, z) reads the volume at start + x step[0] + y step[1] + z step[2].
  const std::ptrdiff_t stride[3] = {1, static_cast<std::ptrdiff_t>(volume.X),
                                    static_cast<std::ptrdiff_t>(volume.X) * volume.Y};
  std::ptrdiff_t step[3], start = 0;
  for (int c = 0; c < 3; ++c) {
    const std::ptrdiff_t s = stride[map.axis[c]];
    step[c] = map.reversed[c] ? -s : s;
    if (map.reversed[c]) start += s * (SizeAlong(volume, map.axis[c]) - 1);
  }
  if (!placed.AllocateForReader()) throw std::bad_alloc();
  const CVoxel::value_type* source = volume.Data();
  CVoxel::value_type* out = placed.Data();
  for (int z = 0; z < placed.Z; ++z)
    for (int y = 0; y < placed.Y; ++y) {
      const CVoxel::value_type* row = source + start + y * step[1] + z * step[2];
      for (int x = 0; x < placed.X; ++x) *out++ = row[x * step[0]];
    }
  volume = std::move(placed);
  if (how) *how = Describe(map);
  return GridMatch::Reordered;
}

std::string ReorderedText(const std::string& what, const std::string& path, const std::string& gridWhat,
                          const std::string& gridPath, const std::string& how) {
  return "The " + what + " '" + path + "' holds the voxels of the " + gridWhat + " '" + gridPath +
         "' in another axis order or direction (its x, y, z run along the " + gridWhat + "'s " + how +
         "); it was reordered by position onto the " + gridWhat + "'s grid.";
}

}  // namespace volume
