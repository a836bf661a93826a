// The telemetry channel and event callbacks registered at start-up. They run on the game's
// telemetry thread and only store into GameState, and on a truck change re-arm GPS identification.
#pragma once

#include "sdk/telemetry_sdk.h"

namespace zor::telemetry {

// "truck.engine.enabled" and "truck.electric.enabled" (bool values).
void engineChannel(scs_string_t name, scs_u32_t index, const scs_value_t* value, scs_context_t context);
void electricChannel(scs_string_t name, scs_u32_t index, const scs_value_t* value, scs_context_t context);

void pausedEvent(scs_event_t event, const void* eventInfo, scs_context_t context);
void startedEvent(scs_event_t event, const void* eventInfo, scs_context_t context);
void configurationEvent(scs_event_t event, const void* eventInfo, scs_context_t context);

}  // namespace zor::telemetry
