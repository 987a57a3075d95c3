#include "volume/Voxel.h"

#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>
#include <utility>

std::int64_t VoxelCount(int X, int Y, int Z) {
  if (X < 0 || Y < 0 || Z < 0) return -1;
  // X*Y always fits in 64 bits; the product with Z is checked before it is formed.
  const std::int64_t xy = static_cast<std::int64_t>(X) * Y;
  if (Z != 0 && xy > INT_MAX / Z) return -1;
  return xy * Z;
}

namespace {
template <typename T>
// Every block is zero-filled: it keeps the contents defined for every caller.
bool AllocateBlock(std::vector<T>& block, int X, int Y, int Z) {
  const std::int64_t n = VoxelCount(X, Y, Z);
  block.clear();
  block.shrink_to_fit();
  if (n < 0) return false;
  try {
    block.resize(static_cast<std::size_t>(n));
  } catch (const std::bad_alloc&) {
    block.clear();
    block.shrink_to_fit();
    return false;
  } catch (const std::length_error&) {
    block.clear();
    return false;
  }
  return true;
}
}  // namespace

CVoxel::CVoxel(int X_, int Y_, int Z_, bool /*zeroFill*/) : X(X_), Y(Y_), Z(Z_) {
  m_hasData = AllocateBlock(m_data, X, Y, Z);
}

CVoxel::CVoxel(const C3DPoint& size) : CVoxel(size.x, size.y, size.z, true) {}

CVoxel::CVoxel(const CVoxel& other) : X(other.X), Y(other.Y), Z(other.Z) {
  std::copy(std::begin(other.spacing), std::end(other.spacing), spacing);
  std::copy(std::begin(other.origin), std::end(other.origin), origin);
  if (other.m_hasData) {
    try {
      m_data = other.m_data;
      m_hasData = true;
    } catch (const std::bad_alloc&) {
      m_data.clear();
      m_hasData = false;
    }
  }
}

CVoxel::CVoxel(CVoxel&& other) noexcept { *this = std::move(other); }

CVoxel& CVoxel::operator=(CVoxel&& other) noexcept {
  if (this != &other) {
    X = other.X;
    Y = other.Y;
    Z = other.Z;
    std::copy(std::begin(other.spacing), std::end(other.spacing), spacing);
    std::copy(std::begin(other.origin), std::end(other.origin), origin);
    maximum = other.maximum;
    minimum = other.minimum;
    m_data = std::move(other.m_data);
    m_hasData = other.m_hasData;
    other.m_data.clear();
    other.m_hasData = false;
  }
  return *this;
}

CVoxel& CVoxel::operator=(const CVoxel& other) {
  if (this != &other) {
    CVoxel copy(other);
    *this = std::move(copy);
  }
  return *this;
}

bool CVoxel::Allocate() {
  m_hasData = AllocateBlock(m_data, X, Y, Z);
  return m_hasData;
}

void CVoxel::Release() {
  m_data.clear();
  m_data.shrink_to_fit();
  m_hasData = false;
}

int CVoxel::CountNonZero() const {
  if (X <= 0 || Y <= 0 || Z <= 0 || !m_hasData) return 0;
  return static_cast<int>(std::count_if(m_data.begin(), m_data.end(), [](value_type v) { return v != 0; }));
}

CFVoxel::CFVoxel(int X_, int Y_, int Z_, bool /*zeroFill*/) : X(X_), Y(Y_), Z(Z_) {
  m_hasData = AllocateBlock(m_data, X, Y, Z);
}

CFVoxel::CFVoxel(const C3DPoint& size) : CFVoxel(size.x, size.y, size.z, true) {}

CFVoxel::CFVoxel(CFVoxel&& other) noexcept { *this = std::move(other); }

CFVoxel& CFVoxel::operator=(CFVoxel&& other) noexcept {
  if (this != &other) {
    X = other.X;
    Y = other.Y;
    Z = other.Z;
    m_data = std::move(other.m_data);
    m_hasData = other.m_hasData;
    other.m_data.clear();
    other.m_hasData = false;
  }
  return *this;
}

bool CFVoxel::Allocate() {
  m_hasData = AllocateBlock(m_data, X, Y, Z);
  return m_hasData;
}

void CFVoxel::Release() {
  m_data.clear();
  m_data.shrink_to_fit();
  m_hasData = false;
}
