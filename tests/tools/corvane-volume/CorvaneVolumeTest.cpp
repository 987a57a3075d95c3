// The command-line contract of corvane-volume.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/volume/TestDicomSeries.h"
#include "tests/volume/TestFiles.h"
#include "volume/DicomSeg.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

using testfiles::Bytes;
using testfiles::Put;
using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = err.find('\n', start)) != std::string::npos; start = nl + 1) {
      lines.push_back(err.substr(start, nl - start));
    }
    if (start < err.size()) lines.push_back(err.substr(start));
    return lines;
  }
};

class Tool : public ::testing::Test {
 protected:
  Result Call(const std::string& args) {
    const std::string command = "'" CORVANE_VOLUME_EXE "' " + args + " > '" + dir.Path("stdout") + "' 2> '" +
                                dir.Path("stderr") + "' < /dev/null";
    const int raw = std::system(command.c_str());
    Result run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(dir.Path("stdout"));
    run.err = ReadFile(dir.Path("stderr"));
    return run;
  }
  std::string Quoted(const std::string& name) { return "'" + dir.Path(name) + "'"; }
  // A DICOM series in t2/ and seg.dcm, a segmentation of it with two voxels
  // inside; the series' files (none when a write failed).
  std::vector<std::string> WriteSeriesAndSegmentation() {
    const auto files = testdicom::WriteSeries(dir.Path("t2"), testdicom::SeriesLayout{});
    if (files.empty()) return {};
    const CVoxel image(files[0]);
    CVoxel label(image.X, image.Y, image.Z);
    label.CopyGeometry(image);
    label.At(1, 2, 3) = 1;
    label.At(4, 2, 3) = 1;
    if (!volume::SaveDicomSegmentation(label, files[0], volume::SegAlgorithm::Manual, dir.Path("seg.dcm")))
      return {};
    return files;
  }
  TempDir dir;
};

std::string LongRaw(std::vector<float> spacingOrigin, int X, int Y, int Z,
                    const std::vector<std::int16_t>& voxels) {
  std::string out;
  Put(out, std::int32_t{-1});
  for (float f : spacingOrigin) Put(out, f);
  return out + Bytes<std::int32_t>({X, Y, Z}) + Bytes(voxels);
}

}  // namespace

