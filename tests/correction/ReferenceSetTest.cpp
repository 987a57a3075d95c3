#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

#include "TestLabels.h"
#include "correction/CorrectionDriver.h"
#include "correction/ReferenceSet.h"
#include "volume/Writers.h"

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
  const correction::VolumeLoader load = [&](const std::string& path) -> std::unique_ptr<CVoxel> {
    auto it = files.find(path);
    return it == files.end() ? nullptr : std::make_unique<CVoxel>(it->second);
  };

  const C3DPoint boxMinimum(2, 1, 0), boxSize(15, 15, 12);
  CVoxelList registered;
  volume::RecordingSink sink;
  RegisterReferenceLabels(segmentation, {"same", "missing", "shifted", "empty", "nodata", "other"}, load,
                          {boxMinimum, boxSize}, registered, sink);
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
  volume::RecordingSink sink;
  RegisterReferenceLabels(
      Block({5, 5, 5}, {1, 1, 1}, {2, 2, 2}), {}, [](const std::string&) { return nullptr; },
      {{0, 0, 0}, {5, 5, 5}}, registered, sink);
  EXPECT_TRUE(registered.empty());
  EXPECT_EQ(sink.messages, std::vector<std::string>{"There are no reference labels !!"});
}

bool SameLists(const CVoxelList& a, const CVoxelList& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!a[i] || !b[i] || !a[i]->SameSize(*b[i])) return false;
    if (!std::equal(a[i]->Data(), a[i]->Data() + a[i]->VoxelCount(), b[i]->Data())) return false;
  }
  return true;
}

// Reference files on disk and the runs over them, with and without a cache.
class KeptReferences : public ::testing::Test {
 protected:
  void SetUp() override {
    const C3DPoint size(40, 36, 14);
    segmentation = Ellipsoid(size, 20.0, 17.0, 7.0, 9.0, 8.0, 4.0);
    moved = Ellipsoid(size, 21.5, 16.0, 7.2, 8.0, 9.0, 4.5);
    // One label touches the volume's border, where the window around its
    // voxels ends at the volume too.
    Write("a_label.mhd", Ellipsoid(size, 18.3, 19.0, 6.5, 10.0, 7.0, 4.0));
    Write("b_label.mhd", Ellipsoid(size, 4.0, 17.0, 7.0, 8.0, 9.0, 5.0, 2));
    Write("c_label.mhd", CVoxel(size));  // empty
    Write("d_label.mhd", Ellipsoid(size, 22.0, 15.5, 8.0, 7.0, 10.0, 3.0));
    paths = {Path("a_label.mhd"), Path("missing_label.mhd"), Path("b_label.mhd"), Path("c_label.mhd"),
             Path("d_label.mhd")};
  }
  std::string Path(const std::string& name) const { return (dir.path() / name).string(); }
  void Write(const std::string& name, const CVoxel& label) const {
    ASSERT_TRUE(volume::SaveMetaImageShort(label, Path(name)));
  }
  // Moves a file's modification time forward, as saving it again would.
  void Age(const std::string& name) const {
    fs::last_write_time(Path(name), fs::last_write_time(Path(name)) + std::chrono::seconds(5));
  }
  struct Run {
    CVoxelList registered;
    volume::RecordingSink sink;
  };
  void Register(const CVoxel& target, const std::vector<std::string>& list, Run& run,
                correction::ReferenceCache* cache, int threads = 2) {
    const C3DPoint boxMinimum(3, 3, 1), boxSize(34, 30, 12);
    const correction::VolumeLoader load = [this](const std::string& path) {
      ++loads;
      return std::make_unique<CVoxel>(path, nullptr);
    };
    RegisterReferenceLabels(target, list, load, {boxMinimum, boxSize, threads, nullptr, cache},
                            run.registered, run.sink);
  }
  // A run with `cache` gives what a run without one gives.
  void ExpectSameAsUncached(const CVoxel& target, const std::vector<std::string>& list,
                            correction::ReferenceCache& cache, int expectedLoads) {
    Run fresh, kept;
    Register(target, list, fresh, nullptr);
    loads = 0;
    Register(target, list, kept, &cache, 1);
    EXPECT_EQ(loads, expectedLoads);
    EXPECT_TRUE(SameLists(kept.registered, fresh.registered));
    EXPECT_EQ(kept.sink.messages, fresh.sink.messages);
  }

