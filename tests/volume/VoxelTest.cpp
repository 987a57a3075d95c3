#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "volume/Voxel.h"

TEST(C3DPoint, ArithmeticAndDefaults) {
  EXPECT_EQ(C3DPoint(), C3DPoint(0, 0, 0));
  EXPECT_EQ(C3DPoint(4, 5, 6) - C3DPoint(4, 5, 6), C3DPoint(0, 0, 0));
  EXPECT_EQ(C3DPoint(5, 5, 5) + -2, C3DPoint(3, 3, 3));
  EXPECT_EQ(C3DPoint(7, 1, 2) - C3DPoint(2, 3, 4), C3DPoint(5, -2, -2));
  C3DPoint p;
  p.Set(1, 2, 3);
  EXPECT_EQ(p, C3DPoint(1, 2, 3));
}

TEST(CVoxel, IndexesXFastestThenYThenZ) {
  CVoxel v(4, 5, 6, true);
  ASSERT_TRUE(v.HasData());
  EXPECT_EQ(v.CountNonZero(), 0);
  EXPECT_EQ(v.Index(1, 2, 3), 69u);
  v.At(1, 2, 3) = 7;
  EXPECT_EQ(v[69], 7);
  EXPECT_EQ(v.CountNonZero(), 1);
  EXPECT_EQ(v.spacing[0], -1.0f);
  EXPECT_EQ(v.origin[2], -1.0f);
}

TEST(CVoxel, CopiesAreIndependent) {
  CVoxel v(3, 3, 3);
  v.spacing[1] = 0.5f;
  v.origin[2] = 12.0f;
  v.At(1, 1, 1) = 9;
  v.maximum = 100;
  const auto copy = v.Clone();
  copy->At(1, 1, 1) = 2;
  EXPECT_EQ(v.At(1, 1, 1), 9);
  EXPECT_EQ(copy->spacing[1], 0.5f);
  EXPECT_EQ(copy->origin[2], 12.0f);
  EXPECT_EQ(copy->maximum, 0) << "the min/max pair is not copied";

  CVoxel assigned;
  assigned = v;
  EXPECT_TRUE(assigned.SameSize(v));
  EXPECT_EQ(assigned.At(1, 1, 1), 9);
}

TEST(CVoxel, GeometryFromAMatrixAndBack) {
  // Voxel x along +y (0.5 mm), y along -x (0.75 mm), z along +z (2 mm).
  const double axes[3][3] = {{0, -0.75, 0}, {0.5, 0, 0}, {0, 0, 2}};
  const double origin[3] = {31.5, -12.25, 47};
  CVoxel v(2, 2, 2);
  ASSERT_TRUE(v.SetGeometryFromMatrix(axes, origin));
  EXPECT_EQ(v.spacing[0], 0.5f);
  EXPECT_EQ(v.spacing[1], 0.75f);
  EXPECT_EQ(v.direction[1][0], 1.0);
  EXPECT_EQ(v.direction[0][1], -1.0);
  double p[3];
  v.PhysicalPoint(1, 1, 1, p);
  EXPECT_DOUBLE_EQ(p[0], 31.5 - 0.75);
  EXPECT_DOUBLE_EQ(p[1], -12.25 + 0.5);
  EXPECT_DOUBLE_EQ(p[2], 49.0);
  double back[3][3], backOrigin[3];
  v.GeometryMatrix(back, backOrigin);
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(backOrigin[r], origin[r]);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(back[r][c], axes[r][c]);
  }

  // An axis of no length, or a value that is not finite, changes nothing.
  const double flat[3][3] = {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const double nan[3] = {std::nan(""), 0, 0};
  EXPECT_FALSE(v.SetGeometryFromMatrix(flat, origin));
  EXPECT_FALSE(v.SetGeometryFromMatrix(axes, nan));
  EXPECT_FALSE(v.SetDirection(flat));
  EXPECT_EQ(v.origin[0], 31.5f);
  EXPECT_EQ(v.direction[1][0], 1.0);

  // Copies keep the whole geometry, NIfTI codes included.
  v.niftiQformCode = 1;
  v.niftiSformCode = 2;
  const CVoxel copy(v);
  EXPECT_TRUE(SameGeometry(copy, v, 0, 0, 0));
  EXPECT_EQ(copy.niftiSformCode, 2);
}

