#include "correction/Registration.h"

#include <vtkCellArray.h>
#include <vtkCellLocator.h>
#include <vtkIterativeClosestPointTransform.h>
#include <vtkLandmarkTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkTransform.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "geometry/InstructionSet.h"
#include "geometry/LabelGeometry.h"

namespace correction {

namespace {

// The default of vtkIterativeClosestPointTransform, which the registration keeps.
constexpr int kMaximumLandmarks = 200;

// The points in list order, each as its own vertex cell.
void FillPointSet(const std::vector<C3DPoint>& list, vtkPolyData& polyData) {
  // Stored as doubles: voxel positions are whole numbers, exact in either
  // type, and the closest-point searches read doubles without conversion.
  vtkNew<vtkPoints> points;
  points->SetDataTypeToDouble();
  vtkNew<vtkCellArray> vertices;
  for (const C3DPoint& p : list) {
    vtkIdType id =
        points->InsertNextPoint(static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z));
    vertices->InsertNextCell(1, &id);
  }
  polyData.SetPoints(points);
  polyData.SetVerts(vertices);
}

void SetLandmarkMode(vtkLandmarkTransform& transform, LandmarkMode mode) {
  switch (mode) {
    case LandmarkMode::RigidBody:
      transform.SetModeToRigidBody();
      break;
    case LandmarkMode::Similarity:
      transform.SetModeToSimilarity();
      break;
    case LandmarkMode::Affine:
      transform.SetModeToAffine();
      break;
    default:
      break;  // the landmark transform keeps its own mode
  }
}

// The squared distance from target point (px, py, pz) to x, in the operations
// and order of vtkVertex::EvaluatePosition (vtkMath::Distance2BetweenPoints).
inline double Distance2(double px, double py, double pz, const double x[3]) {
  return (px - x[0]) * (px - x[0]) + (py - x[1]) * (py - x[1]) + (pz - x[2]) * (pz - x[2]);
}

// True when every point whose (rounded) squared distance is at least the
// rounded `lowerBound2` is certainly farther than `best`: the margin covers
// the few roundings in either figure, so no point that ties with `best` is
// ever passed over.
inline bool ClearlyFarther(double lowerBound2, double best) { return lowerBound2 * (1.0 - 1e-9) > best; }

// How far x lies below [low, high] or above it (0 inside).
inline double Outside(double x, double low, double high) {
  return x < low ? low - x : (x > high ? x - high : 0.0);
}

}  // namespace

// The cell locator VTK's registration would build on the target, made on the
// first query that needs it. Its queries keep scratch state inside the
// locator, so they run one at a time.
struct RegistrationTarget::Locator {
  std::mutex mutex;
  vtkSmartPointer<vtkPolyData> points;
  vtkSmartPointer<vtkCellLocator> locator;
  long queries = 0;
};

