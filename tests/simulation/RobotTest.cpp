// The robot user on hand-made cases whose error pieces, deepest voxel and
// stroke are known, and on random cases where it must never scribble on the
// wrong side of the truth.
#include <gtest/gtest.h>

#include <random>

#include "fusion/Fusion.h"
#include "simulation/Robot.h"
#include "viewer/Brush.h"
#include "volume/ScribbleValues.h"

using simulation::ErrorKind;
using simulation::PlanePoint;
using simulation::Robot;

namespace {

CVoxel Volume(int X, int Y, int Z, float sx = 1, float sy = 1, float sz = 1) {
  CVoxel v(X, Y, Z, true);
  v.spacing[0] = sx, v.spacing[1] = sy, v.spacing[2] = sz;
  v.origin[0] = v.origin[1] = v.origin[2] = 0;
  return v;
}

void Fill(CVoxel& v, int x0, int x1, int y0, int y1, int z0, int z1, std::int16_t value = 1) {
  for (int z = z0; z <= z1; ++z)
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) v.At(x, y, z) = value;
}

std::size_t IndexOf(const CVoxel& v, int x, int y, int z) {
  return (static_cast<std::size_t>(z) * v.Y + y) * v.X + x;
}

// A bar of 21 x 5 voxels on slice 1 of a 30 x 12 x 3 volume with thick slices.
CVoxel BarTruth() {
  CVoxel truth = Volume(30, 12, 3, 1, 1, 3);
  Fill(truth, 5, 25, 3, 7, 1, 1);
  return truth;
}

}  // namespace

TEST(Robot, TakesTheLargestPieceThenMissedBeforeExtraThenTheLowestFirstVoxel) {
  CVoxel truth = Volume(20, 20, 10);
  Fill(truth, 2, 15, 2, 15, 2, 7);
  CVoxel seg = truth;
  Fill(seg, 4, 6, 4, 6, 3, 5, 0);   // 27 missed voxels
  Fill(seg, 17, 18, 17, 18, 0, 1);  // 8 extra voxels, first in index order
  Robot robot(truth, 2, false);
  const CVoxel none = Volume(20, 20, 10);
  const auto pieces = robot.ErrorPieces(seg);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].kind, ErrorKind::kExtra);
  EXPECT_EQ(pieces[0].size, 8u);
  EXPECT_EQ(pieces[1].size, 27u);
  auto stroke = robot.NextStroke(seg, none);
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->piece.kind, ErrorKind::kMissed);
  EXPECT_EQ(stroke->piece.size, 27u);
  EXPECT_EQ(stroke->value, volume::scribble::kForeground);
  EXPECT_EQ(stroke->deepestVoxel, IndexOf(seg, 5, 5, 4));  // the centre

  // Equal sizes: the missed piece, though the extra one comes first.
  CVoxel tie = truth;
  Fill(tie, 4, 5, 4, 5, 3, 4, 0);   // 8 missed
  Fill(tie, 17, 18, 17, 18, 0, 1);  // 8 extra
  stroke = robot.NextStroke(tie, none);
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->piece.kind, ErrorKind::kMissed);
  // Two missed pieces of one size: the one with the lower first voxel.
  CVoxel twoMissed = truth;
  Fill(twoMissed, 10, 11, 10, 11, 5, 6, 0);
  Fill(twoMissed, 4, 5, 4, 5, 5, 6, 0);
  stroke = robot.NextStroke(twoMissed, none);
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->piece.firstVoxel, IndexOf(truth, 4, 4, 5));
  // Pieces touching only along an edge are two pieces (face neighbours only).
  CVoxel diagonal = truth;
  diagonal.At(4, 4, 4) = 0;
  diagonal.At(5, 5, 4) = 0;
  EXPECT_EQ(robot.ErrorPieces(diagonal).size(), 2u);
}

TEST(Robot, DeepestVoxelIsMeasuredInMillimetres) {
  // A 5-voxel cube with 3 mm slices: its depth is 3 mm from z = 2 to z = 4 at
  // the centre column, so the lowest index among them wins; in voxels it
  // would be the centre (4, 4, 4).
  CVoxel truth = Volume(10, 10, 10, 1, 1, 3);
  Fill(truth, 2, 6, 2, 6, 2, 6);
  const CVoxel seg = Volume(10, 10, 10, 1, 1, 3);
  Robot robot(truth, 2, false);
  auto stroke = robot.NextStroke(seg, seg);
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->deepestVoxel, IndexOf(truth, 4, 4, 2));
  EXPECT_DOUBLE_EQ(stroke->depthMm, 3.0);
  EXPECT_EQ(stroke->slice, 2);

  CVoxel isotropic = Volume(10, 10, 10);
  Fill(isotropic, 2, 6, 2, 6, 2, 6);
  Robot cubeRobot(isotropic, 2, false);
  stroke = cubeRobot.NextStroke(Volume(10, 10, 10), Volume(10, 10, 10));
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->deepestVoxel, IndexOf(isotropic, 4, 4, 4));
}

