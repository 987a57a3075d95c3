// The Analyze/NIfTI reader on scaled, multi-volume and NIfTI-2 files, against
// what nibabel reads from the same files (fixtures/write_scaled_nifti.py), and
// on headers patched here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/volume/ScriptFixtures.h"
#include "tests/volume/TestFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

class NiftiReader : public testfiles::FilesWrittenByScript<NiftiReader> {
 public:
  static constexpr const char* kScript = CORVANE_SCALED_NIFTI_SCRIPT;
};

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> values;
  std::istringstream in(text);
  for (double v; in >> v;) values.push_back(v);
  return values;
}

// nibabel's value as a voxel: floor(v + 0.5), low 16 bits.
std::int16_t AsVoxel(double v) {
  return static_cast<std::int16_t>(
      static_cast<std::uint16_t>(static_cast<std::int64_t>(std::floor(v + 0.5))));
}

// The volume holds nibabel's first volume, rounded, and lies where nibabel puts it.
void ExpectAsNibabelReads(const CVoxel& v, const std::string& path, double placement = 1e-4) {
  ASSERT_TRUE(v.HasData());
  const std::vector<double> size = Numbers(ReadFile(path + ".size"));
  ASSERT_EQ(v.Size(), C3DPoint(int(size[0]), int(size[1]), int(size[2])));
  const std::string bytes = ReadFile(path + ".f64");
  ASSERT_EQ(bytes.size(), v.VoxelCount() * sizeof(double));
  for (std::size_t i = 0; i < v.VoxelCount(); ++i) {
    double expected;
    std::memcpy(&expected, bytes.data() + i * sizeof expected, sizeof expected);
    ASSERT_EQ(v[i], AsVoxel(expected)) << "voxel " << i << ", nibabel " << expected;
  }
  const std::vector<double> m = Numbers(ReadFile(path + ".lps"));
  ASSERT_EQ(m.size(), 12u);
  for (int z : {0, v.Z - 1})
    for (int y : {0, v.Y - 1})
      for (int x : {0, v.X - 1}) {
        double p[3];
        v.PhysicalPoint(x, y, z, p);
        for (int r = 0; r < 3; ++r)
          EXPECT_NEAR(p[r], m[4 * r] * x + m[4 * r + 1] * y + m[4 * r + 2] * z + m[4 * r + 3], placement);
      }
}

template <typename T>
std::string Patched(std::string bytes, std::size_t offset, T value) {
  return bytes.replace(offset, sizeof value, reinterpret_cast<const char*>(&value), sizeof value);
}

// Byte offsets in a NIfTI-1 header.
constexpr std::size_t kDim1 = 40, kSlope1 = 112, kInter1 = 116;
// In a NIfTI-2 header.
constexpr std::size_t kDim2 = 16;

}  // namespace

TEST_F(NiftiReader, ScaledValuesAreTheOnesNibabelReads) {
  for (const char* name : {"scaled-int16.nii", "scaled-uint8.nii", "scaled-float32.nii",
                           "scaled-bigendian.nii", "slope-zero.nii", "slope-nan.nii"}) {
    SCOPED_TRACE(name);
    sink.messages.clear();
    ExpectAsNibabelReads(CVoxel(Path(name), &sink), Path(name));
    EXPECT_TRUE(sink.messages.empty()) << sink.messages[0];
  }
  // The stored -31008 stands for 762.5, which rounds up; 32767 for 32649.
  const CVoxel scanner(Path("scaled-int16.nii"));
  EXPECT_EQ(scanner[0], 763);
  EXPECT_EQ(scanner[1], 762);
  EXPECT_EQ(scanner[2], 32650);
  // Slope 0 or not a number: stored values, the intercept unused.
  EXPECT_EQ(CVoxel(Path("slope-zero.nii"))[0], -50);
  EXPECT_EQ(CVoxel(Path("slope-nan.nii"))[0], -50);
}

TEST_F(NiftiReader, ScaledValuesBeyond16BitsWrapWithTheWarning) {
  const CVoxel v(Path("scaled-wraps.nii"), &sink);
  ExpectAsNibabelReads(v, Path("scaled-wraps.nii"));
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("outside -32768..32767; only their low 16 bits were kept"),
            std::string::npos);
}

