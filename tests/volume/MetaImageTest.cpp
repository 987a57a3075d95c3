#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "tests/volume/TestFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

using testfiles::Bytes;
using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

const std::string kFloatWarning = "Data is float or double. Is it right?!  Use CFVoxel class!! ";

std::string Header(const std::string& dims, const std::string& type, const std::string& dataFile,
                   const std::string& extra = "") {
  return "ObjectType = Image\nNDims = 3\n" + extra + "DimSize = " + dims + "\nElementSpacing = 0.5 0.25 3\n" +
         "Offset = 1 2 3\n" + "ElementType = " + type + "\nElementDataFile = " + dataFile + "\n";
}

std::string Compress(const std::string& data) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
            data.size(), 9);
  out.resize(size);
  return out;
}

CVoxel Volume432() {
  CVoxel v(4, 3, 2);
  for (std::size_t i = 0; i < v.VoxelCount(); ++i) v[i] = static_cast<std::int16_t>(i * 37 - 300);
  v.spacing[0] = 0.68359375f;
  v.spacing[1] = 1.1f;
  v.spacing[2] = 3.0f;
  v.origin[0] = -12.345f;
  v.origin[1] = 0.1f;
  v.origin[2] = 1e-7f;
  return v;
}

class MetaImage : public ::testing::Test {
 protected:
  // Writes header and data and loads the header through the dispatcher.
  CVoxel Load(const std::string& header, const std::string& data, const std::string& dataName = "img.raw") {
    WriteFile(dir.Path("img.mhd"), header);
    if (!dataName.empty()) WriteFile(dir.Path(dataName), data);
    return CVoxel(dir.Path("img.mhd"), &sink);
  }
  TempDir dir;
  volume::RecordingSink sink;
};

}  // namespace

TEST_F(MetaImage, SaveWritesTheThirteenLinesAndUnsignedBytes) {
  CVoxel v(3, 2, 2);
  v.spacing[0] = 0.5f;
  v.spacing[1] = 0.25f;
  v.spacing[2] = 3.0f;
  v.origin[0] = 9.0f;
  v[0] = -1;
  v[1] = 256;
  v[2] = 300;
  v[11] = 7;
  ASSERT_TRUE(v.SaveMetaImage(dir.Path("seg.mhd")));
  EXPECT_EQ(ReadFile(dir.Path("seg.mhd")),
            "ObjectType = Image\nNDims = 3\nBinaryData = True\nBinaryDataByteOrderMSB = False\n"
            "CompressedData = False\nTransformMatrix = 1 0 0 0 1 0 0 0 1\nOffset = 9 -1 -1\n"
            "CenterOfRotation = 0 0 0\nAnatomicalOrientation = RAI\n"
            "ElementSpacing = 0.5 0.25 3\nDimSize = 3 2 2\nElementType = MET_UCHAR\n"
            "ElementDataFile = seg.raw\n");
  EXPECT_EQ(ReadFile(dir.Path("seg.raw")), std::string("\xff\x00\x2c\0\0\0\0\0\0\0\0\x07", 12));

  CVoxel back(dir.Path("seg.mhd"), &sink);
  ASSERT_TRUE(back.HasData());
  EXPECT_TRUE(back.SameSize(v));
  EXPECT_EQ(back.spacing[1], 0.25f);
  EXPECT_EQ(back.origin[0], 9.0f);
  EXPECT_EQ(back[0], 255);
  EXPECT_EQ(back[1], 0);
  EXPECT_EQ(back[2], 44);
  EXPECT_EQ(back[11], 7);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MetaImage, DataFileNameFollowsTheHeaderName) {
  CVoxel v(2, 2, 1);
  ASSERT_TRUE(v.SaveMetaImage(dir.Path("case.label.mhd")));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"case.label.mhd", "case.label.raw"}));

  // A dot in a folder name is not an extension: the data file gets ".raw" appended.
  std::filesystem::create_directory(dir.Path("v1.2"));
  ASSERT_TRUE(v.SaveMetaImage(dir.Path("v1.2/seg")));
  EXPECT_EQ(dir.List("v1.2"), (std::vector<std::string>{"seg", "seg.raw"}));
  EXPECT_NE(ReadFile(dir.Path("v1.2/seg")).find("ElementDataFile = seg.raw\n"), std::string::npos);

  // A header named like its own data file would be overwritten by the data.
  EXPECT_FALSE(v.SaveMetaImage(dir.Path("clash.raw")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("clash.raw")));
  EXPECT_FALSE(CVoxel().SaveMetaImage(dir.Path("empty.mhd")));
}

