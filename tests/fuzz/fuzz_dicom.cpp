// Feeds arbitrary bytes to the DICOM series reader (through GDCM): the input
// is cut at every "\n--next-file--\n" into files slice00.dcm, slice01.dcm, ...
// (at most 8) of one folder, and the series in that folder is read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

// GDCM allocates a value of the length a file declares before reading it. In
// the program the reading process's address space is bounded, and such an
// allocation fails at once; here (the fuzzer is to see every allocation as
// the library makes it, so that bound is not set) the bound is a largest
// allocation instead. An allocation
// beyond it returns null from malloc, and operator new (replaced here: the
// sanitizer's own ends the process on null) throws std::bad_alloc, as it
// would in the program. (It pairs with the sanitizer's delete for the
// variants not replaced, hence no mismatch checks.)
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=512:alloc_dealloc_mismatch=0";
}

void* operator new(std::size_t size) {
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::string_view kSeparator = "\n--next-file--\n";
  constexpr int kMaxFiles = 8;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string& folder = fuzzfiles::FreshFolder();
  for (int n = 0; n < kMaxFiles && !rest.empty(); ++n) {
    const std::size_t cut = n + 1 < kMaxFiles ? rest.find(kSeparator) : std::string_view::npos;
    char name[32];
    std::snprintf(name, sizeof name, "/slice%02d.dcm", n);
    fuzzfiles::Write(folder + name, rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + kSeparator.size());
  }
  CVoxel volume;
  volume::RecordingSink sink;
  const bool ok = ReadDicomSeries(volume, folder + "/slice00.dcm", &sink);
  if (ok != volume.HasData()) std::abort();
  if (volume.HasData() &&
      static_cast<std::int64_t>(volume.VoxelCount()) != volume::VoxelCount(volume.X, volume.Y, volume.Z)) {
    std::abort();
  }
  return 0;
}
