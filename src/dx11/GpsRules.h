// The texture tests that decide GPS identification, shared by the PSSetShaderResources and
// CreateTexture2D detours and the shader-group analysis. All of them are plain comparisons on
// a texture description: no COM call, no lock, no allocation.
#pragma once

#include <d3d11.h>

#include <cstdint>

#include "core/PluginConfig.h"

namespace zor::gpsrules {

// The slot the game binds the tablet screen's overlay texture in.
constexpr uint32_t kOverlaySlot = 6;
// Fingerprint confirmations made at most (creation and binding together).
constexpr uint32_t kMaxOverlayConfirmations = 3;
// Distinct pixel shaders remembered per fingerprint view.
constexpr size_t kMaxShadersPerView = 6;
// Identification keeps running this long after the first fingerprint confirmation.
constexpr uint64_t kSearchWindowNs = 2'000'000'000ull;
// Views examined and substituted per binding call.
constexpr UINT kMaxBoundViews = 128;

// A texture the game could plausibly draw a GPS screen from: a shader-resource 2D texture of
// one of the usual screen sizes and an aspect no wider than 4:1 either way.
inline bool isPlausibleGpsTexture(const D3D11_TEXTURE2D_DESC& d) noexcept {
  if (d.Width < 2 || d.Height < 2) return false;
  if (d.MipLevels < 1 || d.MipLevels > 20) return false;
  if (d.ArraySize < 1 || d.ArraySize > 256) return false;
  if (d.SampleDesc.Count < 1 || d.SampleDesc.Count > 32) return false;
  if ((d.BindFlags & D3D11_BIND_SHADER_RESOURCE) == 0) return false;
  switch (d.Width) {
    case 128: case 256: case 512: case 800: case 1024: case 1280: case 1920: case 2048: break;
    default: return false;
  }
  switch (d.Height) {
    case 128: case 256: case 512: case 600: case 720: case 1024: case 1080: case 2048: break;
    default: return false;
  }
  const float aspect = static_cast<float>(d.Width) / static_cast<float>(d.Height);
  return aspect >= 0.25f && aspect <= 4.0f;
}

// The tablet overlay texture: 1024 x 1024, 11 mips, R8G8B8A8_UNORM_SRGB, a render target.
inline bool hasOverlayFingerprint(const D3D11_TEXTURE2D_DESC& d) noexcept {
  return d.Width == 1024 && d.Height == 1024 && d.MipLevels == 11 && d.Format == DXGI_FORMAT_R8G8B8A8_UNORM_SRGB &&
         (d.BindFlags & D3D11_BIND_RENDER_TARGET) != 0;
}

// An optional filter of the configuration: -1 (stored as 0xFFFFFFFF) switches it off.
inline bool filterOff(int32_t filter) noexcept { return static_cast<uint32_t>(filter) == 0xFFFFFFFFu; }
inline bool slotAccepted(const PluginConfig& c, uint32_t slot) noexcept {
  return filterOff(c.slot) || static_cast<uint32_t>(c.slot) == slot;
}

inline bool sizeConfigured(const PluginConfig& c) noexcept { return c.gpsWidth != 0 && c.gpsHeight != 0; }

// The configured GPS size with the format and render-target filters (the shader-group analysis
// stops here).
inline bool matchesConfiguredGps(const PluginConfig& c, uint32_t width, uint32_t height, uint32_t format,
                                 uint32_t bindFlags) noexcept {
  if (!sizeConfigured(c) || width != c.gpsWidth || height != c.gpsHeight) return false;
  if (!filterOff(c.format) && static_cast<uint32_t>(c.format) != format) return false;
  if (c.requireRenderTarget && (bindFlags & D3D11_BIND_RENDER_TARGET) == 0) return false;
  return true;
}

// ... and the mip filter too (the size-based lock and the size rule of substitution).
inline bool matchesConfiguredTexture(const PluginConfig& c, const D3D11_TEXTURE2D_DESC& d) noexcept {
  if (!matchesConfiguredGps(c, d.Width, d.Height, static_cast<uint32_t>(d.Format), d.BindFlags)) return false;
  return filterOff(c.maxMips) || d.MipLevels <= static_cast<uint32_t>(c.maxMips);
}

}  // namespace zor::gpsrules
