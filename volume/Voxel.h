// Voxel volumes shared by every part of Corvane.
//
// A volume of X x Y x Z voxels stores voxel (x, y, z) at index x + X * (y + Y * z):
// x varies fastest, then y, then z (the slice). Whole-volume loops run z outermost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "volume/VolumeMemory.h"

namespace volume {
class MessageSink;
}

// Integer triple: a size, a position, a margin or an offset.
struct C3DPoint {
  int x = 0;
  int y = 0;
  int z = 0;

  constexpr C3DPoint() = default;
  constexpr C3DPoint(int x_, int y_, int z_) : x(x_), y(y_), z(z_) {}

  constexpr void Set(int x_, int y_, int z_) {
    x = x_;
    y = y_;
    z = z_;
  }
  // Component-wise difference this - other.
  constexpr C3DPoint operator-(const C3DPoint& o) const { return {x - o.x, y - o.y, z - o.z}; }
  constexpr C3DPoint operator+(const C3DPoint& o) const { return {x + o.x, y + o.y, z + o.z}; }
  // Adds a scalar to every component.
  constexpr C3DPoint operator+(int s) const { return {x + s, y + s, z + s}; }
  constexpr bool operator==(const C3DPoint&) const = default;
};

namespace volume {

// Number of voxels of an X x Y x Z volume, or -1 when the request is impossible
// (a negative dimension, or a product that does not fit a signed 32-bit count).
// Members named VoxelCount hide it: call it as volume::VoxelCount there.
std::int64_t VoxelCount(int X, int Y, int Z);

// The voxel container shared by both volume types: an X x Y x Z block of T
// that may hold no data at all (after a failed load, a failed allocation or
// Release); HasData() tells. Blocks are always zero-filled when handed out,
// except through AllocateForReader. Copies are deep; a moved-from volume holds
// no data (its dimensions stay). Only CVoxel and CFVoxel are built from it;
// it is never a volume of its own.
template <typename T>
class VoxelGrid {
 public:
  using value_type = T;

  // An empty volume: no data, dimensions 0.
  VoxelGrid() = default;
  // Allocates X*Y*Z voxels. Every block is zero-filled whatever the flag says,
  // so contents are always defined. An impossible size leaves no data.
  VoxelGrid(int X, int Y, int Z, bool zeroFill = true);
  explicit VoxelGrid(const C3DPoint& size);

  // Frees the current block and allocates X*Y*Z zero voxels for the current
  // dimensions. Returns false (and leaves no data) when the size is impossible
  // or memory runs out.
  bool Allocate();
  // The same without zero-filling, for a reader that writes every voxel before
  // the volume is used and calls Release() when it cannot (a short or corrupt
  // file), so that no unwritten voxel is ever seen.
  bool AllocateForReader();
  // Frees the voxel block; the volume stays valid with no data. Harmless twice.
  void Release();

  bool HasData() const { return m_hasData; }
  std::size_t VoxelCount() const { return m_data.size(); }
  C3DPoint Size() const { return {X, Y, Z}; }
  bool SameSize(const VoxelGrid& o) const { return X == o.X && Y == o.Y && Z == o.Z; }

  value_type* Data() { return m_hasData ? m_data.data() : nullptr; }
  const value_type* Data() const { return m_hasData ? m_data.data() : nullptr; }

  std::size_t Index(int x, int y, int z) const {
    return static_cast<std::size_t>(x) +
           static_cast<std::size_t>(X) *
               (static_cast<std::size_t>(y) + static_cast<std::size_t>(Y) * static_cast<std::size_t>(z));
  }
  bool Contains(int x, int y, int z) const { return x >= 0 && y >= 0 && z >= 0 && x < X && y < Y && z < Z; }
  value_type& At(int x, int y, int z) { return m_data[Index(x, y, z)]; }
  value_type At(int x, int y, int z) const { return m_data[Index(x, y, z)]; }
  value_type& operator[](std::size_t i) { return m_data[i]; }
  value_type operator[](std::size_t i) const { return m_data[i]; }

  // Dimensions. Set them and call Allocate (or AllocateForReader) to size the block.
  int X = 0;
  int Y = 0;
  int Z = 0;

 protected:
  // Deep copy of dimensions and voxels; a copy that finds no memory holds no data.
  VoxelGrid(const VoxelGrid& other);
  VoxelGrid& operator=(const VoxelGrid& other);
  VoxelGrid(VoxelGrid&& other) noexcept;
  VoxelGrid& operator=(VoxelGrid&& other) noexcept;
  // Not virtual: a volume is always owned and deleted as what it is.
  ~VoxelGrid() = default;

 private:
  // Replaces the block by one of X*Y*Z voxels; false (no data) when impossible.
  bool AllocateBlock(bool zeroFill);

  Block<value_type> m_data;
  bool m_hasData = false;
};

extern template class VoxelGrid<std::int16_t>;
extern template class VoxelGrid<float>;

}  // namespace volume

