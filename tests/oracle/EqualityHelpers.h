// Voxel-for-voxel and bit-for-bit comparisons that say where two results part.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "volume/Voxel.h"

namespace oracle {

inline std::string Position(int X, int Y, std::size_t i) {
  const std::size_t x = i % static_cast<std::size_t>(X);
  const std::size_t y = (i / static_cast<std::size_t>(X)) % static_cast<std::size_t>(Y);
  const std::size_t z = i / (static_cast<std::size_t>(X) * static_cast<std::size_t>(Y));
  return "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(z) + ")";
}

inline ::testing::AssertionResult SameVoxels(const CVoxel& production, const CVoxel& oracle) {
  if (!production.SameSize(oracle) || production.HasData() != oracle.HasData()) {
    return ::testing::AssertionFailure()
           << "sizes differ: " << production.X << "x" << production.Y << "x" << production.Z << " vs "
           << oracle.X << "x" << oracle.Y << "x" << oracle.Z;
  }
  for (std::size_t i = 0; i < production.VoxelCount(); ++i) {
    if (production[i] != oracle[i]) {
      return ::testing::AssertionFailure() << "voxel " << Position(production.X, production.Y, i)
                                           << ": production " << production[i] << ", oracle " << oracle[i];
    }
  }
  return ::testing::AssertionSuccess();
}

inline std::string Bits(float v) {
  char text[64];
  std::snprintf(text, sizeof text, "%a (%.9g)", static_cast<double>(v), static_cast<double>(v));
  return text;
}

// Equal bit patterns: +0 and -0 differ, and so do NaN payloads.
inline ::testing::AssertionResult SameBits(const CFVoxel& production, const CFVoxel& oracle) {
  if (production.Size() != oracle.Size() || production.HasData() != oracle.HasData()) {
    return ::testing::AssertionFailure()
           << "sizes differ: " << production.X << "x" << production.Y << "x" << production.Z << " vs "
           << oracle.X << "x" << oracle.Y << "x" << oracle.Z;
  }
  for (std::size_t i = 0; i < production.VoxelCount(); ++i) {
    const float a = production[i];
    const float b = oracle[i];
    if (std::memcmp(&a, &b, sizeof a) != 0) {
      return ::testing::AssertionFailure() << "voxel " << Position(production.X, production.Y, i)
                                           << ": production " << Bits(a) << ", oracle " << Bits(b);
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace oracle
