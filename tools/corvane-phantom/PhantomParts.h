// The stages of one phantom case, used by GeneratePhantom.
#pragma once

#include "Phantom.h"
#include "PhantomShape.h"

namespace phantom {

class PhantomRandom;

// The truth's shape with the local errors of an automatic segmentation added as
// bumps: too much or too little at the base, tissue missing on one side and a
// bulge on another.
ShapeParams WithSegmentationErrors(const ShapeParams& truth, PhantomRandom& rng);

// Clears the segmentation on the truth's lowest slice and below: automatic
// methods often lose the apex, where the organ is small and faint.
void RemoveApexSlice(const CVoxel& truth, CVoxel& segmentation);

// The T2-like image around the truth's shape: tissue classes, texture, a smooth
// bias field and Rician noise, rounded to 0 ... 2000.
CVoxel SynthesizeImage(const ShapeField& truthShape, PhantomRandom& rng);

// Paints the scribbles: `strokes` strokes on the largest errors, about a third
// as many strokes that agree with the segmentation, and `dots` separate dabs
// on the errors. Every 2 lies inside the truth and every 3 outside.
ScribbleStats DrawScribbles(const CVoxel& truth, const CVoxel& segmentation, const ShapeField& truthShape,
                            int strokes, int dots, PhantomRandom& rng, CVoxel& scribbles);

}  // namespace phantom
