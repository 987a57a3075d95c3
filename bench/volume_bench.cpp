// Load and save times of a 512 x 512 x 32 volume: MetaImage with 16-bit and
// with float elements, the own 16-bit raw format, and the lossless writers.
// Files go to a temporary folder (warm page cache: this measures the code, not the disk).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/Timing.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace {

double BestMilliseconds(int runs, const std::function<void()>& body) {
  return bench::SortedMilliseconds(runs, body).front();
}

}  // namespace

int main() {
  std::string folder = (std::filesystem::temp_directory_path() / "corvane-bench-XXXXXX").string();
  if (!::mkdtemp(folder.data())) return 1;
  CVoxel volume(512, 512, 32);
  for (std::size_t i = 0; i < volume.VoxelCount(); ++i)
    volume[i] = static_cast<std::int16_t>((i * 7919) % 3000);
  volume.spacing[0] = volume.spacing[1] = 0.625f;
  volume.spacing[2] = 3.0f;

  const std::string mhd = folder + "/short.mhd", raw = folder + "/vol.raw", floats = folder + "/float.mhd";
  const double saveMhd = BestMilliseconds(5, [&] { SaveMetaImageShort(volume, mhd); });
  const double saveRaw = BestMilliseconds(5, [&] { SaveRaw16(volume, raw); });
  {
    std::FILE* f = std::fopen((folder + "/float.data").c_str(), "wb");
    std::vector<float> data(volume.VoxelCount());
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = volume[i] + 0.25f;
    std::fwrite(data.data(), sizeof(float), data.size(), f);
    std::fclose(f);
    f = std::fopen(floats.c_str(), "w");
    std::fputs("NDims = 3\nDimSize = 512 512 32\nElementType = MET_FLOAT\nElementDataFile = float.data\n", f);
    std::fclose(f);
  }
  RecordingSink sink;
  for (const std::string& path : {mhd, raw, floats}) {
    if (!CVoxel(path, &sink).HasData()) {
      std::fprintf(stderr, "volume_bench: %s did not load\n", path.c_str());
      return 1;
    }
  }
  const double loadMhd = BestMilliseconds(11, [&] { CVoxel v(mhd, &sink); });
  const double loadRaw = BestMilliseconds(11, [&] { CVoxel v(raw, &sink); });
  const double loadFloat = BestMilliseconds(11, [&] { CVoxel v(floats, &sink); });

  std::printf("512 x 512 x 32 voxels, best of several runs:\n");
  std::printf("  load MetaImage MET_SHORT   %7.2f ms\n", loadMhd);
  std::printf("  load MetaImage MET_FLOAT   %7.2f ms\n", loadFloat);
  std::printf("  load raw 16-bit            %7.2f ms\n", loadRaw);
  std::printf("  save MetaImage MET_SHORT   %7.2f ms (with fsync)\n", saveMhd);
  std::printf("  save raw 16-bit            %7.2f ms (with fsync)\n", saveRaw);
  std::filesystem::remove_all(folder);
  return 0;
}
