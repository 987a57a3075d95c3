// The scribbles a careful user paints on a phantom case.
//
// Errors are the 6-connected pieces of "truth but not segmentation" (missed
// tissue, marked 2) and "segmentation but not truth" (extra tissue, marked 3).
// Strokes go to the largest pieces in turn, missed and extra alternating, each
// on the piece's slice with the largest area not used yet; a stroke follows the
// middle of the piece's cross-section like a hand-drawn line. The brush is a
// disc of radius 2 voxels (a 3 x 3 dab), as painted in the window. A user does
// not paint across the true boundary: every 2 lies inside the truth and every
// 3 outside it. Confirming strokes lie where segmentation and truth agree.
// Dots (many separate dabs, a stress case for the region stage) lie wholly on
// errors, each one piece of its own.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <vector>

#include "PhantomParts.h"
#include "PhantomRandom.h"

namespace phantom {

namespace {

constexpr double kBrushRadius = 2.0;
// Pieces smaller than this are not worth a stroke.
constexpr std::size_t kMinimumPiece = 4;

struct Pixel {
  int x;
  int y;
};

struct ErrorPiece {
  CVoxel::value_type value;         // the scribble that fixes it
  std::vector<std::size_t> voxels;  // in scan order
};

// Which voxels a stroke may write.
enum class Rule {
  kTruthSide,      // 2 inside the truth, 3 outside: the error strokes
  kAgreeing,       // additionally where the segmentation already says the same
  kContradicting,  // additionally where the segmentation says otherwise: the dots
};

class Painter {
 public:
  Painter(const CVoxel& truth, const CVoxel& segmentation, CVoxel& scribbles)
      : m_truth(truth), m_segmentation(segmentation), m_scribbles(scribbles) {}

  bool Allowed(int x, int y, int z, CVoxel::value_type value, Rule rule) const {
    if (!m_truth.Contains(x, y, z)) return false;
    const bool inTruth = m_truth.At(x, y, z) != 0;
    const bool inSegmentation = m_segmentation.At(x, y, z) != 0;
    const bool wantInside = value == kForegroundScribble;
    if (inTruth != wantInside) return false;
    if (rule == Rule::kAgreeing) return inSegmentation == wantInside;
    if (rule == Rule::kContradicting) return inSegmentation != wantInside;
    return true;
  }

  // The voxels of one dab centred on (x, y) of slice z that the rule allows.
  // With `connected`, only those joined to the centre through allowed voxels
  // sharing a face, so that the dab stays one piece.
  std::vector<std::size_t> Dab(int x, int y, int z, CVoxel::value_type value, Rule rule,
                               bool connected = false) const {
    constexpr int kReach = static_cast<int>(kBrushRadius);
    constexpr int kSide = 2 * kReach + 1;
    bool allowed[kSide][kSide] = {};
    for (int dy = -kReach; dy <= kReach; ++dy) {
      for (int dx = -kReach; dx <= kReach; ++dx) {
        allowed[dy + kReach][dx + kReach] =
            dx * dx + dy * dy < kBrushRadius * kBrushRadius && Allowed(x + dx, y + dy, z, value, rule);
      }
    }
    if (connected) {
      bool reached[kSide][kSide] = {};
      std::vector<Pixel> stack;
      if (allowed[kReach][kReach]) stack.push_back({kReach, kReach});
      while (!stack.empty()) {
        const Pixel p = stack.back();
        stack.pop_back();
        if (p.x < 0 || p.y < 0 || p.x >= kSide || p.y >= kSide || !allowed[p.y][p.x] || reached[p.y][p.x])
          continue;
        reached[p.y][p.x] = true;
        stack.insert(stack.end(), {{p.x - 1, p.y}, {p.x + 1, p.y}, {p.x, p.y - 1}, {p.x, p.y + 1}});
      }
      std::copy(&reached[0][0], &reached[0][0] + kSide * kSide, &allowed[0][0]);
    }
    std::vector<std::size_t> out;
    for (int dy = -kReach; dy <= kReach; ++dy) {
      for (int dx = -kReach; dx <= kReach; ++dx) {
        if (allowed[dy + kReach][dx + kReach]) out.push_back(m_truth.Index(x + dx, y + dy, z));
      }
    }
    return out;
  }

  void Write(const std::vector<std::size_t>& voxels, CVoxel::value_type value) {
    for (std::size_t i : voxels) m_scribbles[i] = value;
  }

