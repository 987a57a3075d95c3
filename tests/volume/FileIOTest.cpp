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
  EXPECT_STREQ(FileCauseName(0), "none");
  EXPECT_STREQ(FileCauseName(2), "fileNotFound");
  EXPECT_STREQ(FileCauseName(5), "accessDenied");
  EXPECT_STREQ(FileCauseName(11), "sharingViolation");
  EXPECT_STREQ(FileCauseName(14), "endOfFile");
  EXPECT_STREQ(FileCauseName(15), "");
  EXPECT_STREQ(FileCauseName(-1), "");
  EXPECT_STREQ(FileCauseName(FileCause::diskFull), "diskFull");
}

TEST(FileCause, OpenErrorsMapOntoCauses) {
  TempDir dir;
  EXPECT_EQ(FileCauseFromErrno(ENOENT, dir.Path("missing.raw")), FileCause::fileNotFound);
  EXPECT_EQ(FileCauseFromErrno(ENOENT, dir.Path("nofolder/missing.raw")), FileCause::badPath);
  EXPECT_EQ(FileCauseFromErrno(EACCES, dir.Path("x")), FileCause::accessDenied);
  EXPECT_EQ(FileCauseFromErrno(EMFILE, dir.Path("x")), FileCause::tooManyOpenFiles);
  EXPECT_EQ(FileCauseFromErrno(ENOSPC, dir.Path("x")), FileCause::diskFull);
  EXPECT_EQ(FileCauseFromErrno(ETXTBSY, dir.Path("x")), FileCause::sharingViolation);
  EXPECT_EQ(FileCauseFromErrno(EPROTO, dir.Path("x")), FileCause::genericException);

  FileCause cause = FileCause::none;
  EXPECT_FALSE(InputFile::Open(dir.Root(), &cause).IsOpen()) << "a folder is no file";
  EXPECT_EQ(cause, FileCause::accessDenied);
}

TEST(FileCause, UnreadableDataFileIsAccessDenied) {
  TempDir dir;
  WriteFile(dir.Path("img.mhd"), "DimSize = 2 1 1\nElementDataFile = img.raw\n");
  WriteFile(dir.Path("img.raw"), "ab");
  ::chmod(dir.Root().c_str(), 0755);
  ::chmod(dir.Path("img.raw").c_str(), 0);
  const int result = RunInChild(
      [&] {
        RecordingSink sink;
        const CVoxel v(dir.Path("img.mhd"), &sink);
        return !v.HasData() && sink.messages == std::vector<std::string>{"Cannot open mhd file accessDenied"}
                   ? 0
                   : 1;
      },
      true);
  EXPECT_EQ(result, 0);
}
