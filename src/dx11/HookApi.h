// The inline-hook calls the graphics core makes, gathered in one table so that a test can put
// a scripted engine in place of the real one (to exercise failures the real engine never
// produces on demand). Production always uses the MinHook API.
#pragma once

#include "hook/MinHook.h"

namespace zor {

struct HookApi {
  MH_STATUS(WINAPI* initialize)();
  MH_STATUS(WINAPI* uninitialize)();
  MH_STATUS(WINAPI* createHook)(LPVOID target, LPVOID detour, LPVOID* original);
  MH_STATUS(WINAPI* enableHook)(LPVOID target);
  MH_STATUS(WINAPI* disableHook)(LPVOID target);
  MH_STATUS(WINAPI* removeHook)(LPVOID target);
  const char*(WINAPI* statusToString)(MH_STATUS status);
};

// The table in use (the MinHook functions unless replaced).
const HookApi& hookApi() noexcept;
// nullptr restores the MinHook functions. Not to be swapped while hooks are being changed.
void setHookApi(const HookApi* api) noexcept;
// MH_StatusToString, or "MH_STATUS desconocido" when it has no text.
const char* hookStatusText(MH_STATUS status) noexcept;

}  // namespace zor
