// Rendering of a slice: grey window, overlays, comparison mode, scribbles, geometry,
// zoom fitting and the guards against volumes that do not fit the image.
#include <gtest/gtest.h>

#include "ViewerTestSupport.h"

namespace {

// A volume whose voxel (x, y, z) holds x + 10 y + 100 z (so every voxel is recognisable).
CVoxel Ramp(int X, int Y, int Z) {
  CVoxel v(X, Y, Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) v.At(x, y, z) = static_cast<std::int16_t>(x + 10 * y + 100 * z);
  return v;
}

CVoxel Filled(int X, int Y, int Z, std::int16_t value) {
  CVoxel v(X, Y, Z);
  for (std::size_t i = 0; i < v.VoxelCount(); ++i) v[i] = value;
  return v;
}

Colour Grey(int l) { return {l, l, l}; }

using Rendering = ViewerFixture;

TEST_F(Rendering, NothingIsDrawnBeforeAnImageIsSet) {
  MakeViewer(20, 10);
  EXPECT_FALSE(viewer.Render());
  EXPECT_EQ(viewer.Pixels(), nullptr);
  EXPECT_FALSE(viewer.BitmapReady());
}

TEST_F(Rendering, BitmapIsSetUpOnceAtFirstImageWithPaddedStrideAndGreyFill) {
  MakeViewer(7, 5);
  CVoxel image = Filled(3, 3, 1, 10);
  viewer.SetWindow(0, 255);
  ASSERT_TRUE(viewer.SetImage(&image));
  EXPECT_TRUE(viewer.BitmapReady());
  EXPECT_EQ(viewer.ViewWidth(), 7);
  EXPECT_EQ(viewer.ViewHeight(), 5);
  EXPECT_EQ(viewer.Stride(), 24);  // 21 bytes rounded up to a multiple of 4
  EXPECT_EQ(viewer.Pixels()[0], 128);
  EXPECT_EQ(viewer.Pixels()[24 * 5 - 1], 128);

  // A later size change of the window does not resize the bitmap.
  viewer.SetViewSize(100, 100);
  ASSERT_TRUE(viewer.SetImage(&image));
  EXPECT_EQ(viewer.ViewWidth(), 7);
  EXPECT_EQ(viewer.ViewHeight(), 5);
}

TEST_F(Rendering, AxisZeroAtZoomOneShowsVoxelUnderPixelAndBackgroundBeyond) {
  MakeViewer(8, 6);
  CVoxel image = Ramp(4, 3, 2);
  Show(image);
  viewer.SetSliceZ(1);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), Grey(100));
  EXPECT_EQ(PixelAt(viewer, 3, 2), Grey(123));
  EXPECT_EQ(PixelAt(viewer, 2, 1), Grey(112));
  EXPECT_EQ(PixelAt(viewer, 4, 0), kBackground);  // beyond X
  EXPECT_EQ(PixelAt(viewer, 0, 3), kBackground);  // beyond Y
  EXPECT_EQ(PixelAt(viewer, 7, 5), kBackground);
}

TEST_F(Rendering, OtherAxesMapColumnsAndRowsToTheirVoxelAxes) {
  MakeViewer(8, 8);
  CVoxel image = Ramp(4, 3, 2);
  Show(image);
  viewer.SetSliceY(2);
  viewer.SetAxis(CVoxelSliceViewer::kAxisY);  // column x, row z
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 3, 1), Grey(3 + 20 + 100));
  EXPECT_EQ(PixelAt(viewer, 0, 2), kBackground);  // z beyond Z

  viewer.SetSliceX(1);
  viewer.SetAxis(CVoxelSliceViewer::kAxisX);  // column z, row y
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 1, 2), Grey(1 + 20 + 100));
  EXPECT_EQ(PixelAt(viewer, 2, 0), kBackground);  // z beyond Z
  EXPECT_EQ(PixelAt(viewer, 0, 3), kBackground);  // y beyond Y
}

