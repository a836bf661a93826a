// The real plugin in the simulated game: it registers what the game must feed it, logs
// through the game's console and its own file, survives repeated starts, stops and reloads
// while frames render, and unloads cleanly.
#include <gtest/gtest.h>

#include "SimProcess.h"

namespace zor::test {
namespace {

TEST(SimPlugin, RegistersLogsAndUnloadsCleanly) {
  auto plugin = privatePluginCopy();
  SimRun run = runSim(
      "ini ZorTabcastPlugin.ini capture window_title \"Lofi radio\"\n"
      "load\n"
      "run 300\n"
      "truck vehicle.kenworth.w900\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "cab\n"
      "event started\n"
      "frames 10\n"
      "wait-log \"Motor grafico iniciado.\" 5000\n"
      "expect-log-file \"ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup - nueva sesion\"\n"
      "registrations\n"
      "unload\n"
      "expect-log-file \"[INFO] [ZorTabcast] Motor grafico detenido correctamente; recursos GPU liberados.\"\n"
      "frames 5\n",
      plugin->path);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::string ini = readFile(plugin->folder / L"ZOR\\ZorTabcastPlugin.ini");
  EXPECT_NE(ini.find("window_title=Lofi radio"), std::string::npos) << ini;
  ASSERT_TRUE(run.printed("sdk: plugin unloaded (module released)"));
  if (run.lines("registration #").empty())
    GTEST_SKIP() << "the plugin DLL registers nothing yet (its core has not landed)";
  EXPECT_EQ(run.lines("registration #"),
            (std::vector<std::string>{
                "registration #1 channel:truck.engine.enabled index=nil type=bool flags=0 result=0",
                "registration #2 channel:truck.electric.enabled index=nil type=bool flags=0 result=0",
                "registration #3 event:paused id=3 result=0",
                "registration #4 event:started id=4 result=0",
                "registration #5 event:configuration id=5 result=0",
            }));
  const std::string started = "[ZorTabcast] ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup iniciado.";
  EXPECT_TRUE(run.printed("plugin.message: " + started)) << run.output;
  EXPECT_FALSE(run.printed("[logged while not initialised]"));
  std::string pluginLog = readFile(run.outDir + L"\\ZorTabcast.log");
  EXPECT_NE(pluginLog.find("ZorTabcastPlugin V4.8.5.2 - Log & Test Cleanup - nueva sesion"), std::string::npos) << pluginLog;
  EXPECT_NE(pluginLog.find("[INFO] " + started), std::string::npos) << pluginLog;
}

// The plugin's texture-queue hook takes the simulator's engine function for the game's: it
// passes the code check, hooks it (the queue still reaches the engine) and restores it on unload.
TEST(SimPlugin, HooksTheEngineQueueFunctionAndRestoresItOnUnload) {
  SimRun run = runSim(
      "cab\n"
      "scene-check\n"
      "load\n"
      "cab reload\n"
      "frames 5\n"
      "scene-check\n"
      "unload\n"
      "scene-check\n",
      privatePluginCopy()->path);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  if (run.printed("PrismTextureQueueRedirector no se pudo inicializar"))
    GTEST_SKIP() << "the plugin could not hook (no hook engine yet)";
  EXPECT_FALSE(run.printed("validacion del RVA fallo")) << run.output;
  auto entries = run.lines("scene-check queue-entry: ");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NE(entries[0].find("(as built: not hooked)"), std::string::npos) << entries[0];
  EXPECT_NE(entries[1].find("(patched: the function is hooked)"), std::string::npos) << entries[1];
  EXPECT_NE(entries[2].find("(as built: not hooked)"), std::string::npos) << entries[2];
  EXPECT_EQ(run.count("9 textures queued through the engine queue (RVA 0x1E5350), 9 processed"), 2u) << run.output;
}

TEST(SimPlugin, SurvivesTwentyRestartsAndFiveReloadsWhileFramesRender) {
  SimRun run = runSim(
      "timeout 150000\n"
      "load\n"
      "truck vehicle.kenworth.w900\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "cab\n"
      "event started\n"
      "run 300\n"
      "cycle-init 20 3\n"
      "cycle-reload 5 5\n"
      "frames 10\n"
      "scene-check\n"
      "unload\n"
      "frames 10\n",
      privatePluginCopy()->path, {}, 170000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_FALSE(run.printed("CRASH"));
  EXPECT_EQ(run.count("sdk: scs_telemetry_init returned 0"), 26u);
  EXPECT_EQ(run.count("sdk: scs_telemetry_shutdown returned"), 26u);
  EXPECT_EQ(run.count("sdk: plugin unloaded (module released)"), 6u);
  EXPECT_TRUE(run.printed("cycle-init: 20 cycles done"));
  EXPECT_TRUE(run.printed("cycle-reload: 5 cycles done"));
}

}  // namespace
}  // namespace zor::test
