// File dialog filters of the window's commands.
#pragma once

#include <string>

namespace app {

inline constexpr const char* kLoadImageFilter =
    "MR Image Files (*.mhd)|*.mhd|MR Image Files (*.raw)|*.raw|Result Files(*.bin)|*.bin|MR Image Files "
    "(*.IMG)|*.IMG|MR Image Files (*.dcm)|*.dcm|All Files(*.*)|*.*||";
// Load Boundary and Load UI.
inline constexpr const char* kLoadBoundaryFilter =
    "Ground truth Files(*.mhd)|*.mhd|Ground truth Files(*.bin)|*.bin|Ground truth Files (*.raw)|*.raw|DICOM "
    "Segmentation (*.dcm)|*.dcm|All Files(*.*)|*.*||";
inline constexpr const char* kLoadSegmentationFilter =
    "Ground truth Files(*.mhd)|*.mhd|Ground truth Files(*.bin)|*.bin|Ground truth Files(*.hdr)|*.hdr|Ground "
    "truth Files (*.raw)|*.raw|DICOM Segmentation (*.dcm)|*.dcm|All Files(*.*)|*.*||";
// Save Segmentation and Save UI: the writer follows the chosen name's ending.
inline constexpr const char* kSaveFilter = "MetaImage (*.mhd)|*.mhd|NIfTI (*.nii.gz *.nii)|*.nii.gz;*.nii||";
// Save Segmentation when the image came from a DICOM series.
inline constexpr const char* kSaveSegmentationDicomFilter =
    "MetaImage (*.mhd)|*.mhd|NIfTI (*.nii.gz *.nii)|*.nii.gz;*.nii|DICOM Segmentation (*.dcm)|*.dcm||";

}  // namespace app
