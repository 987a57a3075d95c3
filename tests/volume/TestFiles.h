// Small helpers for tests that write and read files.
#pragma once

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace testfiles {

// A fresh folder removed again at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) m_root = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    for (auto& entry : std::filesystem::recursive_directory_iterator(m_root, ec)) {
      if (entry.is_directory(ec)) ::chmod(entry.path().c_str(), 0755);
    }
    std::filesystem::remove_all(m_root, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(std::string_view name) const { return m_root + "/" + std::string(name); }
  const std::string& Root() const { return m_root; }
  // Names of everything in a sub-folder ("" for the root), sorted.
  std::vector<std::string> List(std::string_view sub = "") const {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(sub.empty() ? m_root : Path(sub), ec)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string m_root;
};

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Appends the little-endian bytes of a value (the tests run on little-endian hosts).
template <typename T>
void Put(std::string& out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

template <typename T>
std::string Bytes(const std::vector<T>& values) {
  std::string out;
  for (T v : values) Put(out, v);
  return out;
}

// Runs `body` in a child process and returns its exit code (-1 when it died).
// With unprivileged set, a root parent first drops the child to user "nobody",
// so that folder permissions apply to it as to any user.
inline int RunInChild(const std::function<int()>& body, bool unprivileged = false) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (unprivileged && ::geteuid() == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    }
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Runs `body` in a child whose files may not grow past `limit` bytes, as if the
// disk filled up.
inline int RunWithFileSizeLimit(std::uint64_t limit, const std::function<int()>& body) {
  return RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{};
    ::getrlimit(RLIMIT_FSIZE, &rl);
    rl.rlim_cur = limit;
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) return 101;
    return body();
  });
}

}  // namespace testfiles
