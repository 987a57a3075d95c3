#include "volume/ValueChecks.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "volume/ScribbleValues.h"

namespace volume {

namespace {

struct ValueCensus {
  int distinctNonZero = 0;
  CVoxel::value_type lowest = 0, highest = 0;  // over the non-zero values
  bool outsideScribbles = false;               // a value other than 0 to 3
  bool foreground = false, background = false;
};

ValueCensus Count(const CVoxel& volume) {
  ValueCensus census;
  if (!volume.HasData()) return census;
  std::vector<bool> seen(65536, false);
  const CVoxel::value_type* v = volume.Data();
  bool any = false;
  for (std::size_t i = 0, n = volume.VoxelCount(); i < n; ++i) {
    const CVoxel::value_type x = v[i];
    if (x == 0) continue;
    const std::size_t slot = static_cast<std::uint16_t>(x);
    if (!seen[slot]) {
      seen[slot] = true;
      ++census.distinctNonZero;
    }
    census.lowest = any ? std::min(census.lowest, x) : x;
    census.highest = any ? std::max(census.highest, x) : x;
    any = true;
  }
  census.outsideScribbles = census.distinctNonZero > 0 && (census.lowest < 0 || census.highest > 3);
  census.foreground = seen[scribble::kForeground];
  census.background = seen[scribble::kBackground];
  return census;
}

std::string Range(const ValueCensus& c) {
  return "(" + std::to_string(c.lowest) + " to " + std::to_string(c.highest) + ")";
}

}  // namespace

std::string SegmentationValuesProblem(const CVoxel& segmentation) {
  const ValueCensus c = Count(segmentation);
  if (c.distinctNonZero <= 1) return {};
  const bool scribbles = !c.outsideScribbles && (c.foreground || c.background);
  return "holds " + std::to_string(c.distinctNonZero) + " different non-zero values " + Range(c) +
         ", not 0 and one label value: is it " + (scribbles ? "a scribble map?" : "an image?");
}

std::string ScribbleValuesProblem(const CVoxel& map) {
  const ValueCensus c = Count(map);
  if (c.outsideScribbles) return "holds values other than 0, 1, 2 and 3 " + Range(c) + ": is it an image?";
  if (!c.foreground && !c.background)
    return std::string("holds no scribble: no value 2 (foreground) or 3 (background)") +
           (c.distinctNonZero > 0 ? ": is it a segmentation?" : "");
  return {};
}

}  // namespace volume
