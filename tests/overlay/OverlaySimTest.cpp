// The panel in the simulated game, driven like a player drives it: real key presses and mouse
// input through the X server, the panel seen on the screen's pixels, and what the game's own
// raw-input reads and cursor calls get while it is open.
#include <gtest/gtest.h>

#include "SimProcess.h"
#include "support/TempFolder.h"

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

// A mod menu subclassed after the panel passes private messages it does not know to
// DefWindowProc and takes the top back at every frame: the game runs on, its window gets the
// player's input, the panel takes the mouse while shown, and the panel, which the mod menu still
// calls (it passes the probe's WM_NULL form on), never needs to put itself back on top. Then the
// game unloads the plugin from inside its own window procedure: the plugin keeps its module.
TEST(OverlayInGame, AModMenuThatSwallowsPrivateMessagesAndAnUnloadFromInsideTheWindowProcedure) {
  auto plugin = privatePluginCopy();
  SimRun run = runSim(std::string(kGameStart) +
                          "wndproc-chain add-swallowing\n"
                          "run 500\n"
                          "expect-window-input\n"
                          "key ctrl+F8\n"
                          "wait-probe-screen overlay overlay 3000\n"
                          "cursor-warp 900 500 kept\n"
                          "key ctrl+F8\n"
                          "cursor-warp 900 500 moved\n"
                          "wndproc-chain remove\n"
                          "run 300\n"
                          "key ctrl+F8\n"
                          "wait-probe-screen overlay overlay 3000\n"
                          "unload-in-wndproc\n"
                          "run 300\n"
                          "cursor-warp 700 400 moved\n"
                          "expect-window-input\n",
                      plugin->path);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("el panel volvio a ponerse delante"), 0u) << run.output;
  EXPECT_TRUE(run.printed("El juego cerro el plugin desde dentro de un procedimiento o hook del plugin")) << run.output;
  EXPECT_TRUE(run.printed("unload-in-wndproc: the game's thread came back out of the window procedure"));
}

// The player has the panel open and a video playing on the tablet when the game unloads the
// plugin, while a thread of the game is inside the game window's procedure (a window thread in a
// modal loop): the shut-down runs out of time and leaves hooks in place, but the game gets its
// cursor, raw mouse and window messages back at once, and the game's process, ending later, is
// not held up by the plugin. While the panel is drawn, every Present leaves the game's render
// target and depth view bound.
TEST(OverlayInGame, AnUnloadThatRunsOutOfTimeWithThePanelOpenGivesTheGameItsInputAndItsExit) {
  TempFolder folder(L"zor_overlay_exit");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  SimRun run = runSim("timeout 150000\n"
                      "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
                      "ini ZorTabcastFirstRun.ini setup completed 1\n"
                      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n" +
                          std::string(kGameStart) +
                          "media open lofi \"Lofi radio - YouTube\"\n"
                          "run 500\n"
                          "playback start YouTube\n"
                          "wait-probe tablet media 20000\n"
                          "key ctrl+F8\n"
                          "wait-probe-screen overlay overlay 3000\n"
                          "expect-targets-kept 10\n"
                          "hold-wndproc 60000\n"
                          "unload kept\n"
                          "cursor-warp 850 450 moved\n"
                          "raw-input data\n"
                          "mouse-move 40 30\n"
                          "expect-raw-mouse moving\n"
                          "expect-window-input\n",
                      plugin, {}, 150000);
  const ULONGLONG ended = GetTickCount64();
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.printed("[Dx11Core] Apagado: un hilo del juego seguia dentro de un hook del plugin")) << run.output;
  const std::vector<std::string> exit = run.lines("zor_sim: process exit at tick ");
  ASSERT_EQ(exit.size(), 1u) << run.output;
  const ULONGLONG lastLine = std::stoull(exit[0].substr(exit[0].find("tick ") + 5));
  EXPECT_LT(ended - lastLine, 1000u) << "the process ended " << ended - lastLine << " ms after its last line";
}

}  // namespace
}  // namespace zor::test
