// The in-game panel host. Placeholder until the overlay lands: it never initialises, so the
// per-frame call does nothing.
#pragma once

#include <d3d11.h>
#include <dxgi.h>

namespace zor {

class ConfigOverlay {
 public:
  static ConfigOverlay& instance() noexcept;

  // Called once by the Present hook when the game's device, context and window are known.
  bool initialize(HWND window, ID3D11Device* device, ID3D11DeviceContext* context);
  // Every Present, right before the game's Present; nothing until initialised.
  void renderFrame(IDXGISwapChain* swapChain);
  // Tear-down; nothing unless initialised.
  void shutdown();
  bool isInitialized() const noexcept { return initialized_; }

 private:
  ConfigOverlay() = default;
  bool initialized_ = false;
};

}  // namespace zor
