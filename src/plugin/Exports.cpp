// The two functions the game calls: start-up and shut-down of the plugin.
#include <windows.h>

#include "core/ProcessExit.h"
#include "plugin/TelemetryEntry.h"

// A detach with a non-null reserved argument comes from the process ending, not from an unload:
// the singletons' destructors that run after this must then wait for nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) zor::process::markEnding();
  return TRUE;
}

extern "C" __declspec(dllexport) scs_result_t scs_telemetry_init(const scs_u32_t version,
                                                                  const scs_telemetry_init_params_t* const params) {
  return zor::telemetryInit(version, params);
}

extern "C" __declspec(dllexport) void scs_telemetry_shutdown() { zor::telemetryShutdown(); }
