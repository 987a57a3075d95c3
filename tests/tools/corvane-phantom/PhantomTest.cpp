// The generator in memory: determinism, scribble meaning, anatomy and options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Phantom.h"
#include "PhantomTool.h"
#include "evaluation/Metrics.h"

using namespace phantom;

namespace {

PhantomOptions Small(std::uint64_t seed = 1) {
  PhantomOptions o;
  o.size = {96, 96, 16};
  o.references = 3;
  o.seed = seed;
  return o;
}

bool SameVoxels(const CVoxel& a, const CVoxel& b) {
  return a.HasData() && b.HasData() && a.SameSize(b) &&
         std::equal(a.Data(), a.Data() + a.VoxelCount(), b.Data());
}

// Scribbled voxels that disagree with the segmentation: what the correction acts on.
int Contradicting(const PhantomCase& c) {
  int n = 0;
  for (std::size_t i = 0; i < c.scribbles.VoxelCount(); ++i) {
    n += (c.scribbles[i] == 2 && c.segmentation[i] == 0) || (c.scribbles[i] == 3 && c.segmentation[i] != 0);
  }
  return n;
}

// Number of 6-connected pieces of non-zero voxels, each piece of one value.
int Pieces(const CVoxel& v) {
  std::vector<char> seen(v.VoxelCount(), 0);
  int pieces = 0;
  for (int z = 0; z < v.Z; ++z) {
    for (int y = 0; y < v.Y; ++y) {
      for (int x = 0; x < v.X; ++x) {
        if (v.At(x, y, z) == 0 || seen[v.Index(x, y, z)]) continue;
        ++pieces;
        std::vector<C3DPoint> stack{{x, y, z}};
        seen[v.Index(x, y, z)] = 1;
        while (!stack.empty()) {
          const C3DPoint p = stack.back();
          stack.pop_back();
          const C3DPoint steps[6] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
          for (const C3DPoint& s : steps) {
            const C3DPoint q = p + s;
            if (v.Contains(q.x, q.y, q.z) && !seen[v.Index(q.x, q.y, q.z)] &&
                v.At(q.x, q.y, q.z) == v.At(p.x, p.y, p.z)) {
              seen[v.Index(q.x, q.y, q.z)] = 1;
              stack.push_back(q);
            }
          }
        }
      }
    }
  }
  return pieces;
}

int SliceCount(const CVoxel& v, int z) {
  int n = 0;
  for (int y = 0; y < v.Y; ++y) {
    for (int x = 0; x < v.X; ++x) n += v.At(x, y, z) != 0;
  }
  return n;
}

// Inclusive extent of the non-zero voxels along each axis.
C3DPoint Extent(const CVoxel& v) {
  C3DPoint lo(v.X, v.Y, v.Z);
  C3DPoint hi(-1, -1, -1);
  for (int z = 0; z < v.Z; ++z) {
    for (int y = 0; y < v.Y; ++y) {
      for (int x = 0; x < v.X; ++x) {
        if (v.At(x, y, z) == 0) continue;
        lo.Set(std::min(lo.x, x), std::min(lo.y, y), std::min(lo.z, z));
        hi.Set(std::max(hi.x, x), std::max(hi.y, y), std::max(hi.z, z));
      }
    }
  }
  return hi - lo + 1;
}

}  // namespace

TEST(Phantom, SameSeedSameCaseOtherSeedOtherCase) {
  const PhantomCase a = GeneratePhantom(Small(7));
  const PhantomCase b = GeneratePhantom(Small(7));
  EXPECT_TRUE(SameVoxels(a.image, b.image));
  EXPECT_TRUE(SameVoxels(a.truth, b.truth));
  EXPECT_TRUE(SameVoxels(a.segmentation, b.segmentation));
  EXPECT_TRUE(SameVoxels(a.scribbles, b.scribbles));
  ASSERT_EQ(a.references.size(), 3u);
  for (std::size_t i = 0; i < a.references.size(); ++i)
    EXPECT_TRUE(SameVoxels(*a.references[i], *b.references[i]));

  const PhantomCase c = GeneratePhantom(Small(8));
  EXPECT_FALSE(SameVoxels(a.image, c.image));
  EXPECT_FALSE(SameVoxels(a.truth, c.truth));
  EXPECT_FALSE(SameVoxels(a.segmentation, c.segmentation));
  EXPECT_FALSE(SameVoxels(a.scribbles, c.scribbles));
  EXPECT_FALSE(SameVoxels(*a.references[0], *c.references[0]));
}

