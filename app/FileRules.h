// File dialog filters of the window's commands and the ".mhd" rule of the save commands.
#pragma once

#include <string>

inline constexpr const char* kLoadImageFilter =
    "MR Image Files (*.mhd)|*.mhd|MR Image Files (*.raw)|*.raw|Result Files(*.bin)|*.bin|MR Image Files "
    "(*.IMG)|*.IMG|MR Image Files (*.dcm)|*.dcm|All Files(*.*)|*.*||";
// Load Boundary and Load UI.
inline constexpr const char* kLoadBoundaryFilter =
    "Ground truth Files(*.mhd)|*.mhd|Ground truth Files(*.bin)|*.bin|Ground truth Files (*.raw)|*.raw|All "
    "Files(*.*)|*.*||";
inline constexpr const char* kLoadSegmentationFilter =
    "Ground truth Files(*.mhd)|*.mhd|Ground truth Files(*.bin)|*.bin|Ground truth Files(*.hdr)|*.hdr|Ground "
    "truth Files (*.raw)|*.raw|All Files(*.*)|*.*||";
// Save Segmentation and Save UI.
inline constexpr const char* kSaveFilter = "Select Seed Mask Save Path(*.mhd)|*.mhd|";

// The header path a save command writes: the chosen path, with ".mhd" appended
// unless the text after its last "." is exactly "mhd".
std::string WithMhdExtension(const std::string& path);
