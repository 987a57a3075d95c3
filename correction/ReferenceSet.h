// Registration of the reference labels onto the current segmentation. The
// discovery of the reference files is declared in CorrectionDriver.h.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "correction/BoundaryPoints.h"
#include "correction/CorrectionTimes.h"
#include "correction/Registration.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

// Reads a volume; a failed read gives null or a volume without data.
using VolumeLoader = std::function<std::unique_ptr<CVoxel>(const std::string& path)>;

// Why a reference label cannot vote.
enum class ReferenceProblem { None, Unreadable, EmptyLabel, NotRegistrable, OutsideBox };

// Registers one reference onto the segmentation whose boundary points are
// given, resamples it into a grid of `segmentationSize` and crops it to the
// box [boxMinimum, boxMinimum + boxSize). Null, with the reason in `problem`,
// when the reference cannot be used: no data, no voxel > 0, or a registration
// matrix that cannot be inverted. A label without boundary voxels (on either
// side) is used with the identity.
// Only the box is resampled. Step times are added to `times` when given.
std::unique_ptr<CVoxel> RegisterReferenceLabel(const CVoxel& reference,
                                               const CBoundaryPoints& segmentationBoundary,
                                               const C3DPoint& segmentationSize, const C3DPoint& boxMinimum,
                                               const C3DPoint& boxSize, ReferenceProblem& problem,
                                               CorrectionTimes* times = nullptr);
// The same onto a registration target built once for every reference.
std::unique_ptr<CVoxel> RegisterReferenceLabel(const CVoxel& reference,
                                               const CRegistrationTarget& segmentation,
                                               const C3DPoint& segmentationSize, const C3DPoint& boxMinimum,
                                               const C3DPoint& boxSize, ReferenceProblem& problem,
                                               CorrectionTimes* times = nullptr);

// Loads, registers and crops every listed reference, appending one volume of
// the box's size per usable reference to `registered` in list order (never a
// null entry). The references that cannot be used are named in one message;
// an empty path list gives "There are no reference labels !!". References are
// handled on `threads` threads at once (0: every core), so `load` must be safe
// to call from several threads; the result does not depend on their number.
void RegisterReferenceLabels(const CVoxel& segmentation, const std::vector<std::string>& paths,
                             const C3DPoint& boxMinimum, const C3DPoint& boxSize, const VolumeLoader& load,
                             CVoxelList& registered, MessageSink& messages, int threads = 0,
                             CorrectionTimes* times = nullptr);
