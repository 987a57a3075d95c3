// Probability maps: around every scribble region, the best-agreeing registered
// references vote voxel by voxel on whether the organ is there.
//
// The agreement score of a reference at a translation is a sum, in double
// precision and in the window's scan order, of one term per window voxel: +t(w)
// where the translated reference is inside and -t(w) where it is not, t(w)
// depending only on the region, the other scribbles and the segmentation at w.
//
// Two steps keep this exact and fast. First, integer counts of the inside
// voxels of every term kind (own scribble, other scribble, segmentation) give
// each translation's score as a real number; the double-precision sum lies
// within a known bound of it, so only the translations that can reach the best
// score are kept. Then those are summed in double precision, eight side by side
// in the lanes of one vector: every lane adds its own terms in the same voxel
// order as the plain sum, so each lane's result is the plain sum, bit for bit
// (additions only, no contraction, no reassociation).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"
#include "geometry/InstructionSet.h"
#include "geometry/LabelRuns.h"
#include "geometry/Parallel.h"

namespace fusion {

namespace {

int Partition(std::vector<double>& values, std::vector<int>& indices, int lo, int hi) {
  const double pivot = values[hi];
  int i = lo - 1;
  for (int j = lo; j < hi; ++j) {
    if (values[j] >= pivot) {
      ++i;
      std::swap(values[i], values[j]);
      std::swap(indices[i], indices[j]);
    }
  }
  std::swap(values[i + 1], values[hi]);
  std::swap(indices[i + 1], indices[hi]);
  return i + 1;
}

bool ReferenceInside(const CVoxel& reference, const C3DPoint& position) {
  return reference.Contains(position.x, position.y, position.z) &&
         reference.At(position.x, position.y, position.z) > 0;
}

// The value a region holds at a window voxel once the other scribbles are
// marked: its own value, else the marker of the scribble there.
int MarkedValue(int regionValue, int scribble) {
  if (regionValue != 0) return regionValue;
  if (scribble == kBackgroundScribble) return kOtherBackground;
  if (scribble == kForegroundScribble) return kOtherForeground;
  return 0;
}

// Which weight the score term of a window voxel carries: 1 for the region's
// own scribble, the other-scribble weight, or the segmentation weight.
enum Category { kOwn, kOther, kSegmentation, kCategories };

// The term's weight and its sign where the translated reference voxel is
// inside; where it is outside the sign flips.
struct Term {
  Category category;
  bool positive;
};

Term TermOf(int marked, bool segmentationInside) {
  if (marked == kBackgroundScribble || marked == kForegroundScribble)
    return {kOwn, marked != kBackgroundScribble};
  if (marked != 0) return {kOther, marked != kOtherBackground};
  return {kSegmentation, segmentationInside};
}

double InsideTerm(const Term& term, const CorrectionParameters& parameters) {
  const double weight = term.category == kOwn     ? 1.0
                        : term.category == kOther ? parameters.otherScribbleWeight
                                                  : parameters.segmentationWeight;
  return term.positive ? weight : -weight;
}

// The translations tried for one region: offsets per axis, enumerated z
// outermost, then y, then x; an offset's position number is
// ix + nx * (iy + ny * iz).
struct Translations {
  std::vector<int> x;
  std::vector<int> y;
  std::vector<int> z;

