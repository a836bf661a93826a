#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "media/ChosenSource.h"
#include "capture/WindowSurvey.h"
#include "core/IniFile.h"
#include "core/Utf8.h"
#include "media/Playback.h"
#include "support/ManualClock.h"

using namespace zor;
using namespace zor::test;

namespace {

class SmartCaptureTest : public MediaTest {
 protected:
  SmartCaptureTest() { TestWindows::clearAll(); }
  ~SmartCaptureTest() override { TestWindows::clearAll(); }

  // The settings file as the player left it, read by the next tick.
  void settings(const std::string& content) {
    ASSERT_TRUE(writeFile(file(media::kSmartCaptureFile), "[smart_capture]\r\n" + content));
    loadSmartCaptureSettings();
  }
  // What the Present hook does on its next frame.
  std::wstring presentTakesStart() {
    StartRequest request;
    return panel.takeStartRequest(request) ? request.title : L"(ninguno)";
  }
  PanelState& panel = PanelState::instance();
  SmartCaptureState& smart = smartCapture();
};

TEST_F(SmartCaptureTest, TheHighestScoreWinsThenTheFirstListedAndARememberedWindowComesFirst) {
  const struct {
    std::vector<std::wstring> titles;
    std::string remembered;
    bool rememberLast;
    std::wstring best;
  } cases[] = {
      {{L"Spotify Premium", L"Lofi - YouTube"}, "", true, L"Lofi - YouTube"},
      {{L"Lofi - YouTube", L"Spotify Premium"}, "", true, L"Lofi - YouTube"},
      {{L"A - YouTube", L"B - YouTube"}, "", true, L"A - YouTube"},
      {{L"Bloc de notas", L"HBO MAX en vivo"}, "", true, L"HBO MAX en vivo"},
      {{L"Kick", L"Twitch", L"Disney+"}, "", true, L"Twitch"},
      {{L"Bloc de notas", L"Explorador"}, "", true, L""},
      {{L"Lofi - YouTube", L"Spotify Premium"}, "Spotify Premium", true, L"Spotify Premium"},
      {{L"Lofi - YouTube", L"Spotify Premium"}, "Spotify Premium", false, L"Lofi - YouTube"},
      {{L"Lofi - YouTube", L"Spotify Premium"}, "Cerrada - VLC", true, L"Lofi - YouTube"},
      {{L"Bloc de notas"}, "Bloc de notas", true, L"Bloc de notas"},
  };
  for (const auto& c : cases) {
    panel.setSourceWindowTitle(c.remembered);
    smart.settings.rememberLast = c.rememberLast;
    EXPECT_EQ(pickBestApplicationTitle(c.titles), c.best) << narrow(c.best);
  }
}

TEST_F(SmartCaptureTest, AutoStartPicksTheBestWindowOnceAndTheSameTitleLaterOnlyReportsReady) {
  settings("auto_start=1\r\n");
  AppLibrary::instance().initialize();
  TestWindows::setTitle(0, L"Spotify Premium");
  TestWindows::setTitle(1, L"Lofi radio - YouTube");

  smartCaptureTick(false);
  EXPECT_EQ(panel.sourceWindowTitle(), "Lofi radio - YouTube");
  EXPECT_TRUE(smart.detected);
  EXPECT_EQ(smart.detectedTitle, "Lofi radio - YouTube");
  EXPECT_EQ(smart.statusText, "Aplicacion detectada y seleccionada automaticamente.");
  EXPECT_EQ(log.count("Aplicacion detectada | Lofi radio - YouTube."), 1u);
  EXPECT_EQ(capture.keyword, L"Lofi radio - YouTube");
  EXPECT_EQ(panel.captureWidth.load(), 1280);  // the library's YouTube settings
  EXPECT_EQ(panel.resolutionIndex.load(), 1);
  EXPECT_EQ(presentTakesStart(), L"Lofi radio - YouTube");
  // Remembered for the next game run.
  EXPECT_EQ(ini::readString(file(media::kSmartCaptureFile), L"smart_capture", L"last_window"), L"Lofi radio - YouTube");

  smartCaptureTick(false);
  EXPECT_EQ(smart.statusText, "Aplicacion compatible lista para usar.");
  EXPECT_FALSE(panel.startRequested.load());
  EXPECT_EQ(log.count("Aplicacion detectada"), 1u);
}

TEST_F(SmartCaptureTest, WhenThePlayingApplicationClosesPlaybackStopsAndTheNextCompatibleOneStartsBySwitch) {
  settings("auto_start=0\r\n");
  AppLibrary::instance().initialize();
  TestWindows::setTitle(0, L"Lofi radio - YouTube");
  panel.setSourceWindowTitle("Lofi radio - YouTube");
  ASSERT_TRUE(startPlayback(resolveSource("Lofi radio - YouTube", nullptr), 1280, 720, 30, {}));
  presentTakesStart();

  TestWindows::setTitle(0, L"");  // closed; nothing compatible left
  smartCaptureTick(false);
  EXPECT_FALSE(panel.playbackActive.load());
  EXPECT_TRUE(panel.restoreRequested.load());
  EXPECT_TRUE(smart.waitingForNextApp);
  EXPECT_FALSE(smart.detected);
  EXPECT_EQ(smart.statusText, "La aplicacion se cerro. Esperando otra aplicacion disponible...");
  EXPECT_EQ(log.count("Aplicacion actual cerrada; esperando recuperacion automatica."), 1u);
  panel.completeRestore();  // the Present hook's part

  smartCaptureTick(false);  // still nothing: waiting, no second stop
  EXPECT_EQ(smart.statusText, "No se detectaron aplicaciones compatibles.");
  EXPECT_FALSE(panel.restoreRequested.load());

  TestWindows::setTitle(1, L"VLC media player");
  smartCaptureTick(false);
  EXPECT_FALSE(smart.waitingForNextApp);
  EXPECT_EQ(smart.statusText, "Cambio automatico realizado correctamente.");
  EXPECT_EQ(log.count("Cambio automatico de aplicacion | VLC media player | captura=1280x720 | fps=30."), 1u);
  EXPECT_EQ(presentTakesStart(), L"VLC media player");
  EXPECT_TRUE(panel.playbackActive.load());
}

TEST_F(SmartCaptureTest, AfterRestaurarGpsOriginalNothingStartsBySelfUntilAManualStart) {
  settings("auto_start=1\r\n");
  TestWindows::setTitle(0, L"Lofi radio - YouTube");
  ASSERT_TRUE(startPlayback(resolveSource("Lofi radio - YouTube", nullptr), 1280, 720, 30, {}));
  presentTakesStart();
  restoreOriginalGps();
  EXPECT_TRUE(panel.userRestoredGps.load());
  EXPECT_TRUE(panel.restoreRequested.load());
  EXPECT_EQ(capture.keyword, L"");
  EXPECT_EQ(log.count("GPS original restaurado por el usuario; autoinicio suspendido hasta una nueva reproduccion "
                      "manual."),
            1u);
  panel.completeRestore();

  TestWindows::setTitle(0, L"");
  smartCaptureTick(false);
  TestWindows::setTitle(1, L"Spotify Premium");
  smartCaptureTick(false);  // a new application, auto start on: still nothing
  EXPECT_EQ(smart.statusText, "Aplicacion detectada y seleccionada automaticamente.");
  EXPECT_FALSE(panel.startRequested.load());
  EXPECT_EQ(panel.sourceWindowTitle(), "Spotify Premium");

  EXPECT_TRUE(startPlaybackFromPanel());
  EXPECT_FALSE(panel.userRestoredGps.load());
  EXPECT_EQ(presentTakesStart(), L"Spotify Premium");
}

TEST_F(SmartCaptureTest, InProfileModeOnlyTheProfileWindowIsReportedAndDetectionOffNeedsForce) {
  settings("enabled=0\r\n");
  TestWindows::setTitle(0, L"Lofi radio - YouTube");
  smartCaptureTick(false);
  EXPECT_EQ(smart.statusText, "Buscando aplicaciones compatibles...");
  smartCaptureTick(true);  // "Buscar ahora"
  EXPECT_TRUE(smart.detected);

  panel.profileMode.store(true);
  capture.bound = false;
  smartCaptureTick(true);
  EXPECT_EQ(smart.statusText, "Esperando la ventana del perfil seleccionado...");
  capture.bound = true;
  smartCaptureTick(true);
  EXPECT_EQ(smart.statusText, "Perfil seleccionado activo.");
}

TEST_F(SmartCaptureTest, SettingsAreReadOnceAndTheRememberedWindowKeepsNonLatinText) {
  const std::wstring title = L"\u65E5\u672C\u306E\u30E9\u30B8\u30AA \U0001F3B5 - YouTube";
  ASSERT_TRUE(ini::writeKeys(file(media::kSmartCaptureFile),
                             {{L"smart_capture", L"enabled", L"1"}, {L"smart_capture", L"auto_start", L"1"},
                              {L"smart_capture", L"remember_last", L"1"}, {L"smart_capture", L"auto_switch_apps", L"0"},
                              {L"smart_capture", L"last_window", title}}));
  loadSmartCaptureSettings();
  EXPECT_TRUE(smart.settings.autoStart);
  EXPECT_FALSE(smart.settings.autoSwitchApps);
  EXPECT_EQ(toWide(panel.sourceWindowTitle()), title);

  smart.settings.autoStart = false;
  ASSERT_TRUE(writeFile(file(media::kSmartCaptureFile), "[smart_capture]\r\nauto_start=1\r\n"));
  loadSmartCaptureSettings();  // already loaded: the file is not read again
  EXPECT_FALSE(smart.settings.autoStart);

  saveSmartCaptureSettings();
  const std::wstring path = file(media::kSmartCaptureFile);
  EXPECT_EQ(ini::readString(path, L"smart_capture", L"auto_start"), L"0");
  EXPECT_EQ(ini::readString(path, L"smart_capture", L"auto_switch_apps"), L"0");
  EXPECT_EQ(ini::readString(path, L"smart_capture", L"remember_last"), L"1");
  EXPECT_EQ(ini::readString(path, L"smart_capture", L"last_window"), title);
}

// The listing is made off the render thread: a frame asks for it, a later frame runs on it.
TEST_F(SmartCaptureTest, TheOverlayFrameTicksAtOnceThenEveryThreeSecondsAndAShutdownStartsOver) {
  ManualClock clock;
  settings("");
  auto ranThisFrame = [&] {
    smart.statusText = "-";
    smartCaptureFrame();
    EXPECT_EQ(smart.statusText, "-");  // nothing listed on this thread
    EXPECT_TRUE(WindowSurvey::instance().waitIdle(10000));
    smartCaptureFrame();
    return smart.statusText != "-";
  };
  EXPECT_TRUE(ranThisFrame());
  clock.advanceMs(2999);
  EXPECT_FALSE(ranThisFrame());
  clock.advanceMs(1);
  EXPECT_TRUE(ranThisFrame());

  smart.detected = true;
  smart.waitingForNextApp = true;
  resetSmartCaptureForOverlayShutdown();
  EXPECT_FALSE(smart.detected);
  EXPECT_FALSE(smart.waitingForNextApp);
  ASSERT_TRUE(writeFile(file(media::kSmartCaptureFile), "[smart_capture]\r\nenabled=0\r\n"));
  EXPECT_FALSE(ranThisFrame());  // settings read again: detection is now off
  EXPECT_FALSE(smart.settings.enabled);
}

}  // namespace

