// Identification of the tablet GPS screen among the textures the game binds to pixel shaders.
// Two rules decide: the overlay fingerprint bound in slot 6 and confirmed by a second pixel
// shader or by the tablet's mesh (the default), and the size-based lock of the legacy
// configuration. Every plausible texture is counted in the candidate table on the way.
//
// Cost: per bound view a look at the view cache (the texture description is read with four COM
// calls once in a view's life while the cache is in use); a texture failing the plausibility
// filter is dropped before any lock. The candidate lock is taken for plausible
// textures only, the hook lock only for fingerprint textures in slot 6, and only while the
// search is armed (it disarms itself 2 s after the first fingerprint confirmation).
#include <algorithm>
#include <cstdio>

#include "core/Clock.h"
#include "core/Logger.h"
#include "core/ComRef.h"
#include "dx11/Dx11Core.h"
#include "dx11/GpsRules.h"
#include "gps/GpsTextureReplacer.h"
#include "gps/PrismTextureQueueRedirector.h"

namespace zor {

namespace {

unsigned long long hex(const void* p) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)); }

// Takes one of the three fingerprint confirmations; false when all are taken. The start of the
// search window is stored before the count becomes non-zero, so a reader that sees a
// confirmation also sees when the window opened.
bool claimOverlayConfirmation(GpsIdentification& id, uint64_t nowNs) noexcept {
  uint32_t count = id.overlayHookCount.load();
  while (count < gpsrules::kMaxOverlayConfirmations) {
    if (count == 0) id.firstHookTime.store(nowNs);
    if (id.overlayHookCount.compare_exchange_weak(count, count + 1)) return true;
  }
  return false;
}

}  // namespace

bool Dx11Core::searchWindowEnded() const noexcept {
  if (ident_.overlayHookCount.load() == 0) return false;
  const uint64_t now = clock::steadyNs();
  const uint64_t first = ident_.firstHookTime.load();
  return now > first && now - first > gpsrules::kSearchWindowNs;
}

bool Dx11Core::registerGpsResources(ID3D11Texture2D* texture, ID3D11ShaderResourceView* view,
                                    ID3D11DeviceContext* context) {
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  if (texture) replacer.registerGpsTexture(texture);
  if (view) {
    replacer.registerGpsView(view);
    ident_.registeredViews.add(view);  // after the replacer has it
  }
  // Sizing the replacement writes through the immediate context: only a binding made on that
  // context does it on the spot. A deferred context's binding comes from a thread of the game's
  // own; the render thread does it at the next Present.
  if (context && context == contextPeek_.load(std::memory_order_acquire)) return replacer.prepareForGpsSize();
  gpsSizePending_.store(true, std::memory_order_release);
  return false;
}

bool Dx11Core::describeView(ID3D11ShaderResourceView* view, ViewFacts& facts) {
  const bool cached = viewCacheInUse();
  if (cached && viewCache_.find(view, facts)) return facts.texture != nullptr;
  facts = ViewFacts{};
  ComRef<ID3D11Resource> resource;
  view->GetResource(resource.put());
  if (resource) {
    D3D11_RESOURCE_DIMENSION dimension = D3D11_RESOURCE_DIMENSION_UNKNOWN;
    resource->GetType(&dimension);
    ComRef<ID3D11Texture2D> texture;
    if (dimension == D3D11_RESOURCE_DIMENSION_TEXTURE2D &&
        SUCCEEDED(resource->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(texture.put()))) &&
        texture) {
      D3D11_TEXTURE2D_DESC desc{};
      texture->GetDesc(&desc);
      // No reference is kept: the view holds its texture for as long as it lives.
      facts.texture = texture.get();
      facts.width = desc.Width;
      facts.height = desc.Height;
      facts.format = static_cast<uint32_t>(desc.Format);
      facts.mipLevels = desc.MipLevels;
      facts.bindFlags = desc.BindFlags;
      facts.plausible = gpsrules::isPlausibleGpsTexture(desc);
    }
  }
  if (cached) viewCache_.store(view, facts);
  return facts.texture != nullptr;
}

