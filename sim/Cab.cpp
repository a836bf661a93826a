#include "Cab.h"

#include <d3dcompiler.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CabLayout.h"
#include "Console.h"
#include "GameWindowChecks.h"
#include "RawMouse.h"
#include "Shaders.h"
#include "TextureQueue.h"

namespace zor::sim {

using namespace cab;

namespace {

constexpr wchar_t kWindowClass[] = L"ZorSim.GameWindow";
constexpr wchar_t kWindowTitle[] = L"ZOR Sim - cab (American Truck Simulator stand-in)";

uint32_t noise(uint32_t x, uint32_t y) {
  uint32_t h = x * 374761393u + y * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

// The dashboard's own navigation picture: navy ground, a grid of roads, the truck's arrow.
std::vector<uint32_t> navPicture(UINT w, UINT h) {
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  UINT cell = std::max(8u, w / 6), road = std::max(2u, cell / 10);
  for (UINT y = 0; y < h; ++y)
    for (UINT x = 0; x < w; ++x) {
      uint32_t c = rgba(22, 30, 70);
      if (x % cell < road || (y + cell / 3) % cell < road) c = rgba(90, 100, 140);
      int dx = static_cast<int>(x) - static_cast<int>(w / 2), dy = static_cast<int>(y) - static_cast<int>(h / 2);
      if (std::abs(dx) * 2 < dy + static_cast<int>(h / 10) && dy > -static_cast<int>(h / 10) && dy < static_cast<int>(h / 14))
        c = rgba(245, 245, 245);
      px[static_cast<size_t>(y) * w + x] = c;
    }
  return px;
}

// The other instrument: a warm dark face with amber ticks and a white needle.
std::vector<uint32_t> gaugePicture(UINT w, UINT h) {
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  float cx = w / 2.0f, cy = h / 2.0f, r = std::min(w, h) * 0.42f;
  for (UINT y = 0; y < h; ++y)
    for (UINT x = 0; x < w; ++x) {
      float dx = x + 0.5f - cx, dy = y + 0.5f - cy, d = std::sqrt(dx * dx + dy * dy);
      float a = std::atan2(dy, dx);
      uint32_t c = rgba(48, 40, 32);
      if (d > r * 0.85f && d < r && std::fmod(a + 7.0f, 0.3927f) < 0.06f) c = rgba(255, 176, 0);
      float na = -2.2f;
      float along = dx * std::cos(na) + dy * std::sin(na), across = -dx * std::sin(na) + dy * std::cos(na);
      if (along > 0 && along < r * 0.8f && std::fabs(across) < std::max(1.5f, r * 0.02f)) c = rgba(245, 245, 245);
      px[static_cast<size_t>(y) * w + x] = c;
    }
  return px;
}

// A picture's rows in the order the cab's screens read them: bottom row first.
std::vector<uint32_t> bottomUpRows(std::vector<uint32_t> px, UINT w, UINT h) {
  for (UINT y = 0; y < h / 2; ++y)
    std::swap_ranges(px.begin() + static_cast<size_t>(y) * w, px.begin() + static_cast<size_t>(y + 1) * w,
                     px.begin() + static_cast<size_t>(h - 1 - y) * w);
  return px;
}

}  // namespace

LRESULT CALLBACK Cab::wndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<Cab*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  countGameWindowMessage(msg);
  switch (msg) {
    case kHoldWindowProcMessage:
      return stayInsideWindowProcedure(wp);
    case kActInWindowProcMessage:
      return actInsideWindowProcedure();
    case WM_NCCREATE:
      SetWindowLongPtrW(h, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
      break;
    case WM_CLOSE:
      if (self) self->closed_ = true;
      return 0;
    case WM_ERASEBKGND:
      return 1;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

namespace {
// IDXGISwapChain::Present, slot 8 of its method table (IUnknown included).
const unsigned char* presentFunction(IDXGISwapChain* swapChain) {
  return static_cast<const unsigned char*>((*reinterpret_cast<void***>(swapChain))[8]);
}
// ID3D11DeviceContext::PSSetShaderResources, slot 8 as well.
const unsigned char* bindFunction(ID3D11DeviceContext* context) {
  return static_cast<const unsigned char*>((*reinterpret_cast<void***>(context))[8]);
}
// ID3D11DeviceContext::DrawIndexed, slot 12.
const unsigned char* drawIndexedFunction(ID3D11DeviceContext* context) {
  return static_cast<const unsigned char*>((*reinterpret_cast<void***>(context))[12]);
}
// ID3D11DeviceContext::IASetIndexBuffer, slot 19: the last method a plugin's start-up hooks.
const unsigned char* indexBufferFunction(ID3D11DeviceContext* context) {
  return static_cast<const unsigned char*>((*reinterpret_cast<void***>(context))[19]);
}
}  // namespace

bool Cab::presentPatched() const {
  return swapChain_ && std::memcmp(presentFunction(swapChain_.Get()), presentEntry_, sizeof presentEntry_) != 0;
}

bool Cab::bindingHooksPatched() const {
  return presentPatched() && std::memcmp(bindFunction(context_.Get()), bindEntry_, sizeof bindEntry_) != 0;
}

void Cab::atFramePoint(FramePoint point, std::function<void()> action) {
  actionPoint_ = point;
  action_ = std::move(action);
}

void Cab::runAction(FramePoint point) {
  if (actionPoint_ != point || !action_) return;
  auto action = std::move(action_);
  actionPoint_ = FramePoint::None;
  action_ = nullptr;
  action();
}

bool Cab::drawStatePatched() const {
  return context_ &&
         std::memcmp(indexBufferFunction(context_.Get()), indexBufferEntry_, sizeof indexBufferEntry_) != 0;
}

bool Cab::drawIndexedPatched() const {
  return context_ &&
         std::memcmp(drawIndexedFunction(context_.Get()), drawIndexedEntry_, sizeof drawIndexedEntry_) != 0;
}

bool Cab::create(int width, int height, std::string& error) {
  width_ = width;
  height_ = height;
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{sizeof wc};
  wc.style = CS_OWNDC;
  wc.lpfnWndProc = &Cab::wndProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
  if (!createWindow(error)) return false;
  truck_ = &defaultTruck();
  if (!createDevice(error)) return false;
  // The methods as the runtime made them, before any plugin patches them (a device made anew
  // later has the same methods).
  std::memcpy(presentEntry_, presentFunction(swapChain_.Get()), sizeof presentEntry_);
  std::memcpy(bindEntry_, bindFunction(context_.Get()), sizeof bindEntry_);
  std::memcpy(drawIndexedEntry_, drawIndexedFunction(context_.Get()), sizeof drawIndexedEntry_);
  std::memcpy(indexBufferEntry_, indexBufferFunction(context_.Get()), sizeof indexBufferEntry_);
  say("cab: window " + std::to_string(width) + "x" + std::to_string(height) +
      ", D3D11 device and swap chain ready (DXGI_SWAP_EFFECT_DISCARD, R8G8B8A8_UNORM)");
  return true;
}

bool Cab::createWindow(std::string& error) {
  RECT rc{0, 0, width_, height_};
  AdjustWindowRectEx(&rc, WS_OVERLAPPEDWINDOW, FALSE, 0);
  window_ = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, 0, 0, rc.right - rc.left,
                            rc.bottom - rc.top, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) return error = "CreateWindowEx failed (" + std::to_string(GetLastError()) + ")", false;
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  pumpMessages();
  return true;
}

bool Cab::createDevice(std::string& error) {
  DXGI_SWAP_CHAIN_DESC sd{};
  sd.BufferDesc.Width = static_cast<UINT>(width_);
  sd.BufferDesc.Height = static_cast<UINT>(height_);
  sd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  sd.SampleDesc.Count = 1;
  sd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  sd.BufferCount = 1;
  sd.OutputWindow = window_;
  sd.Windowed = TRUE;
  sd.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
  D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0};
  D3D_FEATURE_LEVEL got{};
  HRESULT hr = D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 1, D3D11_SDK_VERSION,
                                             &sd, &swapChain_, &device_, &got, &context_);
  if (FAILED(hr)) return error = "D3D11CreateDeviceAndSwapChain failed " + hresult(hr), false;
  if (!makeBackBufferViews(error) || !compileShaders(error)) return false;

