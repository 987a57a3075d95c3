#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "TestLabels.h"
#include "correction/CorrectionDriver.h"
#include "correction/ReferenceSet.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "corvane-refs-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  void Touch(const fs::path& relative) const {
    fs::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative) << "x";
  }

 private:
  fs::path path_;
};

TEST(FindReferenceLabels, FilesBeforeSubFoldersSortedByNameDepthFirst) {
  TempDir dir;
  for (const char* name :
       {"case1_label.mhd", "case1_label.raw", "case1.mhd", "case1_Label.mhd", "label_mhd_notes.txt",
        "B_label.mhd", "sub/case2_label.mhd", "sub/deep/d_label.mhd", "a/z_label.mhd",
        "mhd_label_dir/inner_label.mhd", "Z/x_label.mhd"})
    dir.Touch(name);
  std::vector<std::string> paths{"kept"};
  ASSERT_TRUE(FindReferenceLabels(dir.path().string(), paths));
  const fs::path& d = dir.path();
  const std::vector<std::string> expected{"kept",
                                          (d / "B_label.mhd").string(),  // byte order: upper case first
                                          (d / "case1_label.mhd").string(),
                                          (d / "label_mhd_notes.txt").string(),
                                          (d / "Z/x_label.mhd").string(),
                                          (d / "a/z_label.mhd").string(),
                                          (d / "mhd_label_dir/inner_label.mhd").string(),
                                          (d / "sub/case2_label.mhd").string(),
                                          (d / "sub/deep/d_label.mhd").string()};
  EXPECT_EQ(paths, expected);
}

TEST(FindReferenceLabels, GivesFullPathsWithoutChangingTheCurrentDirectory) {
  TempDir dir;
  dir.Touch("r/one_label.mhd");
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  std::vector<std::string> relative;
  const bool found = FindReferenceLabels("r/", relative);
  std::vector<std::string> dot;
  fs::current_path(dir.path() / "r");
  FindReferenceLabels(".", dot);
  const fs::path during = fs::current_path();
  fs::current_path(before);
  ASSERT_TRUE(found);
  EXPECT_EQ(during, dir.path() / "r");
  const std::vector<std::string> expected{(dir.path() / "r" / "one_label.mhd").string()};
  EXPECT_EQ(relative, expected);
  EXPECT_EQ(dot, expected);

  std::vector<std::string> none;
  EXPECT_FALSE(FindReferenceLabels((dir.path() / "missing").string(), none));
  EXPECT_FALSE(FindReferenceLabels("", none));
  EXPECT_TRUE(none.empty());
}

TEST(FindReferenceLabels, DoesNotLoopThroughALinkToAnAncestor) {
  TempDir dir;
  dir.Touch("s/a_label.mhd");
  fs::create_directory_symlink(dir.path(), dir.path() / "s" / "loop");
  std::vector<std::string> paths;
  ASSERT_TRUE(FindReferenceLabels(dir.path().string(), paths));
  EXPECT_EQ(paths, std::vector<std::string>{(dir.path() / "s/a_label.mhd").string()});
}

TEST(FindReferenceLabels, WalksAFolderReachedTwiceOnlyOnceAndStaysOnItsFileSystem) {
  TempDir dir;
  dir.Touch("a/x_label.mhd");
  dir.Touch("b/y_label.mhd");
  // b is reached again through a link inside a: its files are listed once,
  // at the first place the walk meets it.
  fs::create_directory_symlink(dir.path() / "b", dir.path() / "a" / "again");
  // /proc is another file system (and links back to the whole tree).
  fs::create_directory_symlink("/proc", dir.path() / "b" / "proc");
  std::vector<std::string> paths;
  ASSERT_TRUE(FindReferenceLabels(dir.path().string(), paths));
  EXPECT_EQ(paths, (std::vector<std::string>{(dir.path() / "a/x_label.mhd").string(),
                                             (dir.path() / "a/again/y_label.mhd").string()}));
  std::vector<std::string> fromProc;
  ASSERT_TRUE(FindReferenceLabels(dir.path().string(), fromProc, "status", "stat"));
  EXPECT_TRUE(fromProc.empty()) << fromProc.front();
}