  int Count() const { return static_cast<int>(x.size() * y.size() * z.size()); }
  C3DPoint Offset(int number) const {
    const int nx = static_cast<int>(x.size());
    const int ny = static_cast<int>(y.size());
    return {x[number % nx], y[(number / nx) % ny], z[number / (nx * ny)]};
  }
};

// ---- Exact scores: the vector kernel ----------------------------------------

constexpr int kLanes = 8;          // scores summed side by side
constexpr int kMaxPassChunks = 4;  // groups of eight scores per kernel call

typedef double Lanes __attribute__((vector_size(8 * kLanes)));
typedef std::uint64_t LaneBits __attribute__((vector_size(8 * kLanes)));

// For every byte b of inside flags (bit j: lane j's reference is inside), the
// lanes whose sign must flip: those whose reference is outside.
struct SignFlipTable {
  LaneBits flips[256];
  SignFlipTable() {
    for (int b = 0; b < 256; ++b)
      for (int j = 0; j < kLanes; ++j) flips[b][j] = (b >> j) & 1 ? 0 : std::uint64_t{1} << 63;
  }
};
const LaneBits* SignFlips() {
  static const SignFlipTable table;  // static storage keeps the vectors' alignment
  return table.flips;
}

// Up to kMaxPassChunks groups of eight sums over one window; each group has
// a byte of inside flags per window voxel.
struct KernelJob {
  const double* terms = nullptr;  // t(w), window scan order
  std::size_t voxels = 0;
  const std::uint8_t* flags[kMaxPassChunks] = {};
  int chunks = 0;
  double* sums = nullptr;  // kLanes * chunks results
};

template <int C>
inline __attribute__((always_inline)) void SumKernel(const KernelJob& job) {
  const LaneBits* flips = SignFlips();
  Lanes sums[C];
#pragma GCC unroll 8
  for (int c = 0; c < C; ++c) sums[c] = Lanes{};
  for (std::size_t w = 0; w < job.voxels; ++w) {
    const double t = job.terms[w];
    const LaneBits bits = (LaneBits)(Lanes{t, t, t, t, t, t, t, t});
#pragma GCC unroll 8
    for (int c = 0; c < C; ++c) sums[c] += (Lanes)(bits ^ flips[job.flags[c][w]]);
  }
  for (int c = 0; c < C; ++c)
    for (int j = 0; j < kLanes; ++j) job.sums[c * kLanes + j] = sums[c][j];
}

inline __attribute__((always_inline)) void SumKernelOf(const KernelJob& job) {
  switch (job.chunks) {
    case 1:
      SumKernel<1>(job);
      break;
    case 2:
      SumKernel<2>(job);
      break;
    case 3:
      SumKernel<3>(job);
      break;
    case 4:
      SumKernel<4>(job);
      break;
    default:
      break;
  }
}

// The kernel for each instruction set; every version adds the same doubles in
// the same order.
void RunKernelBaseline(const KernelJob& job) { SumKernelOf(job); }
__attribute__((target("avx2"))) void RunKernelAvx2(const KernelJob& job) { SumKernelOf(job); }
__attribute__((target("avx512f"))) void RunKernelAvx512(const KernelJob& job) { SumKernelOf(job); }

void RunKernel(const KernelJob& job) {
  static const auto kernel =
      geometry::ForInstructionSet(&RunKernelBaseline, &RunKernelAvx2, &RunKernelAvx512);
  kernel(job);
}

// ---- One region -------------------------------------------------------------

struct RegionInputs {
  const ScribbleRegion& region;
  const CVoxel& segmentation;
  const CVoxel& interactionMap;  // without data or of another size: no markers
  const CorrectionParameters& parameters;
  C3DPoint origin;  // window
  C3DPoint size;
  C3DPoint base;  // reference voxel of window voxel (0, 0, 0) at translation 0: origin - box minimum
};

// The window as the scores see it: t(w) per voxel and, for the counting, the
// category and sign of every term.
struct WindowTerms {
  std::vector<double> terms;
  std::vector<std::int8_t> category;
  std::vector<std::int8_t> sign;
  std::int64_t count[kCategories] = {};  // voxels per category
  double absoluteSum = 0.0;              // sum of |t(w)|
};

WindowTerms TermsOf(const RegionInputs& in) {
  const bool marked = in.interactionMap.HasData() && in.interactionMap.SameSize(in.segmentation);
  const std::size_t n = static_cast<std::size_t>(in.size.x) * static_cast<std::size_t>(in.size.y) *
                        static_cast<std::size_t>(in.size.z);
  WindowTerms w;
  w.terms.reserve(n);
  w.category.reserve(n);
  w.sign.reserve(n);
  for (int z = 0; z < in.size.z; ++z)
    for (int y = 0; y < in.size.y; ++y)
      for (int x = 0; x < in.size.x; ++x) {
        const C3DPoint p = in.origin + C3DPoint{x, y, z};
        const int scribble = marked ? in.interactionMap.At(p.x, p.y, p.z) : 0;
        const int a = MarkedValue(in.region.At(p.x, p.y, p.z), scribble);
        const Term term = TermOf(a, in.segmentation.At(p.x, p.y, p.z) > 0);
        const double t = InsideTerm(term, in.parameters);
        w.terms.push_back(t);
        w.category.push_back(static_cast<std::int8_t>(term.category));
        w.sign.push_back(term.positive ? 1 : -1);
        ++w.count[term.category];
        w.absoluteSum += std::fabs(t);
      }
  return w;
}

// Signed counts of the three categories packed into one integer, so that one
// addition adds all three: fields wide enough for the window's voxels of each
// category. Unusable (Fits() false) when the fields need more than 62 bits.
struct Packing {
  int bits[kCategories] = {};

