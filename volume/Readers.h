// The load dispatcher and every volume reader.
//
// Each reader fills the given volume (normally a fresh, empty one) and returns
// whether it succeeded. A reader that fails leaves the volume without data
// (HasData() false) and tells the message sink why, except when the file named
// by the path cannot be opened at all (missing, no permission): that is left to
// the caller, which sees a volume without data and can ask FileCauseFromErrno
// about the path. A path that names a folder, FIFO or device where a file is
// expected is refused with a message at once, without opening it.
// The sink may be null.
#pragma once

#include <cstdio>
#include <string>

#include "volume/Voxel.h"

namespace volume {

enum class VolumeFormat { ByteRaw, ShortRaw, MetaImage, AnalyzeNifti, Image2048, DicomSeries };

// The reader for a path, chosen by its last three characters (case-sensitive):
// "bin"/"BIN" bytes raw; "raw"/"RAW"/"lab"/"LAB" 16-bit raw; "mhd"/"MHD"/"mha"/"MHA"
// MetaImage; "hdr"/"HDR"/"nii"/"NII"/".gz"/".GZ" Analyze/NIfTI; "img"/"IMG" the
// 2048 x 2048 image; anything else the DICOM series in the file's folder.
VolumeFormat FormatForPath(const std::string& path);

}  // namespace volume

// Runs the reader volume::FormatForPath picks. Used by the load constructor of CVoxel.
bool LoadVolume(CVoxel& volume, const std::string& path, volume::MessageSink* sink);

// MetaImage header with its data file (or the data after the header, LOCAL).
bool ReadMetaImage(CVoxel& volume, const std::string& headerPath, volume::MessageSink* sink);

// The own raw format (12- or 40-byte header) with 1 (unsigned) or 2 (signed,
// little-endian) bytes per voxel.
bool ReadRawVolume(CVoxel& volume, const std::string& path, int bytesPerVoxel, volume::MessageSink* sink);

// Analyze 7.5 (.hdr/.img) and NIfTI-1 (.nii, .nii.gz) through nifticlib.
bool ReadAnalyzeNifti(CVoxel& volume, const std::string& path, volume::MessageSink* sink);

// One 2048 x 2048 big-endian unsigned 16-bit slice without header.
bool ReadImage2048(CVoxel& volume, const std::string& path, volume::MessageSink* sink);

// Every DICOM file in the folder of `path` (or in `path` itself when it is a
// folder) as one series, each slice turned upside down.
bool ReadDicomSeries(CVoxel& volume, const std::string& path, volume::MessageSink* sink);

namespace volume {

// ReadMetaImage with the header read from an open stream; headerPath locates
// the data file and names the file in messages.
bool ReadMetaImageStream(CVoxel& volume, std::FILE* header, const std::string& headerPath, MessageSink* sink);

// ReadRawVolume from an open stream; `name` names it in messages.
bool ReadRawVolumeStream(CVoxel& volume, std::FILE* stream, int bytesPerVoxel, const std::string& name,
                         MessageSink* sink);

}  // namespace volume
