// The reference version of the semi-automatic correction.
//
// Every stage is written as plainly as possible: full-size scribble regions,
// whole-volume scans in z, y, x order, the literal quicksort, the literal
// repeated passes of the seed flood fill, float sums where the arithmetic is
// single precision and double sums where it is double. The production engine
// must give the same voxels, and the same bits in every floating-point map.
// Nothing here shares code with the production engine except the volume types
// and the file loader.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "correction/CorrectionDriver.h"  // CorrectionParameters only
#include "volume/Sinks.h"
#include "volume/Voxel.h"

namespace oracle {

// A 4x4 matrix, row-major: element (i, j) at index 4 * i + j. Applied as
// M * (x, y, z, 1)^T.
using Matrix4 = std::array<double, 16>;
Matrix4 IdentityMatrix();

// Wall-clock seconds spent in each stage of one run, summed over references.
struct StageTimes {
  double referenceLoading = 0.0;
  double boundaryLists = 0.0;
  double registration = 0.0;
  double resamplingAndCropping = 0.0;
  double regions = 0.0;
  double distanceMaps = 0.0;
  double probabilityMaps = 0.0;
  double fusion = 0.0;
  double postProcessing = 0.0;
  double Total() const;
};

// ---- Label geometry ------------------------------------------------------------

void EnlargedBoundingBox(const CVoxel& label, const C3DPoint& margin, C3DPoint& minCorner,
                         C3DPoint& maxCorner);
void Centroid(const CVoxel& label, C3DPoint& centre);
// Null unless 0 <= c < dimension and 0 <= c + s <= dimension on every axis, and
// no size component is negative.
std::unique_ptr<CVoxel> Crop(const CVoxel& source, const C3DPoint& minCorner, const C3DPoint& size);
std::unique_ptr<CVoxel> Threshold(const CFVoxel& probabilities, double threshold);
void CopyBox(CVoxel& destination, const C3DPoint& first, const C3DPoint& last, const CVoxel& source);

// ---- Post-processing and boundary lists ----------------------------------------

// Repeated passes over the growing work list, as long as it grows. A seed
// outside the volume gives an all-zero result.
std::unique_ptr<CVoxel> KeepSeedComponent(const CVoxel& label, const C3DPoint& seed);
std::vector<C3DPoint> BoundaryPoints(const CVoxel& label);
std::unique_ptr<CVoxel> Rasterise(const std::vector<C3DPoint>& points, int X, int Y, int Z);

// ---- Registration ---------------------------------------------------------------

// The VTK iterative-closest-point transform from source to target points.
// Mode 0 rigid body, 1 similarity, 2 affine, other values keep VTK's default.
// An empty point list gives the identity.
Matrix4 RegisterSurfaces(const std::vector<C3DPoint>& source, const std::vector<C3DPoint>& target,
                         int iterations, int mode);
// Nearest-neighbour pull of `moving` through the inverse of `matrix` onto an
// X x Y x Z grid.
std::unique_ptr<CVoxel> ResampleByMatrix(const CVoxel& moving, const Matrix4& matrix, int X, int Y, int Z);

// Produces the reference volume of a path; null or a volume without data
// stands for an unreadable reference.
using ReferenceLoader = std::function<std::unique_ptr<CVoxel>(const std::string& path)>;
// The loader of real files (the shared load dispatcher).
std::unique_ptr<CVoxel> LoadReferenceFile(const std::string& path, volume::MessageSink& messages);
// A reference takes part only when it holds data and a voxel > 0.
bool UsableReference(const CVoxel* reference);

// Finite, with a non-zero determinant and a finite inverse.
bool UsableMatrix(const Matrix4& matrix);

// One reference brought onto the segmentation: boundary lists, registration
// (100 iterations, affine), resampling onto the segmentation's grid, crop to
// the reference box. Null, so that the reference does not vote, when the
// registration matrix is not usable or the crop fails. A label without
// boundary voxels (on either side) is taken as it is, through the identity.
std::unique_ptr<CVoxel> RegisterReference(const CVoxel& segmentation, const CVoxel& reference,
                                          const C3DPoint& boxMinimum, const C3DPoint& boxSize,
                                          StageTimes* times = nullptr);
// Every usable reference, in path order. Unreadable references, references
// without a voxel > 0 and references that cannot be registered are left out; an empty path list shows the
// message "There are no reference labels !!".
void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const ReferenceLoader& loader, const C3DPoint& boxMinimum,
                             const C3DPoint& boxSize, CVoxelList& registered, volume::MessageSink& messages,
                             StageTimes* times = nullptr);

// Files below `directory` whose names contain both filters: entries sorted
// byte-wise by name, the files of a folder before its sub-folders, depth
// first. Symbolic links to folders are not followed. False when the directory
// cannot be read.
bool FindReferenceLabels(const std::string& directory, std::vector<std::string>& paths,
                         const std::string& filterA = "mhd", const std::string& filterB = "label");

// ---- Scribble regions -----------------------------------------------------------

