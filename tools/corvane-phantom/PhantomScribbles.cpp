// The scribbles a careful user paints on a phantom case.
//
// Every error site of the segmentation (the lost apex slice, the base, the
// side pulled in, the bulge) gets strokes in turn, largest site first; the
// k-th stroke on a site goes to the slice where the site's largest in-plane
// patch is the k-th largest, and follows the middle of that patch like a
// hand-drawn line. The brush is a disc of radius 2 voxels (a 3 x 3 dab), as
// painted in the window. A user does not paint across the true boundary: every
// 2 lies inside the truth and every 3 outside it. Confirming strokes lie where
// segmentation and truth agree. Dots (many separate dabs, a stress case for the
// region stage) lie wholly on errors, each one piece of its own.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "PhantomParts.h"
#include "PhantomRandom.h"

namespace phantom {

namespace {

constexpr double kBrushRadius = 2.0;
// Sites and patches smaller than this are not worth a stroke.
constexpr std::size_t kMinimumPiece = 4;

struct Pixel {
  int x;
  int y;
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

// The in-plane patches of a site, one per slice: the largest 4-connected patch
// of the site on that slice, ordered by size, largest first (ties: lower slice).
struct Patch {
  int z;
  std::vector<Pixel> pixels;
};

std::vector<Patch> LargestPatches(const ErrorSite& site, const CVoxel& volume) {
  const std::size_t X = static_cast<std::size_t>(volume.X);
  const std::size_t XY = X * static_cast<std::size_t>(volume.Y);
  std::vector<Patch> patches;
  std::vector<char> onSite(XY, 0);
  std::size_t k = 0;
  while (k < site.voxels.size()) {  // scan order: one slice after another
    const int z = static_cast<int>(site.voxels[k] / XY);
    std::size_t end = k;
    while (end < site.voxels.size() && static_cast<int>(site.voxels[end] / XY) == z) ++end;
    for (std::size_t i = k; i < end; ++i) onSite[site.voxels[i] % XY] = 1;
    Patch best{z, {}};
    for (std::size_t i = k; i < end; ++i) {
      const std::size_t start = site.voxels[i] % XY;
      if (onSite[start] != 1) continue;
      std::vector<Pixel> patch;
      std::vector<std::size_t> stack{start};
      onSite[start] = 2;
      while (!stack.empty()) {
        const std::size_t p = stack.back();
        stack.pop_back();
        const std::size_t x = p % X;
        patch.push_back({static_cast<int>(x), static_cast<int>(p / X)});
        const bool has[4] = {x > 0, x + 1 < X, p >= X, p + X < XY};
        const std::size_t next[4] = {p - 1, p + 1, p - X, p + X};
        for (int n = 0; n < 4; ++n) {
          if (has[n] && onSite[next[n]] == 1) {
            onSite[next[n]] = 2;
            stack.push_back(next[n]);
          }
        }
      }
      if (patch.size() > best.pixels.size()) best.pixels = std::move(patch);
    }
    for (std::size_t i = k; i < end; ++i) onSite[site.voxels[i] % XY] = 0;
    if (best.pixels.size() >= kMinimumPiece) patches.push_back(std::move(best));
    k = end;
  }
  std::stable_sort(patches.begin(), patches.end(),
                   [](const Patch& a, const Patch& b) { return a.pixels.size() > b.pixels.size(); });
  return patches;
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
                            const std::vector<ErrorSite>& sites, int strokes, int dots, PhantomRandom& rng,
                            CVoxel& scribbles) {
  ScribbleStats stats;
  Painter painter(truth, segmentation, scribbles);

  // Error strokes: sites in turn, largest first; each visit takes the next patch.
  std::vector<const ErrorSite*> order;
  for (const ErrorSite& site : sites) {
    if (site.voxels.size() >= kMinimumPiece) order.push_back(&site);
  }
  std::stable_sort(order.begin(), order.end(), [](const ErrorSite* a, const ErrorSite* b) {
    return a->voxels.size() > b->voxels.size();
  });
  std::vector<std::vector<Patch>> patches;
  for (const ErrorSite* site : order) patches.push_back(LargestPatches(*site, truth));
  for (int s = 0; s < strokes && !order.empty(); ++s) {
    const std::size_t which = static_cast<std::size_t>(s) % order.size();
    const std::vector<Patch>& choices = patches[which];
    if (choices.empty()) continue;
    const Patch& patch = choices[(static_cast<std::size_t>(s) / order.size()) % choices.size()];
    if (painter.StrokeAlong(patch.pixels, patch.z, order[which]->fix, Rule::kTruthSide, 0.1))
      ++stats.errorStrokes;
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
    for (std::size_t i = 0; i < truth.VoxelCount(); ++i) {
      if ((truth[i] != 0) != (segmentation[i] != 0)) {
        candidates.push_back(i);
        values.push_back(truth[i] != 0 ? kForegroundScribble : kBackgroundScribble);
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
