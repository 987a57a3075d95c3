#include "ToolSteps.h"

#include <new>

#include "volume/FileIO.h"
#include "volume/VolumeMemory.h"

namespace cli {

int Main(const Program& program, int argc, char** argv, const std::vector<Option>& options,
         const Body& body) {
  HandleInterruptions();
  Arguments arguments;
  if (const auto status = Parse(program, argc, argv, options, arguments)) return *status;
  // Volumes of the same few sizes are read and freed again and again.
  volume::ReuseVolumeMemory();
  Failure failure;
  try {
    int status = kDone;
    if (body(arguments, status, failure)) return status;
  } catch (const std::bad_alloc&) {
    failure = {kInput, "not enough memory"};
  }
  Error(program.name, failure.message);
  return failure.status;
}

bool NumberOption(const Arguments& arguments, const std::string& name, long low, long high, long& value,
                  Failure& failure) {
  if (!arguments.Has(name)) return true;
  const std::string text = arguments.Value(name);
  if (ParseWholeNumber(text, low, high, value)) return true;
  return Fail(failure, kUsage,
              name + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                  ", not '" + text + "'");
}

bool ManifestCases(const std::string& manifest, const std::string& shard,
                   std::vector<evaluation::CohortCase>& cases, Failure& failure) {
  std::vector<evaluation::CohortCase> all;
  std::string error;
  if (!evaluation::ReadManifest(manifest, all, error)) return Fail(failure, kInput, error);
  if (shard.empty()) {
    cases = std::move(all);
    return true;
  }
  int index = 0, count = 0;
  if (!evaluation::ParseShard(shard, index, count, error)) return Fail(failure, kUsage, error);
  cases.clear();
  for (std::size_t p : evaluation::ShardPositions(all.size(), index, count)) cases.push_back(all[p]);
  if (cases.empty())
    return Fail(failure, kUsage,
                "shard " + shard + " holds no case: the manifest lists " + std::to_string(all.size()) +
                    (all.size() == 1 ? " case" : " cases"));
  return true;
}

bool CheckOutputs(const std::vector<std::string>& paths, bool dashIsStdout, Failure& failure) {
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    if (const std::string problem = CheckOutput(path, dashIsStdout); !problem.empty())
      return Fail(failure, kOutput, problem);
  }
  return true;
}

TextOutputs::TextOutputs() = default;
TextOutputs::~TextOutputs() = default;

bool TextOutputs::Add(const std::string& path, const std::string& text, Failure& failure) {
  if (path.empty()) return true;
  if (path == "-") {
    m_usesStdout = true;
    m_stdout += text;
    return true;
  }
  m_files.push_back(std::make_unique<volume::StagedFile>(path));
  volume::StagedFile& file = *m_files.back();
  if (!file.Create() || !file.Write(text) || !file.Finish()) return Fail(failure, kOutput, file.Error());
  return true;
}

bool TextOutputs::Commit(Failure& failure) {
  for (const auto& file : m_files)
    if (!file->Commit()) return Fail(failure, kOutput, file->Error());
  return true;
}

void TextOutputs::PrintStdout() const {
  if (!m_stdout.empty()) PrintOut(m_stdout);
}

}  // namespace cli