RegistrationTarget::RegistrationTarget(const CBoundaryPoints& target)
    : m_points(target.Points()), m_locator(std::make_unique<Locator>()) {
  if (m_points.empty()) return;
  int high[3] = {m_points[0].x, m_points[0].y, m_points[0].z};
  std::copy(high, high + 3, m_low);
  for (const C3DPoint& p : m_points) {
    m_centroid[0] += static_cast<double>(p.x);
    m_centroid[1] += static_cast<double>(p.y);
    m_centroid[2] += static_cast<double>(p.z);
    const int c[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      m_low[a] = std::min(m_low[a], c[a]);
      high[a] = std::max(high[a], c[a]);
    }
  }
  const vtkIdType count = static_cast<vtkIdType>(m_points.size());
  for (double& c : m_centroid) c /= count;

  // Buckets of 4 voxels a side suit a surface: a query near it is settled by
  // its own bucket and a few neighbours. A scattered list gets larger buckets
  // so that their number stays in proportion to the points.
  const std::int64_t limit = 8 * static_cast<std::int64_t>(count) + 4096;
  std::int64_t size = 4;
  std::int64_t total = 0;
  for (;; size *= 2) {
    total = 1;
    for (int a = 0; a < 3; ++a) total *= (static_cast<std::int64_t>(high[a]) - m_low[a]) / size + 1;
    if (total <= limit) break;
  }
  m_bucketSize = static_cast<int>(size);
  for (int a = 0; a < 3; ++a)
    m_buckets[a] = static_cast<int>((static_cast<std::int64_t>(high[a]) - m_low[a]) / size + 1);

  // Counting sort of the points by bucket, list order kept within a bucket.
  std::vector<int> bucketOf(m_points.size());
  m_first.assign(static_cast<std::size_t>(total) + 1, 0);
  for (std::size_t i = 0; i < m_points.size(); ++i) {
    const C3DPoint& p = m_points[i];
    const std::int64_t bx = (static_cast<std::int64_t>(p.x) - m_low[0]) / size;
    const std::int64_t by = (static_cast<std::int64_t>(p.y) - m_low[1]) / size;
    const std::int64_t bz = (static_cast<std::int64_t>(p.z) - m_low[2]) / size;
    bucketOf[i] = static_cast<int>(bx + m_buckets[0] * (by + m_buckets[1] * bz));
    ++m_first[static_cast<std::size_t>(bucketOf[i]) + 1];
  }
  for (std::size_t b = 1; b < m_first.size(); ++b) m_first[b] += m_first[b - 1];
  std::vector<int> next(m_first.begin(), m_first.end() - 1);
  m_x.resize(m_points.size());
  m_y.resize(m_points.size());
  m_z.resize(m_points.size());
  for (std::size_t i = 0; i < m_points.size(); ++i) {
    const std::size_t slot = static_cast<std::size_t>(next[static_cast<std::size_t>(bucketOf[i])]++);
    m_x[slot] = static_cast<double>(m_points[i].x);
    m_y[slot] = static_cast<double>(m_points[i].y);
    m_z[slot] = static_cast<double>(m_points[i].z);
  }
}

RegistrationTarget::~RegistrationTarget() = default;

int RegistrationTarget::BucketOf(double v, int a) const {
  const double b = std::floor((v - m_low[a]) / m_bucketSize);
  if (!(b > 0.0)) return 0;  // below the grid (or not a number)
  return b >= m_buckets[a] - 1 ? m_buckets[a] - 1 : static_cast<int>(b);
}

long RegistrationTarget::LocatorQueries() const {
  std::lock_guard<std::mutex> lock(m_locator->mutex);
  return m_locator->queries;
}

void RegistrationTarget::AskLocator(const double x[3], double closest[3]) const {
  Locator& l = *m_locator;
  std::lock_guard<std::mutex> lock(l.mutex);
  if (!l.locator) {
    // As vtkIterativeClosestPointTransform::InternalUpdate builds it.
    l.points = vtkSmartPointer<vtkPolyData>::New();
    FillPointSet(m_points, *l.points);
    l.locator = vtkSmartPointer<vtkCellLocator>::New();
    l.locator->SetDataSet(l.points);
    l.locator->SetNumberOfCellsPerBucket(1);
    l.locator->BuildLocator();
  }
  ++l.queries;
  vtkIdType cell = 0;
  int subId = 0;
  double dist2 = 0.0;
  l.locator->FindClosestPoint(x, closest, cell, subId, dist2);
}

