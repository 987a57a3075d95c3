// The corvane-phantom command end to end: files written, read back, exit codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "Phantom.h"
#include "PhantomTool.h"

using namespace phantom;
namespace fs = std::filesystem;

namespace {

class PhantomToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root =
        fs::path(::testing::TempDir()) / ("phantom_tool_" + std::to_string(::getpid()) + "_" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_root);
    fs::create_directories(m_root);
  }
  void TearDown() override { fs::remove_all(m_root); }

  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    return RunPhantomTool(args, out, err);
  }

  static std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path m_root;
  std::ostringstream out;
  std::ostringstream err;
};

bool SameVoxels(const CVoxel& a, const CVoxel& b) {
  return a.HasData() && b.HasData() && a.SameSize(b) &&
         std::equal(a.Data(), a.Data() + a.VoxelCount(), b.Data());
}

const char* const kCaseFiles[] = {"image.mhd",        "image.raw",        "truth.mhd",     "truth.raw",
                                  "segmentation.mhd", "segmentation.raw", "scribbles.mhd", "scribbles.raw"};

}  // namespace

TEST_F(PhantomToolTest, WritesTheCaseLosslesslyWithItsSpacing) {
  const fs::path dir = m_root / "case";
  ASSERT_EQ(Run({"--out", dir.string(), "--size", "64x64x16", "--references", "3", "--seed", "4"}), 0)
      << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_NE(out.str().find("Dice vs truth 0."), std::string::npos) << out.str();
  for (const char* name : kCaseFiles) EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;

  PhantomOptions o;
  o.size = {64, 64, 16};
  o.references = 3;
  o.seed = 4;
  const PhantomCase expected = GeneratePhantom(o);
  const CVoxel image((dir / "image.mhd").string());
  const CVoxel scribbles((dir / "scribbles.mhd").string());
  EXPECT_TRUE(SameVoxels(image, expected.image));
  EXPECT_TRUE(SameVoxels(CVoxel((dir / "truth.mhd").string()), expected.truth));
  EXPECT_TRUE(SameVoxels(CVoxel((dir / "segmentation.mhd").string()), expected.segmentation));
  EXPECT_TRUE(SameVoxels(scribbles, expected.scribbles));
  EXPECT_FLOAT_EQ(image.spacing[0], 2.5f);
  EXPECT_FLOAT_EQ(scribbles.spacing[2], 6.0f);
  for (int i = 0; i < 3; ++i) {
    const fs::path ref = dir / "references" / ReferenceFileName(i, 3);
    EXPECT_TRUE(SameVoxels(CVoxel(ref.string()), *expected.references[static_cast<std::size_t>(i)])) << ref;
  }
  EXPECT_FALSE(fs::exists(dir / "references" / ReferenceFileName(3, 3)));
}

TEST_F(PhantomToolTest, SameSeedSameBytes) {
  const std::vector<std::string> common = {"--size", "48x48x8", "--references", "2"};
  auto run = [&](const std::string& name, const std::string& seed) {
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--out", (m_root / name).string(), "--seed", seed});
    ASSERT_EQ(Run(args), 0) << err.str();
  };
  run("a", "9");
  run("b", "9");
  run("c", "10");
  for (const std::string name :
       {"image.raw", "truth.raw", "segmentation.raw", "scribbles.raw", "references/case_02_label.raw"}) {
    EXPECT_EQ(Bytes(m_root / "a" / name), Bytes(m_root / "b" / name)) << name;
    EXPECT_NE(Bytes(m_root / "a" / name), Bytes(m_root / "c" / name)) << name;
  }
  EXPECT_EQ(Bytes(m_root / "a" / "image.mhd"), Bytes(m_root / "b" / "image.mhd"));
}

TEST_F(PhantomToolTest, RerunWithFewerReferencesRemovesOnlyItsOwnStaleFiles) {
  const fs::path dir = m_root / "case";
  ASSERT_EQ(Run({"--out", dir.string(), "--size", "32x32x8", "--references", "4"}), 0) << err.str();
  std::ofstream(dir / "references" / "other_label.mhd") << "kept";
  std::ofstream(dir / "references" / "case_x_label.mhd") << "kept";
  ASSERT_EQ(Run({"--out", dir.string(), "--size", "32x32x8", "--references", "2"}), 0) << err.str();
  EXPECT_TRUE(fs::exists(dir / "references" / "case_02_label.mhd"));
  EXPECT_FALSE(fs::exists(dir / "references" / "case_03_label.mhd"));
  EXPECT_FALSE(fs::exists(dir / "references" / "case_04_label.raw"));
  EXPECT_TRUE(fs::exists(dir / "references" / "other_label.mhd"));
  EXPECT_TRUE(fs::exists(dir / "references" / "case_x_label.mhd"));
}

TEST_F(PhantomToolTest, BadOptionsExitOneAndUnwritableOutputThree) {
  std::ofstream(m_root / "file") << "not a folder";
  const std::vector<std::pair<std::vector<std::string>, int>> failing = {
      {{"--size", "32x32x8"}, 1},                                               // no --out
      {{"--out", (m_root / "x").string(), "--size", "32x32"}, 1},               // bad size
      {{"--out", (m_root / "x").string(), "--frobnicate"}, 1},                  // unknown option
      {{"--out", (m_root / "file").string(), "--size", "32x32x8"}, 3},          // a file, not a folder
      {{"--out", (m_root / "file" / "sub").string(), "--size", "32x32x8"}, 3},  // below a file
  };
  for (const auto& [args, status] : failing) {
    EXPECT_EQ(Run(args), status) << args.back();
    const std::string message = err.str();
    EXPECT_EQ(message.rfind("corvane-phantom: ", 0), 0u) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_FALSE(fs::exists(m_root / "x"));

  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out.str().find("--out DIR"), std::string::npos);
}