  explicit Packing(const WindowTerms& w) {
    for (int c = 0; c < kCategories; ++c) {
      bits[c] = 2;
      while (bits[c] < 62 && (std::int64_t{1} << (bits[c] - 1)) <= w.count[c]) ++bits[c];
    }
  }
  bool Fits() const { return bits[0] + bits[1] + bits[2] <= 62; }
  std::int64_t Encode(Category c, int sign) const {
    std::int64_t v = sign;
    for (int k = kSegmentation; k > c; --k) v *= std::int64_t{1} << bits[k];
    return v;
  }
  // Counts (own, other, segmentation) of a packed sum.
  void Decode(std::int64_t v, std::int64_t counts[kCategories]) const {
    for (int c = kSegmentation; c >= 0; --c) {
      const int shift = 64 - bits[c];
      const std::int64_t field = static_cast<std::int64_t>(static_cast<std::uint64_t>(v) << shift) >> shift;
      counts[c] = field;
      v = (v - field) >> bits[c];
    }
  }
};

typedef std::int64_t Counts __attribute__((vector_size(8 * kLanes)));

// Prefix sums of the packed terms along every window row, laid out so that
// the sums a reference run picks up at every x translation are one vector
// load apart: for run end u (window x at the lowest translation), lane k
// needs prefix(u - k * step), stored reversed and split by phase.
struct RowPrefixes {
  int vectors = 0;  // Counts per x translation set
  int stepX = 1;
  int span = 0;    // highest minus lowest x translation
  int length = 0;  // entries per phase
  std::size_t rowStride = 0;
  std::vector<std::int64_t> values;

  const std::int64_t* At(std::size_t row, int j) const {
    return values.data() + row * rowStride +
           static_cast<std::size_t>(j % stepX) * static_cast<std::size_t>(length) +
           static_cast<std::size_t>(j / stepX);
  }
};

RowPrefixes PrefixesOf(const WindowTerms& w, const Packing& packing, const C3DPoint& size, int stepX,
                       int translationsX) {
  RowPrefixes p;
  p.vectors = (translationsX + kLanes - 1) / kLanes;
  p.stepX = stepX;
  p.span = (translationsX - 1) * stepX;
  const int top = size.x + p.span;  // highest u
  p.length = (top + p.span) / stepX + 1 + kLanes * p.vectors;
  p.rowStride = static_cast<std::size_t>(p.length) * static_cast<std::size_t>(stepX);
  const std::size_t rows = static_cast<std::size_t>(size.y) * static_cast<std::size_t>(size.z);
  p.values.resize(rows * p.rowStride);
  std::vector<std::int64_t> prefix(static_cast<std::size_t>(size.x) + 1);
  for (std::size_t row = 0; row < rows; ++row) {
    const std::size_t first = row * static_cast<std::size_t>(size.x);
    for (int x = 0; x < size.x; ++x)
      prefix[x + 1] =
          prefix[x] + packing.Encode(static_cast<Category>(w.category[first + x]), w.sign[first + x]);
    std::int64_t* out = p.values.data() + row * p.rowStride;
    for (int ph = 0; ph < stepX; ++ph)
      for (int m = 0; m < p.length; ++m) {
        const int u = top - (m * stepX + ph);
        out[static_cast<std::size_t>(ph) * static_cast<std::size_t>(p.length) + m] =
            prefix[static_cast<std::size_t>(std::clamp(u, 0, size.x))];
      }
  }
  return p;
}

// The packed counts one reference run adds for the x translations of one
// line: prefix(end) - prefix(begin) for every lane, summed in `Full` vectors
// held in registers plus `Extra` single lanes (9 translations: one vector and
// one lane instead of two vectors of which one lane is used). Integer sums:
// any order gives the same counts.
template <int Full, int Extra>
struct LineSums {
  Counts vectors[Full];
  std::int64_t lanes[Extra > 0 ? Extra : 1];

