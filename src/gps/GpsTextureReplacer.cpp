#include "gps/GpsTextureReplacer.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <string>

#include "core/Clock.h"
#include "core/Logger.h"
#include "core/ComRef.h"
#include "core/DetourGuard.h"

namespace zor {

namespace {

constexpr uint32_t texel(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t b3) {
  return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}

// Colours of the checker and visual patterns, in memory byte order.
constexpr uint32_t kBorder = texel(255, 70, 40, 255);
constexpr uint32_t kEvenCell = texel(18, 116, 230, 255);
constexpr uint32_t kOddCell = texel(10, 62, 155, 255);
constexpr uint32_t kCross = texel(245, 245, 245, 255);

bool evenCell(uint32_t x, uint32_t y) { return ((x / 32 + y / 32) % 2) == 0; }

std::string hexAddress(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

std::string sizeText(uint32_t w, uint32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

bool directFormat(uint32_t format, bool* bgra) {
  switch (format) {
    case DXGI_FORMAT_R8G8B8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM_SRGB:
      *bgra = false;
      return true;
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_B8G8R8X8_UNORM:
    case DXGI_FORMAT_B8G8R8A8_UNORM_SRGB:
    case DXGI_FORMAT_B8G8R8X8_UNORM_SRGB:
      *bgra = true;
      return true;
    default:
      return false;
  }
}

D3D11_TEXTURE2D_DESC textureDesc(uint32_t w, uint32_t h, uint32_t mips, DXGI_FORMAT format, uint32_t bind,
                                 uint32_t misc) {
  D3D11_TEXTURE2D_DESC d{};
  d.Width = w;
  d.Height = h;
  d.MipLevels = mips;
  d.ArraySize = 1;
  d.Format = format;
  d.SampleDesc.Count = 1;
  d.SampleDesc.Quality = 0;
  d.Usage = D3D11_USAGE_DEFAULT;
  d.BindFlags = bind;
  d.CPUAccessFlags = 0;
  d.MiscFlags = misc;
  return d;
}

D3D11_SHADER_RESOURCE_VIEW_DESC viewDesc(DXGI_FORMAT format, UINT mips) {
  D3D11_SHADER_RESOURCE_VIEW_DESC d{};
  d.Format = format;
  d.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
  d.Texture2D.MostDetailedMip = 0;
  d.Texture2D.MipLevels = mips;
  return d;
}

constexpr UINT kAllMips = static_cast<UINT>(-1);
constexpr uint32_t kShaderResource = D3D11_BIND_SHADER_RESOURCE;                              // 0x8
constexpr uint32_t kShaderResourceRenderTarget = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;  // 0x28

}  // namespace

GpsMatchCounters& gpsMatchCounters() noexcept {
  static GpsMatchCounters counters;
  return counters;
}

// ---------------------------------------------------------------------------------------------
// Patterns

namespace gpspattern {

std::vector<uint32_t> checker(uint32_t width, uint32_t height) {
  std::vector<uint32_t> px(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      bool border = x < 6 || y < 6 || x + 6 >= width || y + 6 >= height;
      px[static_cast<size_t>(y) * width + x] = border ? kBorder : (evenCell(x, y) ? kEvenCell : kOddCell);
    }
  }
  return px;
}

std::vector<uint32_t> visual() {
  constexpr uint32_t n = 256;
  std::vector<uint32_t> px(n * n);
  for (uint32_t y = 0; y < n; ++y) {
    for (uint32_t x = 0; x < n; ++x) {
      uint32_t v;
      if (x < 8 || y < 8 || x >= 248 || y >= 248) {
        v = kBorder;
      } else if ((x >= 116 && x <= 140) || (y >= 116 && y <= 140)) {
        v = kCross;
      } else {
        v = evenCell(x, y) ? kEvenCell : kOddCell;
      }
      px[y * n + x] = v;
    }
  }
  return px;
}

bool direct(uint32_t width, uint32_t height, uint32_t format, std::vector<uint32_t>& out) {
  bool bgra = false;
  if (!directFormat(format, &bgra) || width < 1 || width > 4096 || height < 1 || height > 4096) return false;
  auto color = [bgra](uint32_t r, uint32_t g, uint32_t b) { return bgra ? texel(b, g, r, 255) : texel(r, g, b, 255); };
  const uint32_t border = color(0, 255, 40), white = color(255, 255, 255), even = color(255, 0, 180),
                 odd = color(140, 20, 60);
  const int64_t w = width, h = height, cx = w / 2, cy = h / 2;
  out.assign(static_cast<size_t>(width) * height, 0);
  for (int64_t y = 0; y < h; ++y) {
    for (int64_t x = 0; x < w; ++x) {
      uint32_t v;
      if (x < 8 || y < 8 || x >= w - 8 || y >= h - 8) {
        v = border;
      } else if ((x >= cx - 8 && x <= cx + 8) || (y >= cy - 8 && y <= cy + 8)) {
        v = white;
      } else {
        v = evenCell(static_cast<uint32_t>(x), static_cast<uint32_t>(y)) ? even : odd;
      }
      out[static_cast<size_t>(y * w + x)] = v;
    }
  }
  return true;
}

}  // namespace gpspattern

// ---------------------------------------------------------------------------------------------

GpsTextureReplacer& GpsTextureReplacer::instance() noexcept {
  static GpsTextureReplacer replacer;
  return replacer;
}

GpsTextureReplacer::~GpsTextureReplacer() {
  close();
  releaseRedTestTexture();
}

void GpsTextureReplacer::initialize() {
  if (initialized_.exchange(true)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  releaseAllLocked();
  replacementCount_.store(0);
  lastReplacementTick_.store(0);
  directWriteCount_ = 0;
  readyLogged_ = false;
  logInfo("GpsTextureReplacer V1.5.0 inicializado: modo escritura directa sobre textura GPS.");
}

bool GpsTextureReplacer::attachDevice(ID3D11Device* device) {
  if (!initialized_.load() || !device) return false;
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!device_) {
    device->AddRef();
    device_ = device;
    device_->GetImmediateContext(&context_);
    if (!context_) {
      releaseAndClear(device_);
      logError("GpsTextureReplacer V1.5.0: no se pudo obtener el contexto inmediato DX11.");
      return false;
    }
  }
  if (replacementTexture_ && replacementView_) return true;
  return createVisualPatternLocked();
}

void GpsTextureReplacer::setCreateTexture2D(CreateTexture2DFn fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  createTexture2D_ = fn;
}

HRESULT GpsTextureReplacer::createTexture(const D3D11_TEXTURE2D_DESC& desc, const D3D11_SUBRESOURCE_DATA* init,
                                          ID3D11Texture2D** out) {
  *out = nullptr;
  if (createTexture2D_) return createTexture2D_(device_, &desc, init, out);
  return device_->CreateTexture2D(&desc, init, out);
}

bool GpsTextureReplacer::hasSize(ID3D11Texture2D* texture, uint32_t width, uint32_t height, DXGI_FORMAT format) {
  if (!texture) return false;
  D3D11_TEXTURE2D_DESC d{};
  texture->GetDesc(&d);
  return d.Width == width && d.Height == height && d.Format == format;
}

void GpsTextureReplacer::writeReadyLineIfDue() {
  if (readyLogged_ || !currentGpsTexture_ || !currentGpsView_ || !replacementTexture_ || !replacementView_) return;
  readyLogged_ = true;
  logInfo("GpsTextureReplacer listo: el siguiente uso del GPS sera sustituido por el patron visual ZOR.");
}

bool GpsTextureReplacer::createVisualPatternLocked() {
  std::vector<uint32_t> px;
  try {
    px = gpspattern::visual();
  } catch (...) {
    logError("GpsTextureReplacer: no se pudo crear la textura visual de prueba.");
    return false;
  }
  D3D11_TEXTURE2D_DESC desc = textureDesc(256, 256, 1, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, kShaderResource, 0);
  D3D11_SUBRESOURCE_DATA init{px.data(), 1024, 262144};
  ComRef<ID3D11Texture2D> tex;
  if (FAILED(device_->CreateTexture2D(&desc, &init, tex.put())) || !tex) {
    logError("GpsTextureReplacer: no se pudo crear la textura visual de prueba.");
    return false;
  }
  D3D11_SHADER_RESOURCE_VIEW_DESC vd = viewDesc(DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, kAllMips);
  ComRef<ID3D11ShaderResourceView> view;
  if (FAILED(device_->CreateShaderResourceView(tex.get(), &vd, view.put())) || !view) {
    logError("GpsTextureReplacer: no se pudo crear el SRV visual de prueba.");
    return false;
  }
  context_->UpdateSubresource(tex.get(), 0, nullptr, px.data(), 1024, 0);
  releaseAndClear(replacementView_);
  releaseAndClear(replacementTexture_);
  replacementTexture_ = tex.detach();
  replacementView_ = view.detach();
  logInfo("GpsTextureReplacer: patron visual 256x256 creado. Azul con cruz blanca y borde rojo.");
  writeReadyLineIfDue();
  return true;
}

bool GpsTextureReplacer::recreateCheckerLocked(Slot slot, uint32_t width, uint32_t height, const RecreateTexts& texts) {
  ID3D11Texture2D*& texture = slot == Slot::Replacement ? replacementTexture_ : dashboardTexture_;
  ID3D11ShaderResourceView*& view = slot == Slot::Replacement ? replacementView_ : dashboardView_;
  if (slot == Slot::Dashboard) dashboardViewPeek_.store(nullptr, std::memory_order_release);
  releaseAndClear(view);
  releaseAndClear(texture);

  std::vector<uint32_t> px;
  try {
    px = gpspattern::checker(width, height);
  } catch (...) {
    logError(texts.textureFailed);
    return false;
  }
  D3D11_TEXTURE2D_DESC desc = textureDesc(width, height, 0, DXGI_FORMAT_B8G8R8A8_TYPELESS, kShaderResourceRenderTarget,
                                          D3D11_RESOURCE_MISC_GENERATE_MIPS);
  ComRef<ID3D11Texture2D> tex;
  if (FAILED(createTexture(desc, nullptr, tex.put())) || !tex) {
    logError(texts.textureFailed);
    return false;
  }
  D3D11_SHADER_RESOURCE_VIEW_DESC vd = viewDesc(DXGI_FORMAT_B8G8R8A8_UNORM_SRGB, kAllMips);
  ComRef<ID3D11ShaderResourceView> srv;
  if (FAILED(device_->CreateShaderResourceView(tex.get(), &vd, srv.put())) || !srv) {
    logError(texts.viewFailed);
    return false;
  }
  context_->UpdateSubresource(tex.get(), 0, nullptr, px.data(), width * 4, 0);
  context_->GenerateMips(srv.get());
  texture = tex.detach();
  view = srv.detach();
  if (slot == Slot::Dashboard) dashboardViewPeek_.store(view, std::memory_order_release);
  return true;
}

void GpsTextureReplacer::registerGpsTexture(ID3D11Texture2D* texture) {
  if (!initialized_.load() || !texture) return;
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(trackedTextures_.begin(), trackedTextures_.end(), texture) != trackedTextures_.end() ||
      trackedTextures_.size() >= kMaxTracked) {
    writeReadyLineIfDue();
    return;
  }
  try {
    trackedTextures_.reserve(kMaxTracked);
  } catch (...) {
    return;
  }
  texture->AddRef();
  trackedTextures_.push_back(texture);
  currentGpsTexture_ = texture;
  directPattern_.clear();
  directPitch_ = directWidth_ = directHeight_ = directFormat_ = 0;