TEST(FindReferenceLabels, KeepsDepthFirstOrderInADeepTree) {
  TempDir dir;
  // Each level holds a file and two sub-folders; the expected order is that
  // of a recursive walk: a folder's file, then its first sub-folder's whole
  // tree, then its second.
  std::vector<std::string> expected;
  fs::path level;
  for (int depth = 0; depth < 200; ++depth) {
    dir.Touch(level / "f_label.mhd");
    expected.push_back((dir.path() / level / "f_label.mhd").string());
    dir.Touch(level / "z" / "late_label.mhd");
    level /= "d";
  }
  for (int depth = 199; depth >= 0; --depth) {
    fs::path at;
    for (int i = 0; i < depth; ++i) at /= "d";
    expected.push_back((dir.path() / at / "z" / "late_label.mhd").string());
  }
  std::vector<std::string> paths;
  ASSERT_TRUE(FindReferenceLabels(dir.path().string(), paths));
  EXPECT_EQ(paths, expected);
}

TEST(RegisterReferenceLabels, OneBoxSizedEntryPerUsableReferenceInPathOrder) {
  const C3DPoint size(20, 18, 12);
  const CVoxel segmentation = Block(size, {6, 5, 4}, {12, 11, 7});
  std::map<std::string, CVoxel> files;
  files["same"] = segmentation;
  files["shifted"] = Block(size, {8, 5, 4}, {14, 11, 7});
  files["other"] = Block({16, 16, 10}, {4, 4, 3}, {10, 10, 6});
  files["empty"] = CVoxel(size);
  files["empty"].At(3, 3, 3) = -1;  // only negative values: nothing inside
  files["nodata"] = CVoxel();
  const VolumeLoader load = [&](const std::string& path) -> std::unique_ptr<CVoxel> {
    auto it = files.find(path);
    return it == files.end() ? nullptr : std::make_unique<CVoxel>(it->second);
  };

  const C3DPoint boxMinimum(2, 1, 0), boxSize(15, 15, 12);
  CVoxelList registered;
  RecordingSink sink;
  RegisterReferenceLabels(segmentation, {"same", "missing", "shifted", "empty", "nodata", "other"},
                          boxMinimum, boxSize, load, registered, sink);
  ASSERT_EQ(registered.size(), 3u);
  for (const auto& entry : registered) {
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Size(), boxSize);
  }
  // The identical reference lands exactly on the segmentation inside the box.
  for (int z = 0; z < boxSize.z; ++z)
    for (int y = 0; y < boxSize.y; ++y)
      for (int x = 0; x < boxSize.x; ++x)
        ASSERT_EQ(registered[0]->At(x, y, z), segmentation.At(x + 2, y + 1, z));
  EXPECT_EQ(registered[1]->CountNonZero(), segmentation.CountNonZero());

  ASSERT_EQ(sink.messages.size(), 1u);
  const std::string& message = sink.messages[0];
  EXPECT_NE(message.find("[missing] cannot be read"), std::string::npos);
  EXPECT_NE(message.find("[nodata] cannot be read"), std::string::npos);
  EXPECT_NE(message.find("[empty] holds an empty label"), std::string::npos);
  EXPECT_EQ(message.find("[same]"), std::string::npos);
}

TEST(RegisterReferenceLabels, AnEmptyPathListIsReported) {
  CVoxelList registered;
  RecordingSink sink;
  RegisterReferenceLabels(
      Block({5, 5, 5}, {1, 1, 1}, {2, 2, 2}), {}, {0, 0, 0}, {5, 5, 5},
      [](const std::string&) { return nullptr; }, registered, sink);
  EXPECT_TRUE(registered.empty());
  EXPECT_EQ(sink.messages, std::vector<std::string>{"There are no reference labels !!"});
}

}  // namespace
