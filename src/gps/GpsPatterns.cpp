#include "gps/GpsPatterns.h"

#include <d3d11.h>

namespace zor::gpspattern {

namespace {

constexpr uint32_t texel(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t b3) {
  return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}

// Colours of the checker and visual patterns, in memory byte order.
constexpr uint32_t kBorder = texel(255, 70, 40, 255);
constexpr uint32_t kEvenCell = texel(18, 116, 230, 255);
constexpr uint32_t kOddCell = texel(10, 62, 155, 255);
constexpr uint32_t kCross = texel(245, 245, 245, 255);

bool evenCell(uint32_t x, uint32_t y) { return ((x / 32 + y / 32) % 2) == 0; }

bool channelOrder(uint32_t format, bool* bgra) {
  switch (format) {
    case DXGI_FORMAT_R8G8B8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM_SRGB:
      *bgra = false;
      return true;
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_B8G8R8X8_UNORM:
    case DXGI_FORMAT_B8G8R8A8_UNORM_SRGB:
    case DXGI_FORMAT_B8G8R8X8_UNORM_SRGB:
      *bgra = true;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool hasDirectFormat(uint32_t format) {
  bool bgra = false;
  return channelOrder(format, &bgra);
}

std::vector<uint32_t> checker(uint32_t width, uint32_t height) {
  std::vector<uint32_t> px(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      bool border = x < 6 || y < 6 || x + 6 >= width || y + 6 >= height;
      px[static_cast<size_t>(y) * width + x] = border ? kBorder : (evenCell(x, y) ? kEvenCell : kOddCell);
    }
  }
  return px;
}

std::vector<uint32_t> visual() {
  constexpr uint32_t n = 256;
  std::vector<uint32_t> px(n * n);
  for (uint32_t y = 0; y < n; ++y) {
    for (uint32_t x = 0; x < n; ++x) {
      uint32_t v;
      if (x < 8 || y < 8 || x >= 248 || y >= 248) {
        v = kBorder;
      } else if ((x >= 116 && x <= 140) || (y >= 116 && y <= 140)) {
        v = kCross;
      } else {
        v = evenCell(x, y) ? kEvenCell : kOddCell;
      }
      px[y * n + x] = v;
    }
  }
  return px;
}

bool direct(uint32_t width, uint32_t height, uint32_t format, std::vector<uint32_t>& out) {
  bool bgra = false;
  if (!channelOrder(format, &bgra) || width < 1 || width > 4096 || height < 1 || height > 4096) return false;
  auto color = [bgra](uint32_t r, uint32_t g, uint32_t b) { return bgra ? texel(b, g, r, 255) : texel(r, g, b, 255); };
  const uint32_t border = color(0, 255, 40), white = color(255, 255, 255), even = color(255, 0, 180),
                 odd = color(140, 20, 60);
  const int64_t w = width, h = height, cx = w / 2, cy = h / 2;
  out.assign(static_cast<size_t>(width) * height, 0);
  for (int64_t y = 0; y < h; ++y) {
    for (int64_t x = 0; x < w; ++x) {
      uint32_t v;
      if (x < 8 || y < 8 || x >= w - 8 || y >= h - 8) {
        v = border;
      } else if ((x >= cx - 8 && x <= cx + 8) || (y >= cy - 8 && y <= cy + 8)) {
        v = white;
      } else {
        v = evenCell(static_cast<uint32_t>(x), static_cast<uint32_t>(y)) ? even : odd;
      }
      out[static_cast<size_t>(y * w + x)] = v;
    }
  }
  return true;
}

}  // namespace zor::gpspattern