  D3D11_TEXTURE2D_DESC d{};
  texture->GetDesc(&d);
  const uint32_t format = static_cast<uint32_t>(d.Format);
  bool prepared = false;
  try {
    prepared = gpspattern::direct(d.Width, d.Height, format, directPattern_);
  } catch (...) {
    directPattern_.clear();
    directPattern_.shrink_to_fit();
  }
  bool ignored;
  if (prepared) {
    directPitch_ = d.Width * 4;
    directWidth_ = d.Width;
    directHeight_ = d.Height;
    directFormat_ = format;
    logInfo("V1.5.0: patron directo preparado para GPS " + sizeText(d.Width, d.Height) + " Format=" +
            std::to_string(format) + ". Se escribira desde Present.");
  } else if (directFormat(format, &ignored) && d.Width >= 1 && d.Width <= 4096 && d.Height >= 1 && d.Height <= 4096) {
    // Right format and size, but the pattern could not be allocated: no direct test this time.
  } else {
    logWarning("V1.5.0: textura GPS detectada, pero su formato no permite la prueba directa. Formato=" +
               std::to_string(format) + " Size=" + sizeText(d.Width, d.Height));
  }
  logInfo("GpsTextureReplacer: textura GPS registrada (" + std::to_string(trackedTextures_.size()) + " rastreadas) | " +
          hexAddress(texture));
  writeReadyLineIfDue();
}

void GpsTextureReplacer::registerGpsView(ID3D11ShaderResourceView* view) {
  if (!initialized_.load() || !view) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(trackedViews_.begin(), trackedViews_.end(), view) == trackedViews_.end() &&
      trackedViews_.size() < kMaxTracked) {
    bool reserved = true;
    try {
      trackedViews_.reserve(kMaxTracked);
    } catch (...) {
      reserved = false;
    }
    if (reserved) {
      view->AddRef();
      trackedViews_.push_back(view);
      currentGpsView_ = view;
      logInfo("GpsTextureReplacer: SRV del GPS registrado (" + std::to_string(trackedViews_.size()) + " rastreados) | " +
              hexAddress(view));
    }
  }
  writeReadyLineIfDue();
}

