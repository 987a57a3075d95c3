// Probability maps: around every scribble region, the best-agreeing registered
// references vote voxel by voxel on whether the organ is there.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

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

// Best score and best translated origin of every reference for one region.
struct Ranking {
  CPointArray bestPositions;       // by reference index
  std::vector<double> bestScores;  // sorted descending together with...
  std::vector<int> order;          // ...the reference indices
};

Ranking RankReferences(const CVoxel& segmentation, const CVoxel& region, int foregroundValue,
                       int backgroundValue, double segmentationWeight, double otherScribbleWeight,
                       const C3DPoint& windowOrigin, const C3DPoint& windowSize,
                       const Translations& translations, const std::vector<const CVoxel*>& references,
                       const C3DPoint& boxMinimum) {
  Ranking ranking;
  const int count = translations.Count();
  std::vector<double> scores(static_cast<std::size_t>(count));
  std::vector<int> positions(static_cast<std::size_t>(count));
  for (std::size_t r = 0; r < references.size(); ++r) {
    for (int number = 0; number < count; ++number) {
      const C3DPoint translated = windowOrigin + translations.Offset(number);
      scores[number] =
          AgreementScore(segmentation, region, foregroundValue, backgroundValue, windowOrigin, *references[r],
                         boxMinimum, translated, windowSize, segmentationWeight, otherScribbleWeight);
      positions[number] = number;
    }
    DescendingPairSort(scores, positions, 0, count - 1);
    ranking.bestScores.push_back(scores[0]);
    ranking.bestPositions.push_back(windowOrigin + translations.Offset(positions[0]));
    ranking.order.push_back(static_cast<int>(r));
  }
  DescendingPairSort(ranking.bestScores, ranking.order, 0, static_cast<int>(references.size()) - 1);
  return ranking;
}

