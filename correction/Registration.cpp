#include "correction/Registration.h"

#include <vtkCellArray.h>
#include <vtkIterativeClosestPointTransform.h>
#include <vtkLandmarkTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>

namespace {

// The points in list order, each as its own vertex cell.
void FillPointSet(const CBoundaryPoints& list, vtkPolyData& polyData) {
  vtkNew<vtkPoints> points;
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

std::unique_ptr<CVoxel> ResampleByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix, int X, int Y,
                                         int Z) {
  auto output = std::make_unique<CVoxel>(X, Y, Z);
  if (!output->HasData() || !moving.HasData() || !IsUsableMatrix(matrix)) return output;

  vtkNew<vtkMatrix4x4> inverse;
  vtkMatrix4x4::Invert(&matrix, inverse);
  const double* elements = &inverse->Element[0][0];

  // Nearest pre-image by floor(p / p3 + 0.5). The bounds test runs in double so
  // a coordinate beyond the int range (or NaN from p3 = 0) is simply outside.
  const double limit[3] = {static_cast<double>(moving.X), static_cast<double>(moving.Y),
                           static_cast<double>(moving.Z)};
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) {
        const double in[4] = {static_cast<double>(x), static_cast<double>(y), static_cast<double>(z), 1.0};
        double p[4];
        vtkMatrix4x4::MultiplyPoint(elements, in, p);
        const double i = std::floor(p[0] / p[3] + 0.5);
        const double j = std::floor(p[1] / p[3] + 0.5);
        const double k = std::floor(p[2] / p[3] + 0.5);
        if (!(i >= 0.0 && i < limit[0] && j >= 0.0 && j < limit[1] && k >= 0.0 && k < limit[2])) continue;
        output->At(x, y, z) = moving.At(static_cast<int>(i), static_cast<int>(j), static_cast<int>(k));
      }
  return output;
}
