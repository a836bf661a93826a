// The two functions the game calls: start-up and shut-down of the plugin.
#include "sdk/telemetry_sdk.h"

extern "C" __declspec(dllexport) scs_result_t scs_telemetry_init(const scs_u32_t version,
                                                                  const scs_telemetry_init_params_t* const params) {
  if (!params) return SCS_RESULT_generic_error;
  if (version - SCS_TELEMETRY_VERSION_1_00 > 1u) return SCS_RESULT_unsupported;
  return SCS_RESULT_ok;
}

extern "C" __declspec(dllexport) void scs_telemetry_shutdown() {}