  TempDir dir;
  CVoxel segmentation, moved;
  std::vector<std::string> paths;
  std::atomic<int> loads{0};
};

TEST_F(KeptReferences, ALaterRunReadsNothingAndGivesTheSameListAndMessage) {
  correction::ReferenceCache cache;
  ExpectSameAsUncached(segmentation, paths, cache, 5);
  EXPECT_EQ(cache.Count(), 5u);
  {
    SCOPED_TRACE("the same segmentation again");
    ExpectSameAsUncached(segmentation, paths, cache, 0);
  }
  {
    SCOPED_TRACE("another segmentation: only the registration repeats");
    ExpectSameAsUncached(moved, paths, cache, 0);
  }
  Run run;
  Register(moved, paths, run, &cache);
  ASSERT_EQ(run.registered.size(), 3u);
  ASSERT_EQ(run.sink.messages.size(), 1u);
  EXPECT_NE(run.sink.messages[0].find("[" + Path("c_label.mhd") + "] holds an empty label"),
            std::string::npos);
  EXPECT_NE(run.sink.messages[0].find("[" + Path("missing_label.mhd") + "] cannot be read"),
            std::string::npos);
  cache.Clear();
  EXPECT_EQ(cache.Count(), 0u);
  ExpectSameAsUncached(segmentation, paths, cache, 5);
}

TEST_F(KeptReferences, AChangedFileOrListIsReadAgain) {
  correction::ReferenceCache cache;
  ExpectSameAsUncached(segmentation, paths, cache, 5);
  {
    SCOPED_TRACE("a label saved again with other voxels");
    Write("d_label.mhd", Ellipsoid(segmentation.Size(), 19.0, 18.0, 7.0, 9.5, 7.5, 4.0));
    Age("d_label.mhd");
    Age("d_label.raw");
    ExpectSameAsUncached(segmentation, paths, cache, 5);
  }
  {
    SCOPED_TRACE("only the data file of a header changed");
    Write("tmp_label.mhd", Ellipsoid(segmentation.Size(), 20.0, 17.0, 7.0, 6.0, 6.0, 3.0));
    fs::copy_file(Path("tmp_label.raw"), Path("a_label.raw"), fs::copy_options::overwrite_existing);
    Age("a_label.raw");
    ExpectSameAsUncached(segmentation, paths, cache, 5);
  }
  {
    SCOPED_TRACE("a file that was missing appears");
    Write("missing_label.mhd", Ellipsoid(segmentation.Size(), 20.0, 17.0, 7.0, 8.0, 8.0, 4.0));
    ExpectSameAsUncached(segmentation, paths, cache, 5);
    ExpectSameAsUncached(segmentation, paths, cache, 0);
  }
  {
    SCOPED_TRACE("another list");
    const std::vector<std::string> shorter(paths.begin(), paths.begin() + 3);
    ExpectSameAsUncached(segmentation, shorter, cache, 3);
    ExpectSameAsUncached(segmentation, paths, cache, 5);
  }
}

TEST_F(KeptReferences, ARunThatFailsHalfwayKeepsNothing) {
  correction::ReferenceCache cache;
  const correction::VolumeLoader failing = [](const std::string& path) -> std::unique_ptr<CVoxel> {
    if (path.find("d_label") != std::string::npos) throw std::bad_alloc();
    return std::make_unique<CVoxel>(path, nullptr);
  };
  CVoxelList registered;
  volume::RecordingSink sink;
  EXPECT_THROW(RegisterReferenceLabels(segmentation, paths, failing,
                                       {{3, 3, 1}, {34, 30, 12}, 1, nullptr, &cache}, registered, sink),
               std::bad_alloc);
  EXPECT_EQ(cache.Count(), 0u);
  ExpectSameAsUncached(segmentation, paths, cache, 5);
}

}  // namespace

