// Detours that carry the GPS substitution: PSSetShaderResources (tablet accessory) and
// DrawIndexed (dashboard GPS), with the per-frame dashboard resource step and the legacy
// shader-group analysis. The body of the PSSetShaderResources detour is in GpsSubstitution.cpp.
#include "core/Logger.h"
#include "core/DetourGuard.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "dx11/GpsRules.h"
#include "gps/GpsTextureReplacer.h"
#include "gps/TruckGpsProfile.h"

namespace zor {

namespace {

// The binding that needs our work: counted for shut-down, our own calls passed through.
__attribute__((noinline)) void STDMETHODCALLTYPE psSetShaderResourcesBody(ID3D11DeviceContext* context, UINT startSlot,
                                                                          UINT numViews,
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

}  // namespace

inline Dx11Core::BindingRoute Dx11Core::bindingRoute(UINT numViews, ID3D11ShaderResourceView* const* views) const
    noexcept {
  if (!firstPSSetShaderResourcesSeen_.load(std::memory_order_relaxed)) return BindingRoute::Body;  // first-call line
  if (!views) return BindingRoute::Forward;  // (a count of 0 falls through harmlessly: no view is looked at)
  // Identification running: every view it cannot rule out from the view cache is looked at.
  if (ident_.gpsSearchActive.load(std::memory_order_relaxed) && gpsReady_.load(std::memory_order_relaxed)) {
    return viewCacheInUse() ? BindingRoute::ScanArmed : BindingRoute::Body;
  }
  // The size rule of the legacy configuration reads every view; the body has it.
  if (config_.legacyAutoLock) return BindingRoute::Body;
  // Otherwise only a registered GPS view can need us (the body decides whether it is replaced).
  if (!ident_.registeredViews.anyListed()) return BindingRoute::Forward;
  if (numViews != 1) return BindingRoute::ScanRegistered;
  return views[0] && ident_.registeredViews.mayMatch(views[0]) ? BindingRoute::Body : BindingRoute::Forward;
}

// A "yes" from the summary of registered views may be wrong (about one view in a hundred): the
// body then finds out with the exact look, at the cost of a trip through it.
inline bool Dx11Core::bindsRegisteredView(UINT numViews, ID3D11ShaderResourceView* const* views) const noexcept {
  for (UINT i = 0; i < numViews; ++i) {
    const ID3D11ShaderResourceView* view = views[i];
    if (view && ident_.registeredViews.mayMatch(view)) return true;
  }
  return false;
}

inline bool Dx11Core::bindsViewToLookAt(UINT numViews, ID3D11ShaderResourceView* const* views) const noexcept {
  const bool registered = numViews <= gpsrules::kMaxBoundViews && ident_.registeredViews.anyListed();
  const UINT count = numViews < gpsrules::kMaxBoundViews ? numViews : gpsrules::kMaxBoundViews;
  for (UINT i = 0; i < count; ++i) {
    const ID3D11ShaderResourceView* view = views[i];
    if (!view) continue;
    if (registered && ident_.registeredViews.mayMatch(view)) return true;
    if (viewCache_.verdict(view) != ViewDescriptionCache::Verdict::Implausible) return true;
  }
  return false;
}

namespace {

void STDMETHODCALLTYPE forwardBinding(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                                      ID3D11ShaderResourceView* const* views) {
  if (auto fn = reinterpret_cast<PSSetShaderResourcesFn>(Dx11Core::existing().trampoline(Hook::PSSetShaderResources))) {
    return fn(context, startSlot, numViews, views);
  }
}

// Identification stopped, the GPS view registered: only a binding of that view needs us.
__attribute__((noinline)) void STDMETHODCALLTYPE scanForRegisteredView(ID3D11DeviceContext* context, UINT startSlot,
                                                                       UINT numViews,
                                                                       ID3D11ShaderResourceView* const* views) {
  if (Dx11Core::existing().bindsRegisteredView(numViews, views)) {
    return psSetShaderResourcesBody(context, startSlot, numViews, views);
  }
  return forwardBinding(context, startSlot, numViews, views);
}

// Identification running: a view not known to fail the plausibility filter needs us as well.
__attribute__((noinline)) void STDMETHODCALLTYPE scanForViewToLookAt(ID3D11DeviceContext* context, UINT startSlot,
                                                                     UINT numViews,
                                                                     ID3D11ShaderResourceView* const* views) {
  if (Dx11Core::existing().bindsViewToLookAt(numViews, views)) {
    return psSetShaderResourcesBody(context, startSlot, numViews, views);
  }
  return forwardBinding(context, startSlot, numViews, views);
}

}  // namespace

// Thousands of calls a frame, nearly all of ordinary textures: those go on to the game's method
// after a few loads and a look per view (every call on the way is a jump: no frame of ours stays
// on the stack), the rest through the full body.
void STDMETHODCALLTYPE detours::psSetShaderResources(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                                                     ID3D11ShaderResourceView* const* views) {
  Dx11Core& core = Dx11Core::existing();
  switch (core.bindingRoute(numViews, views)) {
    case Dx11Core::BindingRoute::Body: return psSetShaderResourcesBody(context, startSlot, numViews, views);
    case Dx11Core::BindingRoute::ScanRegistered: return scanForRegisteredView(context, startSlot, numViews, views);
    case Dx11Core::BindingRoute::ScanArmed: return scanForViewToLookAt(context, startSlot, numViews, views);
    case Dx11Core::BindingRoute::Forward: break;
  }
  if (auto fn = reinterpret_cast<PSSetShaderResourcesFn>(core.trampoline(Hook::PSSetShaderResources))) {
    return fn(context, startSlot, numViews, views);
  }
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
