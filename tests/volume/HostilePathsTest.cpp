// Paths that are not regular files (FIFOs, devices, folders) and empty files:
// every reader refuses them at once with a message that names the real cause.
// Each load runs in a child process with an alarm, so a reader that blocks on
// a FIFO fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/volume/TestFiles.h"
#include "volume/FileIO.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

using testfiles::RunInChild;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

// Loads `path` in a child that is killed after 10 s; 0 when the load gave no
// volume and exactly one message containing every one of `expected`.
int RefusedWith(const std::string& path, const std::vector<std::string>& expected) {
  return RunInChild([&] {
    ::alarm(30);
    volume::RecordingSink sink;
    const CVoxel v(path, &sink);
    if (v.HasData()) return 2;
    if (sink.messages.size() != 1) return 3;
    for (const std::string& part : expected)
      if (sink.messages[0].find(part) == std::string::npos) return 4;
    return 0;
  });
}

constexpr const char* kFifo = "it is a FIFO (named pipe), not a regular file";
constexpr const char* kFolder = "it is a folder, not a file";

}  // namespace

TEST(HostilePaths, AFifoGivenAsTheFileItselfIsRefusedAtOnce) {
  TempDir dir;
  for (const char* name : {"pipe.mhd", "pipe.raw", "pipe.bin", "pipe.nii", "pipe.hdr", "pipe.IMG"}) {
    ASSERT_EQ(::mkfifo(dir.Path(name).c_str(), 0600), 0);
    EXPECT_EQ(RefusedWith(dir.Path(name), {dir.Path(name), kFifo}), 0) << name;
  }
}

TEST(HostilePaths, AMetaImageWhoseDataIsNoRegularFileIsRefused) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.Path("data.raw").c_str(), 0600), 0);
  WriteFile(dir.Path("fifo.mhd"), "DimSize = 2 1 1\nElementDataFile = data.raw\n");
  EXPECT_EQ(RefusedWith(dir.Path("fifo.mhd"), {"Cannot open mhd file", dir.Path("data.raw"), kFifo}), 0);

  std::filesystem::create_directory(dir.Path("folder.raw"));
  WriteFile(dir.Path("folder.mhd"), "DimSize = 2 1 1\nElementDataFile = folder.raw\n");
  EXPECT_EQ(RefusedWith(dir.Path("folder.mhd"), {"Cannot open mhd file", kFolder}), 0);

  WriteFile(dir.Path("device.mhd"), "DimSize = 2 1 1\nElementDataFile = ../../../../../../../dev/zero\n");
  EXPECT_EQ(RefusedWith(dir.Path("device.mhd"), {"it is a device, not a regular file"}), 0);
}

TEST(HostilePaths, TheFilesNiftiLooksForBesideTheHeaderMustBeRegular) {
  TempDir dir;
  WriteFile(dir.Path("scan.hdr"), std::string(348, '\0'));
  ASSERT_EQ(::mkfifo(dir.Path("scan.img").c_str(), 0600), 0);
  EXPECT_EQ(RefusedWith(dir.Path("scan.hdr"), {dir.Path("scan.img"), kFifo}), 0);
}

// A FIFO among the files is passed by, never opened (opening it would block).
TEST(HostilePaths, ADicomFolderHoldingAFifoIsReadWithoutOpeningIt) {
  TempDir dir;
  WriteFile(dir.Path("a.dcm"), "not really DICOM");
  ASSERT_EQ(::mkfifo(dir.Path("b.dcm").c_str(), 0600), 0);
  EXPECT_EQ(RefusedWith(dir.Path("a.dcm"), {dir.Root() + ": the folder holds no DICOM images"}), 0);
}

// Files that crashed VTK's DICOM parser: refused with one message, never a crash.
TEST(HostilePaths, DicomFilesThatWouldCrashVtksParserAreRefused) {
  TempDir dir;
  const std::string preamble = std::string(128, '\0') + "DICM";
  // Slice thickness (0018,0050) as an empty DS value.
  WriteFile(dir.Path("empty.dcm"), preamble + std::string("\x18\x00\x50\x00"
                                                          "DS\x00\x00",
                                                          8));
  EXPECT_EQ(RefusedWith(dir.Path("empty.dcm"), {"Cannot read a DICOM series from"}), 0);
  std::filesystem::remove(dir.Path("empty.dcm"));
  // A copy cut off in the middle of an element header.
  WriteFile(dir.Path("cut.dcm"), preamble + std::string("\x08\x00\x60\x00"
                                                        "CS\x02\x00"
                                                        "MR\x18\x00\x50",
                                                        13));
  EXPECT_EQ(RefusedWith(dir.Path("cut.dcm"), {"Cannot read a DICOM series from"}), 0);
  std::filesystem::remove(dir.Path("cut.dcm"));
  // Rows (0028,0010) claiming more bytes than the file has.
  WriteFile(dir.Path("long.dcm"), preamble + std::string("\x28\x00\x10\x00"
                                                         "US\x40\x00\x01\x00",
                                                         10));
  EXPECT_EQ(RefusedWith(dir.Path("long.dcm"), {"Cannot read a DICOM series from"}), 0);
  std::filesystem::remove(dir.Path("long.dcm"));
  // An empty study UID: a value VTK's reader copies as a C string.
  WriteFile(dir.Path("study.dcm"), preamble + std::string("\x20\x00\x0d\x00"
                                                          "UI\x00\x00",
                                                          8));
  EXPECT_EQ(RefusedWith(dir.Path("study.dcm"), {"Cannot read a DICOM series from"}), 0);
  std::filesystem::remove(dir.Path("study.dcm"));
  // VTK's parser reads a UT length as 16 bits: the "abcd" below is the value,
  // and an empty Columns (0028,0011) follows it.
  WriteFile(dir.Path("text.dcm"), preamble + std::string("\x18\x00\x10\x00"
                                                         "UT\x04\x00"
                                                         "abcd"
                                                         "\x28\x00\x11\x00"
                                                         "US\x00\x00",
                                                         20));
  EXPECT_EQ(RefusedWith(dir.Path("text.dcm"), {"Cannot read a DICOM series from"}), 0);
  std::filesystem::remove(dir.Path("text.dcm"));
  // Without the "DICM" magic VTK still parses a file from its first byte when
  // its first group is 0x0002 or 0x0008 and it is at least 132 bytes long.
  std::string bare = std::string(
      "\x02\x00\x00\x00"
      "UL\x04\x00"
      "\x00\x00\x00\x00"
      "\x28\x00\x11\x00"
      "US\x00\x00",
      20);
  bare += std::string("\x08\x00\x70\x00LO\x70\x00", 8) + std::string(0x70, 'x');
  WriteFile(dir.Path("bare.dcm"), bare);
  EXPECT_EQ(RefusedWith(dir.Path("bare.dcm"), {"Cannot read a DICOM series from"}), 0);
}

