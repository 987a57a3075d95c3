// The recovery file's format: a bit-for-bit round trip, and every damaged or
// cut-short file refused before anything is allocated.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>

#include "../volume/TestVolumes.h"
#include "session/CaseSession.h"
#include "session/RecoveryState.h"

namespace {

using testvolumes::MakeBox;

session::RecoveryState FullState() {
  session::RecoveryState state;
  state.imagePath = "/cases/p01/image.mhd";
  state.segmentationPath = "/cases/p01/seg ü.nii.gz";
  state.boundaryPath = "/cases/p01/truth.mhd";
  state.referenceDir = "/refs";
  state.mode = 0;
  state.marking = true;
  state.brush3D = true;
  state.brushSize = 7;
  state.lastEdit = 1765000000;
  auto segmentation = std::make_shared<CVoxel>(MakeBox(20, 16, 5, 3, 12, 2, 9, 1, 4));
  segmentation->spacing[0] = 0.5f;
  segmentation->origin[2] = -12.25f;
  const double axes[3][3] = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}};
  segmentation->SetDirection(axes);
  segmentation->niftiQformCode = 1;
  segmentation->niftiSformCode = 2;
  // Every voxel value, negative ones included, survives.
  segmentation->At(0, 0, 0) = -32768;
  segmentation->At(19, 15, 4) = 32767;
  state.segmentation = segmentation;
  auto strokes = std::make_shared<CVoxel>(20, 16, 5);
  for (int x = 2; x < 17; ++x) strokes->At(x, 7, 2) = static_cast<CVoxel::value_type>(1 + x % 2);
  state.strokeMap = strokes;
  return state;
}

TEST(RecoveryState, RoundTripIsBitForBit) {
  const session::RecoveryState state = FullState();
  const auto bytes = session::EncodeRecoveryState(state);
  session::RecoveryState read;
  std::string error;
  ASSERT_TRUE(session::DecodeRecoveryState(bytes.data(), bytes.size(), read, error)) << error;
  EXPECT_EQ(read.imagePath, state.imagePath);
  EXPECT_EQ(read.segmentationPath, state.segmentationPath);
  EXPECT_EQ(read.boundaryPath, state.boundaryPath);
  EXPECT_EQ(read.referenceDir, state.referenceDir);
  EXPECT_EQ(read.mode, 0);
  EXPECT_TRUE(read.marking);
  EXPECT_TRUE(read.brush3D);
  EXPECT_EQ(read.brushSize, 7);
  EXPECT_EQ(read.lastEdit, state.lastEdit);
  ASSERT_TRUE(read.segmentation && read.strokeMap);
  EXPECT_TRUE(session::SameVolume(*read.segmentation, *state.segmentation));
  EXPECT_TRUE(session::SameVolume(*read.strokeMap, *state.strokeMap));
  EXPECT_EQ(session::EncodeRecoveryState(read), bytes);

  // Without volumes (a case whose segmentation is its file, no stroke map).
  session::RecoveryState bare;
  bare.imagePath = "i.mhd";
  const auto bareBytes = session::EncodeRecoveryState(bare);
  ASSERT_TRUE(session::DecodeRecoveryState(bareBytes.data(), bareBytes.size(), read, error)) << error;
  EXPECT_FALSE(read.segmentation);
  EXPECT_FALSE(read.strokeMap);
  EXPECT_EQ(read.imagePath, "i.mhd");
}

// A case in any correction mode is given back in it; a mode no version writes is refused.
TEST(RecoveryState, EveryCorrectionModeIsKept) {
  for (const session::CorrectionMode mode :
       {session::CorrectionMode::kSemiAutomatic, session::CorrectionMode::kManual,
        session::CorrectionMode::kSemiAutomaticMillimetre}) {
    session::RecoveryState state;
    state.imagePath = "i.mhd";
    state.mode = static_cast<int>(mode);
    const auto bytes = session::EncodeRecoveryState(state);
    session::RecoveryState read;
    std::string error;
    ASSERT_TRUE(session::DecodeRecoveryState(bytes.data(), bytes.size(), read, error)) << error;
    EXPECT_EQ(read.mode, state.mode);
  }
  session::RecoveryState unknown;
  unknown.mode = 3;
  const auto bytes = session::EncodeRecoveryState(unknown);
  session::RecoveryState read;
  std::string error;
  EXPECT_FALSE(session::DecodeRecoveryState(bytes.data(), bytes.size(), read, error));
  EXPECT_EQ(error, "the case's settings are damaged");
}

