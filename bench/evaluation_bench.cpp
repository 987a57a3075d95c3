// Time of one evaluation of a 512 x 512 x 32 pair: the phantom's truth against
// its segmentation (0.3125 x 0.3125 x 3 mm), and a worst case whose masks and
// boundaries span most of the volume, with the volumes in memory; then a
// cohort of 100 such pairs read from MetaImage files, as corvane-evaluate
// --manifest runs it, on 1 and on 2 threads.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Phantom.h"
#include "bench/Timing.h"
#include "evaluation/Cohort.h"
#include "evaluation/Metrics.h"
#include "volume/Writers.h"

namespace {

// Median and best of `runs` timings, in milliseconds.
void Time(const char* what, int runs, const std::function<void()>& body) {
  const std::vector<double> times = bench::SortedMilliseconds(runs, body);
  std::printf("%-48s median %7.1f ms   best %7.1f ms   (%d runs)\n", what, times[times.size() / 2],
              times.front(), runs);
}

// A ball of the given radius (in voxels along x and y, slices along z).
CVoxel Ball(double cx, double cy, double cz, double rxy, double rz) {
  CVoxel v(512, 512, 32);
  for (int z = 0; z < v.Z; ++z)
    for (int y = 0; y < v.Y; ++y)
      for (int x = 0; x < v.X; ++x) {
        const double dx = (x - cx) / rxy, dy = (y - cy) / rxy, dz = (z - cz) / rz;
        v.At(x, y, z) = dx * dx + dy * dy + dz * dz <= 1.0;
      }
  for (int a = 0; a < 3; ++a) {
    v.spacing[a] = a < 2 ? 0.3125f : 3.0f;
    v.origin[a] = 0.0f;
  }
  return v;
}

}  // namespace

int main() {
  phantom::PhantomOptions options;
  options.references = 0;
  const phantom::PhantomCase c = phantom::GeneratePhantom(options);
  if (!c.truth.HasData() || !c.segmentation.HasData()) {
    std::fprintf(stderr, "evaluation-bench: the phantom could not be built\n");
    return 1;
  }
  evaluation::CaseMetrics m{};
  Time("phantom seed 1, 512x512x32 (truth vs segmentation)", 21,
       [&] { m = evaluation::Evaluate(c.truth, c.segmentation); });
  std::printf("  whole: dice %.4f  hd95 %.3f mm  abd %.3f mm\n", m[evaluation::kWhole][evaluation::kDice],
              m[evaluation::kWhole][evaluation::kHd95Mm], m[evaluation::kWhole][evaluation::kAbdMm]);

  const CVoxel a = Ball(250, 256, 15.5, 240, 17), b = Ball(262, 250, 14.5, 236, 17);
  Time("worst case: balls filling the 512x512x32 volume", 7, [&] { m = evaluation::Evaluate(a, b); });
  std::printf("  whole: dice %.4f  hd95 %.3f mm  abd %.3f mm\n", m[evaluation::kWhole][evaluation::kDice],
              m[evaluation::kWhole][evaluation::kHd95Mm], m[evaluation::kWhole][evaluation::kAbdMm]);

  // The cohort: ten written pairs, each listed ten times.
  volume::ReuseVolumeMemory();
  std::string folder = (std::filesystem::temp_directory_path() / "corvane-evaluation-bench-XXXXXX").string();
  if (!::mkdtemp(folder.data())) return 1;
  std::vector<evaluation::CohortCase> cases;
  for (int k = 0; k < 10; ++k) {
    const std::string truth = folder + "/truth" + std::to_string(k) + ".mhd";
    const std::string segmentation = folder + "/segmentation" + std::to_string(k) + ".mhd";
    if (!volume::SaveMetaImageShort(c.truth, truth) ||
        !volume::SaveMetaImageShort(c.segmentation, segmentation))
      return 1;
    for (int copy = 0; copy < 10; ++copy)
      cases.push_back({std::to_string(k), segmentation, truth, segmentation, ""});
  }
  for (int threads : {1, 2}) {
    std::vector<evaluation::CaseMetrics> metrics;
    std::string error;
    const std::string what = "cohort of 100 pairs from files, " + std::to_string(threads) + " thread(s)";
    Time(what.c_str(), 3, [&] {
      if (!evaluation::EvaluateCases(cases, evaluation::Foreground{}, threads, metrics, error))
        std::fprintf(stderr, "evaluation-bench: %s\n", error.c_str());
    });
  }
  std::filesystem::remove_all(folder);
  return 0;
}