// Runs of smart capture while one window's title changes (or the window leaves the list, with
// the engine still holding it): what a player would see as restarts, stops and reset volumes.
TEST_F(SmartCaptureTest, AWindowStaysTheSameWindowWhateverItsTitleDoes) {
  const std::wstring cyrillic = std::wstring(130, L'\u0416') + L" - YouTube";
  const struct {
    const char* fault;
    std::string settings;
    std::vector<std::wstring> titles;  // window 0's title at each run ("" = out of the list)
    int starts, stops, applied;        // start requests, stop requests, application volumes applied
  } cases[] = {
      {"a title longer than the source field", "auto_start=1\r\n", {cyrillic, cyrillic, cyrillic}, 1, 0, 1},
      {"a music program's song titles", "auto_start=1\r\n", {L"Spotify Premium", L"Artista - Cancion", L"Otra - Cancion"}, 1, 0, 1},
      {"a window that leaves the list is stopped once", "auto_start=1\r\n", {L"Lofi - YouTube", L"", L"", L""}, 1, 1, 1},
      {"the window remembered from the last game", "auto_start=1\r\nlast_window=Lofi - YouTube\r\n", {L"Lofi - YouTube", L"Lofi - YouTube"}, 1, 0, 1},
      {"a new video keeps the player's volume", "auto_start=1\r\n", {L"A - YouTube", L"B - YouTube", L"C - YouTube"}, 1, 0, 1},
      {"a lone surrogate in the title", "auto_start=1\r\n", {std::wstring(L"Radio ") + wchar_t(0xD800) + L" - YouTube", std::wstring(L"Radio ") + wchar_t(0xD800) + L" - YouTube"}, 1, 0, 1},
  };
  for (const auto& c : cases) {
    resetMediaState();
    TestWindows::clearAll();
    settings(c.settings);
    AppLibrary::instance().initialize();
    capture.bound = true;  // the engine holds the window even when it leaves the list
    log.clear();
    int starts = 0, stops = 0, applied = 0;
    for (const std::wstring& title : c.titles) {
      TestWindows::setTitle(0, title);
      panel.volume.store(33);  // the player's Ctrl+Down
      smartCaptureTick(false);
      applied += panel.volume.load() != 33;
      if (presentTakesStart() != L"(ninguno)") ++starts;
      if (panel.restoreRequested.load()) {
        ++stops;
        panel.completeRestore();
      }
      if (starts > 0 && !title.empty()) {
        EXPECT_FALSE(panel.sourceWindowTitle().empty()) << c.fault;
      }
    }
    EXPECT_EQ(starts, c.starts) << c.fault;
    EXPECT_EQ(stops, c.stops) << c.fault;
    EXPECT_EQ(applied, c.applied) << c.fault;
    EXPECT_EQ(log.count("Aplicacion actual cerrada"), static_cast<size_t>(c.stops)) << c.fault;
  }
}
