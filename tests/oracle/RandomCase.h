// Small random correction cases for the equality tests: a blobby label, a few
// reference labels of the same kind (each with its own size), and scribble
// strokes of both kinds, many of them contradicting the label.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "correction/CorrectionDriver.h"  // CorrectionParameters only
#include "volume/Voxel.h"

namespace oracle {

struct RandomCaseOptions {
  int minSize[3] = {16, 16, 6};
  int maxSize[3] = {36, 36, 14};
  int references = 4;
  int strokes = 5;
  // Margins, translation range and step scaled down so that a case runs in
  // well under a second; false keeps the worker's fixed parameters.
  bool smallParameters = true;
};

struct RandomCase {
  CVoxel segmentation;
  CVoxel interactionMap;
  std::vector<CVoxel> references;
  fusion::CorrectionParameters parameters;
  std::string description;  // seed and sizes, for failure messages
};

RandomCase MakeRandomCase(std::uint32_t seed, const RandomCaseOptions& options = {});

// Reference labels that cannot vote or that strain the registration, by name:
// "unreadable" (no data), "empty" (all zero), "negative" (only values < 0),
// "flat" (a square on one slice), "line", "dot" (one voxel), "full" (no
// boundary voxel). Null for any other name.
std::unique_ptr<CVoxel> OddReference(const std::string& kind);
inline const std::vector<std::string> kOddReferences = {"unreadable", "empty", "negative", "flat",
                                                        "line",       "dot",   "full"};

}  // namespace oracle