TEST(Phantom, EachPartKeepsItsVoxelsWhenOtherOptionsChange) {
  PhantomOptions few = Small(3);
  PhantomOptions many = few;
  many.references = 6;
  many.strokes = 2;
  const PhantomCase a = GeneratePhantom(few);
  const PhantomCase b = GeneratePhantom(many);
  EXPECT_TRUE(SameVoxels(a.image, b.image));
  EXPECT_TRUE(SameVoxels(a.truth, b.truth));
  EXPECT_TRUE(SameVoxels(a.segmentation, b.segmentation));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(SameVoxels(*a.references[i], *b.references[i]));
  EXPECT_TRUE(SameVoxels(*b.references[4], GenerateReference(many, 4)));
  // References differ from one another and from the truth.
  EXPECT_FALSE(SameVoxels(*b.references[0], *b.references[1]));
  EXPECT_FALSE(SameVoxels(*b.references[0], a.truth));
}

TEST(Phantom, ScribblesLieOnTheirSideOfTheTruthAndMarkTheErrors) {
  for (const std::uint64_t seed : {1u, 2u, 5u, 11u}) {
    SCOPED_TRACE(seed);
    const PhantomCase c = GeneratePhantom(Small(seed));
    int agreeing = 0;
    for (std::size_t i = 0; i < c.scribbles.VoxelCount(); ++i) {
      const auto v = c.scribbles[i];
      ASSERT_TRUE(v == 0 || v == 2 || v == 3) << "value " << v;
      if (v == 2) {
        ASSERT_NE(c.truth[i], 0) << "foreground scribble outside the truth";
      } else if (v == 3) {
        ASSERT_EQ(c.truth[i], 0) << "background scribble inside the truth";
      }
      agreeing += (v == 2 && c.segmentation[i] != 0) || (v == 3 && c.segmentation[i] == 0);
    }
    EXPECT_EQ(c.scribbleStats.errorStrokes, 6);
    EXPECT_EQ(c.scribbleStats.agreeingStrokes, 2);
    EXPECT_GT(agreeing, 0);
    EXPECT_EQ(c.scribbleStats.contradicting, Contradicting(c));
    EXPECT_EQ(c.scribbleStats.foregroundVoxels + c.scribbleStats.backgroundVoxels,
              c.scribbles.CountNonZero());
  }
}

TEST(Phantom, EveryErrorStrokeAddsContradictingVoxels) {
  PhantomOptions o = Small(4);
  o.references = 0;
  int previous = -1;
  for (int strokes = 0; strokes <= 6; ++strokes) {
    o.strokes = strokes;
    const PhantomCase c = GeneratePhantom(o);
    const int now = Contradicting(c);
    EXPECT_GT(now, previous) << "stroke " << strokes << " marks nothing the segmentation gets wrong";
    previous = now;
  }
  o.strokes = 0;
  EXPECT_EQ(GeneratePhantom(o).scribbles.CountNonZero(), 0);
}

TEST(Phantom, SegmentationHasTheErrorsOfAnAutomaticMethod) {
  for (const std::uint64_t seed : {1u, 9u}) {
    SCOPED_TRACE(seed);
    const PhantomCase c = GeneratePhantom(Small(seed));
    const double dice = evaluation::Dice(c.segmentation, c.truth);
    EXPECT_GT(dice, 0.75);
    EXPECT_LT(dice, 0.97);
    int missed = 0;
    int extra = 0;
    for (std::size_t i = 0; i < c.truth.VoxelCount(); ++i) {
      missed += c.truth[i] != 0 && c.segmentation[i] == 0;
      extra += c.truth[i] == 0 && c.segmentation[i] != 0;
    }
    EXPECT_GT(missed, 0);
    EXPECT_GT(extra, 0);
    // The apex slice (the truth's lowest) is missing from the segmentation.
    int apex = 0;
    while (apex < c.truth.Z && SliceCount(c.truth, apex) == 0) ++apex;
    ASSERT_LT(apex, c.truth.Z);
    EXPECT_EQ(SliceCount(c.segmentation, apex), 0);
  }
}