TEST_F(MetaImage, ShortWriterIsLossless) {
  const CVoxel v = Volume432();
  std::string error;
  ASSERT_TRUE(volume::SaveMetaImageShort(v, dir.Path("out.mhd"), &error)) << error;
  const CVoxel back(dir.Path("out.mhd"), &sink);
  ASSERT_TRUE(back.HasData());
  EXPECT_TRUE(back.SameSize(v));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back.spacing[i], v.spacing[i]);
    EXPECT_EQ(back.origin[i], v.origin[i]);
  }
  for (std::size_t i = 0; i < v.VoxelCount(); ++i) ASSERT_EQ(back[i], v[i]) << i;
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MetaImage, GeometryTravelsThroughBothWriters) {
  CVoxel v = Volume432();
  // Voxel x runs along +y, voxel y along -x, voxel z obliquely in the x-z plane.
  const double s = std::sqrt(0.5);
  const double direction[3][3] = {{0, -1, s}, {1, 0, 0}, {0, 0, s}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) v.direction[r][c] = direction[r][c];
  for (const volume::ElementStorage storage :
       {volume::ElementStorage::UnsignedByte, volume::ElementStorage::Short}) {
    ASSERT_TRUE(SaveMetaImage(v, dir.Path("g.mhd"), storage));
    const std::string header = ReadFile(dir.Path("g.mhd"));
    // ITK's order: the direction of voxel axis x first.
    EXPECT_NE(header.find("TransformMatrix = 0 1 0 -1 0 0 0.70710678118654757 0 0.70710678118654757\n"),
              std::string::npos)
        << header;
    EXPECT_NE(header.find("Offset = -12.3450003 0.100000001 1.00000001e-07\n"), std::string::npos) << header;
    EXPECT_NE(header.find("ElementSpacing = 0.68359375 1.10000002 3\n"), std::string::npos) << header;
    const CVoxel back(dir.Path("g.mhd"), &sink);
    ASSERT_TRUE(back.HasData());
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(back.spacing[i], v.spacing[i]);
      EXPECT_EQ(back.origin[i], v.origin[i]);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(back.direction[i][j], v.direction[i][j], 1e-15);
    }
  }
  // Unset geometry is written as spacing 1, origin 0 and the identity.
  ASSERT_TRUE(CVoxel(2, 2, 1).SaveMetaImage(dir.Path("unset.mhd")));
  const std::string unset = ReadFile(dir.Path("unset.mhd"));
  EXPECT_NE(unset.find("TransformMatrix = 1 0 0 0 1 0 0 0 1\nOffset = 0 0 0\n"), std::string::npos);
  EXPECT_NE(unset.find("ElementSpacing = 1 1 1\n"), std::string::npos);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MetaImage, ReaderTakesEveryNameOfOriginAndDirection) {
  const std::string data = Bytes<std::uint8_t>({1, 2, 3, 4, 5, 6});
  struct Case {
    std::string lines;
    double origin0;
    double d01;  // direction[0][1]: x component of voxel axis y
  };
  const std::vector<Case> cases = {
      {"Origin = 5 6 7\nRotation = 0 1 0 -1 0 0 0 0 1\n", 5, -1},
      {"Position = -5 6 7\nOrientation = 0 1 0 -1 0 0 0 0 1\n", -5, -1},
      // A scaled matrix gives unit directions.
      {"Offset = 2 0 0\nTransformMatrix = 0 2 0 -3 0 0 0 0 4\n", 2, -1},
      // Incomplete or degenerate matrices are ignored: the identity stays.
      {"Offset = 1 0 0\nTransformMatrix = 0 1 0 -1 0\n", 1, 0},
      {"Offset = 1 0 0\nTransformMatrix = 0 0 0 0 1 0 0 0 1\n", 1, 0},
      {"Offset = 1 0 0\nTransformMatrix = nan 1 0 -1 0 0 0 0 1\n", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    const CVoxel v = Load("DimSize = 3 2 1\n" + c.lines + "ElementDataFile = img.raw\n", data);
    ASSERT_TRUE(v.HasData());
    EXPECT_EQ(v.origin[0], c.origin0);
    EXPECT_EQ(v.direction[0][1], c.d01);
    EXPECT_EQ(v.direction[2][2], 1.0);
  }
  // A two-dimensional image's 2 x 2 matrix.
  const CVoxel flat =
      Load("NDims = 2\nDimSize = 3 2\nTransformMatrix = 0 1 1 0\nElementDataFile = img.raw\n", data);
  ASSERT_TRUE(flat.HasData());
  EXPECT_EQ(flat.direction[1][0], 1.0);
  EXPECT_EQ(flat.direction[0][1], 1.0);
  EXPECT_EQ(flat.direction[2][2], 1.0);
}

TEST_F(MetaImage, AHeaderWithSpacingButNoOriginLiesAtOriginZero) {
  // Every MetaImage reader places such an image at origin 0; a result saved
  // from it must lie there too, not at the "not set" marker -1.
  const std::string data = Bytes<std::uint8_t>({1, 2, 3, 4, 5, 6});
  const CVoxel spaced =
      Load("ElementSpacing = 0.5 0.5 2\nDimSize = 3 2 1\nElementDataFile = img.raw\n", data);
  ASSERT_TRUE(spaced.HasData());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(spaced.origin[i], 0.0f);
  ASSERT_TRUE(spaced.SaveMetaImage(dir.Path("out.mhd")));
  EXPECT_NE(ReadFile(dir.Path("out.mhd")).find("\nOffset = 0 0 0\n"), std::string::npos);

  // Neither spacing nor origin: the geometry stays "not set".
  const CVoxel bare = Load("DimSize = 3 2 1\nElementDataFile = img.raw\n", data);
  ASSERT_TRUE(bare.HasData());
  EXPECT_EQ(bare.spacing[0], -1.0f);
  EXPECT_EQ(bare.origin[0], -1.0f);
  // An origin without spacing is kept as given, at spacing 1, even when it
  // happens to be the marker's -1.
  const CVoxel placed = Load("Offset = -1 -1 -1\nDimSize = 3 2 1\nElementDataFile = img.raw\n", data);
  ASSERT_TRUE(placed.HasData());
  EXPECT_EQ(placed.spacing[2], 1.0f);
  ASSERT_TRUE(placed.SaveMetaImage(dir.Path("placed.mhd")));
  EXPECT_NE(ReadFile(dir.Path("placed.mhd")).find("\nOffset = -1 -1 -1\n"), std::string::npos);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MetaImage, HeaderKeysNeedOneBlankEachSideAndABlankLineEndsTheHeader) {
  const std::string data = Bytes<std::uint8_t>({1, 2, 3, 4, 5, 6});
  CVoxel noBlanks = Load("DimSize=3 2 1\nElementType = MET_UCHAR\nElementDataFile = img.raw\n", data);
  EXPECT_FALSE(noBlanks.HasData());

  // Reading into a volume that already has a size keeps that size.
  CVoxel sized(3, 2, 1);
  ASSERT_TRUE(ReadMetaImage(sized, dir.Path("img.mhd"), &sink));
  EXPECT_EQ(sized.Size(), C3DPoint(3, 2, 1));
  EXPECT_EQ(sized[5], 6);

  // Entries after an empty line are not read: the element type stays one byte.
  CVoxel early = Load("DimSize = 3 2 1\nElementDataFile = img.raw\n\nElementType = MET_SHORT\n", data);
  ASSERT_TRUE(early.HasData());
  EXPECT_EQ(early[1], 2);

  // Windows line ends, a backslash folder in the data file name, extra numbers.
  std::filesystem::create_directory(dir.Path("data"));
  WriteFile(dir.Path("data/img.raw"), data);
  CVoxel windows =
      Load("DimSize = 3 2 1 1\r\nElementSpacing = 2 3\r\nElementDataFile = data\\img.raw\r\n", "", "");
  ASSERT_TRUE(windows.HasData());
  EXPECT_EQ(windows[4], 5);
  EXPECT_EQ(windows.spacing[0], 2.0f);
  EXPECT_EQ(windows.spacing[1], 3.0f);
  EXPECT_EQ(windows.spacing[2], -1.0f);  // missing numbers leave the field as it was
}

TEST_F(MetaImage, MissingDataFileNamesTheCause) {
  CVoxel missing = Load(Header("4 3 2", "MET_SHORT", "none.raw"), "", "");
  EXPECT_FALSE(missing.HasData());
  EXPECT_EQ(missing.Size(), C3DPoint(4, 3, 2));  // what the header said stays
  EXPECT_EQ(missing.spacing[2], 3.0f);
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Cannot open mhd file fileNotFound"});

  sink.messages.clear();
  EXPECT_FALSE(Load(Header("4 3 2", "MET_SHORT", "nofolder/img.raw"), "", "").HasData());
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Cannot open mhd file badPath"});

  sink.messages.clear();
  EXPECT_FALSE(Load("DimSize = 4 3 2\n", "", "").HasData());
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Cannot open mhd file fileNotFound"});

  // An absolute name is taken relative to the header's folder as well.
  sink.messages.clear();
  WriteFile(dir.Path("abs.raw"), std::string(24, '\1'));
  EXPECT_FALSE(Load(Header("4 3 2", "MET_UCHAR", dir.Path("abs.raw")), "", "").HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].rfind("Cannot open mhd file ", 0), 0u);

  // A header that cannot be opened is no message at all.
  sink.messages.clear();
  EXPECT_FALSE(CVoxel(dir.Path("nothing.mhd"), &sink).HasData());
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MetaImage, ElementTypesConvertToSigned16Bit) {
  CVoxel ushort = Load(Header("2 1 1", "MET_USHORT", "img.raw"), Bytes<std::uint16_t>({40000, 7}));
  ASSERT_TRUE(ushort.HasData());
  EXPECT_EQ(ushort[0], -25536);
  EXPECT_EQ(ushort[1], 7);

  CVoxel schar = Load(Header("2 1 1", "MET_CHAR", "img.raw"), Bytes<std::int8_t>({-1, 100}));
  EXPECT_EQ(schar[0], -1);
  EXPECT_EQ(schar[1], 100);

  CVoxel uchar = Load(Header("2 1 1", "MET_UCHAR", "img.raw"), Bytes<std::uint8_t>({255, 100}));
  EXPECT_EQ(uchar[0], 255);
  EXPECT_TRUE(sink.messages.empty());

  CVoxel wide = Load(Header("3 1 1", "MET_INT", "img.raw"), Bytes<std::int32_t>({-2, 70000, 12}));
  ASSERT_TRUE(wide.HasData());
  EXPECT_EQ(wide[0], -2);
  EXPECT_EQ(wide[1], 4464);  // the low 16 bits
  EXPECT_EQ(wide[2], 12);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("outside -32768..32767"), std::string::npos);

  sink.messages.clear();
  CVoxel uint = Load(Header("2 1 1", "MET_UINT", "img.raw"), Bytes<std::uint32_t>({5, 6}));
  EXPECT_EQ(uint[1], 6);
  CVoxel longlong = Load(Header("2 1 1", "MET_LONG_LONG", "img.raw"), Bytes<std::int64_t>({-9, 9}));
  EXPECT_EQ(longlong[0], -9);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MetaImage, FloatsTruncateTowardZeroTrackTheRangeAndWarnOnce) {
  CVoxel f = Load(Header("4 1 1", "MET_FLOAT", "img.raw"), Bytes<float>({2.9f, -2.9f, 5.5f, -3.2f}));
  ASSERT_TRUE(f.HasData());
  EXPECT_EQ(f[0], 2);
  EXPECT_EQ(f[1], -2);
  EXPECT_EQ(f[2], 5);
  EXPECT_EQ(f[3], -3);
  EXPECT_EQ(f.maximum, 5);
  EXPECT_EQ(f.minimum, -3);
  EXPECT_EQ(sink.messages, std::vector<std::string>{kFloatWarning});

  sink.messages.clear();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CVoxel d = Load(Header("3 1 1", "MET_DOUBLE", "img.raw"), Bytes<double>({70000.7, nan, -1e12}));
  ASSERT_TRUE(d.HasData());
  EXPECT_EQ(d[0], 4464);
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(d[2], 0);
  EXPECT_EQ(sink.messages, std::vector<std::string>{kFloatWarning});
}

