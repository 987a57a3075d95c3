// Seeded random numbers that come out bit for bit the same with every compiler
// and standard library: xoshiro256** seeded through splitmix64, with our own
// uniform and bell-shaped draws. No std:: distribution and no libm call is
// involved, so a seed names one phantom everywhere.
#pragma once

#include <cstdint>

namespace phantom {

class PhantomRandom {
 public:
  // One independent stream per (seed, stream, index). Each part of a case draws
  // from its own stream, so that for example asking for more references leaves
  // the image, the labels and the scribbles unchanged.
  PhantomRandom(std::uint64_t seed, std::uint64_t stream, std::uint64_t index = 0) {
    std::uint64_t x =
        Mix(seed) ^ Mix(stream + 0x632BE59BD9B4E019ull) ^ Mix(index * 0xD1B54A32D192ED03ull + 1);
    for (auto& word : m_state) word = SplitMix(x);
  }

  std::uint64_t Next() {
    const std::uint64_t result = Rotl(m_state[1] * 5, 7) * 9;
    const std::uint64_t t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = Rotl(m_state[3], 45);
    return result;
  }

  // Uniform in [0, 1), 53 random bits.
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

  // Uniform integer in [lo, hi] (inclusive), without modulo bias.
  int UniformInt(int lo, int hi) {
    if (hi <= lo) return lo;
    const std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo) + 1;
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % range;
    std::uint64_t r = Next();
    while (r >= limit) r = Next();
    return static_cast<int>(lo + static_cast<std::int64_t>(r % range));
  }

  bool Chance(double p) { return Uniform() < p; }

  // A bell-shaped draw with mean 0 and variance 1: the Irwin-Hall sum of four
  // 16-bit uniforms taken from one 64-bit word. It is close enough to a
  // Gaussian for shape variation and image noise, needs no logarithm or
  // cosine (so it is exact on every platform), and its tails end at about
  // +-3.46, which keeps random shapes plausible.
  double Gaussianish() {
    const std::uint64_t r = Next();
    double sum = 0.0;
    for (int lane = 0; lane < 4; ++lane) {
      sum += (static_cast<double>((r >> (16 * lane)) & 0xFFFFu) + 0.5) * (1.0 / 65536.0);
    }
    return (sum - 2.0) * 1.7320508075688772;  // sqrt(3): the sum's variance is 1/3
  }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  static std::uint64_t SplitMix(std::uint64_t& x) {
    x += 0x9E3779B97F4A7C15ull;
    return Mix(x);
  }
  static std::uint64_t Mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  std::uint64_t m_state[4];
};

}  // namespace phantom
