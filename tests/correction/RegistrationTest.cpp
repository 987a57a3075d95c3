#include <gtest/gtest.h>
#include <vtkCellArray.h>
#include <vtkCellLocator.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "TestLabels.h"
#include "correction/Registration.h"

namespace {

// The whole X x Y x Z grid resampled: the box that covers all of it.
std::unique_ptr<CVoxel> ResampleByMatrix(const CVoxel& moving, const vtkMatrix4x4& matrix, int X, int Y,
                                         int Z) {
  return ResampleBoxByMatrix(moving, matrix, {{X, Y, Z}, {0, 0, 0}, {X, Y, Z}});
}

void ExpectMatrixNear(vtkMatrix4x4& m, const double expected[4][4], double tolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.GetElement(r, c), expected[r][c], tolerance) << r << "," << c;
}

TEST(RegisterSurfaces, AListOntoItselfGivesTheIdentityAndAnUnchangedResample) {
  const CVoxel label = Ellipsoid({24, 20, 12}, 11.3, 9.6, 5.4, 7.5, 5.5, 3.5);
  const CBoundaryPoints boundary(label);
  vtkNew<vtkMatrix4x4> m;
  ASSERT_TRUE(RegisterSurfaces(boundary, boundary, *m, 100, correction::LandmarkMode::Affine));
  const double identity[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  ExpectMatrixNear(*m, identity, 1e-9);

  auto copy = ResampleByMatrix(label, *m, label.X, label.Y, label.Z);
  ASSERT_TRUE(copy && copy->HasData());
  for (std::size_t i = 0; i < label.VoxelCount(); ++i) ASSERT_EQ((*copy)[i], label[i]) << i;
  EXPECT_FLOAT_EQ(copy->origin[0], -1.0f);
}

TEST(RegisterSurfaces, RecoversATranslationAndResamplesBack) {
  const CVoxel segmentation = Ellipsoid({30, 22, 14}, 12.2, 10.7, 6.3, 8.0, 6.0, 4.0);
  const CVoxel reference = Ellipsoid({30, 22, 14}, 15.2, 10.7, 6.3, 8.0, 6.0, 4.0);  // shifted by (3, 0, 0)
  vtkNew<vtkMatrix4x4> m;
  ASSERT_TRUE(RegisterSurfaces(CBoundaryPoints(reference), CBoundaryPoints(segmentation), *m, 100,
                               correction::LandmarkMode::Affine));
  const double shift[4][4] = {{1, 0, 0, -3}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  ExpectMatrixNear(*m, shift, 1e-6);

  auto back = ResampleByMatrix(reference, *m, segmentation.X, segmentation.Y, segmentation.Z);
  for (std::size_t i = 0; i < segmentation.VoxelCount(); ++i) ASSERT_EQ((*back)[i], segmentation[i]) << i;
}

TEST(RegisterSurfaces, RigidModeAlsoRecoversTheTranslation) {
  const CVoxel segmentation = Ellipsoid({30, 22, 14}, 12.2, 10.7, 6.3, 8.0, 6.0, 4.0);
  const CVoxel reference = Ellipsoid({30, 22, 14}, 12.2, 8.7, 6.3, 8.0, 6.0, 4.0);
  vtkNew<vtkMatrix4x4> m;
  RegisterSurfaces(CBoundaryPoints(reference), CBoundaryPoints(segmentation), *m, 100,
                   correction::LandmarkMode::RigidBody);
  EXPECT_NEAR(m->GetElement(1, 3), 2.0, 1e-6);
}

TEST(RegisterSurfaces, AnEmptyListGivesTheIdentityAndFalse) {
  const CBoundaryPoints empty;
  const CBoundaryPoints some(Ellipsoid({8, 8, 8}, 4, 4, 4, 2, 2, 2));
  vtkNew<vtkMatrix4x4> m;
  m->SetElement(0, 3, 5.0);
  EXPECT_FALSE(RegisterSurfaces(empty, some, *m, 100, correction::LandmarkMode::Affine));
  EXPECT_TRUE(m->IsIdentity());
  EXPECT_FALSE(RegisterSurfaces(some, empty, *m, 100, correction::LandmarkMode::Affine));
}

// Every element the same double, bit for bit.
bool SameMatrix(vtkMatrix4x4& a, vtkMatrix4x4& b) {
  return std::memcmp(&a.Element[0][0], &b.Element[0][0], sizeof(double) * 16) == 0;
}

std::string Describe(vtkMatrix4x4& m) {
  std::string text;
  for (int i = 0; i < 16; ++i) text += std::to_string(m.GetElement(i / 4, i % 4)) + (i % 4 == 3 ? "\n" : " ");
  return text;
}

// The grid search and VTK's own transform register `source` onto `target`
// to the same matrix.
void ExpectSameAsVtk(const CVoxel& source, const CVoxel& target, int iterations,
                     correction::LandmarkMode mode) {
  SCOPED_TRACE("iterations " + std::to_string(iterations) + ", mode " +
               std::to_string(static_cast<int>(mode)));
  const CBoundaryPoints s(source), t(target);
  vtkNew<vtkMatrix4x4> ours, vtk;
  EXPECT_EQ(RegisterSurfaces(s, t, *ours, iterations, mode),
            correction::RegisterSurfacesWithVtk(s, t, *vtk, iterations, mode));
  EXPECT_TRUE(SameMatrix(*ours, *vtk)) << "ours:\n" << Describe(*ours) << "VTK:\n" << Describe(*vtk);
}

TEST(RegisterSurfaces, GivesVtksMatrixBitForBitOnManyShapes) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int n = 0; n < 40; ++n) {
    SCOPED_TRACE("case " + std::to_string(n));
    const C3DPoint size{40 + static_cast<int>(20 * unit(random)), 36,
                        10 + static_cast<int>(12 * unit(random))};
    const auto shape = [&](double scale) {
      return Ellipsoid(size, size.x * (0.35 + 0.3 * unit(random)), size.y * (0.35 + 0.3 * unit(random)),
                       size.z * (0.4 + 0.2 * unit(random)), scale * (4.0 + 10.0 * unit(random)),
                       scale * (4.0 + 8.0 * unit(random)), 2.0 + 3.0 * unit(random));
    };
    // Every fifth target is small, so that most landmarks lie outside its box.
    const CVoxel target = shape(n % 5 == 4 ? 0.3 : 1.0);
    const CVoxel source = shape(1.0);
    const correction::LandmarkMode mode =
        n % 7 == 5 ? correction::LandmarkMode::RigidBody
                   : (n % 7 == 6 ? correction::LandmarkMode::Similarity : correction::LandmarkMode::Affine);
    ExpectSameAsVtk(source, target, n % 9 == 8 ? 3 : 100, mode);
  }
}

