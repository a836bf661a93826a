#include "Trucks.h"

#include <algorithm>
#include <iterator>

namespace zor::sim {

namespace {
// The dashboard screens of the supported trucks (count, size, mips) follow the game; the
// other instrument shares the count but never the texture size. The last two trucks have a
// dashboard screen the plugin does not know.
const TruckModel kTrucks[] = {
    {"vehicle.kenworth.w900", "kenworth", "W900", 42, 256, 256, 9, 512, 256},
    {"vehicle.kenworth.t680", "kenworth", "T680", 6, 256, 256, 9, 128, 128},
    {"vehicle.kenworth.t680_2022", "kenworth", "T680 2022", 66, 1024, 512, 11, 512, 512},
    {"dlc_kenworth_t680_2022", "kenworth", "T680 2022", 66, 1024, 512, 11, 512, 512},
    {"vehicle.t680_880.crm", "kenworth", "T680 880 CRM", 66, 1024, 512, 11, 512, 512},
    {"vehicle.t370_smc", "kenworth", "T370", 6, 256, 256, 9, 128, 128},
    {"vehicle.t800_smc", "kenworth", "T800", 6, 256, 256, 9, 128, 128},
    {"vehicle.t8002022", "kenworth", "T800 2022", 6, 256, 256, 9, 128, 128},
    {"vehicle.daf.xf_euro6", "daf", "XF Euro 6", 54, 256, 256, 9, 512, 512},
    {"vehicle.volvo.vnl2018", "volvo", "VNL", 24, 512, 256, 10, 256, 256},
    {"vehicle.peterbilt.389", "peterbilt", "389", 6, 256, 256, 9, 128, 128},
    {"vehicle.freightliner.cascadia2019", "freightliner", "Cascadia", 36, 512, 512, 10, 256, 256},
    {"vehicle.mack.anthem", "mack", "Anthem", 12, 1024, 512, 11, 256, 256},
};
}  // namespace

const TruckModel* findTruck(std::string_view id) {
  auto it = std::find_if(std::begin(kTrucks), std::end(kTrucks), [&](const TruckModel& t) { return id == t.vehicleId; });
  return it == std::end(kTrucks) ? nullptr : &*it;
}

const TruckModel& defaultTruck() { return kTrucks[0]; }

const TruckModel* truckModels(size_t* count) {
  *count = std::size(kTrucks);
  return kTrucks;
}

uint32_t fullMipCount(uint32_t w, uint32_t h) {
  uint32_t n = 1;
  for (uint32_t m = std::max(w, h); m > 1; m >>= 1) ++n;
  return n;
}

}  // namespace zor::sim
