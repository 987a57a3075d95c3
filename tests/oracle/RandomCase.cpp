#include "tests/oracle/RandomCase.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

namespace oracle {

namespace {

class Random {
 public:
  explicit Random(std::uint32_t seed) : m_engine(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_engine); }
  double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(m_engine); }
  bool Chance(double p) { return Real(0.0, 1.0) < p; }

 private:
  std::mt19937 m_engine;
};

struct Ellipsoid {
  double centre[3];
  double radius[3];
  int value;
};

// A main ellipsoid with a wavy surface and up to two bumps on it.
std::vector<Ellipsoid> RandomShape(Random& random, const int size[3], bool allowOtherLabel) {
  std::vector<Ellipsoid> parts;
  Ellipsoid main{};
  for (int a = 0; a < 3; ++a) {
    main.centre[a] = size[a] * random.Real(0.4, 0.6);
    main.radius[a] = std::max(1.5, size[a] * random.Real(0.18, 0.34));
  }
  main.value = 1;
  parts.push_back(main);
  const int bumps = random.Int(0, 2);
  for (int b = 0; b < bumps; ++b) {
    Ellipsoid bump{};
    for (int a = 0; a < 3; ++a) {
      bump.centre[a] = main.centre[a] + main.radius[a] * random.Real(-0.9, 0.9);
      bump.radius[a] = std::max(1.0, main.radius[a] * random.Real(0.3, 0.55));
    }
    bump.value = allowOtherLabel && random.Chance(0.2) ? 2 : 1;
    parts.push_back(bump);
  }
  return parts;
}

CVoxel Rasterise(const std::vector<Ellipsoid>& parts, const int size[3], double wave, double phase) {
  CVoxel label(size[0], size[1], size[2]);
  for (int z = 0; z < size[2]; ++z) {
    for (int y = 0; y < size[1]; ++y) {
      for (int x = 0; x < size[0]; ++x) {
        for (const Ellipsoid& e : parts) {
          const double dx = (x - e.centre[0]) / e.radius[0];
          const double dy = (y - e.centre[1]) / e.radius[1];
          const double dz = (z - e.centre[2]) / e.radius[2];
          const double angle = std::atan2(dy, dx);
          const double limit = 1.0 + wave * std::sin(3.0 * angle + phase + 0.7 * z);
          if (dx * dx + dy * dy + dz * dz <= limit)
            label.At(x, y, z) = static_cast<CVoxel::value_type>(e.value);
        }
      }
    }
  }
  return label;
}

void RandomSize(Random& random, const RandomCaseOptions& options, int size[3]) {
  for (int a = 0; a < 3; ++a) size[a] = random.Int(options.minSize[a], options.maxSize[a]);
}

// One stroke: a short in-plane polyline painted with a small disc, sometimes
// over two slices, or a single dot.
void PaintStroke(Random& random, CVoxel& map, const CVoxel& label, int value) {
  std::vector<C3DPoint> boundary;
  for (int z = 0; z < label.Z; ++z) {
    for (int y = 0; y < label.Y; ++y) {
      for (int x = 0; x < label.X; ++x) {
        if (label.At(x, y, z) == 0) continue;
        const bool edge = x == 0 || y == 0 || x == label.X - 1 || y == label.Y - 1 ||
                          label.At(x - 1, y, z) == 0 || label.At(x + 1, y, z) == 0 ||
                          label.At(x, y - 1, z) == 0 || label.At(x, y + 1, z) == 0;
        if (edge) boundary.push_back(C3DPoint(x, y, z));
      }
    }
  }
  C3DPoint start(random.Int(0, map.X - 1), random.Int(0, map.Y - 1), random.Int(0, map.Z - 1));
  if (!boundary.empty() && random.Chance(0.85)) {
    start = boundary[static_cast<std::size_t>(random.Int(0, static_cast<int>(boundary.size()) - 1))];
    start.x += random.Int(-3, 3);
    start.y += random.Int(-3, 3);
  }
  const bool dot = random.Chance(0.2);
  const int length = dot ? 1 : random.Int(3, 10);
  const int brush = dot ? 0 : random.Int(0, 1);
  const int slices = random.Chance(0.25) ? 2 : 1;
  const double angle = random.Real(0.0, 6.283185307179586);
  for (int step = 0; step < length; ++step) {
    const int cx = start.x + static_cast<int>(std::lround(step * std::cos(angle)));
    const int cy = start.y + static_cast<int>(std::lround(step * std::sin(angle)));
    for (int dz = 0; dz < slices; ++dz) {
      for (int dy = -brush; dy <= brush; ++dy) {
        for (int dx = -brush; dx <= brush; ++dx) {
          if (dx * dx + dy * dy > brush * brush) continue;
          const int x = cx + dx, y = cy + dy, z = start.z + dz;
          if (map.Contains(x, y, z)) map.At(x, y, z) = static_cast<CVoxel::value_type>(value);
        }
      }
    }
  }
}

}  // namespace

