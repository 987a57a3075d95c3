// Whether a volume's values fit the role it is given: a segmentation holds 0
// and one label value, a scribble map the scribble values (ScribbleValues.h).
// Volumes given in the wrong role (an image as a segmentation, a segmentation
// as a scribble map) are told, not refused: the work goes on as asked.
#pragma once

#include <string>

#include "volume/Voxel.h"

namespace volume {

// What looks wrong about a segmentation, as the end of a sentence that starts
// with its name ("holds 812 different non-zero values (61 to 1865), not one
// label value: is it an image?"); empty when it holds 0 and at most one other value.
std::string SegmentationValuesProblem(const CVoxel& segmentation);

// What looks wrong about a scribble map, as the end of a sentence that starts
// with its name: values other than 0 to 3, or no foreground (2) or background
// (3) scribble at all; empty when neither.
std::string ScribbleValuesProblem(const CVoxel& map);

}  // namespace volume
