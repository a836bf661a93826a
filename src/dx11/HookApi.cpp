#include "dx11/HookApi.h"

#include <atomic>

namespace zor {
namespace {
const HookApi kMinHook{&MH_Initialize,  &MH_Uninitialize, &MH_CreateHook,    &MH_EnableHook,
                       &MH_DisableHook, &MH_RemoveHook,   &MH_StatusToString};
std::atomic<const HookApi*> g_api{nullptr};
}  // namespace

const HookApi& hookApi() noexcept {
  const HookApi* api = g_api.load(std::memory_order_acquire);
  return api ? *api : kMinHook;
}

void setHookApi(const HookApi* api) noexcept { g_api.store(api, std::memory_order_release); }

const char* hookStatusText(MH_STATUS status) noexcept {
  const char* text = hookApi().statusToString(status);
  return text ? text : "MH_STATUS desconocido";
}

}  // namespace zor
