// Whole semi-automatic runs: the production driver against the oracle driver,
// with references served from memory and read from MetaImage files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "correction/CorrectionDriver.h"
#include "correction/ReferenceSet.h"
#include "tests/oracle/EqualityHelpers.h"
#include "tests/oracle/Oracle.h"
#include "tests/oracle/RandomCase.h"
#include "volume/Writers.h"

namespace {

using oracle::SameVoxels;

struct Outcome {
  bool accepted = false;
  CVoxel segmentation;
  std::vector<std::string> lines;
};

// Paths "r<i>" name the case's references; the other names are those of
// oracle::OddReference.
std::unique_ptr<CVoxel> LoadFromCase(const oracle::RandomCase& c, const std::string& path) {
  if (auto odd = oracle::OddReference(path)) return odd;
  return std::make_unique<CVoxel>(c.references[std::stoul(path.substr(1))]);
}

void ExpectSameRuns(const oracle::RandomCase& c, const std::vector<std::string>& paths) {
  SCOPED_TRACE(c.description);
  const auto load = [&c](const std::string& path) { return LoadFromCase(c, path); };
  Outcome p{false, c.segmentation, {}}, o{false, c.segmentation, {}};
  volume::RecordingSink pLog, pMessages, oLog, oMessages;
  p.accepted = RunSemiAutomaticCorrection(p.segmentation, c.interactionMap, paths, c.parameters,
                                          {pLog, pMessages}, {load});
  o.accepted = oracle::SemiAutomaticCorrection(o.segmentation, c.interactionMap, paths, load, c.parameters,
                                               oLog, oMessages);
  EXPECT_EQ(p.accepted, o.accepted);
  EXPECT_EQ(pLog.lines, oLog.lines);
  EXPECT_TRUE(SameVoxels(p.segmentation, o.segmentation));
}

std::vector<std::string> ReferenceNames(const oracle::RandomCase& c) {
  std::vector<std::string> names;
  for (std::size_t r = 0; r < c.references.size(); ++r) names.push_back("r" + std::to_string(r));
  return names;
}

TEST(OracleEqualityRun, SmallParameters) {
  for (std::uint32_t seed = 100; seed < 116; ++seed) {
    oracle::RandomCaseOptions options;
    options.references = 1 + static_cast<int>(seed % 6);
    options.strokes = 2 + static_cast<int>(seed % 7);
    const oracle::RandomCase c = oracle::MakeRandomCase(seed, options);
    std::vector<std::string> paths = ReferenceNames(c);
    if (seed % 3 == 0) paths.insert(paths.begin() + 1, oracle::kOddReferences[seed % 7]);
    if (seed % 4 == 0) paths.push_back(oracle::kOddReferences[(seed / 4) % 7]);
    ExpectSameRuns(c, paths);
  }
}

TEST(OracleEqualityRun, WorkerParametersOnTinyVolumes) {
  for (std::uint32_t seed = 200; seed < 204; ++seed) {
    oracle::RandomCaseOptions options;
    options.smallParameters = false;
    options.minSize[0] = options.minSize[1] = 14;
    options.maxSize[0] = options.maxSize[1] = 22;
    options.minSize[2] = 5;
    options.maxSize[2] = 8;
    options.references = 3 + static_cast<int>(seed % 6);  // up to 8: more than 7 voters
    options.strokes = 3 + static_cast<int>(seed % 4);
    const oracle::RandomCase c = oracle::MakeRandomCase(seed, options);
    ExpectSameRuns(c, ReferenceNames(c));
  }
}

TEST(OracleEqualityRun, NoReferencesAndNoScribbles) {
  oracle::RandomCase c = oracle::MakeRandomCase(300);
  ExpectSameRuns(c, {});
  ExpectSameRuns(c, oracle::kOddReferences);
  c.interactionMap = CVoxel(c.segmentation.X, c.segmentation.Y, c.segmentation.Z);
  ExpectSameRuns(c, ReferenceNames(c));
}

TEST(OracleEqualityRun, RefusalsAgree) {
  oracle::RandomCase c = oracle::MakeRandomCase(301);
  oracle::RandomCase empty = c;
  for (std::size_t i = 0; i < empty.segmentation.VoxelCount(); ++i) empty.segmentation[i] = 0;
  ExpectSameRuns(empty, ReferenceNames(c));
  oracle::RandomCase mismatched = c;
  mismatched.interactionMap = CVoxel(c.segmentation.X + 1, c.segmentation.Y, c.segmentation.Z);
  ExpectSameRuns(mismatched, ReferenceNames(c));
}

// References written as MetaImage into a folder tree, discovered by both
// walks and read back by both drivers through the shared loader.
TEST(OracleEqualityRun, ReferencesFromFiles) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("oracle_equality_" + std::to_string(::getpid()));
  fs::remove_all(root);
  oracle::RandomCaseOptions options;
  options.references = 6;
  const oracle::RandomCase c = oracle::MakeRandomCase(400, options);
  const char* places[] = {"b/case_label.mhd", "a_label.mhd", "b/a/deep_label.mhd",
                          "B_label.mhd",      "c_label.mhd", "b/z_label.mhd"};
  for (std::size_t r = 0; r < c.references.size(); ++r) {
    const fs::path file = root / places[r];
    fs::create_directories(file.parent_path());
    std::string error;
    ASSERT_TRUE(volume::SaveMetaImageShort(c.references[r], file.string(), &error)) << error;
  }
  std::ofstream(root / "notes_label.txt") << "no mhd in the name";
  std::ofstream(root / "broken_label.mhd") << "NDims = 3\nDimSize = 4 4\n";

  std::vector<std::string> pPaths, oPaths;
  ASSERT_TRUE(FindReferenceLabels(root.string(), pPaths));
  ASSERT_TRUE(oracle::FindReferenceLabels(root.string(), oPaths));
  EXPECT_EQ(pPaths, oPaths);
  ASSERT_EQ(oPaths.size(), 7u);

  CVoxel pSegmentation(c.segmentation), oSegmentation(c.segmentation);
  volume::RecordingSink pLog, pMessages, oLog, oMessages;
  ASSERT_TRUE(
      RunSemiAutomaticCorrection(pSegmentation, c.interactionMap, oPaths, c.parameters, {pLog, pMessages}));
  ASSERT_TRUE(
      OracleSemiAutomaticCorrection(oSegmentation, c.interactionMap, oPaths, c.parameters, oLog, oMessages));
  EXPECT_EQ(pLog.lines, oLog.lines);
  EXPECT_TRUE(SameVoxels(pSegmentation, oSegmentation));
  fs::remove_all(root);
}

}  // namespace
