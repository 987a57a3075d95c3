#include "Phantom.h"

#include <cstddef>

#include "PhantomParts.h"
#include "PhantomRandom.h"

namespace phantom {

namespace {

// Independent random streams, one per part of a case.
enum Stream : std::uint64_t {
  kTruthStream = 1,
  kErrorStream,
  kImageStream,
  kScribbleStream,
  kReferenceStream
};

}  // namespace

std::string CheckPhantomOptions(const PhantomOptions& o) {
  if (o.size.x < kMinInPlane || o.size.x > kMaxInPlane || o.size.y < kMinInPlane || o.size.y > kMaxInPlane ||
      o.size.z < kMinSlices || o.size.z > kMaxSlices) {
    return "the size must be XxYxZ with " + std::to_string(kMinInPlane) +
           " <= X, Y <= " + std::to_string(kMaxInPlane) + " and " + std::to_string(kMinSlices) +
           " <= Z <= " + std::to_string(kMaxSlices);
  }
  const std::int64_t voxels = volume::VoxelCount(o.size.x, o.size.y, o.size.z);
  if (voxels < 0 || voxels > kMaxVoxels) {
    return "the size has more than " + std::to_string(kMaxVoxels) + " voxels";
  }
  if (o.references < 0 || o.references > kMaxReferences) {
    return "the number of references must be 0 ... " + std::to_string(kMaxReferences);
  }
  if (o.strokes < 0 || o.strokes > kMaxStrokes) {
    return "the number of strokes must be 0 ... " + std::to_string(kMaxStrokes);
  }
  if (o.dots < 0 || o.dots > kMaxDots) return "the number of dots must be 0 ... " + std::to_string(kMaxDots);
  return {};
}

namespace {

// The base leaks into the bladder neck or stops short of it; on one side the
// boundary was found too far in, and on another, roughly opposite, it bulges
// out into the neighbours.
std::vector<Bump> SegmentationErrors(PhantomRandom& rng) {
  std::vector<Bump> bumps;
  const double baseSign = rng.Chance(0.5) ? 1.0 : -1.0;
  const std::array<double, 3> tilt = RandomSideDirection(rng, 0.0);
  bumps.push_back({{0.25 * tilt[0], 0.25 * tilt[1], 0.9682458365518543},  // sqrt(1 - 0.25^2)
                   0.55,
                   baseSign * rng.Uniform(0.2, 0.3)});
  const std::array<double, 3> missing = RandomSideDirection(rng, 0.3);
  bumps.push_back({missing, 0.7, -rng.Uniform(0.2, 0.3)});
  std::array<double, 3> bulge;
  do {
    bulge = RandomSideDirection(rng, 0.3);
  } while (bulge[0] * missing[0] + bulge[1] * missing[1] > -0.2);
  bumps.push_back({bulge, 0.75, rng.Uniform(0.2, 0.3)});
  return bumps;
}

// Clears the segmentation on the truth's lowest slice and below (automatic
// methods often lose the apex, where the organ is small and faint). Returns
// that slice, or -1 for an empty truth.
int RemoveApexSlice(const CVoxel& truth, CVoxel& segmentation) {
  const std::size_t slice = static_cast<std::size_t>(truth.X) * truth.Y;
  for (int z = 0; z < truth.Z; ++z) {
    bool truthHere = false;
    for (std::size_t i = slice * z; i < slice * (z + 1) && !truthHere; ++i) truthHere = truth[i] != 0;
    for (std::size_t i = slice * z; i < slice * (z + 1); ++i) segmentation[i] = 0;
    if (truthHere) return z;
  }
  return -1;
}

}  // namespace

FlawedSegmentation MakeFlawedSegmentation(const ShapeParams& truthParams, const ScanGeometry& geometry,
                                          const CVoxel& truth, PhantomRandom& rng) {
  FlawedSegmentation result;
  ShapeParams params = truthParams;
  params.bumps = SegmentationErrors(rng);
  result.segmentation = ShapeField(params, geometry).Rasterize();
  if (!truth.HasData() || !result.segmentation.HasData()) return result;
  const int apex = RemoveApexSlice(truth, result.segmentation);
  const CVoxel& seg = result.segmentation;

  // A site per bump: where the bump alone changes the truth and the final segmentation is wrong.
  for (const Bump& bump : params.bumps) {
    ShapeParams alone = truthParams;
    alone.bumps = {bump};
    const CVoxel changed = ShapeField(alone, geometry).Rasterize();
    if (!changed.HasData()) continue;
    ErrorSite site{bump.amplitude > 0.0 ? kBackgroundScribble : kForegroundScribble, {}};
    for (std::size_t i = 0; i < truth.VoxelCount(); ++i) {
      if (changed[i] != truth[i] && seg[i] != truth[i]) site.voxels.push_back(i);
    }
    result.sites.push_back(std::move(site));
  }
  // The lost apex slice.
  ErrorSite apexSite{kForegroundScribble, {}};
  const std::size_t below = static_cast<std::size_t>(truth.X) * truth.Y * static_cast<std::size_t>(apex + 1);
  for (std::size_t i = 0; i < below; ++i) {
    if (truth[i] != 0 && seg[i] == 0) apexSite.voxels.push_back(i);
  }
  result.sites.push_back(std::move(apexSite));
  return result;
}

CVoxel GenerateReference(const PhantomOptions& options, int index) {
  const ScanGeometry geometry(options.size);
  PhantomRandom rng(options.seed, kReferenceStream, static_cast<std::uint64_t>(index));
  ShapeParams p = RandomProstate(rng, geometry);
  // Another patient lies differently in the scanner: shifted by up to about a
  // centimetre in-plane and a slice or two along z, and a little larger or
  // smaller, so that the registration has real work to do.
  const double scale = 1.0 + 0.03 * rng.Gaussianish();
  for (double& axis : p.semiAxis) axis *= scale;
  p.centre[0] += 4.0 * rng.Gaussianish();
  p.centre[1] += 4.0 * rng.Gaussianish();
  p.centre[2] += 2.0 * rng.Gaussianish();
  return ShapeField(p, geometry).Rasterize();
}

PhantomCase GeneratePhantom(const PhantomOptions& options) {
  const ScanGeometry geometry(options.size);
  PhantomCase result;

  PhantomRandom truthRng(options.seed, kTruthStream);
  const ShapeParams truthParams = RandomProstate(truthRng, geometry);
  const ShapeField truthShape(truthParams, geometry);
  result.truth = truthShape.Rasterize();

  PhantomRandom errorRng(options.seed, kErrorStream);
  FlawedSegmentation flawed = MakeFlawedSegmentation(truthParams, geometry, result.truth, errorRng);
  result.segmentation = std::move(flawed.segmentation);

  PhantomRandom imageRng(options.seed, kImageStream);
  result.image = SynthesizeImage(truthShape, imageRng);

  result.scribbles = CVoxel(options.size);
  SetScanSpacing(result.scribbles, geometry);
  if (result.truth.HasData() && result.segmentation.HasData() && result.scribbles.HasData()) {
    PhantomRandom scribbleRng(options.seed, kScribbleStream);
    result.scribbleStats = DrawScribbles(result.truth, result.segmentation, truthShape, flawed.sites,
                                         options.strokes, options.dots, scribbleRng, result.scribbles);
  }

  for (int i = 0; i < options.references; ++i) {
    result.references.push_back(std::make_unique<CVoxel>(GenerateReference(options, i)));
  }
  return result;
}

}  // namespace phantom
