// What the player sees: the plugin in the simulated game with calibration off shows the media
// program (a separate process) on the tablet, live; pause, engine and ignition stop and resume
// it; closing the program loses it once and reopening it comes back within 2 s; the game's other
// screens keep their own pictures. Playback is started through the plugin's test export (the
// panel's buttons, until the panel exists).
#include <gtest/gtest.h>

#include <regex>

#include "SimProcess.h"

namespace zor::test {
namespace {

constexpr char kPanelRegion[] = "790,635,80,40";  // noise textures only, between the instruments

// "(after N ms)" of the first line holding `text`; -1 when absent.
long long afterMs(const SimRun& run, const std::string& text) {
  std::smatch m;
  for (const std::string& line : run.lines(text)) {
    if (std::regex_search(line, m, std::regex(R"(\(after (\d+) ms\))"))) return std::stoll(m[1]);
  }
  return -1;
}

// Lines between the first line holding `from` and the next holding `to`.
std::string between(const SimRun& run, const std::string& from, const std::string& to) {
  const size_t a = run.output.find(from);
  if (a == std::string::npos) return {};
  const size_t b = run.output.find(to, a);
  return run.output.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(PlaybackScenario, TheMediaProgramPlaysOnTheTabletAndFollowsTheGame) {
  TempFolder folder(L"zor_playback_plugin");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  const std::string panel = std::string("probe ") + kPanelRegion + "\n";
  SimRun run = runSim(
      "timeout 150000\n"
      "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
      // The capture engine's own loss and recovery: smart capture (run by the overlay's frame)
      // would stop the playback itself when the program closes.
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
      "truck vehicle.kenworth.w900\n"
      "load\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "event started\n"
      "run 1500\n"
      "wait-log \"Conduccion reanudada\" 5000\n"
      "wait-hooked 30000\n"
      "cab\n"
      "media open lofi \"Lofi radio - YouTube\"\n"
      "wait-log \"V0.7.6 OVERLAY tablet_gps_overlay.dds\" 20000\n"
      "run 300\n"
      "probe tablet\n" +
          panel +
          "print == start\n"
          "playback start YouTube\n"
          "wait-probe tablet media 10000\n"
          "wait-change tablet 3000\n"
          "probe dashboard navmap\n"
          "probe instrument gauge\n"
          "probe windshield map\n" +
          panel +
          "print == pause\n"
          "event paused\n"
          "wait-new-log \"ATS en pausa/carga: captura multimedia conservada en espera.\" 2000\n"
          "expect-still tablet 1200\n"
          "event started\n"
          "wait-change tablet 3000\n"
          "print == engine\n"
          "channel engine 0\n"
          "wait-new-log \"Motor apagado: GPS original y captura suspendida.\" 2000\n"
          "expect-still tablet 1200\n"
          "channel engine 1\n"
          "wait-new-log \"Motor encendido: captura del GPS reanudada automaticamente.\" 2000\n"
          "wait-change tablet 3000\n"
          "print == ignition\n"
          "channel electric 0\n"
          "wait-new-log \"Contacto apagado: GPS sin captura y alimentacion multimedia suspendida.\" 2000\n"
          "expect-still tablet 1200\n"
          "channel electric 1\n"
          "wait-new-log \"Motor encendido: captura del GPS reanudada automaticamente.\" 2000\n"
          "wait-change tablet 3000\n"
          "print == close\n"
          // The worker may see the window go before the program has ended (the close waits for
          // that): the loss line is counted between the two prints below.
          "media close lofi\n"
          "run 600\n"  // the frame the worker took while the window went away may still arrive
          "expect-still tablet 1500\n"
          "print == reopen\n"
          "media reopen lofi\n"
          "wait-new-log \"Ventana de captura recuperada automaticamente.\" 2000\n"
          "wait-change tablet 3000\n"
          "probe tablet media\n"
          "print == restore\n"
          "playback restore\n"
          "wait-new-log \"GPS original restaurado; captura detenida.\" 2000\n"
          "unload\n",
      plugin, {}, 180000);
  ASSERT_EQ(run.exitCode, 0) << run.output;

  const long long firstFrameMs = afterMs(run, "probe tablet at=");
  EXPECT_GE(firstFrameMs, 0);
  std::printf("[ playback ] start request to the program's picture on the tablet: %lld ms\n", firstFrameMs);
  std::printf("[ playback ] reopened program back on the tablet after %lld ms\n",
              afterMs(run, "wait-new-log: ok \"Ventana de captura recuperada"));
  EXPECT_TRUE(run.printed("[WindowCapture] PrintWindow dejo la ventana en negro"));

  // The other screens keep the game's pictures while the tablet plays.
  const auto panels = run.lines(std::string("probe ") + kPanelRegion + " at=");
  ASSERT_EQ(panels.size(), 2u);
  EXPECT_EQ(panels[0], panels[1]);
  // Closing the program: one loss line, nothing repeated while it stays closed.
  const std::string closed = between(run, "== close", "== reopen");
  EXPECT_EQ(occurrences(closed, "plugin.warning: [ZorTabcast] Ventana de captura perdida"), 1u) << closed;
  EXPECT_EQ(occurrences(between(run, "== reopen", "== restore"), "Ventana de captura perdida"), 0u);
  if (HasFailure()) std::printf("%s", run.output.c_str());
}

// The plugin loaded in a running game with the cab drawn and smart capture off (the scenarios
// below start their programs themselves).
constexpr char kHookedCab[] =
    "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
    "truck vehicle.kenworth.w900\n"
    "load\n"
    "channel electric 1\n"
    "channel engine 1\n"
    "event started\n"
    "wait-hooked 30000\n"
    "cab\n";

// A browser in full screen shown on the tablet: its fine detail (1-pixel stripes) comes out as
// an even grey instead of black and white columns, its coarse detail keeps its contrast.
TEST(PlaybackScenario, AFullScreenWindowsFineDetailIsAveragedOnTheTablet) {
  TempFolder folder(L"zor_playback_chart");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  SimRun run = runSim(
      "timeout 120000\n"
      "ini ZorTabcastPlugin.ini gps calibration_mode 0\n" +
      std::string(kHookedCab) +
      "chart open chart \"Test chart - YouTube\"\n"
      "wait-log \"V0.7.6 OVERLAY tablet_gps_overlay.dds\" 20000\n"
      "run 300\n"
      "playback start \"Test chart\"\n"
      "chart check 15000\n"
      "unload\n",
      plugin, {}, 150000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto lines = run.lines("chart: fine half mean");
  ASSERT_EQ(lines.size(), 1u) << run.output;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[0], m, std::regex(R"(mean ([\d.]+) std ([\d.]+) \| coarse half min (\d+) max (\d+))")))
      << lines[0];
  const double mean = std::stod(m[1]), deviation = std::stod(m[2]);
  const int darkest = std::stoi(m[3]), brightest = std::stoi(m[4]);
  std::printf("[ chart ] %s\n", lines[0].c_str());
  EXPECT_TRUE(mean >= 100 && mean <= 200) << lines[0];
  EXPECT_LT(deviation, 20) << lines[0];
  EXPECT_GT(brightest - darkest, 200) << lines[0];
}

// The same picture on the truck's own screen: with the dashboard target the W900's navigation
// screen plays the program, while the tablet keeps the game's map.
TEST(PlaybackScenario, TheMediaProgramPlaysOnTheTrucksOwnScreen) {
  TempFolder folder(L"zor_playback_dashboard");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  SimRun run = runSim(
      "timeout 120000\n"
      "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
      "ini ZorTabcastPlugin.ini gps_output mode 1\n"
      "truck vehicle.kenworth.w900\n"
      "load\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "event started\n"
      "cab\n"
      "wait-hooked 30000\n"
      "media open lofi \"Lofi radio - YouTube\"\n"
      "run 300\n"
      "playback start YouTube\n"
      "wait-probe dashboard media 10000\n"
      "wait-change dashboard 3000\n"
      "probe tablet map\n"
      "probe instrument gauge\n"
      "unload\n",
      plugin, {}, 150000);
  EXPECT_EQ(run.exitCode, 0) << run.output;
}

// The player changes the graphics settings while a program plays, the panel open: the game makes
// its device and swap chain anew, on the same window or on a new one, and loads the cab again.
// The tablet plays the program again as fast as after a start, the old device is freed and the
// panel opens on the new device. On the same window the panel stays open and keeps the mouse; a
// new window finds it closed and the mouse the game's, and Ctrl+F8 opens it there.
TEST(PlaybackScenario, AfterTheGameMakesItsDeviceAnewTheTabletPlaysAgainAndThePanelOpens) {
  const struct {
    const char* action;
    const char* panelAfter;
    const char* logged;
  } cases[] = {
      {"recreate", "cursor-warp 900 500 kept\nkey ctrl+F8\n", "el juego creo un dispositivo grafico nuevo"},
      {"new-window", "cursor-warp 900 500 moved\n", "el plugin sigue a la ventana nueva"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    TempFolder folder(L"zor_playback_device");
    const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
    ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
    SimRun run = runSim(
        "timeout 120000\n"
        "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
        "ini ZorTabcastFirstRun.ini setup completed 1\n" +
            std::string(kHookedCab) +
            "wait-log \"V0.7.6 OVERLAY tablet_gps_overlay.dds\" 20000\n"
            "media open lofi \"Lofi radio - YouTube\"\n"
            "playback start YouTube\n"
            "wait-probe tablet media 10000\n"
            "key ctrl+F8\n"
            "wait-probe-screen overlay overlay 3000\n"
            "cursor-warp 900 500 kept\n"
            "print == new device\n"
            "device " + c.action + "\n"
            "run 1000\n" + c.panelAfter +
            "wait-probe tablet media 10000\n"
            "wait-change tablet 3000\n"
            "device released 2000\n"
            "key ctrl+F8\n"
            "wait-probe-screen overlay overlay 3000\n"
            "key ctrl+F8\n"
            "run 300\n"
            "unload\n",
        plugin, {}, 150000);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(run.printed("device released: the old device's last Release returned 0")) << run.output;
    EXPECT_TRUE(run.printed(c.logged)) << run.output;
    EXPECT_EQ(run.count("plugin.error"), 0u) << run.output;
  }
}

// Smart capture in the game, as a new player meets it: a window whose title keeps changing
// plays on with one start, no stop and no lost window.
SimRun playByTitleChanges(const std::string& program, const std::vector<std::string>& titles, int everyMs) {
  TempFolder folder(L"zor_playback_titles");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  EXPECT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  std::string script =
      "timeout 120000\n"
      "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
      "ini ZorTabcastFirstRun.ini setup completed 1\n"
      "ini ZorTabcastSmartCapture.ini smart_capture auto_start 1\n"
      "truck vehicle.kenworth.w900\n"
      "load\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "event started\n"
      "wait-hooked 30000\n"
      "cab\n"
      "media open player \"" + titles.front() + "\" " + program + "\n"
      "wait-probe tablet media 15000\n"
      "print == titles\n";
  for (size_t i = 1; i < titles.size(); ++i) script += "run " + std::to_string(everyMs) + "\nmedia title player \"" + titles[i] + "\"\n";
  script += "run " + std::to_string(everyMs) + "\nwait-change tablet 3000\nprint == end\nunload\n";
  return runSim(script, plugin, {}, 150000);
}

void expectOneStartAndNoLoss(const SimRun& run) {
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("Transmision al GPS iniciada."), 1u);
  EXPECT_FALSE(run.printed("Aplicacion actual cerrada"));
  EXPECT_FALSE(run.printed("Ventana de captura perdida"));
  if (testing::Test::HasFailure()) std::printf("%s", run.output.c_str());
}

TEST(PlaybackScenario, AMusicProgramWhoseTitleBecomesTheSongPlaysOnWithOneStart) {
  std::vector<std::string> titles = {"Spotify Premium"};
  for (int i = 1; i <= 10; ++i) titles.push_back("Artista " + std::to_string(i) + " - Cancion " + std::to_string(i));
  expectOneStartAndNoLoss(playByTitleChanges("spotify.exe", titles, 2000));
}

TEST(PlaybackScenario, AVideoWithALongCyrillicTitlePlaysWithOneStart) {
  std::string cyrillic;
  for (int i = 0; i < 130; ++i) cyrillic += "\xD0\x96";
  const std::string title = cyrillic + " - YouTube";
  expectOneStartAndNoLoss(playByTitleChanges("zor_video.exe", {title, title, title, title, title, title}, 2500));
}

}  // namespace
}  // namespace zor::test
