// What the capture benchmarks share: a clock moved by hand (the worker makes one frame whenever
// the bench says so), a GPS texture with its mip chain, a wait for the device to finish, and a
// window of this process painted by its own thread.
#pragma once

#include <d3d11.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "capture/GdiWindowCapture.h"
#include "core/Clock.h"
#include "core/ComRef.h"

namespace zor::bench {

struct HandClock {
  uint64_t ns = 1'000'000'000'000ull;
  clock::Source source{[](void* s) { return static_cast<HandClock*>(s)->ns / 1'000'000ull; },
                       [](void* s) { return static_cast<HandClock*>(s)->ns; }, this};
};

// One frame of the worker, made now.
inline void workerFrame(GdiWindowCapture& engine, HandClock& clock) {
  clock.ns += 34'000'000ull;
  engine.wake();
  engine.waitUntilIdle(10000);
}

// A texture like the game's GPS screen (all mips, typeless BGRA) and, when asked, its sRGB view.
inline ComRef<ID3D11Texture2D> gpsTexture(ID3D11Device* device, UINT w, UINT h,
                                          ComRef<ID3D11ShaderResourceView>* view) {
  D3D11_TEXTURE2D_DESC d{};
  d.Width = w;
  d.Height = h;
  d.MipLevels = 0;
  d.ArraySize = 1;
  d.Format = DXGI_FORMAT_B8G8R8A8_TYPELESS;
  d.SampleDesc.Count = 1;
  d.Usage = D3D11_USAGE_DEFAULT;
  d.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
  d.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
  ComRef<ID3D11Texture2D> t;
  device->CreateTexture2D(&d, nullptr, t.put());
  if (t && view) {
    D3D11_SHADER_RESOURCE_VIEW_DESC v{};
    v.Format = DXGI_FORMAT_B8G8R8A8_UNORM_SRGB;
    v.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    v.Texture2D.MipLevels = static_cast<UINT>(-1);
    device->CreateShaderResourceView(t.get(), &v, view->put());
  }
  return t;
}

// Waits until the device has done everything submitted so far.
inline void finishGpu(ID3D11Device* device, ID3D11DeviceContext* context) {
  static ComRef<ID3D11Query> query;
  if (!query) {
    D3D11_QUERY_DESC q{D3D11_QUERY_EVENT, 0};
    device->CreateQuery(&q, query.put());
  }
  context->End(query.get());
  BOOL done = FALSE;
  while (context->GetData(query.get(), &done, sizeof done, 0) == S_FALSE) {
  }
}

// A topmost popup window of this process whose client area is `client` (screen coordinates),
// painted by `proc` on a thread of its own that runs its messages; null when it was not made
// within 10 s.
inline HWND startWindowThread(const std::wstring& title, const wchar_t* className, WNDPROC proc, RECT client) {
  struct Made {
    HWND window = nullptr;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Made() { CloseHandle(ready); }
  };
  auto made = std::make_shared<Made>();
  std::thread([title, className, proc, client, made] {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassExW(&wc);
    RECT rc = client;
    AdjustWindowRectEx(&rc, WS_POPUP, FALSE, WS_EX_TOPMOST);
    made->window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, className, title.c_str(), WS_POPUP | WS_VISIBLE,
                                   rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr,
                                   wc.hInstance, nullptr);
    SetEvent(made->ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  }).detach();
  return WaitForSingleObject(made->ready, 10000) == WAIT_OBJECT_0 ? made->window : nullptr;
}

}  // namespace zor::bench