TEST(RecoveryState, EveryCutAndEveryDamagedByteIsRefused) {
  const auto bytes = session::EncodeRecoveryState(FullState());
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    session::RecoveryState read;
    read.imagePath = "untouched";
    std::string error;
    ASSERT_FALSE(session::DecodeRecoveryState(bytes.data(), length, read, error)) << length;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(read.imagePath, "untouched");
    EXPECT_FALSE(read.segmentation);
  }
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    auto damaged = bytes;
    damaged[at] ^= 0x20;
    session::RecoveryState read;
    std::string error;
    EXPECT_FALSE(session::DecodeRecoveryState(damaged.data(), damaged.size(), read, error)) << at;
  }
  auto longer = bytes;
  longer.push_back(0);
  session::RecoveryState read;
  std::string error;
  EXPECT_FALSE(session::DecodeRecoveryState(longer.data(), longer.size(), read, error));
  EXPECT_EQ(error, "the file has extra bytes");
}

TEST(RecoveryState, AnotherVersionIsNamedAsSuch) {
  auto bytes = session::EncodeRecoveryState(FullState());
  bytes[8] = 2;  // the version follows the 8-byte magic
  session::RecoveryState read;
  std::string error;
  EXPECT_FALSE(session::DecodeRecoveryState(bytes.data(), bytes.size(), read, error));
  EXPECT_NE(error.find("another version"), std::string::npos) << error;
}

TEST(RecoveryState, AHugeSizeWithAValidChecksumIsRefusedBeforeAllocating) {
  // A payload that claims a volume of 2^33 voxels covered by one run each of
  // 2^32 - 1: the checksum is right, the runs cannot cover it.
  session::RecoveryState state;
  state.strokeMap = std::make_shared<CVoxel>(4, 4, 4);
  auto bytes = session::EncodeRecoveryState(state);
  // Locate the stroke map's size: after the four empty texts (4 x 4 bytes),
  // mode, two flags, brush, time (4 + 1 + 1 + 4 + 8), the absent segmentation
  // (1) and the stroke map's marker (1).
  const std::size_t at = session::kRecoveryHeaderBytes + 16 + 18 + 1 + 1;
  const std::int32_t huge = 1 << 20;
  for (int axis = 0; axis < 3; ++axis) std::memcpy(&bytes[at + 4 * axis], &huge, 4);
  // Recompute the checksum so that only the size is wrong.
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), bytes.data() + session::kRecoveryHeaderBytes,
                          static_cast<uInt>(bytes.size() - session::kRecoveryHeaderBytes));
  const auto crc32Value = static_cast<std::uint32_t>(crc);
  std::memcpy(&bytes[20], &crc32Value, 4);
  session::RecoveryState read;
  std::string error;
  EXPECT_FALSE(session::DecodeRecoveryState(bytes.data(), bytes.size(), read, error));
  EXPECT_EQ(error, "a volume is larger than any case");
}

TEST(RecoveryState, ALargeCaseWithAFewStrokesStaysSmall) {
  // 512 x 512 x 32 with a corrected (ellipsoid) segmentation and five strokes.
  const int X = 512, Y = 512, Z = 32;
  auto segmentation = std::make_shared<CVoxel>(X, Y, Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) {
        const double dx = (x - 256) / 120.0, dy = (y - 240) / 100.0, dz = (z - 16) / 12.0;
        if (dx * dx + dy * dy + dz * dz <= 1.0) segmentation->At(x, y, z) = 1;
      }
  auto strokes = std::make_shared<CVoxel>(X, Y, Z);
  for (int s = 0; s < 5; ++s)
    for (int z = 10 + s; z < 13 + s; ++z)
      for (int y = 200 + 20 * s; y < 206 + 20 * s; ++y)
        for (int x = 150; x < 350; ++x) strokes->At(x, y, z) = static_cast<CVoxel::value_type>(1 + s % 2);
  session::RecoveryState state;
  state.segmentation = segmentation;
  state.strokeMap = strokes;
  const auto bytes = session::EncodeRecoveryState(state);
  EXPECT_LT(bytes.size(), 1000u * 1000u);
}

}  // namespace
