// Distance maps and probability maps.
#include <algorithm>
#include <cmath>
#include <utility>

#include "tests/oracle/Oracle.h"

namespace oracle {

namespace {

constexpr float kFloatMax = 3.4028235e38f;

}  // namespace

// ---- Distance maps ----------------------------------------------------------------

void DistanceTransform1D(const float* f, int n, float* d) {
  if (n <= 0) return;
  std::vector<int> v(static_cast<std::size_t>(n));
  std::vector<float> b(static_cast<std::size_t>(n) + 1);
  int k = 0;
  v[0] = 0;
  b[0] = -kFloatMax;
  b[1] = kFloatMax;
  for (int q = 1; q < n; ++q) {
    float s = ((static_cast<float>(q * q) + f[q]) - (static_cast<float>(v[k] * v[k]) + f[v[k]])) /
              static_cast<float>(2 * q - 2 * v[k]);
    // s is never below -kFloatMax / 2, so k never drops below 0; the test
    // only keeps a corrupt input from reading out of bounds.
    while (s <= b[k] && k > 0) {
      k = k - 1;
      s = ((static_cast<float>(q * q) + f[q]) - (static_cast<float>(v[k] * v[k]) + f[v[k]])) /
          static_cast<float>(2 * q - 2 * v[k]);
    }
    k = k + 1;
    v[k] = q;
    b[k] = s;
    b[k + 1] = kFloatMax;
  }
  k = 0;
  for (int q = 0; q < n; ++q) {
    while (b[k + 1] < static_cast<float>(q)) k = k + 1;
    d[q] = static_cast<float>((q - v[k]) * (q - v[k])) + f[v[k]];
  }
}

void DistanceTransform(const CVoxel& mask, CFVoxel& map) {
  const int X = mask.X, Y = mask.Y, Z = mask.Z;
  for (int z = 0; z < Z; ++z) {
    for (int y = 0; y < Y; ++y) {
      for (int x = 0; x < X; ++x) map.At(x, y, z) = mask.At(x, y, z) != 0 ? 0.0f : kFloatMax;
    }
  }
  const int longest = std::max(X, std::max(Y, Z));
  std::vector<float> scratch(static_cast<std::size_t>(longest));
  std::vector<float> line(static_cast<std::size_t>(longest));
  // Along z.
  for (int x = 0; x < X; ++x) {
    for (int y = 0; y < Y; ++y) {
      for (int z = 0; z < Z; ++z) scratch[z] = map.At(x, y, z);
      oracle::DistanceTransform1D(scratch.data(), Z, line.data());
      for (int z = 0; z < Z; ++z) map.At(x, y, z) = line[z];
    }
  }
  // Along y.
  for (int z = 0; z < Z; ++z) {
    for (int x = 0; x < X; ++x) {
      for (int y = 0; y < Y; ++y) scratch[y] = map.At(x, y, z);
      oracle::DistanceTransform1D(scratch.data(), Y, line.data());
      for (int y = 0; y < Y; ++y) map.At(x, y, z) = line[y];
    }
  }
  // Along x.
  for (int y = 0; y < Y; ++y) {
    for (int z = 0; z < Z; ++z) {
      for (int x = 0; x < X; ++x) scratch[x] = map.At(x, y, z);
      oracle::DistanceTransform1D(scratch.data(), X, line.data());
      for (int x = 0; x < X; ++x) map.At(x, y, z) = line[x];
    }
  }
  for (int z = 0; z < Z; ++z) {
    for (int y = 0; y < Y; ++y) {
      for (int x = 0; x < X; ++x) map.At(x, y, z) = std::sqrt(map.At(x, y, z));
    }
  }
}

void ComputeDistanceMaps(const CVoxelList& regions, const C3DPoint& margin, CFVoxelList& distanceMaps,
                         CPointArray& windowOrigins, CPointArray& windowEnds) {
  for (const std::unique_ptr<CVoxel>& region : regions) {
    C3DPoint lo, hi;
    oracle::EnlargedBoundingBox(*region, margin, lo, hi);
    windowOrigins.push_back(lo);
    windowEnds.push_back(hi);
    const C3DPoint size = hi - lo + 1;
    std::unique_ptr<CVoxel> window = oracle::Crop(*region, lo, size);
    auto map = std::make_unique<CFVoxel>(size.x, size.y, size.z);
    if (window) oracle::DistanceTransform(*window, *map);
    distanceMaps.push_back(std::move(map));
  }
}

// ---- Probability maps -------------------------------------------------------------

namespace {

int Partition(std::vector<double>& value, std::vector<int>& index, int lo, int hi) {
  const double pivot = value[hi];
  int i = lo - 1;
  for (int j = lo; j <= hi - 1; ++j) {
    if (value[j] >= pivot) {
      i = i + 1;
      std::swap(value[i], value[j]);
      std::swap(index[i], index[j]);
    }
  }
  std::swap(value[i + 1], value[hi]);
  std::swap(index[i + 1], index[hi]);
  return i + 1;
}

bool InsideReference(const CVoxel& reference, int x, int y, int z) {
  return reference.Contains(x, y, z) && reference.At(x, y, z) > 0;
}

}  // namespace

void DescendingPairSort(std::vector<double>& value, std::vector<int>& index, int lo, int hi) {
  while (lo < hi) {
    const int p = Partition(value, index, lo, hi);
    oracle::DescendingPairSort(value, index, lo, p - 1);
    lo = p + 1;
  }
}

void MarkOtherScribbles(CVoxelList& regions, const CVoxel& interactionMap, const CPointArray& windowOrigins,
                        const CPointArray& windowEnds) {
  for (std::size_t r = 0; r < regions.size(); ++r) {
    CVoxel& region = *regions[r];
    const C3DPoint o = windowOrigins[r];
    const C3DPoint e = windowEnds[r];
    for (int z = o.z; z <= e.z; ++z) {
      for (int y = o.y; y <= e.y; ++y) {
        for (int x = o.x; x <= e.x; ++x) {
          if (region.At(x, y, z) == 0) {
            if (interactionMap.At(x, y, z) == 3) region.At(x, y, z) = kOtherBackground;
            if (interactionMap.At(x, y, z) == 2) region.At(x, y, z) = kOtherForeground;
          }
        }
      }
    }
  }
}

double AgreementScore(const CVoxel& segmentation, const CVoxel& region, int foregroundValue,
                      int backgroundValue, int otherBackgroundValue, const C3DPoint& windowOrigin,
                      const CVoxel& reference, const C3DPoint& boxMinimum, const C3DPoint& translatedOrigin,
                      const C3DPoint& windowSize, double segmentationWeight, double otherScribbleWeight) {
  double score = 0.0;
  const C3DPoint shift = translatedOrigin - boxMinimum;
  for (int z = 0; z < windowSize.z; ++z) {
    for (int y = 0; y < windowSize.y; ++y) {
      for (int x = 0; x < windowSize.x; ++x) {
        const bool inside = InsideReference(reference, shift.x + x, shift.y + y, shift.z + z);
        const int wx = windowOrigin.x + x;
        const int wy = windowOrigin.y + y;
        const int wz = windowOrigin.z + z;
        if (!segmentation.Contains(wx, wy, wz)) continue;
        const int a = region.At(wx, wy, wz);
        if (a == backgroundValue) {
          score = score + (inside ? -1.0 : 1.0);
        } else if (a == foregroundValue) {
          score = score + (inside ? 1.0 : -1.0);
        } else if (a == otherBackgroundValue) {
          score = score + (inside ? -otherScribbleWeight : otherScribbleWeight);
        } else if (a != 0) {
          score = score + (inside ? otherScribbleWeight : -otherScribbleWeight);
        } else {
          const bool segmented = segmentation.At(wx, wy, wz) > 0;
          score = score + (inside == segmented ? segmentationWeight : -segmentationWeight);
        }
      }
    }
  }
  return score;
}

void RankReferences(const CVoxel& segmentation, const CVoxel& region, int foregroundValue,
                    int backgroundValue, double segmentationWeight, double otherScribbleWeight,
                    const C3DPoint& windowOrigin, const C3DPoint& windowEnd, const C3DPoint& lowestOffset,
                    const C3DPoint& highestOffset, const C3DPoint& step, const CVoxelList& references,
                    const C3DPoint& boxMinimum, CPointArray& bestPositions, std::vector<double>& bestScores,
                    std::vector<int>& referenceIndex) {
  const C3DPoint size = windowEnd - windowOrigin + 1;
  // A step below 1 would never reach the highest offset; only the lowest one is tried then.
  auto offsets = [](int lowest, int highest, int stride) {
    std::vector<int> list;
    for (int o = lowest; o <= highest; o += stride) {
      list.push_back(o);
      if (stride < 1) break;
    }
    return list;
  };
  const std::vector<int> ox = offsets(lowestOffset.x, highestOffset.x, step.x);
  const std::vector<int> oy = offsets(lowestOffset.y, highestOffset.y, step.y);
  const std::vector<int> oz = offsets(lowestOffset.z, highestOffset.z, step.z);
  const int nx = static_cast<int>(ox.size());
  const int ny = static_cast<int>(oy.size());
  const int nz = static_cast<int>(oz.size());
  const int count = nx * ny * nz;

  bestScores.assign(references.size(), 0.0);
  referenceIndex.assign(references.size(), 0);
  for (std::size_t r = 0; r < references.size(); ++r) {
    std::vector<double> scores(static_cast<std::size_t>(count));
    std::vector<int> positions(static_cast<std::size_t>(count));
    std::vector<C3DPoint> origins(static_cast<std::size_t>(count));
    for (int iz = 0; iz < nz; ++iz) {
      for (int iy = 0; iy < ny; ++iy) {
        for (int ix = 0; ix < nx; ++ix) {
          const int number = ix + nx * (iy + ny * iz);
          const C3DPoint translated = windowOrigin + C3DPoint(ox[ix], oy[iy], oz[iz]);
          origins[number] = translated;
          positions[number] = number;
          scores[number] = oracle::AgreementScore(segmentation, region, foregroundValue, backgroundValue,
                                                  kOtherBackground, windowOrigin, *references[r], boxMinimum,
                                                  translated, size, segmentationWeight, otherScribbleWeight);
        }
      }
    }
    oracle::DescendingPairSort(scores, positions, 0, count - 1);
    bestScores[r] = count > 0 ? scores[0] : 0.0;
    bestPositions.push_back(count > 0 ? origins[positions[0]] : windowOrigin);
    referenceIndex[r] = static_cast<int>(r);
  }
}

void AccumulateVotes(CFVoxel& accumulator, const CVoxelList& references, const C3DPoint& boxMinimum,
                     const CPointArray& bestPositions, const C3DPoint& windowOrigin,
                     const C3DPoint& windowEnd, const std::vector<int>& rankedIndex, int voters) {
  const C3DPoint size = windowEnd - windowOrigin + 1;
  for (int k = 0; k < voters; ++k) {
    const int r = rankedIndex[k];
    const CVoxel& reference = *references[r];
    const C3DPoint shift = bestPositions[r] - boxMinimum;
    for (int z = 0; z < size.z; ++z) {
      for (int y = 0; y < size.y; ++y) {
        for (int x = 0; x < size.x; ++x) {
          if (InsideReference(reference, shift.x + x, shift.y + y, shift.z + z)) {
            float& cell = accumulator.At(windowOrigin.x + x, windowOrigin.y + y, windowOrigin.z + z);
            cell = cell + 1.0f;
          }
        }
      }
    }
  }
  if (voters <= 0) return;  // nothing voted: the accumulator stays all zero
  const float reciprocal = 1.0f / static_cast<float>(voters);
  for (int z = 0; z < accumulator.Z; ++z) {
    for (int y = 0; y < accumulator.Y; ++y) {
      for (int x = 0; x < accumulator.X; ++x) accumulator.At(x, y, z) = accumulator.At(x, y, z) * reciprocal;
    }
  }
}

std::unique_ptr<CFVoxel> Cut(const CFVoxel& source, const C3DPoint& origin, const C3DPoint& size) {
  const int o[3] = {origin.x, origin.y, origin.z};
  const int s[3] = {size.x, size.y, size.z};
  const int dims[3] = {source.X, source.Y, source.Z};
  for (int a = 0; a < 3; ++a) {
    if (o[a] < 0 || s[a] < 0 || o[a] + s[a] > dims[a]) return nullptr;
  }
  auto out = std::make_unique<CFVoxel>(size.x, size.y, size.z);
  for (int z = 0; z < size.z; ++z) {
    for (int y = 0; y < size.y; ++y) {
      for (int x = 0; x < size.x; ++x) out->At(x, y, z) = source.At(origin.x + x, origin.y + y, origin.z + z);
    }
  }
  return out;
}

void ComputeProbabilityMaps(CVoxelList& regions, const CVoxel& segmentation, const CVoxel& interactionMap,
                            int votingReferences, int foregroundValue, int backgroundValue,
                            double segmentationWeight, double otherScribbleWeight,
                            const C3DPoint& translationRange, const C3DPoint& translationStep,
                            const CPointArray& windowOrigins, const CPointArray& windowEnds,
                            const CVoxelList& references, const C3DPoint& boxMinimum,
                            CFVoxelList& probabilityMaps) {
  oracle::MarkOtherScribbles(regions, interactionMap, windowOrigins, windowEnds);
  const C3DPoint lowest(-translationRange.x, -translationRange.y, -translationRange.z);
  const int R = static_cast<int>(references.size());
  for (std::size_t g = 0; g < regions.size(); ++g) {
    const C3DPoint origin = windowOrigins[g];
    const C3DPoint end = windowEnds[g];
    const C3DPoint size = end - origin + 1;
    CPointArray bestPositions;
    std::vector<double> bestScores;
    std::vector<int> referenceIndex;
    oracle::RankReferences(segmentation, *regions[g], foregroundValue, backgroundValue, segmentationWeight,
                           otherScribbleWeight, origin, end, lowest, translationRange, translationStep,
                           references, boxMinimum, bestPositions, bestScores, referenceIndex);
    oracle::DescendingPairSort(bestScores, referenceIndex, 0, R - 1);
    const int M = std::min(R, votingReferences);
    auto accumulator = std::make_unique<CFVoxel>(segmentation.X, segmentation.Y, segmentation.Z);
    oracle::AccumulateVotes(*accumulator, references, boxMinimum, bestPositions, origin, end, referenceIndex,
                            M);
    probabilityMaps.push_back(oracle::Cut(*accumulator, origin, size));
  }
}

}  // namespace oracle
