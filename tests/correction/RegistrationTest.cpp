#include <gtest/gtest.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>

#include <cmath>

#include "TestLabels.h"
#include "correction/Registration.h"

namespace {

void ExpectMatrixNear(vtkMatrix4x4& m, const double expected[4][4], double tolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.GetElement(r, c), expected[r][c], tolerance) << r << "," << c;
}

TEST(RegisterSurfaces, AListOntoItselfGivesTheIdentityAndAnUnchangedResample) {
  const CVoxel label = Ellipsoid({24, 20, 12}, 11.3, 9.6, 5.4, 7.5, 5.5, 3.5);
  const CBoundaryPoints boundary(label);
  vtkNew<vtkMatrix4x4> m;
  ASSERT_TRUE(RegisterSurfaces(boundary, boundary, *m, 100, static_cast<int>(LandmarkMode::Affine)));
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
                               static_cast<int>(LandmarkMode::Affine)));
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
                   static_cast<int>(LandmarkMode::RigidBody));
  EXPECT_NEAR(m->GetElement(1, 3), 2.0, 1e-6);
}

TEST(RegisterSurfaces, AnEmptyListGivesTheIdentityAndFalse) {
  const CBoundaryPoints empty;
  const CBoundaryPoints some(Ellipsoid({8, 8, 8}, 4, 4, 4, 2, 2, 2));
  vtkNew<vtkMatrix4x4> m;
  m->SetElement(0, 3, 5.0);
  EXPECT_FALSE(RegisterSurfaces(empty, some, *m, 100, 2));
  EXPECT_TRUE(m->IsIdentity());
  EXPECT_FALSE(RegisterSurfaces(some, empty, *m, 100, 2));
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
  EXPECT_FALSE(IsUsableMatrix(*singular));
  EXPECT_EQ(ResampleByMatrix(moving, *singular, 4, 4, 4)->CountNonZero(), 0);
  vtkNew<vtkMatrix4x4> broken;
  broken->SetElement(0, 3, std::nan(""));
  EXPECT_FALSE(IsUsableMatrix(*broken));
  EXPECT_EQ(ResampleByMatrix(moving, *broken, 4, 4, 4)->CountNonZero(), 0);

  // A projective row that sends some positions to infinity never indexes outside.
  vtkNew<vtkMatrix4x4> projective;
  projective->SetElement(3, 0, 1.0);
  projective->SetElement(3, 3, 1.0);
  EXPECT_TRUE(IsUsableMatrix(*projective));
  auto out = ResampleByMatrix(moving, *projective, 4, 4, 4);
  EXPECT_EQ(out->Size(), C3DPoint(4, 4, 4));
}

}  // namespace
