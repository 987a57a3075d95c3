// Load and save times of a 512 x 512 x 32 volume: MetaImage with 16-bit and
// with float elements, the own 16-bit raw format, and the lossless writers;
// the same volume as a DICOM series uncompressed, JPEG lossless and JPEG
// 2000, against VTK's DICOM reader (with the row flip) on the uncompressed one.
// Files go to a temporary folder (warm page cache: this measures the code, not the disk).
#include <sys/resource.h>
#include <vtkDICOMImageReader.h>
#include <vtkImageData.h>
#include <vtkNew.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/Timing.h"
#include "tests/volume/DicomFiles.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace {

double BestMilliseconds(int runs, const std::function<void()>& body) {
  return bench::SortedMilliseconds(runs, body).front();
}

// Processor time (this process and its finished children) of the fastest of `runs` runs: on a
// shared machine the wall time mostly measures the other users.
double BestCpuMilliseconds(int runs, const std::function<void()>& body) {
  auto cpu = [] {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
      rusage usage{};
      ::getrusage(who, &usage);
      total += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    }
    return total;
  };
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const double before = cpu();
    body();
    best = std::min(best, cpu() - before);
  }
  return best;
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
  const double saveMhd = BestMilliseconds(5, [&] { volume::SaveMetaImageShort(volume, mhd); });
  const double saveRaw = BestMilliseconds(5, [&] { volume::SaveRaw16(volume, raw); });
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
  volume::RecordingSink sink;
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

  // The DICOM series: 32 files of 512 x 512 signed 16-bit pixels, 3 mm apart.
  const std::string plain = folder + "/dicom", jpeg = folder + "/jpeg", j2k = folder + "/j2k";
  std::filesystem::create_directories(plain);
  const std::string series = dicomfiles::NewUid();
  for (int k = 0; k < 32; ++k) {
    dicomfiles::Slice s;
    s.seriesUid = series;
    s.studyUid = "1.2.3";
    s.instanceNumber = k + 1;
    s.rows = s.columns = 512;
    s.position = {0, 0, 3.0 * k};
    s.pixelSpacing = {0.625, 0.625};
    s.thickness = 3;
    s.pixels.assign(volume.Data() + std::size_t{512} * 512 * k,
                    volume.Data() + std::size_t{512} * 512 * (k + 1));
    char name[32];
    std::snprintf(name, sizeof name, "/slice%02d.dcm", k);
    if (!dicomfiles::WriteSlice(plain + name, s)) return 1;
  }
  if (!dicomfiles::TranscodeFolder(plain, jpeg, gdcm::TransferSyntax::JPEGLosslessProcess14_1) ||
      !dicomfiles::TranscodeFolder(plain, j2k, gdcm::TransferSyntax::JPEG2000Lossless)) {
    std::fprintf(stderr, "volume_bench: the DICOM copies could not be written\n");
    return 1;
  }
  for (const std::string& path : {plain, jpeg, j2k}) {
    if (!CVoxel(path, &sink).HasData()) {
      std::fprintf(stderr, "volume_bench: %s did not load\n", path.c_str());
      return 1;
    }
  }
  const auto readWithVtk = [&] {
    vtkNew<vtkDICOMImageReader> reader;
    reader->SetDirectoryName(plain.c_str());
    reader->Update();
    vtkImageData* image = reader->GetOutput();
    CVoxel v(512, 512, 32);
    const auto* src = static_cast<const std::int16_t*>(image->GetScalarPointer());
    for (int z = 0; z < 32; ++z)
      for (int y = 0; y < 512; ++y)
        std::copy_n(src + (std::size_t{512} * z + y) * 512, 512, &v.At(0, 511 - y, z));
  };
  const auto load = [&](const std::string& path) { return [&sink, path] { CVoxel v(path, &sink); }; };
  std::printf("DICOM series of the same voxels (wall ms; processor ms of this process and its children):\n");
  std::printf("  VTK's DICOM reader + flip  %7.2f ms  cpu %7.2f ms  (the former path)\n",
              BestMilliseconds(5, readWithVtk), BestCpuMilliseconds(5, readWithVtk));
  std::printf("  load DICOM uncompressed    %7.2f ms  cpu %7.2f ms\n", BestMilliseconds(5, load(plain)),
              BestCpuMilliseconds(5, load(plain)));
  std::printf("  load DICOM JPEG lossless   %7.2f ms  cpu %7.2f ms\n", BestMilliseconds(3, load(jpeg)),
              BestCpuMilliseconds(3, load(jpeg)));
  std::printf("  load DICOM JPEG 2000       %7.2f ms  cpu %7.2f ms  (slices decoded on %u threads)\n",
              BestMilliseconds(3, load(j2k)), BestCpuMilliseconds(3, load(j2k)),
              std::max(1u, std::thread::hardware_concurrency()));
  std::filesystem::remove_all(folder);
  return 0;
}
