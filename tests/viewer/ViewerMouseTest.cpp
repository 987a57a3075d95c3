// Mouse interaction: the 2-D and 3-D brush, stroke values from the modifiers, clipping at
// the edges, panning, the right double-click and the readouts.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "ViewerTestSupport.h"

namespace {

using Voxels = std::set<std::tuple<int, int, int>>;

// Every voxel of `map` that holds `value`.
Voxels VoxelsWith(const CVoxel& map, int value) {
  Voxels out;
  for (int z = 0; z < map.Z; ++z)
    for (int y = 0; y < map.Y; ++y)
      for (int x = 0; x < map.X; ++x)
        if (map.At(x, y, z) == value) out.insert({x, y, z});
  return out;
}

Voxels OnSlice(const Voxels& voxels, int z) {
  Voxels out;
  for (const auto& v : voxels)
    if (std::get<2>(v) == z) out.insert(v);
  return out;
}

// An image of X x Y x Z shown at zoom 1 with an empty scribble map and marking on, so
// that a click at window point (h, v) paints around plane point (h, v).
class Brush : public ViewerFixture {
 protected:
  void PrepareBrush(int X, int Y, int Z, int slice, float radius, bool brush3D) {
    image = CVoxel(X, Y, Z);
    map = CVoxel(X, Y, Z);
    MakeViewer(400, 300);
    Show(image);
    ASSERT_TRUE(viewer.SetScribbleMap(&map));
    viewer.SetSliceZ(slice);
    viewer.SetMarking(true, brush3D, radius);
  }
  void Click(int px, int py, viewer::MouseKeys keys = {}) {
    keys.leftButton = true;
    viewer.OnLButtonDown(keys, px, py);
    viewer.OnLButtonUp(px, py);
  }
  CVoxel image, map;
};

TEST_F(Brush, RadiusTwoPaintsNineVoxelsOnTheCurrentSlice) {
  PrepareBrush(30, 30, 9, 4, 2.0f, false);
  Click(10, 10);
  Voxels expected;
  for (int x = 9; x <= 11; ++x)
    for (int y = 9; y <= 11; ++y) expected.insert({x, y, 4});
  EXPECT_EQ(VoxelsWith(map, 2), expected);
}

TEST_F(Brush, ThreeDimensionalBrushStacksShrinkingDiscs) {
  PrepareBrush(30, 30, 9, 4, 2.0f, true);
  Click(10, 10);
  const Voxels painted = VoxelsWith(map, 2);
  EXPECT_EQ(OnSlice(painted, 4).size(), 9u);
  EXPECT_EQ(OnSlice(painted, 3), (Voxels{{10, 10, 3}}));
  EXPECT_EQ(OnSlice(painted, 5), (Voxels{{10, 10, 5}}));
  EXPECT_EQ(painted.size(), 11u);
}

TEST_F(Brush, LargeRadiusStepsByTwo) {
  PrepareBrush(30, 30, 9, 4, 5.0f, true);
  Click(10, 10);
  const Voxels painted = VoxelsWith(map, 2);
  // Radius 5 on slice 4, 3 on slices 3 and 5, 1 on slices 2 and 6.
  EXPECT_TRUE(painted.count({14, 10, 4}));
  EXPECT_FALSE(painted.count({15, 10, 4}));
  EXPECT_TRUE(painted.count({12, 10, 3}));
  EXPECT_FALSE(painted.count({13, 10, 3}));
  EXPECT_EQ(OnSlice(painted, 3).size(), OnSlice(painted, 5).size());
  EXPECT_EQ(OnSlice(painted, 2), (Voxels{{10, 10, 2}}));
  EXPECT_EQ(OnSlice(painted, 6), (Voxels{{10, 10, 6}}));
  EXPECT_TRUE(OnSlice(painted, 1).empty());
  EXPECT_TRUE(OnSlice(painted, 7).empty());
}

TEST_F(Brush, RadiusOnePaintsTheCentreAndRadiusZeroNothing) {
  PrepareBrush(30, 30, 3, 1, 1.0f, false);
  Click(10, 10);
  EXPECT_EQ(VoxelsWith(map, 2), (Voxels{{10, 10, 1}}));
  viewer.SetBrushRadius(0);
  Click(20, 20);
  EXPECT_EQ(VoxelsWith(map, 2).size(), 1u);
}

TEST_F(Brush, ModifiersChooseEraseBackgroundOrForeground) {
  PrepareBrush(30, 30, 3, 1, 1.0f, false);
  Click(5, 5, {.shift = false, .control = true});
  EXPECT_EQ(map.At(5, 5, 1), 3);
  Click(5, 5, {.shift = true, .control = false});
  EXPECT_EQ(map.At(5, 5, 1), 0);
  Click(5, 5, {.shift = true, .control = true});
  EXPECT_EQ(map.At(5, 5, 1), 2);
}

TEST_F(Brush, StrokesAreClippedAtThePlaneEdges) {
  PrepareBrush(300, 200, 3, 1, 2.0f, false);
  Click(299, 199);
  EXPECT_EQ(VoxelsWith(map, 2), (Voxels{{298, 198, 1}, {299, 198, 1}, {298, 199, 1}, {299, 199, 1}}));
}

TEST_F(Brush, ThreeDimensionalBrushOnTheFirstSlicePaintsOnlyThatSlice) {
  PrepareBrush(30, 30, 5, 0, 5.0f, true);
  Click(0, 0);
  const Voxels painted = VoxelsWith(map, 2);
  EXPECT_FALSE(painted.empty());
  EXPECT_EQ(OnSlice(painted, 0), painted);
  EXPECT_TRUE(painted.count({0, 0, 0}));
}

TEST_F(Brush, StrokesOutsideTheSliceOrWithoutMarkingWriteNothing) {
  PrepareBrush(20, 20, 3, 1, 3.0f, true);
  viewer.SetZoomPercent(100);
  Click(25, 5);         // right of the plane
  Click(5, 40);         // below it
  viewer.SetSliceZ(7);  // slice beyond the volume
  Click(5, 5);
  viewer.SetSliceZ(-2);
  Click(5, 5);
  viewer.SetSliceZ(1);
  viewer.SetMarking(false, true, 3.0f);
  Click(5, 5);
  EXPECT_EQ(map.CountNonZero(), 0);

  // A stroke left of / above the plane (panned so that plane points are negative).
  viewer.SetMarking(true, true, 3.0f);
  viewer.OnRButtonDown(0, 0);
  viewer.OnMouseMove({}, 50, 50);
  viewer.OnRButtonUp(50, 50);
  EXPECT_EQ(viewer.PanX(), -50);
  Click(10, 10);  // plane point (-40, -40)
  EXPECT_EQ(map.CountNonZero(), 0);
}

TEST_F(Brush, HugeRadiusFillsThePlaneWithoutRunningAway) {
  PrepareBrush(16, 12, 4, 1, 1e9f, true);
  Click(3, 3);
  EXPECT_EQ(static_cast<int>(VoxelsWith(map, 2).size()), 16 * 12 * 3);  // slices 0, 1, 2
  EXPECT_TRUE(OnSlice(VoxelsWith(map, 2), 3).empty());
}

TEST_F(Brush, OtherAxesPaintTheirPlanes) {
  PrepareBrush(20, 20, 20, 0, 1.0f, true);
  viewer.SetSliceX(6);
  viewer.SetAxis(CVoxelSliceViewer::kAxisX);  // plane (k, j) is voxel (x = slice, y = j, z = k)
  Click(3, 8);
  viewer.SetSliceY(4);
  viewer.SetAxis(CVoxelSliceViewer::kAxisY);  // plane (k, j) is voxel (x = k, y = slice, z = j)
  Click(2, 9);
  EXPECT_EQ(VoxelsWith(map, 2), (Voxels{{6, 8, 3}, {2, 4, 9}}));
}

TEST_F(Brush, DraggingPaintsOnlyWhileTheLeftButtonIsHeld) {
  PrepareBrush(30, 30, 3, 1, 1.0f, false);
  viewer.OnLButtonDown({.leftButton = true}, 2, 2);
  viewer.OnMouseMove({.leftButton = true}, 6, 2);
  viewer.OnMouseMove({.control = true, .leftButton = true}, 8, 2);
  viewer.OnMouseMove({.leftButton = false}, 10, 2);  // button released outside the window
  viewer.OnLButtonUp(12, 2);
  viewer.OnMouseMove({.leftButton = true}, 14, 2);                // no press inside since
  EXPECT_EQ(VoxelsWith(map, 2), (Voxels{{2, 2, 1}, {6, 2, 1}}));  // gaps are not filled
  EXPECT_EQ(VoxelsWith(map, 3), (Voxels{{8, 2, 1}}));
}

// One press-to-release is one stroke for the owner, however far it is dragged;
// presses without Marking and right-button drags are none.
TEST_F(Brush, TheListenerHearsEachStrokeFromPressToRelease) {
  struct Listener final : viewer::StrokeListener {
    void StrokeBegins() override { events += "<"; }
    void StrokeEnds() override { events += ">"; }
    std::string events;
  } listener;
  PrepareBrush(30, 30, 3, 1, 1.0f, false);
  viewer.SetStrokeListener(&listener);
  viewer.OnLButtonDown({.leftButton = true}, 2, 2);
  viewer.OnMouseMove({.leftButton = true}, 6, 2);
  EXPECT_EQ(listener.events, "<");
  viewer.OnLButtonUp(6, 2);
  Click(9, 9);
  EXPECT_EQ(listener.events, "<><>");
  viewer.OnLButtonUp(9, 9);  // a second release ends nothing
  viewer.OnRButtonDown(4, 4);
  viewer.OnRButtonUp(8, 8);
  viewer.SetMarking(false, false, 1.0f);
  Click(4, 4);
  EXPECT_EQ(listener.events, "<><>");
  // Marking ticked during a drag: what is painted from then on is a stroke.
  viewer.OnLButtonDown({.leftButton = true}, 4, 4);
  viewer.SetMarking(true, false, 1.0f);
  EXPECT_EQ(listener.events, "<><>");
  viewer.OnMouseMove({.leftButton = true}, 5, 4);
  viewer.OnMouseMove({.leftButton = true}, 6, 4);
  EXPECT_EQ(listener.events, "<><><");
  viewer.OnLButtonUp(6, 4);
  EXPECT_EQ(listener.events, "<><><>");
  viewer.SetStrokeListener(nullptr);
  Click(4, 4);
  EXPECT_EQ(listener.events, "<><><>");
}

TEST_F(Brush, PaintingTruncatesWhereThePictureRounds) {
  PrepareBrush(30, 30, 3, 1, 1.0f, false);
  viewer.SetZoomPercent(200);
  Click(3, 5);  // 1.5, 2.5 truncated to (1, 2); the picture shows voxel (2, 3) there
  EXPECT_EQ(VoxelsWith(map, 2), (Voxels{{1, 2, 1}}));
  viewer.OnMouseMove({}, 3, 5);
  EXPECT_EQ(readouts.position, "(2, 3, 1)");
}

using Mouse = ViewerFixture;

TEST_F(Mouse, RightDragPansByTheMovementTimesTheZoom) {
  MakeViewer(100, 100);
  CVoxel image(50, 50, 2);
  Show(image);
  viewer.SetZoomPercent(200);
  viewer.OnRButtonDown(40, 30);
  viewer.OnMouseMove({}, 30, 30);
  EXPECT_EQ(viewer.PanX(), 20);
  EXPECT_EQ(viewer.PanY(), 0);
  viewer.OnMouseMove({}, 35, 27);
  EXPECT_EQ(viewer.PanX(), 10);
  EXPECT_EQ(viewer.PanY(), 6);
  viewer.OnRButtonUp(35, 27);
  viewer.OnMouseMove({}, 0, 0);
  EXPECT_EQ(viewer.PanX(), 10);
  EXPECT_EQ(viewer.PanY(), 6);
}

TEST_F(Mouse, RightDoubleClickRestoresTheFittedViewAndTheZoomSpin) {
  MakeViewer(600, 400);
  CVoxel image(512, 512, 2);
  Show(image);
  viewer.SetZoomPercent(300);
  viewer.OnRButtonDown(10, 10);
  viewer.OnMouseMove({}, 0, 0);
  viewer.OnRButtonUp(0, 0);
  ASSERT_NE(viewer.PanX(), 0);
  viewer.OnRButtonDblClk();
  EXPECT_DOUBLE_EQ(viewer.Zoom(), 0.78125);
  EXPECT_EQ(viewer.PanX(), 0);
  EXPECT_EQ(viewer.PanY(), 0);
  EXPECT_EQ(readouts.zoomSpin, (std::vector<int>{78}));
}

TEST_F(Mouse, ReadoutsShowPositionDisplayedLevelAndVoxel) {
  MakeViewer(20, 10);
  CVoxel image(8, 6, 3);
  image.At(3, 2, 1) = 600;
  Show(image, 0, 1000);
  viewer.SetSliceZ(1);
  ASSERT_TRUE(viewer.Render());
  viewer.OnMouseMove({}, 3, 2);
  EXPECT_EQ(readouts.position, "(3, 2, 1)");
  EXPECT_EQ(readouts.value, "<153, 600>");  // floor(600 * 0.255 + 0.5)
  EXPECT_EQ(viewer.DisplayValue(), 153);
  EXPECT_EQ(viewer.VoxelValue(), 600);

  viewer.OnMouseMove({}, 15, 2);  // in the view, beyond the volume
  EXPECT_EQ(readouts.position, "(15, 2, 1)");
  EXPECT_EQ(readouts.value, "<222, -1>");  // blue byte of the background colour

  viewer.OnMouseMove({}, 25, -3);  // outside the view (mouse grabbed during a drag)
  EXPECT_EQ(readouts.position, "(25, -3, 1)");
  EXPECT_EQ(readouts.value, "<0, 0>");

  viewer.ClearReadoutControls();
  viewer.OnMouseMove({}, 3, 2);
  EXPECT_EQ(readouts.value, "<0, 0>");  // no longer written
  EXPECT_EQ(viewer.VoxelValue(), 600);
}

TEST_F(Mouse, ReadoutsFollowTheShownAxis) {
  MakeViewer(20, 20);
  CVoxel image(8, 6, 4);
  image.At(5, 2, 3) = 77;
  Show(image, 0, 255);
  viewer.SetSliceX(5);
  viewer.SetAxis(CVoxelSliceViewer::kAxisX);
  viewer.OnMouseMove({}, 3, 2);
  EXPECT_EQ(readouts.position, "(5, 2, 3)");
  EXPECT_EQ(viewer.VoxelValue(), 77);
}

TEST_F(Mouse, BeforeAnImageOnlyRepaintsAreRequested) {
  MakeViewer(20, 20);
  viewer.SetMarking(true, true, 2.0f);
  const int before = repaints;
  viewer.OnRButtonDown(5, 5);
  viewer.OnMouseMove({.leftButton = true}, 0, 0);
  viewer.OnLButtonDown({.leftButton = true}, 3, 3);
  EXPECT_GT(repaints, before);
  EXPECT_EQ(viewer.PanX(), 0);
  EXPECT_TRUE(readouts.position.empty());
  EXPECT_TRUE(readouts.value.empty());
}

}  // namespace
