// Helpers for tests of the graphics parts: a log capture, a real D3D11 device, a visible
// window with a swap chain, textures and views, method-table entries, and texture read-back.
#pragma once

#include <d3d11.h>
#include <dxgi.h>
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/Logger.h"
#include "core/ComRef.h"

namespace zor::test {

// Collects everything the Logger hands to its sink while alive.
class LogCapture {
 public:
  struct Line {
    LogLevel level;
    std::string text;
  };
  LogCapture() {
    Logger::instance().setSink([this](LogLevel level, const char* text) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back({level, text});
    });
  }
  ~LogCapture() { Logger::instance().clearSink(); }

  std::vector<Line> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }
  size_t count(std::string_view fragment) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const Line& l : lines_) n += l.text.find(fragment) != std::string::npos;
    return n;
  }
  bool has(std::string_view fragment) const { return count(fragment) > 0; }
  bool has(LogLevel level, std::string_view fragment) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Line& l : lines_) {
      if (l.level == level && l.text.find(fragment) != std::string::npos) return true;
    }
    return false;
  }
  // Index of the first line containing fragment, -1 when none.
  int indexOf(std::string_view fragment) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].text.find(fragment) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
  }
  std::string dump() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (const Line& l : lines_) out += "  " + l.text + "\n";
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

inline ComRef<ID3D11Device> makeDevice(ComRef<ID3D11DeviceContext>* context = nullptr) {
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> ctx;
  D3D_FEATURE_LEVEL level{};
  D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, device.put(), &level,
                    ctx.put());
  if (context) *context = std::move(ctx);
  return device;
}

// Entry `slot` of the object's method table, IUnknown included.
inline void* vtableEntry(void* object, size_t slot) { return (*static_cast<void***>(object))[slot]; }

// One windowed RGBA back buffer of width x height on hwnd.
inline DXGI_SWAP_CHAIN_DESC swapChainDesc(HWND hwnd, UINT width, UINT height) {
  DXGI_SWAP_CHAIN_DESC sd{};
  sd.BufferDesc.Width = width;
  sd.BufferDesc.Height = height;
  sd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  sd.SampleDesc.Count = 1;
  sd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  sd.BufferCount = 1;
  sd.OutputWindow = hwnd;
  sd.Windowed = TRUE;
  sd.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
  return sd;
}

// A visible top-level window of this process with a D3D11 device and swap chain on it.
struct TestWindow {
  HWND hwnd = nullptr;
  ComRef<IDXGISwapChain> swapChain;
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;

  explicit TestWindow(int width = 640, int height = 480, bool withSwapChain = true) {
    static const wchar_t* kClass = L"ZorGfxTestWindow";
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
    RECT rc{0, 0, width, height};
    AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, FALSE);
    hwnd = CreateWindowExW(0, kClass, L"Zor gfx test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, rc.right - rc.left,
                           rc.bottom - rc.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    pump();
    if (!withSwapChain) return;
    DXGI_SWAP_CHAIN_DESC sd = swapChainDesc(hwnd, static_cast<UINT>(width), static_cast<UINT>(height));
    D3D_FEATURE_LEVEL level{};
    D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &sd,
                                  swapChain.put(), device.put(), &level, context.put());
  }
  ~TestWindow() {
    context.reset();
    device.reset();
    swapChain.reset();
    if (hwnd) DestroyWindow(hwnd);
    pump();
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  static void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
};

inline D3D11_TEXTURE2D_DESC descOf(ID3D11Texture2D* texture) {
  D3D11_TEXTURE2D_DESC d{};
  texture->GetDesc(&d);
  return d;
}

// A default-usage 2D texture, one slice, no multisampling.
inline D3D11_TEXTURE2D_DESC textureDesc(UINT width, UINT height, UINT mips = 1,
                                        DXGI_FORMAT format = DXGI_FORMAT_R8G8B8A8_UNORM,
                                        UINT bind = D3D11_BIND_SHADER_RESOURCE) {
  D3D11_TEXTURE2D_DESC d{};
  d.Width = width;
  d.Height = height;
  d.MipLevels = mips;
  d.ArraySize = 1;
  d.Format = format;
  d.SampleDesc.Count = 1;
  d.Usage = D3D11_USAGE_DEFAULT;
  d.BindFlags = bind;
  return d;
}

struct TextureAndView {
  ComRef<ID3D11Texture2D> texture;
  ComRef<ID3D11ShaderResourceView> view;
};

// A texture and a default view of it; either is empty when creation failed.
inline TextureAndView makeTextureAndView(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& desc) {
  TextureAndView tv;
  device->CreateTexture2D(&desc, nullptr, tv.texture.put());
  if (tv.texture) device->CreateShaderResourceView(tv.texture.get(), nullptr, tv.view.put());
  return tv;
}

// The texels of one mip level, row by row without padding (32-bit formats only).
inline std::vector<uint32_t> readTexels(ID3D11Device* device, ID3D11Texture2D* texture, UINT mip = 0) {
  D3D11_TEXTURE2D_DESC d = descOf(texture);
  const UINT w = d.Width >> mip ? d.Width >> mip : 1;
  const UINT h = d.Height >> mip ? d.Height >> mip : 1;
  D3D11_TEXTURE2D_DESC s = d;
  s.Width = w;
  s.Height = h;
  s.MipLevels = 1;
  s.Usage = D3D11_USAGE_STAGING;
  s.BindFlags = 0;
  s.MiscFlags = 0;
  s.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  ComRef<ID3D11Texture2D> staging;
  if (FAILED(device->CreateTexture2D(&s, nullptr, staging.put()))) return {};
  ComRef<ID3D11DeviceContext> ctx;
  device->GetImmediateContext(ctx.put());
  ctx->CopySubresourceRegion(staging.get(), 0, 0, 0, 0, texture, D3D11CalcSubresource(mip, 0, d.MipLevels), nullptr);
  D3D11_MAPPED_SUBRESOURCE m{};
  if (FAILED(ctx->Map(staging.get(), 0, D3D11_MAP_READ, 0, &m))) return {};
  std::vector<uint32_t> out(static_cast<size_t>(w) * h);
  for (UINT y = 0; y < h; ++y) {
    memcpy(&out[static_cast<size_t>(y) * w], static_cast<const uint8_t*>(m.pData) + static_cast<size_t>(y) * m.RowPitch,
           w * 4);
  }
  ctx->Unmap(staging.get(), 0);
  return out;
}

// The four bytes of a texel in memory order.
inline std::vector<int> bytesOf(uint32_t texel) {
  return {static_cast<int>(texel & 0xFF), static_cast<int>((texel >> 8) & 0xFF), static_cast<int>((texel >> 16) & 0xFF),
          static_cast<int>(texel >> 24)};
}

inline ULONG refCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

}  // namespace zor::test