  // True when no voxel of the dab or of its 26 neighbours holds a scribble, so
  // that the dab becomes a piece of its own.
  bool Isolated(const std::vector<std::size_t>& voxels) const {
    const std::size_t X = static_cast<std::size_t>(m_scribbles.X);
    const std::size_t XY = X * static_cast<std::size_t>(m_scribbles.Y);
    for (std::size_t i : voxels) {
      const int x = static_cast<int>(i % X);
      const int y = static_cast<int>((i / X) % static_cast<std::size_t>(m_scribbles.Y));
      const int z = static_cast<int>(i / XY);
      for (int dz = -1; dz <= 1; ++dz) {
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            if (m_scribbles.Contains(x + dx, y + dy, z + dz) && m_scribbles.At(x + dx, y + dy, z + dz) != 0) {
              return false;
            }
          }
        }
      }
    }
    return true;
  }

  // A stroke along the middle of a cross-section: the pixels are binned along
  // their principal axis, and each bin gets one dab on its pixel closest to the
  // bin's mean across the axis. The ends (trim of the length on each side)
  // stay unpainted, as a user starts and stops inside the area. Returns
  // whether anything was written.
  bool StrokeAlong(const std::vector<Pixel>& pixels, int z, CVoxel::value_type value, Rule rule,
                   double trim) {
    if (pixels.empty()) return false;
    double mx = 0.0;
    double my = 0.0;
    for (const Pixel& p : pixels) {
      mx += p.x;
      my += p.y;
    }
    mx /= static_cast<double>(pixels.size());
    my /= static_cast<double>(pixels.size());
    double sxx = 0.0;
    double syy = 0.0;
    double sxy = 0.0;
    for (const Pixel& p : pixels) {
      sxx += (p.x - mx) * (p.x - mx);
      syy += (p.y - my) * (p.y - my);
      sxy += (p.x - mx) * (p.y - my);
    }
    // Eigenvector of the larger eigenvalue of the 2 x 2 covariance.
    const double half = 0.5 * (sxx - syy);
    const double lambda = 0.5 * (sxx + syy) + std::sqrt(half * half + sxy * sxy);
    double ex = sxy;
    double ey = lambda - sxx;
    if (ex * ex + ey * ey < (lambda - syy) * (lambda - syy) + sxy * sxy) {
      ex = lambda - syy;
      ey = sxy;
    }
    const double norm = std::sqrt(ex * ex + ey * ey);
    if (norm < 1e-12) {
      ex = 1.0;
      ey = 0.0;
    } else {
      ex /= norm;
      ey /= norm;
    }

    double tMin = 0.0;
    double tMax = 0.0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      const double t = (pixels[i].x - mx) * ex + (pixels[i].y - my) * ey;
      if (i == 0 || t < tMin) tMin = t;
      if (i == 0 || t > tMax) tMax = t;
    }
    const int bins = static_cast<int>(tMax - tMin) + 1;
    std::vector<double> acrossSum(static_cast<std::size_t>(bins), 0.0);
    std::vector<int> count(static_cast<std::size_t>(bins), 0);
    auto binOf = [&](const Pixel& p) {
      const double t = (p.x - mx) * ex + (p.y - my) * ey;
      return std::min(bins - 1, static_cast<int>(t - tMin));
    };
    auto across = [&](const Pixel& p) { return -(p.x - mx) * ey + (p.y - my) * ex; };
    for (const Pixel& p : pixels) {
      acrossSum[static_cast<std::size_t>(binOf(p))] += across(p);
      ++count[static_cast<std::size_t>(binOf(p))];
    }
    std::vector<const Pixel*> best(static_cast<std::size_t>(bins), nullptr);
    std::vector<double> bestGap(static_cast<std::size_t>(bins), 0.0);
    for (const Pixel& p : pixels) {
      const auto b = static_cast<std::size_t>(binOf(p));
      const double gap = std::fabs(across(p) - acrossSum[b] / count[b]);
      if (best[b] == nullptr || gap < bestGap[b]) {
        best[b] = &p;
        bestGap[b] = gap;
      }
    }
    const int skip = bins >= 5 ? static_cast<int>(trim * bins) : 0;
    bool wrote = false;
    for (int b = skip; b < bins - skip; ++b) {
      if (best[static_cast<std::size_t>(b)] == nullptr) continue;
      const Pixel& centre = *best[static_cast<std::size_t>(b)];
      const std::vector<std::size_t> dab = Dab(centre.x, centre.y, z, value, rule);
      Write(dab, value);
      wrote = wrote || !dab.empty();
    }
    return wrote;
  }

 private:
  const CVoxel& m_truth;
  const CVoxel& m_segmentation;
  CVoxel& m_scribbles;
};

