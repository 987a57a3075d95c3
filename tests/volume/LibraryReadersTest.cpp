// The readers built on nifticlib and VTK, against files written by independent
// writers (nibabel, pydicom; see fixtures/write_fixtures.py).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "tests/volume/ScriptFixtures.h"
#include "tests/volume/TestFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

// value(x, y, z) of the fixtures' pattern
int Pattern(int x, int y, int z) { return x + 10 * y + 100 * z - 50; }

class LibraryReaders : public testfiles::FilesWrittenByScript<LibraryReaders> {
 public:
  static constexpr const char* kScript = CORVANE_FIXTURE_SCRIPT;
};

void ExpectPattern(const CVoxel& v) {
  ASSERT_TRUE(v.HasData());
  ASSERT_EQ(v.Size(), C3DPoint(5, 4, 3));
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) ASSERT_EQ(v.At(x, y, z), Pattern(x, y, z)) << x << " " << y << " " << z;
}

}  // namespace

TEST_F(LibraryReaders, NiftiAndAnalyzeKeepTheFileOrderSpacingAndOrigin) {
  for (const char* name : {"int16.nii", "int16.nii.gz", "4d.nii", "analyze.hdr"}) {
    SCOPED_TRACE(name);
    const CVoxel v(Path(name), &sink);
    ExpectPattern(v);
    EXPECT_EQ(v.spacing[0], 0.5f);
    EXPECT_EQ(v.spacing[1], 0.75f);
    EXPECT_EQ(v.spacing[2], 2.0f);
    // NIfTI's RAS origin (10, -20, 30) is (-10, 20, 30) in LPS; Analyze has pixdim only.
    const bool analyze = std::string(name) == "analyze.hdr";
    EXPECT_EQ(v.origin[0], analyze ? 0.0f : -10.0f);
    EXPECT_EQ(v.origin[1], analyze ? 0.0f : 20.0f);
    EXPECT_EQ(v.origin[2], analyze ? 0.0f : 30.0f);
    EXPECT_EQ(v.direction[0][0], analyze ? 1.0 : -1.0);
    EXPECT_EQ(v.direction[1][1], analyze ? 1.0 : -1.0);
    EXPECT_EQ(v.direction[2][2], 1.0);
  }
  // The 4-D file gave its first volume and one notice of the one it skipped.
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("4d.nii holds 2 volumes: only the first was read, 1 volume was skipped."),
            std::string::npos)
      << sink.messages[0];
}

namespace {

// The voxel-to-LPS matrix (3 rows of 4) that nibabel read from a fixture.
std::vector<double> ExpectedLps(const std::string& path) {
  std::vector<double> m;
  std::istringstream in(ReadFile(path + ".lps"));
  for (double v; in >> v;) m.push_back(v);
  return m;
}

// Every corner of the volume lies where the matrix puts it.
void ExpectPlacedBy(const CVoxel& v, const std::vector<double>& m) {
  ASSERT_EQ(m.size(), 12u);
  for (int z : {0, v.Z - 1})
    for (int y : {0, v.Y - 1})
      for (int x : {0, v.X - 1}) {
        double p[3];
        v.PhysicalPoint(x, y, z, p);
        for (int r = 0; r < 3; ++r)
          EXPECT_NEAR(p[r], m[4 * r] * x + m[4 * r + 1] * y + m[4 * r + 2] * z + m[4 * r + 3], 1e-4)
              << x << " " << y << " " << z << " row " << r;
      }
}

}  // namespace

