// Creation, enabling and removal of the graphics hooks.
#include <string>

#include "core/DetourGuard.h"
#include "core/Logger.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "core/HookApi.h"
#include "gps/GpsTextureReplacer.h"

namespace zor {

namespace {

size_t idx(Hook h) { return static_cast<size_t>(h); }

std::string withStatus(const char* text, MH_STATUS st) { return std::string(text) + hookStatusText(st); }

// Removal order of the hooks besides Present and DrawIndexed.
constexpr Hook kOptionalOrder[] = {Hook::CreateShaderResourceView, Hook::PSSetShaderResources, Hook::PSSetShader,
                                   Hook::CreateTexture2D, Hook::IASetIndexBuffer, Hook::CreateSwapChain,
                                   Hook::CreateSwapChainForHwnd};

}  // namespace

void Dx11Core::installOptionalHook(Hook hook, void* detour, const char* createText, const char* enableText) {
  void* target = hookTarget(hook);
  if (!target) return;
  const HookApi& api = hookApi();
  LPVOID original = nullptr;
  MH_STATUS st = api.createHook(target, detour, &original);
  if (st != MH_OK) {
    logWarning(withStatus(createText, st));
    trampolines_[idx(hook)].store(nullptr);
    return;
  }
  // The trampoline is in place before the first call can reach the detour.
  trampolines_[idx(hook)].store(original);
  st = api.enableHook(target);
  if (st != MH_OK) {
    logWarning(withStatus(enableText, st));
    api.removeHook(target);
    trampolines_[idx(hook)].store(nullptr);
    return;
  }
  installed_[idx(hook)].store(true);
}

bool Dx11Core::installHooks() {
  const HookApi& api = hookApi();
  void* present = hookTarget(Hook::Present);
  if (!minHookReady_.load() || !present) return false;
  hooksClosing_.store(false);
  // Views may have come and gone unseen while the CreateShaderResourceView hook was not in place.
  viewCache_.clear();

  // Present (required).
  LPVOID original = nullptr;
  MH_STATUS st = api.createHook(present, reinterpret_cast<LPVOID>(&detours::present), &original);
  if (st != MH_OK) {
    logError(withStatus("V1.1.0: MH_CreateHook(Present) fallo: ", st));
    trampolines_[idx(Hook::Present)].store(nullptr);
    return false;
  }
  trampolines_[idx(Hook::Present)].store(original);
  st = api.enableHook(present);
  if (st != MH_OK) {
    logError(withStatus("V1.1.0: MH_EnableHook(Present) fallo: ", st));
    api.removeHook(present);
    trampolines_[idx(Hook::Present)].store(nullptr);
    return false;
  }
  auto dropPresent = [&] {
    api.disableHook(present);
    api.removeHook(present);
    trampolines_[idx(Hook::Present)].store(nullptr);
  };

  // PSSetShaderResources (required).
  void* psResources = hookTarget(Hook::PSSetShaderResources);
  if (!psResources) {
    dropPresent();
    return false;
  }
  original = nullptr;
  st = api.createHook(psResources, reinterpret_cast<LPVOID>(&detours::psSetShaderResources), &original);
  if (st != MH_OK) {
    logError(withStatus("V1.3.3: MH_CreateHook(PSSetShaderResources) fallo: ", st));
    dropPresent();
    trampolines_[idx(Hook::PSSetShaderResources)].store(nullptr);
    return false;
  }
  trampolines_[idx(Hook::PSSetShaderResources)].store(original);
  st = api.enableHook(psResources);
  if (st != MH_OK) {
    logError(withStatus("V1.3.3: MH_EnableHook(PSSetShaderResources) fallo: ", st));
    api.removeHook(psResources);
    dropPresent();
    trampolines_[idx(Hook::PSSetShaderResources)].store(nullptr);
    return false;
  }
  installed_[idx(Hook::Present)].store(true);
  installed_[idx(Hook::PSSetShaderResources)].store(true);

  // Optional hooks.
  installOptionalHook(Hook::PSSetShader, reinterpret_cast<void*>(&detours::psSetShader),
                      "V1.13.0: MH_CreateHook(PSSetShader) fallo: ", "V1.13.0: MH_EnableHook(PSSetShader) fallo: ");
  installOptionalHook(Hook::CreateTexture2D, reinterpret_cast<void*>(&detours::createTexture2D),
                      "V1.15.0: MH_CreateHook(CreateTexture2D) fallo: ",
                      "V1.15.0: MH_EnableHook(CreateTexture2D) fallo: ");
  if (installed_[idx(Hook::CreateTexture2D)].load()) {
    GpsTextureReplacer::instance().setCreateTexture2D(
        reinterpret_cast<CreateTexture2DFn>(trampoline(Hook::CreateTexture2D)));
  }
  installOptionalHook(Hook::CreateShaderResourceView, reinterpret_cast<void*>(&detours::createShaderResourceView),
                      "V0.6.2: MH_CreateHook(CreateShaderResourceView) fallo: ",
                      "V0.6.2: MH_EnableHook(CreateShaderResourceView) fallo: ");
  installOptionalHook(Hook::IASetIndexBuffer, reinterpret_cast<void*>(&detours::iaSetIndexBuffer),
                      "V0.9.2: MH_CreateHook(IASetIndexBuffer) fallo: ",
                      "V0.9.2: MH_EnableHook(IASetIndexBuffer) fallo: ");
  installOptionalHook(Hook::CreateSwapChain, reinterpret_cast<void*>(&detours::createSwapChain),
                      "V1.1.0: MH_CreateHook(CreateSwapChain) fallo: ", "V1.1.0: MH_EnableHook(CreateSwapChain) fallo: ");
  installOptionalHook(Hook::CreateSwapChainForHwnd, reinterpret_cast<void*>(&detours::createSwapChainForHwnd),
                      "V1.1.0: MH_CreateHook(CreateSwapChainForHwnd) fallo: ",
                      "V1.1.0: MH_EnableHook(CreateSwapChainForHwnd) fallo: ");

  // DrawIndexed: created disabled; switched frame by frame.
  if (void* drawIndexed = hookTarget(Hook::DrawIndexed)) {
    original = nullptr;
    st = api.createHook(drawIndexed, reinterpret_cast<LPVOID>(&detours::drawIndexed), &original);
    if (st == MH_OK) {
      trampolines_[idx(Hook::DrawIndexed)].store(original);
      drawIndexedCreated_.store(true);
    } else {
      logWarning(withStatus("GPS original: no se pudo preparar el diagnostico DrawIndexed: ", st));
      trampolines_[idx(Hook::DrawIndexed)].store(nullptr);
    }
  }

  // The engine's notices and the watch over our patches name the methods.
  for (size_t i = 0; i < kHookCount; ++i) {
    if (void* target = targets_[i].load()) nameHookTarget(target, hookName(static_cast<Hook>(i)));
  }
  hooksInstalled_.store(true);
  return true;
}

void Dx11Core::removeHooks() {
  if (!hooksInstalled_.exchange(false)) return;
  const HookApi& api = hookApi();
  // No frame may switch DrawIndexed on again from here on.
  hooksClosing_.store(true);


  // Phase 1: disable everything, so no new call enters a detour. The trampolines stay valid
  // while threads that are already inside a detour finish.
  if (drawIndexedCreated_.load()) api.disableHook(hookTarget(Hook::DrawIndexed));
  for (Hook h : kOptionalOrder) {
    if (installed_[idx(h)].load()) api.disableHook(hookTarget(h));
  }
  void* present = hookTarget(Hook::Present);
  if (present) {
    MH_STATUS st = api.disableHook(present);
    if (st != MH_OK && st != MH_ERROR_NOT_CREATED && st != MH_ERROR_DISABLED) {
      logWarning(withStatus("V1.1.0: MH_DisableHook(Present) devolvio ", st));
    }
  }

  // Phase 2: wait until no thread is executing one of our detours. A frame that was in flight
  // may have switched DrawIndexed on again: switch it off and wait once more. All waits of the
  // shut-down share one deadline; when it passes with a thread still inside, the hooks stay off
  // but in place (their trampolines are that thread's way back) and nothing is removed.
  detour::ShutdownWindow window;
  bool drained = waitForDetours(window.deadlineNs());
  if (drained && drawIndexedCreated_.load()) {
    api.disableHook(hookTarget(Hook::DrawIndexed));
    drained = waitForDetours(window.deadlineNs());
  }
  if (!drained) {
    if (drawIndexedCreated_.load()) api.disableHook(hookTarget(Hook::DrawIndexed));
    hooksStranded_.store(true);
    return;
  }

  // Phase 3.
  removeDisabledHooks();
}

void Dx11Core::removeDisabledHooks() {
  const HookApi& api = hookApi();
  // Remove, in order, and forget the trampolines.
  if (drawIndexedCreated_.load()) {
    api.removeHook(hookTarget(Hook::DrawIndexed));
    drawIndexedCreated_.store(false);
    drawIndexedEnabled_.store(false);
    trampolines_[idx(Hook::DrawIndexed)].store(nullptr);
  }
  for (Hook h : kOptionalOrder) {
    if (!installed_[idx(h)].load()) continue;
    if (h == Hook::CreateTexture2D) GpsTextureReplacer::instance().setCreateTexture2D(nullptr);
    api.removeHook(hookTarget(h));
    installed_[idx(h)].store(false);
    trampolines_[idx(h)].store(nullptr);
    if (h == Hook::PSSetShader) currentPixelShader_.store(nullptr);
    if (h == Hook::IASetIndexBuffer) {
      currentIndexBuffer_.store(nullptr);
      tabletMeshIndexBuffer_.store(nullptr);
    }
  }
  void* present = hookTarget(Hook::Present);
  if (present) {
    MH_STATUS st = api.removeHook(present);
    if (st != MH_OK && st != MH_ERROR_NOT_CREATED) {
      logWarning(withStatus("V1.1.0: MH_RemoveHook(Present) devolvio ", st));
    }
  }
  installed_[idx(Hook::Present)].store(false);
  trampolines_[idx(Hook::Present)].store(nullptr);
}

}  // namespace zor