// The integer volume: MR intensities, label volumes and scribble maps.
// Voxels are signed 16-bit, with the volume's place in space and file operations.
class CVoxel : public volume::VoxelGrid<std::int16_t> {
 public:
  // An empty volume: no data, dimensions 0, spacing and origin -1 (not set).
  CVoxel() = default;
  // CVoxel(X, Y, Z, zeroFill = true) and CVoxel(size): zero-filled, as VoxelGrid.
  using VoxelGrid::VoxelGrid;
  // The load constructor: reads the file through the load dispatcher. A failed
  // read leaves a volume without data; messages go to the sink (may be null).
  explicit CVoxel(const std::string& path, volume::MessageSink* sink = nullptr);

  // Deep copy of dimensions, geometry and voxels (not the min/max pair).
  CVoxel(const CVoxel& other);
  CVoxel& operator=(const CVoxel& other);
  // A moved-from volume holds no data; geometry and the min/max pair move along.
  CVoxel(CVoxel&& other) noexcept;
  CVoxel& operator=(CVoxel&& other) noexcept;
  ~CVoxel() = default;

  std::unique_ptr<CVoxel> Clone() const { return std::make_unique<CVoxel>(*this); }

  // Number of voxels that are not 0; 0 for a volume with any dimension <= 0.
  int CountNonZero() const;

  // Writes a MetaImage header and a ".raw" data file of unsigned bytes beside
  // it, with the volume's geometry (unset: spacing 1, origin 0, identity).
  // On failure *error (if given) says why, with the system's reason.
  bool SaveMetaImage(const std::string& headerPath, std::string* error = nullptr) const;

  // Where the volume lies in the patient, as ITK and MetaImage put it: voxel
  // (x, y, z) is at origin + direction * (spacing[0] x, spacing[1] y, spacing[2] z)
  // in LPS millimetres. direction[r][c] is component r of the unit vector of
  // voxel axis c (column c is axis c). Spacing and origin -1 mean "not set";
  // geometry never takes part in the correction's arithmetic.
  float spacing[3] = {-1.0f, -1.0f, -1.0f};
  float origin[3] = {-1.0f, -1.0f, -1.0f};
  double direction[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  // The qform and sform codes of the NIfTI or Analyze file the geometry was
  // read from (0 and 0 for Analyze and for NIfTI placed by pixdim alone; -1 and
  // -1 for every other source), so that NIfTI written back carries them.
  int niftiQformCode = -1;
  int niftiSformCode = -1;

  // Spacing, origin, direction and NIfTI codes of `other` (a result placed where its source lies).
  void CopyGeometry(const CVoxel& other);
  // Sets the direction to the columns of `axes`, each scaled to unit length.
  // Refused (false, nothing changed) when a value is not finite or an axis has no length.
  bool SetDirection(const double axes[3][3]);
  // Sets spacing, direction and origin from a voxel-to-LPS matrix: column c of
  // `axes` is voxel axis c scaled by its spacing. Refused (false, nothing
  // changed) when a value is not finite or an axis has no length.
  bool SetGeometryFromMatrix(const double axes[3][3], const double originLps[3]);
  // The voxel-to-LPS matrix as written to a file: direction times spacing
  // (columns), and the origin, with unset geometry read as spacing 1, origin 0.
  void GeometryMatrix(double axes[3][3], double originLps[3]) const;
  // Spacing as written to a file: 1 where not set (<= 0).
  double SpacingOrUnit(int axis) const;
  // Origin as written to a file: 0 where not set (spacing and origin are set together).
  double OriginOrZero(int axis) const;
  // Physical LPS position (mm) of voxel (x, y, z), with unset geometry read as
  // spacing 1 and origin 0.
  void PhysicalPoint(double x, double y, double z, double out[3]) const;
  // Extremes seen while converting floating-point file data; not maintained otherwise.
  value_type maximum = 0;
  value_type minimum = 0;
};

// The floating-point volume: distance and probability maps. No spacing or origin.
class CFVoxel : public volume::VoxelGrid<float> {
 public:
  CFVoxel() = default;
  // CFVoxel(X, Y, Z, zeroFill = true) and CFVoxel(size): all 0.0, as VoxelGrid.
  using VoxelGrid::VoxelGrid;
  CFVoxel(const CFVoxel&) = default;
  CFVoxel& operator=(const CFVoxel&) = default;
  // A moved-from volume holds no data.
  CFVoxel(CFVoxel&&) noexcept = default;
  CFVoxel& operator=(CFVoxel&&) noexcept = default;
  ~CFVoxel() = default;
};

namespace volume {

// Whether a and b lie in the same place in space: spacing within a relative
// tolerance, origin within an absolute tolerance in mm, direction cosines
// within an absolute tolerance (unset geometry compared as written to a file).
// Sizes are not compared.
bool SameGeometry(const CVoxel& a, const CVoxel& b, double spacingRelative = 1e-4, double originMm = 1e-3,
                  double directionTolerance = 1e-4);

// The warning for a volume that has the size of another but not its place in
// space, e.g. GeometryMismatchText("segmentation", "image").
std::string GeometryMismatchText(const std::string& what, const std::string& other);

}  // namespace volume

// Ordered collections. Owning lists hold unique_ptr; a null entry stands for a
// volume that could not be produced (for example a failed crop).
using CPointArray = std::vector<C3DPoint>;
using CVoxelList = std::vector<std::unique_ptr<CVoxel>>;
using CFVoxelList = std::vector<std::unique_ptr<CFVoxel>>;