  LineSums(std::int64_t*, int) {
    for (int v = 0; v < Full; ++v) vectors[v] = Counts{};
    for (int e = 0; e < Extra; ++e) lanes[e] = 0;
  }
  inline __attribute__((always_inline)) void Add(const std::int64_t* begin, const std::int64_t* end) {
    for (int v = 0; v < Full; ++v) {
      // Unaligned loads: heap arrays of int64 carry no vector alignment.
      Counts b;
      Counts a;
      __builtin_memcpy(&b, end + v * kLanes, sizeof b);
      __builtin_memcpy(&a, begin + v * kLanes, sizeof a);
      vectors[v] += b - a;
    }
    for (int e = 0; e < Extra; ++e) lanes[e] += end[Full * kLanes + e] - begin[Full * kLanes + e];
  }
  void AddTo(std::int64_t* sums) const {
    for (int v = 0; v < Full; ++v)
      for (int j = 0; j < kLanes; ++j) sums[v * kLanes + j] += vectors[v][j];
    for (int e = 0; e < Extra; ++e) sums[Full * kLanes + e] += lanes[e];
  }
};

// The same for any number of x translations, summed in memory.
struct AnyLineSums {
  std::int64_t* sums;
  int lanes;

  AnyLineSums(std::int64_t* lineSums, int lineLanes) : sums(lineSums), lanes(lineLanes) {}
  void Add(const std::int64_t* begin, const std::int64_t* end) {
    for (int j = 0; j < lanes; ++j) sums[j] += end[j] - begin[j];
  }
  void AddTo(std::int64_t*) const {}
};

// Packed term counts of the inside voxels of one reference over the window,
// for every translation: at ((iz * ny + iy) * vectors) * kLanes + ix. One
// line of translations (iz, iy) at a time, its x translations side by side.
template <typename Sums>
inline __attribute__((always_inline)) void CountLines(const RowPrefixes& prefixes,
                                                      const geometry::LabelRuns& runs, const Translations& t,
                                                      const C3DPoint& window, const C3DPoint& base,
                                                      std::int64_t* counts) {
  const int lowX = t.x.front();
  const int top = window.x + prefixes.span;
  // Reference x range any translation reads; runs are clipped to it.
  const int readFrom = base.x + lowX;
  const int readTo = base.x + window.x + t.x.back();
  for (std::size_t iz = 0; iz < t.z.size(); ++iz)
    for (std::size_t iy = 0; iy < t.y.size(); ++iy) {
      std::int64_t* sums =
          counts + (iz * t.y.size() + iy) * static_cast<std::size_t>(prefixes.vectors) * kLanes;
      Sums line(sums, static_cast<int>(t.x.size()));
      // Window rows whose reference row exists at this translation.
      const int shiftY = t.y[iy] + base.y;
      const int firstY = std::max(0, -shiftY);
      const int endY = std::min(window.y, runs.Size().y - shiftY);
      for (int z = 0; z < window.z; ++z) {
        const int rz = z + t.z[iz] + base.z;
        if (rz < 0 || rz >= runs.Size().z) continue;
        for (int y = firstY; y < endY; ++y) {
          const int ry = y + shiftY;
          const std::size_t row =
              static_cast<std::size_t>(z) * static_cast<std::size_t>(window.y) + static_cast<std::size_t>(y);
          const auto* last = runs.RowEnd(ry, rz);
          for (auto run = runs.RowBegin(ry, rz); run != last; ++run) {
            const int from = std::max(run->first, readFrom);
            const int to = std::min(run->second, readTo);
            if (from >= to) continue;
            // u at the lowest translation; lanes k go down by k * step.
            line.Add(prefixes.At(row, top - (from - base.x - lowX)),
                     prefixes.At(row, top - (to - base.x - lowX)));
          }
        }
      }
      line.AddTo(sums);
    }
}

inline __attribute__((always_inline)) void CountTranslationsOf(const RowPrefixes& prefixes,
                                                               const geometry::LabelRuns& runs,
                                                               const Translations& t, const C3DPoint& window,
                                                               const C3DPoint& base, std::int64_t* counts) {
  // Nine translations along x (the correction's range and step) and eight get their sums in registers.
  if (t.x.size() == kLanes + 1) return CountLines<LineSums<1, 1>>(prefixes, runs, t, window, base, counts);
  if (t.x.size() == kLanes) return CountLines<LineSums<1, 0>>(prefixes, runs, t, window, base, counts);
  CountLines<AnyLineSums>(prefixes, runs, t, window, base, counts);
}

// CountTranslationsOf for each instruction set.
using CountFunction = void (*)(const RowPrefixes&, const geometry::LabelRuns&, const Translations&,
                               const C3DPoint&, const C3DPoint&, std::int64_t*);
void CountBaseline(const RowPrefixes& p, const geometry::LabelRuns& r, const Translations& t,
                   const C3DPoint& w, const C3DPoint& b, std::int64_t* c) {
  CountTranslationsOf(p, r, t, w, b, c);
}
__attribute__((target("avx2"))) void CountAvx2(const RowPrefixes& p, const geometry::LabelRuns& r,
                                               const Translations& t, const C3DPoint& w, const C3DPoint& b,
                                               std::int64_t* c) {
  CountTranslationsOf(p, r, t, w, b, c);
}
__attribute__((target("avx512f"))) void CountAvx512(const RowPrefixes& p, const geometry::LabelRuns& r,
                                                    const Translations& t, const C3DPoint& w,
                                                    const C3DPoint& b, std::int64_t* c) {
  CountTranslationsOf(p, r, t, w, b, c);
}

void CountTranslations(const RowPrefixes& prefixes, const geometry::LabelRuns& runs, const Translations& t,
                       const C3DPoint& window, const C3DPoint& base, std::int64_t* counts) {
  static const CountFunction count =
      geometry::ForInstructionSet<CountFunction>(&CountBaseline, &CountAvx2, &CountAvx512);
  count(prefixes, runs, t, window, base, counts);
}

// The translations whose score can reach the best score of one reference.
// The exact real sum of the terms (2 * inside-weighted counts - the sum of all
// terms) differs from the double-precision sum by at most N * 2^-53 * sum|t|,
// so every translation whose real sum is more than twice that (plus the error
// of evaluating it) below the best one scores strictly below the best one.
std::vector<int> Candidates(const std::vector<std::int64_t>& counts, const Translations& t,
                            const Packing& packing, const WindowTerms& w, int vectors,
                            const CorrectionParameters& parameters) {
  const double segmentationWeight = parameters.segmentationWeight;
  const double otherScribbleWeight = parameters.otherScribbleWeight;
  const int total = t.Count();
  std::vector<int> all(static_cast<std::size_t>(total));
  for (int i = 0; i < total; ++i) all[static_cast<std::size_t>(i)] = i;
  const double n = static_cast<double>(w.terms.size());
  const double tolerance = (n + 16.0) * w.absoluteSum * 0x1p-51;
  if (!std::isfinite(tolerance) || !std::isfinite(segmentationWeight) || !std::isfinite(otherScribbleWeight))
    return all;
  const int nx = static_cast<int>(t.x.size());
  std::vector<double> real(static_cast<std::size_t>(total));
  double best = -std::numeric_limits<double>::infinity();
  for (int number = 0; number < total; ++number) {
    const int ix = number % nx;
    const std::size_t line = static_cast<std::size_t>(number / nx);
    const std::int64_t packed =
        counts[line * static_cast<std::size_t>(vectors) * kLanes + static_cast<std::size_t>(ix)];
    std::int64_t c[kCategories];
    packing.Decode(packed, c);
    const double g =
        static_cast<double>(c[kOwn]) + (static_cast<double>(c[kOther]) * otherScribbleWeight +
                                        static_cast<double>(c[kSegmentation]) * segmentationWeight);
    if (!std::isfinite(g)) return all;
    real[static_cast<std::size_t>(number)] = g;
    best = std::max(best, g);
  }
  std::vector<int> kept;
  for (int number = 0; number < total; ++number)
    if (real[static_cast<std::size_t>(number)] >= best - tolerance) kept.push_back(number);
  return kept;
}

// One score to compute exactly: a reference at a translation.
struct Candidate {
  int reference;
  int number;
};

// The exact double-precision agreement scores of the candidates, each summed
// in window scan order.
std::vector<double> ExactScores(const std::vector<Candidate>& candidates, const WindowTerms& w,
                                const RegionInputs& in, const Translations& t,
                                const std::vector<geometry::LabelRuns>& runs, int threads) {
  const int groups = (static_cast<int>(candidates.size()) + kLanes - 1) / kLanes;
  const int items = (groups + kMaxPassChunks - 1) / kMaxPassChunks;
  std::vector<double> scores(static_cast<std::size_t>(items) * kMaxPassChunks * kLanes);
  const std::size_t voxels = w.terms.size();
  geometry::ParallelFor(threads, items, [&](int item) {
    const int firstGroup = item * kMaxPassChunks;
    KernelJob job;
    job.terms = w.terms.data();
    job.voxels = voxels;
    job.chunks = std::min(kMaxPassChunks, groups - firstGroup);
    job.sums = scores.data() + static_cast<std::size_t>(firstGroup) * kLanes;
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(job.chunks) * voxels);
    for (int g = 0; g < job.chunks; ++g) {
      std::uint8_t* out = flags.data() + static_cast<std::size_t>(g) * voxels;
      job.flags[g] = out;
      for (int j = 0; j < kLanes; ++j) {
        const std::size_t index =
            static_cast<std::size_t>(firstGroup + g) * kLanes + static_cast<std::size_t>(j);
        if (index >= candidates.size()) break;
        const geometry::LabelRuns& r = runs[static_cast<std::size_t>(candidates[index].reference)];
        const C3DPoint shift = in.base + t.Offset(candidates[index].number);
        const std::uint8_t bit = static_cast<std::uint8_t>(1u << j);
        for (int z = 0; z < in.size.z; ++z)
          for (int y = 0; y < in.size.y; ++y) {
            if (!r.HasRow(y + shift.y, z + shift.z)) continue;
            std::uint8_t* row = out + (static_cast<std::size_t>(z) * static_cast<std::size_t>(in.size.y) +
                                       static_cast<std::size_t>(y)) *
                                          static_cast<std::size_t>(in.size.x);
            for (auto run = r.RowBegin(y + shift.y, z + shift.z); run != r.RowEnd(y + shift.y, z + shift.z);
                 ++run) {
              const int from = std::max(run->first - shift.x, 0);
              const int to = std::min(run->second - shift.x, in.size.x);
              for (int x = from; x < to; ++x) row[x] |= bit;
            }
          }
      }
    }
    RunKernel(job);
  });
  scores.resize(candidates.size());
  return scores;
}

// Best score and best translated origin of every reference for one region.
struct Ranking {
  CPointArray bestPositions;       // by reference index
  std::vector<double> bestScores;  // sorted descending together with...
  std::vector<int> order;          // ...the reference indices
};

Ranking RankReferences(const RegionInputs& in, const Translations& t,
                       const std::vector<geometry::LabelRuns>& runs, int threads) {
  const int total = t.Count();
  const int R = static_cast<int>(runs.size());
  const WindowTerms w = TermsOf(in);

  // The translations worth an exact score, per reference.
  std::vector<std::vector<int>> kept(static_cast<std::size_t>(R));
  const Packing packing(w);
  if (packing.Fits()) {
    const int nx = static_cast<int>(t.x.size());
    const RowPrefixes prefixes =
        PrefixesOf(w, packing, in.size, std::max(t.x.size() > 1 ? t.x[1] - t.x[0] : 1, 1), nx);
    const std::size_t lines = t.y.size() * t.z.size();
    geometry::ParallelFor(threads, R, [&](int r) {
      std::vector<std::int64_t> counts(lines * static_cast<std::size_t>(prefixes.vectors) * kLanes);
      CountTranslations(prefixes, runs[static_cast<std::size_t>(r)], t, in.size, in.base, counts.data());
      kept[static_cast<std::size_t>(r)] = Candidates(counts, t, packing, w, prefixes.vectors, in.parameters);
    });
  } else {
    for (auto& k : kept) {
      k.resize(static_cast<std::size_t>(total));
      for (int i = 0; i < total; ++i) k[static_cast<std::size_t>(i)] = i;
    }
  }

  std::vector<Candidate> candidates;
  for (int r = 0; r < R; ++r)
    for (const int number : kept[static_cast<std::size_t>(r)]) candidates.push_back({r, number});
  const std::vector<double> exact = ExactScores(candidates, w, in, t, runs, threads);

  // The pair sort puts first the highest score that comes first in position
  // order (entries >= the pivot keep their order on its left). The
  // translations left out all score below the best one, so sorting only the
  // candidates, in position order, gives the same first entry.
  Ranking ranking;
  std::vector<double> values;
  std::vector<int> positions;
  std::size_t next = 0;
  for (int r = 0; r < R; ++r) {
    values.clear();
    positions.clear();
    for (; next < candidates.size() && candidates[next].reference == r; ++next) {
      values.push_back(exact[next]);
      positions.push_back(candidates[next].number);
    }
    DescendingPairSort(values, positions, 0, static_cast<int>(values.size()) - 1);
    ranking.bestScores.push_back(values[0]);
    ranking.bestPositions.push_back(in.origin + t.Offset(positions[0]));
    ranking.order.push_back(r);
  }
  DescendingPairSort(ranking.bestScores, ranking.order, 0, R - 1);
  return ranking;
}

// Fraction of the first `voters` ranked references that hold the organ at each
// window voxel, as votes times the single-precision reciprocal of `voters`.
std::unique_ptr<CFVoxel> AccumulateVotes(const Ranking& ranking, int voters,
                                         const std::vector<geometry::LabelRuns>& references,
                                         const C3DPoint& boxMinimum, const C3DPoint& windowSize) {
  auto votes = std::make_unique<CFVoxel>(windowSize);
  if (!votes->HasData()) throw std::bad_alloc();
  // Whole votes: every count is exact in single precision, whatever the order.
  for (int k = 0; k < voters; ++k) {
    const int r = ranking.order[k];
    const geometry::LabelRuns& reference = references[static_cast<std::size_t>(r)];
    const C3DPoint start = ranking.bestPositions[r] - boxMinimum;
    for (int z = 0; z < windowSize.z; ++z)
      for (int y = 0; y < windowSize.y; ++y) {
        if (!reference.HasRow(start.y + y, start.z + z)) continue;
        float* row = &votes->At(0, y, z);
        for (auto run = reference.RowBegin(start.y + y, start.z + z);
             run != reference.RowEnd(start.y + y, start.z + z); ++run) {
          const int from = std::max(run->first - start.x, 0);
          const int to = std::min(run->second - start.x, windowSize.x);
          for (int x = from; x < to; ++x) row[x] += 1.0f;
        }
      }
  }
  // No voter at all (no reference): the map stays all zero.
  if (voters > 0) {
    const float reciprocal = 1.0f / static_cast<float>(voters);
    for (std::size_t i = 0; i < votes->VoxelCount(); ++i) (*votes)[i] = (*votes)[i] * reciprocal;
  }
  return votes;
}

}  // namespace

