// The ranges of the zoom and the brush size, shared by the spins, the zoom
// slider and the data exchange of the window.
#pragma once

namespace app::limits {
// Zoom in percent: the slider and the spin keep to 10 ... 1000; the edit box
// takes up to 10000 (a fitted zoom of a small image may be that large).
inline constexpr int kZoomMinimum = 10;
inline constexpr int kZoomMaximum = 1000;
inline constexpr int kZoomTypedMaximum = 10000;
// Brush radius in voxels, as the brush spin offers it.
inline constexpr int kBrushMinimum = 1;
inline constexpr int kBrushMaximum = 50;
}  // namespace app::limits
