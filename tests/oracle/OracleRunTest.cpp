// Whole oracle runs with in-memory references, and reference discovery.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/oracle/Oracle.h"
#include "tests/oracle/RandomCase.h"

namespace {

const std::vector<std::string> kProgressLines = {
    "Center position is detected...", "All reference labels are registered...",
    "Distance maps are computed...", "Probability maps are computed...", "Final result is computed..."};

// Serves the case's references under the names "ref0", "ref1", ...; other
// names stand for unreadable files.
struct MemoryReferences {
  std::map<std::string, const CVoxel*> byName;
  std::vector<std::string> paths;

  explicit MemoryReferences(const std::vector<CVoxel>& references) {
    for (std::size_t r = 0; r < references.size(); ++r) {
      paths.push_back("ref" + std::to_string(r));
      byName[paths.back()] = &references[r];
    }
  }
  oracle::ReferenceLoader Loader() const {
    return [this](const std::string& path) -> std::unique_ptr<CVoxel> {
      auto it = byName.find(path);
      if (it == byName.end()) return std::make_unique<CVoxel>();  // no data
      return std::make_unique<CVoxel>(*it->second);
    };
  }
};

bool Equal(const CVoxel& a, const CVoxel& b) {
  if (!a.SameSize(b)) return false;
  for (std::size_t i = 0; i < a.VoxelCount(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

TEST(OracleRun, WritesFiveLinesAndALabelOfZerosAndOnes) {
  oracle::RandomCase c = oracle::MakeRandomCase(11);
  MemoryReferences refs(c.references);
  volume::RecordingSink sink;
  CVoxel segmentation(c.segmentation);
  ASSERT_TRUE(oracle::SemiAutomaticCorrection(segmentation, c.interactionMap, refs.paths, refs.Loader(),
                                              c.parameters, sink, sink));
  EXPECT_EQ(sink.lines, kProgressLines);
  EXPECT_TRUE(sink.messages.empty());
  for (std::size_t i = 0; i < segmentation.VoxelCount(); ++i)
    ASSERT_TRUE(segmentation[i] == 0 || segmentation[i] == 1);
  EXPECT_GT(segmentation.CountNonZero(), 0);
}

TEST(OracleRun, ReferencesThatCannotVoteAreLeftOut) {
  oracle::RandomCase c = oracle::MakeRandomCase(12);
  MemoryReferences refs(c.references);
  volume::RecordingSink plainSink, noisySink;
  CVoxel plain(c.segmentation);
  ASSERT_TRUE(oracle::SemiAutomaticCorrection(plain, c.interactionMap, refs.paths, refs.Loader(),
                                              c.parameters, plainSink, plainSink));
  // No data, no voxel > 0, and flat labels whose affine fit is degenerate.
  const std::vector<std::string> odd = {"unreadable", "empty", "negative", "flat", "line"};
  std::vector<std::string> paths = odd;
  paths.insert(paths.begin() + 2, refs.paths.begin(), refs.paths.end());
  const oracle::ReferenceLoader memory = refs.Loader();
  const oracle::ReferenceLoader loader = [&memory](const std::string& path) {
    auto volume = oracle::OddReference(path);
    return volume ? std::move(volume) : memory(path);
  };
  CVoxel result(c.segmentation);
  ASSERT_TRUE(oracle::SemiAutomaticCorrection(result, c.interactionMap, paths, loader, c.parameters,
                                              noisySink, noisySink));
  EXPECT_TRUE(Equal(result, plain));
  for (const std::string& kind : odd) {
    CVoxelList registered;
    volume::RecordingSink sink;
    oracle::RegisterReferenceLabels(c.segmentation, {kind}, loader, {0, 0, 0}, c.segmentation.Size(),
                                    registered, sink);
    EXPECT_TRUE(registered.empty()) << kind;
  }
}

TEST(OracleRun, NoReferencePathsShowsTheMessageAndStillRuns) {
  oracle::RandomCase c = oracle::MakeRandomCase(13);
  volume::RecordingSink sink;
  CVoxel segmentation(c.segmentation);
  ASSERT_TRUE(oracle::SemiAutomaticCorrection(segmentation, c.interactionMap, {},
                                              MemoryReferences({}).Loader(), c.parameters, sink, sink));
  EXPECT_EQ(sink.messages, std::vector<std::string>{"There are no reference labels !!"});
  EXPECT_EQ(sink.lines, kProgressLines);
}

TEST(OracleRun, WithoutContradictingScribblesOnlyTheCentralPieceRemains) {
  // Two separate blocks; the larger one holds the centroid.
  CVoxel segmentation(20, 10, 4);
  for (int z = 0; z < 4; ++z)
    for (int y = 2; y < 8; ++y) {
      for (int x = 2; x < 12; ++x) segmentation.At(x, y, z) = 4;
      segmentation.At(17, y, z) = 1;
    }
  CVoxel map(20, 10, 4);
  map.At(5, 5, 1) = 2;  // agrees
  std::vector<CVoxel> references{segmentation};
  MemoryReferences refs(references);
  volume::RecordingSink sink;
  CVoxel result(segmentation);
  ASSERT_TRUE(oracle::SemiAutomaticCorrection(result, map, refs.paths, refs.Loader(),
                                              fusion::CorrectionParameters{}, sink, sink));
  EXPECT_EQ(result.CountNonZero(), 4 * 6 * 10);
  EXPECT_EQ(result.At(5, 5, 1), 1);
  EXPECT_EQ(result.At(17, 5, 1), 0);
}

TEST(OracleRun, RefusesEmptySegmentationAndMismatchedMaps) {
  volume::RecordingSink sink;
  CVoxel empty(8, 8, 4);
  empty.At(1, 1, 1) = -2;  // negative values are not inside
  const CVoxel before(empty);
  EXPECT_FALSE(oracle::SemiAutomaticCorrection(empty, CVoxel(8, 8, 4), {"ref0"},
                                               MemoryReferences({}).Loader(), fusion::CorrectionParameters{},
                                               sink, sink));
  EXPECT_TRUE(Equal(empty, before));
  CVoxel label(8, 8, 4);
  label.At(3, 3, 2) = 1;
  EXPECT_FALSE(oracle::SemiAutomaticCorrection(label, CVoxel(8, 8, 5), {}, MemoryReferences({}).Loader(),
                                               fusion::CorrectionParameters{}, sink, sink));
  EXPECT_EQ(label.CountNonZero(), 1);
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_EQ(sink.messages.size(), 2u);
}

TEST(OracleDiscovery, SortedFilesBeforeFoldersAndCaseSensitiveFilters) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("oracle_discovery_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "b_sub");
  fs::create_directories(root / "a_mhd_label_dir");
  for (const fs::path& file :
       {root / "case1_label.mhd", root / "case1_label.raw", root / "case1.mhd", root / "case1_Label.mhd",
        root / "label_mhd_notes.txt", root / "B_label.mhd", root / "b_sub" / "case2_label.mhd",
        root / "a_mhd_label_dir" / "x_label.mhd"}) {
    std::ofstream(file) << "x";
  }
  std::vector<std::string> paths;
  ASSERT_TRUE(oracle::FindReferenceLabels(root.string(), paths));
  const std::vector<std::string> expected = {
      (root / "B_label.mhd").string(), (root / "case1_label.mhd").string(),
      (root / "label_mhd_notes.txt").string(), (root / "a_mhd_label_dir" / "x_label.mhd").string(),
      (root / "b_sub" / "case2_label.mhd").string()};
  EXPECT_EQ(paths, expected);
  std::vector<std::string> none;
  EXPECT_FALSE(oracle::FindReferenceLabels((root / "missing").string(), none));
  fs::remove_all(root);
}

}  // namespace
