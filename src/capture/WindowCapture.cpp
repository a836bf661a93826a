#include "capture/WindowCapture.h"

#include <atomic>

#include "capture/GdiWindowCapture.h"

namespace zor {
namespace {
std::atomic<WindowCapture*> g_engine{nullptr};
}  // namespace

WindowCapture& WindowCapture::instance() noexcept {
  WindowCapture* e = g_engine.load(std::memory_order_acquire);
  return e ? *e : GdiWindowCapture::processEngine();
}

void WindowCapture::install(WindowCapture* engine) noexcept { g_engine.store(engine, std::memory_order_release); }

}  // namespace zor
