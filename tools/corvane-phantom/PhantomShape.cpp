#include "PhantomShape.h"

#include <algorithm>
#include <cmath>

#include "PhantomRandom.h"

namespace phantom {

namespace {

// Mean prostate semi-axes in mm: 45 mm wide (x), 35 mm deep (y), 40 mm long (z).
constexpr double kMeanSemiAxis[3] = {22.5, 17.5, 20.0};
// Spread of the harmonic coefficients by degree (1, 2, 3): degree 1 moves the
// shape a little, degrees 2 and 3 give it its individual outline.
constexpr double kHarmonicSpread[ShapeParams::kHarmonics] = {0.02, 0.02, 0.02, 0.05, 0.05, 0.05,
                                                             0.05, 0.05, 0.03, 0.03, 0.03};
// The apex (low z) is narrower than the base; the posterior side is flatter.
constexpr double kTaper = 0.09;
constexpr double kPosteriorFlattening = 0.10;
// No direction shrinks below this fraction of the ellipsoid.
constexpr double kMinimumRadius = 0.3;

int Component(const C3DPoint& p, int axis) { return axis == 0 ? p.x : (axis == 1 ? p.y : p.z); }

// Real harmonics of degree 1 to 3 on the unit sphere; each lies in [-1, 1].
void Harmonics(double ux, double uy, double uz, double out[ShapeParams::kHarmonics]) {
  out[0] = ux;
  out[1] = uy;
  out[2] = uz;
  out[3] = ux * uy;
  out[4] = uy * uz;
  out[5] = ux * uz;
  out[6] = ux * ux - uy * uy;
  out[7] = 0.5 * (3.0 * uz * uz - 1.0);
  out[8] = ux * (ux * ux - 3.0 * uy * uy);
  out[9] = uy * (3.0 * ux * ux - uy * uy);
  out[10] = 0.5 * uz * (5.0 * uz * uz - 3.0);
}

}  // namespace

ScanGeometry::ScanGeometry(const C3DPoint& size_) : size(size_) {
  spacing = {kFieldOfView[0] / size.x, kFieldOfView[1] / size.y, kFieldOfView[2] / size.z};
}

ShapeParams RandomProstate(PhantomRandom& rng, const ScanGeometry& geometry) {
  ShapeParams p;
  const double scale = 1.0 + 0.05 * rng.Gaussianish();
  for (int axis = 0; axis < 3; ++axis) {
    p.semiAxis[axis] = kMeanSemiAxis[axis] * scale * (1.0 + 0.04 * rng.Gaussianish());
  }
  // Near the middle of the scan, within a few millimetres.
  const double offsetSpread[3] = {2.5, 2.5, 2.0};
  for (int axis = 0; axis < 3; ++axis) {
    const double middle = 0.5 * (Component(geometry.size, axis) - 1) * geometry.spacing[axis];
    p.centre[axis] = middle + offsetSpread[axis] * rng.Gaussianish();
  }
  // In-plane turn of a few degrees, from t = tan(angle / 2) (no libm needed).
  const double t = 0.04 * rng.Gaussianish();
  p.cosTurn = (1.0 - t * t) / (1.0 + t * t);
  p.sinTurn = 2.0 * t / (1.0 + t * t);
  for (int k = 0; k < ShapeParams::kHarmonics; ++k) p.harmonic[k] = kHarmonicSpread[k] * rng.Gaussianish();
  return p;
}

std::array<double, 3> RandomSideDirection(PhantomRandom& rng, double maxZ) {
  // A uniform angle by rejection from the square: exact everywhere.
  double x = 0.0;
  double y = 0.0;
  double r2 = 0.0;
  do {
    x = rng.Uniform(-1.0, 1.0);
    y = rng.Uniform(-1.0, 1.0);
    r2 = x * x + y * y;
  } while (r2 > 1.0 || r2 < 1e-4);
  const double z = rng.Uniform(-maxZ, maxZ);
  const double inPlane = std::sqrt((1.0 - z * z) / r2);
  return {x * inPlane, y * inPlane, z};
}

ShapeField::ShapeField(const ShapeParams& params, const ScanGeometry& geometry)
    : m_params(params), m_geometry(geometry) {
  m_xFromX = params.cosTurn / params.semiAxis[0];
  m_xFromY = params.sinTurn / params.semiAxis[0];
  m_yFromX = -params.sinTurn / params.semiAxis[1];
  m_yFromY = params.cosTurn / params.semiAxis[1];
  m_zFromZ = 1.0 / params.semiAxis[2];
  // Every harmonic lies in [-1, 1] and each bump between 0 and its amplitude,
  // which bounds each factor of Radius from both sides.
  double harmonics = 0.0;
  for (double h : params.harmonic) harmonics += std::fabs(h);
  double grow = 1.0;
  double shrink = 1.0;
  for (const Bump& b : params.bumps) (b.amplitude > 0.0 ? grow : shrink) += b.amplitude;
  m_maxRadius = std::max(kMinimumRadius, (1.0 + harmonics) * (1.0 + kTaper) * grow);
  const double low =
      std::max(0.0, 1.0 - harmonics) * (1.0 - kTaper) * (1.0 - kPosteriorFlattening) * std::max(0.0, shrink);
  m_minRadius = std::max(kMinimumRadius, low);
}

double ShapeField::Radius(double ux, double uy, double uz) const {
  double h[ShapeParams::kHarmonics];
  Harmonics(ux, uy, uz, h);
  double radius = 1.0;
  for (int k = 0; k < ShapeParams::kHarmonics; ++k) radius += m_params.harmonic[k] * h[k];
  const double posterior = std::max(0.0, uy);
  radius *= (1.0 + kTaper * uz) * (1.0 - kPosteriorFlattening * posterior * posterior);
  double change = 1.0;
  for (const Bump& b : m_params.bumps) {
    const double along = ux * b.dir[0] + uy * b.dir[1] + uz * b.dir[2];
    if (along > b.cosWidth) {
      const double s = (along - b.cosWidth) / (1.0 - b.cosWidth);
      change += b.amplitude * s * s;
    }
  }
  return std::max(kMinimumRadius, radius * change);
}

double ShapeField::LevelBetween(int x, int y, int z, double lo, double hi) const {
  const double px = x * m_geometry.spacing[0] - m_params.centre[0];
  const double py = y * m_geometry.spacing[1] - m_params.centre[1];
  const double pz = z * m_geometry.spacing[2] - m_params.centre[2];
  const double nx = px * m_xFromX + py * m_xFromY;
  const double ny = px * m_yFromX + py * m_yFromY;
  const double nz = pz * m_zFromZ;
  const double rho2 = nx * nx + ny * ny + nz * nz;
  if (rho2 == 0.0) return 0.0;
  const double rho = std::sqrt(rho2);
  // The level lies between rho / max radius and rho / min radius.
  const double above = rho / m_minRadius;
  if (above < lo) return above;
  const double below = rho / m_maxRadius;
  if (below >= hi) return below;
  const double inverse = 1.0 / rho;
  return rho / Radius(nx * inverse, ny * inverse, nz * inverse);
}

void ShapeField::Bounds(double maxLevel, C3DPoint* lo, C3DPoint* hi) const {
  const double reach = maxLevel * m_maxRadius;
  // The in-plane turn can bring either in-plane axis onto x or y.
  const double inPlane = reach * std::max(m_params.semiAxis[0], m_params.semiAxis[1]);
  const double extent[3] = {inPlane, inPlane, reach * m_params.semiAxis[2]};
  int low[3];
  int high[3];
  for (int axis = 0; axis < 3; ++axis) {
    const double s = m_geometry.spacing[axis];
    const double a = std::floor((m_params.centre[axis] - extent[axis]) / s) - 1.0;
    const double b = std::ceil((m_params.centre[axis] + extent[axis]) / s) + 1.0;
    const int last = Component(m_geometry.size, axis) - 1;
    low[axis] = static_cast<int>(std::clamp(a, 0.0, static_cast<double>(last) + 1.0));
    high[axis] = static_cast<int>(std::clamp(b, -1.0, static_cast<double>(last)));
  }
  lo->Set(low[0], low[1], low[2]);
  hi->Set(high[0], high[1], high[2]);
}

CVoxel ShapeField::Rasterize() const {
  CVoxel label(m_geometry.size);
  SetScanSpacing(label, m_geometry);
  if (!label.HasData()) return label;
  C3DPoint lo;
  C3DPoint hi;
  Bounds(1.0, &lo, &hi);
  for (int z = lo.z; z <= hi.z; ++z) {
    for (int y = lo.y; y <= hi.y; ++y) {
      for (int x = lo.x; x <= hi.x; ++x) {
        if (Inside(x, y, z)) label.At(x, y, z) = 1;
      }
    }
  }
  return label;
}

void SetScanSpacing(CVoxel& volume, const ScanGeometry& geometry) {
  for (int axis = 0; axis < 3; ++axis) {
    volume.spacing[axis] = static_cast<float>(geometry.spacing[axis]);
    volume.origin[axis] = 0.0f;
  }
}

}  // namespace phantom