TEST(Robot, TheVolumeEdgeIsNoBorder) {
  // The piece fills x 0..5 of a one-slice volume: its only border is x = 6, so
  // its deepest voxel lies on the volume's edge at x = 0.
  CVoxel truth = Volume(12, 5, 1);
  Fill(truth, 0, 5, 0, 4, 0, 0);
  const CVoxel seg = Volume(12, 5, 1);
  Robot robot(truth, 2, false);
  const auto stroke = robot.NextStroke(seg, seg);
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->deepestVoxel, 0u);
  EXPECT_DOUBLE_EQ(stroke->depthMm, 6.0);
}

TEST(Robot, StrokesAlongTheMiddleOfTheCrossSection) {
  const CVoxel truth = BarTruth();
  const CVoxel seg = Volume(30, 12, 3, 1, 1, 3);
  for (const bool ball : {false, true}) {
    Robot robot(truth, 2, ball);
    const auto stroke = robot.NextStroke(seg, seg);
    ASSERT_TRUE(stroke);
    EXPECT_EQ(stroke->deepestVoxel, IndexOf(truth, 7, 5, 1));
    std::vector<PlanePoint> middle;
    for (int x = 7; x <= 23; ++x) middle.push_back({x, 5});
    EXPECT_EQ(stroke->centres, middle);
    // The disc of radius 2 covers rows 4 to 6 from x = 6 to 24; the ball's
    // smaller discs on slices 0 and 2 lie outside the truth and are clipped.
    CVoxel map = Volume(30, 12, 3, 1, 1, 3);
    EXPECT_EQ(robot.Paint(*stroke, map), 57u);
    for (int z = 0; z < 3; ++z)
      for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 30; ++x) {
          const bool painted = z == 1 && y >= 4 && y <= 6 && x >= 6 && x <= 24;
          EXPECT_EQ(map.At(x, y, z), painted ? volume::scribble::kForeground : 0)
              << x << " " << y << " " << z;
        }
  }
}

TEST(Robot, ClipsTheStrokeToTheTruth) {
  // One extra row along the bar: the brush reaches into the truth, where no
  // background scribble may land, and beyond it, where it confirms.
  const CVoxel truth = BarTruth();
  CVoxel seg = truth;
  Fill(seg, 5, 25, 8, 8, 1, 1);
  Robot robot(truth, 2, false);
  const auto stroke = robot.NextStroke(seg, Volume(30, 12, 3));
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->value, volume::scribble::kBackground);
  EXPECT_EQ(stroke->deepestVoxel, IndexOf(truth, 5, 8, 1));
  CVoxel map = Volume(30, 12, 3);
  EXPECT_EQ(robot.Paint(*stroke, map), 48u);
  for (int x = 0; x < 30; ++x) {
    // Row 7 is truth from x = 5 to 25; the disc's ends beyond it are outside.
    EXPECT_EQ(map.At(x, 7, 1), x == 4 || x == 26 ? volume::scribble::kBackground : 0);
    EXPECT_EQ(map.At(x, 8, 1), x >= 4 && x <= 26 ? volume::scribble::kBackground : 0);
    EXPECT_EQ(map.At(x, 9, 1), x >= 4 && x <= 26 ? volume::scribble::kBackground : 0);
  }
}

TEST(Robot, LeavesScribbledVoxelsAndStopsWhenEveryErrorIsScribbled) {
  CVoxel truth = Volume(20, 20, 10);
  Fill(truth, 2, 15, 2, 15, 2, 7);
  CVoxel seg = truth;
  Fill(seg, 4, 6, 4, 6, 3, 5, 0);      // 27 missed
  Fill(seg, 10, 11, 10, 11, 3, 4, 0);  // 8 missed
  CVoxel scribbled = Volume(20, 20, 10);
  Robot robot(truth, 2, false);
  // The centre of the large piece scribbled (a correction left it wrong): the
  // piece is still drawn, at its deepest voxel not scribbled yet.
  scribbled.At(5, 5, 4) = volume::scribble::kForeground;
  auto stroke = robot.NextStroke(seg, scribbled);
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->piece.size, 27u);
  EXPECT_NE(stroke->deepestVoxel, IndexOf(truth, 5, 5, 4));
  EXPECT_EQ(scribbled.Data()[stroke->deepestVoxel], 0);
  // The whole large piece scribbled: the next piece.
  Fill(scribbled, 4, 6, 4, 6, 3, 5, volume::scribble::kForeground);
  stroke = robot.NextStroke(seg, scribbled);
  ASSERT_TRUE(stroke);
  EXPECT_EQ(stroke->piece.size, 8u);
  // Everything scribbled: nothing left to draw.
  Fill(scribbled, 10, 11, 10, 11, 3, 4, volume::scribble::kForeground);
  EXPECT_FALSE(robot.NextStroke(seg, scribbled));
  // No error at all: nothing to draw.
  EXPECT_FALSE(robot.NextStroke(truth, Volume(20, 20, 10)));
}