TEST_F(Rendering, ZoomAndPanPickTheNearestVoxel) {
  MakeViewer(10, 4);
  CVoxel image = Ramp(8, 2, 1);
  Show(image);
  viewer.SetZoomPercent(200);
  ASSERT_TRUE(viewer.Render());
  // column c shows x = floor(c / 2 + 0.5): 0, 1, 1, 2, 2, ...
  EXPECT_EQ(PixelAt(viewer, 0, 0), Grey(0));
  EXPECT_EQ(PixelAt(viewer, 1, 0), Grey(1));
  EXPECT_EQ(PixelAt(viewer, 2, 0), Grey(1));
  EXPECT_EQ(PixelAt(viewer, 3, 0), Grey(2));
  EXPECT_EQ(PixelAt(viewer, 1, 1), Grey(11));
  EXPECT_EQ(PixelAt(viewer, 0, 3), kBackground);  // y = 2

  // A right-drag of 2 pixels to the left at zoom 2 pans by 4 screen pixels.
  viewer.OnRButtonDown(5, 0);
  viewer.OnMouseMove({}, 3, 0);
  viewer.OnRButtonUp(3, 0);
  EXPECT_EQ(viewer.PanX(), 4);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), Grey(2));  // floor(4 / 2 + 0.5)
}

TEST_F(Rendering, WindowMapsIntensitiesToGreyLevelsWithClamping) {
  MakeViewer(5, 1);
  CVoxel image(5, 1, 1);
  const std::int16_t values[] = {99, 100, 200, 300, 301};
  for (int x = 0; x < 5; ++x) image.At(x, 0, 0) = values[x];
  Show(image, 100, 300);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), Grey(0));
  EXPECT_EQ(PixelAt(viewer, 1, 0), Grey(0));
  EXPECT_EQ(PixelAt(viewer, 2, 0), Grey(128));
  EXPECT_EQ(PixelAt(viewer, 3, 0), Grey(255));
  EXPECT_EQ(PixelAt(viewer, 4, 0), Grey(255));
}

TEST_F(Rendering, WindowOfWidthZeroRendersBlackAtOrBelowAndWhiteAbove) {
  MakeViewer(3, 1);
  CVoxel image(3, 1, 1);
  image.At(0, 0, 0) = 999;
  image.At(1, 0, 0) = 1000;
  image.At(2, 0, 0) = 1001;
  Show(image, 1000, 1000);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), Grey(0));
  EXPECT_EQ(PixelAt(viewer, 1, 0), Grey(0));
  EXPECT_EQ(PixelAt(viewer, 2, 0), Grey(255));
}

TEST_F(Rendering, RequestedWindowTakesEffectAtUpdateRangeWhichReportsTheRange) {
  MakeViewer(4, 1);
  CVoxel image = Ramp(4, 1, 1);
  image.At(3, 0, 0) = -7;
  Show(image, 0, 255);
  EXPECT_EQ(readouts.range, "[-7 2]");
  viewer.SetWindow(0, 2);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 1, 0), Grey(1));  // old window still active
  viewer.UpdateRange();
  EXPECT_EQ(viewer.WindowLow(), 0);
  EXPECT_EQ(viewer.WindowHigh(), 2);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 1, 0), Grey(128));  // floor(1 * 127.5 + 0.5)

  // Requests beyond 16 bits are clamped rather than wrapped around.
  viewer.SetWindow(-40000, 40000);
  viewer.UpdateRange();
  EXPECT_EQ(viewer.WindowLow(), -32768);
  EXPECT_EQ(viewer.WindowHigh(), 32767);
}

// One-voxel image of grey level l (window 0..255) with optional overlays.
class OverlayColours : public ViewerFixture {
 protected:
  Colour Render(int l, int gt, int seg, bool showGt = true, bool showSeg = true) {
    image = Filled(1, 1, 1, static_cast<std::int16_t>(l));
    truth = Filled(1, 1, 1, static_cast<std::int16_t>(gt));
    segmentation = Filled(1, 1, 1, static_cast<std::int16_t>(seg));
    MakeViewer(1, 1);
    Show(image);
    viewer.ClearGroundTruth();
    viewer.ClearSegmentation();
    if (showGt) {
      EXPECT_TRUE(viewer.SetGroundTruth(&truth));
    }
    if (showSeg) {
      EXPECT_TRUE(viewer.SetSegmentation(&segmentation));
    }
    EXPECT_TRUE(viewer.Render());
    return PixelAt(viewer, 0, 0);
  }
  CVoxel image, truth, segmentation;
};

