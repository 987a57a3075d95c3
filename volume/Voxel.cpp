#include "volume/Voxel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

namespace volume {

std::int64_t VoxelCount(int X, int Y, int Z) {
  if (X < 0 || Y < 0 || Z < 0) return -1;
  // X*Y always fits in 64 bits; the product with Z is checked before it is formed.
  const std::int64_t xy = static_cast<std::int64_t>(X) * Y;
  if (Z != 0 && xy > INT_MAX / Z) return -1;
  return xy * Z;
}

template <typename T>
VoxelGrid<T>::VoxelGrid(int X_, int Y_, int Z_, bool /*zeroFill*/) : X(X_), Y(Y_), Z(Z_) {
  AllocateBlock(true);
}

template <typename T>
VoxelGrid<T>::VoxelGrid(const C3DPoint& size) : VoxelGrid(size.x, size.y, size.z, true) {}

template <typename T>
VoxelGrid<T>::VoxelGrid(const VoxelGrid& other) : X(other.X), Y(other.Y), Z(other.Z) {
  if (!other.m_hasData) return;
  try {
    m_data = other.m_data;
    m_hasData = true;
  } catch (const std::bad_alloc&) {
    m_data.clear();
    m_hasData = false;
  }
}

template <typename T>
VoxelGrid<T>& VoxelGrid<T>::operator=(const VoxelGrid& other) {
  if (this != &other) {
    VoxelGrid copy(other);
    *this = std::move(copy);
  }
  return *this;
}

template <typename T>
VoxelGrid<T>::VoxelGrid(VoxelGrid&& other) noexcept {
  *this = std::move(other);
}

template <typename T>
VoxelGrid<T>& VoxelGrid<T>::operator=(VoxelGrid&& other) noexcept {
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

template <typename T>
bool VoxelGrid<T>::Allocate() {
  return AllocateBlock(true);
}

template <typename T>
bool VoxelGrid<T>::AllocateForReader() {
  return AllocateBlock(false);
}

template <typename T>
void VoxelGrid<T>::Release() {
  m_data.clear();
  m_data.shrink_to_fit();
  m_hasData = false;
}

template <typename T>
bool VoxelGrid<T>::AllocateBlock(bool zeroFill) {
  Release();
  const std::int64_t n = volume::VoxelCount(X, Y, Z);
  if (n < 0) return false;
  try {
    m_data.resize(static_cast<std::size_t>(n));
    if (zeroFill) std::fill(m_data.begin(), m_data.end(), T{});
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  } catch (const std::length_error&) {
    Release();
    return false;
  }
  m_hasData = true;
  return true;
}

template class VoxelGrid<std::int16_t>;
template class VoxelGrid<float>;

}  // namespace volume

CVoxel::CVoxel(const CVoxel& other) : VoxelGrid(other) { CopyGeometry(other); }

CVoxel::CVoxel(CVoxel&& other) noexcept : VoxelGrid(std::move(other)) {
  // Only the container part has been moved: the geometry is still there to copy.
  CopyGeometry(other);
  maximum = other.maximum;
  minimum = other.minimum;
}

CVoxel& CVoxel::operator=(CVoxel&& other) noexcept {
  if (this != &other) {
    VoxelGrid::operator=(std::move(other));
    CopyGeometry(other);
    maximum = other.maximum;
    minimum = other.minimum;
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

void CVoxel::CopyGeometry(const CVoxel& other) {
  std::copy(std::begin(other.spacing), std::end(other.spacing), spacing);
  std::copy(std::begin(other.origin), std::end(other.origin), origin);
  for (int r = 0; r < 3; ++r)
    std::copy(std::begin(other.direction[r]), std::end(other.direction[r]), direction[r]);
  niftiQformCode = other.niftiQformCode;
  niftiSformCode = other.niftiSformCode;
}

namespace {
// The length of each column of `axes`; false when one is not finite or zero.
bool AxisLengths(const double axes[3][3], double length[3]) {
  for (int c = 0; c < 3; ++c) {
    length[c] = std::sqrt(axes[0][c] * axes[0][c] + axes[1][c] * axes[1][c] + axes[2][c] * axes[2][c]);
    if (!std::isfinite(length[c]) || !(length[c] > 0.0)) return false;
  }
  return true;
}
}  // namespace

bool CVoxel::SetDirection(const double axes[3][3]) {
  double length[3];
  if (!AxisLengths(axes, length)) return false;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) direction[r][c] = axes[r][c] / length[c];
  return true;
}

bool CVoxel::SetGeometryFromMatrix(const double axes[3][3], const double originLps[3]) {
  double length[3];
  if (!AxisLengths(axes, length)) return false;
  for (int c = 0; c < 3; ++c)
    if (!std::isfinite(static_cast<float>(originLps[c])) || !std::isfinite(static_cast<float>(length[c])))
      return false;
  SetDirection(axes);
  for (int c = 0; c < 3; ++c) {
    spacing[c] = static_cast<float>(length[c]);
    origin[c] = static_cast<float>(originLps[c]);
  }
  return true;
}

void CVoxel::GeometryMatrix(double axes[3][3], double originLps[3]) const {
  for (int r = 0; r < 3; ++r) {
    originLps[r] = OriginOrZero(r);
    for (int c = 0; c < 3; ++c) axes[r][c] = direction[r][c] * SpacingOrUnit(c);
  }
}

double CVoxel::SpacingOrUnit(int axis) const { return spacing[axis] > 0.0f ? spacing[axis] : 1.0; }

double CVoxel::OriginOrZero(int axis) const {
  // -1 in every origin component together with unset spacing is the "not set" marker.
  const bool unset = spacing[0] <= 0.0f && spacing[1] <= 0.0f && spacing[2] <= 0.0f && origin[0] == -1.0f &&
                     origin[1] == -1.0f && origin[2] == -1.0f;
  return unset ? 0.0 : origin[axis];
}

void CVoxel::PhysicalPoint(double x, double y, double z, double out[3]) const {
  const double scaled[3] = {x * SpacingOrUnit(0), y * SpacingOrUnit(1), z * SpacingOrUnit(2)};
  for (int r = 0; r < 3; ++r) {
    out[r] = OriginOrZero(r) + direction[r][0] * scaled[0] + direction[r][1] * scaled[1] +
             direction[r][2] * scaled[2];
  }
}

namespace volume {
namespace {

// Within the tolerance; a value that is not a number agrees only with another
// one (the same unknown on both sides), never with a number.
bool Near(double a, double b, double tolerance) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::fabs(a - b) <= tolerance;
}

}  // namespace

bool SameGeometry(const CVoxel& a, const CVoxel& b, double spacingRelative, double originMm,
                  double directionTolerance) {
  for (int i = 0; i < 3; ++i) {
    const double sa = a.SpacingOrUnit(i), sb = b.SpacingOrUnit(i);
    if (!Near(sa, sb, spacingRelative * std::max(std::fabs(sa), std::fabs(sb)))) return false;
    if (!Near(a.OriginOrZero(i), b.OriginOrZero(i), originMm)) return false;
    for (int j = 0; j < 3; ++j) {
      if (!Near(a.direction[i][j], b.direction[i][j], directionTolerance)) return false;
    }
  }
  return true;
}

std::string GeometryMismatchText(const std::string& what, const std::string& other) {
  return "The " + what + " has the size of the " + other +
         " but does not share its place in space (spacing, origin or direction differ). It is used voxel "
         "for voxel as it is; check that the two files belong together.";
}

}  // namespace volume

int CVoxel::CountNonZero() const {
  if (X <= 0 || Y <= 0 || Z <= 0 || !HasData()) return 0;
  return static_cast<int>(std::count_if(Data(), Data() + VoxelCount(), [](value_type v) { return v != 0; }));
}
