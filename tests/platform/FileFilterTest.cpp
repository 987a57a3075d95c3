#include <gtest/gtest.h>

#include "platform/FileFilter.h"

TEST(FileFilter, SplitsPairsAndStopsAtTheClosingEmptyPair) {
  const auto filters = platform::ParseFileFilter(
      "MR Image Files (*.mhd)|*.mhd|MR Image Files (*.raw)|*.raw|Result Files(*.bin)|*.bin|"
      "MR Image Files (*.IMG)|*.IMG|MR Image Files (*.dcm)|*.dcm|All Files(*.*)|*.*||");
  ASSERT_EQ(filters.size(), 6u);
  EXPECT_EQ(filters[0].description, "MR Image Files (*.mhd)");
  EXPECT_EQ(filters[0].patterns, std::vector<std::string>{"*.mhd"});
  EXPECT_EQ(filters[2].description, "Result Files(*.bin)");
  EXPECT_EQ(filters[5].patterns, std::vector<std::string>{"*.*"});
}

TEST(FileFilter, SingleBarEndAndSeveralPatterns) {
  const auto save = platform::ParseFileFilter("Select Seed Mask Save Path(*.mhd)|*.mhd|");
  ASSERT_EQ(save.size(), 1u);
  EXPECT_EQ(save[0].patterns, std::vector<std::string>{"*.mhd"});

  const auto several = platform::ParseFileFilter("Volumes|*.mhd;*.raw|Dangling");
  ASSERT_EQ(several.size(), 1u);
  EXPECT_EQ(several[0].patterns, (std::vector<std::string>{"*.mhd", "*.raw"}));

  EXPECT_TRUE(platform::ParseFileFilter("").empty());
  EXPECT_TRUE(platform::ParseFileFilter("||").empty());
}

TEST(FileFilter, QtNameFilterAddsThePatternsOnlyWhenMissing) {
  EXPECT_EQ(platform::ToNameFilter({"Ground truth Files(*.mhd)", {"*.mhd"}}), "Ground truth Files(*.mhd)");
  EXPECT_EQ(platform::ToNameFilter({"Volumes", {"*.mhd", "*.raw"}}), "Volumes (*.mhd *.raw)");
  EXPECT_EQ(platform::ToNameFilter({"Text (*.txt)", {"*.doc"}}), "Text (*.txt) (*.doc)");
}

TEST(FileFilter, ANewNameWithoutSuffixTakesTheChosenFiltersSuffix) {
  const platform::FileFilter nifti{"NIfTI (*.nii.gz *.nii)", {"*.nii.gz", "*.nii"}};
  const platform::FileFilter meta{"MetaImage (*.mhd)", {"*.mhd"}};
  const platform::FileFilter all{"All Files(*.*)", {"*.*"}};
  EXPECT_EQ(platform::WithFilterSuffix("/data/seg", nifti, false), "/data/seg.nii.gz");
  EXPECT_EQ(platform::WithFilterSuffix("/data/seg", meta, false), "/data/seg.mhd");
  // A name the user gave a suffix, an existing file or a filter without a
  // plain suffix keep the name as typed.
  EXPECT_EQ(platform::WithFilterSuffix("/data/seg.nii", meta, false), "/data/seg.nii");
  EXPECT_EQ(platform::WithFilterSuffix("/data/seg", nifti, true), "/data/seg");
  EXPECT_EQ(platform::WithFilterSuffix("/data/seg", all, false), "/data/seg");
  // Only the file's own name counts: a dot in a folder name is no suffix.
  EXPECT_EQ(platform::WithFilterSuffix("/data/v1.2/seg", nifti, false), "/data/v1.2/seg.nii.gz");
  EXPECT_EQ(platform::WithFilterSuffix("C:\\v1.2\\seg", meta, false), "C:\\v1.2\\seg.mhd");
}