// A run resamples each label from the window around its voxels other than 0,
// found from the boundary list unless the label reaches a face of its volume.
// Labels on every face, slabs through whole cross-sections of the volume (whose
// voxels on the faces are no boundary voxels), one filling its whole volume and
// one with two touching values must give, with and without a cache, the very
// volumes that resampling the whole label gives.
TEST(RegisterReferenceLabels, WindowedLabelsResampleAsTheWholeLabel) {
  const C3DPoint size(22, 19, 13);
  const CVoxel segmentation = Block(size, {6, 5, 3}, {13, 12, 8});
  std::map<std::string, CVoxel> files;
  files["inside"] = Block(size, {7, 4, 3}, {15, 12, 9});
  files["low x"] = Block(size, {0, 5, 3}, {9, 12, 8});
  files["low y"] = Block(size, {6, 0, 3}, {13, 9, 8});
  files["low z"] = Block(size, {6, 5, 0}, {13, 12, 6});
  files["high x"] = Block(size, {10, 5, 3}, {21, 12, 8});
  files["high y"] = Block(size, {6, 9, 3}, {13, 18, 8});
  files["high z"] = Block(size, {6, 5, 6}, {13, 12, 12});
  files["everywhere"] = Block(size, {0, 0, 0}, {21, 18, 12});
  // Filling whole cross-sections: the voxels on those faces are no boundary
  // voxels. A step in the far side keeps the boundary from being one plane.
  files["slab x"] = Block(size, {0, 0, 0}, {9, 18, 12});
  files["slab z"] = Block(size, {0, 0, 5}, {21, 18, 12});
  for (int z = 0; z < size.z; ++z)
    for (int y = 10; y < size.y; ++y)
      for (int x = 10; x <= 13; ++x) files["slab x"].At(x, y, z) = 1;
  for (int z = 2; z < 5; ++z)
    for (int y = 0; y < size.y; ++y)
      for (int x = 0; x < 8; ++x) files["slab z"].At(x, y, z) = 1;
  files["two values"] = Block(size, {5, 5, 3}, {12, 12, 8});
  for (int z = 3; z <= 8; ++z)
    for (int y = 5; y <= 12; ++y)
      for (int x = 9; x <= 14; ++x) files["two values"].At(x, y, z) = 2;
  std::vector<std::string> paths;
  for (const auto& [name, label] : files) paths.push_back(name);
  const correction::VolumeLoader load = [&](const std::string& path) {
    return std::make_unique<CVoxel>(files.at(path));
  };

  const C3DPoint boxMinimum(2, 1, 0), boxSize(18, 17, 13);
  const CBoundaryPoints boundary(segmentation);
  CVoxelList whole;
  for (const std::string& path : paths) {
    correction::ReferenceProblem problem = correction::ReferenceProblem::None;
    whole.push_back(
        correction::RegisterReferenceLabel(files.at(path), boundary, {size, boxMinimum, boxSize}, problem));
    ASSERT_TRUE(whole.back()) << path;
  }
  for (const int threads : {1, 2}) {
    CVoxelList fresh, first, second;
    volume::RecordingSink sink;
    correction::ReferenceCache cache;
    RegisterReferenceLabels(segmentation, paths, load, {boxMinimum, boxSize, threads}, fresh, sink);
    RegisterReferenceLabels(segmentation, paths, load, {boxMinimum, boxSize, threads, nullptr, &cache}, first,
                            sink);
    RegisterReferenceLabels(segmentation, paths, load, {boxMinimum, boxSize, threads, nullptr, &cache},
                            second, sink);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(SameLists(fresh, whole)) << threads;
    EXPECT_TRUE(SameLists(first, whole)) << threads;
    EXPECT_TRUE(SameLists(second, whole)) << threads;
  }
}
