// Plugin start-up and shut-down behind the two exported SDK functions. The parts they drive
// come in through LifecycleOps, so the order and failure paths can be exercised on their own.
#pragma once

#include "sdk/telemetry_sdk.h"

namespace zor {

struct LifecycleOps {
  bool (*startGraphics)();
  void (*stopGraphics)();
  bool (*startRedirector)();
  void (*stopRedirector)();
};

// The graphics core and redirector of the plugin itself.
const LifecycleOps& pluginLifecycle();

scs_result_t telemetryInit(scs_u32_t version, const scs_telemetry_init_params_t* params,
                           const LifecycleOps& ops = pluginLifecycle()) noexcept;
void telemetryShutdown(const LifecycleOps& ops = pluginLifecycle()) noexcept;

// Whether a successful start-up has not been shut down yet.
bool telemetryRunning() noexcept;

}  // namespace zor
