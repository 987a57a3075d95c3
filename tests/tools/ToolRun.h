// Runs one of the project's command-line programs through the shell and keeps
// what it printed, and writes the MetaImage inputs such tests feed it (with a
// header written here rather than by the program's own writer).
#pragma once

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/volume/TestFiles.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace toolrun {

struct Result {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// `program` and every argument are quoted for the shell; `shell` runs before
// the program in the same shell (e.g. a ulimit). Output goes through files in `scratch`.
inline Result Run(const std::string& program, const std::vector<std::string>& arguments,
                  const std::filesystem::path& scratch, const std::string& shell = "") {
  std::string command = shell + "'" + program + "'";
  for (const std::string& a : arguments) command += " '" + a + "'";
  const std::string out = (scratch / "stdout").string(), err = (scratch / "stderr").string();
  command += " >'" + out + "' 2>'" + err + "' </dev/null";
  Result r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = testfiles::ReadFile(out);
  r.err = testfiles::ReadFile(err);
  return r;
}

// Runs a program with its standard error (and input) on a pseudo-terminal, as
// in an interactive shell, and its standard output into a file in `scratch`;
// `err` holds what reached the terminal, "\r\n" for each line end.
inline Result RunOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                            const std::filesystem::path& scratch) {
  const std::string out = (scratch / "stdout").string();
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  Result r;
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid < 0) return r;
  if (pid == 0) {
    std::FILE* file = std::freopen(out.c_str(), "w", stdout);
    if (file) ::execv(program.c_str(), pointers.data());
    ::_exit(127);
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(terminal, buffer, sizeof buffer);
    if (n > 0) {
      r.err.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the program has ended and closed the terminal
    }
  }
  ::close(terminal);
  int raw = 0;
  if (::waitpid(pid, &raw, 0) == pid && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  r.out = testfiles::ReadFile(out);
  return r;
}

// A 16-bit MetaImage header and its data file; `geometry` holds the header's
// spacing/offset lines; the data can be cut short after `truncateTo` bytes.
inline void WriteMetaImage(const std::filesystem::path& header, const CVoxel& volume,
                           const std::string& geometry = "ElementSpacing = 1 1 1\nOffset = 0 0 0\n",
                           std::size_t truncateTo = SIZE_MAX) {
  const std::filesystem::path data = std::filesystem::path(header).replace_extension(".raw");
  std::ofstream(header)
      << "ObjectType = Image\nNDims = 3\nBinaryData = True\nBinaryDataByteOrderMSB = False\n"
      << geometry << "DimSize = " << volume.X << " " << volume.Y << " " << volume.Z
      << "\nElementType = MET_SHORT\nElementDataFile = " << data.filename().string() << "\n";
  std::ofstream out(data, std::ios::binary);
  const std::size_t bytes = std::min(truncateTo, volume.VoxelCount() * sizeof(CVoxel::value_type));
  out.write(reinterpret_cast<const char*>(volume.Data()), static_cast<std::streamsize>(bytes));
}

// A NIfTI-1 file holding `volumes` copies of the volume as a 4-D image
// (16-bit elements), as a scanner's time series would be stored.
inline void WriteVolumes(const std::filesystem::path& path, const CVoxel& volume, std::int16_t volumes) {
  const std::filesystem::path one = std::filesystem::path(path).concat(".one.nii");
  if (!volume::SaveNifti(volume, one.string(), volume::ElementStorage::Short)) return;
  std::string bytes = testfiles::ReadFile(one.string());
  std::filesystem::remove(one);
  const std::string data = bytes.substr(352);
  const std::int16_t four = 4;
  bytes.replace(40, 2, reinterpret_cast<const char*>(&four), 2);     // dim[0]
  bytes.replace(48, 2, reinterpret_cast<const char*>(&volumes), 2);  // dim[4]
  for (int t = 1; t < volumes; ++t) bytes += data;
  std::ofstream(path, std::ios::binary) << bytes;
}

// The MetaImage lines that place a volume: spacing, origin and the direction's
// columns one after the other, to full precision.
inline std::string GeometryLines(const CVoxel& v) {
  std::string spacing = "ElementSpacing =", offset = "Offset =", matrix = "TransformMatrix =";
  char number[40];
  for (int c = 0; c < 3; ++c) {
    std::snprintf(number, sizeof number, " %.9g", v.SpacingOrUnit(c));
    spacing += number;
    std::snprintf(number, sizeof number, " %.9g", v.OriginOrZero(c));
    offset += number;
    for (int r = 0; r < 3; ++r) {
      std::snprintf(number, sizeof number, " %.17g", v.direction[r][c]);
      matrix += number;
    }
  }
  return spacing + "\n" + offset + "\n" + matrix + "\n";
}

}  // namespace toolrun
