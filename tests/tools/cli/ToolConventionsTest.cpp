// What every command-line program does alike: --version, --opt=value, the
// exit statuses, "-" for standard output, names that are links, devices,
// FIFOs or folders, suffixes, and checks of the output before any work.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "CommandLine.h"
#include "corvane/Version.h"
#include "tests/tools/ToolRun.h"
#include "volume/Voxel.h"

namespace fs = std::filesystem;

namespace {

using testfiles::ReadFile;
using toolrun::Result;

const std::vector<std::pair<std::string, std::string>> kTools{{"corvane-volume", CORVANE_VOLUME_EXE},
                                                              {"corvane-correct", CORVANE_CORRECT_EXE},
                                                              {"corvane-evaluate", CORVANE_EVALUATE_EXE},
                                                              {"corvane-phantom", CORVANE_PHANTOM_EXE}};

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

class ToolConventions : public ::testing::Test {
 protected:
  void SetUp() override {
    CVoxel segmentation(12, 10, 4), map(12, 10, 4);
    for (int z = 0; z < 4; ++z)
      for (int y = 2; y < 8; ++y)
        for (int x = 3; x < 9; ++x) segmentation.At(x, y, z) = 1;
    map.At(1, 1, 1) = 2;  // a foreground scribble outside the segmentation
    toolrun::WriteMetaImage(P("seg.mhd"), segmentation);
    toolrun::WriteMetaImage(P("map.mhd"), map);
  }
  std::string P(const std::string& name) const { return dir_.Path(name); }
  Result Run(const std::string& exe, const std::vector<std::string>& args, const std::string& shell = "") {
    return toolrun::Run(exe, args, scratch_.Root(), shell);
  }
  Result Evaluate(const std::vector<std::string>& more) {
    std::vector<std::string> args{"--truth", P("seg.mhd"), "--segmentation", P("seg.mhd")};
    args.insert(args.end(), more.begin(), more.end());
    return Run(CORVANE_EVALUATE_EXE, args);
  }
  Result Manual(const std::string& output, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"),
                                  "--mode",         "manual",     "--output",    output};
    args.insert(args.end(), more.begin(), more.end());
    return Run(CORVANE_CORRECT_EXE, args);
  }
  // Every output option of every tool: a name for messages, the suffix its
  // file takes, and the run that writes `output`.
  struct Writer {
    std::string what, suffix;
    std::function<Result(const std::string&)> run;
  };
  std::vector<Writer> Writers() {
    return {
        {"convert", ".nii",
         [this](const std::string& o) {
           return Run(CORVANE_VOLUME_EXE, {"convert", P("seg.mhd"), o});
         }},
        {"correct --output", ".nii", [this](const std::string& o) { return Manual(o); }},
        {"correct --metrics", ".csv",
         [this](const std::string& o) {
           return Manual(P("m-out.nii"), {"--truth", P("seg.mhd"), "--metrics", o});
         }},
        {"evaluate --csv", ".csv",
         [this](const std::string& o) {
           return Evaluate({"--csv", o});
         }},
        {"evaluate --json", ".json",
         [this](const std::string& o) {
           return Evaluate({"--json", o});
         }},
    };
  }
  // Names in a folder that look like a writer's temporary files.
  static std::vector<std::string> Temporaries(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
      if (e.path().filename().string().find(".tmp") != std::string::npos) found.push_back(e.path().string());
    return found;
  }
  testfiles::TempDir dir_, scratch_;
};