ID3D11ShaderResourceView* GpsTextureReplacer::findReplacement(ID3D11ShaderResourceView* view) {
  if (!initialized_.load(std::memory_order_acquire) || !view) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!replacementView_ || trackedTextures_.empty()) return nullptr;
  if (std::find(trackedViews_.begin(), trackedViews_.end(), view) == trackedViews_.end()) return nullptr;
  GpsMatchCounters& counters = gpsMatchCounters();
  const uint64_t byView = counters.matchesByView.fetch_add(1) + 1;
  replacementView_->AddRef();
  lastReplacementTick_.store(clock::tickMs(), std::memory_order_release);
  const uint64_t n = replacementCount_.fetch_add(1) + 1;
  if (n == 1 || n == 10000) {
    logInfo("V3.4.0 GPS MATCH: reemplazo aplicado por SRV exacto | reemplazos " + std::to_string(n) + " | matches SRV=" +
            std::to_string(byView) + " | matches textura=" + std::to_string(counters.matchesByTexture.load()));
  }
  return replacementView_;
}

bool GpsTextureReplacer::prepareForGpsSize() {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!device_ || !context_ || !currentGpsTexture_) return false;
  D3D11_TEXTURE2D_DESC d{};
  currentGpsTexture_->GetDesc(&d);
  if (replacementTexture_ && hasSize(replacementTexture_, d.Width, d.Height, DXGI_FORMAT_B8G8R8A8_TYPELESS)) return true;
  if (!recreateCheckerLocked(Slot::Replacement, d.Width, d.Height,
                             {"V1.8.0: no se pudo crear la textura de reemplazo del tamano del GPS.",
                              "V1.8.0: no se pudo crear el SRV de reemplazo del tamano del GPS."})) {
    return false;
  }
  logInfo("V1.8.0: textura de reemplazo recreada a " + sizeText(d.Width, d.Height) +
          " (coincide con el tamano real del GPS).");
  writeReadyLineIfDue();
  return true;
}