// 6-connected pieces of the two error kinds, largest first (ties: the piece
// whose first voxel comes first in scan order).
std::vector<ErrorPiece> FindErrorPieces(const CVoxel& truth, const CVoxel& segmentation) {
  const std::size_t n = truth.VoxelCount();
  // 0: no error, 2: missed, 3: extra; a visited voxel is set back to 0.
  std::vector<CVoxel::value_type> kind(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const bool t = truth[i] != 0;
    const bool s = segmentation[i] != 0;
    if (t && !s) kind[i] = kForegroundScribble;
    if (s && !t) kind[i] = kBackgroundScribble;
  }
  const std::size_t X = static_cast<std::size_t>(truth.X);
  const std::size_t XY = X * static_cast<std::size_t>(truth.Y);
  std::vector<ErrorPiece> pieces;
  std::deque<std::size_t> queue;
  for (std::size_t seed = 0; seed < n; ++seed) {
    if (kind[seed] == 0) continue;
    ErrorPiece piece{kind[seed], {}};
    kind[seed] = 0;
    queue.push_back(seed);
    while (!queue.empty()) {
      const std::size_t i = queue.front();
      queue.pop_front();
      piece.voxels.push_back(i);
      const std::size_t x = i % X;
      const std::size_t y = (i / X) % static_cast<std::size_t>(truth.Y);
      const std::size_t z = i / XY;
      const bool has[6] = {x > 0,
                           y > 0,
                           z > 0,
                           x + 1 < X,
                           y + 1 < static_cast<std::size_t>(truth.Y),
                           z + 1 < static_cast<std::size_t>(truth.Z)};
      const std::size_t next[6] = {i - 1, i - X, i - XY, i + 1, i + X, i + XY};
      for (int k = 0; k < 6; ++k) {
        if (has[k] && kind[next[k]] == piece.value) {
          kind[next[k]] = 0;
          queue.push_back(next[k]);
        }
      }
    }
    std::sort(piece.voxels.begin(), piece.voxels.end());
    pieces.push_back(std::move(piece));
  }
  std::stable_sort(pieces.begin(), pieces.end(), [](const ErrorPiece& a, const ErrorPiece& b) {
    return a.voxels.size() > b.voxels.size();
  });
  return pieces;
}

// The pieces in the order strokes visit them: missed and extra alternating,
// each kind largest first, tiny pieces left out.
std::vector<const ErrorPiece*> StrokeOrder(const std::vector<ErrorPiece>& pieces) {
  std::vector<const ErrorPiece*> missed;
  std::vector<const ErrorPiece*> extra;
  for (const ErrorPiece& p : pieces) {
    if (p.voxels.size() < kMinimumPiece) continue;
    (p.value == kForegroundScribble ? missed : extra).push_back(&p);
  }
  std::vector<const ErrorPiece*> order;
  for (std::size_t i = 0; i < std::max(missed.size(), extra.size()); ++i) {
    if (i < missed.size()) order.push_back(missed[i]);
    if (i < extra.size()) order.push_back(extra[i]);
  }
  return order;
}

// The piece's cross-sections, largest area first (ties: lower slice first).
std::vector<std::vector<Pixel>> CrossSections(const ErrorPiece& piece, const CVoxel& volume,
                                              std::vector<int>* slices) {
  const std::size_t X = static_cast<std::size_t>(volume.X);
  const std::size_t XY = X * static_cast<std::size_t>(volume.Y);
  std::vector<std::vector<Pixel>> sections;
  slices->clear();
  for (std::size_t i : piece.voxels) {  // scan order: slices come in ascending order
    const int z = static_cast<int>(i / XY);
    if (slices->empty() || slices->back() != z) {
      slices->push_back(z);
      sections.emplace_back();
    }
    sections.back().push_back({static_cast<int>(i % X), static_cast<int>((i % XY) / X)});
  }
  std::vector<std::size_t> order(sections.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sections[a].size() > sections[b].size(); });
  std::vector<std::vector<Pixel>> sorted;
  std::vector<int> sortedSlices;
  for (std::size_t k : order) {
    sorted.push_back(std::move(sections[k]));
    sortedSlices.push_back((*slices)[k]);
  }
  *slices = std::move(sortedSlices);
  return sorted;
}

