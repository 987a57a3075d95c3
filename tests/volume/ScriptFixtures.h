// A test suite whose files are written once, before its tests, by a Python
// script (files of other tools' making, e.g. nibabel's); every test of the
// suite fails with the script's output when it could not write them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/volume/TestFiles.h"
#include "volume/Sinks.h"

namespace testfiles {

// Suite names the script: `static constexpr const char* kScript`.
template <typename Suite>
class FilesWrittenByScript : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = std::make_unique<TempDir>();
    const std::string command = "/usr/bin/python3 '" + std::string(Suite::kScript) + "' '" + dir->Root() +
                                "' > '" + dir->Path("python.log") + "' 2>&1";
    written = std::system(command.c_str()) == 0;
  }
  static void TearDownTestSuite() { dir.reset(); }
  void SetUp() override { ASSERT_TRUE(written) << ReadFile(dir->Path("python.log")); }

  static std::string Path(const std::string& name) { return dir->Path(name); }
  static inline std::unique_ptr<TempDir> dir;
  static inline bool written = false;
  volume::RecordingSink sink;
};

}  // namespace testfiles