TEST(RegisterSurfaces, GivesVtksMatrixForScatteredPointsAndOddSettings) {
  // Scattered voxels: few points per bucket, larger buckets, far queries.
  std::mt19937 random(11);
  CVoxel dots(200, 150, 40), blob(200, 150, 40);
  for (int i = 0; i < 300; ++i) {
    dots.At(static_cast<int>(random() % 200), static_cast<int>(random() % 150),
            static_cast<int>(random() % 40)) = 1;
    blob.At(60 + static_cast<int>(random() % 30), 50 + static_cast<int>(random() % 30),
            10 + static_cast<int>(random() % 8)) = 1;
  }
  ExpectSameAsVtk(dots, blob, 100, correction::LandmarkMode::Affine);
  ExpectSameAsVtk(blob, dots, 100, correction::LandmarkMode::Affine);
  // One iteration, none at all (VTK still runs one), a mode VTK keeps its default for.
  const CVoxel a = Ellipsoid({30, 30, 12}, 14.2, 15.1, 6.0, 9.0, 7.0, 4.0);
  const CVoxel b = Ellipsoid({30, 30, 12}, 15.9, 13.4, 5.5, 8.0, 8.0, 3.0);
  ExpectSameAsVtk(a, b, 1, correction::LandmarkMode::Affine);
  ExpectSameAsVtk(a, b, 0, correction::LandmarkMode::Affine);
  ExpectSameAsVtk(a, b, 100, static_cast<correction::LandmarkMode>(9));
  // A single source voxel.
  CVoxel one(30, 30, 12);
  one.At(3, 4, 5) = 1;
  ExpectSameAsVtk(one, b, 10, correction::LandmarkMode::Affine);
}