TEST_F(OverlayColours, GroundTruthAloneAndSegmentationAlone) {
  EXPECT_EQ(Render(100, 1, 0, true, false), (Colour{180, 100, 80}));
  EXPECT_EQ(Render(100, 0, 1, false, true), (Colour{80, 180, 100}));
  EXPECT_EQ(Render(200, 1, 0, true, false), (Colour{255, 200, 130}));  // red clamped
}

TEST_F(OverlayColours, ComparisonModeWhenBothAreShown) {
  EXPECT_EQ(Render(200, 1, 1), (Colour{130, 130, 200}));
  EXPECT_EQ(Render(250, 1, 0), (Colour{255, 155, 250}));
  EXPECT_EQ(Render(100, 0, 5), (Colour{80, 180, 100}));  // label value does not matter here
  EXPECT_EQ(Render(100, 0, 0), Grey(100));
}

TEST_F(OverlayColours, ComparisonModeNeedsBothSwitchesAndBothVolumes) {
  Render(100, 1, 1);
  viewer.SetShowSegmentation(false);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), (Colour{180, 100, 80}));  // ground-truth tint only
  viewer.SetShowSegmentation(true);
  viewer.ClearGroundTruth();
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), (Colour{80, 180, 100}));  // segmentation label 1 only
}

TEST_F(OverlayColours, SegmentationLabelValuesOverPlainGrey) {
  // l = 100: 0.5 l + K = 80, 1.5 l + K = 180, 0.7 l + K = 100, l + K = 130.
  EXPECT_EQ(Render(100, 0, 2, false), (Colour{160, 100, 100}));
  EXPECT_EQ(Render(100, 0, 3, false), (Colour{80, 100, 180}));
  EXPECT_EQ(Render(100, 0, 4, false), (Colour{180, 100, 80}));
  EXPECT_EQ(Render(100, 0, 5, false), (Colour{100, 180, 80}));
  EXPECT_EQ(Render(100, 0, 6, false), (Colour{100, 80, 180}));
  EXPECT_EQ(Render(100, 0, 7, false), (Colour{100, 130, 130}));
  EXPECT_EQ(Render(100, 0, 8, false), (Colour{100, 130, 130}));
  EXPECT_EQ(Render(100, 0, 9, false), (Colour{100, 130, 130}));
  EXPECT_EQ(Render(100, 0, 10, false), (Colour{100, 80, 80}));
  // Values outside 2 ... 10 are coloured like 1.
  EXPECT_EQ(Render(100, 0, 11, false), (Colour{80, 180, 100}));
  EXPECT_EQ(Render(100, 0, -3, false), (Colour{80, 180, 100}));
}

TEST_F(OverlayColours, SegmentationColoursClampAt255) {
  EXPECT_EQ(Render(200, 0, 2, false), (Colour{255, 170, 200}));  // 1.3 * 200 + 30 clamped
  EXPECT_EQ(Render(200, 0, 6, false), (Colour{200, 130, 255}));
  EXPECT_EQ(Render(200, 0, 9, false), (Colour{200, 230, 230}));
  EXPECT_EQ(Render(255, 0, 1, false), (Colour{157, 255, 255}));
}

TEST_F(OverlayColours, ScribblesPaintPureColoursOnlyWhileMarking) {
  Render(100, 1, 1);
  CVoxel map(1, 1, 1);
  ASSERT_TRUE(viewer.SetScribbleMap(&map));
  const Colour underneath{80, 80, 100};  // comparison mode, both set, l = 100
  for (const auto& [value, colour] : std::vector<std::pair<int, Colour>>{
           {0, underneath}, {1, {255, 0, 0}}, {2, {255, 0, 0}}, {3, {0, 0, 255}}, {4, underneath}}) {
    map[0] = static_cast<std::int16_t>(value);
    viewer.SetMarking(true, false, 2.0f);
    ASSERT_TRUE(viewer.Render());
    EXPECT_EQ(PixelAt(viewer, 0, 0), colour) << "scribble value " << value;
    viewer.SetMarking(false, false, 2.0f);
    ASSERT_TRUE(viewer.Render());
    EXPECT_EQ(PixelAt(viewer, 0, 0), underneath) << "marking off, value " << value;
  }
}