TEST_F(ToolConventions, EveryProgramPrintsItsVersionAndTheExitStatusTable) {
  for (const auto& [name, exe] : kTools) {
    const Result version = Run(exe, {"--version"});
    EXPECT_EQ(version.status, 0) << name;
    EXPECT_EQ(version.out, name + " " + CORVANE_VERSION + "\n");
    const Result help = Run(exe, {"--help"});
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_NE(help.out.find("Exit status: 0 done; 1 bad arguments; 2 an input cannot be read"),
              std::string::npos)
        << name << help.out;
    EXPECT_NE(help.out.find("130 interrupted (SIGINT), 143 terminated (SIGTERM)"), std::string::npos) << name;
    // An unknown option is a usage error everywhere: status 1 and one line.
    const Result bad = Run(exe, {"--frobnicate"});
    EXPECT_EQ(bad.status, 1) << name;
    EXPECT_EQ(bad.err, name + ": unknown argument '--frobnicate' (see --help)\n") << name;
  }
}

TEST_F(ToolConventions, OptionsTakeTheirValueAfterAnEqualsSign) {
  const Result joined = Evaluate({"--csv=" + P("a.csv"), "--label=1"});
  ASSERT_EQ(joined.status, 0) << joined.err;
  const Result apart = Evaluate({"--csv", P("b.csv"), "--label", "1"});
  ASSERT_EQ(apart.status, 0) << apart.err;
  EXPECT_EQ(ReadFile(P("a.csv")), ReadFile(P("b.csv")));
  EXPECT_FALSE(ReadFile(P("a.csv")).empty());

  EXPECT_EQ(Manual(P("a"), {"--output=" + P("x")}).status, 1);  // "--output" given twice
  const Result manual =
      Run(CORVANE_CORRECT_EXE, {"--segmentation=" + P("seg.mhd"), "--scribbles=" + P("map.mhd"),
                                "--mode=manual", "--output=" + P("fixed.nii")});
  EXPECT_EQ(manual.status, 0) << manual.err;
  EXPECT_TRUE(CVoxel(P("fixed.nii")).HasData());

  EXPECT_EQ(Run(CORVANE_PHANTOM_EXE, {"--out=" + P("case"), "--size=24x24x4", "--references=1"}).status, 0);
  EXPECT_TRUE(fs::exists(P("case/references/case_01_label.mhd")));
  // A value may itself hold "=" and begin with "-".
  const Result label = Evaluate({"--label=-3"});
  EXPECT_EQ(label.status, 0) << label.err;
}

TEST_F(ToolConventions, QuietDropsNoticesButNotErrors) {
  CVoxel oblique(2, 2, 2);
  toolrun::WriteMetaImage(P("oblique.mhd"), oblique,
                          "ElementSpacing = 1 1 1\nOffset = 0 0 0\nTransformMatrix = 0 1 0 -1 0 0 0 0 1\n");
  const Result loud = Run(CORVANE_VOLUME_EXE, {"convert", P("oblique.mhd"), P("o.raw")});
  EXPECT_EQ(loud.status, 0);
  EXPECT_EQ(Lines(loud.err), 1) << loud.err;
  const Result quiet = Run(CORVANE_VOLUME_EXE, {"-q", "convert", P("oblique.mhd"), P("q.raw")});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  const Result failing = Run(CORVANE_VOLUME_EXE, {"-q", "info", P("missing.mhd")});
  EXPECT_EQ(failing.status, 2);
  EXPECT_EQ(Lines(failing.err), 1);
}

TEST_F(ToolConventions, DashMeansStandardOutput) {
  const Result csv = Evaluate({"--csv", "-"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out.rfind("segmentation,region,dice,", 0), 0u) << csv.out;
  EXPECT_FALSE(fs::exists(fs::current_path() / "-"));
  const Result json = Evaluate({"--json=-", "--csv", P("c.csv")});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.rfind("[", 0), 0u) << json.out;
  EXPECT_TRUE(fs::exists(P("c.csv")));

  const Result metrics = Manual(P("fixed"), {"--truth", P("seg.mhd"), "--metrics", "-"});
  ASSERT_EQ(metrics.status, 0) << metrics.err;
  EXPECT_NE(metrics.out.find("segmentation,region,dice,"), std::string::npos) << metrics.out;
  EXPECT_FALSE(fs::exists(P("-")));
}

