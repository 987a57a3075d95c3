// DICOM Segmentation objects (Segmentation Storage): a label volume written
// as a binary SEG of the DICOM series it segments, and a SEG read back as a
// label volume on the grid of that series.
#pragma once

#include <string>
#include <string_view>

#include "volume/Voxel.h"

// How the segmentation was made, as the SEG's segment records it.
namespace volume {

enum class SegAlgorithm { Manual, SemiAutomatic };

// Whether `path` names a file whose name ends in ".dcm" (any case): the save
// commands write a SEG for such a path.
bool IsDicomSegPath(std::string_view path);

// Whether `path` is a regular file holding a DICOM Segmentation object
// (SOP Class 1.2.840.10008.5.1.4.1.1.66.4). Reads only the file's first elements.
bool IsDicomSegmentation(const std::string& path);

// Writes `label` (inside: voxels > 0) as a binary SEG with one segment,
// "Prostate", of the DICOM series `imagePath` belongs to (a file of it, or its
// folder): one frame per slice (empty ones included), the patient, study and
// frame of reference of the series, new series and instance UIDs. The label
// must lie on the series' grid as Corvane reads it; otherwise nothing is
// written and *error says why. Written under a temporary name and renamed.
bool SaveDicomSegmentation(const CVoxel& label, const std::string& imagePath, SegAlgorithm algorithm,
                           const std::string& path, std::string* error = nullptr);

// The save commands' writer for a label: a SEG of the DICOM image
// `imagePath` when IsDicomSegPath(path), otherwise SaveVolumeAs with byte
// voxels. *written receives the file written (or that would have been).
bool SaveLabelAs(const CVoxel& label, const std::string& path, const std::string& imagePath,
                 SegAlgorithm algorithm, std::string* written = nullptr, std::string* error = nullptr);

// Whether the load dispatcher reads `path` as a DICOM image series (a file
// of it, or its folder), so that a SEG may refer to it; a SEG itself is none.
bool IsDicomImage(const std::string& path);

// Whether a SEG can be written for `label` from `imagePath` (same checks as
// SaveDicomSegmentation, nothing written). False with *why otherwise.
bool CanSaveDicomSegmentation(const CVoxel& label, const std::string& imagePath, std::string* why);

// Reads the first segment of a SEG as a label volume (1 inside, 0 elsewhere)
// on the grid Corvane's reader gives the series it references. That series
// is looked for in the SEG's folder, the folders below it and the other
// folders of its parent; when it is not found, the grid comes from the SEG's
// own frames (laid out as the DICOM reader lays out a series) and the sink is
// told so in one line. Frames the SEG leaves out are 0.
bool ReadDicomSegmentation(CVoxel& volume, const std::string& path, MessageSink* sink);

// What a SEG holds, for `corvane-volume info`.
struct DicomSegSummary {
  std::string segmentLabel;  // of the first segment
  int segments = 0;
  int frames = 0;  // all frames
  int framesOfFirstSegment = 0;
  std::string referencedSeries;  // Series Instance UID of the segmented series ("" when not named)
};
bool DescribeDicomSegmentation(const std::string& path, DicomSegSummary* summary, std::string* why);

}  // namespace volume