void RegistrationTarget::FindClosestPoint(const double x[3], double closest[3]) const {
  if (m_points.empty()) return;
  const int c[3] = {BucketOf(x[0], 0), BucketOf(x[1], 1), BucketOf(x[2], 2)};
  const double s = m_bucketSize;
  double best = std::numeric_limits<double>::infinity();
  int ties = 0;
  std::size_t found = 0;
  const int maxRadius =
      std::max({c[0], m_buckets[0] - 1 - c[0], c[1], m_buckets[1] - 1 - c[1], c[2], m_buckets[2] - 1 - c[2]});
  for (int r = 0; r <= maxRadius; ++r) {
    // The buckets at Chebyshev distance r from c, inside the grid.
    const int lo[3] = {std::max(0, c[0] - r), std::max(0, c[1] - r), std::max(0, c[2] - r)};
    const int hi[3] = {std::min(m_buckets[0] - 1, c[0] + r), std::min(m_buckets[1] - 1, c[1] + r),
                       std::min(m_buckets[2] - 1, c[2] + r)};
    for (int bz = lo[2]; bz <= hi[2]; ++bz) {
      const double dz = Outside(x[2], m_low[2] + bz * s, m_low[2] + bz * s + (s - 1));
      for (int by = lo[1]; by <= hi[1]; ++by) {
        const double dy = Outside(x[1], m_low[1] + by * s, m_low[1] + by * s + (s - 1));
        // Inside the shell's faces only its two x ends belong to it.
        const bool inner = std::abs(bz - c[2]) < r && std::abs(by - c[1]) < r;
        const int stepX = inner ? 2 * r : 1;
        for (int bx = inner ? c[0] - r : lo[0]; bx <= hi[0]; bx += stepX) {
          if (bx < lo[0]) continue;
          const double dx = Outside(x[0], m_low[0] + bx * s, m_low[0] + bx * s + (s - 1));
          if (ClearlyFarther(dx * dx + dy * dy + dz * dz, best)) continue;
          const std::size_t b = static_cast<std::size_t>(bx + m_buckets[0] * (by + m_buckets[1] * bz));
          for (std::size_t i = static_cast<std::size_t>(m_first[b]);
               i < static_cast<std::size_t>(m_first[b + 1]); ++i) {
            const double d = Distance2(m_x[i], m_y[i], m_z[i], x);
            if (d < best) {
              best = d;
              ties = 1;
              found = i;
            } else if (d == best) {
              ++ties;
            }
          }
        }
      }
    }
    // Every unscanned point lies beyond the scanned box on some axis.
    double reach = std::numeric_limits<double>::infinity();
    for (int a = 0; a < 3; ++a) {
      if (lo[a] > 0) reach = std::min(reach, std::max(0.0, x[a] - (m_low[a] + lo[a] * s - 1)));
      if (hi[a] < m_buckets[a] - 1)
        reach = std::min(reach, std::max(0.0, (m_low[a] + (hi[a] + 1) * s) - x[a]));
    }
    if (ties > 0 && ClearlyFarther(reach * reach, best)) break;
  }
  if (ties == 1) {
    closest[0] = m_x[found];
    closest[1] = m_y[found];
    closest[2] = m_z[found];
    return;
  }
  AskLocator(x, closest);
}

RegistrationSource::RegistrationSource(const CBoundaryPoints& source) {
  const std::vector<C3DPoint>& points = source.Points();
  m_count = static_cast<std::int64_t>(points.size());
  if (m_count == 0) return;
  for (const C3DPoint& p : points) {
    m_centroid[0] += static_cast<double>(p.x);
    m_centroid[1] += static_cast<double>(p.y);
    m_centroid[2] += static_cast<double>(p.z);
  }
  const vtkIdType count = m_count;
  for (double& c : m_centroid) c /= count;
  // Every step-th point is a landmark.
  int step = 1;
  if (count > kMaximumLandmarks) step = static_cast<int>(count / kMaximumLandmarks);
  const vtkIdType landmarks = count / step;
  m_landmarks.reserve(static_cast<std::size_t>(landmarks));
  for (vtkIdType i = 0, j = 0; i < landmarks; ++i, j += step)
    m_landmarks.push_back(points[static_cast<std::size_t>(j)]);
}

}  // namespace correction

