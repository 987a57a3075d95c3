// Prostate-like shapes: a deformed ellipsoid described in millimetres.
//
// A shape is an ellipsoid (semi-axes a, b, c along x, y, z, turned in-plane by a
// small angle) whose radius varies smoothly with direction: low-order
// harmonics, a taper towards the apex (low z), a flatter posterior side (high y)
// and optional local bumps. A bump with a positive amplitude pushes the surface
// out around its direction, a negative one pulls it in; the segmentation errors
// are bumps added to the truth's shape.
#pragma once

#include <array>
#include <cmath>
#include <vector>

#include "volume/Voxel.h"

namespace phantom {

class PhantomRandom;

// The scan the phantom is drawn in. The field of view is fixed (160 x 160 x 96 mm,
// a typical prostate T2 scan), so a smaller grid gets coarser voxels and the
// anatomy keeps its size in millimetres.
struct ScanGeometry {
  static constexpr double kFieldOfView[3] = {160.0, 160.0, 96.0};

  explicit ScanGeometry(const C3DPoint& size);

  C3DPoint size;
  std::array<double, 3> spacing;  // mm per voxel; voxel (x, y, z) is centred at (x, y, z) * spacing
};

// A local change of the radius: amplitude * max(0, (u . dir - cosWidth) / (1 - cosWidth))^2,
// where u is the unit direction in the ellipsoid's normalised frame.
struct Bump {
  std::array<double, 3> dir;
  double cosWidth;
  double amplitude;
};

struct ShapeParams {
  static constexpr int kHarmonics = 11;

  std::array<double, 3> centre;    // mm
  std::array<double, 3> semiAxis;  // mm
  double cosTurn = 1.0;            // in-plane rotation
  double sinTurn = 0.0;
  std::array<double, kHarmonics> harmonic{};
  std::vector<Bump> bumps;
};

// A random prostate of the population, centred near the middle of the scan.
ShapeParams RandomProstate(PhantomRandom& rng, const ScanGeometry& geometry);

// A random unit vector in the x-y plane with a small z component of at most |maxZ|.
std::array<double, 3> RandomSideDirection(PhantomRandom& rng, double maxZ);

// Evaluates one shape in voxel coordinates of one scan.
class ShapeField {
 public:
  ShapeField(const ShapeParams& params, const ScanGeometry& geometry);

  // The level of voxel (x, y, z): the distance from the centre in the
  // normalised frame divided by the radius in that direction. Inside is < 1.
  double Level(int x, int y, int z) const { return LevelBetween(x, y, z, 0.0, HUGE_VAL); }
  // The same where the level lies in [lo, hi). Elsewhere it may return a bound
  // instead: a value below lo where the level is below lo, at least hi where the
  // level is at least hi. Much faster away from the surface.
  double LevelBetween(int x, int y, int z, double lo, double hi) const;
  bool Inside(int x, int y, int z) const { return LevelBetween(x, y, z, 1.0, 1.0) < 1.0; }

  // Inclusive voxel box, clipped to the scan, outside of which the level is
  // certainly at least maxLevel. Empty (lo > hi on some axis) when the shape
  // lies outside the scan.
  void Bounds(double maxLevel, C3DPoint* lo, C3DPoint* hi) const;

  // Label volume of the scan's size: 1 inside, 0 outside, spacing set.
  CVoxel Rasterize() const;

  const ShapeParams& Params() const { return m_params; }
  const ScanGeometry& Geometry() const { return m_geometry; }

 private:
  double Radius(double ux, double uy, double uz) const;

  ShapeParams m_params;
  ScanGeometry m_geometry;
  // Voxel position to the normalised frame: turn and divide by the semi-axes.
  double m_xFromX, m_xFromY, m_yFromX, m_yFromY, m_zFromZ;
  // Bounds of Radius over all directions.
  double m_minRadius, m_maxRadius;
};

// Copies the scan's spacing into a volume and puts its origin at 0.
void SetScanSpacing(CVoxel& volume, const ScanGeometry& geometry);

}  // namespace phantom
