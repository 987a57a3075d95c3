#include "volume/ElementConvert.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "volume/Writers.h"

namespace volume {

int ElementBytes(ElementKind kind) {
  switch (kind) {
    case ElementKind::UInt8:
    case ElementKind::Int8:
      return 1;
    case ElementKind::Int16:
    case ElementKind::UInt16:
      return 2;
    case ElementKind::Int32:
    case ElementKind::UInt32:
    case ElementKind::Float32:
      return 4;
    case ElementKind::Int64:
    case ElementKind::UInt64:
    case ElementKind::Float64:
      return 8;
  }
  return 1;
}

bool IsFloatKind(ElementKind kind) { return kind == ElementKind::Float32 || kind == ElementKind::Float64; }

bool IsWideIntegerKind(ElementKind kind) {
  return kind == ElementKind::Int32 || kind == ElementKind::UInt32 || kind == ElementKind::Int64 ||
         kind == ElementKind::UInt64;
}

namespace {

template <typename T>
T Load(const unsigned char* p, bool swap) {
  using U = std::conditional_t<
      sizeof(T) == 1, std::uint8_t,
      std::conditional_t<sizeof(T) == 2, std::uint16_t,
                         std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
  U bits;
  std::memcpy(&bits, p, sizeof(U));
  if constexpr (sizeof(T) == 2) {
    if (swap) bits = __builtin_bswap16(bits);
  } else if constexpr (sizeof(T) == 4) {
    if (swap) bits = __builtin_bswap32(bits);
  } else if constexpr (sizeof(T) == 8) {
    if (swap) bits = __builtin_bswap64(bits);
  }
  return std::bit_cast<T>(bits);
}

template <typename T>
void ConvertIntegers(const unsigned char* src, std::size_t n, bool swap, std::int16_t* dst,
                     ConvertReport& report) {
  bool wrapped = false;
  for (std::size_t i = 0; i < n; ++i) {
    const T v = Load<T>(src + i * sizeof(T), swap);
    if constexpr (sizeof(T) > 2) {
      if constexpr (std::is_signed_v<T>) {
        wrapped |= v < -32768 || v > 32767;
      } else {
        wrapped |= v > 32767u;
      }
      dst[i] = Low16(static_cast<std::int64_t>(v));
    } else {
      dst[i] = static_cast<std::int16_t>(v);
    }
  }
  report.wrapped |= wrapped;
}

template <typename T, bool Swap, FloatRule Rule, bool Track>
void ConvertFloatsAs(const unsigned char* src, std::size_t n, std::int16_t* dst, ConvertReport& report) {
  // The extremes are compared as doubles, which keeps the int-to-double
  // conversion out of the loop-carried chain.
  double maximum = report.maximum;
  double minimum = report.minimum;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = Load<T>(src + i * sizeof(T), Swap);
    const std::int16_t s = Rule == FloatRule::Truncate ? TruncateToVoxel(v) : RoundToVoxel(v);
    dst[i] = s;
    if constexpr (Track) {
      const double converted = s;
      maximum = v > maximum ? converted : maximum;
      minimum = v < minimum ? converted : minimum;
    }
  }
  report.maximum = static_cast<std::int16_t>(maximum);
  report.minimum = static_cast<std::int16_t>(minimum);
}

// Picks a loop with the byte order, rounding rule and range tracking fixed.
template <typename T>
void ConvertFloats(const unsigned char* src, std::size_t n, bool swap, FloatRule rule, std::int16_t* dst,
                   ConvertReport& report) {
  const bool truncate = rule == FloatRule::Truncate;
  if (report.trackRange) {
    if (truncate) {
      return swap ? ConvertFloatsAs<T, true, FloatRule::Truncate, true>(src, n, dst, report)
                  : ConvertFloatsAs<T, false, FloatRule::Truncate, true>(src, n, dst, report);
    }
    return swap ? ConvertFloatsAs<T, true, FloatRule::Round, true>(src, n, dst, report)
                : ConvertFloatsAs<T, false, FloatRule::Round, true>(src, n, dst, report);
  }
  if (truncate) {
    return swap ? ConvertFloatsAs<T, true, FloatRule::Truncate, false>(src, n, dst, report)
                : ConvertFloatsAs<T, false, FloatRule::Truncate, false>(src, n, dst, report);
  }
  return swap ? ConvertFloatsAs<T, true, FloatRule::Round, false>(src, n, dst, report)
              : ConvertFloatsAs<T, false, FloatRule::Round, false>(src, n, dst, report);
}

}  // namespace

