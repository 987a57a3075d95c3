// Helpers shared by the viewer tests: a viewer with a known view size, readouts that
// record what they are given, and pixel access.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/VoxelSliceViewer.h"
#include "volume/Sinks.h"

struct RecordingReadouts final : viewer::ViewerReadouts {
  void SetPositionText(const std::string& t) override { position = t; }
  void SetValueText(const std::string& t) override { value = t; }
  void SetRangeText(const std::string& t) override { range = t; }
  void SetZoomSpinPosition(int p) override { zoomSpin.push_back(p); }
  std::string position, value, range;
  std::vector<int> zoomSpin;
};

struct Colour {
  int r, g, b;
  bool operator==(const Colour&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Colour& c) {
  return os << "(r " << c.r << ", g " << c.g << ", b " << c.b << ")";
}

inline Colour PixelAt(const CVoxelSliceViewer& viewer, int c, int r) {
  const std::uint8_t* p = viewer.Pixels() + static_cast<std::size_t>(r) * viewer.Stride() + 3 * c;
  return {p[2], p[1], p[0]};
}

inline constexpr Colour kBackground{239, 235, 222};

// A viewer of the given view size that records messages, readouts and repaint requests.
class ViewerFixture : public ::testing::Test {
 protected:
  void MakeViewer(int width, int height) {
    viewer.SetViewSize(width, height);
    viewer.SetMessageSink(&sink);
    viewer.SetReadoutControls(&readouts);
    viewer.SetRepaintRequest([this] { ++repaints; });
  }
  // Shows `image` with zoom 1 and the window low..high, pan (0, 0).
  void Show(const CVoxel& image, int low = 0, int high = 255) {
    viewer.SetWindow(low, high);
    ASSERT_TRUE(viewer.SetImage(&image));
    viewer.SetZoomPercent(100);
  }

  CVoxelSliceViewer viewer;
  volume::RecordingSink sink;
  RecordingReadouts readouts;
  int repaints = 0;
};
