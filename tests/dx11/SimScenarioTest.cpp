// The graphics core inside the simulated game: the plugin DLL loaded by zor_sim, hooks
// installed on the game's real D3D11 runtime, the game's events seen through the Present hook,
// and shut-down leaving nothing of ours behind while the game keeps rendering.
#include <gtest/gtest.h>

#include "SimProcess.h"
#include "dx11/Dx11Core.h"

namespace zor::test {
namespace {

std::string message(const std::string& text) { return "plugin.message: [ZorTabcast] " + text; }

// The positions of the lines, in order of the output; -1 for a missing one.
std::vector<long> positions(const SimRun& run, const std::vector<std::string>& lines) {
  std::vector<long> out;
  for (const auto& l : lines) {
    size_t p = run.output.find(l);
    out.push_back(p == std::string::npos ? -1 : static_cast<long>(p));
  }
  return out;
}

TEST(SimGraphics, GameEventsReachThePresentHookInOrderAndUnloadLeavesTheGameRunning) {
  auto plugin = privatePluginCopy();
  SimRun run = runSim(
      "load\n"
      "truck vehicle.kenworth.w900 kenworth W900\n"
      "wait-hooked 30000\n"  // the bootstrap finds the cab window and hooks; the next Present adopts the device
      "event started\n"
      "frames 5\n"
      "event paused\n"
      "frames 5\n"
      "channel electric 0\n"
      "frames 5\n"
      "channel electric 1\n"
      "frames 5\n"
      "truck vehicle.kenworth.t680 kenworth T680\n"
      "frames 5\n"
      "unload\n"
      "frames 30\n",  // the game's Present and context methods run unhooked after the DLL is gone
      plugin->path);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::vector<std::string> expected = {
      message("Motor grafico iniciado."),
      message("Camion actual detectado | marca=kenworth | id=vehicle.kenworth.w900 | nombre=W900; seguimiento de "
              "cambio de vehiculo activo."),
      message("Conduccion reanudada: GPS listo."),
      message("ATS en pausa/carga: GPS en espera."),
      message("Contacto apagado: GPS sin captura y alimentacion multimedia suspendida."),
      message("Contacto encendido: GPS disponible; esperando motor para reanudar multimedia."),
      message("Cambio de camion detectado | marca=kenworth | id=vehicle.kenworth.t680 | nombre=T680: liberando GPS "
              "anterior y buscando el GPS del nuevo vehiculo."),
      message("Reidentificacion manual del GPS iniciada."),
      message("Motor grafico detenido correctamente; recursos GPU liberados."),
      "sdk: plugin unloaded (module released)",
  };
  std::vector<long> at = positions(run, expected);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_GE(at[i], 0) << "missing: " << expected[i] << "\n" << run.output;
    if (i > 0) {
      EXPECT_LT(at[i - 1], at[i]) << expected[i];
    }
  }
  EXPECT_EQ(run.count("Reidentificacion manual del GPS iniciada."), 1u);
  EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
  EXPECT_TRUE(run.printed("scenario complete"));
}

TEST(SimGraphics, RestartsJoinTheBootstrapAndEachNewStartHooksAndAdoptsTheDeviceAgain) {
  // Twenty quick restarts (the bootstrap thread is often still at work when the stop comes),
  // then four slow ones, each changing the pause state once after the new start: the line for
  // that edge can only come from a Present hook with an adopted device.
  std::string scenario = "timeout 150000\nload\ntruck vehicle.kenworth.w900\nrun 800\ncycle-init 20 3\n";
  constexpr int kSlowCycles = 4;
  for (int i = 0; i < kSlowCycles; ++i) {
    scenario += "shutdown\nframes 3\ninit\nwait-hooked 30000\n";
    scenario += i % 2 == 0 ? "event started\n" : "event paused\n";
    scenario += "frames 3\n";
  }
  scenario += "unload\nframes 30\n";
  SimRun run = runSim(scenario, privatePluginCopy()->path, {}, 170000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.printed("cycle-init: 20 cycles done"));
  EXPECT_EQ(run.count(message("Motor grafico iniciado.")), 25u);
  EXPECT_EQ(run.count(message("Motor grafico detenido correctamente; recursos GPU liberados.")), 25u);
  EXPECT_EQ(run.count(message("Conduccion reanudada: GPS listo.")), kSlowCycles / 2u) << run.output;
  EXPECT_EQ(run.count(message("ATS en pausa/carga: GPS en espera.")), kSlowCycles / 2u) << run.output;
  EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
  EXPECT_EQ(run.count("plugin.warning"), 0u) << run.output;
  EXPECT_TRUE(run.printed("sdk: plugin unloaded (module released)"));
  EXPECT_TRUE(run.printed("scenario complete"));
}

// A loader thread of the game is inside the plugin's texture-queue hook (in the engine's own
// function beneath it) when the game shuts the plugin down and unloads it. The shut-down ends
// within its 2 s, says why, and keeps the plugin's code mapped, so that the thread comes back
// out through it safely seconds later while the game renders on. The graphics core, with no
// thread inside its own hooks, is not held up by it.
TEST(SimGraphics, ShutdownWithALoaderThreadHeldInsideAHookEndsInTimeAndTheThreadComesBackSafely) {
  SimRun run = runSim(
      "load\n"
      "truck vehicle.kenworth.w900\n"
      "wait-hooked 30000\n"
      "cab\n"
      "frames 5\n"
      "hold-queue 5000\n"
      "unload\n"
      "frames 10\n"
      "wait-queue 10000\n"
      "frames 10\n",
      privatePluginCopy()->path);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto returned = run.lines("sdk: scs_telemetry_shutdown returned after ");
  ASSERT_EQ(returned.size(), 1u) << run.output;
  const long long tookMs = std::stoll(returned[0].substr(returned[0].find("after ") + 6));
  EXPECT_GE(tookMs, 1900);
  EXPECT_LT(tookMs, 3000) << returned[0];
  // The graphics core had no thread inside its own hooks: it stops completely.
  EXPECT_TRUE(run.printed(message("Motor grafico detenido correctamente; recursos GPU liberados.")));
  EXPECT_TRUE(run.printed("plugin.warning: [ZorTabcast] PrismTextureQueueRedirector: un hilo del motor seguia dentro "
                          "del hook"))
      << run.output;
  EXPECT_TRUE(run.printed("sdk: plugin unloaded; its module stays mapped"));
  EXPECT_TRUE(run.printed("hold-queue: the loader thread came back from the engine's texture queue after"));
  EXPECT_TRUE(run.printed("scenario complete"));
}

}  // namespace
}  // namespace zor::test
