// The watch over our patches: other overlays hook the same methods as we do, and a hooker that
// was there before us puts its saved bytes back over our patch when it leaves.
#include <chrono>
#include <string>

#include "core/Clock.h"
#include "core/HookApi.h"
#include "core/Logger.h"
#include "dx11/Dx11Core.h"

namespace zor {
namespace {

constexpr uint64_t kWatchIntervalNs = 1'000'000'000;
constexpr Hook kWatched[] = {Hook::Present, Hook::PSSetShaderResources, Hook::PSSetShader, Hook::IASetIndexBuffer};
constexpr uint8_t kToldChained = 1;
constexpr uint8_t kToldGone = 2;
constexpr uint8_t kToldFailed = 4;

size_t idx(Hook h) { return static_cast<size_t>(h); }

}  // namespace

const char* hookName(Hook h) noexcept {
  switch (h) {
    case Hook::Present: return "Present";
    case Hook::ResizeBuffers: return "ResizeBuffers";
    case Hook::PSSetShaderResources: return "PSSetShaderResources";
    case Hook::PSSetShader: return "PSSetShader";
    case Hook::CreateTexture2D: return "CreateTexture2D";
    case Hook::CreateShaderResourceView: return "CreateShaderResourceView";
    case Hook::IASetIndexBuffer: return "IASetIndexBuffer";
    case Hook::DrawIndexed: return "DrawIndexed";
    case Hook::CreateSwapChain: return "CreateSwapChain";
    case Hook::CreateSwapChainForHwnd: return "CreateSwapChainForHwnd";
    case Hook::Count: break;
  }
  return "?";
}

void Dx11Core::watchHookPatches() {
  std::unique_lock<std::mutex> lock(bootstrapMutex_);
  uint64_t due = clock::steadyNs() + kWatchIntervalNs;
  for (;;) {
    if (stopRequested_.load()) return;
    const uint64_t now = clock::steadyNs();
    if (now >= due) {
      lock.unlock();
      try {
        checkHookPatches();
      } catch (...) {
        // A failed look is tried again at the next one.
      }
      lock.lock();
      due = clock::steadyNs() + kWatchIntervalNs;
      continue;
    }
    bootstrapWake_.wait_for(lock, std::chrono::milliseconds((due - now + 999'999ull) / 1'000'000ull));
  }
}

void Dx11Core::checkHookPatches() {
  const HookApi& api = hookApi();
  if (!api.patchState || !api.rebuildHook) return;
  std::lock_guard<std::mutex> lock(hookWatchMutex_);
  for (Hook h : kWatched) {
    if (!hooksInstalled_.load() || hooksClosing_.load()) return;
    if (!installed_[idx(h)].load()) continue;
    void* target = hookTarget(h);
    uint8_t& told = patchToldOf_[idx(h)];
    const hook::PatchState state = api.patchState(target);
    if (state == hook::PatchState::Chained) {
      if (!(told & kToldChained)) {
        told |= kToldChained;
        logInfo(overwrittenPatchText(target) + " encima del nuestro; seguimos encadenados debajo y nuestro codigo se sigue alcanzando.");
      }
      continue;
    }
    if (state != hook::PatchState::Gone) continue;
    if (!(told & kToldGone)) {
      told |= kToldGone;
      logWarning(std::string(hookName(h)) +
                 ": nuestro gancho ya no esta (un modulo que engancho antes que nosotros ha devuelto sus bytes "
                 "originales); se instala de nuevo sobre los bytes que hay ahora.");
    }
    void* original = nullptr;
    MH_STATUS st = api.rebuildHook(target, &original);
    if (st == MH_OK) {
      // The detour reads the new trampoline before the patch can lead a call to it.
      trampolines_[idx(h)].store(original, std::memory_order_release);
      st = api.enableHook(target);
    }
    if (st != MH_OK && !(told & kToldFailed)) {
      told |= kToldFailed;
      logWarning(std::string(hookName(h)) + ": no se pudo instalar de nuevo nuestro gancho: " + hookStatusText(st));
    }
  }
}

}  // namespace zor