void ConvertElements(const unsigned char* src, std::size_t n, ElementKind kind, bool swap, FloatRule rule,
                     std::int16_t* dst, ConvertReport& report) {
  switch (kind) {
    case ElementKind::UInt8:
      for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
      return;
    case ElementKind::Int8:
      for (std::size_t i = 0; i < n; ++i) dst[i] = static_cast<std::int8_t>(src[i]);
      return;
    case ElementKind::Int16:
      if (!swap) {
        std::memcpy(dst, src, n * 2);
        return;
      }
      return ConvertIntegers<std::int16_t>(src, n, swap, dst, report);
    case ElementKind::UInt16:
      return ConvertIntegers<std::uint16_t>(src, n, swap, dst, report);
    case ElementKind::Int32:
      return ConvertIntegers<std::int32_t>(src, n, swap, dst, report);
    case ElementKind::UInt32:
      return ConvertIntegers<std::uint32_t>(src, n, swap, dst, report);
    case ElementKind::Int64:
      return ConvertIntegers<std::int64_t>(src, n, swap, dst, report);
    case ElementKind::UInt64:
      return ConvertIntegers<std::uint64_t>(src, n, swap, dst, report);
    case ElementKind::Float32:
      return ConvertFloats<float>(src, n, swap, rule, dst, report);
    case ElementKind::Float64:
      return ConvertFloats<double>(src, n, swap, rule, dst, report);
  }
}

namespace {

template <typename T>
void RescaleAs(const unsigned char* src, std::size_t n, double slope, double intercept, std::int16_t* dst,
               ConvertReport& report) {
  bool wrapped = false;
  for (std::size_t i = 0; i < n; ++i) {
    const double v =
        std::floor(static_cast<double>(Load<T>(src + i * sizeof(T), false)) * slope + intercept + 0.5);
    wrapped |= !(v >= -32768.0 && v <= 32767.0);
    dst[i] = Low16OfInt32(v);
  }
  report.wrapped |= wrapped;
}

}  // namespace

void ConvertRescaled(const unsigned char* src, std::size_t n, ElementKind kind, double slope,
                     double intercept, std::int16_t* dst, ConvertReport& report) {
  switch (kind) {
    case ElementKind::UInt8:
      return RescaleAs<std::uint8_t>(src, n, slope, intercept, dst, report);
    case ElementKind::Int8:
      return RescaleAs<std::int8_t>(src, n, slope, intercept, dst, report);
    case ElementKind::Int16:
      return RescaleAs<std::int16_t>(src, n, slope, intercept, dst, report);
    case ElementKind::UInt16:
      return RescaleAs<std::uint16_t>(src, n, slope, intercept, dst, report);
    case ElementKind::Int32:
      return RescaleAs<std::int32_t>(src, n, slope, intercept, dst, report);
    case ElementKind::UInt32:
      return RescaleAs<std::uint32_t>(src, n, slope, intercept, dst, report);
    case ElementKind::Int64:
      return RescaleAs<std::int64_t>(src, n, slope, intercept, dst, report);
    case ElementKind::UInt64:
      return RescaleAs<std::uint64_t>(src, n, slope, intercept, dst, report);
    case ElementKind::Float32:
      return RescaleAs<float>(src, n, slope, intercept, dst, report);
    case ElementKind::Float64:
      return RescaleAs<double>(src, n, slope, intercept, dst, report);
  }
}

int StoredBytes(ElementStorage storage) { return storage == ElementStorage::Short ? 2 : 1; }

void StoreElements(const std::int16_t* voxels, std::size_t n, ElementStorage storage, unsigned char* out) {
  const std::size_t width = static_cast<std::size_t>(StoredBytes(storage));
  for (std::size_t i = 0; i < n; ++i) {
    const auto v = static_cast<std::uint16_t>(voxels[i]);
    out[i * width] = static_cast<unsigned char>(v & 0xff);
    if (width == 2) out[i * width + 1] = static_cast<unsigned char>(v >> 8);
  }
}

}  // namespace volume
