#include "correction/Registration.h"

#include <vtkCellArray.h>
#include <vtkIterativeClosestPointTransform.h>
#include <vtkLandmarkTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "fusion/InstructionSet.h"

namespace {

// The points in list order, each as its own vertex cell.
void FillPointSet(const CBoundaryPoints& list, vtkPolyData& polyData) {
  // Stored as doubles: voxel positions are whole numbers, exact in either
  // type, and the closest-point searches read doubles without conversion.
  vtkNew<vtkPoints> points;
  points->SetDataTypeToDouble();
  vtkNew<vtkCellArray> vertices;
  for (const C3DPoint& p : list.Points()) {
    vtkIdType id =
        points->InsertNextPoint(static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z));
    vertices->InsertNextCell(1, &id);
  }
  polyData.SetPoints(points);
  polyData.SetVerts(vertices);
}

}  // namespace

bool RegisterSurfaces(const CBoundaryPoints& source, const CBoundaryPoints& target, vtkMatrix4x4& matrix,
                      int iterations, int mode) {
  matrix.Identity();
  if (source.Empty() || target.Empty()) return false;

  vtkNew<vtkPolyData> targetSet;
  FillPointSet(target, *targetSet);
  vtkNew<vtkPolyData> sourceSet;
  FillPointSet(source, *sourceSet);

  vtkNew<vtkIterativeClosestPointTransform> icp;
  icp->SetSource(sourceSet);
  icp->SetTarget(targetSet);
  switch (mode) {
    case static_cast<int>(LandmarkMode::RigidBody):
      icp->GetLandmarkTransform()->SetModeToRigidBody();
      break;
    case static_cast<int>(LandmarkMode::Similarity):
      icp->GetLandmarkTransform()->SetModeToSimilarity();
      break;
    case static_cast<int>(LandmarkMode::Affine):
      icp->GetLandmarkTransform()->SetModeToAffine();
      break;
    default:
      break;  // the landmark transform keeps its own mode
  }
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
#define CORVANE_VECTOR_LOOP optimize("no-trapping-math", "vect-cost-model=dynamic")
inline __attribute__((always_inline, CORVANE_VECTOR_LOOP)) void PreImagesOf(const double* __restrict m,
                                                                            int x0, int n, double y, double z,
                                                                            double* __restrict i,
                                                                            double* __restrict j,
                                                                            double* __restrict k) {
  for (int b = 0; b < n; ++b) {
    const double x = static_cast<double>(x0 + b);
    const double p3 = Row(m + 12, x, y, z);
    i[b] = std::floor(Row(m, x, y, z) / p3 + 0.5);
    j[b] = std::floor(Row(m + 4, x, y, z) / p3 + 0.5);
    k[b] = std::floor(Row(m + 8, x, y, z) / p3 + 0.5);
  }
}
__attribute__((CORVANE_VECTOR_LOOP)) void PreImagesBaseline(const double* m, int x0, int n, double y,
                                                            double z, double* i, double* j, double* k) {
  PreImagesOf(m, x0, n, y, z, i, j, k);
}
__attribute__((target("avx2"), CORVANE_VECTOR_LOOP)) void PreImagesAvx2(const double* m, int x0, int n,
                                                                        double y, double z, double* i,
                                                                        double* j, double* k) {
  PreImagesOf(m, x0, n, y, z, i, j, k);
}
__attribute__((target("avx512f"), CORVANE_VECTOR_LOOP)) void PreImagesAvx512(const double* m, int x0, int n,
                                                                             double y, double z, double* i,
                                                                             double* j, double* k) {
  PreImagesOf(m, x0, n, y, z, i, j, k);
}
#undef CORVANE_VECTOR_LOOP

using PreImagesFunction = void (*)(const double*, int, int, double, double, double*, double*, double*);

void PreImages(const double* m, int x0, int n, double y, double z, double* i, double* j, double* k) {
  static const PreImagesFunction chosen =
      fusion::ForInstructionSet<PreImagesFunction>(&PreImagesBaseline, &PreImagesAvx2, &PreImagesAvx512);
  chosen(m, x0, n, y, z, i, j, k);
}

}  // namespace

std::unique_ptr<CVoxel> ResampleBoxByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix,
                                            const C3DPoint& gridSize, const C3DPoint& boxMinimum,
                                            const C3DPoint& boxSize) {
  const int c[3] = {boxMinimum.x, boxMinimum.y, boxMinimum.z};
  const int s[3] = {boxSize.x, boxSize.y, boxSize.z};
  const int dims[3] = {gridSize.x, gridSize.y, gridSize.z};
  for (int a = 0; a < 3; ++a) {
    const std::int64_t end = static_cast<std::int64_t>(c[a]) + s[a];
    if (c[a] < 0 || c[a] >= dims[a] || s[a] < 0 || end > dims[a]) return nullptr;
  }
  auto output = std::make_unique<CVoxel>(boxSize);
  if (!output->HasData() || !moving.HasData() || !IsUsableMatrix(matrix)) return output;

  vtkNew<vtkMatrix4x4> inverse;
  vtkMatrix4x4::Invert(&matrix, inverse);
  const double* m = &inverse->Element[0][0];

  // Nearest pre-image by floor(p / p3 + 0.5). The bounds test runs in double so
  // a coordinate beyond the int range (or NaN from p3 = 0) is simply outside.
  const double limit[3] = {static_cast<double>(moving.X), static_cast<double>(moving.Y),
                           static_cast<double>(moving.Z)};
  const std::size_t n = static_cast<std::size_t>(boxSize.x);
  std::vector<double> is(n), js(n), ks(n);
  for (int bz = 0; bz < boxSize.z; ++bz)
    for (int by = 0; by < boxSize.y; ++by) {
      PreImages(m, boxMinimum.x, boxSize.x, static_cast<double>(boxMinimum.y + by),
                static_cast<double>(boxMinimum.z + bz), is.data(), js.data(), ks.data());
      CVoxel::value_type* out = output->Data() + output->Index(0, by, bz);
      for (std::size_t bx = 0; bx < n; ++bx) {
        const double i = is[bx];
        const double j = js[bx];
        const double k = ks[bx];
        if (!(i >= 0.0 && i < limit[0] && j >= 0.0 && j < limit[1] && k >= 0.0 && k < limit[2])) continue;
        out[bx] = moving.At(static_cast<int>(i), static_cast<int>(j), static_cast<int>(k));
      }
    }
  return output;
}

std::unique_ptr<CVoxel> ResampleByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix, int X, int Y,
                                         int Z) {
  auto whole = ResampleBoxByMatrix(moving, matrix, {X, Y, Z}, {0, 0, 0}, {X, Y, Z});
  // An empty or impossible grid still gives a volume of the requested size.
  return whole ? std::move(whole) : std::make_unique<CVoxel>(X, Y, Z);
}