bool GpsTextureReplacer::createForConfiguredSize(uint32_t width, uint32_t height) {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!device_ || !context_ || width == 0 || height == 0) return false;
  if (replacementTexture_ && hasSize(replacementTexture_, width, height, DXGI_FORMAT_B8G8R8A8_TYPELESS)) return true;
  if (!recreateCheckerLocked(Slot::Replacement, width, height,
                             {"V1.11.0: no se pudo crear la textura de reemplazo por tamano configurado.",
                              "V1.11.0: no se pudo crear el SRV de reemplazo por tamano configurado."})) {
    return false;
  }
  logInfo("V1.11.0: textura de reemplazo lista (" + sizeText(width, height) +
          "), sustituira CUALQUIER textura que coincida con el tamano/formato configurado, cada vez que aparezca.");
  writeReadyLineIfDue();
  return true;
}

bool GpsTextureReplacer::createDashboardResource(uint32_t width, uint32_t height) {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!device_ || !context_ || width == 0 || height == 0) return false;
  if (dashboardTexture_ && dashboardView_ && hasSize(dashboardTexture_, width, height, DXGI_FORMAT_B8G8R8A8_TYPELESS)) {
    return true;
  }
  if (!recreateCheckerLocked(Slot::Dashboard, width, height,
                             {"GPS original: no se pudo crear el recurso ZOR privado.",
                              "GPS original: no se pudo crear el SRV ZOR privado."})) {
    return false;
  }
  logInfo("GPS original: recurso ZOR privado listo (" + sizeText(width, height) +
          "); no comparte ni escribe la textura del dashboard.");
  return true;
}

