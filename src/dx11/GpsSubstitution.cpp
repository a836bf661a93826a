// The PSSetShaderResources detour: identification first, then the replacement view (or the
// red diagnostic view) in the place of each bound view that is the tablet GPS screen, and the
// game's method with the edited array.
//
// Common path: no allocation and no lock. A view is looked up in the replacer (which locks)
// only when the lock-free filter of registered views holds it; the edited array lives on the
// stack and is filled only once something is replaced.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/Clock.h"
#include "core/Logger.h"
#include "core/ComRef.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "dx11/GpsRules.h"
#include "gps/Calibration.h"
#include "gps/GpsTextureReplacer.h"

namespace zor {

namespace {

unsigned long long hex(const void* p) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)); }

// Process-wide: the draw contexts described so far, and the deferred-context warning.
std::atomic<int> g_drawContextLines{0};
constexpr int kMaxDrawContextLines = 12;
std::atomic<bool> g_foreignContextWarned{false};

// The edited copy of one binding call and the references it holds until the call is made.
struct EditedBinding {
  ID3D11ShaderResourceView* views[gpsrules::kMaxBoundViews];
  ID3D11ShaderResourceView* held[gpsrules::kMaxBoundViews];
  UINT heldCount = 0;
  bool changed = false;

  void start(ID3D11ShaderResourceView* const* original, UINT count) noexcept {
    if (changed) return;
    std::memcpy(views, original, sizeof(views[0]) * count);
    changed = true;
  }
  // Puts owned (a reference the binding now holds) at index i.
  void put(UINT i, ID3D11ShaderResourceView* owned) noexcept {
    views[i] = owned;
    held[heldCount++] = owned;
  }
  void releaseHeld() noexcept {
    for (UINT i = 0; i < heldCount; ++i) held[i]->Release();
    heldCount = 0;
  }
};

}  // namespace

void Dx11Core::onPSSetShaderResources(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                                      ID3D11ShaderResourceView* const* views) {
  if (!firstPSSetShaderResourcesSeen_.load(std::memory_order_relaxed) &&
      !firstPSSetShaderResourcesSeen_.exchange(true)) {
    logInfo("V1.3.4: primera llamada real de PSSetShaderResources interceptada correctamente.");
  }
  auto forward = reinterpret_cast<PSSetShaderResourcesFn>(trampoline(Hook::PSSetShaderResources));
  if (!forward) return;
  // A new device the game made, before its first Present: nothing of ours belongs on it yet.
  if (!onAdoptedDevice(context)) {
    forward(context, startSlot, numViews, views);
    return;
  }
  const bool tablet = playbackTarget() == kTargetTablet;
  if (tablet) {
    try {
      trackGpsCandidates(context, startSlot, numViews, views);
    } catch (...) {
      // Identification skips this call; the binding goes on.
    }
  }

  if (numViews == 0 || numViews > gpsrules::kMaxBoundViews || !views) {
    forward(context, startSlot, numViews, views);
    return;
  }
  const bool active = tablet && (playback_.active.load(std::memory_order_relaxed) || calibrationMode() ||
                                 config_.debugForceRed);
  if (!active) {
    forward(context, startSlot, numViews, views);
    return;
  }

  EditedBinding edit;
  const bool onImmediate = context && context == contextPeek_.load(std::memory_order_acquire);
  try {
    GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
    const bool sizeRule = config_.legacyAutoLock && gpsrules::sizeConfigured(config_);
    for (UINT i = 0; i < numViews; ++i) {
      ID3D11ShaderResourceView* view = views[i];
      if (!view) continue;
      const uint32_t slot = startSlot + i;

      ID3D11ShaderResourceView* r = nullptr;
      if (ident_.registeredViews.mayContain(view)) r = replacer.findReplacement(view);
      if (r) {
        ID3D11Buffer* mesh = tabletMeshIndexBuffer_.load();
        ID3D11Buffer* bound = currentIndexBuffer_.load(std::memory_order_relaxed);
        if (mesh && mesh != bound) {
          r->Release();  // the view drawn on another mesh than the tablet's
          r = nullptr;
        } else if (!mesh && bound) {
          ID3D11Buffer* expected = nullptr;
          if (tabletMeshIndexBuffer_.compare_exchange_strong(expected, bound)) {
            char line[192];
            std::snprintf(line, sizeof line,
                          "V0.9.2: malla del tablet confirmada por index buffer -> 0x%016llX. De aca en mas solo se "
                          "sustituye esa malla.",
                          hex(bound));
            logInfo(line);
          }
        }
      }
      if (r) {
        noteMatchedSubstitution(context, view, slot, startSlot, numViews);
        edit.start(views, numViews);
        if (config_.debugForceRed) {
          // Making the red view writes through the immediate context: a binding on another
          // context gets it once the render thread has made it.
          ID3D11ShaderResourceView* red =
              onImmediate ? replacer.redDiagnosticViewRef() : replacer.readyRedDiagnosticViewRef();
          if (!red && !onImmediate) redViewPending_.store(true, std::memory_order_release);
          if (red) {
            r->Release();
            edit.put(i, red);
            continue;
          }
        }
        edit.put(i, r);
        continue;
      }
      if (sizeRule) {
        if (ID3D11ShaderResourceView* s = sizeRuleReplacement(view, slot)) {
          edit.start(views, numViews);
          edit.put(i, s);
        }
      }
    }
  } catch (...) {
    // Whatever was replaced so far is still bound; the references are released below.
  }

  if (!edit.changed) {
    forward(context, startSlot, numViews, views);
    return;
  }
  noteGpsSighting();
  ID3D11DeviceContext* immediate = contextPeek_.load(std::memory_order_relaxed);
  if (immediate && context != immediate && !g_foreignContextWarned.exchange(true)) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "V1.8.1 DIAGNOSTICO: PSSetShaderResources llego desde un context_ DISTINTO al inmediato guardado "
                  "(llamada=0x%016llX, guardado=0x%016llX). Puede ser un contexto diferido.",
                  hex(context), hex(immediate));
    logWarning(line);
  }
  // The picture goes into the texture before the texture goes into the slot: making its mips
  // binds it for output, which would take it out of the input slots again.
  if (context == immediate) {
    try {
      uploadAtBind(false);
    } catch (...) {
      // The binding goes on with the picture already there.
    }
  }
  forward(context, startSlot, numViews, edit.views);
  edit.releaseHeld();
}