void DescendingPairSort(std::vector<double>& values, std::vector<int>& indices, int lo, int hi) {
  lo = std::max(lo, 0);
  hi = std::min(hi, static_cast<int>(std::min(values.size(), indices.size())) - 1);
  while (lo < hi) {
    const int p = Partition(values, indices, lo, hi);
    DescendingPairSort(values, indices, lo, p - 1);
    lo = p + 1;
  }
}

void MarkOtherScribbles(CVoxelList& regions, const CVoxel& interactionMap, const RegionWindowList& windows) {
  if (!interactionMap.HasData()) return;
  for (std::size_t i = 0; i < regions.size() && i < windows.size(); ++i) {
    CVoxel* region = regions[i].get();
    if (!region || !region->HasData() || !region->SameSize(interactionMap)) continue;
    const RegionWindow& window = windows[i];
    if (!WindowInside(window, region->Size())) continue;
    const C3DPoint& first = window.origin;
    const C3DPoint& last = window.end;
    for (int z = first.z; z <= last.z; ++z)
      for (int y = first.y; y <= last.y; ++y)
        for (int x = first.x; x <= last.x; ++x)
          region->At(x, y, z) =
              static_cast<CVoxel::value_type>(MarkedValue(region->At(x, y, z), interactionMap.At(x, y, z)));
  }
}