void GpsTextureReplacer::releaseDashboardResource() {
  std::lock_guard<std::mutex> lock(mutex_);
  dashboardViewPeek_.store(nullptr, std::memory_order_release);
  releaseAndClear(dashboardView_);
  releaseAndClear(dashboardTexture_);
}

ID3D11ShaderResourceView* GpsTextureReplacer::getRedDiagnosticView() {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  return redDiagnosticViewLocked();
}

ID3D11ShaderResourceView* GpsTextureReplacer::redDiagnosticViewRef() {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  ID3D11ShaderResourceView* view = redDiagnosticViewLocked();
  if (view) view->AddRef();
  return view;
}

ID3D11ShaderResourceView* GpsTextureReplacer::redDiagnosticViewLocked() {
  if (redView_) return redView_;
  if (!device_ || !context_ || !currentGpsTexture_) return nullptr;
  D3D11_TEXTURE2D_DESC gd{};
  currentGpsTexture_->GetDesc(&gd);
  std::vector<uint32_t> px;
  try {
    px.assign(static_cast<size_t>(gd.Width) * gd.Height, gpspattern::kRedTexel);
  } catch (...) {
    logError("V0.6.6: no se pudo crear la textura de diagnostico ROJA.");
    return nullptr;
  }
  D3D11_TEXTURE2D_DESC desc = textureDesc(gd.Width, gd.Height, 0, DXGI_FORMAT_B8G8R8A8_UNORM, kShaderResourceRenderTarget,
                                          D3D11_RESOURCE_MISC_GENERATE_MIPS);
  ComRef<ID3D11Texture2D> tex;
  if (FAILED(createTexture(desc, nullptr, tex.put())) || !tex) {
    logError("V0.6.6: no se pudo crear la textura de diagnostico ROJA.");
    return nullptr;
  }
  D3D11_SHADER_RESOURCE_VIEW_DESC vd = viewDesc(DXGI_FORMAT_B8G8R8A8_UNORM, kAllMips);
  ComRef<ID3D11ShaderResourceView> view;
  if (FAILED(device_->CreateShaderResourceView(tex.get(), &vd, view.put())) || !view) {
    logError("V0.6.6: no se pudo crear el SRV de diagnostico ROJO.");
    return nullptr;
  }
  context_->UpdateSubresource(tex.get(), 0, nullptr, px.data(), gd.Width * 4, 0);
  context_->GenerateMips(view.get());
  redTexture_ = tex.detach();
  redView_ = view.detach();
  logInfo("V0.6.6: textura de diagnostico ROJA lista (" + sizeText(gd.Width, gd.Height) + ").");
  return redView_;
}