TEST_F(ToolConventions, AnOutputThatIsALinkIsWrittenThroughToItsTarget) {
  fs::create_directory(P("real"));
  for (const Writer& w : Writers()) {
    const std::string target = P("real/out" + w.suffix), link = P("link" + w.suffix);
    std::ofstream(target) << "old";
    fs::create_symlink("real/out" + w.suffix, link);  // relative, as ln -s makes them
    const Result r = w.run(link);
    EXPECT_EQ(r.status, 0) << w.what << r.err;
    EXPECT_TRUE(fs::is_symlink(link)) << w.what << ": the link was replaced";
    EXPECT_NE(ReadFile(target), "old") << w.what << ": the target was not written";
    EXPECT_EQ(Temporaries(dir_.Root()), std::vector<std::string>{}) << w.what;
    // A dangling link: the file it names is created.
    const std::string dangling = P("dangling" + w.suffix);
    fs::create_symlink("real/new" + w.suffix, dangling);
    EXPECT_EQ(w.run(dangling).status, 0) << w.what;
    EXPECT_TRUE(fs::is_symlink(dangling)) << w.what;
    EXPECT_TRUE(fs::is_regular_file(P("real/new" + w.suffix))) << w.what;
    fs::remove(link), fs::remove(dangling), fs::remove(target), fs::remove(P("real/new" + w.suffix));
  }
  // A MetaImage header through a link: the data file lies beside the header
  // the link leads to, where that header's ElementDataFile is looked up.
  fs::create_symlink("real/x.mhd", P("l.mhd"));
  ASSERT_EQ(Run(CORVANE_VOLUME_EXE, {"convert", P("seg.mhd"), P("l.mhd")}).status, 0);
  EXPECT_TRUE(fs::exists(P("real/x.raw")));
  EXPECT_FALSE(fs::exists(P("l.raw")));
  EXPECT_EQ(CVoxel(P("real/x.mhd")).CountNonZero(), 6 * 6 * 4);
}

TEST_F(ToolConventions, FoldersFifosAndDevicesAreRefusedBeforeAnyWork) {
  int n = 0;
  for (const Writer& w : Writers()) {
    const std::string tail = std::to_string(++n) + w.suffix;  // two writers may share a suffix
    const std::string folder = "folder" + tail, fifo = "fifo" + tail, link = "link" + tail,
                      device = "device" + tail;
    fs::create_directory(P(folder));
    ASSERT_EQ(::mkfifo(P(fifo).c_str(), 0644), 0);
    fs::create_symlink(fifo, P(link));
    std::vector<std::string> names{folder, fifo, link};
    // A character device like /dev/null; making one needs root (or CAP_MKNOD).
    const bool haveDevice = ::mknod(P(device).c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    if (haveDevice) names.push_back(device);
    for (const std::string& name : names) {
      const Result r = w.run(P(name));
      EXPECT_EQ(r.status, 3) << w.what << " " << name;
      EXPECT_EQ(r.err.rfind("corvane-", 0), 0u) << r.err;
      EXPECT_EQ(Lines(r.err), 1) << w.what << " " << name << r.err;
      EXPECT_NE(r.err.find("it is a"), std::string::npos) << r.err;
      // Nothing ran: no log lines, no table.
      EXPECT_EQ(r.out, "") << w.what << " " << name;
    }
    EXPECT_TRUE(fs::is_fifo(P(fifo)));
    EXPECT_TRUE(fs::is_symlink(P(link)));
    EXPECT_TRUE(fs::is_directory(P(folder)) && fs::is_empty(P(folder)));
    if (haveDevice) {
      EXPECT_TRUE(fs::is_character_file(P(device)));
    }
  }
  EXPECT_FALSE(fs::exists(P("m-out.nii")));
}

TEST_F(ToolConventions, MissingFoldersAreFoundBeforeAnyWorkInPlainWords) {
  std::ofstream(P("file")) << "x";
  for (const Writer& w : Writers()) {
    for (const auto& [name, reason] : std::vector<std::pair<std::string, std::string>>{
             {"nodir/out" + w.suffix, "No such file or directory"},
             {"file/out" + w.suffix, "Not a directory"}}) {
      const Result r = w.run(P(name));
      EXPECT_EQ(r.status, 3) << w.what << " " << name;
      EXPECT_EQ(r.err.substr(r.err.find(": ") + 2), "cannot write '" + P(name) + "': " + reason + "\n")
          << w.what;
      EXPECT_EQ(r.out, "") << w.what;
    }
  }
  const Result phantom = Run(CORVANE_PHANTOM_EXE, {"--out", P("file/case"), "--size", "24x24x4"});
  EXPECT_EQ(phantom.status, 3);
  EXPECT_EQ(Lines(phantom.err), 1) << phantom.err;
  EXPECT_EQ(phantom.out, "");
}

TEST_F(ToolConventions, AReadOnlyFolderIsFoundBeforeAnyWork) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder, so nothing fails to test";
  fs::create_directory(P("ro"));
  fs::permissions(P("ro"), fs::perms::owner_read | fs::perms::owner_exec);
  for (const Writer& w : Writers()) {
    const Result r = w.run(P("ro/out" + w.suffix));
    EXPECT_EQ(r.status, 3) << w.what;
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << w.what;
  }
  fs::permissions(P("ro"), fs::perms::owner_all);
}

