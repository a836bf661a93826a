// The simulator's SDK host against stand-in plugins: the parameter block, registrations with
// the game's answers, delivery on the init thread, logs to console and file, and the failure
// paths (init refused, crash, missing exports, missing file).
#include <gtest/gtest.h>

#include "SimProcess.h"

namespace zor::test {
namespace {

std::wstring fake(const wchar_t* kind) { return binDir() + L"\\fake_plugin_" + kind + L".dll"; }

TEST(SimHost, RecordsRegistrationsDeliversOnTheInitThreadAndLogsEverywhere) {
  SimRun run = runSim(
      "load\n"
      "registrations\n"
      "expect-registrations channel:truck.engine.enabled channel:truck.electric.enabled event:paused event:started "
      "event:configuration\n"
      "channel engine 1\n"
      "channel electric 0\n"
      "frames 3\n"
      "channel engine 1\n"
      "frames 2\n"
      "channel engine 0\n"
      "frames 2\n"
      "truck vehicle.kenworth.w900\n"
      "event started\n"
      "event paused\n"
      "reload\n"
      "frames 2\n"
      "unload\n"
      "frames 2\n",
      fake(L"registering"));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.printed("plugin.message: fake: init version=0x00010001 game=ZOR Sim (stand-in for American Truck "
                          "Simulator) id=ats game_version=0x00010005"));
  EXPECT_TRUE(run.printed("registration #1 channel:truck.engine.enabled index=nil type=bool flags=0 result=0"));
  EXPECT_TRUE(run.printed("registration #2 channel:truck.engine.enabled index=nil type=bool flags=0 result=-3"));
  EXPECT_TRUE(run.printed("registration #4 channel:truck.warp.drive index=nil type=bool flags=0 result=-4"));
  EXPECT_TRUE(run.printed("registration #8 event:paused id=3 result=-3"));
  EXPECT_TRUE(run.printed("fake: second engine registration -> -3"));
  EXPECT_TRUE(run.printed("expect-registrations: ok"));
  EXPECT_TRUE(run.printed("plugin.warning: fake: a warning"));
  EXPECT_TRUE(run.printed("plugin.error: fake: an error"));
  EXPECT_TRUE(run.printed("plugin.message: fake: hello from a worker thread"));
  // A value is delivered when it changes, never twice the same, always on the init thread.
  EXPECT_EQ(run.count("fake: channel truck.engine.enabled=1 on the init thread"), 1u);
  EXPECT_EQ(run.count("fake: channel truck.engine.enabled=0 on the init thread"), 2u);  // again after the reload
  EXPECT_EQ(run.count("fake: channel truck.electric.enabled=0 on the init thread"), 2u);
  EXPECT_FALSE(run.printed("on ANOTHER thread"));
  EXPECT_TRUE(run.printed("fake: configuration truck id=vehicle.kenworth.w900 brand=kenworth name=W900 on the init thread"));
  EXPECT_TRUE(run.printed("fake: event 4 on the init thread"));
  EXPECT_TRUE(run.printed("fake: event 3 on the init thread"));
  // After the reload the game tells the new instance the truck again.
  EXPECT_EQ(run.count("fake: configuration truck id=vehicle.kenworth.w900"), 2u);
  EXPECT_EQ(run.count("plugin.message: fake: shutdown"), 2u);
  EXPECT_EQ(run.count("sdk: plugin unloaded (module released)"), 2u);
  EXPECT_FALSE(run.printed("[logged while not initialised]"));

  std::string gameLog = readFile(run.outDir + L"\\game_log.txt");
  EXPECT_NE(gameLog.find("plugin.warning: fake: a warning"), std::string::npos);
  EXPECT_NE(gameLog.find("plugin.message: fake: shutdown"), std::string::npos);
  std::string console = readFile(run.outDir + L"\\console.txt");
  EXPECT_NE(console.find("expect-registrations: ok"), std::string::npos);
}

TEST(SimHost, PluginFailuresEndTheRunWithAClearMessage) {
  SimRun refused = runSim("load\nprint never\n", fake(L"failing"));
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_TRUE(refused.printed("plugin.error: fake: refusing to start"));
  EXPECT_TRUE(refused.printed("FAILED (plugin failure): plugin init failed with result -7")) << refused.output;
  EXPECT_FALSE(refused.printed("never"));

  SimRun crash = runSim("load\n", fake(L"crashing"));
  EXPECT_EQ(crash.exitCode, 4);
  EXPECT_TRUE(crash.printed("CRASH: unhandled exception 0xC0000005")) << crash.output;
  EXPECT_TRUE(crash.printed("fake_plugin_crashing.dll+0x"));

  SimRun exports = runSim("load\n", fake(L"noexports"));
  EXPECT_EQ(exports.exitCode, 3);
  EXPECT_TRUE(exports.printed("plugin does not export scs_telemetry_init and scs_telemetry_shutdown")) << exports.output;

  SimRun missing = runSim("load\n", binDir() + L"\\no_such_plugin.dll");
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_TRUE(missing.printed("plugin not found: ")) << missing.output;
}

}  // namespace
}  // namespace zor::test
