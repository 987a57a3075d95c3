// The writers besides CVoxel::SaveMetaImage. Every writer keeps the volume's
// geometry (unset geometry is written as spacing 1, origin 0, identity).
//
// Every writer puts header and data into temporary files beside their targets
// and rename them into place only when both are complete: a failed write never
// destroys what was there and is returned as false.
#pragma once

#include <string>

#include "volume/Voxel.h"

// How voxels are stored: the low byte of each (labels and scribble maps, as
// the window's saves write them; -1 becomes 255), or all 16 bits (lossless).
namespace volume {
enum class ElementStorage { UnsignedByte, Short };
}  // namespace volume

// MetaImage with MET_UCHAR or MET_SHORT elements (CVoxel::SaveMetaImage is
// the first, without the reason for a failure); a header path ending in ".mha"
// gets the voxels in the same file.
bool SaveMetaImage(const CVoxel& volume, const std::string& headerPath, volume::ElementStorage storage,
                   std::string* error = nullptr);

namespace volume {

// MetaImage with MET_SHORT elements.
// The data file is the header path with its extension replaced by ".raw".
bool SaveMetaImageShort(const CVoxel& volume, const std::string& headerPath, std::string* error = nullptr);

// The own 16-bit raw format with the 40-byte header (spacing, origin, X, Y, Z).
bool SaveRaw16(const CVoxel& volume, const std::string& path, std::string* error = nullptr);

// The header path the save commands write: the chosen path, with ".mhd"
// appended unless the text after its last "." is exactly "mhd".
std::string WithMhdExtension(const std::string& path);

// Whether a save path asks for NIfTI: its name ends in ".nii" or ".nii.gz" (any case).
bool IsNiftiPath(const std::string& path);

// NIfTI-1 in one file (".nii", or gzip-compressed when the path ends in ".gz")
// through nifticlib's header layout: uint8 or int16 voxels, no scaling, qform
// and sform from the geometry (LPS turned into NIfTI's RAS). The codes are the
// source's when the volume was read from NIfTI or Analyze (0 and 0 leave the
// placement to pixdim, as in the source), else 1 and 1.
bool SaveNifti(const CVoxel& volume, const std::string& path, ElementStorage storage,
               std::string* error = nullptr);

// Whether a save path asks for MetaImage in one file: its name ends in ".mha"
// (any case); the voxels follow the header ("ElementDataFile = LOCAL").
bool IsOneFileMetaImagePath(const std::string& path);

// The file the save commands write for a chosen path: the path itself for
// NIfTI, one-file MetaImage and DICOM Segmentation (".dcm"), WithMhdExtension(path)
// for MetaImage (the header).
std::string SavedPathFor(const std::string& path);

// Why a save command's chosen path is refused before ".mhd" could be appended
// to it: a name ending in "/" or naming an existing folder (through links)
// would become a hidden "DIR/.mhd" or "DIR.mhd". Empty when it is not.
std::string SavePathProblem(const std::string& path);

// `storage`, or Short when a voxel lies outside what `storage` holds (unsigned
// bytes hold 0..255), so that no save changes a value.
ElementStorage StorageThatFits(const CVoxel& volume, ElementStorage storage);

// The line that says a save was widened: "Saved [PATH] with 16-bit voxels: its
// values do not fit in 0..255".
std::string WidenedSaveText(const std::string& written);

// The save commands' writer: NIfTI when IsNiftiPath(path), otherwise MetaImage
// (in one file for ".mha", else with its ".raw" data file at
// WithMhdExtension(path)). *written receives SavedPathFor(path). The voxels are
// stored as StorageThatFits(volume, storage); *widened (if given) says whether
// that is wider than `storage`. A path SavePathProblem refuses is a failure. A
// ".dcm" path is refused: a DICOM Segmentation needs the image it segments
// (SaveLabelAs in volume/DicomSeg.h).
bool SaveVolumeAs(const CVoxel& volume, const std::string& path, ElementStorage storage,
                  std::string* written = nullptr, std::string* error = nullptr, bool* widened = nullptr);

}  // namespace volume
