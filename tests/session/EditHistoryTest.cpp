// The history on its own: what one step takes back and forward, the order of
// steps, what a new edit drops, and the memory bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

#include "../volume/TestVolumes.h"
#include "session/EditHistory.h"
#include "volume/Voxel.h"

namespace {

// FNV-1a over the voxels: tells states of a large volume apart without keeping copies.
std::uint64_t Fingerprint(const CVoxel& v) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < v.VoxelCount(); ++i)
    h = (h ^ static_cast<std::uint16_t>(v[i])) * 1099511628211ull;
  return h;
}

using testvolumes::SameVoxels;

// A disc of `value` of radius r on slice z (the brush's footprint).
void PaintDisc(CVoxel& v, int cx, int cy, int z, int r, int value) {
  for (int y = cy - r; y <= cy + r; ++y)
    for (int x = cx - r; x <= cx + r; ++x)
      if (v.Contains(x, y, z) && (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
        v.At(x, y, z) = static_cast<CVoxel::value_type>(value);
}

TEST(VolumeDelta, TakesEitherVolumeToTheOtherAndCountsOnlyChangedVoxels) {
  CVoxel a(7, 5, 3), b(7, 5, 3);
  for (std::size_t i = 0; i < a.VoxelCount(); ++i) {
    a[i] = static_cast<CVoxel::value_type>(i % 5 == 0 ? -3 : 0);
    b[i] = static_cast<CVoxel::value_type>(i % 7 == 0 ? 32767 : a[i]);
  }
  session::VolumeDelta delta;
  ASSERT_TRUE(session::VolumeDelta::Between(&a, &b, a.Size(), delta));
  std::size_t differing = 0;
  for (std::size_t i = 0; i < a.VoxelCount(); ++i) differing += a[i] != b[i];
  EXPECT_EQ(delta.ChangedVoxels(), differing);

  CVoxel x = a;
  delta.ApplyTo(x);
  EXPECT_TRUE(SameVoxels(x, b));
  delta.ApplyTo(x);
  EXPECT_TRUE(SameVoxels(x, a));

  // An absent volume is all zero; equal volumes give an empty delta.
  ASSERT_TRUE(session::VolumeDelta::Between(nullptr, &b, b.Size(), delta));
  CVoxel zeros(7, 5, 3);
  delta.ApplyTo(zeros);
  EXPECT_TRUE(SameVoxels(zeros, b));
  ASSERT_TRUE(session::VolumeDelta::Between(&a, &a, a.Size(), delta));
  EXPECT_TRUE(delta.Empty());
  EXPECT_EQ(delta.Bytes(), 0u);

  // Volumes of other sizes cannot be compared.
  CVoxel other(5, 7, 3);
  EXPECT_FALSE(session::VolumeDelta::Between(&a, &other, a.Size(), delta));
}

TEST(VolumeDelta, AStrokeCostsItsRunsNotTheVolume) {
  CVoxel before(256, 256, 40), after(256, 256, 40);
  PaintDisc(after, 100, 100, 20, 10, 2);
  session::VolumeDelta delta;
  ASSERT_TRUE(session::VolumeDelta::Between(&before, &after, before.Size(), delta));
  // 21 rows of the disc: a run for each row and each gap between them.
  EXPECT_LT(delta.Bytes(), 64u * 6u);
}

// The difference skips the stretches where both volumes agree a block at a
// time; it must give exactly the runs of a voxel-by-voxel comparison, with
// changes on, just before and just after block edges, in volumes whose size
// is no multiple of a block, and with either volume absent.
TEST(VolumeDelta, SkippingAgreeingStretchesGivesTheRunsOfAVoxelByVoxelComparison) {
  std::mt19937 random(3);
  for (int trial = 0; trial < 300; ++trial) {
    const int X = 1 + random() % 70, Y = 1 + random() % 40, Z = 1 + random() % 6;
    CVoxel before(X, Y, Z), after(X, Y, Z);
    const std::size_t count = before.VoxelCount();
    for (std::size_t i = 0; i < count; ++i)
      before[i] = after[i] = static_cast<CVoxel::value_type>(random() % 5 == 0 ? random() % 3 : 0);
    // A few changed voxels and stretches, some of them around block edges.
    for (int c = random() % 6; c > 0; --c) {
      const std::size_t at =
          random() % 2 ? random() % count : std::min(count - 1, 512 * (random() % 4) + random() % 3 - 1);
      const std::size_t end = std::min(count, at + 1 + random() % (random() % 3 == 0 ? 700 : 4));
      for (std::size_t i = at; i < end; ++i)
        after[i] = static_cast<CVoxel::value_type>(after[i] ^ (1 + random() % 3));
    }
    const bool noBefore = trial % 10 == 1, noAfter = trial % 10 == 2;
    const CVoxel* a = noBefore ? nullptr : &before;
    const CVoxel* b = noAfter ? nullptr : &after;
    // The reference: one run per stretch of equal exclusive-or values.
    std::size_t runs = 0, changed = 0;
    session::VoxelSpan span;
    for (std::size_t i = 0; i < count;) {
      const auto xorAt = [&](std::size_t k) { return (a ? (*a)[k] : 0) ^ (b ? (*b)[k] : 0); };
      std::size_t end = i + 1;
      while (end < count && xorAt(end) == xorAt(i)) ++end;
      ++runs;
      if (xorAt(i) != 0) {
        changed += end - i;
        span.Include({i, end});
      }
      i = end;
    }
    session::VolumeDelta delta;
    ASSERT_TRUE(session::VolumeDelta::Between(a, b, before.Size(), delta));
    ASSERT_EQ(delta.ChangedVoxels(), changed) << "trial " << trial;
    ASSERT_EQ(delta.ChangedSpan(), span) << "trial " << trial;
    ASSERT_EQ(delta.Bytes(), changed ? runs * (sizeof(std::uint32_t) + sizeof(std::int16_t)) : 0u)
        << "trial " << trial;
    CVoxel toggled = a ? before : CVoxel(X, Y, Z);
    delta.ApplyTo(toggled);
    ASSERT_TRUE(SameVoxels(toggled, b ? after : CVoxel(X, Y, Z))) << "trial " << trial;
  }
}

class EditHistoryTest : public ::testing::Test {
 protected:
  EditHistoryTest() : m_history({&m_a, &m_b}) {
    m_a = std::make_unique<CVoxel>(16, 8, 4);
    m_b = std::make_unique<CVoxel>(16, 8, 4);
  }
  void Edit(std::unique_ptr<CVoxel>& slot, unsigned mask, std::size_t index, int value) {
    m_history.Begin(mask);
    (*slot)[index] = static_cast<CVoxel::value_type>(value);
    m_history.Commit();
  }
  std::unique_ptr<CVoxel> m_a, m_b;
  session::EditHistory m_history;
};

TEST_F(EditHistoryTest, StepsAreUndoneNewestFirstAndRedoneInOrder) {
  Edit(m_a, 1, 0, 2);
  Edit(m_b, 2, 1, 3);
  Edit(m_a, 1, 0, 5);
  EXPECT_EQ(m_history.StepCount(), 3u);

  ASSERT_TRUE(m_history.Undo());
  EXPECT_EQ((*m_a)[0], 2);
  ASSERT_TRUE(m_history.Undo());
  EXPECT_EQ((*m_b)[1], 0);
  EXPECT_EQ((*m_a)[0], 2);
  ASSERT_TRUE(m_history.Undo());
  EXPECT_EQ((*m_a)[0], 0);
  EXPECT_FALSE(m_history.Undo());

  ASSERT_TRUE(m_history.Redo());
  ASSERT_TRUE(m_history.Redo());
  EXPECT_EQ((*m_a)[0], 2);
  EXPECT_EQ((*m_b)[1], 3);
  ASSERT_TRUE(m_history.Redo());
  EXPECT_EQ((*m_a)[0], 5);
  EXPECT_FALSE(m_history.Redo());
}

// A reader keeping its own copy of a slot learns which voxels edits, undos and
// redos changed since it last asked (all of them after Clear or at first).
TEST_F(EditHistoryTest, EachSlotTellsTheVoxelsChangedSinceItWasLastAsked) {
  EXPECT_EQ(m_history.TakeChanges(0), session::VoxelSpan::All()) << "nothing is known at first";
  EXPECT_EQ(m_history.TakeChanges(1), session::VoxelSpan::All());
  EXPECT_TRUE(m_history.TakeChanges(0).Empty());
  Edit(m_a, 1, 37, 2);
  Edit(m_a, 1, 5, 2);
  Edit(m_b, 2, 100, 1);
  EXPECT_EQ(m_history.TakeChanges(0), (session::VoxelSpan{5, 38}));
  EXPECT_EQ(m_history.TakeChanges(1), (session::VoxelSpan{100, 101}));
  EXPECT_TRUE(m_history.TakeChanges(0).Empty()) << "asked already";
  Edit(m_a, 1, 5, 2);  // paints what is there: no change
  EXPECT_TRUE(m_history.TakeChanges(0).Empty());
  ASSERT_TRUE(m_history.Undo());  // slot b
  ASSERT_TRUE(m_history.Undo());  // slot a, voxel 5
  EXPECT_EQ(m_history.TakeChanges(0), (session::VoxelSpan{5, 6}));
  EXPECT_EQ(m_history.TakeChanges(1), (session::VoxelSpan{100, 101}));
  ASSERT_TRUE(m_history.Redo());
  EXPECT_EQ(m_history.TakeChanges(0), (session::VoxelSpan{5, 6}));
  // A slot whose volume comes or goes changed as a whole.
  std::unique_ptr<CVoxel> kept = std::move(m_b);
  m_history.Record({{1, kept.get()}});
  EXPECT_EQ(m_history.TakeChanges(1), session::VoxelSpan::All());
  m_history.Clear();
  EXPECT_EQ(m_history.TakeChanges(0), session::VoxelSpan::All());
  EXPECT_EQ(m_history.TakeChanges(5), session::VoxelSpan::All()) << "no such slot";
}

TEST_F(EditHistoryTest, ANewEditDropsWhatCouldBeRedoneAnEditWithoutChangeDoesNot) {
  Edit(m_a, 1, 0, 2);
  Edit(m_a, 1, 1, 2);
  ASSERT_TRUE(m_history.Undo());
  // Painting what is already there changes nothing: no step, redo survives.
  Edit(m_a, 1, 0, 2);
  EXPECT_TRUE(m_history.CanRedo());
  Edit(m_a, 1, 2, 3);
  EXPECT_FALSE(m_history.CanRedo());
  EXPECT_EQ(m_history.StepCount(), 2u);
  ASSERT_TRUE(m_history.Undo());
  ASSERT_TRUE(m_history.Undo());
  EXPECT_EQ(m_a->CountNonZero(), 0);
}

TEST_F(EditHistoryTest, AVolumeThatCameOrWentComesAndGoesWithItsStep) {
  std::unique_ptr<CVoxel> kept = std::move(m_b);
  m_history.Begin(2);
  m_b = kept->Clone();
  (*m_b)[3] = 7;
  m_history.Commit();
  ASSERT_TRUE(m_history.Undo());
  EXPECT_EQ(m_b, nullptr);
  ASSERT_TRUE(m_history.Redo());
  ASSERT_NE(m_b, nullptr);
  EXPECT_EQ((*m_b)[3], 7);
  EXPECT_EQ(m_b->Size(), (C3DPoint{16, 8, 4}));

  m_history.Begin(2);
  m_b.reset();
  m_history.Commit();
  ASSERT_TRUE(m_history.Undo());
  ASSERT_NE(m_b, nullptr);
  EXPECT_EQ((*m_b)[3], 7);
}

TEST_F(EditHistoryTest, UndoAndRedoWaitForTheOpenEditAndClearForgetsEverything) {
  Edit(m_a, 1, 0, 2);
  m_history.Begin(1);
  EXPECT_FALSE(m_history.Undo());
  m_history.Abandon();
  EXPECT_TRUE(m_history.Undo());
  m_history.Clear();
  EXPECT_FALSE(m_history.CanUndo());
  EXPECT_FALSE(m_history.CanRedo());
  EXPECT_EQ(m_history.Bytes(), 0u);
}

TEST_F(EditHistoryTest, AVolumeOfAnotherSizeEndsTheHistoryInsteadOfBeingOverwritten) {
  Edit(m_a, 1, 0, 2);
  m_a = std::make_unique<CVoxel>(4, 4, 4);
  EXPECT_FALSE(m_history.Undo());
  EXPECT_EQ(m_history.StepCount(), 0u);
  EXPECT_EQ(m_a->CountNonZero(), 0);

  m_history.Begin(1);
  m_a = std::make_unique<CVoxel>(16, 8, 4);
  EXPECT_FALSE(m_history.Commit());
  EXPECT_EQ(m_history.StepCount(), 0u);
}

// A long session of large 3-D brush strokes on a 384 x 384 x 40 volume: the
// history stays under its budget, keeps at least 20 steps and still takes the
// newest steps back exactly.
TEST(EditHistoryBound, ALongSessionOfLargeStrokesStaysUnderTheBudgetAndKeepsTwentySteps) {
  auto strokes = std::make_unique<CVoxel>(384, 384, 40);
  session::EditHistory history({&strokes});
  std::size_t largest = 0;
  std::vector<std::uint64_t> states;  // fingerprints of the last 21 states
  for (int s = 0; s < 30; ++s) {
    history.Begin(1);
    // A 3-D brush of radius 50 dragged across, every slice of its reach.
    for (int z = 0; z < 40; ++z) {
      const int r = static_cast<int>(std::sqrt(std::max(0, 50 * 50 - (z - 20) * (z - 20) * 6)));
      for (int cx = 50; cx < 340; cx += 29) PaintDisc(*strokes, cx, 60 + (s * 37) % 270, z, r, 2 + s % 2);
    }
    ASSERT_TRUE(history.Commit());
    largest = std::max(largest, history.Bytes());
    states.push_back(Fingerprint(*strokes));
  }
  EXPECT_LT(largest, session::EditHistory::kDefaultBudgetBytes);
  EXPECT_LT(largest, std::size_t{256} * 1000 * 1000);
  ASSERT_GE(history.UndoSteps(), 20u);
  for (int back = 1; back <= 20; ++back) {
    ASSERT_TRUE(history.Undo());
    ASSERT_EQ(Fingerprint(*strokes), states[states.size() - 1 - back]) << back << " steps back";
  }
}

TEST(EditHistoryBound, TheOldestStepsGoFirstWhenTheBudgetIsReached) {
  auto volume = std::make_unique<CVoxel>(1000, 1, 1);
  // Each step changes every other voxel: 1000 runs of 6 bytes.
  session::EditHistory history({&volume}, 3 * 6000 + 100);
  for (int s = 1; s <= 5; ++s) {
    history.Begin(1);
    for (int i = 0; i < 1000; i += 2) (*volume)[i] = static_cast<CVoxel::value_type>(s);
    ASSERT_TRUE(history.Commit());
    EXPECT_LE(history.Bytes(), history.BudgetBytes());
  }
  EXPECT_EQ(history.StepCount(), 3u);
  while (history.Undo()) {
  }
  // Back to the state after step 2, the oldest one still kept in full.
  EXPECT_EQ((*volume)[0], 2);

  // A step larger than the whole budget cannot be kept at all.
  session::EditHistory tiny({&volume}, 100);
  tiny.Begin(1);
  for (int i = 0; i < 1000; i += 2) (*volume)[i] = 9;
  EXPECT_FALSE(tiny.Commit());
  EXPECT_EQ(tiny.StepCount(), 0u);
  EXPECT_EQ(tiny.Bytes(), 0u);
}

}  // namespace
