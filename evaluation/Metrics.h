// Quality measures of a segmentation against a ground truth: overlap, volumes
// and surface distances, for the whole gland and for its apex, mid and base.
//
// Definitions (also printed by corvane-evaluate --help):
// - A voxel is foreground when its value is non-zero (or equals the chosen label).
// - Boundary voxels: foreground voxels with a face neighbour that is background
//   or outside the volume.
// - Directed distance of a boundary voxel: Euclidean distance in mm between
//   voxel centres to the nearest boundary voxel of the other mask (its whole
//   boundary, whatever the region).
// - Pooled distances: the directed distances of both boundaries together;
//   ABD is their mean, HD their maximum, HD95 the nearest-rank 95th percentile
//   (ascending, element ceil(0.95 n)), surface Dice at t mm the share <= t.
// - Dice = 2|A∩B| / (|A|+|B|), Jaccard = |A∩B| / |A∪B|, both 1 for two empty
//   masks; volumes in mL = voxels x spacing product / 1000; RVD % =
//   100 (V_seg - V_truth) / V_truth, nan for an empty truth.
// - Regions: the truth's occupied slices along z, ordered by their superior
//   coordinate; slice i of n is apex when 3i < n, base when 3i >= 2n, mid
//   otherwise. Slices below the truth count as apex, above it as base, and an
//   empty slice between occupied ones as the region of the occupied slice
//   below it. Overlap measures use the voxels on a region's slices, distance
//   measures the boundary voxels on them. With an empty truth the regions are
//   undefined and every apex, mid and base value is nan.
// - Empty boundaries: one mask empty and the other not gives infinite
//   distances and surface Dice 0; nothing on either side gives distances 0
//   and surface Dice 1.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "evaluation/Masks.h"
#include "volume/Voxel.h"

namespace evaluation {

enum Region : int { kWhole = 0, kApex = 1, kMid = 2, kBase = 3 };
inline constexpr int kRegionCount = 4;
inline constexpr std::array<const char*, kRegionCount> kRegionNames{"whole", "apex", "mid", "base"};

enum Metric : int {
  kDice = 0,
  kJaccard,
  kTruthMl,
  kSegmentationMl,
  kRvdPercent,
  kAbdMm,
  kHd95Mm,
  kHdMm,
  kSurfaceDice1mm,
  kSurfaceDice2mm,
};
inline constexpr int kMetricCount = 10;
// Column names in the result files, in column order.
inline constexpr std::array<const char*, kMetricCount> kMetricNames{
    "dice",   "jaccard", "truth_ml", "segmentation_ml",  "rvd_percent",
    "abd_mm", "hd95_mm", "hd_mm",    "surface_dice_1mm", "surface_dice_2mm"};

using MetricValues = std::array<double, kMetricCount>;
// One set of values per region, indexed by Region.
using CaseMetrics = std::array<MetricValues, kRegionCount>;

// Why two volumes cannot be compared voxel by voxel ("" when they can): size,
// spacing (1e-4 relative), origin (1e-3 mm) and direction (1e-4) must agree.
std::string GeometryMismatch(const CVoxel& truth, const CVoxel& segmentation);

// The region (kApex, kMid or kBase) of every slice z, from the truth's
// foreground count per slice and the slices' superior coordinates. Empty when
// the truth has no foreground.
std::vector<int> SliceRegions(const CVoxel& geometry, const std::vector<std::int64_t>& truthPerSlice);

// ABD, HD95, HD and surface Dice at 1 and 2 mm of a pool of distances, written
// into their places in `values`. The pool is reordered.
void PoolDistances(std::vector<double>& pool, MetricValues& values);

// Every measure of every region; spacing and slice order come from `truth`.
// Callers check GeometryMismatch first; volumes of different sizes or without
// data give nan everywhere.
CaseMetrics Evaluate(const CVoxel& truth, const CVoxel& segmentation, const Foreground& foreground = {});

// Dice overlap of the whole volumes (non-zero voxels); 1 for two empty masks,
// nan for volumes of different sizes.
double Dice(const CVoxel& a, const CVoxel& b);

}  // namespace evaluation