TEST(RegisterSurfaces, ASingleTargetVoxelIsTheClosestPointOfEveryLandmark) {
  // VTK's cell locator finds nothing in a target of one point (its bounds have
  // no extent), and its registration then reads a closest point it never
  // wrote. Here the one voxel answers every query: the landmarks' centre ends
  // on it, the same matrix every time.
  const CVoxel a = Ellipsoid({30, 30, 12}, 14.2, 15.1, 6.0, 9.0, 7.0, 4.0);
  CVoxel one(30, 30, 12);
  one.At(3, 4, 5) = 1;
  const CBoundaryPoints source(a), target(one);
  vtkNew<vtkMatrix4x4> m, again;
  ASSERT_TRUE(RegisterSurfaces(source, target, *m, 10, correction::LandmarkMode::Affine));
  ASSERT_TRUE(RegisterSurfaces(source, target, *again, 10, correction::LandmarkMode::Affine));
  EXPECT_TRUE(SameMatrix(*m, *again));
  ASSERT_TRUE(correction::IsUsableMatrix(*m));
  double centre[4] = {0.0, 0.0, 0.0, 1.0};
  for (const C3DPoint& p : source.Points()) {
    centre[0] += p.x;
    centre[1] += p.y;
    centre[2] += p.z;
  }
  for (int i = 0; i < 3; ++i) centre[i] /= source.Count();
  double moved[4];
  m->MultiplyPoint(centre, moved);
  EXPECT_NEAR(moved[0], 3.0, 1.0);
  EXPECT_NEAR(moved[1], 4.0, 1.0);
  EXPECT_NEAR(moved[2], 5.0, 1.0);
}

TEST(RegisterSurfaces, TiesGoToThePointVtksLocatorPicks) {
  // Two boxes whose centroids differ by exactly half a voxel in x: after the
  // centroids are matched, the landmarks on the long faces sit halfway
  // between two target voxels.
  const CVoxel target = Block({40, 30, 16}, {10, 8, 4}, {20, 18, 10});
  const CVoxel source = Block({40, 30, 16}, {10, 8, 4}, {21, 18, 10});
  const CBoundaryPoints s(source), t(target);
  const correction::RegistrationTarget search(t);
  vtkNew<vtkMatrix4x4> ours, vtk;
  for (const correction::LandmarkMode mode :
       {correction::LandmarkMode::RigidBody, correction::LandmarkMode::Similarity,
        correction::LandmarkMode::Affine}) {
    ASSERT_TRUE(RegisterSurfaces(s, search, *ours, 100, mode));
    ASSERT_TRUE(correction::RegisterSurfacesWithVtk(s, t, *vtk, 100, mode));
    EXPECT_TRUE(SameMatrix(*ours, *vtk)) << "mode " << static_cast<int>(mode) << "\nours:\n"
                                         << Describe(*ours) << "VTK:\n"
                                         << Describe(*vtk);
  }
  EXPECT_GT(search.LocatorQueries(), 0) << "the case was meant to hold ties";
}

TEST(RegistrationTarget, FindsTheSamePointAsVtksCellLocator) {
  const CBoundaryPoints t(Ellipsoid({48, 40, 20}, 23.0, 19.0, 9.0, 12.0, 9.0, 6.0));
  const correction::RegistrationTarget search(t);
  // The locator as VTK's registration builds it.
  vtkNew<vtkPoints> points;
  vtkNew<vtkCellArray> vertices;
  for (const C3DPoint& p : t.Points()) {
    const vtkIdType id = points->InsertNextPoint(p.x, p.y, p.z);
    vertices->InsertNextCell(1, &id);
  }
  vtkNew<vtkPolyData> set;
  set->SetPoints(points);
  set->SetVerts(vertices);
  vtkNew<vtkCellLocator> locator;
  locator->SetDataSet(set);
  locator->SetNumberOfCellsPerBucket(1);
  locator->BuildLocator();

  std::mt19937 random(3);
  std::uniform_real_distribution<float> coordinate(-20.0f, 70.0f);
  for (int n = 0; n < 6000; ++n) {
    // Whole, half-integer (ties between grid points) and arbitrary positions,
    // inside the target, around it and far away.
    double x[3];
    for (double& v : x) {
      const float c = coordinate(random);
      v = n % 3 == 0 ? std::floor(c) : (n % 3 == 1 ? std::floor(c) + 0.5 : c);
    }
    if (n % 500 == 0) x[n / 500 % 3] = n % 1000 == 0 ? 1e5 : -3e4;
    double ours[3], vtk[3], dist2;
    vtkIdType cell;
    int subId;
    search.FindClosestPoint(x, ours);
    locator->FindClosestPoint(x, vtk, cell, subId, dist2);
    ASSERT_TRUE(ours[0] == vtk[0] && ours[1] == vtk[1] && ours[2] == vtk[2])
        << "query (" << x[0] << ", " << x[1] << ", " << x[2] << "): (" << ours[0] << ", " << ours[1] << ", "
        << ours[2] << ") against VTK's (" << vtk[0] << ", " << vtk[1] << ", " << vtk[2] << ")";
  }
  // Half-integer queries tie often; whole and arbitrary ones mostly do not.
  EXPECT_GT(search.LocatorQueries(), 100);
  EXPECT_LT(search.LocatorQueries(), 4000);
}

