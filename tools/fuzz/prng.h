#pragma once
// The fuzzer's random numbers: splitmix64, so that a seed alone decides every
// input on every machine (std::random_device and the standard engines' output
// ranges would not).

#include <cstddef>
#include <cstdint>

namespace fuzz {

class Prng {
 public:
  explicit Prng(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // A number in [0, bound); 0 when bound is 0.
  size_t Below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(Next() % bound); }

  // True about once in n calls.
  bool OneIn(size_t n) { return Below(n) == 0; }

 private:
  uint64_t state_;
};

// The seed of one input: the run's seed, the surface and the input's number
// mixed, so that any input can be made again without the ones before it.
inline uint64_t InputSeed(uint64_t runSeed, uint64_t surfaceId, uint64_t index) {
  Prng mix(runSeed ^ (surfaceId * 0xD1B54A32D192ED03ull));
  mix.Next();
  return mix.Next() ^ (index * 0x9E3779B97F4A7C15ull);
}

}  // namespace fuzz
