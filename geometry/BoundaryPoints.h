// Boundary voxels of a label and the component of a label reached from a seed.
#pragma once

#include <memory>
#include <vector>

#include "volume/Voxel.h"

// The positions of a label's boundary voxels, in scan order (z outermost, then
// y, then x). A voxel with value m != 0 is on the boundary when one of its six
// face neighbours inside the volume holds another value; neighbours outside
// the volume are not considered.
class CBoundaryPoints {
 public:
  CBoundaryPoints() = default;
  explicit CBoundaryPoints(const CVoxel& label);

  const std::vector<C3DPoint>& Points() const { return m_points; }
  int Count() const { return static_cast<int>(m_points.size()); }
  bool Empty() const { return m_points.empty(); }

  // A new X x Y x Z volume with 1 at every listed point inside it, 0 elsewhere;
  // spacing and origin are left unset.
  std::unique_ptr<CVoxel> Rasterise(int X, int Y, int Z) const;

 private:
  std::vector<C3DPoint> m_points;
};

namespace geometry {

// A new 0/1 volume of the label's size holding the seed and every voxel > 0
// that is 6-connected to it through voxels > 0. The seed is set whatever the
// label holds there; a seed outside the volume gives an all-zero result.
std::unique_ptr<CVoxel> KeepSeedComponent(const CVoxel& label, const C3DPoint& seed);

}  // namespace geometry
