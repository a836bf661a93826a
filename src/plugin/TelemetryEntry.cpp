#include "plugin/TelemetryEntry.h"

#include "core/Clock.h"
#include "core/DetourGuard.h"
#include "core/GameState.h"
#include "plugin/Lifecycle.h"
#include "core/LogFile.h"
#include "core/LogSink.h"
#include "core/Logger.h"
#include "diagnostics/OtherOverlays.h"
#include "plugin/TelemetryCallbacks.h"

namespace zor {
namespace {

// Set between a successful start-up and shut-down; touched only by the two entry points,
// which the game calls one at a time.
bool g_running = false;

// A registration function the game did not provide counts as a refused registration.
bool registerChannel(const scs_telemetry_init_params_t& params, const char* name,
                     scs_telemetry_channel_callback_t callback) {
  if (!params.register_for_channel) return false;
  return params.register_for_channel(name, SCS_U32_NIL, SCS_VALUE_TYPE_bool, SCS_TELEMETRY_CHANNEL_FLAG_none,
                                     callback, nullptr) == SCS_RESULT_ok;
}

bool registerEvent(const scs_telemetry_init_params_t& params, scs_event_t event,
                   scs_telemetry_event_callback_t callback) {
  if (!params.register_for_event) return false;
  return params.register_for_event(event, callback, nullptr) == SCS_RESULT_ok;
}

// Graphics core first, then the redirector; a failure of one does not keep the other running.
// Both wait for threads inside their hooks within one time bound.
void stopParts(const LifecycleOps& ops) noexcept {
  detour::ShutdownWindow window;
  try {
    ops.stopGraphics();
  } catch (...) {
  }
  try {
    ops.stopRedirector();
  } catch (...) {
  }
  g_running = false;
}

void stopLogging() noexcept {
  Logger::instance().clearSink();
  LogFile::instance().close();
}

scs_result_t start(const scs_telemetry_init_params_t& params, const LifecycleOps& ops, bool& startedHere) {
  LogFile::instance().open();
  Logger::instance().setSink(LogSink(params.common.log));
  if (g_running) return SCS_RESULT_ok;
  g_running = true;
  startedHere = true;

  if (!registerChannel(params, "truck.engine.enabled", &telemetry::engineChannel))
    logWarning("Engine Power Sync: ATS no permitio registrar el estado del motor.");
  if (!registerChannel(params, "truck.electric.enabled", &telemetry::electricChannel))
    logWarning("Ignition Sync: ATS no permitio registrar el contacto electrico.");

  GameState& state = gameState();
  state.paused.store(true);
  state.pauseKnown.store(true);
  state.stateTick.store(clock::tickMs());

  if (!registerEvent(params, SCS_TELEMETRY_EVENT_paused, &telemetry::pausedEvent))
    logWarning("Game Pause Sync: ATS no permitio registrar el evento de pausa.");
  if (!registerEvent(params, SCS_TELEMETRY_EVENT_started, &telemetry::startedEvent))
    logWarning("Game Pause Sync: ATS no permitio registrar el evento de conduccion.");
  if (!registerEvent(params, SCS_TELEMETRY_EVENT_configuration, &telemetry::configurationEvent))
    logWarning("Truck Change Detection: ATS no permitio registrar cambios de camion.");

  logInfo("ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup iniciado.");
  // Support reads here who else hooks the game (a crash of theirs is not taken for ours).
  logInfo(otherOverlaysLine(otherOverlaysInProcess()));

  if (!ops.startRedirector())
    logWarning("PrismTextureQueueRedirector no se pudo inicializar; se usara el sistema de respaldo por shader.");

  if (ops.startGraphics()) return SCS_RESULT_ok;

  logError("Dx11Core no pudo inicializarse.");
  // The game unloads a plugin whose start failed, so the engine hook of the redirector must
  // not outlive this call.
  try {
    ops.stopRedirector();
  } catch (...) {
  }
  g_running = false;
  stopLogging();
  return SCS_RESULT_generic_error;
}

}  // namespace

const LifecycleOps& pluginLifecycle() {
  static const LifecycleOps ops{&lifecycle::startGraphics, &lifecycle::stopGraphics, &lifecycle::startRedirector,
                                &lifecycle::stopRedirector};
  return ops;
}

scs_result_t telemetryInit(scs_u32_t version, const scs_telemetry_init_params_t* params,
                           const LifecycleOps& ops) noexcept {
  if (!params) return SCS_RESULT_generic_error;
  if (version - SCS_TELEMETRY_VERSION_1_00 > 1u) return SCS_RESULT_unsupported;
  if (!params->common.log) return SCS_RESULT_generic_error;
  bool startedHere = false;
  try {
    return start(*params, ops, startedHere);
  } catch (...) {
    // Only an allocation failure gets here. A start-up that began in this call is undone, so
    // nothing that points into the plugin outlives the failed call.
    if (startedHere && g_running) stopParts(ops);
    if (!g_running) stopLogging();
    return SCS_RESULT_generic_error;
  }
}

void telemetryShutdown(const LifecycleOps& ops) noexcept {
  // The game may shut us down from inside its window procedure or another call that went through
  // one of our procedures or detours: this thread then returns into our code afterwards, which
  // has to stay where it is, whatever the game unloads.
  if (detour::threadDepth() != 0) {
    if (detour::pinOwnModule()) {
      logWarning("El juego cerro el plugin desde dentro de un procedimiento o hook del plugin; el plugin "
                 "queda cargado hasta el cierre del juego.");
    } else {
      logError("El juego cerro el plugin desde dentro de un procedimiento o hook del plugin y el plugin "
               "no pudo quedar cargado.");
    }
  }
  if (g_running) stopParts(ops);
  stopLogging();
}

bool telemetryRunning() noexcept { return g_running; }

}  // namespace zor