namespace {
// A minimal DICOM image: rows x columns of 16-bit pixels, `pixelBytes` of them stored.
std::string DicomImage(int rows, int columns, int pixelBytes) {
  auto us = [](const char* tag, int v) {
    return std::string(tag, 4) + "US" + std::string("\x02\x00", 2) + static_cast<char>(v & 0xFF) +
           static_cast<char>(v >> 8);
  };
  std::string file = std::string(128, '\0') + "DICM";
  file += us("\x28\x00\x10\x00", rows) + us("\x28\x00\x11\x00", columns) + us("\x28\x00\x00\x01", 16);
  file += std::string(
      "\xe0\x7f\x10\x00"
      "OW\x00\x00",
      8);
  for (int shift = 0; shift < 32; shift += 8) file += static_cast<char>((pixelBytes >> shift) & 0xFF);
  return file + std::string(static_cast<std::size_t>(pixelBytes), '\x01');
}
}  // namespace

TEST(HostilePaths, DicomSeriesVtkWouldCopyOutOfBoundsAreRefused) {
  TempDir dir;
  WriteFile(dir.Path("a.dcm"), DicomImage(2, 2, 8));
  // An image of another size is another stack: a.dcm reads alone.
  WriteFile(dir.Path("b.dcm"), DicomImage(3, 2, 12));
  EXPECT_EQ(RunInChild([&] {
              const CVoxel v(dir.Path("a.dcm"));
              return v.HasData() && v.Size() == C3DPoint(2, 2, 1) && v[0] == 0x0101 ? 0 : 1;
            }),
            0);
  // An image of the same size with too few pixel bytes is named.
  WriteFile(dir.Path("b.dcm"), DicomImage(2, 2, 6));
  EXPECT_EQ(RefusedWith(dir.Path("a.dcm"), {"b.dcm"}), 0);
}

TEST(HostilePaths, FoldersAndEmptyHeadersSayWhatTheyAre) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path("case.mhd"));
  std::filesystem::create_directory(dir.Path("case.raw"));
  EXPECT_EQ(RefusedWith(dir.Path("case.mhd"), {dir.Path("case.mhd"), kFolder}), 0);
  EXPECT_EQ(RefusedWith(dir.Path("case.raw"), {kFolder}), 0);
  WriteFile(dir.Path("empty.mhd"), "");
  EXPECT_EQ(RefusedWith(dir.Path("empty.mhd"), {"Cannot read mhd file", "the file is empty"}), 0);

  volume::FileCause cause = volume::FileCause::none;
  std::string notRegular;
  EXPECT_FALSE(volume::InputFile::Open(dir.Path("case.mhd"), &cause, &notRegular).IsOpen());
  EXPECT_EQ(cause, volume::FileCause::accessDenied);
  EXPECT_EQ(notRegular, kFolder);
  EXPECT_TRUE(volume::InputFile::Open(dir.Path("empty.mhd"), &cause, &notRegular).IsOpen());
  EXPECT_EQ(cause, volume::FileCause::none);
  EXPECT_EQ(notRegular, "");
}

TEST(HostilePaths, AWriterNeverReplacesAFifoOrFolder) {
  TempDir dir;
  CVoxel v(2, 2, 2);
  std::string error;
  ASSERT_EQ(::mkfifo(dir.Path("pipe.raw").c_str(), 0600), 0);
  EXPECT_FALSE(volume::SaveRaw16(v, dir.Path("pipe.raw"), &error));
  EXPECT_EQ(error, "cannot write '" + dir.Path("pipe.raw") + "': " + kFifo);
  struct stat st {};
  ASSERT_EQ(::stat(dir.Path("pipe.raw").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  std::filesystem::create_directory(dir.Path("seg.raw"));
  EXPECT_FALSE(v.SaveMetaImage(dir.Path("seg.mhd"), &error));
  EXPECT_EQ(error, "cannot write '" + dir.Path("seg.raw") + "': " + kFolder);
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"pipe.raw", "seg.raw"})) << "nothing else is left behind";
}
