// The steps the programs that measure and correct take alike: their main
// (parsing, clean interruption, the one line of a failure), whole-number
// options, the cases of a manifest or one shard of it, and text outputs (CSV,
// JSON, measures) written atomically, "-" meaning standard output.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "evaluation/Cohort.h"

namespace volume {
class StagedFile;
}  // namespace volume

namespace cli {

// What a program does once its arguments are parsed: true when done (with
// `status`, kDone unless the program sets another), false with `failure`.
using Body = std::function<bool(const Arguments& arguments, int& status, Failure& failure)>;

// A program's main: handles interruptions, parses the arguments (answering
// --help and --version), lets volume blocks be reused, runs `body`, and turns
// a failure or a lack of memory into its one line on stderr and its status.
int Main(const Program& program, int argc, char** argv, const std::vector<Option>& options, const Body& body);

// An option's whole number in [low, high]; when it is absent `value` keeps
// its default. False with the usage failure "--x must be a whole number from
// LOW to HIGH, not 'TEXT'".
bool NumberOption(const Arguments& arguments, const std::string& name, long low, long high, long& value,
                  Failure& failure);

// The cases of a manifest, or those of shard "I/N" of it when `shard` is not
// empty. A manifest that cannot be read fails with kInput; a malformed shard
// and a shard that holds no case (beyond the number of cases) with kUsage.
bool ManifestCases(const std::string& manifest, const std::string& shard,
                   std::vector<evaluation::CohortCase>& cases, Failure& failure);

// Checks output names before any work: each non-empty one can be written
// ("-" standing for standard output when `dashIsStdout`); false with kOutput.
bool CheckOutputs(const std::vector<std::string>& paths, bool dashIsStdout, Failure& failure);

// The text outputs of a run. Each is staged beside its target when added and
// put in place by Commit, all together, so that a run whose later step fails
// leaves every earlier file as it was. The texts of outputs named "-" are kept
// for standard output, which PrintStdout writes.
class TextOutputs {
 public:
  TextOutputs();
  ~TextOutputs();
  TextOutputs(const TextOutputs&) = delete;
  TextOutputs& operator=(const TextOutputs&) = delete;

  // Stages `text` for `path` (nothing when the path is empty); false with kOutput.
  bool Add(const std::string& path, const std::string& text, Failure& failure);
  // Renames the staged files onto their targets in the order added; false with kOutput.
  bool Commit(Failure& failure);
  // Writes the texts of the outputs named "-" to standard output.
  void PrintStdout() const;
  // Whether one of the outputs is standard output.
  bool UsesStdout() const { return m_usesStdout; }

 private:
  std::vector<std::unique_ptr<volume::StagedFile>> m_files;
  std::string m_stdout;
  bool m_usesStdout = false;
};

}  // namespace cli