bool RegisterSurfaces(const correction::RegistrationSource& source,
                      const correction::RegistrationTarget& target, vtkMatrix4x4& matrix, int iterations,
                      correction::LandmarkMode mode) {
  matrix.Identity();
  if (source.Empty() || target.Empty()) return false;

  vtkNew<vtkLandmarkTransform> landmarkTransform;
  correction::SetLandmarkMode(*landmarkTransform, mode);

  const vtkIdType landmarks = static_cast<vtkIdType>(source.Landmarks().size());
  vtkNew<vtkPoints> points1;
  points1->SetNumberOfPoints(landmarks);
  vtkNew<vtkPoints> closestPoints;
  closestPoints->SetNumberOfPoints(landmarks);
  vtkNew<vtkPoints> points2;
  points2->SetNumberOfPoints(landmarks);

  // Start by moving the source's centroid onto the target's.
  vtkNew<vtkTransform> accumulate;
  accumulate->PostMultiply();
  const double* sourceCentroid = source.Centroid();
  const double* targetCentroid = target.Centroid();
  accumulate->Translate(targetCentroid[0] - sourceCentroid[0], targetCentroid[1] - sourceCentroid[1],
                        targetCentroid[2] - sourceCentroid[2]);
  accumulate->Update();
  for (vtkIdType i = 0; i < landmarks; ++i) {
    const C3DPoint& p = source.Landmarks()[static_cast<std::size_t>(i)];
    const double in[3] = {static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
    double out[3];
    accumulate->InternalTransformPoint(in, out);
    points1->SetPoint(i, out);
  }

  // Each iteration: the closest target point of every landmark, the landmark
  // transform between them, concatenated onto the accumulated one; then the
  // landmarks move and the two point sets trade places.
  vtkPoints* a = points1;
  vtkPoints* b = points2;
  double closest[3] = {0.0, 0.0, 0.0};
  for (int done = 0;;) {
    for (vtkIdType i = 0; i < landmarks; ++i) {
      target.FindClosestPoint(a->GetPoint(i), closest);
      closestPoints->SetPoint(i, closest);
    }
    landmarkTransform->SetSourceLandmarks(a);
    landmarkTransform->SetTargetLandmarks(closestPoints);
    landmarkTransform->Update();
    accumulate->Concatenate(landmarkTransform->GetMatrix());
    if (++done >= iterations) break;
    for (vtkIdType i = 0; i < landmarks; ++i) {
      double p1[3], p2[3];
      a->GetPoint(i, p1);
      landmarkTransform->InternalTransformPoint(p1, p2);
      b->SetPoint(i, p2);
    }
    std::swap(a, b);
  }
  matrix.DeepCopy(accumulate->GetMatrix());
  return true;
}

bool RegisterSurfaces(const CBoundaryPoints& source, const correction::RegistrationTarget& target,
                      vtkMatrix4x4& matrix, int iterations, correction::LandmarkMode mode) {
  return RegisterSurfaces(correction::RegistrationSource(source), target, matrix, iterations, mode);
}

bool RegisterSurfaces(const CBoundaryPoints& source, const CBoundaryPoints& target, vtkMatrix4x4& matrix,
                      int iterations, correction::LandmarkMode mode) {
  const correction::RegistrationTarget search(target);
  return RegisterSurfaces(source, search, matrix, iterations, mode);
}

namespace correction {

bool RegisterSurfacesWithVtk(const CBoundaryPoints& source, const CBoundaryPoints& target,
                             vtkMatrix4x4& matrix, int iterations, LandmarkMode mode) {
  matrix.Identity();
  if (source.Empty() || target.Empty()) return false;

  vtkNew<vtkPolyData> targetSet;
  FillPointSet(target.Points(), *targetSet);
  vtkNew<vtkPolyData> sourceSet;
  FillPointSet(source.Points(), *sourceSet);

  vtkNew<vtkIterativeClosestPointTransform> icp;
  icp->SetSource(sourceSet);
  icp->SetTarget(targetSet);
  SetLandmarkMode(*icp->GetLandmarkTransform(), mode);
  icp->SetMaximumNumberOfIterations(iterations);
  icp->StartByMatchingCentroidsOn();
  icp->SetMeanDistanceModeToAbsoluteValue();
  icp->Update();
  matrix.DeepCopy(icp->GetMatrix());
  return true;
}

bool IsUsableMatrix(const vtkMatrix4x4& matrix) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(matrix.GetElement(r, c))) return false;
  const double det = vtkMatrix4x4::Determinant(&matrix.Element[0][0]);
  return std::isfinite(det) && det != 0.0;
}

