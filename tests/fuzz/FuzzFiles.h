// A private folder for fuzz targets whose readers take a path: the input is
// written to files there before each run and the folder is removed when the
// process ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzzfiles {

// The folder, emptied: nothing of the previous input is left in it.
inline const std::string& FreshFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    static const std::string remove = pattern;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(remove, ignored);
    });
    return pattern;
  }();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    std::filesystem::remove_all(entry.path(), ignored);
  return folder;
}

inline void Write(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

}  // namespace fuzzfiles