TEST_F(Rendering, HiddenImageShowsBackgroundAndBadSliceKeepsThePicture) {
  MakeViewer(4, 2);
  CVoxel image = Ramp(4, 2, 3);
  Show(image);
  ASSERT_TRUE(viewer.Render());
  const std::vector<std::uint8_t> before(viewer.Pixels(), viewer.Pixels() + viewer.Stride() * 2);

  viewer.SetSliceZ(3);
  EXPECT_FALSE(viewer.Render());
  viewer.SetSliceZ(-1);
  EXPECT_FALSE(viewer.Render());
  viewer.SetAxis(static_cast<CVoxelSliceViewer::ViewAxis>(7));  // no such view
  EXPECT_FALSE(viewer.Render());
  EXPECT_EQ(std::vector<std::uint8_t>(viewer.Pixels(), viewer.Pixels() + viewer.Stride() * 2), before);

  viewer.SetAxis(CVoxelSliceViewer::kAxisZ);
  viewer.SetSliceZ(0);
  viewer.HideImage();
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), kBackground);
  EXPECT_EQ(PixelAt(viewer, 3, 1), kBackground);
}

TEST_F(Rendering, FitZoomUsesTheExtentsOfTheShownAxis) {
  MakeViewer(600, 400);
  CVoxel image(512, 512, 30);
  ASSERT_TRUE(viewer.SetImage(&image));
  EXPECT_DOUBLE_EQ(viewer.Zoom(), 0.78125);
  EXPECT_EQ(viewer.GetZoomPercent(), 78);
  viewer.SetAxis(CVoxelSliceViewer::kAxisY);
  EXPECT_DOUBLE_EQ(viewer.Zoom(), 0.78125);  // switching axes keeps the zoom
  viewer.FitZoom();
  EXPECT_DOUBLE_EQ(viewer.Zoom(), 1.171875);
  viewer.SetAxis(CVoxelSliceViewer::kAxisX);
  viewer.FitZoom();
  EXPECT_DOUBLE_EQ(viewer.Zoom(), 400.0 / 512.0);
  viewer.SetAxis(static_cast<CVoxelSliceViewer::ViewAxis>(5));  // no such view
  viewer.FitZoom();
  EXPECT_DOUBLE_EQ(viewer.Zoom(), 1.0);
}

TEST_F(Rendering, ZoomPercentStaysPositiveAndSameAxisDoesNotRepaint) {
  MakeViewer(10, 10);
  CVoxel image(5, 5, 5);
  Show(image);
  viewer.SetZoomPercent(250);
  EXPECT_EQ(viewer.GetZoomPercent(), 250);
  viewer.SetZoomPercent(0);
  viewer.SetZoomPercent(-90);
  EXPECT_EQ(viewer.GetZoomPercent(), 250);

  const int before = repaints;
  viewer.SetAxis(CVoxelSliceViewer::kAxisZ);
  EXPECT_EQ(repaints, before);
  viewer.SetAxis(CVoxelSliceViewer::kAxisY);
  EXPECT_GT(repaints, before);
  EXPECT_EQ(viewer.GetZoomPercent(), 250);
}

