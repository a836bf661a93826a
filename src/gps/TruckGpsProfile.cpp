#include "gps/TruckGpsProfile.h"

#include <string>

#include "core/Logger.h"
#include "gps/PlaybackTarget.h"

namespace zor {

namespace {

// Row i holds profile id i + 1.
constexpr TruckGpsProfile kProfiles[kTruckProfileCount] = {
    {1, {"vehicle.kenworth.w900", nullptr}, "Kenworth W900", 42, 256, 256, 9},
    {2, {"vehicle.kenworth.t680", nullptr}, "Kenworth T680 2014", 6, 256, 256, 9},
    {3, {"vehicle.kenworth.t680_2022", "dlc_kenworth_t680_2022"}, "Kenworth T680 2022", 66, 1024, 512, 11},
    {4, {"vehicle.t680_880.crm", nullptr}, "Kenworth T680 880 CRM", 66, 1024, 512, 11},
    {5, {"vehicle.t370_smc", nullptr}, "Kenworth T370 SMC", 6, 256, 256, 9},
    {6, {"vehicle.t800_smc", nullptr}, "Kenworth T800 SMC 2022-23", 6, 256, 256, 9},
    {7, {"vehicle.t8002022", nullptr}, "Kenworth T800 2022 (Pioneer)", 6, 256, 256, 9},
    {8, {"vehicle.daf.xf_euro6", nullptr}, "DAF XF Euro 6", 54, 256, 256, 9},
    {9, {"vehicle.volvo.vnl2018", nullptr}, "Volvo VNL 2018", 24, 512, 256, 10},
    {10, {"vehicle.peterbilt.389", nullptr}, "Peterbilt 389", 6, 256, 256, 9},
};

constexpr char kNoProfile[] = "No disponible";

}  // namespace

const TruckGpsProfile* truckGpsProfile(uint32_t profileId) noexcept {
  return profileId >= 1 && profileId <= kTruckProfileCount ? &kProfiles[profileId - 1] : nullptr;
}

uint32_t truckProfileIdFor(std::string_view vehicleId) noexcept {
  for (const TruckGpsProfile& p : kProfiles) {
    for (const char* id : p.vehicleIds) {
      if (id && vehicleId == id) return p.id;
    }
  }
  return 0;
}

const char* truckProfileDisplayName(uint32_t profileId) noexcept {
  const TruckGpsProfile* p = truckGpsProfile(profileId);
  return p ? p->displayName : kNoProfile;
}

const char* truckProfileName() noexcept { return truckProfileDisplayName(gameState().truckProfileId.load()); }

void matchTruckProfile(std::string_view vehicleId, GameState& state) {
  const uint32_t id = truckProfileIdFor(vehicleId);
  if (id == state.truckProfileId.load()) return;
  state.preparedProfileId.store(0);
  state.surgicalLogged.store(false);
  state.truckProfileId.store(id);
  std::string line = "GPS original experimental: ";
  if (id != 0) {
    line.append("perfil disponible para ").append(truckProfileDisplayName(id)).append(" (");
  } else if (playbackTarget() == kTargetDashboard) {
    line.append("camion sin perfil; no se sustituira ninguna pantalla (");
  } else {
    line.append("camion sin perfil; se conserva exclusivamente TabCast/LUMEX (");
  }
  line.append(vehicleId).append(").");
  logInfo(line);
}

}  // namespace zor