std::unique_ptr<CVoxel> OddReference(const std::string& kind) {
  if (kind == "unreadable") return std::make_unique<CVoxel>();
  auto label = std::make_unique<CVoxel>(12, 12, 6);
  for (int z = 0; z < 6; ++z) {
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 12; ++x) {
        const bool square = z == 3 && x > 2 && x < 9 && y > 2 && y < 9;
        const bool line = square && y == 5;
        const bool dot = line && x == 5;
        const bool ball = (x - 6) * (x - 6) + (y - 6) * (y - 6) + 4 * (z - 3) * (z - 3) <= 12;
        if (kind == "negative" && ball) label->At(x, y, z) = -1;
        if ((kind == "flat" && square) || (kind == "line" && line) || (kind == "dot" && dot) ||
            kind == "full") {
          label->At(x, y, z) = 1;
        }
      }
    }
  }
  if (kind == "empty" || kind == "negative" || kind == "flat" || kind == "line" || kind == "dot" ||
      kind == "full") {
    return label;
  }
  return nullptr;
}

RandomCase MakeRandomCase(std::uint32_t seed, const RandomCaseOptions& options) {
  Random random(seed);
  RandomCase c;
  int size[3];
  RandomSize(random, options, size);
  c.segmentation =
      Rasterise(RandomShape(random, size, false), size, random.Real(0.0, 0.25), random.Real(0, 6));
  if (c.segmentation.CountNonZero() == 0) c.segmentation.At(size[0] / 2, size[1] / 2, size[2] / 2) = 1;
  // Labels other than 0/1: values above 1 are inside everywhere, negative
  // values are non-zero but not > 0, which the stages tell apart differently.
  const bool oddValues = random.Chance(0.35);
  if (oddValues) {
    for (std::size_t i = 0; i < c.segmentation.VoxelCount(); ++i) {
      const double r = random.Real(0.0, 1.0);
      if (c.segmentation[i] != 0 && r < 0.3) {
        c.segmentation[i] = static_cast<CVoxel::value_type>(random.Int(2, 300));
      } else if (r > 0.98) {
        c.segmentation[i] = static_cast<CVoxel::value_type>(-random.Int(1, 3));
      }
    }
  }
  c.interactionMap = CVoxel(size[0], size[1], size[2]);
  for (int s = 0; s < options.strokes; ++s) {
    // Value 1 is drawn by the viewer but acted on by no stage.
    const int value = random.Chance(0.1) ? 1 : random.Chance(0.5) ? 2 : 3;
    PaintStroke(random, c.interactionMap, c.segmentation, value);
  }
  for (int r = 0; r < options.references; ++r) {
    int referenceSize[3];
    for (int a = 0; a < 3; ++a) referenceSize[a] = std::max(4, size[a] + random.Int(-4, 4));
    CVoxel reference = Rasterise(RandomShape(random, referenceSize, true), referenceSize,
                                 random.Real(0.0, 0.3), random.Real(0, 6));
    if (reference.CountNonZero() == 0) reference.At(referenceSize[0] / 2, referenceSize[1] / 2, 0) = 1;
    c.references.push_back(std::move(reference));
  }
  if (options.smallParameters) {
    c.parameters.neighbourhoodMargin = C3DPoint(random.Int(2, 6), random.Int(2, 6), random.Int(1, 3));
    c.parameters.translationRange = C3DPoint(random.Int(1, 4), random.Int(1, 4), random.Int(0, 2));
    c.parameters.translationStep = C3DPoint(random.Int(1, 2), random.Int(1, 2), 1);
    c.parameters.pairDistance = random.Real(5.0, 25.0);
    c.parameters.votingReferences = random.Int(1, 5);
  }
  std::ostringstream text;
  text << "seed " << seed << ", volume " << size[0] << "x" << size[1] << "x" << size[2] << ", "
       << c.references.size() << " references" << (oddValues ? ", odd label values" : "");
  c.description = text.str();
  return c;
}

}  // namespace oracle