TEST_F(ToolConventions, EverySuffixMeansItsFormat) {
  const CVoxel source(P("seg.mhd"));
  for (const std::string name : {"a.raw", "a.mhd", "b.mha", "c.nii", "d.nii.gz", "E.MHA", "F.NII.GZ"}) {
    const Result r = Run(CORVANE_VOLUME_EXE, {"convert", P("seg.mhd"), P(name)});
    ASSERT_EQ(r.status, 0) << name << r.err;
    const CVoxel back(P(name));
    ASSERT_TRUE(back.HasData()) << name;
    EXPECT_TRUE(std::equal(back.Data(), back.Data() + back.VoxelCount(), source.Data())) << name;
  }
  // .mha: one file, the voxels after the header.
  EXPECT_NE(ReadFile(P("b.mha")).find("ElementDataFile = LOCAL\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(P("b.raw")));
  EXPECT_EQ(ReadFile(P("b.mha")).substr(0, 5), "Objec");
  for (const std::string name : {"x.nrrd", "x", "x.vtk", "x.mhd.bak"}) {
    const Result r = Run(CORVANE_VOLUME_EXE, {"convert", P("seg.mhd"), P(name)});
    EXPECT_EQ(r.status, 3) << name;
    EXPECT_EQ(r.err, "corvane-volume: cannot write '" + P(name) +
                         "': corvane-volume writes .raw, .mhd, .mha, .nii and .nii.gz files\n");
    EXPECT_FALSE(fs::exists(P(name)));
  }
  // corvane-correct: .mha is one file too; other names get ".mhd", but not a folder's name.
  ASSERT_EQ(Manual(P("fixed.mha")).status, 0);
  EXPECT_TRUE(CVoxel(P("fixed.mha")).HasData());
  EXPECT_FALSE(fs::exists(P("fixed.raw")) || fs::exists(P("fixed.mha.mhd")));
  ASSERT_EQ(Manual(P("plain")).status, 0);
  EXPECT_TRUE(fs::exists(P("plain.mhd")) && fs::exists(P("plain.raw")));
  fs::create_directory(P("out"));
  for (const std::string& name : {P("out"), P("out") + "/", P("new") + "/"}) {
    const Result r = Manual(name);
    EXPECT_EQ(r.status, 3) << name;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Lines(r.err), 1) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(P("out")));
  EXPECT_FALSE(fs::exists(P("new")));
}

TEST_F(ToolConventions, ASaveKeepsValuesThatDoNotFitABytes) {
  // An MR image given as the segmentation: values up to 1865 are kept with
  // 16-bit voxels, and a notice says so.
  CVoxel image(12, 10, 4);
  for (std::size_t i = 0; i < image.VoxelCount(); ++i) image[i] = static_cast<CVoxel::value_type>(61 + i * 3);
  toolrun::WriteMetaImage(P("image.mhd"), image);
  const Result r = Run(CORVANE_CORRECT_EXE, {"--segmentation", P("image.mhd"), "--scribbles", P("map.mhd"),
                                             "--mode", "manual", "--output", P("saved.mhd")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Saved [" + P("saved.mhd") + "] with 16-bit voxels: its values do not fit in 0..255"),
            std::string::npos)
      << r.err;
  EXPECT_NE(ReadFile(P("saved.mhd")).find("ElementType = MET_SHORT"), std::string::npos);
  const CVoxel saved(P("saved.mhd"));
  ASSERT_TRUE(saved.HasData());
  EXPECT_EQ(saved[image.VoxelCount() - 1], image[image.VoxelCount() - 1]);
  EXPECT_EQ(saved.At(1, 1, 1), 1);  // the foreground scribble, applied
  // A label that fits stays MET_UCHAR, without a notice about it.
  const Result label = Manual(P("label.mhd"));
  EXPECT_NE(ReadFile(P("label.mhd")).find("ElementType = MET_UCHAR"), std::string::npos);
  EXPECT_EQ(label.err.find("16-bit"), std::string::npos);
}

TEST_F(ToolConventions, InputsInTheWrongRoleAreToldAndTheRunGoesOn) {
  // Segmentation and scribble map swapped: a line for each, the run as asked.
  const Result swapped =
      Run(CORVANE_CORRECT_EXE, {"--segmentation", P("map.mhd"), "--scribbles", P("seg.mhd"), "--mode",
                                "manual", "--output", P("swapped.mhd")});
  EXPECT_EQ(swapped.status, 0) << swapped.err;
  EXPECT_EQ(swapped.err, "corvane-correct: the scribble map '" + P("seg.mhd") +
                             "' holds no scribble: no value 2 (foreground) or 3 (background): is it a "
                             "segmentation?\n");
  EXPECT_TRUE(fs::exists(P("swapped.mhd")));
  // A map with scribbles 2 and 3 given as the segmentation.
  CVoxel both(12, 10, 4);
  both.At(1, 1, 1) = 2;
  both.At(2, 2, 2) = 3;
  toolrun::WriteMetaImage(P("both.mhd"), both);
  const Result asSegmentation = Run(
      CORVANE_CORRECT_EXE,
      {"--segmentation", P("both.mhd"), "--scribbles", P("map.mhd"), "--mode", "manual", "--output", P("b")});
  EXPECT_EQ(asSegmentation.status, 0);
  EXPECT_EQ(asSegmentation.err,
            "corvane-correct: the segmentation '" + P("both.mhd") +
                "' holds 2 different non-zero values (2 to 3), not 0 and one label value: is "
                "it a scribble map?\n");
  // An empty scribble map, and an image as the scribble map.
  toolrun::WriteMetaImage(P("empty.mhd"), CVoxel(12, 10, 4));
  const Result empty = Manual(P("e"), {});
  EXPECT_EQ(empty.err, "");
  const Result none = Run(CORVANE_CORRECT_EXE, {"--segmentation", P("seg.mhd"), "--scribbles", P("empty.mhd"),
                                                "--mode", "manual", "--output", P("n")});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.err, "corvane-correct: the scribble map '" + P("empty.mhd") +
                          "' holds no scribble: no value 2 (foreground) or 3 (background)\n");
  CVoxel image(12, 10, 4);
  for (std::size_t i = 0; i < image.VoxelCount(); ++i) image[i] = static_cast<CVoxel::value_type>(100 + i);
  toolrun::WriteMetaImage(P("image.mhd"), image);
  const Result imageMap = Run(CORVANE_CORRECT_EXE, {"--segmentation", P("seg.mhd"), "--scribbles",
                                                    P("image.mhd"), "--mode", "manual", "--output", P("i")});
  EXPECT_EQ(imageMap.err, "corvane-correct: the scribble map '" + P("image.mhd") +
                              "' holds values other than 0, 1, 2 and 3 (100 to 579): is it an image?\n");
  // A run that fails still prints its one line, and nothing more.
  const Result failing =
      Run(CORVANE_CORRECT_EXE, {"--segmentation", P("image.mhd"), "--scribbles", P("map.mhd"), "--references",
                                P("nowhere"), "--output", P("f")});
  EXPECT_EQ(failing.status, 2);
  EXPECT_EQ(Lines(failing.err), 1) << failing.err;  // no notice about the image, only the failure
}

// A run on a terminal: any progress line of `program` is drawn in place and
// cleared at the end; when the run lasted well over a second, one was drawn.
void ExpectProgressDrawnAndCleared(const Result& r, const std::string& line, double seconds) {
  const std::size_t first = r.err.find(line);
  if (seconds > 1.6) {
    EXPECT_NE(first, std::string::npos) << seconds << " s: " << r.err;
  }
  for (std::size_t at = first; at != std::string::npos; at = r.err.find(line, at + 1))
    EXPECT_EQ(r.err.substr(at - 4, 4), "\r\033[K") << r.err;
  if (first != std::string::npos) {
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K") << r.err;
  }
}

double SecondsOf(const std::function<Result()>& run, Result& result) {
  const auto start = std::chrono::steady_clock::now();
  result = run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(ToolConventions, LongWorkShowsAProgressLineOnATerminalOnly) {
  // A cohort of one case measured many times: enough work for over a second on one thread.
  CVoxel truth(160, 160, 64), seg(160, 160, 64);
  for (int z = 8; z < 56; ++z)
    for (int y = 20; y < 140; ++y)
      for (int x = 20; x < 140; ++x) {
        truth.At(x, y, z) = (x - 80) * (x - 80) + (y - 80) * (y - 80) < 3600 ? 1 : 0;
        seg.At(x, y, z) = (x - 84) * (x - 84) + (y - 80) * (y - 80) < 3500 ? 1 : 0;
      }
  toolrun::WriteMetaImage(P("truth.mhd"), truth);
  toolrun::WriteMetaImage(P("big.mhd"), seg);
  std::ofstream manifest(P("cases.csv"));
  manifest << "case,truth,segmentation\n";
  for (int i = 1; i <= 40; ++i) manifest << "c" << i << ",truth.mhd,big.mhd\n";
  manifest.close();
  const std::vector<std::string> args{"--manifest", P("cases.csv"), "--threads", "1"};
  Result onTerminal;
  const double seconds = SecondsOf(
      [&] { return toolrun::RunOnTerminal(CORVANE_EVALUATE_EXE, args, scratch_.Root()); }, onTerminal);
  ASSERT_EQ(onTerminal.status, 0) << onTerminal.err;
  ExpectProgressDrawnAndCleared(onTerminal, "corvane-evaluate: cases ", seconds);
  // Standard output is the same, and a file as standard error gets no progress line.
  const Result inFiles = Run(CORVANE_EVALUATE_EXE, args);
  EXPECT_EQ(inFiles.out, onTerminal.out);
  EXPECT_EQ(inFiles.err, "");
  std::vector<std::string> quiet{"-q"};
  quiet.insert(quiet.end(), args.begin(), args.end());
  EXPECT_EQ(toolrun::RunOnTerminal(CORVANE_EVALUATE_EXE, quiet, scratch_.Root()).err, "");

  // A semi-automatic correction: its log lines on standard output, the progress on the terminal.
  ASSERT_EQ(Run(CORVANE_PHANTOM_EXE, {"--out", P("case"), "--references", "12"}).status, 0);
  const std::vector<std::string> correct{"--segmentation", P("case/segmentation.mhd"),
                                         "--scribbles",    P("case/scribbles.mhd"),
                                         "--references",   P("case/references"),
                                         "--output",       P("fixed.mhd"),
                                         "--threads",      "1"};
  Result corrected;
  const double correcting = SecondsOf(
      [&] { return toolrun::RunOnTerminal(CORVANE_CORRECT_EXE, correct, scratch_.Root()); }, corrected);
  ASSERT_EQ(corrected.status, 0) << corrected.err;
  EXPECT_NE(corrected.out.find("Final result is computed...\n"), std::string::npos) << corrected.out;
  ExpectProgressDrawnAndCleared(corrected, "corvane-correct: correcting, ", correcting);
}

// Starts a program without waiting for it.
pid_t Start(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits until `ready` holds (polling), at most ten seconds.
bool WaitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 10000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST_F(ToolConventions, ASignalDuringAWriteLeavesNoTemporaryFile) {
  // Noise compresses slowly, so the .nii.gz write lasts long enough to be caught.
  CVoxel noise(256, 256, 48);
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < noise.VoxelCount(); ++i) {
    x = x * 1664525u + 1013904223u;
    noise[i] = static_cast<CVoxel::value_type>(x >> 16);
  }
  toolrun::WriteMetaImage(P("noise.mhd"), noise);
  for (const auto& [signal, status] : std::vector<std::pair<int, int>>{{SIGTERM, 143}, {SIGINT, 130}}) {
    fs::create_directory(P("out"));
    const pid_t pid = Start({CORVANE_VOLUME_EXE, "convert", P("noise.mhd"), P("out/n.nii.gz")});
    ASSERT_GT(pid, 0);
    const bool caught = WaitFor([&] { return !Temporaries(P("out")).empty(); });
    ::kill(pid, signal);
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    if (!caught) GTEST_SKIP() << "the write ended before a temporary file was seen";
    ASSERT_TRUE(WIFEXITED(raw)) << "killed by signal " << WTERMSIG(raw);
    EXPECT_EQ(WEXITSTATUS(raw), status);
    EXPECT_TRUE(fs::is_empty(P("out"))) << Temporaries(P("out")).size();
    fs::remove_all(P("out"));
  }
}

TEST_F(ToolConventions, AnInterruptedPhantomLeavesNoHalfCase) {
  const pid_t pid =
      Start({CORVANE_PHANTOM_EXE, "--out", P("case"), "--size", "256x256x32", "--references", "40"});
  ASSERT_GT(pid, 0);
  // Interrupted once the first volumes are written and references are being made.
  const bool caught = WaitFor([&] {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_.Root(), ec))
      if (e.path().filename() == "case_01_label.mhd") return true;
    return false;
  });
  ::kill(pid, SIGINT);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  if (!caught) GTEST_SKIP() << "the case was complete before it could be interrupted";
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 130);
  EXPECT_FALSE(fs::exists(P("case")));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_.Root()))
    if (e.path().filename().string().rfind(".case", 0) == 0) left.push_back(e.path().string());
  EXPECT_EQ(left, std::vector<std::string>{});
}

