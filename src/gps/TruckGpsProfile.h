// Trucks whose own dashboard GPS screen can be replaced. The table is still empty here: every
// vehicle id maps to profile 0 (no dashboard GPS), so only the tablet accessory is used.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

// Profile id of a game vehicle id ("vehicle.kenworth.w900"), 0 when the truck has none.
uint32_t truckProfileIdFor(std::string_view vehicleId) noexcept;
// Display name of a profile id, "No disponible" for 0 and unknown ids.
const char* truckProfileDisplayName(uint32_t profileId) noexcept;
// Size of the profile's dashboard screen texture; false for 0 and unknown ids.
bool truckProfileScreenSize(uint32_t profileId, uint32_t* width, uint32_t* height) noexcept;

}  // namespace zor
