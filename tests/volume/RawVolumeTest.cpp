#include <gtest/gtest.h>

#include "tests/volume/TestFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

using testfiles::Bytes;
using testfiles::Put;
using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

std::string ShortHeader(int X, int Y, int Z) { return Bytes<std::int32_t>({X, Y, Z}); }

std::string LongHeader(std::int32_t marker, std::vector<float> spacingOrigin, int X, int Y, int Z) {
  std::string out;
  Put(out, marker);
  for (float f : spacingOrigin) Put(out, f);
  return out + Bytes<std::int32_t>({X, Y, Z});
}

std::vector<std::int16_t> Words24() {
  std::vector<std::int16_t> w(24);
  for (int i = 0; i < 24; ++i) w[i] = static_cast<std::int16_t>(i * 1000 - 12000);
  return w;
}

}  // namespace

TEST(RawVolume, ShortAndLongHeaders) {
  TempDir dir;
  WriteFile(dir.Path("short.raw"), ShortHeader(4, 3, 2) + Bytes(Words24()));
  WriteFile(dir.Path("long.lab"), LongHeader(-1, {0.5f, 0.6f, 0.7f, 1, 2, 3}, 4, 3, 2) + Bytes(Words24()));
  WriteFile(dir.Path("marker.RAW"), LongHeader(-7, {0.5f, 0.6f, 0.7f, 1, 2, 3}, 4, 3, 2) + Bytes(Words24()));

  const CVoxel plain(dir.Path("short.raw"));
  ASSERT_TRUE(plain.HasData());
  EXPECT_EQ(plain.Size(), C3DPoint(4, 3, 2));
  EXPECT_EQ(plain.spacing[0], -1.0f);
  EXPECT_EQ(plain.origin[2], -1.0f);
  EXPECT_EQ(plain.At(3, 2, 1), 11000);
  EXPECT_EQ(plain[0], -12000);

  for (const char* name : {"long.lab", "marker.RAW"}) {
    const CVoxel v(dir.Path(name));
    ASSERT_TRUE(v.HasData()) << name;
    EXPECT_EQ(v.Size(), C3DPoint(4, 3, 2));
    EXPECT_EQ(v.spacing[1], 0.6f);
    EXPECT_EQ(v.origin[2], 3.0f);
    EXPECT_EQ(v.At(1, 2, 0), -12000 + 9 * 1000);
  }
}

TEST(RawVolume, ByteVoxelsAreUnsigned) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 24; ++i) data.push_back(static_cast<char>(i));
  data[23] = '\xff';
  WriteFile(dir.Path("v.bin"), ShortHeader(4, 3, 2) + data + "trailing bytes are ignored");
  const CVoxel v(dir.Path("v.bin"));
  ASSERT_TRUE(v.HasData());
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        if (x + 4 * (y + 3 * z) != 23) {
          EXPECT_EQ(v.At(x, y, z), x + 4 * (y + 3 * z));
        }
  EXPECT_EQ(v.At(3, 2, 1), 255);
}

TEST(RawVolume, HostileHeadersAreRefusedBeforeAllocating) {
  TempDir dir;
  struct Case {
    std::string name;
    std::string bytes;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"huge.raw", ShortHeader(100000, 100000, 100000), "more voxels than a volume can hold"},
      {"big.raw", ShortHeader(2000, 1000, 1000) + "ab", "holds only 2 bytes"},
      {"negative.raw", LongHeader(-1, {1, 1, 1, 0, 0, 0}, -4, 3, 2), "holds no voxels"},
      {"zero.bin", ShortHeader(4, 0, 2), "holds no voxels"},
      {"header.raw", std::string("\x04\0\0\0\x03\0", 6), "too short for a header"},
      {"longheader.raw", LongHeader(-1, {1, 1}, 4, 3, 2).substr(0, 14), "too short for a header"},
      {"truncated.raw", ShortHeader(4, 3, 2) + std::string(47, '\1'), "holds only 47 bytes"},
  };
  for (const Case& c : cases) {
    WriteFile(dir.Path(c.name), c.bytes);
    volume::RecordingSink sink;
    const CVoxel v(dir.Path(c.name), &sink);
    EXPECT_FALSE(v.HasData()) << c.name;
    ASSERT_EQ(sink.messages.size(), 1u) << c.name;
    EXPECT_NE(sink.messages[0].find(c.expected), std::string::npos) << sink.messages[0];
  }
  volume::RecordingSink sink;
  EXPECT_FALSE(CVoxel(dir.Path("missing.raw"), &sink).HasData());
  EXPECT_TRUE(sink.messages.empty()) << "an unopenable file is left to the caller";
}

