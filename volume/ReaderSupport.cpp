#include "volume/ReaderSupport.h"

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

namespace volume {

std::string SizeText(std::int64_t X, std::int64_t Y, std::int64_t Z) {
  return std::to_string(X) + " x " + std::to_string(Y) + " x " + std::to_string(Z);
}

bool CheckDimensions(std::int64_t X, std::int64_t Y, std::int64_t Z, std::string* why) {
  if (X < 1 || Y < 1 || Z < 1) {
    if (why) *why = "the size " + SizeText(X, Y, Z) + " holds no voxels";
    return false;
  }
  if (X > INT_MAX || Y > INT_MAX || Z > INT_MAX || volume::VoxelCount(int(X), int(Y), int(Z)) < 0) {
    if (why) *why = "the size " + SizeText(X, Y, Z) + " is more voxels than a volume can hold";
    return false;
  }
  return true;
}

bool Refuse(CVoxel& volume, MessageSink* sink, const std::string& what, const std::string& path,
            const std::string& why) {
  volume.Release();
  Tell(sink, what + " " + path + ": " + why);
  return false;
}

bool OpenInput(InputFile& file, CVoxel& volume, MessageSink* sink, const std::string& what,
               const std::string& path) {
  std::string notRegular;
  file = InputFile::Open(path, nullptr, &notRegular);
  if (file.IsOpen()) return true;
  if (!notRegular.empty()) Refuse(volume, sink, what, path, notRegular);
  return false;
}

void WarnWrapped(MessageSink* sink, const std::string& path) {
  Tell(sink,
       "Some voxel values of " + path + " lie outside -32768..32767; only their low 16 bits were kept.");
}

bool PlainSource::Next(unsigned char* dst, std::size_t n) {
  if (m_file.ReadExact(dst, n)) return true;
  error = "the data ends before the last voxel";
  return false;
}

bool FillVolume(CVoxel& volume, ElementSource& source, ElementKind kind, bool swapBytes, FloatRule rule,
                ConvertReport& report) {
  const std::size_t count = volume.VoxelCount();
  CVoxel::value_type* out = volume.Data();
  const std::size_t bytes = static_cast<std::size_t>(ElementBytes(kind));
  if (kind == ElementKind::Int16 && !swapBytes) {
    // Stored exactly as held in memory: read straight into the voxel block.
    return source.Next(reinterpret_cast<unsigned char*>(out), count * sizeof(CVoxel::value_type));
  }
  constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
  const std::size_t perBlock = std::max<std::size_t>(1, kBlockBytes / bytes);
  std::vector<unsigned char> block;
  try {
    block.resize(std::min(count, perBlock) * bytes);
  } catch (const std::bad_alloc&) {
    // The voxels may not be zero-filled: the caller must not keep them.
    source.error = "not enough memory to convert the voxels";
    return false;
  }
  for (std::size_t done = 0; done < count;) {
    const std::size_t n = std::min(perBlock, count - done);
    if (!source.Next(block.data(), n * bytes)) return false;
    ConvertElements(block.data(), n, kind, swapBytes, rule, out + done, report);
    done += n;
  }
  return true;
}

}  // namespace volume