TEST_F(Rendering, OverlaysOfAnotherSizeAreRefusedWithTheirMessages) {
  MakeViewer(10, 10);
  CVoxel image(5, 5, 5), other(5, 5, 4), empty;
  CVoxel fitting(5, 5, 5);

  // No image yet: refused silently.
  EXPECT_FALSE(viewer.SetGroundTruth(&fitting));
  EXPECT_FALSE(viewer.SetSegmentation(&fitting));
  EXPECT_FALSE(viewer.SetScribbleMap(&fitting));
  EXPECT_TRUE(sink.messages.empty());

  Show(image);
  EXPECT_FALSE(viewer.SetGroundTruth(&other));
  EXPECT_FALSE(viewer.SetSegmentation(&other));
  EXPECT_FALSE(viewer.SetScribbleMap(&other));
  EXPECT_FALSE(viewer.SetSegmentation(&empty));  // a failed load: no data
  ASSERT_EQ(sink.messages.size(), 3u);
  EXPECT_EQ(sink.messages[0], "ground truth dimension does not match current view voxel\n");
  EXPECT_EQ(sink.messages[1], "segmentation result dimension does not match current view voxel\n");
  EXPECT_EQ(sink.messages[2], "segmentation result dimension does not match current view voxel\n");
  EXPECT_EQ(viewer.GroundTruth(), nullptr);
  EXPECT_EQ(viewer.Segmentation(), nullptr);
  EXPECT_EQ(viewer.ScribbleMap(), nullptr);
  EXPECT_FALSE(viewer.ShowGroundTruth());
  EXPECT_FALSE(viewer.ShowSegmentation());

  EXPECT_TRUE(viewer.SetScribbleMap(&fitting));
  EXPECT_FALSE(viewer.ShowSegmentation());  // the scribble map switches no overlay on
}

TEST_F(Rendering, ImagesWithoutDataAreRefused) {
  MakeViewer(10, 10);
  CVoxel image(3, 3, 3), empty;
  EXPECT_FALSE(viewer.SetImage(nullptr));
  EXPECT_FALSE(viewer.SetImage(&empty));
  EXPECT_FALSE(viewer.BitmapReady());
  Show(image);
  EXPECT_FALSE(viewer.SetImage(&empty));
  EXPECT_EQ(viewer.Image(), &image);
}

TEST_F(Rendering, NewImageDropsOverlaysThatNoLongerFitAndClampsSlices) {
  MakeViewer(10, 10);
  CVoxel big = Filled(6, 6, 6, 50), small = Filled(4, 5, 3, 60);
  CVoxel truth(6, 6, 6), seg(6, 6, 6), map(6, 6, 6);
  Show(big);
  ASSERT_TRUE(viewer.SetGroundTruth(&truth));
  ASSERT_TRUE(viewer.SetSegmentation(&seg));
  ASSERT_TRUE(viewer.SetScribbleMap(&map));
  viewer.SetSliceZ(5);
  viewer.SetSliceY(2);
  viewer.SetSliceX(5);

  Show(small);
  EXPECT_EQ(viewer.GroundTruth(), nullptr);
  EXPECT_EQ(viewer.Segmentation(), nullptr);
  EXPECT_EQ(viewer.ScribbleMap(), nullptr);
  EXPECT_FALSE(viewer.ShowGroundTruth());
  EXPECT_FALSE(viewer.ShowSegmentation());
  EXPECT_EQ(viewer.SliceZ(), 2);
  EXPECT_EQ(viewer.SliceY(), 2);  // in range: kept
  EXPECT_EQ(viewer.SliceX(), 3);
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 0, 0), Grey(60));

  // Painting with marking on now has no map to write into.
  viewer.SetMarking(true, true, 3.0f);
  viewer.OnLButtonDown({}, 1, 1);
  EXPECT_EQ(map.CountNonZero(), 0);
}

TEST_F(Rendering, OverlayReleasedBehindTheViewersBackIsIgnored) {
  MakeViewer(2, 2);
  CVoxel image = Filled(2, 2, 1, 100), seg = Filled(2, 2, 1, 1), map = Filled(2, 2, 1, 3);
  Show(image);
  ASSERT_TRUE(viewer.SetSegmentation(&seg));
  ASSERT_TRUE(viewer.SetScribbleMap(&map));
  viewer.SetMarking(true, false, 2.0f);
  seg.Release();
  map.Release();
  ASSERT_TRUE(viewer.Render());
  EXPECT_EQ(PixelAt(viewer, 1, 1), Grey(100));
  viewer.OnLButtonDown({}, 0, 0);  // no map data: nothing is written, nothing crashes
  EXPECT_FALSE(map.HasData());
}

}  // namespace
