// Surface registration, resampling, the per-reference chain and discovery.
#include <vtkCellArray.h>
#include <vtkIterativeClosestPointTransform.h>
#include <vtkLandmarkTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "tests/oracle/Oracle.h"
#include "tests/oracle/OracleTimer.h"

namespace oracle {

Matrix4 IdentityMatrix() {
  Matrix4 m{};
  m[0] = m[5] = m[10] = m[15] = 1.0;
  return m;
}

namespace {

vtkSmartPointer<vtkPolyData> MakePointSet(const std::vector<C3DPoint>& list) {
  auto points = vtkSmartPointer<vtkPoints>::New();
  auto vertices = vtkSmartPointer<vtkCellArray>::New();
  for (const C3DPoint& p : list) {
    const vtkIdType id =
        points->InsertNextPoint(static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z));
    vertices->InsertNextCell(1, &id);
  }
  auto set = vtkSmartPointer<vtkPolyData>::New();
  set->SetPoints(points);
  set->SetVerts(vertices);
  return set;
}

}  // namespace

Matrix4 RegisterSurfaces(const std::vector<C3DPoint>& source, const std::vector<C3DPoint>& target,
                         int iterations, int mode) {
  if (source.empty() || target.empty()) return oracle::IdentityMatrix();
  vtkSmartPointer<vtkPolyData> targetSet = MakePointSet(target);
  vtkSmartPointer<vtkPolyData> sourceSet = MakePointSet(source);
  auto icp = vtkSmartPointer<vtkIterativeClosestPointTransform>::New();
  icp->SetSource(sourceSet);
  icp->SetTarget(targetSet);
  if (mode == 0) icp->GetLandmarkTransform()->SetModeToRigidBody();
  if (mode == 1) icp->GetLandmarkTransform()->SetModeToSimilarity();
  if (mode == 2) icp->GetLandmarkTransform()->SetModeToAffine();
  icp->SetMaximumNumberOfIterations(iterations);
  icp->StartByMatchingCentroidsOn();
  icp->SetMeanDistanceModeToAbsoluteValue();
  icp->Update();
  auto copy = vtkSmartPointer<vtkMatrix4x4>::New();
  copy->DeepCopy(icp->GetMatrix());
  Matrix4 m;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) m[4 * i + j] = copy->GetElement(i, j);
  }
  return m;
}

std::unique_ptr<CVoxel> ResampleByMatrix(const CVoxel& moving, const Matrix4& matrix, int X, int Y, int Z) {
  auto out = std::make_unique<CVoxel>(X, Y, Z);
  if (!out->HasData() || !moving.HasData()) return out;
  auto forward = vtkSmartPointer<vtkMatrix4x4>::New();
  forward->DeepCopy(matrix.data());
  auto inverse = vtkSmartPointer<vtkMatrix4x4>::New();
  vtkMatrix4x4::Invert(forward, inverse);
  for (int z = 0; z < Z; ++z) {
    for (int y = 0; y < Y; ++y) {
      for (int x = 0; x < X; ++x) {
        const double in[4] = {static_cast<double>(x), static_cast<double>(y), static_cast<double>(z), 1.0};
        double p[4];
        inverse->MultiplyPoint(in, p);
        // Range tests in double first: the integer conversion is only done on
        // values that fit.
        const double i = std::floor(p[0] / p[3] + 0.5);
        const double j = std::floor(p[1] / p[3] + 0.5);
        const double k = std::floor(p[2] / p[3] + 0.5);
        if (i >= 0.0 && i < moving.X && j >= 0.0 && j < moving.Y && k >= 0.0 && k < moving.Z) {
          out->At(x, y, z) = moving.At(static_cast<int>(i), static_cast<int>(j), static_cast<int>(k));
        }
      }
    }
  }
  return out;
}

bool UsableMatrix(const Matrix4& matrix) {
  for (const double e : matrix) {
    if (!std::isfinite(e)) return false;
  }
  const double determinant = vtkMatrix4x4::Determinant(matrix.data());
  if (!std::isfinite(determinant) || determinant == 0.0) return false;
  double inverse[16];
  vtkMatrix4x4::Invert(matrix.data(), inverse);
  for (const double e : inverse) {
    if (!std::isfinite(e)) return false;
  }
  return true;
}

bool UsableReference(const CVoxel* reference) {
  if (reference == nullptr || !reference->HasData()) return false;
  for (std::size_t i = 0; i < reference->VoxelCount(); ++i) {
    if ((*reference)[i] > 0) return true;
  }
  return false;
}

std::unique_ptr<CVoxel> RegisterReference(const CVoxel& segmentation, const CVoxel& reference,
                                          const C3DPoint& boxMinimum, const C3DPoint& boxSize,
                                          StageTimes* times) {
  Timer timer;
  const std::vector<C3DPoint> referencePoints = oracle::BoundaryPoints(reference);
  const std::vector<C3DPoint> segmentationPoints = oracle::BoundaryPoints(segmentation);
  timer.AddTo(times ? &times->boundaryLists : nullptr);
  const Matrix4 m = oracle::RegisterSurfaces(referencePoints, segmentationPoints, 100, 2);
  timer.AddTo(times ? &times->registration : nullptr);
  // Points that span no volume (a flat label) make the affine fit degenerate:
  // such a matrix cannot place the reference anywhere.
  if (!oracle::UsableMatrix(m)) return nullptr;
  std::unique_ptr<CVoxel> resampled =
      oracle::ResampleByMatrix(reference, m, segmentation.X, segmentation.Y, segmentation.Z);
  std::unique_ptr<CVoxel> cropped = oracle::Crop(*resampled, boxMinimum, boxSize);
  timer.AddTo(times ? &times->resamplingAndCropping : nullptr);
  return cropped;
}

void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const ReferenceLoader& loader, const C3DPoint& boxMinimum,
                             const C3DPoint& boxSize, CVoxelList& registered, volume::MessageSink& messages,
                             StageTimes* times) {
  if (paths.empty()) {
    messages.ShowMessage("There are no reference labels !!");
    return;
  }
  for (const std::string& path : paths) {
    Timer timer;
    std::unique_ptr<CVoxel> reference = loader(path);
    timer.AddTo(times ? &times->referenceLoading : nullptr);
    if (!oracle::UsableReference(reference.get())) continue;
    std::unique_ptr<CVoxel> cropped =
        oracle::RegisterReference(segmentation, *reference, boxMinimum, boxSize, times);
    // A failed crop is only possible for an invalid box, which the driver
    // never passes; such a reference could not vote and is left out.
    if (cropped) registered.push_back(std::move(cropped));
  }
}

bool FindReferenceLabels(const std::string& directory, std::vector<std::string>& paths,
                         const std::string& filterA, const std::string& filterB) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator it(fs::path(directory), error);
  if (error) return false;
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
    return a.path().filename().string() < b.path().filename().string();
  });
  std::vector<fs::path> folders;
  for (const fs::directory_entry& entry : entries) {
    std::error_code e;
    if (entry.is_directory(e)) {
      if (!entry.is_symlink(e)) folders.push_back(entry.path());
      continue;
    }
    const std::string name = entry.path().filename().string();
    if (name.find(filterA) != std::string::npos && name.find(filterB) != std::string::npos) {
      paths.push_back(entry.path().string());
    }
  }
  for (const fs::path& folder : folders)
    oracle::FindReferenceLabels(folder.string(), paths, filterA, filterB);
  return true;
}

}  // namespace oracle
