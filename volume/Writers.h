// Lossless writers used by the command-line tools (the window's save commands
// use CVoxel::SaveMetaImage, which writes unsigned bytes).
//
// Both writers put header and data into temporary files beside their targets
// and rename them into place only when both are complete: a failed write never
// destroys what was there and is returned as false.
#pragma once

#include <string>

#include "volume/Voxel.h"

// MetaImage with MET_SHORT elements, spacing and origin ("Offset") kept.
// The data file is the header path with its extension replaced by ".raw".
bool SaveMetaImageShort(const CVoxel& volume, const std::string& headerPath, std::string* error = nullptr);

// The own 16-bit raw format with the 40-byte header (spacing, origin, X, Y, Z).
bool SaveRaw16(const CVoxel& volume, const std::string& path, std::string* error = nullptr);

// The header path the save commands write: the chosen path, with ".mhd"
// appended unless the text after its last "." is exactly "mhd".
std::string WithMhdExtension(const std::string& path);
