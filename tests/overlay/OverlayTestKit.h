// The overlay over a real window of this process with a D3D11 device and swap chain: a game
// window whose own procedure counts what reaches it, a keyboard whose Ctrl, F8 and mouse
// buttons the test sets frame by frame, and the back buffer read after the overlay drew.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "core/DetourGuard.h"
#include "overlay/ConfigOverlay.h"
#include "support/GfxTestKit.h"

namespace zor::test {

// The game window's own procedure: counts every message it receives.
struct GameProc {
  static inline std::map<UINT, int> seen;
  static inline bool ownCallSeen = false;  // the last message came with the plugin's own-call mark on
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    ++seen[m];
    ownCallSeen = detour::ownCallInProgress();
    return DefWindowProcW(h, m, w, l);
  }
  static int count(UINT m) { return seen.count(m) ? seen[m] : 0; }
};

struct FakeKeys {
  static inline std::array<std::atomic<bool>, 256> down{};
  static SHORT WINAPI state(int vk) { return down[static_cast<unsigned>(vk) & 0xFF].load() ? SHORT(0x8000) : SHORT(0); }
  static void clear() {
    for (auto& k : down) k.store(false);
  }
};

// The game: one window with its swap chain for the whole test program (hiding a shown window
// takes Wine about two seconds).
struct GameWindow {
  HWND hwnd = nullptr;
  ComRef<IDXGISwapChain> swapChain;
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
  UINT width = 800, height = 640;

  static GameWindow& get() {
    static GameWindow w;
    return w;
  }
  GameWindow() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &GameProc::proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZorOverlayTestGame";
    RegisterClassExW(&wc);
    RECT rc{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, FALSE);
    hwnd = CreateWindowExW(0, wc.lpszClassName, L"Zor overlay test game", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                           rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, wc.hInstance, nullptr);
    TestWindow::pump();
    DXGI_SWAP_CHAIN_DESC sd = swapChainDesc(hwnd, width, height);
    D3D_FEATURE_LEVEL level{};
    D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &sd,
                                  swapChain.put(), device.put(), &level, context.put());
  }

  // Clears the back buffer to the game's colour (a dark red none of the panel uses).
  void clear() {
    ComRef<ID3D11Texture2D> buffer;
    swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(buffer.put()));
    ComRef<ID3D11RenderTargetView> rtv;
    device->CreateRenderTargetView(buffer.get(), nullptr, rtv.put());
    const float red[4] = {0.5f, 0.0f, 0.0f, 1.0f};
    context->ClearRenderTargetView(rtv.get(), red);
  }
  std::vector<uint32_t> backBuffer() {
    ComRef<ID3D11Texture2D> buffer;
    swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(buffer.put()));
    return readTexels(device.get(), buffer.get());
  }
};

// Share of the pixels of a rectangle of an RGBA image that are not the game's clear colour.
inline double drawnShare(const std::vector<uint32_t>& pixels, UINT width, RECT r) {
  size_t drawn = 0, total = 0;
  for (LONG y = r.top; y < r.bottom; y += 4) {
    for (LONG x = r.left; x < r.right; x += 4) {
      const uint32_t p = pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
      const int red = static_cast<int>(p & 0xFF), green = static_cast<int>((p >> 8) & 0xFF);
      ++total;
      if (!(red > 110 && red < 145 && green < 10)) ++drawn;
    }
  }
  return total ? static_cast<double>(drawn) / static_cast<double>(total) : 0.0;
}

inline constexpr RECT kPanelRect{40, 40, 660, 560};   // inside the panel
inline constexpr RECT kOutsideRect{700, 40, 790, 600};  // right of it

}  // namespace zor::test
