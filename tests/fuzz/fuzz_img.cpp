// Feeds arbitrary bytes to the 2048 x 2048 image reader (through VTK) as an
// ".IMG" file. The first byte picks the layout: even, the rest is repeated to
// fill a whole image (so the bytes reach VTK's reader); odd, the rest is the
// file as it is (mostly too short, refused before VTK).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/fuzz/FuzzFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string path = fuzzfiles::FreshFolder() + "/input.IMG";
  if (data[0] % 2 == 0) {
    constexpr std::size_t kImageBytes = std::size_t{2048} * 2048 * 2;
    std::string image;
    image.reserve(kImageBytes);
    while (image.size() < kImageBytes) image += rest;
    image.resize(kImageBytes);
    fuzzfiles::Write(path, image);
  } else {
    fuzzfiles::Write(path, rest);
  }
  CVoxel volume;
  volume::RecordingSink sink;
  const bool ok = ReadImage2048(volume, path, &sink);
  if (ok != volume.HasData()) std::abort();
  if (ok && (volume.X != 2048 || volume.Y != 2048 || volume.Z != 1)) std::abort();
  return 0;
}
