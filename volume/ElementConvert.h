// Conversion of file elements of any width to the signed 16-bit voxels of CVoxel.
#pragma once

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace volume {

enum class ElementKind { UInt8, Int8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float32, Float64 };

int ElementBytes(ElementKind kind);
bool IsFloatKind(ElementKind kind);
// Kinds wider than 16 bits whose values may not fit a voxel.
bool IsWideIntegerKind(ElementKind kind);

// The conversion of an integer-valued double to a 32-bit int as the processor
// performs it (NaN and out-of-range values give INT_MIN), keeping the low 16 bits.
inline std::int16_t Low16OfInt32(double v) {
  const std::int32_t i = (v >= -2147483648.0 && v < 2147483648.0) ? static_cast<std::int32_t>(v) : INT32_MIN;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(i)));
}
// Truncation toward zero, low 16 bits kept.
inline std::int16_t TruncateToVoxel(double v) { return Low16OfInt32(v); }
// floor(v + 0.5), low 16 bits kept. The sum is formed in double, which is exact for float inputs.
inline std::int16_t RoundToVoxel(double v) { return Low16OfInt32(std::floor(v + 0.5)); }
// Low 16 bits of an integer.
inline std::int16_t Low16(std::int64_t v) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(v)));
}

enum class FloatRule { Truncate, Round };

// What a conversion saw, accumulated over successive calls.
struct ConvertReport {
  // Integer elements outside -32768..32767 (their low 16 bits were kept).
  bool wrapped = false;
  // For float kinds with trackRange: the extremes, updated by the rule "a value greater
  // than the maximum makes the maximum its converted value" (likewise the minimum).
  bool trackRange = false;
  std::int16_t maximum = -32768;
  std::int16_t minimum = 32767;
};

// Converts n elements stored at src (unaligned, in the host's byte order unless
// swapBytes) into dst. Unsigned 16-bit elements keep their bits (40000 becomes -25536).
void ConvertElements(const unsigned char* src, std::size_t n, ElementKind kind, bool swapBytes,
                     FloatRule rule, std::int16_t* dst, ConvertReport& report);

// Converts n elements (host byte order) to slope * v + intercept rounded to
// floor(x + 0.5); results outside -32768..32767 keep their low 16 bits and
// set report.wrapped.
void ConvertRescaled(const unsigned char* src, std::size_t n, ElementKind kind, double slope,
                     double intercept, std::int16_t* dst, ConvertReport& report);

enum class ElementStorage;

// Bytes per stored element.
int StoredBytes(ElementStorage storage);
// Stores n voxels as the writers do: the low byte of each (-1 as 255), or both
// bytes, least significant first.
void StoreElements(const std::int16_t* voxels, std::size_t n, ElementStorage storage, unsigned char* out);

}  // namespace volume