TEST(ResampleByMatrix, RoundsHalfUpAndLeavesOutsidePreImagesZero) {
  CVoxel moving(8, 3, 2);
  for (std::size_t i = 0; i < moving.VoxelCount(); ++i) moving[i] = static_cast<CVoxel::value_type>(i + 1);
  // M maps moving to output; its inverse adds (4.5, -0.5, -0.6).
  vtkNew<vtkMatrix4x4> m;
  m->SetElement(0, 3, -4.5);
  m->SetElement(1, 3, 0.5);
  m->SetElement(2, 3, 0.6);
  auto out = ResampleByMatrix(moving, *m, 5, 4, 3);  // another size than the moving volume
  ASSERT_TRUE(out && out->HasData());
  EXPECT_EQ(out->Size(), C3DPoint(5, 4, 3));
  EXPECT_EQ(out->At(0, 0, 1), moving.At(5, 0, 0));  // 4.5 -> 5, -0.5 -> 0, 0.4 -> 0
  EXPECT_EQ(out->At(0, 1, 1), moving.At(5, 1, 0));
  EXPECT_EQ(out->At(0, 0, 0), 0);                   // -0.6 -> -1: outside
  EXPECT_EQ(out->At(3, 0, 1), 0);                   // 7.5 -> 8: outside
  EXPECT_EQ(out->At(2, 0, 1), moving.At(7, 0, 0));  // 6.5 -> 7
  EXPECT_EQ(out->At(0, 0, 2), moving.At(5, 0, 1));
}

TEST(ResampleByMatrix, ASingularOrNonFiniteMatrixReachesNothing) {
  CVoxel moving(4, 4, 4);
  for (std::size_t i = 0; i < moving.VoxelCount(); ++i) moving[i] = 1;
  vtkNew<vtkMatrix4x4> singular;
  singular->SetElement(2, 2, 0.0);
  EXPECT_FALSE(correction::IsUsableMatrix(*singular));
  EXPECT_EQ(ResampleByMatrix(moving, *singular, 4, 4, 4)->CountNonZero(), 0);
  vtkNew<vtkMatrix4x4> broken;
  broken->SetElement(0, 3, std::nan(""));
  EXPECT_FALSE(correction::IsUsableMatrix(*broken));
  EXPECT_EQ(ResampleByMatrix(moving, *broken, 4, 4, 4)->CountNonZero(), 0);

  // A projective row that sends some positions to infinity never indexes outside.
  vtkNew<vtkMatrix4x4> projective;
  projective->SetElement(3, 0, 1.0);
  projective->SetElement(3, 3, 1.0);
  EXPECT_TRUE(correction::IsUsableMatrix(*projective));
  auto out = ResampleByMatrix(moving, *projective, 4, 4, 4);
  EXPECT_EQ(out->Size(), C3DPoint(4, 4, 4));
}

// The resampled value of one grid voxel by the definition: the inverse
// matrix's product (vtkMatrix4x4::MultiplyPoint), divided by its fourth
// component, rounded half up, looked up in the moving window if it lies there.
CVoxel::value_type PlainResampledVoxel(const CVoxel& moving, vtkMatrix4x4& inverse, const C3DPoint& corner,
                                       int x, int y, int z) {
  const double in[4] = {static_cast<double>(x), static_cast<double>(y), static_cast<double>(z), 1.0};
  double p[4];
  inverse.MultiplyPoint(in, p);
  double index[3];
  const int first[3] = {corner.x, corner.y, corner.z};
  const int size[3] = {moving.X, moving.Y, moving.Z};
  for (int a = 0; a < 3; ++a) {
    index[a] = std::floor(p[a] / p[3] + 0.5) - first[a];
    if (!(index[a] >= 0 && index[a] < size[a])) return 0;
  }
  return moving.At(static_cast<int>(index[0]), static_cast<int>(index[1]), static_cast<int>(index[2]));
}

