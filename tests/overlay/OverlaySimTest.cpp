// The panel in the simulated game, driven like a player drives it: real key presses and mouse
// input through the X server, the panel seen on the screen's pixels, and what the game's own
// raw-input reads and cursor calls get while it is open.
#include <gtest/gtest.h>

#include "SimProcess.h"

namespace zor::test {
namespace {

const char* const kGameStart =
    "timeout 120000\n"
    "load\n"
    "truck vehicle.kenworth.w900\n"
    "channel electric 1\n"
    "channel engine 1\n"
    "cab\n"
    "event started\n"
    "wait-hooked 30000\n";

TEST(OverlayInGame, CtrlF8ShowsThePanelAndTheGameGetsNoMouseUntilItIsClosedAgain) {
  auto plugin = privatePluginCopy();
  SimRun run = runSim(std::string(kGameStart) +
                          "raw-input data\n"
                          "probe-screen overlay\n"
                          "key ctrl+F8\n"
                          "wait-probe-screen overlay overlay 3000\n"
                          "mouse-move 40 30\n"
                          "click 1000 650\n"  // beside the panel: the game would take it as a click
                          "expect-raw-mouse still\n"
                          "cursor-warp 900 500 kept\n"
                          "raw-input buffer\n"
                          "mouse-move -25 15\n"
                          "click 1000 600\n"
                          "expect-raw-mouse still\n"
                          "key ctrl+F8\n"
                          "probe-screen overlay\n"
                          "mouse-move 40 30\n"
                          "expect-raw-mouse moving\n"
                          "raw-input data\n"
                          "mouse-move 30 -20\n"
                          "expect-raw-mouse moving\n"
                          "cursor-warp 900 500 moved\n"
                          "unload\n",
                      plugin->path);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::vector<std::string> screens = run.lines("screen probe overlay");
  ASSERT_EQ(screens.size(), 3u) << run.output;
  EXPECT_EQ(screens[0].find("sig=overlay"), std::string::npos) << "before Ctrl+F8: " << screens[0];
  EXPECT_NE(screens[1].find("sig=overlay"), std::string::npos) << screens[1];
  EXPECT_EQ(screens[2].find("sig=overlay"), std::string::npos) << "closed again: " << screens[2];
  EXPECT_TRUE(run.printed("Recuperacion automatica de camara activa."));  // the complete input lock
  EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
}

TEST(OverlayInGame, UnloadWithThePanelOpenTheButtonDownAndAnotherWindowProcedureOnTopLeavesTheGameRunning) {
  auto plugin = privatePluginCopy();
  SimRun run = runSim(std::string(kGameStart) +
                          "key ctrl+F8\n"
                          "wait-probe-screen overlay overlay 3000\n"
                          "wndproc-chain add\n"
                          "mouse-down 300 300\n"
                          "unload kept\n"
                          "mouse-up\n"
                          "run 500\n"
                          "probe-screen overlay\n"
                          "key ctrl+F8\n"  // messages run through the other procedure and ours
                          "raw-input data\n"
                          "mouse-move 40 30\n"
                          "expect-raw-mouse moving\n"
                          "cursor-warp 900 500 moved\n"
                          // The game starts the plugin again: the same module, its procedure
                          // still in the chain, the panel works again.
                          "load\n"
                          "wait-hooked 30000\n"
                          "key ctrl+F8\n"
                          "wait-probe-screen overlay overlay 3000\n"
                          "key ctrl+F8\n"
                          "wndproc-chain remove\n"
                          "unload kept\n"
                          "run 300\n",
                      plugin->path);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("otro modulo reemplazo el procedimiento de ventana del juego despues del panel"), 1u)
      << run.output;
  const std::vector<std::string> screens = run.lines("screen probe overlay");
  ASSERT_EQ(screens.size(), 3u) << run.output;
  EXPECT_NE(screens[1].find("sig=map"), std::string::npos) << "after the unload: " << screens[1];
  EXPECT_TRUE(run.printed("scenario complete"));
}

}  // namespace
}  // namespace zor::test