bool GpsTextureReplacer::createRedTestTexture(ID3D11Device* device) {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (redTestView_) return true;
  if (!device) {
    logError("V1.4.0: no se pudo crear la textura GPU de prueba porque el dispositivo DX11 es nulo.");
    return false;
  }
  std::vector<uint32_t> px;
  try {
    px.assign(1024u * 512u, gpspattern::kRedTexel);
  } catch (...) {
    logError("V1.4.0: no fue posible reservar memoria para la textura roja 1024x512.");
    return false;
  }
  D3D11_TEXTURE2D_DESC desc = textureDesc(1024, 512, 1, DXGI_FORMAT_B8G8R8A8_UNORM, kShaderResource, 0);
  D3D11_SUBRESOURCE_DATA init{px.data(), 4096, 0};
  ComRef<ID3D11Texture2D> tex;
  if (FAILED(device->CreateTexture2D(&desc, &init, tex.put())) || !tex) {
    logError("V1.4.0: ID3D11Device::CreateTexture2D fallo al crear la textura roja 1024x512.");
    return false;
  }
  D3D11_SHADER_RESOURCE_VIEW_DESC vd = viewDesc(DXGI_FORMAT_B8G8R8A8_UNORM, 1);
  ComRef<ID3D11ShaderResourceView> view;
  if (FAILED(device->CreateShaderResourceView(tex.get(), &vd, view.put())) || !view) {
    logError("V1.4.0: ID3D11Device::CreateShaderResourceView fallo para la textura roja 1024x512.");
    return false;
  }
  releaseAndClear(redTestTexture_);
  redTestTexture_ = tex.detach();
  redTestView_ = view.detach();
  logInfo(
      "V1.4.0: textura GPU roja 1024x512 y ShaderResourceView creados correctamente. Todavia no se reemplaza ninguna "
      "textura de ATS.");
  return true;
}

void GpsTextureReplacer::releaseRedTestTexture() {
  std::lock_guard<std::mutex> lock(mutex_);
  releaseAndClear(redTestView_);
  releaseAndClear(redTestTexture_);
}

void GpsTextureReplacer::releaseTracked() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (ID3D11ShaderResourceView*& v : trackedViews_) releaseAndClear(v);
  for (ID3D11Texture2D*& t : trackedTextures_) releaseAndClear(t);
  trackedViews_.clear();
  trackedTextures_.clear();
  currentGpsTexture_ = nullptr;
  currentGpsView_ = nullptr;
  releaseAndClear(redView_);
  releaseAndClear(redTexture_);
  logWarning(
      "V0.6.6 RELOCK: se solto el enganche anterior (SRV nunca visto en uso); se reintentara con la proxima textura "
      "candidata.");
}