void Dx11Core::noteMatchedSubstitution(ID3D11DeviceContext* context, ID3D11ShaderResourceView* view, uint32_t slot,
                                       UINT startSlot, UINT numViews) {
  ident_.gpsInUse.store(true);
  ident_.lastGpsUseTick.store(clock::tickMs());
  logGpsSampling(context, view);
  if (!ident_.srvUsedLogged.load(std::memory_order_relaxed) && !ident_.srvUsedLogged.exchange(true)) {
    char line[192];
    std::snprintf(line, sizeof line,
                  "V0.7.0 GPS SRV USADO POR PIXEL SHADER: SRV=0x%016llX slot=%u. Enlace completo confirmado.", hex(view),
                  slot);
    logInfo(line);
  }
  if (g_drawContextLines.load(std::memory_order_relaxed) >= kMaxDrawContextLines || !context) return;
  const int n = g_drawContextLines.fetch_add(1) + 1;
  if (n > kMaxDrawContextLines) return;
  ComRef<ID3D11PixelShader> shader;
  context->PSGetShader(shader.put(), nullptr, nullptr);
  char line[256];
  std::snprintf(line, sizeof line,
                "V0.8.5 CONTEXTO DEL DRAW #%d: SRV=0x%016llX slot=%u | PixelShader=0x%016llX | numberOfViews=%u "
                "startSlot=%u",
                n, hex(view), slot, hex(shader.get()), numViews, startSlot);
  logInfo(line);
}

void Dx11Core::logGpsSampling(ID3D11DeviceContext* context, ID3D11ShaderResourceView* gameView) {
  if (samplingLogged_.load(std::memory_order_relaxed) || !context || !gameView || samplingLogged_.exchange(true)) return;
  D3D11_SHADER_RESOURCE_VIEW_DESC vd{};
  gameView->GetDesc(&vd);
  const UINT viewMips = vd.ViewDimension == D3D11_SRV_DIMENSION_TEXTURE2D ? vd.Texture2D.MipLevels : 0;
  UINT textureMips = 0;
  ComRef<ID3D11Resource> resource;
  gameView->GetResource(resource.put());
  ComRef<ID3D11Texture2D> texture;
  if (resource) resource->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(texture.put()));
  if (texture) {
    D3D11_TEXTURE2D_DESC td{};
    texture->GetDesc(&td);
    textureMips = td.MipLevels;
  }
  constexpr UINT kSamplers = 4;
  ID3D11SamplerState* samplers[kSamplers] = {};
  context->PSGetSamplers(0, kSamplers, samplers);
  char line[400];
  int n = std::snprintf(line, sizeof line,
                        "GPS: el juego muestrea la vista del GPS con %d mips (textura con %u); samplers del pixel "
                        "shader:",
                        viewMips == static_cast<UINT>(-1) ? -1 : static_cast<int>(viewMips), textureMips);
  for (UINT i = 0; i < kSamplers && n > 0 && static_cast<size_t>(n) < sizeof line; ++i) {
    if (!samplers[i]) {
      n += std::snprintf(line + n, sizeof line - n, " s%u=-", i);
      continue;
    }
    D3D11_SAMPLER_DESC sd{};
    samplers[i]->GetDesc(&sd);
    n += std::snprintf(line + n, sizeof line - n, " s%u=filtro 0x%X anisotropia %u LOD %g..%g", i,
                       static_cast<unsigned>(sd.Filter), sd.MaxAnisotropy, sd.MinLOD, sd.MaxLOD);
    samplers[i]->Release();
  }
  logInfo(line);
}

ID3D11ShaderResourceView* Dx11Core::sizeRuleReplacement(ID3D11ShaderResourceView* view, uint32_t slot) {
  if (!gpsrules::slotAccepted(config_, slot)) return nullptr;
  if (ident_.gpsShaderFixed.load(std::memory_order_relaxed) &&
      currentPixelShader_.load(std::memory_order_relaxed) != ident_.gpsPixelShader.load(std::memory_order_relaxed)) {
    return nullptr;
  }
  ViewFacts facts;
  if (!describeView(view, facts)) return nullptr;
  if (!gpsrules::matchesConfiguredTexture(config_, facts.desc())) return nullptr;
  // A reference of its own: a texture creation on another thread may replace the view meanwhile.
  return GpsTextureReplacer::instance().replacementViewRef();
}

}  // namespace zor
