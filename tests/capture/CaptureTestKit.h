// Shared pieces of the capture engine tests: an engine on a real window of this process with a
// real D3D11 device and a clock the test moves, plus frame and GDI-object helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "AppWindow.h"
#include "capture/GdiWindowCapture.h"
#include "support/GfxTestKit.h"
#include "support/ManualClock.h"

namespace zor::test {

constexpr COLORREF kTop = RGB(200, 40, 40);
constexpr COLORREF kBottom = RGB(40, 40, 200);

// A GDI colour as the frame's 32-bit pixel holds it (blue, green, red; the fourth byte masked).
inline uint32_t pixelOf(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

inline uint32_t pixelAt(const CaptureFrame& f, uint32_t x, uint32_t y) {
  uint32_t p = 0;
  std::memcpy(&p, &f.pixels[static_cast<size_t>(y) * f.stride + static_cast<size_t>(x) * 4], 4);
  return p & 0x00FFFFFFu;
}

// Live GDI objects of this process. Wine answers GetGuiResources with 0, so there the shared
// handle table is walked (a handle with a zero upper word names its table slot).
inline size_t liveGdiObjects() {
  if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return n;
  size_t count = 0;
  for (uintptr_t slot = 1; slot < 0x10000; ++slot) count += GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0;
  return count;
}

// The engine under test, with the window it captures (kept for the whole program: destroying a
// shown window costs about 2 s), a device and the manual clock.
class CaptureFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    window_ = new AppWindow(L"Player " + uniqueToken(), WS_VISIBLE, 300, 300, 320, 180);
  }
  static void TearDownTestSuite() {
    delete window_;
    window_ = nullptr;
  }
  void SetUp() override {
    device_ = makeDevice(&context_);
    ASSERT_TRUE(device_ && context_);
    window_->setTitle(L"Player " + uniqueToken());
    window_->setColours(kTop, kBottom);
    window_->setSpot({}, 0);
    window_->resizeClient(320, 180);
    window_->toFront();
  }
  void TearDown() override { engine_.shutdown(); }

  ComRef<ID3D11Texture2D> texture(UINT width, UINT height, DXGI_FORMAT format = DXGI_FORMAT_B8G8R8A8_UNORM) {
    ComRef<ID3D11Texture2D> t;
    D3D11_TEXTURE2D_DESC d = textureDesc(width, height, 1, format);
    device_->CreateTexture2D(&d, nullptr, t.put());
    return t;
  }
  bool start(const std::wstring& keyword, uint32_t fps = 30, bool flip = true, int32_t cropLeft = 0,
             int32_t cropTop = 0, int32_t cropWidth = 0, int32_t cropHeight = 0) {
    return engine_.start(device_.get(), context_.get(), keyword, fps, flip, cropLeft, cropTop, cropWidth, cropHeight);
  }
  // Starts on the fixture's window and hands the worker the texture's size; the worker has then
  // published its first frame. With the size known from an earlier start, the worker may have
  // composed before the first upload: that picture is uploaded, and the next one awaited.
  void startCapturing(ID3D11Texture2D* target, bool flip = true) {
    ASSERT_TRUE(start(uniqueToken(), 30, flip));
    if (engine_.uploadLatestFrame(target)) advance(34);
    ASSERT_TRUE(settle());
    ASSERT_TRUE(engine_.latestFrame(frame_)) << log_.dump();
  }
  bool settle() { return engine_.waitUntilIdle(10000); }
  // Moves the clock and lets the worker act on it.
  void advance(uint64_t ms) {
    clock_.advanceMs(ms);
    engine_.wake();
    ASSERT_TRUE(settle());
  }
  uint64_t printWindowCalls() { return engine_.counters().printWindowCalls; }

  static inline AppWindow* window_ = nullptr;
  ManualClock clock_;
  LogCapture log_;
  ComRef<ID3D11Device> device_;
  ComRef<ID3D11DeviceContext> context_;
  GdiWindowCapture engine_;
  CaptureFrame frame_;
};

}  // namespace zor::test
