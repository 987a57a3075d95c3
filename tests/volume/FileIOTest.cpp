#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "tests/volume/TestFiles.h"
#include "volume/FileIO.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

using testfiles::RunInChild;
using testfiles::TempDir;
using testfiles::WriteFile;

TEST(FileCause, NamesByCode) {
  EXPECT_STREQ(volume::FileCauseName(0), "none");
  EXPECT_STREQ(volume::FileCauseName(2), "fileNotFound");
  EXPECT_STREQ(volume::FileCauseName(5), "accessDenied");
  EXPECT_STREQ(volume::FileCauseName(11), "sharingViolation");
  EXPECT_STREQ(volume::FileCauseName(14), "endOfFile");
  EXPECT_STREQ(volume::FileCauseName(15), "");
  EXPECT_STREQ(volume::FileCauseName(-1), "");
  EXPECT_STREQ(volume::FileCauseName(volume::FileCause::diskFull), "diskFull");
}

TEST(FileCause, OpenErrorsMapOntoCauses) {
  TempDir dir;
  EXPECT_EQ(volume::FileCauseFromErrno(ENOENT, dir.Path("missing.raw")), volume::FileCause::fileNotFound);
  EXPECT_EQ(volume::FileCauseFromErrno(ENOENT, dir.Path("nofolder/missing.raw")), volume::FileCause::badPath);
  EXPECT_EQ(volume::FileCauseFromErrno(EACCES, dir.Path("x")), volume::FileCause::accessDenied);
  EXPECT_EQ(volume::FileCauseFromErrno(EMFILE, dir.Path("x")), volume::FileCause::tooManyOpenFiles);
  EXPECT_EQ(volume::FileCauseFromErrno(ENOSPC, dir.Path("x")), volume::FileCause::diskFull);
  EXPECT_EQ(volume::FileCauseFromErrno(ETXTBSY, dir.Path("x")), volume::FileCause::sharingViolation);
  EXPECT_EQ(volume::FileCauseFromErrno(EPROTO, dir.Path("x")), volume::FileCause::genericException);

  volume::FileCause cause = volume::FileCause::none;
  EXPECT_FALSE(volume::InputFile::Open(dir.Root(), &cause).IsOpen()) << "a folder is no file";
  EXPECT_EQ(cause, volume::FileCause::accessDenied);
}

TEST(FileCause, UnreadableDataFileIsAccessDenied) {
  TempDir dir;
  WriteFile(dir.Path("img.mhd"), "DimSize = 2 1 1\nElementDataFile = img.raw\n");
  WriteFile(dir.Path("img.raw"), "ab");
  ::chmod(dir.Root().c_str(), 0755);
  ::chmod(dir.Path("img.raw").c_str(), 0);
  const int result = RunInChild(
      [&] {
        volume::RecordingSink sink;
        const CVoxel v(dir.Path("img.mhd"), &sink);
        return !v.HasData() && sink.messages == std::vector<std::string>{"Cannot open mhd file accessDenied"}
                   ? 0
                   : 1;
      },
      true);
  EXPECT_EQ(result, 0);
}