TEST(RawVolume, Raw16WriterLaysOutTheFortyByteHeader) {
  TempDir dir;
  CVoxel v(2, 1, 2);
  v.spacing[0] = 0.5f;
  v.spacing[1] = 0.25f;
  v.spacing[2] = 2.0f;
  v.origin[0] = -1.0f;
  v.origin[1] = 10.0f;
  v.origin[2] = 0.125f;
  v[0] = 1;
  v[1] = -1;
  v[2] = 32767;
  v[3] = -32768;
  std::string error;
  ASSERT_TRUE(volume::SaveRaw16(v, dir.Path("out.raw"), &error)) << error;
  const std::string expected = LongHeader(-1, {0.5f, 0.25f, 2.0f, -1.0f, 10.0f, 0.125f}, 2, 1, 2) +
                               Bytes<std::int16_t>({1, -1, 32767, -32768});
  EXPECT_EQ(ReadFile(dir.Path("out.raw")), expected);

  const CVoxel back(dir.Path("out.raw"));
  ASSERT_TRUE(back.HasData());
  EXPECT_EQ(back[3], -32768);
  EXPECT_EQ(back.origin[2], 0.125f);
  EXPECT_FALSE(volume::SaveRaw16(CVoxel(), dir.Path("empty.raw"), &error));

  // Unset geometry is written as spacing 1 and origin 0, never -1.
  ASSERT_TRUE(volume::SaveRaw16(CVoxel(2, 1, 2), dir.Path("unset.raw"), &error)) << error;
  EXPECT_EQ(ReadFile(dir.Path("unset.raw")).substr(0, 40),
            LongHeader(-1, {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f}, 2, 1, 2));
}

TEST(LoadDispatcher, ChoosesTheReaderByTheLastThreeCharactersExactly) {
  EXPECT_EQ(volume::FormatForPath("scan.mhd"), volume::VolumeFormat::MetaImage);
  EXPECT_EQ(volume::FormatForPath("scan.MHD"), volume::VolumeFormat::MetaImage);
  EXPECT_EQ(volume::FormatForPath("scan.mha"), volume::VolumeFormat::MetaImage);
  EXPECT_EQ(volume::FormatForPath("scan.Mhd"), volume::VolumeFormat::DicomSeries);
  EXPECT_EQ(volume::FormatForPath("case.nii.gz"), volume::VolumeFormat::AnalyzeNifti);
  EXPECT_EQ(volume::FormatForPath("case.hdr"), volume::VolumeFormat::AnalyzeNifti);
  EXPECT_EQ(volume::FormatForPath("case.NII"), volume::VolumeFormat::AnalyzeNifti);
  EXPECT_EQ(volume::FormatForPath("x.lab"), volume::VolumeFormat::ShortRaw);
  EXPECT_EQ(volume::FormatForPath("x.RAW"), volume::VolumeFormat::ShortRaw);
  EXPECT_EQ(volume::FormatForPath("x.BIN"), volume::VolumeFormat::ByteRaw);
  EXPECT_EQ(volume::FormatForPath("x.IMG"), volume::VolumeFormat::Image2048);
  EXPECT_EQ(volume::FormatForPath("slice.dcm"), volume::VolumeFormat::DicomSeries);
  EXPECT_EQ(volume::FormatForPath("xraw"),
            volume::VolumeFormat::ShortRaw);  // only the last three characters count
  EXPECT_EQ(volume::FormatForPath("ab"), volume::VolumeFormat::DicomSeries);
  EXPECT_EQ(volume::FormatForPath(""), volume::VolumeFormat::DicomSeries);

  // scan.Mhd is looked for as a DICOM series in its folder, even if it is a MetaImage header.
  TempDir dir;
  WriteFile(dir.Path("scan.Mhd"), "DimSize = 1 1 1\nElementDataFile = d.raw\n");
  WriteFile(dir.Path("d.raw"), "x");
  volume::RecordingSink sink;
  EXPECT_FALSE(CVoxel(dir.Path("scan.Mhd"), &sink).HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("no DICOM images"), std::string::npos);
  std::filesystem::rename(dir.Path("scan.Mhd"), dir.Path("scan.MHD"));
  EXPECT_TRUE(CVoxel(dir.Path("scan.MHD"), &sink).HasData());
}
