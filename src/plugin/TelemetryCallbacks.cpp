#include "plugin/TelemetryCallbacks.h"

#include "dx11/Dx11Core.h"

// The game state lives in the graphics core, which also identifies the truck.
namespace zor::telemetry {

void engineChannel(scs_string_t, scs_u32_t, const scs_value_t* value, scs_context_t) {
  Dx11Core::instance().onEngineChannel(value);
}

void electricChannel(scs_string_t, scs_u32_t, const scs_value_t* value, scs_context_t) {
  Dx11Core::instance().onElectricChannel(value);
}

void pausedEvent(scs_event_t, const void*, scs_context_t) { Dx11Core::instance().onPausedEvent(); }

void startedEvent(scs_event_t, const void*, scs_context_t) { Dx11Core::instance().onStartedEvent(); }

void configurationEvent(scs_event_t, const void* eventInfo, scs_context_t) {
  Dx11Core::instance().onConfigurationEvent(eventInfo);
}

}  // namespace zor::telemetry