double AgreementScore(const CVoxel& segmentation, const CVoxel& region, const RegionWindow& window,
                      const CVoxel& reference, const C3DPoint& referenceStart,
                      const CorrectionParameters& parameters) {
  double score = 0.0;
  const C3DPoint size = window.Size();
  for (int z = 0; z < size.z; ++z)
    for (int y = 0; y < size.y; ++y)
      for (int x = 0; x < size.x; ++x) {
        const bool inside = ReferenceInside(reference, referenceStart + C3DPoint{x, y, z});
        const C3DPoint w = window.origin + C3DPoint{x, y, z};
        if (!segmentation.Contains(w.x, w.y, w.z) || !region.Contains(w.x, w.y, w.z)) continue;
        const Term term = TermOf(region.At(w.x, w.y, w.z), segmentation.At(w.x, w.y, w.z) > 0);
        const double t = InsideTerm(term, parameters);
        score += inside ? t : -t;
      }
  return score;
}

std::vector<int> TranslationOffsets(int range, int step) {
  const std::int64_t high = std::max(range, 0);
  const std::int64_t stride = std::max(step, 1);
  std::vector<int> offsets;
  for (std::int64_t offset = -high; offset <= high; offset += stride)
    offsets.push_back(static_cast<int>(offset));
  return offsets;
}

}  // namespace fusion

