// Surface registration of two boundary point lists and nearest-neighbour
// resampling through the resulting matrix. Everything works in voxel index
// coordinates: voxel (x, y, z) is the point (x, y, z); spacing plays no part.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/BoundaryPoints.h"
#include "geometry/LabelRuns.h"
#include "volume/Voxel.h"

class vtkMatrix4x4;

namespace correction {

// How the landmark transform of each registration step may move the points.
// A value outside these leaves the landmark transform in its own default mode.
enum class LandmarkMode : int { RigidBody = 0, Similarity = 1, Affine = 2 };

// The target side of the registration: its points, their centroid and an
// exact closest-point search over them, built once and then only read, so one
// target serves every reference on every thread at once.
//
// The points are integer grid positions sorted into cubic buckets. A query
// scans the bucket holding it and then shells of buckets around it until no
// unscanned bucket can hold a point as close as the best one found. Squared
// distances are computed as VTK's vertex cells compute them, so the closest
// point is the one VTK's cell locator finds; when two or more points share the
// smallest distance (or no distance is a number, for a query that is not a
// finite position) the question goes to a vtkCellLocator built as VTK's
// registration builds it, which then picks the point exactly as VTK does.
// One difference is deliberate: VTK's locator finds nothing in a target of a
// single point (its bounds have no extent) and leaves the answer unwritten;
// here that point is the answer.
class RegistrationTarget {
 public:
  explicit RegistrationTarget(const CBoundaryPoints& target);
  ~RegistrationTarget();
  RegistrationTarget(const RegistrationTarget&) = delete;
  RegistrationTarget& operator=(const RegistrationTarget&) = delete;

  bool Empty() const { return m_points.empty(); }
  // The mean of the points, summed in list order as VTK sums them.
  const double* Centroid() const { return m_centroid; }
  // The target point closest to `x`, as VTK's cell locator answers it.
  void FindClosestPoint(const double x[3], double closest[3]) const;
  // Queries answered by the cell locator so far (ties and non-finite queries).
  long LocatorQueries() const;

 private:
  struct Locator;
  // The bucket of coordinate v on axis a, clamped to the grid.
  int BucketOf(double v, int a) const;
  void AskLocator(const double x[3], double closest[3]) const;

  std::vector<C3DPoint> m_points;  // list order: the locator's cell ids
  double m_centroid[3] = {0.0, 0.0, 0.0};
  int m_bucketSize = 1;
  int m_low[3] = {0, 0, 0};      // the first bucket's lowest corner
  int m_buckets[3] = {0, 0, 0};  // buckets along each axis
  // The points of bucket b (x fastest) are m_x/m_y/m_z[m_first[b] .. m_first[b + 1]).
  std::vector<int> m_first;
  std::vector<double> m_x, m_y, m_z;
  std::unique_ptr<Locator> m_locator;
};

// The source side of the registration: all the loop reads of the source's
// points. Their number, their centroid (summed in list order as VTK sums them)
// and the landmarks, every step-th point, where the step keeps their number
// near 200 (VTK's default, which the registration keeps).
class RegistrationSource {
 public:
  RegistrationSource() = default;
  explicit RegistrationSource(const CBoundaryPoints& source);

  bool Empty() const { return m_count == 0; }
  std::int64_t Count() const { return m_count; }
  const double* Centroid() const { return m_centroid; }
  const std::vector<C3DPoint>& Landmarks() const { return m_landmarks; }

 private:
  std::int64_t m_count = 0;
  double m_centroid[3] = {0.0, 0.0, 0.0};
  std::vector<C3DPoint> m_landmarks;
};

}  // namespace correction

// Iterative closest point registration of `source` onto `target`; `matrix`
// (created by the caller) receives the map from source positions to target
// positions. The transform always runs `iterations` iterations after matching
// the centroids. Returns false, with the identity in `matrix`, when either list
// is empty: there is nothing to register.
//
// The loop is vtkIterativeClosestPointTransform's own, step for step with
// VTK's objects (landmarks sampled from at most 200 source points, kept in
// single precision, the landmark transform in `mode`, the transforms
// concatenated after one another), with only the closest-point queries
// answered by `target`. The matrix is bit for bit the one VTK computes.
bool RegisterSurfaces(const correction::RegistrationSource& source,
                      const correction::RegistrationTarget& target, vtkMatrix4x4& matrix, int iterations,
                      correction::LandmarkMode mode);
bool RegisterSurfaces(const CBoundaryPoints& source, const correction::RegistrationTarget& target,
                      vtkMatrix4x4& matrix, int iterations, correction::LandmarkMode mode);
// The same with a target built for this one registration.
bool RegisterSurfaces(const CBoundaryPoints& source, const CBoundaryPoints& target, vtkMatrix4x4& matrix,
                      int iterations, correction::LandmarkMode mode);

namespace correction {

// The same registration run by vtkIterativeClosestPointTransform itself (and
// its own cell locator): the yardstick the search above is held against.
bool RegisterSurfacesWithVtk(const CBoundaryPoints& source, const CBoundaryPoints& target,
                             vtkMatrix4x4& matrix, int iterations, LandmarkMode mode);

// True when the matrix can be inverted and holds only finite numbers.
bool IsUsableMatrix(const vtkMatrix4x4& matrix);

// The box [minimum, minimum + size) of an X x Y x Z grid (`grid`): the part
// of a resampled grid that is made.
struct GridBox {
  C3DPoint grid;
  C3DPoint minimum;
  C3DPoint size;
};

}  // namespace correction

// Resampling `moving` by M onto an X x Y x Z grid (`gridSize`) gives voxel p
// the value moving(round(M^-1 p)), or 0 where that position lies outside
// `moving` (or M cannot be inverted). This makes only the box
// [boxMinimum, boxMinimum + boxSize) of it: a box-sized volume whose voxel b
// is the resampled voxel boxMinimum + b, the same values as resampling
// everything and cropping. Spacing and origin are left unset. Null when the box does not
// lie inside the X x Y x Z grid (`gridSize`).
// `moving` may be a window of a larger volume that holds only zeros outside
// it: its voxel (0, 0, 0) is then the larger volume's voxel `movingCorner`,
// and the result is the one of resampling the larger volume.
std::unique_ptr<CVoxel> ResampleBoxByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix,
                                            const correction::GridBox& box,
                                            const C3DPoint& movingCorner = {});

namespace correction {

// The same box as runs of its voxels > 0 (what the reference votes read),
// without the box-sized volume. False (runs untouched) when the box does not
// lie inside the grid.
bool ResampleBoxToRuns(const CVoxel& moving, const vtkMatrix4x4& matrix, const GridBox& box,
                       geometry::LabelRuns& runs, const C3DPoint& movingCorner = {});

}  // namespace correction
