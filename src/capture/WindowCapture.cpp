#include "capture/WindowCapture.h"

#include <atomic>

namespace zor {
namespace {

// Captures nothing: no window, never active, nothing to upload.
class NullWindowCapture final : public WindowCapture {
 public:
  void setPaused(bool) override {}
  bool hasWindow() override { return false; }
  bool start(ID3D11Device*, ID3D11DeviceContext*, const std::wstring&, uint32_t, bool, int32_t, int32_t, int32_t,
             int32_t) override {
    return false;
  }
  void deactivate() override {}
  bool isActive() override { return false; }
  bool uploadLatestFrame(ID3D11Texture2D*) override { return false; }
  void shutdown() override {}
};

NullWindowCapture g_nullEngine;
std::atomic<WindowCapture*> g_engine{nullptr};

}  // namespace

WindowCapture& WindowCapture::instance() noexcept {
  WindowCapture* e = g_engine.load(std::memory_order_acquire);
  return e ? *e : g_nullEngine;
}

void WindowCapture::install(WindowCapture* engine) noexcept { g_engine.store(engine, std::memory_order_release); }

}  // namespace zor