TEST(CVoxel, SameGeometryToleratesOnlyRoundingDifferences) {
  CVoxel a(2, 2, 2), b(3, 3, 3);
  // Unset geometry is compared as written: spacing 1, origin 0, identity.
  EXPECT_TRUE(SameGeometry(a, b));
  for (int i = 0; i < 3; ++i) {
    b.spacing[i] = 1.0f;
    b.origin[i] = 0.0f;
  }
  EXPECT_TRUE(SameGeometry(a, b));
  b.origin[2] = 0.0009f;
  EXPECT_TRUE(SameGeometry(a, b));
  b.origin[2] = 0.002f;
  EXPECT_FALSE(SameGeometry(a, b));
  b.origin[2] = 0.0f;
  b.direction[0][1] = 5e-5;
  EXPECT_TRUE(SameGeometry(a, b));
  b.direction[0][1] = 2e-4;
  EXPECT_FALSE(SameGeometry(a, b));
  b.direction[0][1] = 0.0;
  b.spacing[1] = 1.001f;
  EXPECT_FALSE(SameGeometry(a, b));
}

TEST(CVoxel, ReleaseTwiceAndMovedFromVolumesHoldNoData) {
  CVoxel v(2, 2, 2);
  v.Release();
  v.Release();
  EXPECT_FALSE(v.HasData());
  EXPECT_EQ(v.Data(), nullptr);
  EXPECT_EQ(v.CountNonZero(), 0);

  CVoxel source(2, 2, 2);
  source[3] = 4;
  CVoxel target(std::move(source));
  EXPECT_TRUE(target.HasData());
  EXPECT_EQ(target[3], 4);
  EXPECT_FALSE(source.HasData());  // NOLINT(bugprone-use-after-move): a moved-from volume is empty
  CVoxel other;
  other = std::move(target);
  EXPECT_FALSE(target.HasData());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(other[3], 4);
}

TEST(CVoxel, ImpossibleSizesLeaveNoData) {
  EXPECT_EQ(volume::VoxelCount(-1, 2, 2), -1);
  EXPECT_EQ(volume::VoxelCount(2048, 2048, 512), -1);  // 2^31 voxels do not fit a signed 32-bit count
  EXPECT_EQ(volume::VoxelCount(65536, 65536, 0), 0);
  EXPECT_FALSE(CVoxel(-3, 2, 2).HasData());
  EXPECT_FALSE(CVoxel(100000, 100000, 100000).HasData());

  CVoxel empty(0, 5, 5);
  EXPECT_TRUE(empty.HasData());
  EXPECT_EQ(empty.VoxelCount(), 0u);
  EXPECT_EQ(empty.CountNonZero(), 0);

  CVoxel v(2, 2, 2);
  v.X = -1;
  EXPECT_FALSE(v.Allocate());
  EXPECT_FALSE(v.HasData());
}

TEST(CFVoxel, AllocatesZeroedFloats) {
  CFVoxel f(3, 2, 1);
  ASSERT_TRUE(f.HasData());
  f.At(2, 1, 0) = 1.5f;
  EXPECT_EQ(f[5], 1.5f);
  EXPECT_TRUE(f.Allocate());
  EXPECT_EQ(f[5], 0.0f);
  CFVoxel moved(std::move(f));
  EXPECT_TRUE(moved.HasData());
  EXPECT_FALSE(f.HasData());  // NOLINT(bugprone-use-after-move)
  moved.Release();
  EXPECT_FALSE(moved.HasData());
}

// Blocks no longer come zeroed from the allocator: memory just freed by a
// volume full of other values must still reach the next volume as zeros, on
// the ordinary heap path and on the large-page path (8 MiB and more), through
// the constructor and through Allocate(), and copies must keep every voxel.
TEST(CVoxel, ReusedMemoryIsZeroedAndCopiesAreExact) {
  for (const C3DPoint size : {C3DPoint{33, 17, 5}, C3DPoint{1024, 1024, 5}}) {
    SCOPED_TRACE(size.x);
    {
      CVoxel dirty(size);
      std::fill(dirty.Data(), dirty.Data() + dirty.VoxelCount(), CVoxel::value_type{0x5a5a});
    }
    CVoxel fresh(size);
    ASSERT_TRUE(fresh.HasData());
    EXPECT_EQ(fresh.CountNonZero(), 0);

    std::fill(fresh.Data(), fresh.Data() + fresh.VoxelCount(), CVoxel::value_type{-7});
    const CVoxel copy(fresh);
    EXPECT_TRUE(std::all_of(copy.Data(), copy.Data() + copy.VoxelCount(),
                            [](CVoxel::value_type v) { return v == -7; }));
    ASSERT_TRUE(fresh.Allocate());
    EXPECT_EQ(fresh.CountNonZero(), 0);

    {
      CFVoxel dirty(size);
      std::fill(dirty.Data(), dirty.Data() + dirty.VoxelCount(), 3.5f);
    }
    CFVoxel floats(size);
    ASSERT_TRUE(floats.HasData());
    EXPECT_TRUE(
        std::all_of(floats.Data(), floats.Data() + floats.VoxelCount(), [](float v) { return v == 0.0f; }));
  }
}

