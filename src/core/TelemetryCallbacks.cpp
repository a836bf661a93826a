#include "core/TelemetryCallbacks.h"

#include "core/Clock.h"
#include "core/GameState.h"

namespace zor::telemetry {
namespace {

void storeBool(const scs_value_t* value, std::atomic<bool>& enabled, std::atomic<bool>& known) {
  if (!value || value->type != SCS_VALUE_TYPE_bool) return;
  enabled.store(value->value_bool.value != 0);
  known.store(true);
}

}  // namespace

void engineChannel(scs_string_t, scs_u32_t, const scs_value_t* value, scs_context_t) {
  GameState& state = gameState();
  storeBool(value, state.engineEnabled, state.engineKnown);
}

void electricChannel(scs_string_t, scs_u32_t, const scs_value_t* value, scs_context_t) {
  GameState& state = gameState();
  storeBool(value, state.electricEnabled, state.electricKnown);
}

void pausedEvent(scs_event_t, const void*, scs_context_t) {
  GameState& state = gameState();
  state.paused.store(true);
  state.pauseKnown.store(true);
  state.stateTick.store(clock::tickMs());
}

void startedEvent(scs_event_t, const void*, scs_context_t) {
  GameState& state = gameState();
  state.paused.store(false);
  state.pauseKnown.store(true);
}

void configurationEvent(scs_event_t, const void*, scs_context_t) {
  // Truck identification arrives with the graphics core.
}

}  // namespace zor::telemetry
