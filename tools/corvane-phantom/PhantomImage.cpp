// The MR-like image: a T2-weighted look of the male pelvis around the prostate.
//
// Tissue classes (intensities before bias and noise): periprostatic fat about
// 820 with a gentle texture, the obturator muscles on both sides 330, the
// rectum behind the prostate (wall 280, lumen 140), the bladder above the base
// 1600 (fluid is bright on T2), and the prostate itself: a darker central gland
// around 560 and a bright peripheral zone (980) in its posterior outer shell,
// with a dark capsule line at the boundary. A smooth multiplicative bias field
// (brighter towards the posterior coil) and Rician noise follow.
#include <algorithm>
#include <cmath>
#include <vector>

#include "PhantomParts.h"
#include "PhantomRandom.h"

namespace phantom {

namespace {

double SmoothStep(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// Smooth random variation over the scan: bell-shaped values on a coarse
// lattice, interpolated trilinearly between the lattice nodes, which sit
// evenly from the first voxel centre to the last.
class SmoothField {
 public:
  SmoothField(int nx, int ny, int nz, const C3DPoint& size, PhantomRandom& rng)
      : m_n{nx, ny, nz}, m_row(static_cast<std::size_t>(nx)) {
    m_values.resize(static_cast<std::size_t>(nx) * ny * nz);
    for (double& v : m_values) v = rng.Gaussianish();
    const int extent[3] = {size.x, size.y, size.z};
    for (int a = 0; a < 3; ++a) {
      for (int i = 0; i < extent[a]; ++i) {
        const double g = extent[a] > 1 ? static_cast<double>(i) * (m_n[a] - 1) / (extent[a] - 1) : 0.0;
        const int node = std::min(static_cast<int>(g), m_n[a] - 2);
        m_node[a].push_back(node);
        m_weight[a].push_back(g - node);
      }
    }
  }

  // Interpolates along y and z once per row of voxels; At then works along x.
  void StartRow(int y, int z) {
    const int j = m_node[1][static_cast<std::size_t>(y)];
    const int k = m_node[2][static_cast<std::size_t>(z)];
    const double wy = m_weight[1][static_cast<std::size_t>(y)];
    const double wz = m_weight[2][static_cast<std::size_t>(z)];
    for (int i = 0; i < m_n[0]; ++i) {
      m_row[static_cast<std::size_t>(i)] =
          (1.0 - wz) * ((1.0 - wy) * Value(i, j, k) + wy * Value(i, j + 1, k)) +
          wz * ((1.0 - wy) * Value(i, j, k + 1) + wy * Value(i, j + 1, k + 1));
    }
  }

  double At(int x) const {
    const auto i = static_cast<std::size_t>(m_node[0][static_cast<std::size_t>(x)]);
    const double w = m_weight[0][static_cast<std::size_t>(x)];
    return (1.0 - w) * m_row[i] + w * m_row[i + 1];
  }

 private:
  double Value(int x, int y, int z) const {
    return m_values[static_cast<std::size_t>(x) +
                    static_cast<std::size_t>(m_n[0]) *
                        (static_cast<std::size_t>(y) + static_cast<std::size_t>(m_n[1]) * z)];
  }

  int m_n[3];
  std::vector<double> m_values;
  std::vector<int> m_node[3];
  std::vector<double> m_weight[3];
  std::vector<double> m_row;
};

// 1 inside, 0 outside, smooth for r2 between the edges.
double Inside(double r2, double edge0, double edge1) {
  return r2 >= edge1 ? 0.0 : 1.0 - SmoothStep(edge0, edge1, r2);
}

constexpr double kFat = 820.0;
constexpr double kMuscle = 330.0;
constexpr double kRectalWall = 280.0;
constexpr double kRectalLumen = 140.0;
constexpr double kBladder = 1600.0;
constexpr double kCentralGland = 560.0;
constexpr double kPeripheralZone = 980.0;
constexpr double kCapsuleDarkening = 160.0;
constexpr double kNoiseSigma = 30.0;
constexpr double kMaximum = 2000.0;

}  // namespace

CVoxel SynthesizeImage(const ShapeField& truthShape, PhantomRandom& rng) {
  const ScanGeometry& g = truthShape.Geometry();
  const ShapeParams& p = truthShape.Params();
  CVoxel image(g.size);
  SetScanSpacing(image, g);
  if (!image.HasData()) return image;

  SmoothField texture(10, 10, 6, g.size, rng);
  SmoothField gland(6, 6, 4, g.size, rng);
  SmoothField bias(4, 4, 3, g.size, rng);
  const double biasStrength = rng.Uniform(0.08, 0.15);
  const double coilStrength = rng.Uniform(0.05, 0.12);

  // The prostate's surroundings, placed relative to its centre in mm.
  const double cx = p.centre[0];
  const double cy = p.centre[1];
  const double cz = p.centre[2];
  const double a = p.semiAxis[0];
  const double b = p.semiAxis[1];
  const double c = p.semiAxis[2];
  const double muscleOffset = a + 24.0;
  const double rectumY = cy + 0.95 * b + 14.0;
  const double bladderZ = cz + c + 24.0;

  C3DPoint lo;
  C3DPoint hi;
  truthShape.Bounds(1.1, &lo, &hi);

  for (int z = 0; z < g.size.z; ++z) {
    const double pz = z * g.spacing[2];
    const double bz = (pz - bladderZ) / 22.0;
    for (int y = 0; y < g.size.y; ++y) {
      const double py = y * g.spacing[1];
      const double my = (py - (cy + 2.0)) / 32.0;
      const double ry = py - rectumY;
      const double by = (py - (cy - 4.0)) / 30.0;
      const double posterior = SmoothStep(-0.35, 0.05, (py - cy) / b);
      const double coil = coilStrength * (2.0 * py / ScanGeometry::kFieldOfView[1] - 1.0);
      const bool prostateRow = y >= lo.y && y <= hi.y && z >= lo.z && z <= hi.z;
      texture.StartRow(y, z);
      bias.StartRow(y, z);
      if (prostateRow) gland.StartRow(y, z);
      for (int x = 0; x < g.size.x; ++x) {
        const double px = x * g.spacing[0];

        double v = kFat + 70.0 * texture.At(x);
        // Obturator muscles, one on each side, running through every slice.
        for (const double side : {-1.0, 1.0}) {
          const double mx = (px - (cx + side * muscleOffset)) / 10.0;
          v += (kMuscle - v) * Inside(mx * mx + my * my, 0.8, 1.2);
        }
        // Rectum behind the prostate: a dark wall around a darker lumen.
        const double rx = px - cx;
        const double r2 = (rx * rx + ry * ry) / (13.0 * 13.0);
        v += (kRectalWall - v) * Inside(r2, 0.85, 1.15);
        v += (kRectalLumen - v) * Inside(r2, 0.3, 0.45);
        // Bladder above the base.
        const double bx = (px - cx) / 38.0;
        v += (kBladder - v) * Inside(bx * bx + by * by + bz * bz, 0.85, 1.1);
        // The prostate, drawn from the truth's own shape so that image and truth
        // agree. Below level 0.6 and from 1.1 on nothing depends on the exact level.
        if (prostateRow && x >= lo.x && x <= hi.x) {
          const double level = truthShape.LevelBetween(x, y, z, 0.6, 1.1);
          if (level < 1.1) {
            const double zone = SmoothStep(0.6, 0.75, level) * posterior;
            const double prostate =
                kCentralGland + (kPeripheralZone - kCentralGland) * zone + 50.0 * gland.At(x);
            v += (prostate - v) * Inside(level, 0.97, 1.03);
            const double rim = (level - 1.0) / 0.04;
            if (rim > -1.0 && rim < 1.0) v -= kCapsuleDarkening * (1.0 - rim * rim);
          }
        }
        // Receive-coil bias: smooth, and brighter towards the posterior.
        v *= std::clamp(1.0 + biasStrength * bias.At(x) + coil, 0.6, 1.4);
        // Magnitude images carry Rician noise.
        const double re = v + kNoiseSigma * rng.Gaussianish();
        const double im = kNoiseSigma * rng.Gaussianish();
        const double magnitude = std::sqrt(re * re + im * im);
        image.At(x, y, z) = static_cast<CVoxel::value_type>(std::floor(std::min(magnitude, kMaximum) + 0.5));
      }
    }
  }
  return image;
}

}  // namespace phantom
