// Time to render one slice of a 512 x 512 x 30 volume into a 630 x 510 view, for a plain
// grey picture and with every overlay (comparison mode and scribbles) on.
#include <chrono>
#include <cstdio>

#include "viewer/VoxelSliceViewer.h"

namespace {

double MillisecondsPerRender(CVoxelSliceViewer& viewer, int renders) {
  viewer.Render();  // warm-up (builds the grey table)
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < renders; ++i) viewer.Render();
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / renders;
}

}  // namespace

int main() {
  const int X = 512, Y = 512, Z = 30;
  CVoxel image(X, Y, Z), truth(X, Y, Z), seg(X, Y, Z), strokes(X, Y, Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) {
        image.At(x, y, z) = static_cast<std::int16_t>((x * 7 + y * 13 + z * 31) % 3000);
        truth.At(x, y, z) = (x - 256) * (x - 256) + (y - 256) * (y - 256) < 100 * 100;
        seg.At(x, y, z) = (x - 266) * (x - 266) + (y - 250) * (y - 250) < 95 * 95;
        strokes.At(x, y, z) = (x % 50 == 0) ? 2 : (y % 60 == 0) ? 3 : 0;
      }

  CVoxelSliceViewer viewer;
  viewer.SetViewSize(630, 510);
  viewer.SetWindow(0, 2500);
  viewer.SetImage(&image);
  viewer.SetSliceZ(15);
  const int renders = 200;
  std::printf("viewer render, grey only (630 x 510, zoom %.3f): %.3f ms\n", viewer.Zoom(),
              MillisecondsPerRender(viewer, renders));

  viewer.SetGroundTruth(&truth);
  viewer.SetSegmentation(&seg);
  viewer.SetScribbleMap(&strokes);
  viewer.SetMarking(true, false, 2.0f);
  std::printf("viewer render, all overlays: %.3f ms\n", MillisecondsPerRender(viewer, renders));

  viewer.SetShowGroundTruth(false);
  viewer.SetSliceY(200);
  viewer.SetAxis(CVoxelSliceViewer::kAxisY);
  std::printf("viewer render, axis 1 with segmentation and scribbles: %.3f ms\n",
              MillisecondsPerRender(viewer, renders));
  return 0;
}