CFVoxelList ComputeProbabilityMaps(const fusion::ScribbleRegionList& regions,
                                   const fusion::RegionWindowList& windows, const CVoxel& segmentation,
                                   const CVoxel& interactionMap, const fusion::BoxedReferences& references,
                                   const fusion::CorrectionParameters& parameters) {
  const std::vector<geometry::LabelRuns>& runs = references.labels;
  const int threads = geometry::ResolveThreadCount(parameters.threads);
  const int voters = std::min(static_cast<int>(runs.size()), std::max(parameters.votingReferences, 0));
  const C3DPoint& range = parameters.translationRange;
  const C3DPoint& step = parameters.translationStep;
  const fusion::Translations translations{fusion::TranslationOffsets(range.x, step.x),
                                          fusion::TranslationOffsets(range.y, step.y),
                                          fusion::TranslationOffsets(range.z, step.z)};

  CFVoxelList probabilityMaps;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const fusion::RegionWindow window = i < windows.size() ? windows[i] : fusion::RegionWindow{};
    if (fusion::IsEmptyWindow(window)) {
      probabilityMaps.push_back(std::make_unique<CFVoxel>(C3DPoint{0, 0, 0}));
      continue;
    }
    // A window outside the volume cannot be scored: it gets a map without data.
    if (!segmentation.HasData() || !fusion::WindowInside(window, segmentation.Size())) {
      probabilityMaps.push_back(std::make_unique<CFVoxel>());
      continue;
    }
    const C3DPoint size = window.Size();
    const fusion::ScribbleRegion& region = regions[i];
    if (!(region.volumeSize == segmentation.Size())) {
      probabilityMaps.push_back(std::make_unique<CFVoxel>(size));
      continue;
    }
    const fusion::RegionInputs in{region,
                                  segmentation,
                                  interactionMap,
                                  parameters,
                                  window.origin,
                                  size,
                                  window.origin - references.boxMinimum};
    const auto ranking = fusion::RankReferences(in, translations, runs, threads);
    probabilityMaps.push_back(fusion::AccumulateVotes(ranking, voters, runs, references.boxMinimum, size));
  }
  return probabilityMaps;
}