TEST_F(MetaImage, ReadsWhatOtherToolsWrite) {
  // Big-endian elements.
  std::string msb;
  for (std::uint16_t v : {std::uint16_t(1), std::uint16_t(0xfffe), std::uint16_t(300)}) {
    msb.push_back(static_cast<char>(v >> 8));
    msb.push_back(static_cast<char>(v & 0xff));
  }
  CVoxel big = Load(Header("3 1 1", "MET_SHORT", "img.raw", "BinaryDataByteOrderMSB = True\n"), msb);
  ASSERT_TRUE(big.HasData());
  EXPECT_EQ(big[0], 1);
  EXPECT_EQ(big[1], -2);
  EXPECT_EQ(big[2], 300);

  // zlib-compressed data in a separate file.
  std::vector<std::int16_t> values(4 * 3 * 2);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::int16_t>(i * 100 - 1000);
  CVoxel zipped = Load(Header("4 3 2", "MET_SHORT", "img.zraw", "CompressedData = True\n"),
                       Compress(Bytes(values)), "img.zraw");
  ASSERT_TRUE(zipped.HasData());
  EXPECT_EQ(zipped[23], 1300);

  // Data after the header in the same file, compressed or not (.mha).
  for (bool compress : {false, true}) {
    const std::string payload = compress ? Compress(Bytes(values)) : Bytes(values);
    WriteFile(dir.Path("local.mha"),
              Header("4 3 2", "MET_SHORT", "LOCAL", compress ? "CompressedData = True\n" : "") + payload);
    CVoxel local(dir.Path("local.mha"), &sink);
    ASSERT_TRUE(local.HasData()) << compress;
    EXPECT_EQ(local.At(3, 2, 1), 1300);
    EXPECT_EQ(local.origin[2], 3.0f);
  }

  // A two-dimensional image is one slice; HeaderSize bytes are skipped.
  CVoxel flat = Load("NDims = 2\nDimSize = 2 2\nHeaderSize = 3\nElementDataFile = img.raw\n",
                     "abc" + Bytes<std::uint8_t>({9, 8, 7, 6}));
  ASSERT_TRUE(flat.HasData());
  EXPECT_EQ(flat.Size(), C3DPoint(2, 2, 1));
  EXPECT_EQ(flat[0], 9);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MetaImage, RefusesWhatItCannotReadWithAReason) {
  struct Case {
    std::string header;
    std::string data;
    std::string expected;  // part of the message
  };
  const std::vector<Case> cases = {
      {Header("2 1 1", "MET_FLOAT_ARRAY", "img.raw"), std::string(64, '\0'), "MET_FLOAT_ARRAY"},
      {Header("2 1 1", "MET_SHORT", "img.raw", "ElementNumberOfChannels = 3\n"), std::string(64, '\0'),
       "ElementNumberOfChannels"},
      {Header("2 1 1", "MET_SHORT", "img.raw", "BinaryData = False\n"), "1 2", "BinaryData"},
      {Header("4 3 2", "MET_SHORT", "img.raw"), std::string(47, '\0'), "holds 47 bytes, the header needs 48"},
      {Header("100000 100000 100000", "MET_UCHAR", "img.raw"), "x", "more voxels than a volume can hold"},
      {Header("2000 1000 1000", "MET_UCHAR", "img.raw"), "x", "the header needs 2000000000"},
      {Header("0 3 2", "MET_UCHAR", "img.raw"), "x", "holds no voxels"},
      {Header("1000 1000 1000", "MET_UCHAR", "img.raw", "CompressedData = True\n"), Compress("abc"),
       "compressed data cannot hold"},
      {Header("4 3 2", "MET_SHORT", "img.raw", "CompressedData = True\n"), Compress(std::string(40, '\1')),
       "ends before the last voxel"},
      {Header("4 3 2", "MET_SHORT", "img.raw", "CompressedData = True\n"), std::string(40, '\x55'),
       "corrupt"},
      {Header("4 3 2", "MET_SHORT", "img.raw", "HeaderSize = 99\n"), std::string(48, '\0'), "holds 48 bytes"},
  };
  for (const Case& c : cases) {
    sink.messages.clear();
    CVoxel v = Load(c.header, c.data);
    EXPECT_FALSE(v.HasData()) << c.expected;
    ASSERT_EQ(sink.messages.size(), 1u) << c.expected;
    EXPECT_NE(sink.messages[0].find(c.expected), std::string::npos) << sink.messages[0];
    EXPECT_EQ(sink.messages[0].rfind("Cannot read mhd file " + dir.Path("img.mhd") + ": ", 0), 0u);
  }

  // Megabytes of text without a line end are no header.
  sink.messages.clear();
  EXPECT_FALSE(Load(std::string(3 << 20, 'D'), "").HasData());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("longer than 1 MiB"), std::string::npos);
}

