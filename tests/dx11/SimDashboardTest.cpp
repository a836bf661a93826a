// The truck's own dashboard GPS in the simulated game: the simulator's trucks agree with the
// plugin's profiles, and with the dashboard target the plugin's picture appears on exactly the
// dashboard screen of each supported truck, follows truck changes, and DrawIndexed is hooked
// only while that is possible.
#include <gtest/gtest.h>

#include <set>

#include "SimProcess.h"
#include "Trucks.h"
#include "gps/TruckGpsProfile.h"

namespace zor::test {
namespace {

TEST(SimDashboard, TheSimulatorsTrucksDrawTheScreensOfTheProfiles) {
  size_t count = 0;
  const sim::TruckModel* trucks = sim::truckModels(&count);
  std::set<uint32_t> covered;
  size_t withoutProfile = 0;
  for (size_t i = 0; i < count; ++i) {
    const sim::TruckModel& t = trucks[i];
    const TruckGpsProfile* p = truckGpsProfile(truckProfileIdFor(t.vehicleId));
    // Whatever the plugin knows, the other instrument shares the count with another size.
    EXPECT_TRUE(t.instrumentWidth != t.gpsWidth || t.instrumentHeight != t.gpsHeight) << t.vehicleId;
    if (!p) {
      ++withoutProfile;
      continue;
    }
    covered.insert(p->id);
    EXPECT_EQ(t.gpsIndexCount, p->indexCount) << t.vehicleId;
    EXPECT_EQ(t.gpsWidth, p->width) << t.vehicleId;
    EXPECT_EQ(t.gpsHeight, p->height) << t.vehicleId;
    EXPECT_EQ(t.gpsMips, p->mipLevels) << t.vehicleId;
  }
  EXPECT_EQ(covered.size(), kTruckProfileCount);
  EXPECT_EQ(withoutProfile, 2u);
}

std::string message(const std::string& text) { return "plugin.message: [ZorTabcast] " + text; }

TEST(SimDashboard, WithTheDashboardTargetOnlyEachSupportedTrucksScreenShowsThePlugin) {
  auto plugin = privatePluginCopy();
  // Calibration is on by default: the plugin's checker without any playback.
  std::string scenario =
      "timeout 150000\n"
      "ini ZorTabcastPlugin.ini gps_output mode 1\n"
      "load\n"
      "truck vehicle.kenworth.w900\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "cab\n"
      "event started\n"
      "wait-hooked 30000\n"
      "wait-probe dashboard checker 5000\n"
      "expect-patched DrawIndexed 1\n"
      "probe instrument gauge\n"
      "probe tablet map\n"
      "probe panel panel\n";
  // Supported trucks and the two the plugin has no profile for, mixed: an unsupported truck's
  // screen keeps the game's picture and DrawIndexed is let go.
  for (const char* truck : {"vehicle.kenworth.t680_2022", "vehicle.freightliner.cascadia2019", "vehicle.volvo.vnl2018",
                            "vehicle.mack.anthem", "vehicle.kenworth.t680"}) {
    const bool supported = truckProfileIdFor(truck) != 0;
    scenario += std::string("truck ") + truck + "\n";
    scenario += supported ? "wait-probe dashboard checker 5000\nexpect-patched DrawIndexed 1\n"
                          : "frames 10\nprobe dashboard navmap\nexpect-patched DrawIndexed 0\n";
    scenario += "probe instrument gauge\nprobe tablet map\nprobe panel panel\n";
  }
  scenario +=
      "truck dlc_kenworth_t680_2022\n"
      "wait-probe dashboard checker 5000\n"
      // A new start of the plugin in the same truck prepares its own resource again.
      "shutdown\n"
      "frames 3\n"
      "probe dashboard navmap\n"
      "init\n"
      "wait-probe dashboard checker 30000\n"
      "unload\n"
      "frames 10\n"
      "expect-patched DrawIndexed 0\n"
      "probe dashboard navmap\n";
  SimRun run = runSim(scenario, plugin->path, {}, 170000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count(message("Destino de reproduccion seleccionado: GPS original del camion (Kenworth W900). "
                              "TabCast/LUMEX queda excluido.")),
            1u)
      << run.output;
  EXPECT_EQ(run.count(message("GPS original: recurso ZOR privado listo (1024x512)")), 3u) << run.output;
  // Once per truck change (the T680 2022 twice: its two vehicle ids, with another truck between).
  const std::pair<const char*, size_t> surgical[] = {
      {"perfil=Kenworth W900 | slot=6 | DrawIndexed count=42 | textura=256x256.", 1},
      {"perfil=Kenworth T680 2022 | slot=6 | DrawIndexed count=66 | textura=1024x512.", 2},
      {"perfil=Volvo VNL 2018 | slot=6 | DrawIndexed count=24 | textura=512x256.", 1},
      {"perfil=Kenworth T680 2014 | slot=6 | DrawIndexed count=6 | textura=256x256.", 1}};
  for (const auto& [line, times] : surgical) {
    EXPECT_EQ(run.count(message(std::string("GPS original reemplazado de forma quirurgica | ") + line)), times) << line;
  }
  for (const char* id : {"vehicle.freightliner.cascadia2019", "vehicle.mack.anthem"}) {
    EXPECT_EQ(run.count(message(std::string("GPS original experimental: camion sin perfil; no se sustituira ninguna "
                                            "pantalla (") +
                                id + ").")),
              1u)
        << id;
  }
  EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
  EXPECT_TRUE(run.printed("scenario complete"));
}

}  // namespace
}  // namespace zor::test
