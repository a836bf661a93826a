// The telemetry side of the game state: channel and event handlers, truck identification and
// truck-change detection, and the cabin return seen through the GPS screen.
#include <cstring>
#include <string>

#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/Logger.h"
#include "dx11/Dx11Core.h"
#include "gps/TruckGpsProfile.h"

namespace zor {

namespace {

// brand id | vehicle id | name of the last truck seen; touched only by the configuration handler.
std::string g_truckKey;

void storeBool(const scs_value_t* value, std::atomic<bool>& enabled, std::atomic<bool>& known) {
  if (!value || value->type != SCS_VALUE_TYPE_bool) return;
  enabled.store(value->value_bool.value != 0);
  known.store(true);
}

}  // namespace

void Dx11Core::onEngineChannel(const scs_value_t* value) noexcept {
  storeBool(value, state_->engineEnabled, state_->engineKnown);
}

void Dx11Core::onElectricChannel(const scs_value_t* value) noexcept {
  storeBool(value, state_->electricEnabled, state_->electricKnown);
}

void Dx11Core::onPausedEvent() noexcept {
  state_->paused.store(true);
  state_->pauseKnown.store(true);
  state_->stateTick.store(clock::tickMs());
}

void Dx11Core::onStartedEvent() noexcept {
  state_->paused.store(false);
  state_->pauseKnown.store(true);
}

void Dx11Core::applyTruckProfile(const std::string& vehicleId) { matchTruckProfile(vehicleId, *state_); }

void Dx11Core::onConfigurationEvent(const void* eventInfo) noexcept {
  try {
    const auto* config = static_cast<const scs_telemetry_configuration_t*>(eventInfo);
    if (!config || !config->attributes || !config->id || std::strcmp(config->id, "truck") != 0) return;
    std::string brand, vehicle, name;
    for (const scs_named_value_t* a = config->attributes; a->name; ++a) {
      if (a->value.type != SCS_VALUE_TYPE_string || !a->value.value_string.value) continue;
      const char* text = a->value.value_string.value;
      if (std::strcmp(a->name, "brand_id") == 0) {
        brand = text;
      } else if (std::strcmp(a->name, "id") == 0) {
        vehicle = text;
      } else if (std::strcmp(a->name, "name") == 0) {
        name = text;
      }
    }
    const std::string key = brand + "|" + vehicle + "|" + name;
    if (key == "||") return;
    const std::string description = "marca=" + (brand.empty() ? std::string("(vacia)") : brand) +
                                    " | id=" + (vehicle.empty() ? std::string("(vacio)") : vehicle) +
                                    " | nombre=" + (name.empty() ? std::string("(vacio)") : name);
    applyTruckProfile(vehicle);
    if (g_truckKey.empty()) {
      g_truckKey = key;
      logInfo("Camion actual detectado | " + description + "; seguimiento de cambio de vehiculo activo.");
    } else if (key != g_truckKey) {
      g_truckKey = key;
      logInfo("Cambio de camion detectado | " + description +
              ": liberando GPS anterior y buscando el GPS del nuevo vehiculo.");
      restartGpsIdentification();
    }
  } catch (...) {
  }
}

void Dx11Core::noteGpsSighting() noexcept {
  const uint64_t t = clock::tickMs();
  const uint64_t previous = state_->stateTick.exchange(t);
  if (!playback_.active.load(std::memory_order_acquire) || !state_->paused.load()) return;
  if (previous == 0 || t < previous || t - previous < 500) return;
  bool expected = true;
  if (!state_->paused.compare_exchange_strong(expected, false)) return;
  state_->pauseKnown.store(true);
  WindowCapture::instance().setPaused(false);
  gpsOffscreen_.store(false);
  stateCheckTick_.store(t);
  logInfo("Regreso a cabina detectado por la pantalla GPS; captura reanudada aunque ATS no envio el evento de conduccion.");
}

}  // namespace zor