// What a child process writes on its standard error, a pseudo-terminal.
std::string TerminalOf(const std::function<void()>& child) {
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    child();
    std::fflush(stderr);
    ::_exit(0);
  }
  std::string seen;
  char buffer[1024];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
  ::close(terminal);
  ::waitpid(pid, nullptr, 0);
  return seen;
}

void Wait(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

constexpr const char* kClear = "\r\033[K";

TEST(ProgressLine, IsDrawnOnATerminalOnceTheWorkLastsASecondAndClearedAtItsEnd) {
  const std::string counted = TerminalOf([] {
    cli::Progress progress("prog", "cases", 3);
    progress.Update(1);
    Wait(600);
    progress.Update(2);  // still within the first second: nothing drawn yet
    Wait(900);
    progress.Update(3);
    Wait(400);
  });
  // Drawn in place, never on a line of its own; the last drawing is cleared.
  EXPECT_EQ(counted.find("1/3"), std::string::npos) << counted;
  EXPECT_EQ(counted.rfind(std::string(kClear) + "prog: cases 2/3", 0), 0u) << counted;
  EXPECT_NE(counted.find(std::string(kClear) + "prog: cases 3/3"), std::string::npos) << counted;
  EXPECT_EQ(counted.substr(counted.size() - 4), kClear) << counted;
  EXPECT_EQ(counted.find('\n'), std::string::npos) << counted;
  // Work of unknown size counts its seconds.
  const std::string uncounted = TerminalOf([] {
    cli::Progress progress("prog", "correcting");
    Wait(1300);
  });
  EXPECT_EQ(uncounted.rfind(std::string(kClear) + "prog: correcting, 1 s", 0), 0u) << uncounted;
  // Work done within a second draws nothing.
  EXPECT_EQ(TerminalOf([] {
              cli::Progress progress("prog", "cases", 3);
              progress.Update(3);
            }),
            "");
}

TEST(ProgressLine, MakesRoomForMessagesAndIsSilencedByQuietOrAFile) {
  const std::string told = TerminalOf([] {
    cli::Progress progress("prog", "cases", 2);
    Wait(1300);
    cli::Error("prog", "case 1: cannot read it");
    cli::PrintOut("a row\n");
    Wait(400);
  });
  // The line is cleared before each message, then drawn again.
  const std::size_t error = told.find("prog: case 1: cannot read it\r\n");
  ASSERT_NE(error, std::string::npos) << told;
  EXPECT_EQ(told.substr(error - 4, 4), kClear) << told;
  EXPECT_NE(told.find("\r\na row\r\n"), std::string::npos) << told;
  EXPECT_NE(told.find(std::string(kClear) + "prog: cases 0/2", error), std::string::npos) << told;
  EXPECT_EQ(told.substr(told.size() - 4), kClear) << told;

  EXPECT_EQ(TerminalOf([] {
              cli::SetQuiet(true);
              cli::Progress progress("prog", "cases", 2);
              Wait(1300);
            }),
            "");
  // Standard error on a pipe or a file: no progress line.
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe[1], STDERR_FILENO);
    {
      cli::Progress progress("prog", "cases", 2);
      Wait(1300);
    }
    ::_exit(0);
  }
  ::close(pipe[1]);
  char byte = 0;
  EXPECT_EQ(::read(pipe[0], &byte, 1), 0);
  ::close(pipe[0]);
  ::waitpid(pid, nullptr, 0);
}

// Every program sets up its interruption handling first and may fork the
// DICOM reader a moment later; the reader's child starts threads of its own.
// A fork made while the handling thread is still starting must not leave the
// child waiting for ever on a lock copied from it.
TEST(Interruptions, AForkJustAfterTheHandlingIsSetUpGivesAChildThatCanStartThreads) {
  int stuck = 0;
  for (int i = 0; i < 200; ++i) {
    const pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
      cli::HandleInterruptions();
      const pid_t reader = ::fork();
      if (reader == 0) {
        ::alarm(3);
        std::thread([] { delete new int(1); }).join();
        ::_exit(0);
      }
      int raw = 0;
      ::waitpid(reader, &raw, 0);
      ::_exit(WIFEXITED(raw) && WEXITSTATUS(raw) == 0 ? 0 : 1);
    }
    int raw = 0;
    ASSERT_EQ(::waitpid(program, &raw, 0), program);
    if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) ++stuck;
  }
  EXPECT_EQ(stuck, 0);
}

}  // namespace