// Fraction of the first `voters` ranked references that hold the organ at each
// window voxel, as votes times the single-precision reciprocal of `voters`.
std::unique_ptr<CFVoxel> AccumulateVotes(const Ranking& ranking, int voters,
                                         const std::vector<const CVoxel*>& references,
                                         const C3DPoint& boxMinimum, const C3DPoint& windowSize) {
  auto votes = std::make_unique<CFVoxel>(windowSize);
  if (!votes->HasData()) return votes;
  for (int k = 0; k < voters; ++k) {
    const int r = ranking.order[k];
    const CVoxel& reference = *references[r];
    const C3DPoint start = ranking.bestPositions[r] - boxMinimum;
    for (int z = 0; z < windowSize.z; ++z)
      for (int y = 0; y < windowSize.y; ++y)
        for (int x = 0; x < windowSize.x; ++x)
          if (ReferenceInside(reference, start + C3DPoint{x, y, z})) votes->At(x, y, z) += 1.0f;
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

void MarkOtherScribbles(CVoxelList& regions, const CVoxel& interactionMap, const CPointArray& windowOrigins,
                        const CPointArray& windowEnds, int foregroundValue, int backgroundValue) {
  if (!interactionMap.HasData()) return;
  for (std::size_t i = 0; i < regions.size() && i < windowOrigins.size() && i < windowEnds.size(); ++i) {
    CVoxel* region = regions[i].get();
    if (!region || !region->HasData() || !region->SameSize(interactionMap)) continue;
    const C3DPoint& first = windowOrigins[i];
    const C3DPoint& last = windowEnds[i];
    if (!WindowInside(first, last, region->Size())) continue;
    for (int z = first.z; z <= last.z; ++z)
      for (int y = first.y; y <= last.y; ++y)
        for (int x = first.x; x <= last.x; ++x) {
          if (region->At(x, y, z) != 0) continue;
          const int scribble = interactionMap.At(x, y, z);
          if (scribble == backgroundValue)
            region->At(x, y, z) = kOtherBackground;
          else if (scribble == foregroundValue)
            region->At(x, y, z) = kOtherForeground;
        }
  }
}

double AgreementScore(const CVoxel& segmentation, const CVoxel& region, int foregroundValue,
                      int backgroundValue, const C3DPoint& windowOrigin, const CVoxel& reference,
                      const C3DPoint& boxMinimum, const C3DPoint& translatedOrigin,
                      const C3DPoint& windowSize, double segmentationWeight, double otherScribbleWeight) {
  double score = 0.0;
  const C3DPoint start = translatedOrigin - boxMinimum;
  for (int z = 0; z < windowSize.z; ++z)
    for (int y = 0; y < windowSize.y; ++y)
      for (int x = 0; x < windowSize.x; ++x) {
        const bool inside = ReferenceInside(reference, start + C3DPoint{x, y, z});
        const C3DPoint w = windowOrigin + C3DPoint{x, y, z};
        if (!segmentation.Contains(w.x, w.y, w.z) || !region.Contains(w.x, w.y, w.z)) continue;
        const int a = region.At(w.x, w.y, w.z);
        if (a == backgroundValue)
          score += inside ? -1.0 : 1.0;
        else if (a == foregroundValue)
          score += inside ? 1.0 : -1.0;
        else if (a == kOtherBackground)
          score += inside ? -otherScribbleWeight : otherScribbleWeight;
        else if (a != 0)
          score += inside ? otherScribbleWeight : -otherScribbleWeight;
        else
          score += inside == (segmentation.At(w.x, w.y, w.z) > 0) ? segmentationWeight : -segmentationWeight;
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

void ComputeProbabilityMaps(CVoxelList& regions, const CVoxel& segmentation, const CVoxel& interactionMap,
                            int votingReferences, int foregroundValue, int backgroundValue,
                            double segmentationWeight, double otherScribbleWeight,
                            const C3DPoint& translationRange, const C3DPoint& translationStep,
                            const CPointArray& windowOrigins, const CPointArray& windowEnds,
                            const CVoxelList& references, const C3DPoint& boxMinimum,
                            CFVoxelList& probabilityMaps) {
  fusion::MarkOtherScribbles(regions, interactionMap, windowOrigins, windowEnds, foregroundValue,
                             backgroundValue);

  std::vector<const CVoxel*> usable;
  for (const auto& reference : references)
    if (reference && reference->HasData()) usable.push_back(reference.get());
  const int voters = std::min(static_cast<int>(usable.size()), std::max(votingReferences, 0));

  const fusion::Translations translations{fusion::TranslationOffsets(translationRange.x, translationStep.x),
                                          fusion::TranslationOffsets(translationRange.y, translationStep.y),
                                          fusion::TranslationOffsets(translationRange.z, translationStep.z)};

  for (std::size_t i = 0; i < regions.size(); ++i) {
    const bool hasWindow = i < windowOrigins.size() && i < windowEnds.size();
    const C3DPoint first = hasWindow ? windowOrigins[i] : fusion::kEmptyWindowOrigin;
    const C3DPoint last = hasWindow ? windowEnds[i] : fusion::kEmptyWindowEnd;
    if (fusion::IsEmptyWindow(first, last)) {
      probabilityMaps.push_back(std::make_unique<CFVoxel>(C3DPoint{0, 0, 0}));
      continue;
    }
    // A window outside the volume cannot be scored: it gets a map without data.
    if (!segmentation.HasData() || !fusion::WindowInside(first, last, segmentation.Size())) {
      probabilityMaps.push_back(std::make_unique<CFVoxel>());
      continue;
    }
    const C3DPoint size = last - first + 1;
    const CVoxel* region = regions[i].get();
    if (!region || !region->HasData() || !region->SameSize(segmentation)) {
      probabilityMaps.push_back(std::make_unique<CFVoxel>(size));
      continue;
    }
    const auto ranking =
        fusion::RankReferences(segmentation, *region, foregroundValue, backgroundValue, segmentationWeight,
                               otherScribbleWeight, first, size, translations, usable, boxMinimum);
    probabilityMaps.push_back(fusion::AccumulateVotes(ranking, voters, usable, boxMinimum, size));
  }
}