  D3D11_SAMPLER_DESC smp{};
  smp.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
  smp.AddressU = smp.AddressV = smp.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
  smp.MaxLOD = D3D11_FLOAT32_MAX;
  device_->CreateSamplerState(&smp, &sampler_);
  D3D11_BLEND_DESC bd{};
  bd.RenderTarget[0].RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
  device_->CreateBlendState(&bd, &opaque_);
  bd.RenderTarget[0].BlendEnable = TRUE;
  bd.RenderTarget[0].SrcBlend = D3D11_BLEND_SRC_ALPHA;
  bd.RenderTarget[0].DestBlend = D3D11_BLEND_INV_SRC_ALPHA;
  bd.RenderTarget[0].BlendOp = D3D11_BLEND_OP_ADD;
  bd.RenderTarget[0].SrcBlendAlpha = D3D11_BLEND_ONE;
  bd.RenderTarget[0].DestBlendAlpha = D3D11_BLEND_ZERO;
  bd.RenderTarget[0].BlendOpAlpha = D3D11_BLEND_OP_ADD;
  device_->CreateBlendState(&bd, &alpha_);
  D3D11_RASTERIZER_DESC rd{};
  rd.FillMode = D3D11_FILL_SOLID;
  rd.CullMode = D3D11_CULL_NONE;
  rd.DepthClipEnable = TRUE;
  device_->CreateRasterizerState(&rd, &raster_);
  D3D11_BUFFER_DESC cb{};
  cb.ByteWidth = sizeof(FrameConstants);
  cb.Usage = D3D11_USAGE_DYNAMIC;
  cb.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
  cb.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
  if (FAILED(hr = device_->CreateBuffer(&cb, nullptr, &constants_)) || !sampler_ || !opaque_ || !alpha_ || !raster_)
    return error = "pipeline state creation failed " + hresult(hr), false;