TEST(Phantom, ReferencesComeFromTheSamePopulation) {
  PhantomOptions o = Small(2);
  o.references = 8;
  const PhantomCase c = GeneratePhantom(o);
  const double truth = c.truth.CountNonZero();
  for (const auto& r : c.references) {
    ASSERT_TRUE(r->SameSize(c.truth));
    const double ratio = r->CountNonZero() / truth;
    EXPECT_GT(ratio, 0.5);
    EXPECT_LT(ratio, 2.0);
    for (std::size_t i = 0; i < r->VoxelCount(); ++i) ASSERT_TRUE((*r)[i] == 0 || (*r)[i] == 1);
    EXPECT_FLOAT_EQ(r->spacing[2], c.truth.spacing[2]);
  }
}

TEST(Phantom, DefaultScanHasAProstateOfProstateSize) {
  PhantomOptions o;
  o.references = 0;
  const PhantomCase c = GeneratePhantom(o);
  EXPECT_FLOAT_EQ(c.truth.spacing[0], 0.3125f);
  EXPECT_FLOAT_EQ(c.truth.spacing[1], 0.3125f);
  EXPECT_FLOAT_EQ(c.truth.spacing[2], 3.0f);
  // About 45 x 35 x 40 mm: some 140 x 110 voxels on about 13 slices.
  const C3DPoint e = Extent(c.truth);
  EXPECT_NEAR(e.x, 144, 30);
  EXPECT_NEAR(e.y, 112, 25);
  EXPECT_NEAR(e.z, 13, 3);
  EXPECT_EQ(c.scribbleStats.errorStrokes, 6);
}

TEST(Phantom, SmallScanScalesTheAnatomy) {
  PhantomOptions o = Small();
  o.size = {64, 64, 16};
  const PhantomCase c = GeneratePhantom(o);
  EXPECT_FLOAT_EQ(c.truth.spacing[0], 2.5f);
  EXPECT_FLOAT_EQ(c.truth.spacing[2], 6.0f);
  const C3DPoint e = Extent(c.truth);
  EXPECT_NEAR(e.x, 18, 5);
  EXPECT_NEAR(e.y, 14, 4);
  EXPECT_NEAR(e.z, 7, 2);
  EXPECT_GT(c.scribbleStats.errorStrokes, 0);
}

TEST(Phantom, ImageShowsTheProstateAgainstItsSurroundings) {
  const PhantomCase c = GeneratePhantom(Small(5));
  double centreY = 0.0;
  for (int z = 0; z < c.truth.Z; ++z) {
    for (int y = 0; y < c.truth.Y; ++y) {
      for (int x = 0; x < c.truth.X; ++x) centreY += c.truth.At(x, y, z) ? y : 0;
    }
  }
  centreY /= c.truth.CountNonZero();
  // The anterior gland against the tissue a few voxels to its left and right.
  double gland = 0.0;
  double around = 0.0;
  int nGland = 0;
  int nAround = 0;
  for (int z = 0; z < c.image.Z; ++z) {
    for (int y = 0; y < c.image.Y; ++y) {
      for (int x = 0; x < c.image.X; ++x) {
        const int v = c.image.At(x, y, z);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 2000);
        if (c.truth.At(x, y, z)) {
          if (y < centreY) {
            gland += v;
            ++nGland;
          }
        } else if (x >= 5 && x < c.image.X - 5 && (c.truth.At(x - 5, y, z) || c.truth.At(x + 5, y, z)) &&
                   !c.truth.At(x - 2, y, z) && !c.truth.At(x + 2, y, z)) {
          around += v;
          ++nAround;
        }
      }
    }
  }
  ASSERT_GT(nGland, 0);
  ASSERT_GT(nAround, 0);
  EXPECT_GT(around / nAround - gland / nGland, 150.0);
}

