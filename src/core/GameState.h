// The mirror of the game's state: pause, ignition, engine and the current truck's GPS profile.
// Written by the telemetry callbacks (game's telemetry thread), read by the render thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace zor {

struct GameState {
  // "truck.engine.enabled": last value, and whether a value has arrived at all.
  std::atomic<bool> engineEnabled{true};
  std::atomic<bool> engineKnown{false};
  // "truck.electric.enabled" (ignition), the same pair.
  std::atomic<bool> electricEnabled{true};
  std::atomic<bool> electricKnown{false};
  // The game is paused (menu or loading); set by the paused event and the start-up preset,
  // cleared by the started event and by the cabin-return detection.
  std::atomic<bool> paused{true};
  std::atomic<bool> pauseKnown{true};
  // GetTickCount64 ms of the last pause event, GPS sighting or playback/target change; 0 after a stop.
  std::atomic<uint64_t> stateTick{0};
  // GPS profile of the current truck (0 = none).
  std::atomic<uint32_t> truckProfileId{0};
  // Kept by the dashboard GPS replacement; reset on a profile change.
  std::atomic<uint32_t> preparedProfileId{0};
  std::atomic<bool> surgicalLogged{false};
  // Edge copies of the render thread. They start true, so a first value of false is an edge.
  std::atomic<bool> lastSeenPaused{true};
  std::atomic<bool> lastSeenElectric{true};
  std::atomic<bool> lastSeenEngine{true};
};

// The process-wide instance; it lives until process exit and survives shut-down and restart.
GameState& gameState();

}  // namespace zor
