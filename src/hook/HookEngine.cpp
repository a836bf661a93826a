// Placeholder until the engine lands: every call reports that nothing is initialised.
#include "MinHook.h"

extern "C" {
MH_STATUS WINAPI MH_Initialize(VOID) { return MH_ERROR_MEMORY_ALLOC; }
MH_STATUS WINAPI MH_Uninitialize(VOID) { return MH_ERROR_NOT_INITIALIZED; }
MH_STATUS WINAPI MH_CreateHook(LPVOID, LPVOID, LPVOID*) { return MH_ERROR_NOT_INITIALIZED; }
MH_STATUS WINAPI MH_RemoveHook(LPVOID) { return MH_ERROR_NOT_INITIALIZED; }
MH_STATUS WINAPI MH_EnableHook(LPVOID) { return MH_ERROR_NOT_INITIALIZED; }
MH_STATUS WINAPI MH_DisableHook(LPVOID) { return MH_ERROR_NOT_INITIALIZED; }
const char* WINAPI MH_StatusToString(MH_STATUS) { return "(unknown)"; }
}