std::unique_ptr<CVoxel> SelectValue(const CVoxel& source, int key, int value);
std::unique_ptr<CVoxel> GrowComponent(const CVoxel& mask);
void ExtractRegionsOfOneValue(const CVoxel& filteredMap, int value, double pairDistance,
                              const C3DPoint& margin, CVoxelList& regions, int& count);
void ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation, int foregroundValue,
                            int backgroundValue, double pairDistance, const C3DPoint& margin,
                            CVoxelList& regions, int& foregroundCount, int& backgroundCount);

// ---- Distance maps --------------------------------------------------------------

// d[q] = min over p of ((q - p)^2 + f[p]), lower envelope of parabolas, floats.
void DistanceTransform1D(const float* f, int n, float* d);
// `map` must have the mask's size.
void DistanceTransform(const CVoxel& mask, CFVoxel& map);
void ComputeDistanceMaps(const CVoxelList& regions, const C3DPoint& margin, CFVoxelList& distanceMaps,
                         CPointArray& windowOrigins, CPointArray& windowEnds);

// ---- Probability maps -----------------------------------------------------------

inline constexpr int kOtherForeground = 4;
inline constexpr int kOtherBackground = 5;

// In-place quicksort, descending, of value[lo..hi] carrying index along.
void DescendingPairSort(std::vector<double>& value, std::vector<int>& index, int lo, int hi);
void MarkOtherScribbles(CVoxelList& regions, const CVoxel& interactionMap, const CPointArray& windowOrigins,
                        const CPointArray& windowEnds);
double AgreementScore(const CVoxel& segmentation, const CVoxel& region, int foregroundValue,
                      int backgroundValue, int otherBackgroundValue, const C3DPoint& windowOrigin,
                      const CVoxel& reference, const C3DPoint& boxMinimum, const C3DPoint& translatedOrigin,
                      const C3DPoint& windowSize, double segmentationWeight, double otherScribbleWeight);
// Best score and best translated origin of every reference, in reference
// order; `referenceIndex` becomes 0 ... R-1.
void RankReferences(const CVoxel& segmentation, const CVoxel& region, int foregroundValue,
                    int backgroundValue, double segmentationWeight, double otherScribbleWeight,
                    const C3DPoint& windowOrigin, const C3DPoint& windowEnd, const C3DPoint& lowestOffset,
                    const C3DPoint& highestOffset, const C3DPoint& step, const CVoxelList& references,
                    const C3DPoint& boxMinimum, CPointArray& bestPositions, std::vector<double>& bestScores,
                    std::vector<int>& referenceIndex);
void AccumulateVotes(CFVoxel& accumulator, const CVoxelList& references, const C3DPoint& boxMinimum,
                     const CPointArray& bestPositions, const C3DPoint& windowOrigin,
                     const C3DPoint& windowEnd, const std::vector<int>& rankedIndex, int voters);
std::unique_ptr<CFVoxel> Cut(const CFVoxel& source, const C3DPoint& origin, const C3DPoint& size);
void ComputeProbabilityMaps(CVoxelList& regions, const CVoxel& segmentation, const CVoxel& interactionMap,
                            int votingReferences, int foregroundValue, int backgroundValue,
                            double segmentationWeight, double otherScribbleWeight,
                            const C3DPoint& translationRange, const C3DPoint& translationStep,
                            const CPointArray& windowOrigins, const CPointArray& windowEnds,
                            const CVoxelList& references, const C3DPoint& boxMinimum,
                            CFVoxelList& probabilityMaps);

// ---- Fusion ---------------------------------------------------------------------

// Null when the map and the segmentation differ in size or the lists hold
// fewer than foregroundCount + backgroundCount entries.
std::unique_ptr<CFVoxel> Fuse(const CVoxel& interactionMap, const CVoxel& segmentation,
                              const CFVoxelList& distanceMaps, const CFVoxelList& probabilityMaps,
                              const CPointArray& windowOrigins, const CPointArray& windowEnds,
                              int foregroundCount, int backgroundCount, double priorDistance,
                              double distanceScale);

// ---- Manual correction ----------------------------------------------------------

// Both leave the target unchanged when the sizes differ.
void MergeStrokes(CVoxel& accumulatedMap, const CVoxel& strokeMap);
void ApplyScribbles(CVoxel& segmentation, const CVoxel& accumulatedMap);

// ---- The whole run --------------------------------------------------------------

// The driver with references produced by `loader`. Refuses (false, message,
// segmentation untouched) a volume without data, maps of another size and an
// empty segmentation.
bool SemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                             const std::vector<std::string>& referencePaths, const ReferenceLoader& loader,
                             const fusion::CorrectionParameters& parameters, volume::LogSink& log,
                             volume::MessageSink& messages, StageTimes* times = nullptr);

}  // namespace oracle

// The driver reading the references from their files.
bool OracleSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                   const std::vector<std::string>& referencePaths,
                                   const fusion::CorrectionParameters& parameters, volume::LogSink& log,
                                   volume::MessageSink& messages, oracle::StageTimes* times = nullptr);