  // The game draws its map into the tablet texture bottom row first, as the screen reads it.
  if (!makeMesh("fullscreen", -1, -1, 1, 1, 1, fullQuad_, error) ||
      !makeMesh("fullscreen", -1, -1, 1, 1, 1, mapQuad_, error, true) ||
      !makeMesh("windshield", kWindshield.x0, kWindshield.y0, kWindshield.x1, kWindshield.y1, 1, windshield_, error) ||
      !makeMesh("panel", kPanel.x0, kPanel.y0, kPanel.x1, kPanel.y1, 1, panelMesh_, error) ||
      !makeMesh("bezel", kBezel.x0, kBezel.y0, kBezel.x1, kBezel.y1, 1, bezelMesh_, error) ||
      !makeMesh("tablet", kTabletScreen.x0, kTabletScreen.y0, kTabletScreen.x1, kTabletScreen.y1, 1, tabletMesh_, error, true) ||
      !makeMesh("loading", -0.5f, -0.03f, 0.5f, 0.03f, 1, loadingBar_, error))
    return false;

  // Scenery textures; the environment map looks like a GPS texture but lives in slot 5, and
  // exists long before the cab's textures are queued.
  std::vector<uint32_t> px(1024 * 512);
  for (UINT y = 0; y < 512; ++y)
    for (UINT x = 0; x < 1024; ++x) {
      float t = y / 511.0f;
      px[y * 1024 + x] = rgba(static_cast<int>(110 + 90 * t), static_cast<int>(160 + 60 * t), static_cast<int>(220 + 15 * t));
    }
  if (!makeTexture(1024, 512, 1, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE, 0, &px, sky_, error)) return false;
  px.assign(512 * 512, 0);
  for (UINT y = 0; y < 512; ++y)
    for (UINT x = 0; x < 512; ++x) {
      int n = static_cast<int>(noise(x, y) % 13) - 6;
      px[y * 512 + x] = rgba(70 + n, 72 + n, 76 + n);
    }
  if (!makeTexture(512, 512, 1, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE, 0, &px, panel_, error)) return false;
  px.assign(256 * 256, 0);
  for (UINT y = 0; y < 256; ++y)
    for (UINT x = 0; x < 256; ++x) {
      int n = static_cast<int>(noise(x + 7, y + 3) % 25);
      px[y * 256 + x] = rgba(230 + n, 230 + n, 230 + n);
    }
  if (!makeTexture(256, 256, 1, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE, 0, &px, detail_, error)) return false;
  for (UINT y = 0; y < 256; ++y)
    for (UINT x = 0; x < 256; ++x) {
      bool edge = x < 10 || y < 10 || x >= 246 || y >= 246;
      px[y * 256 + x] = edge ? rgba(70, 70, 76) : rgba(22, 22, 25);
    }
  if (!makeTexture(256, 256, 1, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE, 0, &px, bezel_, error)) return false;
  for (UINT y = 0; y < 256; ++y)
    for (UINT x = 0; x < 256; ++x) {
      int dx = static_cast<int>(x % 64) - 32, dy = static_cast<int>(y % 64) - 32;
      px[y * 256 + x] = rgba(255, 255, 255, dx * dx + dy * dy < 64 ? 255 : 0);
    }
  if (!makeTexture(256, 256, 1, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE, 0, &px, icons_, error)) return false;
  if (!makeTexture(1024, 1024, 11, kScreenFormat, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET,
                   D3D11_RESOURCE_MISC_GENERATE_MIPS, nullptr, environment_, error))
    return false;
  float envColour[4] = {0.05f, 0.06f, 0.1f, 1.0f};
  context_->ClearRenderTargetView(environment_.rtv.Get(), envColour);
  context_->GenerateMips(environment_.srv.Get());
  return true;
}

void Cab::releaseDevice() {
  if (context_) {
    context_->ClearState();
    context_->Flush();
  }
  tabletView_.Reset();
  for (Texture* t : {&sky_, &panel_, &detail_, &bezel_, &icons_, &environment_, &tablet_, &dashboard_, &instrument_})
    *t = Texture{};
  for (Mesh* m : {&fullQuad_, &mapQuad_, &windshield_, &panelMesh_, &bezelMesh_, &tabletMesh_, &loadingBar_,
                  &dashboardMesh_, &instrumentMesh_})
    *m = Mesh{};
  backBufferRtv_.Reset();
  depthView_.Reset();
  depth_.Reset();
  backBuffer_.Reset();
  staging_.Reset();
  vs_.Reset();
  layout_.Reset();
  psSolid_.Reset(), psWindshield_.Reset(), psPanel_.Reset(), psBezel_.Reset();
  psMap_.Reset(), psScreen_.Reset(), psGlass_.Reset();
  sampler_.Reset();
  opaque_.Reset();
  alpha_.Reset();
  raster_.Reset();
  constants_.Reset();
  swapChain_.Reset();
  context_.Reset();
}

void Cab::retireDevice(long& othersHolding) {
  if (retiredDevice_) releaseRetiredDevice();
  retiredSwapChain_ = swapChain_;
  releaseDevice();
  // The simulator keeps two references to the old device, to tell who else still holds it and
  // to see one released too many. (MinGW's ComPtr::Attach adds a reference; the pointer is
  // handed over as it is.)
  *retiredDevice_.ReleaseAndGetAddressOf() = device_.Detach();
  retiredDevice_->AddRef();
  othersHolding = retiredDeviceHolders();
}

bool Cab::recreateDevice(long& othersHolding, std::string& error) {
  retireDevice(othersHolding);
  if (!createDevice(error)) return false;
  if (!cabLoaded_) return true;
  cabLoaded_ = false;
  return loadCab(error);
}

bool Cab::recreateWindow(long& othersHolding, std::string& error) {
  retireDevice(othersHolding);
  const HWND old = window_;
  DestroyWindow(old);
  pumpMessages();
  if (!createWindow(error) || !createDevice(error)) return false;
  if (!cabLoaded_) return true;
  cabLoaded_ = false;
  return loadCab(error);
}

long Cab::retiredDeviceHolders() const {
  if (!retiredDevice_) return 0;
  retiredDevice_->AddRef();
  return static_cast<long>(retiredDevice_->Release()) - 2 - (retiredSwapChain_ ? 1 : 0);
}

unsigned long Cab::releaseRetiredDevice() {
  if (!retiredDevice_) return 0;
  if (retiredDeviceHolders() < 0) {
    retiredSwapChain_.Detach();
    retiredDevice_.Detach();
    return 1;
  }
  retiredSwapChain_.Reset();
  ID3D11Device* device = retiredDevice_.Detach();
  device->Release();
  return device->Release();
}

bool Cab::makeBackBufferViews(std::string& error) {
  HRESULT hr;
  if (FAILED(hr = swapChain_->GetBuffer(0, IID_PPV_ARGS(&backBuffer_))) ||
      FAILED(hr = device_->CreateRenderTargetView(backBuffer_.Get(), nullptr, &backBufferRtv_)))
    return error = "back buffer view failed " + hresult(hr), false;
  D3D11_TEXTURE2D_DESC st{};
  backBuffer_->GetDesc(&st);
  st.Usage = D3D11_USAGE_STAGING;
  st.BindFlags = 0;
  st.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  st.MiscFlags = 0;
  if (FAILED(hr = device_->CreateTexture2D(&st, nullptr, &staging_)))
    return error = "staging texture failed " + hresult(hr), false;
  // The game's depth buffer, bound with the back buffer at Present (the size of the back buffer).
  D3D11_TEXTURE2D_DESC dd{};
  backBuffer_->GetDesc(&dd);
  dd.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
  dd.BindFlags = D3D11_BIND_DEPTH_STENCIL;
  dd.MiscFlags = 0;
  depthView_.Reset();
  depth_.Reset();
  if (FAILED(hr = device_->CreateTexture2D(&dd, nullptr, &depth_)) ||
      FAILED(hr = device_->CreateDepthStencilView(depth_.Get(), nullptr, &depthView_)))
    return error = "depth buffer failed " + hresult(hr), false;
  return true;
}

bool Cab::resize(int width, int height, std::string& error) {
  RECT rc{0, 0, width, height};
  AdjustWindowRectEx(&rc, WS_OVERLAPPEDWINDOW, FALSE, 0);
  SetWindowPos(window_, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  pumpMessages();
  // The game lets go of every view of the back buffer first; a reference held by anyone else
  // makes ResizeBuffers fail.
  context_->OMSetRenderTargets(0, nullptr, nullptr);
  backBufferRtv_.Reset();
  backBuffer_.Reset();
  staging_.Reset();
  context_->Flush();
  HRESULT hr = swapChain_->ResizeBuffers(0, static_cast<UINT>(width), static_cast<UINT>(height), DXGI_FORMAT_UNKNOWN, 0);
  if (FAILED(hr)) return error = "ResizeBuffers to " + std::to_string(width) + "x" + std::to_string(height) + " failed " + hresult(hr), false;
  width_ = width;
  height_ = height;
  return makeBackBufferViews(error);
}

void Cab::destroy() {
  if (context_) context_->ClearState();
  releaseRetiredDevice();
  HWND w = window_;
  *this = Cab{};
  if (w) DestroyWindow(w);
}

bool Cab::compileShaders(std::string& error) {
  auto compile = [&](const char* entry, const char* target, ComPtr<ID3DBlob>& blob) {
    ComPtr<ID3DBlob> errors;
    HRESULT hr = D3DCompile(kCabShaders, sizeof(kCabShaders) - 1, "cab.hlsl", nullptr, nullptr, entry, target, 0, 0,
                            &blob, &errors);
    if (FAILED(hr)) {
      error = std::string("shader ") + entry + " failed: " +
              (errors ? std::string(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize()) : hresult(hr));
      return false;
    }
    return true;
  };
  ComPtr<ID3DBlob> vsBlob;
  if (!compile("vsMain", "vs_4_0", vsBlob)) return false;
  device_->CreateVertexShader(vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(), nullptr, &vs_);
  D3D11_INPUT_ELEMENT_DESC il[] = {
      {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
      {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 8, D3D11_INPUT_PER_VERTEX_DATA, 0},
  };
  device_->CreateInputLayout(il, 2, vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(), &layout_);
  struct {
    const char* entry;
    ComPtr<ID3D11PixelShader>* out;
  } pss[] = {{"psSolid", &psSolid_}, {"psWindshield", &psWindshield_}, {"psPanel", &psPanel_}, {"psBezel", &psBezel_},
             {"psMap", &psMap_},     {"psScreen", &psScreen_},         {"psGlass", &psGlass_}};
  for (auto& p : pss) {
    ComPtr<ID3DBlob> blob;
    if (!compile(p.entry, "ps_4_0", blob)) return false;
    device_->CreatePixelShader(blob->GetBufferPointer(), blob->GetBufferSize(), nullptr, p.out->ReleaseAndGetAddressOf());
    if (!*p.out) return error = std::string("CreatePixelShader failed for ") + p.entry, false;
  }
  if (!vs_ || !layout_) return error = "vertex shader or input layout creation failed", false;
  return true;
}

bool Cab::makeTexture(UINT w, UINT h, UINT mips, DXGI_FORMAT fmt, UINT bind, UINT misc, const std::vector<uint32_t>* pixels,
                      Texture& out, std::string& error) {
  out = Texture{};
  D3D11_TEXTURE2D_DESC d{};
  d.Width = w;
  d.Height = h;
  d.MipLevels = mips;
  d.ArraySize = 1;
  d.Format = fmt;
  d.SampleDesc.Count = 1;
  d.Usage = D3D11_USAGE_DEFAULT;
  d.BindFlags = bind;
  d.MiscFlags = misc;
  D3D11_SUBRESOURCE_DATA init{};
  bool initial = pixels && mips == 1;
  if (initial) {
    init.pSysMem = pixels->data();
    init.SysMemPitch = w * 4;
  }
  HRESULT hr = device_->CreateTexture2D(&d, initial ? &init : nullptr, &out.tex);
  if (FAILED(hr)) return error = "CreateTexture2D " + std::to_string(w) + "x" + std::to_string(h) + " failed " + hresult(hr), false;
  if (FAILED(hr = device_->CreateShaderResourceView(out.tex.Get(), nullptr, &out.srv)))
    return error = "CreateShaderResourceView failed " + hresult(hr), false;
  if (bind & D3D11_BIND_RENDER_TARGET) {
    D3D11_RENDER_TARGET_VIEW_DESC rd{};
    rd.Format = fmt;
    rd.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    if (FAILED(hr = device_->CreateRenderTargetView(out.tex.Get(), &rd, &out.rtv)))
      return error = "CreateRenderTargetView failed " + hresult(hr), false;
  }
  if (pixels && !initial) {
    context_->UpdateSubresource(out.tex.Get(), 0, nullptr, pixels->data(), w * 4, 0);
    if (misc & D3D11_RESOURCE_MISC_GENERATE_MIPS) context_->GenerateMips(out.srv.Get());
  }
  return true;
}

bool Cab::makeMesh(const char* name, float x0, float y0, float x1, float y1, UINT quads, Mesh& out, std::string& error,
                   bool bottomUp) {
  const float top = bottomUp ? 1.0f : 0.0f, bottom = 1.0f - top;
  std::vector<Vertex> v;
  std::vector<uint16_t> idx;
  for (UINT q = 0; q < quads; ++q) {
    float a = static_cast<float>(q) / quads, b = static_cast<float>(q + 1) / quads;
    float xa = x0 + (x1 - x0) * a, xb = x0 + (x1 - x0) * b;
    auto base = static_cast<uint16_t>(v.size());
    v.push_back({xa, y1, a, top});
    v.push_back({xb, y1, b, top});
    v.push_back({xa, y0, a, bottom});
    v.push_back({xb, y0, b, bottom});
    for (uint16_t i : {0, 1, 2, 2, 1, 3}) idx.push_back(static_cast<uint16_t>(base + i));
  }
  D3D11_BUFFER_DESC bd{};
  bd.Usage = D3D11_USAGE_IMMUTABLE;
  bd.ByteWidth = static_cast<UINT>(v.size() * sizeof(Vertex));
  bd.BindFlags = D3D11_BIND_VERTEX_BUFFER;
  D3D11_SUBRESOURCE_DATA sd{v.data(), 0, 0};
  out = Mesh{};
  HRESULT hr = device_->CreateBuffer(&bd, &sd, &out.vb);
  if (SUCCEEDED(hr)) {
    bd.ByteWidth = static_cast<UINT>(idx.size() * sizeof(uint16_t));
    bd.BindFlags = D3D11_BIND_INDEX_BUFFER;
    sd.pSysMem = idx.data();
    hr = device_->CreateBuffer(&bd, &sd, &out.ib);
  }
  if (FAILED(hr)) return error = std::string("mesh ") + name + " failed " + hresult(hr), false;
  out.indexCount = static_cast<UINT>(idx.size());
  out.name = name;
  return true;
}

bool Cab::loadCab(std::string& error) {
  // The batch the engine loads for the cab with the tablet accessory fitted.
  std::vector<std::string> paths = {
      "/vehicle/truck/upgrade/lumex/tablet_gps.tobj",
      "/vehicle/truck/upgrade/lumex/tablet_gps.dds",
      "/material/ui/dashboard/tjs/tablet_gps_overlay.tobj",
      "/material/ui/dashboard/tjs/tablet_gps_overlay.dds",
      "/vehicle/truck/upgrade/lumex/gps.dds",
      "/vehicle/truck/upgrade/lumex/tablet_bezel.dds",
      "/material/environment/sky/day_clear.dds",
      "/model/interior/dashboard_plastic.dds",
      "/model/interior/dashboard_plastic_detail.dds",
  };
  TextureQueueBatch batch(paths);
  ULONGLONG queued = GetTickCount64();
  uint64_t processed = batch.submit();
  tablet_ = Texture{};
  if (!makeTexture(1024, 1024, 11, kScreenFormat, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET,
                   D3D11_RESOURCE_MISC_GENERATE_MIPS, nullptr, tablet_, error))
    return false;
  ULONGLONG created = GetTickCount64();
  tablet_.tex->GetDesc(&tabletDesc_);
  cabLoaded_ = true;
  say("cab: " + std::to_string(paths.size()) + " textures queued through the engine queue (RVA 0x1E5350), " +
      std::to_string(processed) + " processed; tablet GPS texture 1024x1024 11 mips format 29 created " +
      std::to_string(created - queued) + " ms after tablet_gps_overlay.dds was queued");
  return makeDashboardTextures(error);
}

bool Cab::setTruck(const TruckModel& truck, std::string& error) {
  truck_ = &truck;
  if (!cabLoaded_) return true;
  return makeDashboardTextures(error);
}

bool Cab::makeDashboardTextures(std::string& error) {
  const TruckModel& t = *truck_;
  std::string folder = std::string("/vehicle/truck/") + t.brandId + "/" + t.vehicleId + "/interior/";
  TextureQueueBatch batch({folder + "gps_screen.dds", folder + "gauges.dds", folder + "gauges.tobj"});
  batch.submit();
  auto nav = bottomUpRows(navPicture(t.gpsWidth, t.gpsHeight), t.gpsWidth, t.gpsHeight);
  auto gauge = bottomUpRows(gaugePicture(t.instrumentWidth, t.instrumentHeight), t.instrumentWidth, t.instrumentHeight);
  UINT bind = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
  if (!makeTexture(t.gpsWidth, t.gpsHeight, t.gpsMips, kScreenFormat, bind, D3D11_RESOURCE_MISC_GENERATE_MIPS, &nav,
                   dashboard_, error) ||
      !makeTexture(t.instrumentWidth, t.instrumentHeight, fullMipCount(t.instrumentWidth, t.instrumentHeight), kScreenFormat,
                   bind, D3D11_RESOURCE_MISC_GENERATE_MIPS, &gauge, instrument_, error))
    return false;
  dashboard_.tex->GetDesc(&dashboardDesc_);
  instrument_.tex->GetDesc(&instrumentDesc_);
  UINT quads = t.gpsIndexCount / 6;
  if (!makeMesh("dashboard-gps", kDashboardGps.x0, kDashboardGps.y0, kDashboardGps.x1, kDashboardGps.y1, quads,
                dashboardMesh_, error, true) ||
      !makeMesh("instrument", kInstrument.x0, kInstrument.y0, kInstrument.x1, kInstrument.y1, quads, instrumentMesh_, error,
                true))
    return false;
  say(std::string("cab: truck ") + t.vehicleId + ": dashboard GPS " + std::to_string(t.gpsWidth) + "x" +
      std::to_string(t.gpsHeight) + " " + std::to_string(t.gpsMips) + " mips in slot 6, DrawIndexed " +
      std::to_string(t.gpsIndexCount) + "; other instrument " + std::to_string(t.instrumentWidth) + "x" +
      std::to_string(t.instrumentHeight) + " with the same count");
  return true;
}

}  // namespace zor::sim