// Random truths and segmentations, random spacing and brushes: every stroke
// lands on the right side of the truth, covers its deepest voxel (an error
// voxel not scribbled before) and the case ends.
TEST(Robot, NeverScribblesOnTheWrongSideOfTheTruth) {
  std::mt19937 random(20261209);
  for (int trial = 0; trial < 25; ++trial) {
    const int X = 12 + random() % 20, Y = 12 + random() % 20, Z = 2 + random() % 8;
    std::uniform_real_distribution<float> spacing(0.3f, 4.0f);
    CVoxel truth = Volume(X, Y, Z, spacing(random), spacing(random), spacing(random));
    CVoxel seg = truth;
    const auto blob = [&](CVoxel& v, std::int16_t value) {
      const int cx = random() % X, cy = random() % Y, cz = random() % Z;
      const int rx = 1 + random() % 6, ry = 1 + random() % 6, rz = 1 + random() % 3;
      for (int z = 0; z < Z; ++z)
        for (int y = 0; y < Y; ++y)
          for (int x = 0; x < X; ++x) {
            const double d = std::pow((x - cx) / double(rx), 2) + std::pow((y - cy) / double(ry), 2) +
                             std::pow((z - cz) / double(rz), 2);
            if (d <= 1.0) v.At(x, y, z) = value;
          }
    };
    for (int b = 0; b < 3; ++b) blob(truth, 1);
    seg = truth;
    for (int b = 0; b < 3; ++b) blob(seg, static_cast<std::int16_t>(random() % 2));
    const float radius = static_cast<float>(1 + random() % 5);
    const bool ball = random() % 2;
    Robot robot(truth, radius, ball);
    CVoxel accumulated = Volume(X, Y, Z);
    int strokes = 0;
    for (; strokes < X * Y * Z; ++strokes) {
      const auto stroke = robot.NextStroke(seg, accumulated);
      if (!stroke) break;
      const std::size_t d = stroke->deepestVoxel;
      ASSERT_EQ(accumulated.Data()[d], 0);
      ASSERT_NE(truth.Data()[d] != 0, seg.Data()[d] != 0);
      CVoxel map = Volume(X, Y, Z);
      robot.Paint(*stroke, map);
      ASSERT_EQ(map.Data()[d], stroke->value);
      for (std::size_t i = 0; i < map.VoxelCount(); ++i) {
        if (map.Data()[i] == 0) continue;
        ASSERT_EQ(map.Data()[i] == volume::scribble::kForeground, truth.Data()[i] != 0) << "trial " << trial;
        accumulated.Data()[i] = map.Data()[i];
      }
      // Alternately the scribbles are written into the segmentation (as the
      // manual correction does) or the segmentation is disturbed elsewhere
      // (as a correction that spreads its changes may do).
      if (strokes % 2 == 0) {
        ApplyScribbles(seg, accumulated);
      } else {
        blob(seg, static_cast<std::int16_t>(random() % 2));
      }
    }
    EXPECT_LT(strokes, X * Y * Z) << "trial " << trial;
  }
}

// The stroke is the window's brush set down on every centre (painted over the
// whole volume, as the viewer paints), clipped to the truth: nothing more is
// written, nothing less, near the volume's edges too, with either brush.
TEST(Robot, PaintsExactlyTheWindowsBrushClippedToTheTruth) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    const int X = 3 + random() % 25, Y = 3 + random() % 25, Z = 1 + random() % 12;
    CVoxel truth = Volume(X, Y, Z);
    for (std::size_t i = 0; i < truth.VoxelCount(); ++i) truth.Data()[i] = random() % 3 == 0;
    const float radius = 0.5f + static_cast<float>(random() % 16) * 0.5f;
    const bool ball = random() % 2;
    simulation::RobotStroke stroke;
    stroke.value = random() % 2 ? volume::scribble::kForeground : volume::scribble::kBackground;
    stroke.slice = static_cast<int>(random() % Z);
    for (int c = 1 + random() % 6; c > 0; --c)
      stroke.centres.push_back({static_cast<int>(random() % X), static_cast<int>(random() % Y)});
    // What was in the map before stays wherever the stroke does not write.
    CVoxel map = Volume(X, Y, Z), expected = Volume(X, Y, Z), brush = Volume(X, Y, Z);
    for (std::size_t i = 0; i < map.VoxelCount(); ++i) map.Data()[i] = expected.Data()[i] = random() % 4;
    for (const PlanePoint& c : stroke.centres)
      viewer::PaintBrushDisc(brush.Data(), viewer::AxialPlane(truth), stroke.slice, c.x, c.y, radius, 1,
                             ball);
    std::size_t written = 0;
    for (std::size_t i = 0; i < brush.VoxelCount(); ++i)
      if (brush.Data()[i] && (truth.Data()[i] != 0) == (stroke.value == volume::scribble::kForeground)) {
        expected.Data()[i] = stroke.value;
        ++written;
      }
    Robot robot(truth, radius, ball);
    ASSERT_EQ(robot.Paint(stroke, map), written) << "trial " << trial;
    ASSERT_TRUE(std::equal(map.Data(), map.Data() + map.VoxelCount(), expected.Data())) << "trial " << trial;
    // The robot's canvas is left clean: the same stroke again writes the same voxels.
    ASSERT_EQ(robot.Paint(stroke, map), written) << "trial " << trial;
  }
}
