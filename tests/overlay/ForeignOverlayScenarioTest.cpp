// The plugin in a game that also runs a frame-rate counter hooking Present on top of ours: the
// tablet plays the chosen window and the panel opens; the plugin unloaded beneath the other
// hook leaves it in place and every frame still reaches it, through its owner taking it away
// and writing it again; loaded again (now on top of the other hook), the plugin plays and shows
// its panel once more, and still shows it after the other overlay's owner has taken its hook
// away from under ours (putting back the first load's patch over the second's).
#include <gtest/gtest.h>

#include "SimProcess.h"

namespace zor::test {
namespace {

TEST(ForeignOverlay, TabletAndPanelWorkBesideAnotherHookOnPresentAndTheUnloadLeavesItRunning) {
#if defined(ZOR_SYSTEM_MINHOOK)
  GTEST_SKIP() << "the simulator's other overlay hooks with the bundled hook engine's trampoline builder";
#endif
  TempFolder folder(L"zor_foreign_overlay");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  const std::string playsWithPanel =
      "playback start YouTube\n"
      "wait-probe tablet media 15000\n"
      "key ctrl+F8\n"
      "wait-probe-screen overlay overlay 3000\n"
      "cursor-warp 900 500 kept\n"
      "key ctrl+F8\n"
      "run 300\n";
  SimRun run = runSim(
      "timeout 230000\n"
      "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
      "ini ZorTabcastFirstRun.ini setup completed 1\n"
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
      "truck vehicle.kenworth.w900\n"
      "load\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "event started\n"
      "wait-hooked 30000\n"
      "cab\n"
      "wait-log \"V0.7.6 OVERLAY tablet_gps_overlay.dds\" 20000\n"
      "media open lofi \"Lofi radio - YouTube\"\n"
      "foreign-hook install\n"
      "foreign-hook frames 30\n" +
          playsWithPanel +
          "foreign-hook frames 30\n"
          "print == unload beneath it\n"
          "unload\n"
          "foreign-hook frames 120\n"
          "foreign-hook take-away\n"  // its owner puts back what it saved: our jmp, to our kept relay
          "frames 60\n"
          "foreign-hook write-again\n"
          "foreign-hook frames 60\n"
          "print == loaded again\n"
          "load\n"
          "channel electric 1\n"
          "channel engine 1\n"
          "event started\n"
          "wait-hooked 30000\n"
          "cab reload\n" +
          playsWithPanel +
          "foreign-hook frames 30\n"
          "print == its owner takes it away from under the plugin\n"
          "foreign-hook take-away\n"  // what it saved was the first load's jmp: written over ours
          "wait-log \"Present: nuestro gancho ya no esta\" 5000\n"
          "key ctrl+F8\n"
          "wait-probe-screen overlay overlay 3000\n"
          "key ctrl+F8\n"
          "run 300\n"
          "unload\n",
      plugin, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.printed("Present: otro modulo (zor_sim.exe) ha escrito su gancho encima del nuestro: al apagar el nuestro"))
      << run.output;
  EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
}

}  // namespace
}  // namespace zor::test
