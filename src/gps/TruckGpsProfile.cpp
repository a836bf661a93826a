#include "gps/TruckGpsProfile.h"

namespace zor {

uint32_t truckProfileIdFor(std::string_view) noexcept { return 0; }

const char* truckProfileDisplayName(uint32_t) noexcept { return "No disponible"; }

bool truckProfileScreenSize(uint32_t, uint32_t*, uint32_t*) noexcept { return false; }

}  // namespace zor
