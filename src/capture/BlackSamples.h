// The black test of a painted window: a grid of 8 x 8 pixels of a 32-bit surface, so it costs
// nothing next to the copy it may save. A PrintWindow that reports success and paints nothing
// (another process's window on some hosts) leaves the cleared samples black.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::blacksamples {

constexpr int kGrid = 8;

template <class Visit>
bool forEach(void* bits, int width, int height, Visit visit) {
  auto* pixels = static_cast<uint32_t*>(bits);
  for (int gy = 0; gy < kGrid; ++gy) {
    const size_t y = static_cast<size_t>((2 * gy + 1) * height / (2 * kGrid));
    for (int gx = 0; gx < kGrid; ++gx) {
      const size_t x = static_cast<size_t>((2 * gx + 1) * width / (2 * kGrid));
      if (!visit(pixels[y * static_cast<size_t>(width) + x])) return false;
    }
  }
  return true;
}

// True when no sampled pixel has any colour.
inline bool allBlack(void* bits, int width, int height) {
  return forEach(bits, width, height, [](uint32_t& p) { return (p & 0x00FFFFFFu) == 0; });
}

// Blackens the sampled pixels (before a paint, so a paint that draws nothing is seen).
inline void clear(void* bits, int width, int height) {
  forEach(bits, width, height, [](uint32_t& p) {
    p = 0;
    return true;
  });
}

}  // namespace zor::blacksamples