TEST(Phantom, DotsAreSeparateAndContradictTheSegmentation) {
  PhantomOptions o;
  o.size = {192, 192, 24};
  o.references = 0;
  o.strokes = 0;
  o.dots = 20;
  const PhantomCase c = GeneratePhantom(o);
  EXPECT_EQ(c.scribbleStats.dots, 20);
  EXPECT_EQ(Pieces(c.scribbles), 20);
  // Every dot is centred on an error, so every piece contradicts: count pieces of the contradicting part.
  CVoxel contradicting(c.scribbles);
  for (std::size_t i = 0; i < contradicting.VoxelCount(); ++i) {
    const bool c2 = c.scribbles[i] == 2 && c.segmentation[i] == 0;
    const bool c3 = c.scribbles[i] == 3 && c.segmentation[i] != 0;
    if (!c2 && !c3) contradicting[i] = 0;
  }
  EXPECT_EQ(Pieces(contradicting), 20);
}

TEST(PhantomOptions, ParsesEveryOptionInBothForms) {
  ToolOptions o;
  std::string error;
  ASSERT_TRUE(ParseToolArguments({"--out", "case", "--size", "64x48x16", "--references", "40", "--seed",
                                  "18446744073709551615", "--strokes=3", "--dots=20"},
                                 &o, &error))
      << error;
  EXPECT_EQ(o.outDir, "case");
  EXPECT_EQ(o.phantom.size, C3DPoint(64, 48, 16));
  EXPECT_EQ(o.phantom.references, 40);
  EXPECT_EQ(o.phantom.seed, UINT64_MAX);
  EXPECT_EQ(o.phantom.strokes, 3);
  EXPECT_EQ(o.phantom.dots, 20);

  ASSERT_TRUE(ParseToolArguments({"--out=x"}, &o, &error));
  EXPECT_EQ(o.phantom.size, C3DPoint(512, 512, 32));
  EXPECT_EQ(o.phantom.references, 10);
  EXPECT_EQ(o.phantom.seed, 1u);
  EXPECT_EQ(o.phantom.strokes, 6);
  EXPECT_EQ(o.phantom.dots, 0);

  ASSERT_TRUE(ParseToolArguments({"--help"}, &o, &error));
  EXPECT_TRUE(o.help);
}

TEST(PhantomOptions, RejectsBadArgumentsWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                        // no --out
      {"--out"},                                 // no value
      {"--out", ""},                             //
      {"--out", "d", "--colour", "red"},         // unknown option
      {"--out", "d", "stray"},                   // positional
      {"--out", "d", "--size", "64x64"},         //
      {"--out", "d", "--size", "64x64x16x2"},    //
      {"--out", "d", "--size", "64xx16"},        //
      {"--out", "d", "--size", "-64x64x16"},     //
      {"--out", "d", "--size", "64x64x16 "},     //
      {"--out", "d", "--size", "8x64x16"},       // too small
      {"--out", "d", "--size", "64x64x3"},       //
      {"--out", "d", "--size", "4096x64x16"},    // too large
      {"--out", "d", "--size", "2048x2048x64"},  // too many voxels
      {"--out", "d", "--size", "99999999999x64x16"},
      {"--out", "d", "--references", "-1"},
      {"--out", "d", "--references", "1000"},
      {"--out", "d", "--seed", "abc"},
      {"--out", "d", "--seed", "18446744073709551616"},
      {"--out", "d", "--strokes", "1.5"},
      {"--out", "d", "--dots", "1001"},
  };
  for (const auto& args : bad) {
    ToolOptions o;
    std::string error;
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_FALSE(ParseToolArguments(args, &o, &error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
  }
}

TEST(PhantomOptions, ReferenceNamesSortInNumericOrder) {
  EXPECT_EQ(ReferenceFileName(0, 10), "case_01_label.mhd");
  EXPECT_EQ(ReferenceFileName(9, 10), "case_10_label.mhd");
  EXPECT_EQ(ReferenceFileName(4, 100), "case_005_label.mhd");
  EXPECT_EQ(ReferenceFileName(99, 100), "case_100_label.mhd");
  EXPECT_LT(ReferenceFileName(8, 40), ReferenceFileName(9, 40));
}
