// What the cab's files share: where its parts sit on the screen (in normalised device
// coordinates), the layouts of its vertex and constant buffers, the screens' format, and two
// small helpers. Internal to the simulator's cab.
#pragma once

#include <d3d11.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zor::sim::cab {

inline constexpr DXGI_FORMAT kScreenFormat = DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;  // 29

struct NdcRect {
  float x0, y0, x1, y1;
};
inline constexpr NdcRect kWindshield{-1.0f, 0.1f, 1.0f, 1.0f};
inline constexpr NdcRect kPanel{-1.0f, -1.0f, 1.0f, 0.1f};
inline constexpr NdcRect kInstrument{-0.85f, -0.75f, -0.45f, -0.15f};
inline constexpr NdcRect kDashboardGps{-0.25f, -0.7f, 0.2f, -0.2f};
inline constexpr NdcRect kBezel{0.42f, -0.55f, 0.92f, 0.35f};
inline constexpr NdcRect kTabletScreen{0.45f, -0.5f, 0.89f, 0.3f};
inline constexpr NdcRect kPlainPanel{-0.9f, -0.98f, 0.35f, -0.8f};  // dashboard body below the screens

struct Vertex {
  float x, y, u, v;
};

struct FrameConstants {
  float timing[4];
  float colour[4];
};

inline uint32_t rgba(int r, int g, int b, int a = 255) {
  return static_cast<uint32_t>(std::clamp(r, 0, 255)) | static_cast<uint32_t>(std::clamp(g, 0, 255)) << 8 |
         static_cast<uint32_t>(std::clamp(b, 0, 255)) << 16 | static_cast<uint32_t>(std::clamp(a, 0, 255)) << 24;
}

inline std::string hresult(HRESULT hr) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08lX", static_cast<unsigned long>(hr));
  return b;
}

}  // namespace zor::sim::cab