// Rotations about two axes with scaling and a shift, an axis flipped, a pure
// shift and a projective row: every box voxel as the definition gives it, and
// the runs of the box-free resampling equal to the voxels > 0 of the box.
TEST(ResampleByMatrix, BoxAndRunsEqualThePlainDefinitionForManyMatrices) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> angle(-0.4, 0.4), scale(0.8, 1.25), shift(-4.0, 4.0);
  std::uniform_int_distribution<int> value(-2, 3);
  for (int trial = 0; trial < 24; ++trial) {
    // A window of a larger label: noise of negative, zero and positive values.
    CVoxel moving(13, 11, 7);
    for (std::size_t i = 0; i < moving.VoxelCount(); ++i)
      moving[i] = static_cast<CVoxel::value_type>(value(random));
    const C3DPoint corner{trial % 5, 2, trial % 3};
    vtkNew<vtkMatrix4x4> m;
    const double a = angle(random), b = angle(random), k = scale(random);
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    const double rotation[3][3] = {{ca * k, -sa * cb, sa * sb}, {sa, ca * cb * k, -ca * sb}, {0, sb, cb}};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m->SetElement(r, c, rotation[r][c]);
      m->SetElement(r, 3, shift(random));
    }
    if (trial % 4 == 1) {  // a flipped axis, shifted back over the box
      m->SetElement(0, 0, -m->GetElement(0, 0));
      m->SetElement(0, 3, m->GetElement(0, 3) + 18.0);
    }
    if (trial % 4 == 2)
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m->SetElement(r, c, r == c ? 1.0 : 0.0);  // a shift only
    if (trial % 4 == 3) m->SetElement(3, 0, 0.01);  // projective: no shortcut along rows
    ASSERT_TRUE(correction::IsUsableMatrix(*m));
    vtkNew<vtkMatrix4x4> inverse;
    vtkMatrix4x4::Invert(m, inverse);

    const C3DPoint grid{30, 26, 16};
    const C3DPoint boxMinimum{trial % 7, 1, trial % 4};
    const C3DPoint boxSize{22, 21, 11};
    const auto box = ResampleBoxByMatrix(moving, *m, {grid, boxMinimum, boxSize}, corner);
    geometry::LabelRuns runs;
    ASSERT_TRUE(correction::ResampleBoxToRuns(moving, *m, {grid, boxMinimum, boxSize}, runs, corner));
    ASSERT_TRUE(box && box->HasData());
    ASSERT_EQ(runs.Size(), boxSize);
    int inside = 0;
    for (int z = 0; z < boxSize.z; ++z)
      for (int y = 0; y < boxSize.y; ++y)
        for (int x = 0; x < boxSize.x; ++x) {
          const C3DPoint p = boxMinimum + C3DPoint{x, y, z};
          const CVoxel::value_type expected = PlainResampledVoxel(moving, *inverse, corner, p.x, p.y, p.z);
          ASSERT_EQ(box->At(x, y, z), expected) << "trial " << trial << " at " << x << "," << y << "," << z;
          ASSERT_EQ(runs.Inside(x, y, z), expected > 0)
              << "trial " << trial << " at " << x << "," << y << "," << z;
          inside += expected > 0;
        }
    EXPECT_GT(inside, 0) << trial;
  }

  // A box outside the grid: no box, and the runs are left alone.
  CVoxel moving(4, 4, 4);
  vtkNew<vtkMatrix4x4> identity;
  geometry::LabelRuns runs;
  EXPECT_EQ(ResampleBoxByMatrix(moving, *identity, {{8, 8, 8}, {4, 0, 0}, {5, 2, 2}}), nullptr);
  EXPECT_FALSE(correction::ResampleBoxToRuns(moving, *identity, {{8, 8, 8}, {4, 0, 0}, {5, 2, 2}}, runs));
}

}  // namespace
