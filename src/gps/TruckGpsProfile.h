// Trucks whose own dashboard GPS screen can show the picture: for each, the game vehicle ids,
// the display name, the index count of the one draw that renders the screen, and the screen
// texture's size and mip count. Profile matching maps the truck the game reports to a row.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/GameState.h"

namespace zor {

struct TruckGpsProfile {
  uint32_t id;                  // 1..10; 0 is "no profile"
  const char* vehicleIds[2];    // exact, case-sensitive; the second may be null
  const char* displayName;
  uint32_t indexCount;          // DrawIndexed IndexCount of the screen's draw
  uint32_t width, height;       // the screen texture's size
  uint32_t mipLevels;
};

// Every dashboard screen texture has this format (R8G8B8A8_UNORM_SRGB) and is bound in this
// pixel-shader slot.
constexpr uint32_t kDashboardScreenFormat = 29;
constexpr uint32_t kDashboardScreenSlot = 6;
constexpr uint32_t kTruckProfileCount = 10;

// The row of a profile id; nullptr for 0 and ids outside 1..10.
const TruckGpsProfile* truckGpsProfile(uint32_t profileId) noexcept;
// Profile id of a game vehicle id ("vehicle.kenworth.w900"): the first row naming it, whole
// string and case-sensitive; 0 when no row does.
uint32_t truckProfileIdFor(std::string_view vehicleId) noexcept;
// Display name of a profile id, "No disponible" for 0 and unknown ids.
const char* truckProfileDisplayName(uint32_t profileId) noexcept;
// Display name of the current truck's profile (GameState.truckProfileId).
const char* truckProfileName() noexcept;

// Profile matching for the truck the game reported (telemetry thread): on a change of profile
// clears the prepared dashboard resource and the surgical once-flag, stores the new id and
// logs which screen the truck offers. The same profile again does nothing.
void matchTruckProfile(std::string_view vehicleId, GameState& state = gameState());

}  // namespace zor
