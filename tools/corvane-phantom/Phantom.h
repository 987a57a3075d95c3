// Synthetic prostate cases for the demo, the tests and the benchmarks.
//
// One seed gives one case, bit for bit the same on every platform: an MR-like
// image, the true label, an automatic-looking segmentation with typical errors
// (the apex slice missing, tissue missing on one side, a bulge on another,
// too much or too little at the base), the scribbles a careful user would paint
// on those errors, and reference labels of other "patients" for the atlas.
#pragma once

#include <cstdint>
#include <string>

#include "volume/ScribbleValues.h"
#include "volume/Voxel.h"

namespace phantom {

// Scribble values as the correction reads them.
inline constexpr CVoxel::value_type kForegroundScribble = volume::scribble::kForeground;
inline constexpr CVoxel::value_type kBackgroundScribble = volume::scribble::kBackground;

// Sizes the generator accepts: enough voxels for a recognisable organ, and a
// bound that keeps the few full-size volumes of a case within memory.
inline constexpr int kMinInPlane = 16;
inline constexpr int kMaxInPlane = 2048;
inline constexpr int kMinSlices = 4;
inline constexpr int kMaxSlices = 512;
inline constexpr std::int64_t kMaxVoxels = std::int64_t{1} << 27;
inline constexpr int kMaxReferences = 999;
inline constexpr int kMaxStrokes = 100;
inline constexpr int kMaxDots = 1000;

struct PhantomOptions {
  C3DPoint size{512, 512, 32};
  int references = 10;
  std::uint64_t seed = 1;
  int strokes = 6;  // strokes that mark segmentation errors
  int dots = 0;     // separate single dabs on the errors (a stress case for the region stage)
};

// Empty when the options are usable, else what is wrong with them.
std::string CheckPhantomOptions(const PhantomOptions& options);

struct ScribbleStats {
  int errorStrokes = 0;     // strokes drawn on segmentation errors
  int agreeingStrokes = 0;  // strokes that confirm the segmentation
  int dots = 0;             // dots placed (fewer than asked when the errors have no room left)
  int foregroundVoxels = 0;
  int backgroundVoxels = 0;
  int contradicting = 0;  // scribbled voxels that disagree with the segmentation
};

struct PhantomCase {
  CVoxel image;         // MR-like intensities, 0 ... 2000
  CVoxel truth;         // 0/1
  CVoxel segmentation;  // 0/1
  CVoxel scribbles;     // 0, 2 (inside the truth), 3 (outside the truth)
  CVoxelList references;
  ScribbleStats scribbleStats;
};

// The whole case with options.references reference labels. Volumes without
// data mean that memory ran out.
PhantomCase GeneratePhantom(const PhantomOptions& options);

// Reference label number index (0-based), 0/1. It depends only on the seed, the
// size and the index, so reference 3 is the same whether 5 or 40 are asked for.
CVoxel GenerateReference(const PhantomOptions& options, int index);

}  // namespace phantom
