#include "session/RecoveryState.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace session {

namespace {
constexpr unsigned char kMagic[8] = {'C', 'V', 'R', 'E', 'C', 'O', 'V', '\n'};

// Little-endian writer of the payload.
class Writer {
 public:
  explicit Writer(std::vector<unsigned char>& out) : m_out(out) {}
  template <typename T>
  void Number(T value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
    m_out.insert(m_out.end(), bytes, bytes + sizeof(T));
  }
  void Text(const std::string& text) {
    Number(static_cast<std::uint32_t>(text.size()));
    m_out.insert(m_out.end(), text.begin(), text.end());
  }
  void Volume(const CVoxel* volume) {
    const bool present = volume && volume->HasData();
    Number<std::uint8_t>(present ? 1 : 0);
    if (!present) return;
    Number<std::int32_t>(volume->X);
    Number<std::int32_t>(volume->Y);
    Number<std::int32_t>(volume->Z);
    for (float value : volume->spacing) Number(value);
    for (float value : volume->origin) Number(value);
    for (const auto& row : volume->direction)
      for (double value : row) Number(value);
    Number<std::int32_t>(volume->niftiQformCode);
    Number<std::int32_t>(volume->niftiSformCode);
    // Runs of equal voxels: the count first, then (length, value) pairs.
    const std::size_t countAt = m_out.size();
    Number<std::uint64_t>(0);
    std::uint64_t runs = 0;
    const CVoxel::value_type* data = volume->Data();
    const std::size_t count = volume->VoxelCount();
    for (std::size_t i = 0; i < count;) {
      const CVoxel::value_type value = data[i];
      std::size_t end = i + 1;
      const std::size_t limit = std::min(count, i + std::numeric_limits<std::uint32_t>::max());
      while (end < limit && data[end] == value) ++end;
      Number(static_cast<std::uint32_t>(end - i));
      Number(value);
      ++runs;
      i = end;
    }
    std::vector<unsigned char> bytes;
    Writer(bytes).Number(runs);
    std::copy(bytes.begin(), bytes.end(), m_out.begin() + static_cast<std::ptrdiff_t>(countAt));
  }

 private:
  std::vector<unsigned char>& m_out;
};

// Little-endian reader that refuses to read past the end.
class Reader {
 public:
  Reader(const unsigned char* bytes, std::size_t size) : m_bytes(bytes), m_size(size) {}
  template <typename T>
  bool Number(T& value) {
    if (m_size - m_at < sizeof(T)) return false;
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, m_bytes + m_at, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
    std::memcpy(&value, bytes, sizeof(T));
    m_at += sizeof(T);
    return true;
  }
  bool Text(std::string& text) {
    std::uint32_t length = 0;
    if (!Number(length) || m_size - m_at < length) return false;
    text.assign(reinterpret_cast<const char*>(m_bytes + m_at), length);
    m_at += length;
    return true;
  }
  bool Volume(std::shared_ptr<const CVoxel>& out, std::string& error) {
    std::uint8_t present = 0;
    if (!Number(present) || present > 1) return Fail(error, "a volume's marker is damaged");
    if (!present) {
      out.reset();
      return true;
    }
    std::int32_t x = 0, y = 0, z = 0;
    if (!Number(x) || !Number(y) || !Number(z)) return Fail(error, "a volume's size is cut short");
    if (x <= 0 || y <= 0 || z <= 0) return Fail(error, "a volume has no voxels");
    const std::uint64_t voxels = std::uint64_t(x) * std::uint64_t(y) * std::uint64_t(z);
    if (voxels > kRecoveryMaxVoxels) return Fail(error, "a volume is larger than any case");
    float spacing[3], origin[3];
    double direction[3][3];
    std::int32_t qform = 0, sform = 0;
    bool ok = true;
    for (float& value : spacing) ok = ok && Number(value);
    for (float& value : origin) ok = ok && Number(value);
    for (auto& row : direction)
      for (double& value : row) ok = ok && Number(value);
    ok = ok && Number(qform) && Number(sform);
    std::uint64_t runs = 0;
    if (!ok || !Number(runs)) return Fail(error, "a volume's header is cut short");
    constexpr std::size_t kRunBytes = sizeof(std::uint32_t) + sizeof(std::int16_t);
    if (runs > (m_size - m_at) / kRunBytes) return Fail(error, "a volume's voxels are cut short");
    // The runs must cover the volume exactly before anything is allocated.
    const std::size_t first = m_at;
    std::uint64_t covered = 0;
    for (std::uint64_t r = 0; r < runs; ++r) {
      std::uint32_t length = 0;
      std::int16_t value = 0;
      Number(length);
      Number(value);
      if (length == 0) return Fail(error, "a volume holds an empty run");
      covered += length;
      if (covered > voxels) return Fail(error, "a volume's runs do not fit its size");
    }
    if (covered != voxels) return Fail(error, "a volume's runs do not fit its size");
    auto volume = std::make_shared<CVoxel>(x, y, z, false);
    if (!volume->HasData()) return Fail(error, "there is not enough memory for a volume");
    std::copy(spacing, spacing + 3, volume->spacing);
    std::copy(origin, origin + 3, volume->origin);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) volume->direction[r][c] = direction[r][c];
    volume->niftiQformCode = qform;
    volume->niftiSformCode = sform;
    m_at = first;
    CVoxel::value_type* data = volume->Data();
    for (std::uint64_t r = 0; r < runs; ++r) {
      std::uint32_t length = 0;
      std::int16_t value = 0;
      Number(length);
      Number(value);
      data = std::fill_n(data, length, value);
    }
    out = std::move(volume);
    return true;
  }
  bool AtEnd() const { return m_at == m_size; }

