// The trucks the simulated game can put the player in, with the draw that renders each
// truck's dashboard GPS screen: index count and the screen texture's size and mips.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor::sim {

struct TruckModel {
  const char* vehicleId;    // configuration attribute "id"
  const char* brandId;      // "brand_id"
  const char* name;         // "name"
  uint32_t gpsIndexCount;   // DrawIndexed count of the dashboard GPS screen (and its twin instrument)
  uint32_t gpsWidth, gpsHeight, gpsMips;
  uint32_t instrumentWidth, instrumentHeight;  // the other instrument drawn with the same count
};

// nullptr when the id is unknown to the simulator.
const TruckModel* findTruck(std::string_view vehicleId);
const TruckModel& defaultTruck();
// All models, for listing.
const TruckModel* truckModels(size_t* count);
uint32_t fullMipCount(uint32_t width, uint32_t height);

}  // namespace zor::sim
