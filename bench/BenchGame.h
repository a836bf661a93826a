// A stand-in for the game in the graphics benchmarks: a visible 320 x 200 window with a D3D11
// device and swap chain, the core's hooks installed on it, and access to the core's trampolines
// for measuring the detour bodies alone.
#pragma once

#include <windows.h>

#include <chrono>
#include <thread>

#include "core/ComRef.h"
#include "dx11/Dx11Core.h"

namespace zor {
// Access to the core's trampolines for the isolated measurement.
struct Dx11CoreTestAccess {
  static void setTrampoline(Dx11Core& c, Hook h, void* p) { c.trampolines_[static_cast<size_t>(h)].store(p); }
};
}  // namespace zor

namespace zor::bench {

struct GameWindow {
  HWND hwnd = nullptr;
  ComRef<IDXGISwapChain> swapChain;
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
};

inline GameWindow makeGameWindow(const wchar_t* windowClass, LONG width = 320, LONG height = 200,
                                 const wchar_t* title = L"bench game") {
  GameWindow w;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = windowClass;
  RegisterClassExW(&wc);
  RECT rc{0, 0, width, height};
  AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, FALSE);
  w.hwnd = CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                           rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, wc.hInstance, nullptr);
  DXGI_SWAP_CHAIN_DESC sd{};
  sd.BufferDesc.Width = static_cast<UINT>(width);
  sd.BufferDesc.Height = static_cast<UINT>(height);
  sd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  sd.SampleDesc.Count = 1;
  sd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  sd.BufferCount = 1;
  sd.OutputWindow = w.hwnd;
  sd.Windowed = TRUE;
  sd.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
  D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &sd,
                                w.swapChain.put(), w.device.put(), nullptr, w.context.put());
  return w;
}

// Entry `index` of the object's method table, IUnknown included.
inline void* slot(void* object, size_t index) { return (*reinterpret_cast<void***>(object))[index]; }

// Starts the core and waits (at most ten seconds) for its hooks; false when it could not start.
inline bool startCore(Dx11Core& core) {
  if (!core.initialize()) return false;
  for (int i = 0; i < 1000 && !(core.hooksInstalled() && !core.bootstrapRunning()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace zor::bench