 private:
  static bool Fail(std::string& error, const char* reason) {
    error = reason;
    return false;
  }
  const unsigned char* m_bytes;
  std::size_t m_size;
  std::size_t m_at = 0;
};

std::uint32_t Crc32(const unsigned char* bytes, std::size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (size > 0) {
    const auto chunk = static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
    crc = crc32(crc, bytes, chunk);
    bytes += chunk;
    size -= chunk;
  }
  return static_cast<std::uint32_t>(crc);
}
}  // namespace

std::vector<unsigned char> EncodeRecoveryState(const RecoveryState& state) {
  std::vector<unsigned char> payload;
  Writer writer(payload);
  writer.Text(state.imagePath);
  writer.Text(state.segmentationPath);
  writer.Text(state.boundaryPath);
  writer.Text(state.referenceDir);
  writer.Number<std::int32_t>(state.mode);
  writer.Number<std::uint8_t>(state.marking ? 1 : 0);
  writer.Number<std::uint8_t>(state.brush3D ? 1 : 0);
  writer.Number<std::int32_t>(state.brushSize);
  writer.Number<std::int64_t>(state.lastEdit);
  writer.Volume(state.segmentation.get());
  writer.Volume(state.strokeMap.get());

  std::vector<unsigned char> file(kMagic, kMagic + sizeof(kMagic));
  Writer header(file);
  header.Number(kRecoveryFormatVersion);
  header.Number(static_cast<std::uint64_t>(payload.size()));
  header.Number(Crc32(payload.data(), payload.size()));
  file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

bool DecodeRecoveryState(const unsigned char* bytes, std::size_t size, RecoveryState& state,
                         std::string& error) {
  if (size < kRecoveryHeaderBytes || !bytes) {
    error = "the file is cut short";
    return false;
  }
  if (std::memcmp(bytes, kMagic, sizeof(kMagic)) != 0) {
    error = "it is not a Corvane recovery file";
    return false;
  }
  Reader header(bytes + sizeof(kMagic), kRecoveryHeaderBytes - sizeof(kMagic));
  std::uint32_t version = 0, crc = 0;
  std::uint64_t length = 0;
  header.Number(version);
  header.Number(length);
  header.Number(crc);
  if (version != kRecoveryFormatVersion) {
    error = "it was written by another version of Corvane (format " + std::to_string(version) + ")";
    return false;
  }
  const unsigned char* payload = bytes + kRecoveryHeaderBytes;
  if (length != size - kRecoveryHeaderBytes) {
    error = length > size - kRecoveryHeaderBytes ? "the file is cut short" : "the file has extra bytes";
    return false;
  }
  if (Crc32(payload, static_cast<std::size_t>(length)) != crc) {
    error = "the file is damaged (checksum mismatch)";
    return false;
  }
  RecoveryState read;
  Reader reader(payload, static_cast<std::size_t>(length));
  std::int32_t mode = 0, brushSize = 0;
  std::uint8_t marking = 0, brush3D = 0;
  if (!reader.Text(read.imagePath) || !reader.Text(read.segmentationPath) ||
      !reader.Text(read.boundaryPath) || !reader.Text(read.referenceDir) || !reader.Number(mode) ||
      !reader.Number(marking) || !reader.Number(brush3D) || !reader.Number(brushSize) ||
      !reader.Number(read.lastEdit)) {
    error = "the case's settings are cut short";
    return false;
  }
  if (mode < 0 || mode > kRecoveryLargestMode || marking > 1 || brush3D > 1) {
    error = "the case's settings are damaged";
    return false;
  }
  read.mode = mode;
  read.marking = marking != 0;
  read.brush3D = brush3D != 0;
  read.brushSize = brushSize;
  if (!reader.Volume(read.segmentation, error) || !reader.Volume(read.strokeMap, error)) return false;
  if (!reader.AtEnd()) {
    error = "the file has extra bytes";
    return false;
  }
  state = std::move(read);
  return true;
}

bool SameGrid(const CVoxel& a, const CVoxel& b) {
  if (!a.SameSize(b)) return false;
  if (!std::equal(a.spacing, a.spacing + 3, b.spacing) || !std::equal(a.origin, a.origin + 3, b.origin))
    return false;
  for (int r = 0; r < 3; ++r)
    if (!std::equal(a.direction[r], a.direction[r] + 3, b.direction[r])) return false;
  return a.niftiQformCode == b.niftiQformCode && a.niftiSformCode == b.niftiSformCode;
}

bool SameVolume(const CVoxel& a, const CVoxel& b) {
  if (!SameGrid(a, b) || a.HasData() != b.HasData()) return false;
  return !a.HasData() || std::equal(a.Data(), a.Data() + a.VoxelCount(), b.Data());
}

}  // namespace session