// The reader fills a block that is not zeroed first, often memory a volume
// with other values has just freed: a stream that ends early must leave no
// data at all, whatever was written of it, and a complete one every voxel of
// the file (small blocks and the large-page path of 8 MiB and more alike).
TEST_F(MetaImage, ABlockIsKeptOnlyWhenTheReaderWroteAllOfIt) {
  for (const std::string dims : {"37 11 3", "1024 1024 5"}) {
    SCOPED_TRACE(dims);
    int X = 0, Y = 0, Z = 0;
    ASSERT_EQ(std::sscanf(dims.c_str(), "%d %d %d", &X, &Y, &Z), 3);
    std::vector<std::int16_t> values(static_cast<std::size_t>(X) * Y * Z);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::int16_t>(i % 1013 - 500);
    const std::string bytes(reinterpret_cast<const char*>(values.data()), values.size() * 2);
    const std::string compressed = Compress(bytes);
    const auto dirty = [&] {
      CVoxel v(X, Y, Z);
      std::fill(v.Data(), v.Data() + v.VoxelCount(), CVoxel::value_type{0x5a5a});
    };

    dirty();
    sink.messages.clear();
    CVoxel cut = Load(Header(dims, "MET_SHORT", "img.raw", "CompressedData = True\n"),
                      compressed.substr(0, compressed.size() / 2));
    EXPECT_FALSE(cut.HasData());
    EXPECT_EQ(cut.Data(), nullptr);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], "Cannot read mhd file " + dir.Path("img.mhd") +
                                    ": the compressed data ends before the last voxel");

    // A volume that held data before a failed read holds none after it.
    CVoxel reused(X, Y, Z);
    EXPECT_FALSE(ReadMetaImage(reused, dir.Path("img.mhd"), &sink));
    EXPECT_FALSE(reused.HasData());

    for (const bool packed : {true, false}) {
      dirty();
      CVoxel whole = Load(Header(dims, "MET_SHORT", "img.raw", packed ? "CompressedData = True\n" : ""),
                          packed ? compressed : bytes);
      ASSERT_TRUE(whole.HasData());
      ASSERT_EQ(whole.VoxelCount(), values.size());
      EXPECT_TRUE(std::equal(values.begin(), values.end(), whole.Data())) << packed;
    }
  }
}
