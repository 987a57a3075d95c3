// What a window keeps in its recovery file so that a crash, a kill or a lost
// session costs nothing: the paths of the case's files, the segmentation where
// it differs from the file it came from, the stroke map, the correction mode,
// the brush and the reference folder.
//
// The file is a fixed header (magic, format version, payload length, CRC-32 of
// the payload) followed by the payload; volumes are stored as runs of equal
// voxels, so a case with a few strokes takes a few hundred kilobytes at most.
// Decoding checks everything before it allocates: a file cut short, changed
// or of another version is refused with a reason, never half read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/Voxel.h"

namespace session {

struct RecoveryState {
  std::string imagePath;
  std::string segmentationPath;  // empty: no segmentation was loaded
  std::string boundaryPath;      // empty: no boundary was loaded
  std::string referenceDir;
  int mode = 1;  // CorrectionMode as a number (0 semi-automatic, 1 manual, 2 semi-automatic in mm)
  bool marking = false;
  bool brush3D = false;
  int brushSize = 2;
  std::int64_t lastEdit = 0;  // seconds since 1970 (UTC)
  // Null: the segmentation is the file at segmentationPath, unchanged.
  std::shared_ptr<const CVoxel> segmentation;
  // Null: there is no stroke map.
  std::shared_ptr<const CVoxel> strokeMap;
};

inline constexpr std::uint32_t kRecoveryFormatVersion = 1;
// The largest correction mode number a recovery file may hold.
inline constexpr int kRecoveryLargestMode = 2;
// Header: 8 bytes magic, 4 version, 8 payload length, 4 CRC-32.
inline constexpr std::size_t kRecoveryHeaderBytes = 24;
// The largest volume a recovery file may describe (voxels): what the loaders accept too.
inline constexpr std::uint64_t kRecoveryMaxVoxels = std::uint64_t{1} << 31;

std::vector<unsigned char> EncodeRecoveryState(const RecoveryState& state);
// False with `error` set when the bytes are not one complete recovery state of
// this version; `state` is then left as it was.
bool DecodeRecoveryState(const unsigned char* bytes, std::size_t size, RecoveryState& state,
                         std::string& error);
// Whether two volumes have the same size and geometry (exactly, as the file keeps them).
bool SameGrid(const CVoxel& a, const CVoxel& b);
// Whether two volumes have the same size, geometry and voxels.
bool SameVolume(const CVoxel& a, const CVoxel& b);

}  // namespace session