// Freed large blocks are handed to the next volume of their size on any
// thread: no two live volumes may ever share one, every fresh volume is zero,
// and a volume of another size in between must not upset either.
TEST(CVoxel, LargeBlocksComeBackZeroedAndUnsharedAcrossThreads) {
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 3; ++t)
    workers.emplace_back([t, &failures] {
      for (int round = 0; round < 8; ++round) {
        const int Z = (round + t) % 3 == 0 ? 6 : 5;  // 10 or 12 MiB
        CVoxel v(1024, 1024, Z);
        if (!v.HasData() || v.CountNonZero() != 0) ++failures;
        const auto mark = static_cast<CVoxel::value_type>(100 * t + round + 1);
        std::fill(v.Data(), v.Data() + v.VoxelCount(), mark);
        std::this_thread::yield();
        if (!std::all_of(v.Data(), v.Data() + v.VoxelCount(),
                         [mark](CVoxel::value_type x) { return x == mark; }))
          ++failures;
      }
    });
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(failures.load(), 0);
}

// What both volume types get from their one container: copies are deep and a
// copy of a volume without data has none, moves leave the source without data,
// and an impossible size is refused by every way of allocating.
template <typename V>
class VolumeContainer : public ::testing::Test {};
using VolumeTypes = ::testing::Types<CVoxel, CFVoxel>;
TYPED_TEST_SUITE(VolumeContainer, VolumeTypes);
// Containers of volumes move them rather than copy them when they grow.
static_assert(std::is_nothrow_move_constructible_v<CVoxel> && std::is_nothrow_move_assignable_v<CVoxel>);
static_assert(std::is_nothrow_move_constructible_v<CFVoxel> && std::is_nothrow_move_assignable_v<CFVoxel>);

TYPED_TEST(VolumeContainer, CopiesAreDeepAndEmptyVolumesCopyEmpty) {
  using Value = typename TypeParam::value_type;
  TypeParam v(3, 2, 2);
  v.At(2, 1, 1) = Value(5);
  TypeParam copy(v);
  copy.At(2, 1, 1) = Value(6);
  EXPECT_EQ(v.At(2, 1, 1), Value(5));
  EXPECT_NE(copy.Data(), v.Data());

  TypeParam assigned(7, 7, 7);
  assigned = v;
  EXPECT_EQ(assigned.Size(), C3DPoint(3, 2, 2));
  EXPECT_EQ(assigned.VoxelCount(), 12u);
  EXPECT_EQ(assigned[11], Value(5));
  assigned[11] = Value(1);
  EXPECT_EQ(v[11], Value(5));

  v.Release();
  const TypeParam emptyCopy(v);
  EXPECT_FALSE(emptyCopy.HasData());
  EXPECT_EQ(emptyCopy.Data(), nullptr);
  EXPECT_EQ(emptyCopy.Size(), C3DPoint(3, 2, 2));
  assigned = v;
  EXPECT_FALSE(assigned.HasData());
  EXPECT_EQ(assigned.VoxelCount(), 0u);
}

TYPED_TEST(VolumeContainer, MovesLeaveTheSourceWithoutData) {
  using Value = typename TypeParam::value_type;
  TypeParam source(2, 3, 4);
  source[23] = Value(9);
  TypeParam target(5, 5, 5);
  target = std::move(source);
  EXPECT_EQ(target.Size(), C3DPoint(2, 3, 4));
  EXPECT_EQ(target[23], Value(9));
  EXPECT_FALSE(source.HasData());  // NOLINT(bugprone-use-after-move): a moved-from volume is empty
  EXPECT_EQ(source.Data(), nullptr);
  EXPECT_EQ(source.VoxelCount(), 0u);

  TypeParam constructed(std::move(target));
  EXPECT_EQ(constructed[23], Value(9));
  EXPECT_FALSE(target.HasData());  // NOLINT(bugprone-use-after-move)
  // A moved-from volume keeps its dimensions and can be given a block again.
  ASSERT_TRUE(target.Allocate());
  EXPECT_EQ(target.VoxelCount(), 24u);
  EXPECT_EQ(target[23], Value(0));
}

TYPED_TEST(VolumeContainer, ImpossibleSizesAreRefusedEverywhere) {
  EXPECT_FALSE(TypeParam(2, -1, 2).HasData());
  EXPECT_FALSE(TypeParam(C3DPoint(2048, 2048, 512)).HasData());

  TypeParam v(2, 2, 2);
  v.Z = 100000;
  v.Y = 100000;
  EXPECT_FALSE(v.Allocate());
  EXPECT_FALSE(v.HasData());
  EXPECT_EQ(v.VoxelCount(), 0u);
  EXPECT_FALSE(v.AllocateForReader());
  EXPECT_EQ(v.Data(), nullptr);

  v.Y = 2;
  v.Z = 2;
  ASSERT_TRUE(v.AllocateForReader());
  EXPECT_EQ(v.VoxelCount(), 8u);
}
