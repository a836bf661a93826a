#include "core/HookApi.h"

#include <atomic>
#include <mutex>

#include "core/DetourGuard.h"
#include "core/Logger.h"
#include "core/Utf8.h"

namespace zor {
namespace {
#if defined(ZOR_SYSTEM_MINHOOK)
const HookApi kMinHook{&MH_Initialize,  &MH_Uninitialize, &MH_CreateHook,     &MH_EnableHook,
                       &MH_DisableHook, &MH_RemoveHook,   &MH_StatusToString, nullptr, nullptr};
#else
const HookApi kMinHook{&MH_Initialize,  &MH_Uninitialize, &MH_CreateHook,     &MH_EnableHook,    &MH_DisableHook,
                       &MH_RemoveHook,  &MH_StatusToString, &hook::patchState, &hook::rebuildHook};
#endif
std::atomic<const HookApi*> g_api{nullptr};

// Lease bookkeeping: one bit per owner, changed only under the mutex.
std::mutex g_leaseMutex;
unsigned g_leases = 0;

unsigned bitOf(HookOwner owner) noexcept { return 1u << static_cast<unsigned>(owner); }

struct TargetName {
  const void* target;
  const char* name;
};
std::mutex g_namesMutex;
TargetName g_names[32] = {};

#if !defined(ZOR_SYSTEM_MINHOOK)
void logLeftChained(const void* target, const void*) {
  logWarning(overwrittenPatchText(target) +
             " encima del nuestro: al apagar el nuestro se deja el suyo en su sitio y el nuestro encadenado debajo, "
             "llevando al codigo original; esa memoria (unos bytes) queda reservada hasta que termine el juego.");
}
#endif
}  // namespace

void nameHookTarget(const void* target, const char* name) noexcept {
  std::lock_guard<std::mutex> lock(g_namesMutex);
  TargetName* free = nullptr;
  for (TargetName& n : g_names) {
    if (n.target == target) {
      n.name = name;
      return;
    }
    if (!n.target && !free) free = &n;
  }
  if (free) *free = TargetName{target, name};
}

const char* hookTargetName(const void* target) noexcept {
  std::lock_guard<std::mutex> lock(g_namesMutex);
  for (const TargetName& n : g_names) {
    if (n.target == target) return n.name;
  }
  return nullptr;
}

std::string overwrittenPatchText(const void* target) {
  std::string text;
  if (const char* name = hookTargetName(target)) {
    text = name;
  } else {
    char address[32];
    wsprintfA(address, "funcion 0x%p", target);
    text = address;
  }
  text += ": otro modulo";
#if !defined(ZOR_SYSTEM_MINHOOK)
  wchar_t module[MAX_PATH];
  if (hook::jumpModuleName(target, module, MAX_PATH)) text += " (" + toUtf8Replacing(module) + ")";
#endif
  text += " ha escrito su gancho";
  return text;
}

const HookApi& hookApi() noexcept {
  const HookApi* api = g_api.load(std::memory_order_acquire);
  return api ? *api : kMinHook;
}

void setHookApi(const HookApi* api) noexcept { g_api.store(api, std::memory_order_release); }

const char* hookStatusText(MH_STATUS status) noexcept {
  const char* text = hookApi().statusToString(status);
  return text ? text : "MH_STATUS desconocido";
}

MH_STATUS acquireHookEngine(HookOwner owner) noexcept {
  std::lock_guard<std::mutex> lock(g_leaseMutex);
  if (g_leases & bitOf(owner)) return MH_OK;
  if (g_leases == 0) {
#if !defined(ZOR_SYSTEM_MINHOOK)
    hook::setChainNotice(&logLeftChained);
#endif
    // Another module of the process may have brought the engine up already: that counts too.
    const MH_STATUS st = hookApi().initialize();
    if (st != MH_OK && st != MH_ERROR_ALREADY_INITIALIZED) return st;
  }
  g_leases |= bitOf(owner);
  return MH_OK;
}

HookEngineRelease releaseHookEngine(HookOwner owner, uint64_t drainDeadlineNs) noexcept {
  detour::ShutdownWindow window;
  const uint64_t deadline = drainDeadlineNs != 0 ? drainDeadlineNs : window.deadlineNs();
  std::lock_guard<std::mutex> lock(g_leaseMutex);
  HookEngineRelease result;
  if (!(g_leases & bitOf(owner))) return result;
  if (g_leases != bitOf(owner)) {
    g_leases &= ~bitOf(owner);
    return result;
  }
  // Every part has put its own hooks away by now; anything still enabled (a hook made outside
  // the leases) is switched off, and a thread that entered it must be out before its trampoline
  // goes.
  hookApi().disableHook(MH_ALL_HOOKS);
  if (!detour::waitUntilIdle(detour::Drain::All, deadline)) {
    // A thread is still in there: its way back (trampolines, our code) stays for good.
    detour::pinOwnModule();
    result.drained = false;
    return result;
  }
  g_leases &= ~bitOf(owner);
  result.status = hookApi().uninitialize();
  result.uninitialized = true;
  return result;
}

bool holdsHookEngine(HookOwner owner) noexcept {
  std::lock_guard<std::mutex> lock(g_leaseMutex);
  return (g_leases & bitOf(owner)) != 0;
}

bool hookEngineInitialized() noexcept {
  std::lock_guard<std::mutex> lock(g_leaseMutex);
  return g_leases != 0;
}

}  // namespace zor