void Dx11Core::trackGpsCandidates(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                                  ID3D11ShaderResourceView* const* views) {
  if (!context || !views || numViews == 0) return;
  if (!ident_.gpsSearchActive.load(std::memory_order_relaxed) || !gpsReady_.load(std::memory_order_acquire)) return;

  // The end of the search window is checked once per call, at its first plausible texture:
  // nothing below happens to any other, and most calls then never read the clock.
  bool windowChecked = false;
  const UINT count = std::min(numViews, gpsrules::kMaxBoundViews);
  for (UINT i = 0; i < count; ++i) {
    ID3D11ShaderResourceView* view = views[i];
    if (!view) continue;
    ViewFacts facts;
    if (!describeView(view, facts) || !facts.plausible) continue;
    if (!windowChecked) {
      windowChecked = true;
      if (searchWindowEnded()) {
        ident_.gpsSearchActive.store(false);
        return;
      }
    }

    const D3D11_TEXTURE2D_DESC desc = facts.desc();
    ID3D11Texture2D* texture = facts.texture;
    const uint32_t slot = startSlot + i;
    if (slot == gpsrules::kOverlaySlot && gpsrules::hasOverlayFingerprint(desc) &&
        ident_.overlayHookCount.load() < gpsrules::kMaxOverlayConfirmations) {
      confirmByFingerprint(context, texture, view);
    }
    recordCandidate(texture, view, desc, slot, numViews);
    if (config_.legacyAutoLock && !ident_.gpsLocked.load(std::memory_order_relaxed)) {
      trySizeLock(context, texture, view, desc, slot);
    }
  }
}

void Dx11Core::confirmByFingerprint(ID3D11DeviceContext* context, ID3D11Texture2D* texture,
                                    ID3D11ShaderResourceView* view) {
  ComRef<ID3D11PixelShader> shader;
  context->PSGetShader(shader.put(), nullptr, nullptr);
  ID3D11Buffer* mesh = tabletMeshIndexBuffer_.load();
  const bool meshConfirmed = mesh != nullptr && mesh == currentIndexBuffer_.load(std::memory_order_relaxed);

  bool confirmed = false;
  try {
    std::lock_guard<std::mutex> lock(ident_.hookMutex);
    std::vector<ID3D11PixelShader*>& shaders = ident_.overlayShaderSets[view];
    // Whatever the context reports counts, "no pixel shader" included: a pass of the tablet
    // that binds before it sets its shader is a pass of its own.
    if (shaders.size() < gpsrules::kMaxShadersPerView &&
        std::find(shaders.begin(), shaders.end(), shader.get()) == shaders.end()) {
      shaders.push_back(shader.get());
    }
    auto& views = ident_.hookedGpsViews;
    if (std::find(views.begin(), views.end(), view) == views.end() && (meshConfirmed || shaders.size() >= 2)) {
      ident_.hookedGpsTextures.reserve(ident_.hookedGpsTextures.size() + 1);
      views.reserve(views.size() + 1);
      if (claimOverlayConfirmation(ident_, clock::steadyNs())) {
        texture->AddRef();
        view->AddRef();
        ident_.hookedGpsTextures.push_back(texture);
        views.push_back(view);
        confirmed = true;
      }
    }
  } catch (...) {
    return;  // out of memory: this binding confirms nothing
  }
  if (!confirmed) return;

  registerGpsResources(texture, view, context);
  char line[256];
  std::snprintf(line, sizeof line,
                "V0.8.9 %s confirmada por huella+multi-shader: tex=0x%016llX SRV=0x%016llX slot=%u -> enganchada.",
                "OVERLAY", hex(texture), hex(view), gpsrules::kOverlaySlot);
  logInfo(line);
}