namespace {

// p = M * (x, y, z, 1) with the products and sums in the order of
// vtkMatrix4x4::MultiplyPoint: ((m0 x + m1 y) + m2 z) + m3.
inline __attribute__((always_inline)) double Row(const double* m, double x, double y, double z) {
  return m[0] * x + m[1] * y + m[2] * z + m[3];
}

// The rounded pre-image floor(p / p3 + 0.5) of the voxels x0 ... x0 + n - 1 of
// one row, one coordinate per array. The same operations for every voxel, so
// the loop runs in vector lanes, and each lane rounds exactly as scalar code
// would (ignoring floating-point traps lets floor run in vectors; it changes
// no value).
#if defined(__clang__)
#define CORVANE_VECTOR_LOOP  // clang knows no per-function optimize attribute
#else
#define CORVANE_VECTOR_LOOP optimize("no-trapping-math", "vect-cost-model=dynamic")
#endif
// The first voxel of a row: its x and the row's y and z.
struct RowStart {
  int x0;
  double y;
  double z;
};
inline __attribute__((always_inline, CORVANE_VECTOR_LOOP)) void PreImagesOf(const double* __restrict m,
                                                                            RowStart row, int n,
                                                                            double* __restrict i,
                                                                            double* __restrict j,
                                                                            double* __restrict k) {
  const int x0 = row.x0;
  const double y = row.y;
  const double z = row.z;
  for (int b = 0; b < n; ++b) {
    const double x = static_cast<double>(x0 + b);
    const double p3 = Row(m + 12, x, y, z);
    i[b] = std::floor(Row(m, x, y, z) / p3 + 0.5);
    j[b] = std::floor(Row(m + 4, x, y, z) / p3 + 0.5);
    k[b] = std::floor(Row(m + 8, x, y, z) / p3 + 0.5);
  }
}
__attribute__((CORVANE_VECTOR_LOOP)) void PreImagesBaseline(const double* m, RowStart row, int n, double* i,
                                                            double* j, double* k) {
  PreImagesOf(m, row, n, i, j, k);
}
__attribute__((target("avx2"), CORVANE_VECTOR_LOOP)) void PreImagesAvx2(const double* m, RowStart row, int n,
                                                                        double* i, double* j, double* k) {
  PreImagesOf(m, row, n, i, j, k);
}
__attribute__((target("avx512f"), CORVANE_VECTOR_LOOP)) void PreImagesAvx512(const double* m, RowStart row,
                                                                             int n, double* i, double* j,
                                                                             double* k) {
  PreImagesOf(m, row, n, i, j, k);
}
#undef CORVANE_VECTOR_LOOP

// One pre-image coordinate (axis a) of one voxel, exactly as PreImagesOf
// computes it in its lanes.
double PreImageOf(const double* m, int a, double x, double y, double z) {
  return std::floor(Row(m + 4 * a, x, y, z) / Row(m + 12, x, y, z) + 0.5);
}

// Whether every pre-image coordinate is monotone along x: true for an affine
// inverse (last row exactly 0 0 0 1, so the divisor is exactly 1) whose
// entries are small enough that no product or sum overflows. Rounding is
// monotone, so each coordinate then only grows or only shrinks along a row.
bool IsMonotoneAlongRows(const double* m) {
  if (m[12] != 0.0 || m[13] != 0.0 || m[14] != 0.0 || m[15] != 1.0) return false;
  for (int e = 0; e < 12; ++e)
    if (!(std::fabs(m[e]) < 1e290)) return false;
  return true;
}

using PreImagesFunction = void (*)(const double*, RowStart, int, double*, double*, double*);

void PreImages(const double* m, RowStart row, int n, double* i, double* j, double* k) {
  static const PreImagesFunction chosen =
      geometry::ForInstructionSet<PreImagesFunction>(&PreImagesBaseline, &PreImagesAvx2, &PreImagesAvx512);
  chosen(m, row, n, i, j, k);
}

}  // namespace

