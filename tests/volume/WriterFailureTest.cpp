// A failed save reports failure and leaves the previous files as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/volume/TestFiles.h"
#include "volume/Readers.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

using testfiles::ReadFile;
using testfiles::RunInChild;
using testfiles::RunWithFileSizeLimit;
using testfiles::TempDir;
using testfiles::WriteFile;

namespace {

CVoxel Filled(int side, std::int16_t value) {
  CVoxel v(side, side, side);
  for (std::size_t i = 0; i < v.VoxelCount(); ++i) v[i] = value;
  return v;
}

enum class Writer { MetaImageUChar, MetaImageShort, Raw16, Nifti };

bool Save(Writer w, const CVoxel& v, const std::string& path) {
  switch (w) {
    case Writer::MetaImageUChar:
      return v.SaveMetaImage(path);
    case Writer::MetaImageShort:
      return volume::SaveMetaImageShort(v, path);
    case Writer::Raw16:
      return volume::SaveRaw16(v, path);
    case Writer::Nifti:
      return volume::SaveNifti(v, path, volume::ElementStorage::Short);
  }
  return false;
}

const char* Target(Writer w) {
  return w == Writer::Raw16 ? "vol.raw" : w == Writer::Nifti ? "vol.nii" : "vol.mhd";
}

class WriterFailure : public ::testing::TestWithParam<Writer> {};

}  // namespace

TEST_P(WriterFailure, MissingFolderIsAFailure) {
  TempDir dir;
  std::string error;
  const std::string path = dir.Path(std::string("no/") + Target(GetParam()));
  const bool ok = GetParam() == Writer::Raw16 ? volume::SaveRaw16(Filled(2, 1), path, &error)
                  : GetParam() == Writer::MetaImageShort
                      ? volume::SaveMetaImageShort(Filled(2, 1), path, &error)
                  : GetParam() == Writer::Nifti
                      ? volume::SaveNifti(Filled(2, 1), path, volume::ElementStorage::Short, &error)
                      : Filled(2, 1).SaveMetaImage(path);
  EXPECT_FALSE(ok);
  if (GetParam() != Writer::MetaImageUChar) {
    // A plain sentence with the system's reason, no internal cause name.
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_EQ(error.find("badPath"), std::string::npos) << error;
  }
  EXPECT_TRUE(dir.List().empty());
}

TEST_P(WriterFailure, ReadOnlyFolderKeepsTheOldFiles) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path("ro"));
  const std::string target = dir.Path(std::string("ro/") + Target(GetParam()));
  ASSERT_TRUE(Save(GetParam(), Filled(3, 5), target));
  const std::vector<std::string> before = dir.List("ro");
  const std::string oldBytes = ReadFile(target);

  ::chmod(dir.Root().c_str(), 0755);
  ::chmod(dir.Path("ro").c_str(), 0555);
  const int result = RunInChild([&] { return Save(GetParam(), Filled(4, 9), target) ? 1 : 0; }, true);
  ::chmod(dir.Path("ro").c_str(), 0755);
  EXPECT_EQ(result, 0) << "the save must report failure";
  EXPECT_EQ(dir.List("ro"), before);
  EXPECT_EQ(ReadFile(target), oldBytes);
  const CVoxel back(target);
  ASSERT_TRUE(back.HasData());
  EXPECT_EQ(back.Size(), C3DPoint(3, 3, 3));
  EXPECT_EQ(back[0], 5);
}

TEST_P(WriterFailure, FullDiskKeepsTheOldFiles) {
  TempDir dir;
  const std::string target = dir.Path(Target(GetParam()));
  ASSERT_TRUE(Save(GetParam(), Filled(3, 5), target));
  const std::vector<std::string> before = dir.List();
  const std::string oldBytes = ReadFile(target);

  // 64^3 voxels cannot be written when no file may grow past 4 KiB.
  const int result =
      RunWithFileSizeLimit(4096, [&] { return Save(GetParam(), Filled(64, 9), target) ? 1 : 0; });
  EXPECT_EQ(result, 0) << "the save must report failure";
  EXPECT_EQ(dir.List(), before) << "no temporary file may be left behind";
  EXPECT_EQ(ReadFile(target), oldBytes);
  EXPECT_EQ(CVoxel(target)[0], 5);
}

INSTANTIATE_TEST_SUITE_P(AllWriters, WriterFailure,
                         ::testing::Values(Writer::MetaImageUChar, Writer::MetaImageShort, Writer::Raw16,
                                           Writer::Nifti),
                         [](const ::testing::TestParamInfo<Writer>& info) {
                           switch (info.param) {
                             case Writer::MetaImageUChar:
                               return std::string("SaveMetaImage");
                             case Writer::MetaImageShort:
                               return std::string("SaveMetaImageShort");
                             case Writer::Raw16:
                               return std::string("SaveRaw16");
                             case Writer::Nifti:
                               return std::string("SaveNifti");
                           }
                           return std::string("unknown");
                         });
