// Detours that carry the GPS substitution: PSSetShaderResources (tablet accessory) and
// DrawIndexed (dashboard GPS), with the per-frame dashboard resource step and the legacy
// shader-group analysis. The body of the PSSetShaderResources detour is in GpsSubstitution.cpp.
#include <cstdio>

#include "core/Clock.h"
#include "core/DetourGuard.h"
#include "core/Logger.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "gps/GpsTextureReplacer.h"
#include "gps/TruckGpsProfile.h"

namespace zor {

void STDMETHODCALLTYPE detours::psSetShaderResources(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                                                     ID3D11ShaderResourceView* const* views) {
  detour::Scope scope;
  Dx11Core& core = Dx11Core::instance();
  if (scope.nested()) {
    if (auto fn = reinterpret_cast<PSSetShaderResourcesFn>(core.trampoline(Hook::PSSetShaderResources))) {
      fn(context, startSlot, numViews, views);
    }
    return;
  }
  core.onPSSetShaderResources(context, startSlot, numViews, views);
}

void STDMETHODCALLTYPE detours::drawIndexed(ID3D11DeviceContext* context, UINT indexCount, UINT startIndex,
                                            INT baseVertex) {
  detour::Scope scope;
  Dx11Core& core = Dx11Core::instance();
  if (scope.nested()) {
    if (auto fn = reinterpret_cast<DrawIndexedFn>(core.trampoline(Hook::DrawIndexed))) {
      fn(context, indexCount, startIndex, baseVertex);
    }
    return;
  }
  core.onDrawIndexed(context, indexCount, startIndex, baseVertex);
}

namespace {

// The game's view in the screen slot when its texture is the profile's screen texture: a 2D
// texture of the profile's size and mip count, format 29, bindable as a shader resource.
// Returns it with the reference PSGetShaderResources added, or nullptr (nothing held).
ID3D11ShaderResourceView* boundScreenView(ID3D11DeviceContext* context, const TruckGpsProfile& profile) {
  ID3D11ShaderResourceView* view = nullptr;
  context->PSGetShaderResources(kDashboardScreenSlot, 1, &view);
  if (!view) return nullptr;
  ID3D11Resource* resource = nullptr;
  view->GetResource(&resource);
  ID3D11Texture2D* texture = nullptr;
  if (resource) {
    if (FAILED(resource->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&texture)))) texture = nullptr;
    resource->Release();
  }
  bool matches = false;
  if (texture) {
    D3D11_TEXTURE2D_DESC d{};
    texture->GetDesc(&d);
    matches = d.Width == profile.width && d.Height == profile.height && d.MipLevels == profile.mipLevels &&
              d.Format == static_cast<DXGI_FORMAT>(kDashboardScreenFormat) &&
              (d.BindFlags & D3D11_BIND_SHADER_RESOURCE) != 0;
    texture->Release();
  }
  if (matches) return view;
  view->Release();
  return nullptr;
}

}  // namespace

void Dx11Core::onDrawIndexed(ID3D11DeviceContext* context, UINT indexCount, UINT startIndex, INT baseVertex) {
  auto draw = reinterpret_cast<DrawIndexedFn>(trampoline(Hook::DrawIndexed));
  // Every other draw of the frame costs this comparison.
  const uint32_t p = state_->truckProfileId.load(std::memory_order_relaxed);
  const TruckGpsProfile* profile = truckGpsProfile(p);
  if (!profile || indexCount != profile->indexCount) {
    if (draw) draw(context, indexCount, startIndex, baseVertex);
    return;
  }
  auto bind = reinterpret_cast<PSSetShaderResourcesFn>(trampoline(Hook::PSSetShaderResources));
  const bool considered = playbackTarget() == kTargetDashboard && context &&
                          context == contextPeek_.load(std::memory_order_relaxed) && draw && bind &&
                          state_->preparedProfileId.load(std::memory_order_relaxed) == p &&
                          (playback_.active.load(std::memory_order_relaxed) || config_.calibrationMode ||
                           config_.debugForceRed);
  ID3D11ShaderResourceView* gameView = considered ? boundScreenView(context, *profile) : nullptr;
  if (!gameView) {
    if (draw) draw(context, indexCount, startIndex, baseVertex);
    return;
  }
  noteGpsSighting();
  ID3D11ShaderResourceView* ours = GpsTextureReplacer::instance().dashboardViewUnlocked();
  if (!ours) {
    gameView->Release();
    draw(context, indexCount, startIndex, baseVertex);
    return;
  }
  bind(context, kDashboardScreenSlot, 1, &ours);
  draw(context, indexCount, startIndex, baseVertex);
  bind(context, kDashboardScreenSlot, 1, &gameView);
  gameView->Release();
  GpsTextureReplacer::instance().noteReplacement();
  ident_.lastGpsUseTick.store(clock::tickMs());
  if (!state_->surgicalLogged.load(std::memory_order_relaxed) && !state_->surgicalLogged.exchange(true)) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "GPS original reemplazado de forma quirurgica | perfil=%s | slot=%u | DrawIndexed count=%u | "
                  "textura=%ux%u. Dashboard restaurado inmediatamente.",
                  profile->displayName, kDashboardScreenSlot, indexCount, profile->width, profile->height);
    logInfo(line);
  }
}

void Dx11Core::prepareDashboardResource() {
  GameState& s = *state_;
  const uint32_t profile = s.truckProfileId.load();
  if (profile != 0) {
    if (resourceProfileId_.load() == profile && s.preparedProfileId.load() == profile) return;
    const TruckGpsProfile* row = truckGpsProfile(profile);
    if (!row) return;
    if (GpsTextureReplacer::instance().createDashboardResource(row->width, row->height)) {
      resourceProfileId_.store(profile);
      s.preparedProfileId.store(profile);
    }
    return;
  }
  if (resourceProfileId_.load() != 0) {
    GpsTextureReplacer::instance().releaseDashboardResource();
    resourceProfileId_.store(0);
  }
  if (s.preparedProfileId.load() != 0) s.preparedProfileId.store(0);
}

}  // namespace zor