void GpsTextureReplacer::releaseAllLocked() {
  dashboardViewPeek_.store(nullptr, std::memory_order_release);
  releaseAndClear(dashboardView_);
  releaseAndClear(dashboardTexture_);
  releaseAndClear(replacementView_);
  releaseAndClear(replacementTexture_);
  currentGpsTexture_ = nullptr;
  currentGpsView_ = nullptr;
  for (ID3D11ShaderResourceView*& v : trackedViews_) releaseAndClear(v);
  for (ID3D11Texture2D*& t : trackedTextures_) releaseAndClear(t);
  trackedViews_.clear();
  trackedTextures_.clear();
  releaseAndClear(redView_);
  releaseAndClear(redTexture_);
  directPattern_.clear();
  directPattern_.shrink_to_fit();
  directPitch_ = directWidth_ = directHeight_ = directFormat_ = 0;
  releaseAndClear(context_);
  releaseAndClear(device_);
}

void GpsTextureReplacer::releaseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  releaseAllLocked();
}

void GpsTextureReplacer::close() {
  if (!initialized_.exchange(false)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  releaseAllLocked();
  readyLogged_ = false;
  logInfo("GpsTextureReplacer V1.5.0 cerrado. Reemplazos SRV: " + std::to_string(replacementCount_.load()) +
          " | escrituras directas: " + std::to_string(directWriteCount_));
}

bool GpsTextureReplacer::writeTargetFrame(bool dashboard, FrameWriter write, void* arg) {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  ID3D11Texture2D* texture = dashboard ? dashboardTexture_ : replacementTexture_;
  ID3D11ShaderResourceView* view = dashboard ? dashboardView_ : replacementView_;
  if (!context_ || !texture || !write) return false;
  if (!write(texture, arg)) return false;
  if (view) context_->GenerateMips(view);
  return true;
}

void GpsTextureReplacer::noteReplacement() noexcept {
  lastReplacementTick_.store(clock::tickMs(), std::memory_order_release);
  replacementCount_.fetch_add(1);
}

bool GpsTextureReplacer::replacedWithin(uint64_t milliseconds) const noexcept {
  const uint64_t stamp = lastReplacementTick_.load(std::memory_order_acquire);
  if (stamp == 0) return false;
  const uint64_t now = clock::tickMs();
  return now >= stamp && now - stamp <= milliseconds;
}

uint64_t GpsTextureReplacer::msSinceLastReplacement() const noexcept {
  const uint64_t stamp = lastReplacementTick_.load(std::memory_order_acquire);
  if (stamp == 0) return std::numeric_limits<uint64_t>::max();
  const uint64_t now = clock::tickMs();
  return now < stamp ? 0 : now - stamp;
}

size_t GpsTextureReplacer::trackedTextureCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return trackedTextures_.size();
}

bool GpsTextureReplacer::trackingComplete() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !trackedTextures_.empty() && !trackedViews_.empty() && replacementTexture_ && replacementView_;
}

ID3D11ShaderResourceView* GpsTextureReplacer::currentReplacementView() {
  std::lock_guard<std::mutex> lock(mutex_);
  return replacementView_;
}

namespace {
template <class T>
T* shared(T* p) {
  if (p) p->AddRef();
  return p;
}
}  // namespace

ID3D11Texture2D* GpsTextureReplacer::replacementTextureRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(replacementTexture_);
}
ID3D11ShaderResourceView* GpsTextureReplacer::replacementViewRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(replacementView_);
}
ID3D11Texture2D* GpsTextureReplacer::dashboardTextureRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(dashboardTexture_);
}
ID3D11Texture2D* GpsTextureReplacer::redTestTextureRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(redTestTexture_);
}
ID3D11ShaderResourceView* GpsTextureReplacer::redTestViewRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(redTestView_);
}
ID3D11Texture2D* GpsTextureReplacer::currentGpsTexture() {
  std::lock_guard<std::mutex> lock(mutex_);
  return currentGpsTexture_;
}

std::vector<uint32_t> GpsTextureReplacer::directPattern(uint32_t* width, uint32_t* height, uint32_t* format) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (width) *width = directWidth_;
  if (height) *height = directHeight_;
  if (format) *format = directFormat_;
  return directPattern_;
}

}  // namespace zor