TEST_F(LibraryReaders, NiftiGeometryIsTheSformElseTheQformInLps) {
  struct Case {
    const char* name;
    int qform, sform;
  };
  for (const Case& c : {Case{"qform.nii", 1, 0}, Case{"sform.nii.gz", 0, 2}, Case{"both.nii", 1, 3},
                        Case{"flipped.nii", 1, 1}, Case{"flipped-qform.nii.gz", 2, 0}}) {
    SCOPED_TRACE(c.name);
    const CVoxel v(Path(c.name), &sink);
    ExpectPattern(v);
    ExpectPlacedBy(v, ExpectedLps(Path(c.name)));
    EXPECT_NEAR(v.spacing[0], 0.5, 1e-6);
    EXPECT_NEAR(v.spacing[1], 0.75, 1e-6);
    EXPECT_NEAR(v.spacing[2], 2.0, 1e-6);
    EXPECT_EQ(v.niftiQformCode, c.qform);
    EXPECT_EQ(v.niftiSformCode, c.sform);
  }
  // The qform's voxel size is pixdim exactly.
  EXPECT_EQ(CVoxel(Path("flipped-qform.nii.gz")).spacing[1], 0.75f);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(LibraryReaders, NiftiWrittenBackLiesWhereItsSourceLay) {
  TempDir work;
  for (const char* name :
       {"qform.nii", "sform.nii.gz", "both.nii", "flipped.nii", "flipped-qform.nii.gz", "analyze.hdr"}) {
    for (const char* out : {"out.nii", "out.nii.gz"}) {
      SCOPED_TRACE(std::string(name) + " -> " + out);
      const CVoxel v(Path(name));
      std::string error;
      ASSERT_TRUE(volume::SaveNifti(v, work.Path(out), volume::ElementStorage::Short, &error)) << error;
      const CVoxel back(work.Path(out), &sink);
      ExpectPattern(back);
      EXPECT_TRUE(SameGeometry(v, back, 1e-6, 1e-5, 1e-6));
      // The source's codes, also 0 and 0 (Analyze): every reader then places
      // the result by pixdim alone, as it places the source.
      EXPECT_EQ(back.niftiQformCode, v.niftiQformCode);
      EXPECT_EQ(back.niftiSformCode, v.niftiSformCode);
    }
  }
  // Labels are stored as unsigned bytes, as the MetaImage save does.
  CVoxel label(3, 2, 1);
  label[0] = -1;
  label[5] = 1;
  ASSERT_TRUE(volume::SaveNifti(label, work.Path("label.nii.gz"), volume::ElementStorage::UnsignedByte));
  const CVoxel labelBack(work.Path("label.nii.gz"));
  ASSERT_TRUE(labelBack.HasData());
  EXPECT_EQ(labelBack[0], 255);
  EXPECT_EQ(labelBack[5], 1);
  // Unset geometry is written as spacing 1, origin 0, identity, with codes 1
  // and 1 for a volume that comes from neither NIfTI nor Analyze.
  EXPECT_EQ(labelBack.niftiQformCode, 1);
  EXPECT_EQ(labelBack.niftiSformCode, 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(labelBack.spacing[i], 1.0f);
    EXPECT_EQ(labelBack.origin[i], 0.0f);
    EXPECT_EQ(labelBack.direction[i][i], 1.0);
  }
  // A failed write leaves what was there; no temporary file stays behind.
  EXPECT_FALSE(volume::SaveNifti(CVoxel(), work.Path("label.nii.gz"), volume::ElementStorage::UnsignedByte));
  EXPECT_FALSE(volume::SaveNifti(label, work.Path("missing/x.nii"), volume::ElementStorage::UnsignedByte));
  // NIfTI-1 keeps each dimension in 16 bits: a longer axis is refused, not cut.
  std::string error;
  EXPECT_FALSE(
      volume::SaveNifti(CVoxel(40000, 1, 1), work.Path("long.nii"), volume::ElementStorage::Short, &error));
  EXPECT_NE(error.find("at most 32767"), std::string::npos) << error;
  EXPECT_EQ(work.List(), (std::vector<std::string>{"label.nii.gz", "out.nii", "out.nii.gz"}));
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(LibraryReaders, NiftiElementTypes) {
  const CVoxel u8(Path("uint8.nii"));
  EXPECT_EQ(u8.At(4, 3, 2), Pattern(4, 3, 2) + 50);
  EXPECT_EQ(CVoxel(Path("int8.nii")).At(1, 1, 1), -5);

  // 4-byte floats round to floor(v + 0.5); so do 8-byte floats.
  for (const char* name : {"float32.nii", "float64.nii"}) {
    const CVoxel f(Path(name));
    ASSERT_TRUE(f.HasData()) << name;
    EXPECT_EQ(f[0], 2) << name;
    EXPECT_EQ(f[1], -1) << name;
    EXPECT_EQ(f[2], 3) << name;
    EXPECT_EQ(f[3], 0) << name;
    EXPECT_EQ(f[4], 0) << name;  // 0.49999997 + 0.5 is below 1
  }

  // 32-bit integer labels are integers, not float bit patterns.
  const CVoxel labels(Path("int32.nii"), &sink);
  ASSERT_TRUE(labels.HasData());
  EXPECT_EQ(labels.At(1, 2, 1), 1);
  EXPECT_EQ(labels.At(2, 2, 1), 2);
  EXPECT_EQ(labels.At(3, 2, 1), 4464);
  EXPECT_EQ(labels.CountNonZero(), 3);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("outside -32768..32767"), std::string::npos);

  sink.messages.clear();
  EXPECT_FALSE(CVoxel(Path("complex.nii"), &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("COMPLEX64 is not supported"), std::string::npos);
}

TEST_F(LibraryReaders, NiftiHeadersAreCheckedAgainstTheFileBeforeReading) {
  TempDir work;
  const std::string original = ReadFile(Path("int16.nii"));
  auto patched = [&](int offset, std::int16_t value) {
    std::string bytes = original;
    std::memcpy(bytes.data() + offset, &value, 2);
    return bytes;
  };
  struct Case {
    std::string name;
    std::string bytes;
    std::string expected;
  };
  // dim[1..3] are signed 16-bit at bytes 42, 44, 46 of the NIfTI-1 header.
  const std::vector<Case> cases = {
      {"big.nii", patched(42, 30000), "the data file holds only 120"},
      {"huge.nii", patched(44, 32000), "the data file holds only 120"},
      {"short.nii", original.substr(0, original.size() - 10), "holds only 110"},
      {"garbage.nii", std::string(400, 'x'), "not an Analyze 7.5, NIfTI-1 or NIfTI-2 image"},
      {"empty.nii", "", "not an Analyze 7.5, NIfTI-1 or NIfTI-2 image"},
  };
  for (const Case& c : cases) {
    WriteFile(work.Path(c.name), c.bytes);
    sink.messages.clear();
    EXPECT_FALSE(CVoxel(work.Path(c.name), &sink).HasData()) << c.name;
    ASSERT_EQ(sink.messages.size(), 1u) << c.name;
    EXPECT_NE(sink.messages[0].find(c.expected), std::string::npos) << sink.messages[0];
  }

  // A compressed file cannot claim more than deflate can expand to.
  const std::string gz = ReadFile(Path("int16.nii.gz"));
  WriteFile(work.Path("cut.nii.gz"), gz.substr(0, gz.size() / 2));
  sink.messages.clear();
  EXPECT_FALSE(CVoxel(work.Path("cut.nii.gz"), &sink).HasData());
  EXPECT_EQ(sink.messages.size(), 1u);
}

TEST_F(LibraryReaders, DicomSeriesSlicesAreTurnedUpsideDown) {
  for (const std::string& path : {Path("dicom/slice01.dcm"), Path("dicom"), Path("dicom/")}) {
    SCOPED_TRACE(path);
    const CVoxel v(path, &sink);
    ASSERT_TRUE(v.HasData());
    ASSERT_EQ(v.Size(), C3DPoint(5, 4, 3));
    // The writer stored x + 10 * row + 100 * slice. VTK's output is bottom-up
    // (file row 0 is its last row); turning each slice over again puts file
    // row 0 at voxel row 0. The slice order is the one VTK sorts into.
    std::vector<int> slices;
    for (int z = 0; z < 3; ++z) {
      const int slice = v.At(0, 0, z) / 100;
      slices.push_back(slice);
      for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 5; ++x) ASSERT_EQ(v.At(x, row, z), x + 10 * row + 100 * slice);
    }
    std::sort(slices.begin(), slices.end());
    EXPECT_EQ(slices, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(v.spacing[0], 0.75f);
    EXPECT_EQ(v.spacing[1], 0.75f);
    EXPECT_EQ(v.spacing[2], 2.5f);
    // Slice k was written at (1, 2, 3 + 2.5 k) with rows along x and columns
    // along y: every slice lies at its own position, whatever order VTK chose.
    for (int z = 0; z < 3; ++z) {
      double p[3];
      v.PhysicalPoint(0, 0, z, p);
      const int slice = v.At(0, 0, z) / 100;
      EXPECT_NEAR(p[0], 1.0, 1e-5);
      EXPECT_NEAR(p[1], 2.0, 1e-5);
      EXPECT_NEAR(p[2], 3.0 + 2.5 * slice, 1e-5);
      v.PhysicalPoint(4, 3, z, p);
      EXPECT_NEAR(p[0], 1.0 + 4 * 0.75, 1e-5);
      EXPECT_NEAR(p[1], 2.0 + 3 * 0.75, 1e-5);
    }
  }
  const CVoxel unsignedSeries(Path("dicom-unsigned"), &sink);
  ASSERT_TRUE(unsignedSeries.HasData());
  EXPECT_EQ(unsignedSeries.Size(), C3DPoint(5, 4, 2));
  EXPECT_EQ(unsignedSeries[7], -25536);  // 40000 keeps its 16 bits
  EXPECT_TRUE(sink.messages.empty());

  TempDir empty;
  WriteFile(empty.Path("notes.txt"), "no images here");
  EXPECT_FALSE(CVoxel(empty.Path("notes.txt"), &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("holds no DICOM images"), std::string::npos);
}

TEST_F(LibraryReaders, DicomSeriesLieAtTheirPatientPositionAndOrientation) {
  // An oblique series: voxel (x, y) of the slice written k-th lies at that
  // slice's position + 0.75 x along the rows + 0.75 y down the columns.
  const CVoxel oblique(Path("dicom-oblique"), &sink);
  ASSERT_TRUE(oblique.HasData());
  const double row[3] = {0.8, 0.6, 0.0}, column[3] = {0.0, 0.0, -1.0}, normal[3] = {-0.6, 0.8, 0.0};
  for (int z = 0; z < 3; ++z)
    for (int y : {0, 3})
      for (int x : {0, 4}) {
        const int k = oblique.At(0, 0, z) / 100;
        const double first[3] = {-20.0, 35.5, 12.0};
        double p[3];
        oblique.PhysicalPoint(x, y, z, p);
        for (int r = 0; r < 3; ++r)
          EXPECT_NEAR(p[r], first[r] + 2.5 * k * normal[r] + 0.75 * x * row[r] + 0.75 * y * column[r], 1e-4)
              << x << " " << y << " " << z << " row " << r;
      }
  EXPECT_TRUE(sink.messages.empty());
}

TEST(Image2048, FirstFileRowBecomesTheLastVolumeRow) {
  TempDir dir;
  std::string bytes(2048 * 2048 * 2, '\0');
  bytes[0] = '\x01';
  bytes[1] = '\x02';
  // File row 5, column 7 holds 0x8001 (big-endian); the file's very last value 0xfffe.
  bytes[(5 * 2048 + 7) * 2] = '\x80';
  bytes[(5 * 2048 + 7) * 2 + 1] = '\x01';
  bytes[bytes.size() - 2] = '\xff';
  bytes[bytes.size() - 1] = '\xfe';
  WriteFile(dir.Path("film.IMG"), bytes);
  const CVoxel v(dir.Path("film.IMG"));
  ASSERT_TRUE(v.HasData());
  EXPECT_EQ(v.Size(), C3DPoint(2048, 2048, 1));
  EXPECT_EQ(v.At(0, 2047, 0), 258);
  EXPECT_EQ(v.At(7, 2047 - 5, 0), static_cast<std::int16_t>(0x8001));
  EXPECT_EQ(v.At(2047, 0, 0), -2);
  EXPECT_EQ(v.CountNonZero(), 3);
  EXPECT_EQ(v.spacing[0], -1.0f);

  volume::RecordingSink sink;
  WriteFile(dir.Path("short.img"), bytes.substr(0, 1000));
  EXPECT_FALSE(CVoxel(dir.Path("short.img"), &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("holds 1000 bytes"), std::string::npos);
}
