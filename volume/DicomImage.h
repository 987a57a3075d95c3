// The DICOM image readers: a stack of slices found by the folder scan
// (DicomScan.h), classic single-frame images or the frames of enhanced
// multi-frame images, decoded by GDCM in every standard transfer syntax.
#pragma once

#include <string>

#include "volume/DicomScan.h"
#include "volume/Voxel.h"

namespace volume::dicom {

// Fills `volume` with the slices of `stack`, in its order: voxel row y is
// image row y, x the column; spacing, origin and direction from the stack.
// Each element is rescaled by its frame's slope and intercept (rounded to
// floor(v + 0.5)). Instances are decoded on every core. Refusals go to the
// sink as "<what> <name>: <why>".
//
// With `plainOnly`, no file is given to GDCM: every instance must be plain
// (its pixels' place in the file known from the scan), and one that cannot be
// read so is refused.
bool ReadDicomStack(CVoxel& volume, const DicomStack& stack, MessageSink* sink, const std::string& what,
                    const std::string& name, bool plainOnly = false);

}  // namespace volume::dicom
