// Detours that carry the GPS substitution: PSSetShaderResources (tablet accessory) and
// DrawIndexed (dashboard GPS), with the per-frame dashboard resource step and the legacy
// shader-group analysis. The body of the PSSetShaderResources detour is in GpsSubstitution.cpp.
#include "core/Logger.h"
#include "core/DetourGuard.h"
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

void Dx11Core::onDrawIndexed(ID3D11DeviceContext* context, UINT indexCount, UINT startIndex, INT baseVertex) {
  if (auto fn = reinterpret_cast<DrawIndexedFn>(trampoline(Hook::DrawIndexed))) {
    fn(context, indexCount, startIndex, baseVertex);
  }
}

void Dx11Core::prepareDashboardResource() {
  GameState& s = *state_;
  const uint32_t profile = s.truckProfileId.load();
  if (profile != 0) {
    if (resourceProfileId_.load() == profile && s.preparedProfileId.load() == profile) return;
    uint32_t width = 0, height = 0;
    if (!truckProfileScreenSize(profile, &width, &height)) return;
    if (GpsTextureReplacer::instance().createDashboardResource(width, height)) {
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
