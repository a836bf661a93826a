// The panel's buttons in the simulated game, pressed with the X server's mouse the way a player
// presses them: choosing the media program's window and starting it, its shortcut keys, giving
// the GPS its map back, the dashboard target, a profile that starts with the game, and smart
// capture starting and switching programs by itself.
#include <gtest/gtest.h>

#include "SimProcess.h"

namespace zor::test {
namespace {

// The panel opens at 24, 24 and scrolls by 65 px a wheel notch; these are its controls in
// client coordinates of the game window.
namespace panel {
const std::string kTop = "wheel 300 300 20\n";
const std::string kBottom = "wheel 300 300 -20\n";
const std::string kMiddle = kTop + "wheel 300 300 -5\n";  // the targets and the source list
const std::string kSourceList = kMiddle + "click 347 308\n";
const std::string kFirstListedWindow = "click 120 340\n";
const std::string kStart = kBottom + "click 192 514\n";  // "Iniciar reproduccion"
const std::string kRestore = kBottom + "click 502 514\n";  // "Restaurar GPS original"
const std::string kTablet = kMiddle + "click 192 207\n";  // "TabCast / LUMEX"
const std::string kDashboard = kMiddle + "click 502 207\n";  // "GPS original"
const std::string kProfilesTab = kTop + "click 193 157\n";
const std::string kLoadAndStart = kTop + "click 502 330\n";  // "Cargar e iniciar"
}  // namespace panel

// Calibration off (the GPS shows the captured picture, not the test pattern), the first-run
// wizard done (Ctrl+F8 opens the panel); the truck's cab loads after the plugin has hooked the game.
std::string gameWith(const std::string& settings, const std::string& media) {
  return "timeout 240000\n"
         "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
         "ini ZorTabcastFirstRun.ini setup completed 1\n" +
         settings +
         "truck vehicle.kenworth.w900\n"
         "load\n"
         "channel electric 1\n"
         "channel engine 1\n"
         "event started\n"
         "wait-hooked 30000\n"
         "cab\n" +
         media + "run 500\n";
}

const char* const kLofi = "media open lofi \"Lofi radio - YouTube\"\n";
// A title beyond ASCII (accents, emoji outside the basic plane) from the list to the capture.
const char* const kLofiUnicode = "media open lofi \"Lofi radio \xF0\x9F\x8E\xB5 M\xC3\xBAsica - YouTube\"\n";

TEST(PanelInGame, TheChosenWindowPlaysOnTheTabletItsShortcutReachesItAndTheDashboardTargetSwitches) {
  auto plugin = privatePluginCopy();
  const std::string scenario =
      gameWith("ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n", kLofiUnicode) +
      "probe tablet map\n"
      "key ctrl+F8\n"
      "wait-probe-screen overlay overlay 3000\n" +
      panel::kSourceList + panel::kFirstListedWindow + panel::kStart +
      "key ctrl+F8\n"
      "wait-probe tablet media 20000\n"
      // Closed panel: the shortcut goes to the captured program, once.
      "key ctrl+n\n"
      "wait-media-command lofi NEXTTRACK 1 5000\n"
      // Open panel: the keys are the panel's.
      "key ctrl+F8\n"
      "key ctrl+n\n"
      "run 1000\n"
      "wait-media-command lofi NEXTTRACK 1 100\n" +
      panel::kRestore +
      "wait-probe tablet map 5000\n" +
      panel::kDashboard + panel::kStart +
      "wait-probe dashboard media 20000\n"
      "probe tablet map\n" +
      panel::kTablet +
      "wait-probe tablet media 20000\n"
      // A truck without a dashboard GPS profile: "GPS original" cannot be pressed.
      "truck vehicle.zor.nogps zor \"No GPS\"\n"
      "run 500\n" +
      panel::kDashboard +
      "run 500\n"
      "probe tablet media\n"
      "unload\n";
  SimRun run = runSim(scenario, plugin->path, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("CONTROLES MULTIMEDIA: comando enviado a la ventana capturada | accion=siguiente."), 1u);
  EXPECT_EQ(run.count("GPS original restaurado por el usuario"), 1u);
  EXPECT_EQ(run.count("Destino de reproduccion seleccionado: GPS original del camion (Kenworth W900)"), 1u);
  EXPECT_EQ(run.count("Destino de reproduccion seleccionado: GPS original"), 1u) << "the disabled button was pressed";
  EXPECT_EQ(run.count("Destino de reproduccion seleccionado: TabCast/LUMEX"), 1u);
  EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
}

TEST(PanelInGame, AProfileWithAutoStartPlaysAtGameStartAndStaysOffOnceTheGpsIsRestored) {
  auto plugin = privatePluginCopy();
  const std::string settings =
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
      "ini ZorTabcastProfiles.ini general count 1\n"
      "ini ZorTabcastProfiles.ini general last_profile 0\n"
      "ini ZorTabcastProfiles.ini profile_0 name Radio\n"
      "ini ZorTabcastProfiles.ini profile_0 window_title \"Lofi radio - YouTube\"\n"
      "ini ZorTabcastProfiles.ini profile_0 window_keyword \"Lofi radio\"\n"
      "ini ZorTabcastProfiles.ini profile_0 auto_start 1\n";
  const std::string scenario = gameWith(settings, kLofi) +
                               "wait-probe tablet media 20000\n"
                               "key ctrl+F8\n"
                               "wait-probe-screen overlay overlay 3000\n" +
                               panel::kRestore +
                               "wait-probe tablet map 5000\n"
                               "run 4000\n"
                               "probe tablet map\n" +
                               panel::kProfilesTab + panel::kLoadAndStart +
                               "wait-probe tablet media 20000\n"
                               "unload\n";
  SimRun run = runSim(scenario, plugin->path, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  // Applied at start-up, started by its auto start, then loaded and started from the tab.
  EXPECT_EQ(run.count("Perfil aplicado | nombre=Radio | ventana=Lofi radio - YouTube | busqueda=Lofi radio"), 3u)
      << run.output;
}

TEST(PanelInGame, SmartCaptureStartsTheDetectedProgramSwitchesWhenItClosesAndStopsForARestore) {
  auto plugin = privatePluginCopy();
  const std::string scenario =
      gameWith("ini ZorTabcastSmartCapture.ini smart_capture auto_start 1\n", kLofi) +
      "wait-probe tablet media 20000\n"
      "media open spotify \"Spotify Premium\"\n"
      "run 1000\n"
      "media close lofi\n"
      "wait-log \"Cambio automatico de aplicacion | Spotify Premium\" 20000\n"
      "wait-probe tablet media 20000\n"
      "key ctrl+F8\n"
      "wait-probe-screen overlay overlay 3000\n" +
      panel::kRestore +
      "wait-probe tablet map 5000\n"
      "run 7000\n"  // two smart-capture runs
      "probe tablet map\n"
      "unload\n";
  SimRun run = runSim(scenario, plugin->path, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.printed("Aplicacion detectada | Lofi radio - YouTube")) << run.output;
  EXPECT_EQ(run.count("[ZorTabcast] Cambio automatico de aplicacion | Spotify Premium"), 1u);
}

TEST(PanelInGame, ThreeHundredWindowsAndTitlesOfSixHundredCharactersInTheSourceList) {
  auto plugin = privatePluginCopy();
  std::string longTitle;
  while (longTitle.size() < 590) longTitle += "Lista de reproduccion muy larga ";
  longTitle += "- YouTube";
  const std::string scenario =
      gameWith("ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n",
               "media open long \"" + longTitle + "\"\n" + kLofiUnicode) +
      "windows 300\n"
      "key ctrl+F8\n"
      "wait-probe-screen overlay overlay 3000\n" +
      panel::kSourceList +
      "wheel 300 360 -30\n"  // down the list
      "wait-probe-screen overlay overlay 1000\n"
      "wheel 300 360 60\n"  // and back up
      "wait-probe-screen overlay overlay 1000\n" +
      panel::kFirstListedWindow +
      "key ctrl+F8\n"
      "run 500\n"
      "probe-screen overlay map\n"
      "unload\n";
  SimRun run = runSim(scenario, plugin->path, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
}

}  // namespace
}  // namespace zor::test
