#include "gps/GpsTextureReplacer.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <string>

#include "core/ProcessExit.h"
#include "core/Clock.h"
#include "core/Logger.h"
#include "core/ComRef.h"
#include "core/DetourGuard.h"

namespace zor {

namespace {

std::string hexAddress(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

std::string sizeText(uint32_t w, uint32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

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

GpsTextureReplacer& GpsTextureReplacer::instance() noexcept {
  static GpsTextureReplacer replacer;
  return replacer;
}

GpsTextureReplacer::~GpsTextureReplacer() {
  if (process::ending()) return;  // the system takes back what the game's device held for us
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
    device_ = ComRef<ID3D11Device>::share(device);
    device_->GetImmediateContext(context_.put());
    if (!context_) {
      device_.reset();
      logError("GpsTextureReplacer V1.5.0: no se pudo obtener el contexto inmediato DX11.");
      return false;
    }
  }
  if (replacement_.ready()) return true;
  return createVisualPatternLocked();
}

void GpsTextureReplacer::setCreateTexture2D(CreateTexture2DFn fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  createTexture2D_ = fn;
}

HRESULT GpsTextureReplacer::createTexture(const D3D11_TEXTURE2D_DESC& desc, const D3D11_SUBRESOURCE_DATA* init,
                                          ID3D11Texture2D** out) {
  *out = nullptr;
  if (createTexture2D_) return createTexture2D_(device_.get(), &desc, init, out);
  return device_->CreateTexture2D(&desc, init, out);
}

bool GpsTextureReplacer::createOwned(const TextureRecipe& recipe, OwnedTexture& out, ID3D11Device* device) {
  ID3D11Device* dev = device ? device : device_.get();
  const UINT pitch = recipe.desc.Width * 4;
  const D3D11_SUBRESOURCE_DATA init{recipe.pixels, pitch, pitch * recipe.desc.Height};
  ComRef<ID3D11Texture2D> texture;
  const D3D11_SUBRESOURCE_DATA* initial = recipe.initialData ? &init : nullptr;
  const HRESULT hr = recipe.unhookedCreate && !device ? createTexture(recipe.desc, initial, texture.put())
                                                      : dev->CreateTexture2D(&recipe.desc, initial, texture.put());
  if (FAILED(hr) || !texture) {
    if (recipe.textureFailed) logError(recipe.textureFailed);
    return false;
  }
  D3D11_SHADER_RESOURCE_VIEW_DESC vd = viewDesc(recipe.viewFormat, recipe.viewMips);
  ComRef<ID3D11ShaderResourceView> view;
  if (FAILED(dev->CreateShaderResourceView(texture.get(), &vd, view.put())) || !view) {
    if (recipe.viewFailed) logError(recipe.viewFailed);
    return false;
  }
  if (recipe.writePixels) context_->UpdateSubresource(texture.get(), 0, nullptr, recipe.pixels, pitch, 0);
  if (recipe.generateMips) context_->GenerateMips(view.get());
  out.texture = std::move(texture);
  out.view = std::move(view);
  contentEpoch_.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

bool GpsTextureReplacer::hasSize(ID3D11Texture2D* texture, uint32_t width, uint32_t height, DXGI_FORMAT format) {
  if (!texture) return false;
  D3D11_TEXTURE2D_DESC d{};
  texture->GetDesc(&d);
  return d.Width == width && d.Height == height && d.Format == format;
}

bool GpsTextureReplacer::isTracked(ID3D11ShaderResourceView* view) const {
  return std::any_of(trackedViews_.begin(), trackedViews_.end(), [view](const auto& v) { return v.get() == view; });
}

void GpsTextureReplacer::publishDashboardView() noexcept {
  dashboardViewPeek_.store(dashboard_.view.get(), std::memory_order_release);
}

void GpsTextureReplacer::writeReadyLineIfDue() {
  if (readyLogged_ || !currentGpsTexture_ || !currentGpsView_ || !replacement_.ready()) return;
  readyLogged_ = true;
  logInfo("GpsTextureReplacer listo: el siguiente uso del GPS sera sustituido por el patron visual ZOR.");
}

bool GpsTextureReplacer::createVisualPatternLocked() {
  static constexpr char kFailed[] = "GpsTextureReplacer: no se pudo crear la textura visual de prueba.";
  std::vector<uint32_t> px;
  try {
    px = gpspattern::visual();
  } catch (...) {
    logError(kFailed);
    return false;
  }
  const TextureRecipe recipe{textureDesc(256, 256, 1, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, kShaderResource, 0),
                             DXGI_FORMAT_R8G8B8A8_UNORM_SRGB,
                             kAllMips,
                             px.data(),
                             /*initialData=*/true,
                             /*writePixels=*/true,
                             /*generateMips=*/false,
                             /*unhookedCreate=*/false,
                             kFailed,
                             "GpsTextureReplacer: no se pudo crear el SRV visual de prueba."};
  if (!createOwned(recipe, replacement_)) return false;
  logInfo("GpsTextureReplacer: patron visual 256x256 creado. Azul con cruz blanca y borde rojo.");
  writeReadyLineIfDue();
  return true;
}

bool GpsTextureReplacer::recreateCheckerLocked(OwnedTexture& slot, uint32_t width, uint32_t height,
                                               const char* textureFailed, const char* viewFailed) {
  const bool dashboard = &slot == &dashboard_;
  if (dashboard) dashboardViewPeek_.store(nullptr, std::memory_order_release);
  slot.release();

  std::vector<uint32_t> px;
  try {
    px = gpspattern::checker(width, height);
  } catch (...) {
    if (textureFailed) logError(textureFailed);
    return false;
  }
  const TextureRecipe recipe{textureDesc(width, height, 0, DXGI_FORMAT_B8G8R8A8_TYPELESS, kShaderResourceRenderTarget,
                                         D3D11_RESOURCE_MISC_GENERATE_MIPS),
                             DXGI_FORMAT_B8G8R8A8_UNORM_SRGB,
                             kAllMips,
                             px.data(),
                             /*initialData=*/false,
                             /*writePixels=*/true,
                             /*generateMips=*/true,
                             /*unhookedCreate=*/true,
                             textureFailed,
                             viewFailed};
  if (!createOwned(recipe, slot)) return false;
  if (dashboard) publishDashboardView();
  return true;
}

void GpsTextureReplacer::registerGpsTexture(ID3D11Texture2D* texture) {
  if (!initialized_.load() || !texture) return;
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::any_of(trackedTextures_.begin(), trackedTextures_.end(), [texture](const auto& t) { return t.get() == texture; }) ||
      trackedTextures_.size() >= kMaxTracked) {
    writeReadyLineIfDue();
    return;
  }
  try {
    trackedTextures_.reserve(kMaxTracked);
  } catch (...) {
    return;
  }
  trackedTextures_.push_back(ComRef<ID3D11Texture2D>::share(texture));
  currentGpsTexture_ = texture;
  directPattern_.clear();
  directWidth_ = directHeight_ = directFormat_ = 0;

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
  if (prepared) {
    directWidth_ = d.Width;
    directHeight_ = d.Height;
    directFormat_ = format;
    logInfo("V1.5.0: patron directo preparado para GPS " + sizeText(d.Width, d.Height) + " Format=" +
            std::to_string(format) + ". Se escribira desde Present.");
  } else if (gpspattern::hasDirectFormat(format) && d.Width >= 1 && d.Width <= 4096 && d.Height >= 1 && d.Height <= 4096) {
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
  if (!isTracked(view) && trackedViews_.size() < kMaxTracked) {
    bool reserved = true;
    try {
      trackedViews_.reserve(kMaxTracked);
    } catch (...) {
      reserved = false;
    }
    if (reserved) {
      trackedViews_.push_back(ComRef<ID3D11ShaderResourceView>::share(view));
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
  if (!replacement_.view || trackedTextures_.empty() || !isTracked(view)) return nullptr;
  GpsMatchCounters& counters = gpsMatchCounters();
  const uint64_t byView = counters.matchesByView.fetch_add(1) + 1;
  replacement_.view->AddRef();
  lastReplacementTick_.store(clock::tickMs(), std::memory_order_release);
  const uint64_t n = replacementCount_.fetch_add(1) + 1;
  if (n == 1 || n == 10000) {
    logInfo("V3.4.0 GPS MATCH: reemplazo aplicado por SRV exacto | reemplazos " + std::to_string(n) + " | matches SRV=" +
            std::to_string(byView) + " | matches textura=" + std::to_string(counters.matchesByTexture.load()));
  }
  return replacement_.view.get();
}

bool GpsTextureReplacer::prepareForGpsSize() {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!device_ || !context_ || !currentGpsTexture_) return false;
  D3D11_TEXTURE2D_DESC d{};
  currentGpsTexture_->GetDesc(&d);
  if (hasSize(replacement_.texture.get(), d.Width, d.Height, DXGI_FORMAT_B8G8R8A8_TYPELESS)) return true;
  if (!recreateCheckerLocked(replacement_, d.Width, d.Height,
                             "V1.8.0: no se pudo crear la textura de reemplazo del tamano del GPS.",
                             "V1.8.0: no se pudo crear el SRV de reemplazo del tamano del GPS.")) {
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
  if (hasSize(replacement_.texture.get(), width, height, DXGI_FORMAT_B8G8R8A8_TYPELESS)) return true;
  if (!recreateCheckerLocked(replacement_, width, height,
                             "V1.11.0: no se pudo crear la textura de reemplazo por tamano configurado.",
                             "V1.11.0: no se pudo crear el SRV de reemplazo por tamano configurado.")) {
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
  if (dashboard_.view && hasSize(dashboard_.texture.get(), width, height, DXGI_FORMAT_B8G8R8A8_TYPELESS)) return true;
  // The graphics core asks again every frame after a failure: the failure lines are thinned
  // (1st, 10th, then every 100th in a row).
  const uint64_t attempt = dashboardFailures_ + 1;
  const bool report = attempt == 1 || attempt == 10 || attempt % 100 == 0;
  if (!recreateCheckerLocked(dashboard_, width, height,
                             report ? "GPS original: no se pudo crear el recurso ZOR privado." : nullptr,
                             report ? "GPS original: no se pudo crear el SRV ZOR privado." : nullptr)) {
    dashboardFailures_ = attempt;
    return false;
  }
  dashboardFailures_ = 0;
  logInfo("GPS original: recurso ZOR privado listo (" + sizeText(width, height) +
          "); no comparte ni escribe la textura del dashboard.");
  return true;
}

void GpsTextureReplacer::releaseDashboardResource() {
  std::lock_guard<std::mutex> lock(mutex_);
  dashboardViewPeek_.store(nullptr, std::memory_order_release);
  dashboard_.release();
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

ID3D11ShaderResourceView* GpsTextureReplacer::readyRedDiagnosticViewRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  ID3D11ShaderResourceView* view = red_.view.get();
  if (view) view->AddRef();
  return view;
}

ID3D11ShaderResourceView* GpsTextureReplacer::redDiagnosticViewLocked() {
  static constexpr char kFailed[] = "V0.6.6: no se pudo crear la textura de diagnostico ROJA.";
  if (red_.view) return red_.view.get();
  if (!device_ || !context_ || !currentGpsTexture_) return nullptr;
  D3D11_TEXTURE2D_DESC gd{};
  currentGpsTexture_->GetDesc(&gd);
  std::vector<uint32_t> px;
  try {
    px.assign(static_cast<size_t>(gd.Width) * gd.Height, gpspattern::kRedTexel);
  } catch (...) {
    logError(kFailed);
    return nullptr;
  }
  const TextureRecipe recipe{textureDesc(gd.Width, gd.Height, 0, DXGI_FORMAT_B8G8R8A8_UNORM, kShaderResourceRenderTarget,
                                         D3D11_RESOURCE_MISC_GENERATE_MIPS),
                             DXGI_FORMAT_B8G8R8A8_UNORM,
                             kAllMips,
                             px.data(),
                             /*initialData=*/false,
                             /*writePixels=*/true,
                             /*generateMips=*/true,
                             /*unhookedCreate=*/true,
                             kFailed,
                             "V0.6.6: no se pudo crear el SRV de diagnostico ROJO."};
  if (!createOwned(recipe, red_)) return nullptr;
  logInfo("V0.6.6: textura de diagnostico ROJA lista (" + sizeText(gd.Width, gd.Height) + ").");
  return red_.view.get();
}

bool GpsTextureReplacer::createRedTestTexture(ID3D11Device* device) {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (redTest_.view) return true;
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
  const TextureRecipe recipe{textureDesc(1024, 512, 1, DXGI_FORMAT_B8G8R8A8_UNORM, kShaderResource, 0),
                             DXGI_FORMAT_B8G8R8A8_UNORM,
                             1,
                             px.data(),
                             /*initialData=*/true,
                             /*writePixels=*/false,
                             /*generateMips=*/false,
                             /*unhookedCreate=*/false,
                             "V1.4.0: ID3D11Device::CreateTexture2D fallo al crear la textura roja 1024x512.",
                             "V1.4.0: ID3D11Device::CreateShaderResourceView fallo para la textura roja 1024x512."};
  if (!createOwned(recipe, redTest_, device)) return false;
  logInfo(
      "V1.4.0: textura GPU roja 1024x512 y ShaderResourceView creados correctamente. Todavia no se reemplaza ninguna "
      "textura de ATS.");
  return true;
}

void GpsTextureReplacer::releaseRedTestTexture() {
  std::lock_guard<std::mutex> lock(mutex_);
  redTest_.release();
}

void GpsTextureReplacer::releaseTrackedLocked() {
  trackedViews_.clear();
  trackedTextures_.clear();
  currentGpsTexture_ = nullptr;
  currentGpsView_ = nullptr;
  red_.release();
}

void GpsTextureReplacer::releaseTracked() {
  std::lock_guard<std::mutex> lock(mutex_);
  releaseTrackedLocked();
  logWarning(
      "V0.6.6 RELOCK: se solto el enganche anterior (SRV nunca visto en uso); se reintentara con la proxima textura "
      "candidata.");
}

void GpsTextureReplacer::releaseAllLocked() {
  dashboardViewPeek_.store(nullptr, std::memory_order_release);
  dashboard_.release();
  dashboardFailures_ = 0;
  replacement_.release();
  releaseTrackedLocked();
  directPattern_.clear();
  directPattern_.shrink_to_fit();
  directWidth_ = directHeight_ = directFormat_ = 0;
  context_.reset();
  device_.reset();
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

bool GpsTextureReplacer::writeTargetFrame(bool dashboard, FrameWriter write, void* arg, bool liftPredication) {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  const OwnedTexture& target = dashboard ? dashboard_ : replacement_;
  if (!context_ || !target.texture || !write) return false;
  // A predicate the game has set would suppress the copy and the mips: it is set aside for them.
  ComRef<ID3D11Predicate> predicate;
  BOOL predicateValue = FALSE;
  if (liftPredication) {
    context_->GetPredication(predicate.put(), &predicateValue);
    if (predicate) context_->SetPredication(nullptr, FALSE);
  }
  const bool written = write(target.texture.get(), arg);
  if (written && target.view) context_->GenerateMips(target.view.get());
  if (predicate) context_->SetPredication(predicate.get(), predicateValue);
  return written;
}

void GpsTextureReplacer::restoreTestPatterns() {
  detour::OwnCallsScope own;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!context_) return;
  for (const OwnedTexture* slot : {&replacement_, &dashboard_}) {
    if (!slot->ready()) continue;
    D3D11_TEXTURE2D_DESC d{};
    slot->texture->GetDesc(&d);
    std::vector<uint32_t> px;
    try {
      px = d.Format == DXGI_FORMAT_B8G8R8A8_TYPELESS ? gpspattern::checker(d.Width, d.Height) : gpspattern::visual();
    } catch (...) {
      continue;  // the last picture stays until the next try
    }
    if (px.size() != static_cast<size_t>(d.Width) * d.Height) continue;
    context_->UpdateSubresource(slot->texture.get(), 0, nullptr, px.data(), d.Width * 4, 0);
    if (d.MipLevels != 1) context_->GenerateMips(slot->view.get());
    contentEpoch_.fetch_add(1, std::memory_order_acq_rel);
  }
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
  return !trackedTextures_.empty() && !trackedViews_.empty() && replacement_.ready();
}

ID3D11ShaderResourceView* GpsTextureReplacer::currentReplacementView() {
  std::lock_guard<std::mutex> lock(mutex_);
  return replacement_.view.get();
}

namespace {
template <class T>
T* shared(const ComRef<T>& p) {
  return ComRef<T>::share(p.get()).detach();
}
}  // namespace

ID3D11Texture2D* GpsTextureReplacer::replacementTextureRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(replacement_.texture);
}
ID3D11ShaderResourceView* GpsTextureReplacer::replacementViewRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(replacement_.view);
}
ID3D11Texture2D* GpsTextureReplacer::dashboardTextureRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(dashboard_.texture);
}
ID3D11Texture2D* GpsTextureReplacer::redTestTextureRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(redTest_.texture);
}
ID3D11ShaderResourceView* GpsTextureReplacer::redTestViewRef() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shared(redTest_.view);
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