void Dx11Core::recordCandidate(ID3D11Texture2D* texture, ID3D11ShaderResourceView* view,
                               const D3D11_TEXTURE2D_DESC& desc, uint32_t slot, UINT numViews) {
  const uint64_t frame = frameCounter_.load(std::memory_order_relaxed);
  ID3D11PixelShader* shader = currentPixelShader_.load(std::memory_order_relaxed);
  try {
    std::lock_guard<std::mutex> lock(ident_.candidateMutex);
    auto [it, inserted] = ident_.candidates.try_emplace(texture);
    GpsCandidate& c = it->second;
    if (inserted) {
      c.useCount = 1;
      c.firstSeenFrame = frame;
      c.width = desc.Width;
      c.height = desc.Height;
      c.format = static_cast<uint32_t>(desc.Format);
      c.mipLevels = desc.MipLevels;
      c.bindFlags = desc.BindFlags;
      c.firstSlot = slot;
    } else {
      ++c.useCount;
    }
    c.lastSeenFrame = frame;
    c.lastSlot = slot;
    c.texture = texture;
    c.view = view;
    c.numViews = numViews;
    c.pixelShader = shader;
  } catch (...) {
    // Out of memory: the texture stays uncounted.
  }
}

void Dx11Core::trySizeLock(ID3D11DeviceContext* context, ID3D11Texture2D* texture, ID3D11ShaderResourceView* view,
                           const D3D11_TEXTURE2D_DESC& desc, uint32_t slot) {
  if (!gpsrules::matchesConfiguredTexture(config_, desc) || !gpsrules::slotAccepted(config_, slot)) return;
  uint64_t uses = 0;
  {
    std::lock_guard<std::mutex> lock(ident_.candidateMutex);
    auto it = ident_.candidates.find(texture);
    if (it != ident_.candidates.end()) uses = it->second.useCount;
  }
  const uint64_t needed = config_.minHitsToLock > 0 ? static_cast<uint64_t>(config_.minHitsToLock) : 0;
  if (uses < needed) return;
  bool expected = false;
  if (!ident_.gpsLocked.compare_exchange_strong(expected, true)) return;

  registerGpsResources(texture, view, context);
  char line[256];
  std::snprintf(line, sizeof line,
                "V1.9.0 GPS LOCK: textura %ux%u (Mips=%u, Slot=%u, BindFlags=0x%08X) fijada como GPS tras %llu usos.",
                desc.Width, desc.Height, desc.MipLevels, slot, desc.BindFlags, static_cast<unsigned long long>(uses));
  logInfo(line);
}

void Dx11Core::confirmOverlayAtCreation(const D3D11_TEXTURE2D_DESC* desc, HRESULT result, ID3D11Texture2D** texture) {
  if (!desc || !gpsrules::hasOverlayFingerprint(*desc)) return;
  if (FAILED(result) || !texture || !*texture || !gpsReady_.load(std::memory_order_acquire)) return;
  const uint64_t queued = PrismTextureQueueRedirector::instance().overlayDdsTick();
  if (queued == 0) return;
  const uint64_t now = clock::tickMs();
  if (now < queued || now - queued > config_.ddsWindowMs) return;
  // Made after the search had ended, it is the cab loaded again (a loading screen): the view the
  // game binds of it is searched for anew, as after a truck change. Without this the search
  // stays off and the tablet keeps the game's picture until a camera return happens to re-arm it.
  if (!ident_.gpsSearchActive.load() || searchWindowEnded()) ident_.rearmSearch(clock::steadyNs());
  if (!claimOverlayConfirmation(ident_, clock::steadyNs())) return;

  ID3D11Texture2D* created = *texture;
  char line[160];
  std::snprintf(line, sizeof line, "%s -> 0x%016llX enganchada.", "V0.7.6 OVERLAY tablet_gps_overlay.dds", hex(created));
  logInfo(line);
  // Only the texture is registered here (the device is free-threaded); sizing the replacement
  // writes through the immediate context, so the next Present does it.
  GpsTextureReplacer::instance().registerGpsTexture(created);
  gpsSizePending_.store(true, std::memory_order_release);
}

void Dx11Core::prepareDeferredGpsSize() {
  if (!gpsSizePending_.load(std::memory_order_acquire) || !gpsSizePending_.exchange(false)) return;
  GpsTextureReplacer::instance().prepareForGpsSize();
}

void Dx11Core::prepareDeferredRedView() {
  if (!redViewPending_.load(std::memory_order_acquire) || !redViewPending_.exchange(false)) return;
  GpsTextureReplacer::instance().getRedDiagnosticView();
}

}  // namespace zor
