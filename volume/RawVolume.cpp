// The own raw volume format: a 12-byte header (X, Y, Z) or a 40-byte header
// (a negative marker, spacing x y z, origin x y z, X, Y, Z), then the voxels,
// all little-endian; one unsigned byte ("bin") or one signed 16-bit word
// ("raw", "lab") per voxel.
#include <bit>
#include <cstring>
#include <vector>

#include "volume/ElementConvert.h"
#include "volume/FileIO.h"
#include "volume/ReaderSupport.h"
#include "volume/Readers.h"
#include "volume/Writers.h"

namespace volume {

namespace {

std::int32_t LittleInt32(const unsigned char* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 |
                                   static_cast<std::uint32_t>(p[3]) << 24);
}

float LittleFloat(const unsigned char* p) { return std::bit_cast<float>(LittleInt32(p)); }

void PutInt32(std::vector<unsigned char>& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(u >> shift));
}

void PutFloat(std::vector<unsigned char>& out, float v) { PutInt32(out, std::bit_cast<std::int32_t>(v)); }

bool ReadRawFrom(CVoxel& volume, InputFile& file, int bytesPerVoxel, const std::string& name,
                 MessageSink* sink) {
  const std::string what = "Cannot read raw volume";
  volume.Release();
  const std::int64_t size = file.Size();
  unsigned char word[4];
  if (!file.ReadExact(word, 4)) return Refuse(volume, sink, what, name, "the file is too short for a header");
  const std::int32_t first = LittleInt32(word);
  std::int64_t headerBytes = 12;
  if (first < 0) {
    // Any negative first word announces spacing and origin before X.
    unsigned char block[28];
    if (!file.ReadExact(block, sizeof block))
      return Refuse(volume, sink, what, name, "the file is too short for a header");
    for (int i = 0; i < 3; ++i) {
      volume.spacing[i] = LittleFloat(block + 4 * i);
      volume.origin[i] = LittleFloat(block + 12 + 4 * i);
    }
    volume.X = LittleInt32(block + 24);
    headerBytes = 40;
  } else {
    volume.X = first;
  }
  unsigned char yz[8];
  if (!file.ReadExact(yz, sizeof yz))
    return Refuse(volume, sink, what, name, "the file is too short for a header");
  volume.Y = LittleInt32(yz);
  volume.Z = LittleInt32(yz + 4);

  std::string why;
  if (!CheckDimensions(volume.X, volume.Y, volume.Z, &why)) return Refuse(volume, sink, what, name, why);
  const std::int64_t needed =
      static_cast<std::int64_t>(volume::VoxelCount(volume.X, volume.Y, volume.Z)) * bytesPerVoxel;
  if (size < 0) return Refuse(volume, sink, what, name, "the size of the file cannot be determined");
  if (size - headerBytes < needed) {
    return Refuse(volume, sink, what, name,
                  "the header asks for " + SizeText(volume.X, volume.Y, volume.Z) + " voxels (" +
                      std::to_string(needed) + " bytes) but the file holds only " +
                      std::to_string(size - headerBytes) + " bytes of voxels");
  }
  if (!volume.AllocateForReader()) {
    return Refuse(volume, sink, what, name,
                  "not enough memory for " + SizeText(volume.X, volume.Y, volume.Z) + " voxels");
  }
  PlainSource source(file);
  ConvertReport report;
  const ElementKind kind = bytesPerVoxel == 1 ? ElementKind::UInt8 : ElementKind::Int16;
  const bool swap = std::endian::native == std::endian::big;
  if (!FillVolume(volume, source, kind, swap, FloatRule::Round, report)) {
    return Refuse(volume, sink, what, name, source.error);
  }
  return true;
}

}  // namespace

bool ReadRawVolumeStream(CVoxel& volume, std::FILE* stream, int bytesPerVoxel, const std::string& name,
                         MessageSink* sink) {
  if (!stream || (bytesPerVoxel != 1 && bytesPerVoxel != 2)) return false;
  InputFile file = InputFile::Borrow(stream);
  return ReadRawFrom(volume, file, bytesPerVoxel, name, sink);
}

}  // namespace volume

bool ReadRawVolume(CVoxel& volume, const std::string& path, int bytesPerVoxel, volume::MessageSink* sink) {
  if (bytesPerVoxel != 1 && bytesPerVoxel != 2) return false;
  volume::InputFile file;
  if (!volume::OpenInput(file, volume, sink, "Cannot read raw volume", path)) return false;
  return volume::ReadRawFrom(volume, file, bytesPerVoxel, path, sink);
}

namespace volume {

bool SaveRaw16(const CVoxel& volume, const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!volume.HasData()) return fail("the volume holds no data");
  std::vector<unsigned char> header;
  header.reserve(40);
  PutInt32(header, -1);
  // Unset geometry is written as spacing 1 and origin 0; the format has no direction.
  for (int i = 0; i < 3; ++i) PutFloat(header, static_cast<float>(volume.SpacingOrUnit(i)));
  for (int i = 0; i < 3; ++i) PutFloat(header, static_cast<float>(volume.OriginOrZero(i)));
  PutInt32(header, volume.X);
  PutInt32(header, volume.Y);
  PutInt32(header, volume.Z);

  StagedFile file(path);
  if (!file.Create() || !file.Write(header.data(), header.size())) return fail(file.Error());
  const std::size_t count = volume.VoxelCount();
  if constexpr (std::endian::native == std::endian::little) {
    if (!file.Write(volume.Data(), count * sizeof(CVoxel::value_type))) return fail(file.Error());
  } else {
    std::vector<unsigned char> bytes(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
      const auto v = static_cast<std::uint16_t>(volume[i]);
      bytes[2 * i] = static_cast<unsigned char>(v & 0xff);
      bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    if (!file.Write(bytes.data(), bytes.size())) return fail(file.Error());
  }
  return CommitStagedFiles({&file}, error);
}

}  // namespace volume
