// The stages of one phantom case, used by GeneratePhantom.
#pragma once

#include <cstddef>
#include <vector>

#include "Phantom.h"
#include "PhantomShape.h"

namespace phantom {

class PhantomRandom;

// Where the segmentation is wrong for one cause (a bump, the lost apex slice).
struct ErrorSite {
  CVoxel::value_type fix = 0;       // the scribble that marks it: 2 for missed tissue, 3 for extra
  std::vector<std::size_t> voxels;  // scan order; truth and segmentation disagree on each
};

struct FlawedSegmentation {
  CVoxel segmentation;
  std::vector<ErrorSite> sites;
};

// An automatic-looking segmentation of the truth: the truth's shape with local
// errors added as bumps (too much or too little at the base, tissue missing on
// one side, a bulge on another) and the apex slice lost.
FlawedSegmentation MakeFlawedSegmentation(const ShapeParams& truthParams, const ScanGeometry& geometry,
                                          const CVoxel& truth, PhantomRandom& rng);

// The T2-like image around the truth's shape: tissue classes, texture, a smooth
// bias field and Rician noise, rounded to 0 ... 2000.
CVoxel SynthesizeImage(const ShapeField& truthShape, PhantomRandom& rng);

// Paints the scribbles: `strokes` strokes on the error sites, about a third as
// many strokes that agree with the segmentation, and `dots` separate dabs on
// the errors. Every 2 lies inside the truth and every 3 outside.
ScribbleStats DrawScribbles(const CVoxel& truth, const CVoxel& segmentation, const ShapeField& truthShape,
                            const std::vector<ErrorSite>& sites, int strokes, int dots, PhantomRandom& rng,
                            CVoxel& scribbles);

}  // namespace phantom
