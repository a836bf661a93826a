// Detours that carry the GPS substitution: PSSetShaderResources (tablet accessory) and
// DrawIndexed (dashboard GPS), with the per-frame dashboard resource step and the legacy
// shader-group analysis. The body of the PSSetShaderResources detour is in GpsSubstitution.cpp.
#include <cstdio>

#include "core/Clock.h"
#include "core/DetourGuard.h"
#include "core/Logger.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "dx11/GpsRules.h"
#include "gps/Calibration.h"
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
  core.noteScreenSlotBinding(context, startSlot, numViews, views);
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

static_assert(kDashboardScreenSlot == 6, "the binding detour notes slot 6");

namespace {

bool isScreenTexture(const ViewFacts& facts, const TruckGpsProfile& profile) noexcept {
  return facts.texture && facts.width == profile.width && facts.height == profile.height &&
         facts.mipLevels == profile.mipLevels && facts.format == kDashboardScreenFormat &&
         (facts.bindFlags & D3D11_BIND_SHADER_RESOURCE) != 0;
}

}  // namespace

// The view the binding detour last saw go into slot 6 is known (from the view cache) not to be
// the profile's screen texture: nothing in that slot needs a look. An out-of-date hint costs at
// most a missed replacement until the game binds the slot again, never a wrong one.
bool Dx11Core::hintedNotScreen(const TruckGpsProfile& profile) const noexcept {
  const ID3D11ShaderResourceView* hint = screenSlotHint_.load(std::memory_order_relaxed);
  ViewFacts facts;
  return hint && viewCacheInUse() && viewCache_.find(hint, facts) && !isScreenTexture(facts, profile);
}

// The game's view in the screen slot when its texture is the profile's screen texture: a 2D
// texture of the profile's size and mip count, format 29, bindable as a shader resource.
// Returns it with the reference PSGetShaderResources added, or nullptr (nothing held). What the
// view is comes from the view cache after its first look.
ID3D11ShaderResourceView* Dx11Core::boundScreenView(ID3D11DeviceContext* context, const TruckGpsProfile& profile) {
  ID3D11ShaderResourceView* view = nullptr;
  context->PSGetShaderResources(kDashboardScreenSlot, 1, &view);
  if (!view) return nullptr;
  ViewFacts facts;
  if (describeView(view, facts) && isScreenTexture(facts, profile)) return view;
  view->Release();
  return nullptr;
}

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
                          (playback_.active.load(std::memory_order_relaxed) || calibrationMode() ||
                           config_.debugForceRed);
  // Another instrument drawn with the screen's index count costs a few loads; the first draw
  // of a view, or one the binding detour did not see bound, looks at the context.
  ID3D11ShaderResourceView* gameView =
      considered && !hintedNotScreen(*profile) ? boundScreenView(context, *profile) : nullptr;
  if (!gameView) {
    if (draw) draw(context, indexCount, startIndex, baseVertex);
    return;
  }
  noteGpsSighting();
  logGpsSampling(context, gameView);
  ID3D11ShaderResourceView* ours = GpsTextureReplacer::instance().dashboardViewUnlocked();
  if (!ours) {
    gameView->Release();
    draw(context, indexCount, startIndex, baseVertex);
    return;
  }
  // The picture goes into our resource before it is bound (its mips are made as a render target).
  try {
    uploadAtBind(true);
  } catch (...) {
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
