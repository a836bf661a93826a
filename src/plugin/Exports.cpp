// The two functions the game calls: start-up and shut-down of the plugin.
#include "plugin/TelemetryEntry.h"

extern "C" __declspec(dllexport) scs_result_t scs_telemetry_init(const scs_u32_t version,
                                                                  const scs_telemetry_init_params_t* const params) {
  return zor::telemetryInit(version, params);
}

extern "C" __declspec(dllexport) void scs_telemetry_shutdown() { zor::telemetryShutdown(); }
