// Telemetry handlers: channel values and truck identification.
#include <gtest/gtest.h>

#include "dx11/Dx11TestSupport.h"

using namespace zor;
using namespace zor::test;

namespace {

scs_named_value_t text(const char* name, const char* value) {
  scs_named_value_t a{};
  a.name = name;
  a.value.type = SCS_VALUE_TYPE_string;
  a.value.value_string.value = value;
  return a;
}

void configure(Dx11Core& core, const char* id, std::vector<scs_named_value_t> attributes) {
  attributes.push_back(scs_named_value_t{});  // the list ends with a null name
  scs_telemetry_configuration_t config{id, attributes.data()};
  core.onConfigurationEvent(&config);
}

TEST(GameStateSync, ChannelsTakeOnlyBoolValues) {
  Dx11Core& core = Dx11Core::instance();
  Dx11CoreTestAccess::fresh(core);
  GameState& s = core.gameState();
  scs_value_t wrong{};
  wrong.type = SCS_VALUE_TYPE_u32;
  wrong.value_u32.value = 0;
  core.onEngineChannel(&wrong);
  core.onEngineChannel(nullptr);
  EXPECT_FALSE(s.engineKnown.load());
  EXPECT_TRUE(s.engineEnabled.load());
  scs_value_t off = boolValue(false);
  core.onElectricChannel(&off);
  EXPECT_TRUE(s.electricKnown.load());
  EXPECT_FALSE(s.electricEnabled.load());
  EXPECT_FALSE(s.engineKnown.load());
}

// One test: the last truck seen is remembered for the whole process.
TEST(GameStateSync, TruckIdentificationAndChangeDetection) {
  Dx11Core& core = Dx11Core::instance();
  Dx11CoreTestAccess::fresh(core);
  LogCapture log;

  configure(core, "trailer", {text("brand_id", "krone"), text("id", "trailer.x"), text("name", "X")});
  configure(core, "truck", {});
  scs_named_value_t number{};
  number.name = "id";
  number.value.type = SCS_VALUE_TYPE_u32;
  configure(core, "truck", {number});
  core.onConfigurationEvent(nullptr);
  EXPECT_TRUE(log.lines().empty()) << log.dump();

  configure(core, "truck", {text("brand_id", "kenworth"), text("id", "vehicle.kenworth.w900"), text("name", "W900")});
  EXPECT_TRUE(log.has("Camion actual detectado | marca=kenworth | id=vehicle.kenworth.w900 | nombre=W900; "
                      "seguimiento de cambio de vehiculo activo."))
      << log.dump();
  EXPECT_FALSE(log.has("Reidentificacion manual del GPS iniciada."));
  const size_t afterFirst = log.lines().size();
  configure(core, "truck", {text("brand_id", "kenworth"), text("id", "vehicle.kenworth.w900"), text("name", "W900")});
  EXPECT_EQ(log.lines().size(), afterFirst);

  core.identification().gpsLocked.store(true);
  core.identification().gpsSearchActive.store(false);
  core.identification().overlayHookCount.store(2);
  configure(core, "truck", {text("name", "Unknown hauler"), text("name", "Mystery")});
  // The W900 had a profile; a truck without an id has none.
  EXPECT_TRUE(log.has("GPS original experimental: camion sin perfil; se conserva exclusivamente TabCast/LUMEX ()."))
      << log.dump();
  EXPECT_EQ(log.count("Cambio de camion detectado | marca=(vacia) | id=(vacio) | nombre=Mystery: liberando GPS anterior "
                      "y buscando el GPS del nuevo vehiculo."),
            1u)
      << log.dump();
  EXPECT_EQ(log.count("Reidentificacion manual del GPS iniciada."), 1u);
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V0.6.6 RELOCK"));
  EXPECT_LT(log.indexOf("Cambio de camion detectado"), log.indexOf("Reidentificacion manual del GPS iniciada."));
  EXPECT_FALSE(core.identification().gpsLocked.load());
  EXPECT_TRUE(core.identification().gpsSearchActive.load());
  EXPECT_EQ(core.identification().overlayHookCount.load(), 0u);
  EXPECT_EQ(core.identification().confirmationViewIndex.load(), -1);

  // The id attribute is a C string: whatever follows a zero byte is not part of it.
  static const char kCut[] = "vehicle.kenworth.w900\0.custom";
  log.clear();
  configure(core, "truck", {text("brand_id", "kenworth"), text("id", kCut), text("name", "W900")});
  EXPECT_EQ(core.gameState().truckProfileId.load(), 1u);
  EXPECT_TRUE(log.has("GPS original experimental: perfil disponible para Kenworth W900 (vehicle.kenworth.w900)."))
      << log.dump();
}

}  // namespace