TEST_F(Tool, InfoPrintsNameTypeAndSixLines) {
  WriteFile(dir.Path("v.raw"),
            LongRaw({0.5f, 0.25f, 3.0f, -1.5f, 2.0f, 100.25f}, 3, 2, 1, {0, -7, 12, 0, 300, 1}));
  const Result run = Call("info " + Quoted("v.raw"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "file " + dir.Path("v.raw") +
                         "\ntype int16\nsize 3 2 1\nspacing 0.5 0.25 3\norigin -1.5 2 100.25\ndirection 1 0 "
                         "0 0 1 0 0 0 1\nrange -7 300\n"
                         "nonzero 4\n");
  EXPECT_EQ(run.err, "");

  // %g of the 32-bit float, not of a decimal text.
  WriteFile(dir.Path("w.raw"), LongRaw({0.1f, 1e-7f, 123456789.0f, 0, 0, 0}, 1, 1, 1, {5}));
  EXPECT_EQ(Call("info " + Quoted("w.raw")).out,
            "file " + dir.Path("w.raw") +
                "\ntype int16\nsize 1 1 1\nspacing 0.1 1e-07 1.23457e+08\norigin 0 0 0\ndirection 1 0 0 0 1 "
                "0 0 0 1\n"
                "range 5 5\nnonzero 1\n");

  // The direction row by row; the origin in LPS as ITK shows it, and a header
  // without ElementSpacing at MetaImage's spacing 1.
  WriteFile(dir.Path("d.mhd"),
            "NDims = 3\nDimSize = 1 1 1\nOffset = 4 -5 6\nTransformMatrix = 0 1 0 -1 0 0 0 0 1\n"
            "ElementDataFile = d.raw\n");
  WriteFile(dir.Path("d.raw"), std::string(1, '\x07'));
  EXPECT_EQ(Call("info " + Quoted("d.mhd")).out,
            "file " + dir.Path("d.mhd") +
                "\ntype MET_UCHAR\nsize 1 1 1\nspacing 1 1 1\norigin 4 -5 6\ndirection 0 -1 0 1 0 0 0 0 "
                "1\nrange 7 7\nnonzero 1\n");
}

TEST_F(Tool, InfoOnADicomSegmentationSaysWhatItIs) {
  ASSERT_FALSE(WriteSeriesAndSegmentation().empty());
  const Result run = Call("info " + Quoted("seg.dcm"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(
      run.out.find("file " + dir.Path("seg.dcm") +
                   "\nDICOM Segmentation: segment \"Prostate\" (first of 1), 6 of its 6 frames, of series " +
                   testdicom::SeriesLayout{}.seriesUid + "\n"),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\nsize 12 10 6\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nrange 0 1\nnonzero 2\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

// A SEG whose header declares a nested value of nearly 4 GiB (found by
// fuzzing). GDCM allocates and zero-fills what a header declares before it
// reads it; the header scan behind the "type" line runs in a child with a
// bounded address space, so info answers at once and stays small.
TEST_F(Tool, InfoOnAHeaderDeclaringAHugeValueStaysSmall) {
  const std::string folder = dir.Path("study/seg");
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(CORVANE_HUGE_VALUE_DCM, folder + "/seg.dcm");
  const Result run = Call("info " + Quoted("study/seg/seg.dcm"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("DICOM Segmentation: segment \"Prostate\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\ntype unknown\n"), std::string::npos) << run.out;
  rusage children{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
  EXPECT_LT(children.ru_maxrss, 1L << 20) << "largest child, KiB";  // well below the declared 4 GiB
}

// The "type" line of info names the element type the file stores, for every
// format Corvane reads; several paths print one block each.
TEST_F(Tool, InfoNamesTheStoredTypeOfEveryFormat) {
  const std::vector<std::string> series = WriteSeriesAndSegmentation();
  ASSERT_FALSE(series.empty());
  // The 12-byte header of the byte format, then X * Y * Z bytes.
  WriteFile(dir.Path("b.bin"), Bytes<std::int32_t>({2, 1, 1}) + std::string("\x03\x00", 2));
  WriteFile(dir.Path("v.raw"), LongRaw({1, 1, 1, 0, 0, 0}, 2, 1, 1, {0, 9}));
  ASSERT_EQ(Call("convert " + Quoted("v.raw") + " " + Quoted("v.nii.gz")).status, 0);
  ASSERT_EQ(Call("convert " + Quoted("v.raw") + " " + Quoted("v.mha")).status, 0);
  // The 2048 x 2048 big-endian image.
  WriteFile(dir.Path("x.IMG"), std::string(std::size_t{2048} * 2048 * 2, '\0'));
  const std::vector<std::pair<std::string, std::string>> expected{{"t2", "uint16"},
                                                                  {series[2], "uint16"},
                                                                  {dir.Path("seg.dcm"), "bit"},
                                                                  {dir.Path("b.bin"), "uint8"},
                                                                  {dir.Path("v.raw"), "int16"},
                                                                  {dir.Path("v.nii.gz"), "INT16"},
                                                                  {dir.Path("v.mha"), "MET_SHORT"},
                                                                  {dir.Path("x.IMG"), "uint16"}};
  std::string paths, blocks;
  for (const auto& [path, type] : expected) {
    const std::string full = path.front() == '/' ? path : dir.Path(path);
    const Result run = Call("info '" + full + "'");
    EXPECT_EQ(run.status, 0) << path << run.err;
    EXPECT_EQ(run.out.rfind("file " + full + "\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\ntype " + type + "\n"), std::string::npos) << path << "\n" << run.out;
    paths += " '" + full + "'";
    blocks += (blocks.empty() ? "" : "\n") + run.out;
  }
  const Result all = Call("info" + paths);
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, blocks);
}

TEST_F(Tool, ConvertToNiftiKeepsVoxelsAndGeometry) {
  WriteFile(dir.Path("d.mhd"),
            "NDims = 3\nDimSize = 2 1 2\nElementSpacing = 0.5 0.75 2\nOffset = 31.5 -12.25 47\n"
            "TransformMatrix = 0 1 0 -1 0 0 0 0 -1\nElementType = MET_SHORT\nElementDataFile = d.raw\n");
  WriteFile(dir.Path("d.raw"), Bytes<std::int16_t>({-300, 7, 32767, -32768}));
  const CVoxel in(dir.Path("d.mhd"));
  for (const char* name : {"out.nii", "out.nii.gz", "OUT.NII.GZ"}) {
    const Result run = Call("convert " + Quoted("d.mhd") + " " + Quoted(name));
    EXPECT_EQ(run.status, 0) << run.err;
    const CVoxel out(dir.Path(name));
    ASSERT_TRUE(out.HasData()) << name;
    EXPECT_EQ(out[0], -300);
    EXPECT_EQ(out[3], -32768);
    EXPECT_TRUE(SameGeometry(in, out, 1e-6, 1e-5, 1e-6)) << name;
  }
  // info shows the NIfTI file where it shows the MetaImage: in LPS.
  const std::string lps = "origin 31.5 -12.25 47\ndirection 0 -1 0 1 0 0 0 0 -1\n";
  EXPECT_NE(Call("info " + Quoted("d.mhd")).out.find(lps), std::string::npos);
  EXPECT_NE(Call("info " + Quoted("out.nii.gz")).out.find(lps), std::string::npos)
      << Call("info " + Quoted("out.nii.gz")).out;
}

TEST_F(Tool, ConvertToRawSaysWhenTheDirectionIsLost) {
  // The raw format keeps spacing and origin only: an oblique volume is still
  // written, with one line saying what is lost and how to keep it.
  WriteFile(dir.Path("d.mhd"),
            "NDims = 3\nDimSize = 1 1 1\nElementSpacing = 0.5 0.75 2\nOffset = 31.5 -12.25 47\n"
            "TransformMatrix = 0 1 0 -1 0 0 0 0 1\nElementType = MET_SHORT\nElementDataFile = d.raw\n");
  WriteFile(dir.Path("d.raw"), Bytes<std::int16_t>({-300}));
  const Result oblique = Call("convert " + Quoted("d.mhd") + " " + Quoted("out.raw"));
  EXPECT_EQ(oblique.status, 0);
  EXPECT_EQ(oblique.ErrLines(),
            std::vector<std::string>{"corvane-volume: " + dir.Path("out.raw") +
                                     ": the raw format keeps spacing and origin but not the direction; "
                                     "write .mhd, .mha or .nii.gz to keep it"});
  EXPECT_EQ(ReadFile(dir.Path("out.raw")),
            LongRaw({0.5f, 0.75f, 2.0f, 31.5f, -12.25f, 47.0f}, 1, 1, 1, {-300}));
  // Nothing is lost where the direction is the identity.
  const Result axial = Call("convert " + Quoted("out.raw") + " " + Quoted("again.raw"));
  EXPECT_EQ(axial.status, 0);
  EXPECT_EQ(axial.err, "");
}

TEST_F(Tool, ConvertWritesTheFortyByteRawFormatLosslessly) {
  // A MetaImage of floats, big-endian, with spacing and origin.
  std::string data;
  for (float f : {1.9f, -300.2f, 32767.0f, 0.0f, 4.5f, -1.0f}) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    Put(data, __builtin_bswap32(bits));
  }
  WriteFile(dir.Path("in.mhd"),
            "NDims = 3\nDimSize = 3 1 2\nElementSpacing = 0.5 0.75 1.25\nOffset = -10 20.5 3\n"
            "ElementType = MET_FLOAT\nBinaryDataByteOrderMSB = True\nElementDataFile = in.data\n");
  WriteFile(dir.Path("in.data"), data);
  const Result run = Call("convert " + Quoted("in.mhd") + " " + Quoted("out.raw"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir.Path("out.raw")),
            LongRaw({0.5f, 0.75f, 1.25f, -10.0f, 20.5f, 3.0f}, 3, 1, 2, {1, -300, 32767, 0, 4, -1}));

  // Converting the result again changes nothing.
  EXPECT_EQ(Call("convert " + Quoted("out.raw") + " " + Quoted("again.raw")).status, 0);
  EXPECT_EQ(ReadFile(dir.Path("again.raw")), ReadFile(dir.Path("out.raw")));

  // An .mhd target gets MetaImage with 16-bit voxels.
  EXPECT_EQ(Call("convert " + Quoted("out.raw") + " " + Quoted("copy.mhd")).status, 0);
  const CVoxel copy(dir.Path("copy.mhd"));
  ASSERT_TRUE(copy.HasData());
  EXPECT_EQ(copy[1], -300);
  EXPECT_EQ(copy.origin[1], 20.5f);
}

TEST_F(Tool, AFailedLoadIsExitStatusTwoWithOneLine) {
  WriteFile(dir.Path("cut.raw"), LongRaw({1, 1, 1, 0, 0, 0}, 4, 4, 4, {1, 2, 3}));
  WriteFile(dir.Path("nodata.mhd"), "DimSize = 4 4 4\nElementDataFile = gone.raw\n");
  WriteFile(dir.Path("huge.bin"), Bytes<std::int32_t>({100000, 100000, 100000}));
  WriteFile(dir.Path("bad.nii"), std::string(500, 'x'));
  for (const std::string& args :
       {"info " + Quoted("cut.raw"), "info " + Quoted("nodata.mhd"), "info " + Quoted("missing.mhd"),
        "info " + Quoted("huge.bin"), "info " + Quoted("bad.nii"), "info " + Quoted("nofolder/x.lab"),
        "info " + Quoted("slice.dcm"), "convert " + Quoted("cut.raw") + " " + Quoted("out.raw")}) {
    const Result run = Call(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.out, "") << args;
    const auto lines = run.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << args << "\n" << run.err;
    EXPECT_EQ(lines[0].rfind("corvane-volume: ", 0), 0u) << lines[0];
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("out.raw")));
  EXPECT_NE(Call("info " + Quoted("nodata.mhd")).err.find("Cannot open mhd file fileNotFound"),
            std::string::npos);
  EXPECT_EQ(Call("info " + Quoted("missing.mhd")).err,
            "corvane-volume: " + dir.Path("missing.mhd") + ": No such file or directory\n");
}

TEST_F(Tool, BadArgumentsAndWriteFailures) {
  for (const char* args : {"", "info", "convert a", "convert a b c", "frobnicate x", "--frobnicate"}) {
    const Result run = Call(args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_EQ(run.ErrLines().size(), 1u) << args << run.err;
    EXPECT_NE(run.err.find("(see --help)"), std::string::npos) << args;
  }
  const Result help = Call("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: corvane-volume [-q] info PATH"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status: 0 done; 1 bad arguments; 2"), std::string::npos);

  WriteFile(dir.Path("v.raw"), LongRaw({1, 1, 1, 0, 0, 0}, 1, 1, 1, {3}));
  const Result run = Call("convert " + Quoted("v.raw") + " " + Quoted("no/such/folder/out.raw"));
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err.rfind("corvane-volume: ", 0), 0u);
  EXPECT_EQ(run.err, "corvane-volume: cannot write '" + dir.Path("no/such/folder/out.raw") +
                         "': No such file or directory\n");
}
