// Inline-hook API. Names, signatures and status values are MinHook's, so the plugin can be
// built against either this engine or an installed MinHook (ZOR_USE_SYSTEM_MINHOOK).
#pragma once

#if defined(ZOR_SYSTEM_MINHOOK)
#include_next <MinHook.h>
#else

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum MH_STATUS {
  MH_UNKNOWN = -1,
  MH_OK = 0,
  MH_ERROR_ALREADY_INITIALIZED,
  MH_ERROR_NOT_INITIALIZED,
  MH_ERROR_ALREADY_CREATED,
  MH_ERROR_NOT_CREATED,
  MH_ERROR_ENABLED,
  MH_ERROR_DISABLED,
  MH_ERROR_NOT_EXECUTABLE,
  MH_ERROR_UNSUPPORTED_FUNCTION,
  MH_ERROR_MEMORY_ALLOC,
  MH_ERROR_MEMORY_PROTECT,
  MH_ERROR_MODULE_NOT_FOUND,
  MH_ERROR_FUNCTION_NOT_FOUND
} MH_STATUS;

// Enable or disable every created hook at once.
#define MH_ALL_HOOKS NULL

MH_STATUS WINAPI MH_Initialize(VOID);
MH_STATUS WINAPI MH_Uninitialize(VOID);
MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal);
MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget);
MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget);
MH_STATUS WINAPI MH_DisableHook(LPVOID pTarget);
const char* WINAPI MH_StatusToString(MH_STATUS status);

#ifdef __cplusplus
}
#endif

#endif