TEST_F(NiftiReader, SeveralVolumesGiveTheFirstWithOneNotice) {
  struct Case {
    const char* name;
    const char* notice;
  };
  for (const Case& c :
       {Case{"scaled-4d.nii", "holds 3 volumes: only the first was read, 2 volumes were skipped."},
        Case{"5d.nii", "holds 2 volumes: only the first was read, 1 volume was skipped."},
        Case{"nifti2-scaled-4d.nii", "holds 3 volumes"}}) {
    SCOPED_TRACE(c.name);
    sink.messages.clear();
    ExpectAsNibabelReads(CVoxel(Path(c.name), &sink), Path(c.name));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].find(Path(c.name)), 0u) << sink.messages[0];
    EXPECT_NE(sink.messages[0].find(c.notice), std::string::npos) << sink.messages[0];
  }
}

TEST_F(NiftiReader, Nifti2FilesAreReadWithTheirDoublePrecisionPlacement) {
  for (const char* name : {"nifti2.nii", "nifti2.nii.gz", "nifti2-pair.hdr"}) {
    SCOPED_TRACE(name);
    sink.messages.clear();
    const CVoxel v(Path(name), &sink);
    ExpectAsNibabelReads(v, Path(name), 1e-9);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(v.niftiSformCode, 2);
    EXPECT_EQ(v.niftiQformCode, 1);
  }
}

TEST_F(NiftiReader, PatchedHeadersAreReadAsTheirFieldsSay) {
  TempDir work;
  const std::string four = ReadFile(Path("scaled-4d.nii"));
  const std::string plain = ReadFile(Path("slope-zero.nii"));
  // dim[0] = 3: the fourth dimension is not part of the image, so nothing is skipped.
  WriteFile(work.Path("three.nii"), Patched<std::int16_t>(four, kDim1, 3));
  // An infinite slope is no scaling, as in nibabel.
  WriteFile(work.Path("infinite-slope.nii"), Patched(plain, kSlope1, INFINITY));
  const CVoxel three(work.Path("three.nii"), &sink);
  ExpectAsNibabelReads(three, Path("scaled-4d.nii"));
  const CVoxel unscaled(work.Path("infinite-slope.nii"), &sink);
  ASSERT_TRUE(unscaled.HasData());
  EXPECT_EQ(unscaled[0], -50);
  // An intercept that is not a number counts as 0, as nifticlib (and so ITK) reads it.
  WriteFile(work.Path("nan-intercept.nii"), Patched(Patched(plain, kSlope1, 2.0f), kInter1, NAN));
  const CVoxel doubled(work.Path("nan-intercept.nii"), &sink);
  ASSERT_TRUE(doubled.HasData());
  EXPECT_EQ(doubled[0], -100);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(NiftiReader, BrokenScalingAndSizesAreRefusedWithTheirCause) {
  TempDir work;
  const std::string plain = ReadFile(Path("slope-zero.nii"));
  const std::string four = ReadFile(Path("scaled-4d.nii"));
  const std::string n2 = ReadFile(Path("nifti2.nii"));
  struct Case {
    std::string name, bytes, cause;
  };
  const std::vector<Case> cases = {
      // A 4-D file cut after its first volume: the file is damaged.
      {"cut-4d.nii", four.substr(0, 352 + 5 * 4 * 3 * 2), "the data file holds only 120"},
      // NIfTI-2 sizes are 64-bit: one beyond what a volume can hold, one beyond the file.
      {"huge.nii", Patched<std::int64_t>(n2, kDim2 + 8, std::int64_t{1} << 40), "more voxels than a volume"},
      {"long.nii", Patched<std::int64_t>(n2, kDim2 + 16, 1000), "the data file holds only"},
      {"no-dims.nii", Patched<std::int64_t>(n2, kDim2, 0), "dimensions are invalid"},
      {"short-header.nii", n2.substr(0, 400), "too short for its NIfTI-2 header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(work.Path(c.name), c.bytes);
    sink.messages.clear();
    EXPECT_FALSE(CVoxel(work.Path(c.name), &sink).HasData());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find(c.cause), std::string::npos) << sink.messages[0];
  }
}
