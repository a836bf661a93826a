#include "overlay/ConfigOverlay.h"

namespace zor {

ConfigOverlay& ConfigOverlay::instance() noexcept {
  static ConfigOverlay overlay;
  return overlay;
}

bool ConfigOverlay::initialize(HWND, ID3D11Device*, ID3D11DeviceContext*) { return false; }

void ConfigOverlay::renderFrame(IDXGISwapChain*) {}

void ConfigOverlay::shutdown() { initialized_ = false; }

}  // namespace zor
