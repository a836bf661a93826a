// The overlay left out: linked into a build of the plugin for the frame-time benchmark, so the
// cost of the in-game panel can be told apart from the rest of the plugin. The Present hook
// calls these and nothing happens.
#include "overlay/ConfigOverlay.h"

namespace zor {

ConfigOverlay::ConfigOverlay() = default;
ConfigOverlay::~ConfigOverlay() = default;

ConfigOverlay& ConfigOverlay::instance() noexcept {
  static ConfigOverlay overlay;
  return overlay;
}

bool ConfigOverlay::initialize(HWND, ID3D11Device*, ID3D11DeviceContext*) { return false; }
void ConfigOverlay::renderFrame(IDXGISwapChain*) {}
void ConfigOverlay::followGameDevice(ID3D11Device*, ID3D11DeviceContext*) {}
void ConfigOverlay::followGameWindow(HWND) {}
void ConfigOverlay::releaseRenderer() {}
void ConfigOverlay::shutdown() {}
void ConfigOverlay::releaseInput() {}
bool ConfigOverlay::isInitialized() const noexcept { return false; }
bool ConfigOverlay::panelVisible() const noexcept { return false; }
bool ConfigOverlay::wizardVisible() const noexcept { return false; }
HWND ConfigOverlay::gameWindow() const noexcept { return nullptr; }
void ConfigOverlay::setKeyStateSource(KeyStateFn) noexcept {}

}  // namespace zor