namespace {

// Resamples the box row by row, in scan order: for every row, `sink.Empty()`
// when it holds only 0, else `sink.Row()` gives room for its values and
// `sink.Done(row)` takes them. The matrix must be usable and `moving` hold data.
template <typename Sink>
void ResampleRows(const CVoxel& moving, const vtkMatrix4x4& matrix, const C3DPoint& boxMinimum,
                  const C3DPoint& boxSize, const C3DPoint& movingCorner, Sink& sink) {
  vtkNew<vtkMatrix4x4> inverse;
  vtkMatrix4x4::Invert(&matrix, inverse);
  const double* m = &inverse->Element[0][0];

  // Nearest pre-image by floor(p / p3 + 0.5). The bounds test runs in double so
  // a coordinate beyond the int range (or NaN from p3 = 0) is simply outside.
  const double first[3] = {static_cast<double>(movingCorner.x), static_cast<double>(movingCorner.y),
                           static_cast<double>(movingCorner.z)};
  const double limit[3] = {first[0] + moving.X, first[1] + moving.Y, first[2] + moving.Z};
  const std::size_t n = static_cast<std::size_t>(boxSize.x);
  const bool monotone = IsMonotoneAlongRows(m);
  const double lastX = static_cast<double>(boxMinimum.x + boxSize.x - 1);
  std::vector<double> is(n), js(n), ks(n);
  for (int bz = 0; bz < boxSize.z; ++bz)
    for (int by = 0; by < boxSize.y; ++by) {
      const double y = static_cast<double>(boxMinimum.y + by);
      const double z = static_cast<double>(boxMinimum.z + bz);
      // Along a row of an affine map each pre-image coordinate only grows or
      // only shrinks, so the row's two ends bound it: a row whose bounds miss
      // the label on some axis holds nothing but 0.
      if (monotone && n > 0) {
        bool missed = false;
        for (int a = 0; a < 3 && !missed; ++a) {
          const double p = PreImageOf(m, a, static_cast<double>(boxMinimum.x), y, z);
          const double q = PreImageOf(m, a, lastX, y, z);
          missed = std::max(p, q) < first[a] || std::min(p, q) >= limit[a];
        }
        if (missed) {
          sink.Empty();
          continue;
        }
      }
      PreImages(m, {boxMinimum.x, y, z}, boxSize.x, is.data(), js.data(), ks.data());
      CVoxel::value_type* out = sink.Row();
      for (std::size_t bx = 0; bx < n; ++bx) {
        const double i = is[bx];
        const double j = js[bx];
        const double k = ks[bx];
        const bool inside =
            i >= first[0] && i < limit[0] && j >= first[1] && j < limit[1] && k >= first[2] && k < limit[2];
        out[bx] = inside ? moving.At(static_cast<int>(i - first[0]), static_cast<int>(j - first[1]),
                                     static_cast<int>(k - first[2]))
                         : CVoxel::value_type{0};
      }
      sink.Done(out);
    }
}

}  // namespace

}  // namespace correction

std::unique_ptr<CVoxel> ResampleBoxByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix,
                                            const correction::GridBox& box, const C3DPoint& movingCorner) {
  const C3DPoint& boxMinimum = box.minimum;
  const C3DPoint& boxSize = box.size;
  if (!geometry::BoxInsideVolume(box.grid, boxMinimum, boxSize)) return nullptr;
  if (!moving.HasData() || !correction::IsUsableMatrix(matrix)) return std::make_unique<CVoxel>(boxSize);
  // Every voxel of the box is written below, so the block is not zero-filled first.
  auto output = std::make_unique<CVoxel>();
  output->X = boxSize.x;
  output->Y = boxSize.y;
  output->Z = boxSize.z;
  if (!output->AllocateForReader()) return output;
  struct IntoVolume {
    CVoxel::value_type* next;
    std::size_t n;
    void Empty() {
      std::fill(next, next + n, CVoxel::value_type{0});
      next += n;
    }
    CVoxel::value_type* Row() { return next; }
    void Done(CVoxel::value_type*) { next += n; }
  } sink{output->Data(), static_cast<std::size_t>(boxSize.x)};
  correction::ResampleRows(moving, matrix, boxMinimum, boxSize, movingCorner, sink);
  return output;
}

namespace correction {

bool ResampleBoxToRuns(const CVoxel& moving, const vtkMatrix4x4& matrix, const GridBox& box,
                       geometry::LabelRuns& runs, const C3DPoint& movingCorner) {
  const C3DPoint& boxMinimum = box.minimum;
  const C3DPoint& boxSize = box.size;
  if (!geometry::BoxInsideVolume(box.grid, boxMinimum, boxSize)) return false;
  runs = geometry::LabelRuns(boxSize);
  if (!moving.HasData() || !IsUsableMatrix(matrix)) {
    for (std::int64_t row = 0; row < static_cast<std::int64_t>(boxSize.y) * boxSize.z; ++row) runs.StartRow();
    runs.Finish();
    return true;
  }
  struct IntoRuns {
    geometry::LabelRuns& runs;
    std::vector<CVoxel::value_type> row;
    void Empty() { runs.StartRow(); }
    CVoxel::value_type* Row() { return row.data(); }
    void Done(CVoxel::value_type* values) {
      runs.StartRow();
      runs.AddRow(values, static_cast<int>(row.size()));
    }
  } sink{runs, std::vector<CVoxel::value_type>(static_cast<std::size_t>(boxSize.x))};
  ResampleRows(moving, matrix, boxMinimum, boxSize, movingCorner, sink);
  runs.Finish();
  return true;
}

}  // namespace correction
