// The chaos run: events drawn from a seeded generator and applied to the running cab with the
// real plugin, the invariants checked after every one; and the soak, a long run that prints the
// process's memory, handles and GDI objects every minute.
#pragma once

#include <cstdint>

namespace zor::sim {

// splitmix64: a generator of our own, so that a seed draws the same events on every machine and
// every build.
class ChaosRng {
 public:
  explicit ChaosRng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number in [0, n).
  uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }

 private:
  uint64_t state_;
};

}  // namespace zor::sim