// A confirming stroke: an arc through a ring of the truth's shape (levels
// [inner, outer)) inside a 60-degree sector around a random direction, on one
// of the slices where the truth is at least half its largest area.
bool AgreeingStroke(const CVoxel& truth, const ShapeField& shape, CVoxel::value_type value, double inner,
                    double outer, PhantomRandom& rng, Painter& painter) {
  std::vector<int> area(static_cast<std::size_t>(truth.Z), 0);
  for (int z = 0; z < truth.Z; ++z) {
    for (int y = 0; y < truth.Y; ++y) {
      for (int x = 0; x < truth.X; ++x) area[static_cast<std::size_t>(z)] += truth.At(x, y, z) != 0;
    }
  }
  const int largest = *std::max_element(area.begin(), area.end());
  std::vector<int> candidates;
  for (int z = 0; z < truth.Z; ++z) {
    if (largest > 0 && 2 * area[static_cast<std::size_t>(z)] >= largest) candidates.push_back(z);
  }
  if (candidates.empty()) return false;

  const ScanGeometry& g = shape.Geometry();
  const ShapeParams& p = shape.Params();
  C3DPoint lo;
  C3DPoint hi;
  shape.Bounds(outer, &lo, &hi);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int z =
        candidates[static_cast<std::size_t>(rng.UniformInt(0, static_cast<int>(candidates.size()) - 1))];
    const std::array<double, 3> dir = RandomSideDirection(rng, 0.0);
    std::vector<Pixel> ring;
    for (int y = lo.y; y <= hi.y; ++y) {
      for (int x = lo.x; x <= hi.x; ++x) {
        const double level = shape.Level(x, y, z);
        if (level < inner || level >= outer) continue;
        const double vx = x * g.spacing[0] - p.centre[0];
        const double vy = y * g.spacing[1] - p.centre[1];
        const double along = vx * dir[0] + vy * dir[1];
        if (along <= 0.0 || along * along < 0.75 * (vx * vx + vy * vy)) continue;  // within 30 degrees
        if (painter.Allowed(x, y, z, value, Rule::kAgreeing)) ring.push_back({x, y});
      }
    }
    if (ring.size() >= kMinimumPiece && painter.StrokeAlong(ring, z, value, Rule::kAgreeing, 0.1))
      return true;
  }
  return false;
}

}  // namespace

ScribbleStats DrawScribbles(const CVoxel& truth, const CVoxel& segmentation, const ShapeField& truthShape,
                            int strokes, int dots, PhantomRandom& rng, CVoxel& scribbles) {
  ScribbleStats stats;
  Painter painter(truth, segmentation, scribbles);
  const std::vector<ErrorPiece> pieces = FindErrorPieces(truth, segmentation);

  // Error strokes: the k-th visit of a piece paints its k-th largest cross-section.
  const std::vector<const ErrorPiece*> order = StrokeOrder(pieces);
  for (int s = 0; s < strokes && !order.empty(); ++s) {
    const ErrorPiece& piece = *order[static_cast<std::size_t>(s) % order.size()];
    const std::size_t visit = static_cast<std::size_t>(s) / order.size();
    std::vector<int> slices;
    const std::vector<std::vector<Pixel>> sections = CrossSections(piece, truth, &slices);
    const std::size_t k = visit % sections.size();
    if (painter.StrokeAlong(sections[k], slices[k], piece.value, Rule::kTruthSide, 0.1)) ++stats.errorStrokes;
  }

  // Confirming strokes, foreground and background alternating: a foreground arc
  // well inside the organ, a background arc a little outside it.
  const int agreeing = (strokes + 2) / 3;
  for (int s = 0; s < agreeing; ++s) {
    const bool foreground = s % 2 == 0;
    const bool drawn = foreground
                           ? AgreeingStroke(truth, truthShape, kForegroundScribble, 0.35, 0.6, rng, painter)
                           : AgreeingStroke(truth, truthShape, kBackgroundScribble, 1.3, 1.5, rng, painter);
    stats.agreeingStrokes += drawn;
  }

  // Dots: single dabs centred on error voxels, each apart from every other scribble.
  if (dots > 0) {
    std::vector<std::size_t> candidates;
    std::vector<CVoxel::value_type> values;
    for (const ErrorPiece& piece : pieces) {
      for (std::size_t i : piece.voxels) {
        candidates.push_back(i);
        values.push_back(piece.value);
      }
    }
    // Fisher-Yates shuffle of the candidate positions (with their values).
    for (std::size_t i = candidates.size(); i > 1; --i) {
      const auto j = static_cast<std::size_t>(rng.UniformInt(0, static_cast<int>(i) - 1));
      std::swap(candidates[i - 1], candidates[j]);
      std::swap(values[i - 1], values[j]);
    }
    const std::size_t X = static_cast<std::size_t>(truth.X);
    const std::size_t XY = X * static_cast<std::size_t>(truth.Y);
    for (std::size_t c = 0; c < candidates.size() && stats.dots < dots; ++c) {
      const std::size_t i = candidates[c];
      const std::vector<std::size_t> dab =
          painter.Dab(static_cast<int>(i % X), static_cast<int>((i % XY) / X), static_cast<int>(i / XY),
                      values[c], Rule::kContradicting, true);
      if (dab.empty() || !painter.Isolated(dab)) continue;
      painter.Write(dab, values[c]);
      ++stats.dots;
    }
  }

  for (std::size_t i = 0; i < scribbles.VoxelCount(); ++i) {
    const CVoxel::value_type v = scribbles[i];
    if (v == kForegroundScribble) {
      ++stats.foregroundVoxels;
      stats.contradicting += segmentation[i] == 0;
    } else if (v == kBackgroundScribble) {
      ++stats.backgroundVoxels;
      stats.contradicting += segmentation[i] != 0;
    }
  }
  return stats;
}

}  // namespace phantom
