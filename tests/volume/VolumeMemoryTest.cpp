// The voxel block allocator, built twice: with the system's mappings where the
// platform has them, and with plain heap memory (the fallback elsewhere). Both
// must hand out blocks that hold what is written, however large, and take them
// back in any order from any thread.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "volume/VolumeMemory.h"

namespace {

using volume::Block;

// Sizes around the thresholds: heap, heap with pages mapped at once, own mapping.
constexpr std::size_t kSizes[] = {
    1, 1000, 16 * 1024 + 3, (8u << 20) / 4 - 1, (8u << 20) / 4, (9u << 20) / 4 + 7};

template <typename T>
void FillAndCheck(Block<T>& block, std::size_t n, T seed) {
  block.resize(n);
  for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<T>(seed + static_cast<T>(i % 1000));
  for (std::size_t i = 0; i < n; i += 1 + n / 997)
    ASSERT_EQ(block[i], static_cast<T>(seed + static_cast<T>(i % 1000)));
  ASSERT_EQ(block.back(), static_cast<T>(seed + static_cast<T>((n - 1) % 1000)));
}

TEST(VolumeMemory, BlocksOfEverySizeHoldWhatIsWritten) {
  volume::ReuseVolumeMemory();
  for (std::size_t n : kSizes) {
    Block<float> floats;
    FillAndCheck(floats, n, 0.5f);
    Block<std::int16_t> shorts;
    FillAndCheck<std::int16_t>(shorts, n, 7);
  }
}

TEST(VolumeMemory, BlocksFreedAndTakenAgainInAnyOrderStayIndependent) {
  std::vector<Block<std::int16_t>> blocks(6);
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < blocks.size(); ++i)
      FillAndCheck<std::int16_t>(blocks[i], kSizes[i], static_cast<std::int16_t>(round * 10 + i));
    // Every block still holds its own values after the others were written.
    for (std::size_t i = 0; i < blocks.size(); ++i)
      EXPECT_EQ(blocks[i].front(), static_cast<std::int16_t>(round * 10 + i)) << i;
    // Freed in another order than they were taken.
    for (std::size_t i = blocks.size(); i-- > 0;)
      if ((i + round) % 2 == 0) Block<std::int16_t>().swap(blocks[i]);
  }
}

TEST(VolumeMemory, LargeBlocksMoveBetweenThreads) {
  constexpr std::size_t n = (9u << 20) / sizeof(float);
  std::vector<Block<float>> made(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < made.size(); ++t)
    threads.emplace_back([&made, t] { FillAndCheck(made[t], n, static_cast<float>(t)); });
  for (auto& thread : threads) thread.join();
  threads.clear();
  // Freed on other threads than the ones that took them, then taken again.
  for (std::size_t t = 0; t < made.size(); ++t)
    threads.emplace_back([&made, t] { Block<float>().swap(made[t]); });
  for (auto& thread : threads) thread.join();
  Block<float> again;
  FillAndCheck(again, n, 3.0f);
}

}  // namespace
