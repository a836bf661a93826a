// The rules behind the Aplicaciones tab and the first-run wizard: the card's window line, the
// editor's rows for stored values, and the wizard's finish against real windows of this
// process, the real application library and settings files in a private folder.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/RecordingCapture.h"
#include "media/AppLibrary.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/SmartCapture.h"
#include "overlay/FirstRunWizard.h"
#include "overlay/PanelTabs.h"
#include "MediaProgram.h"
#include "support/GfxTestKit.h"
#include "support/TempFolder.h"

using namespace zor;
using namespace zor::overlay;
using namespace zor::test;

namespace {

TEST(AppCard, TheWindowLineIsCutAfter55BytesOnlyWhenLongerThan58) {
  const std::string k58(58, 'k'), k59(59, 'k'), k70(70, 'k');
  EXPECT_EQ(cardWindowText(k58), k58);
  EXPECT_EQ(cardWindowText(k59), std::string(55, 'k') + "...");
  EXPECT_EQ(cardWindowText(k70), std::string(55, 'k') + "...");
  EXPECT_EQ(cardWindowText(""), "");
  // A two-byte character across byte 55 is left out whole.
  const std::string accented = std::string(54, 'a') + "ñ" + std::string(10, 'b');
  EXPECT_EQ(cardWindowText(accented), std::string(54, 'a') + "...");
}

TEST(AppEditor, StoredValuesOpenOnTheirRowsAndOthersOnTheDefaults) {
  struct Case {
    uint32_t width, height;
    int32_t fps, volume;
    AppEditorValues expected;
  } cases[] = {
      {1366, 768, 25, 80, {3, 1, 80, false}},   // neither size nor rate in the tables
      {1280, 720, 60, 150, {1, 3, 100, false}},
      {854, 480, 15, -5, {0, 0, 0, true}},
      {3840, 2160, 45, 0, {5, 2, 0, false}},
      {1920, 720, 30, 55, {3, 1, 55, false}},  // both sides must match
  };
  for (const Case& c : cases) {
    AppEntry app{"A", "a", true, c.width, c.height, c.fps, c.volume, c.expected.autoStart};
    const AppEditorValues v = appEditorValues(app);
    EXPECT_EQ(v.resolutionIndex, c.expected.resolutionIndex) << c.width << "x" << c.height;
    EXPECT_EQ(v.fpsIndex, c.expected.fpsIndex) << c.fps;
    EXPECT_EQ(v.volume, c.expected.volume) << c.volume;
    EXPECT_EQ(v.autoStart, c.expected.autoStart);
  }
}


// One visible window of this process for the whole program, retitled by the tests.
HWND mediaWindow() {
  static HWND window = [] {
    HWND w = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 900, 0, 200, 100, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    TestWindow::pump();
    return w;
  }();
  return window;
}

class WizardFinish : public ::testing::Test {
 protected:
  WizardFinish() {
    media::setSettingsFolder(settings.path());
    WindowCapture::install(&capture);
    PanelState::instance().reset();
    smartCapture() = SmartCaptureState{};
    AppLibrary::instance().reset();
    AppLibrary::instance().initialize();
    wizardChoices() = WizardChoices{};
  }
  ~WizardFinish() override {
    SetWindowTextW(mediaWindow(), L"");
    WindowCapture::install(nullptr);
    AppLibrary::instance().reset();
    PanelState::instance().reset();
    media::setSettingsFolder({});
  }
  int completedInFile() const {
    return static_cast<int>(GetPrivateProfileIntW(L"setup", L"completed", -1, (settings / kFirstRunFile).c_str()));
  }
  const AppEntry& app(const std::string& name) {
    for (const AppEntry& a : AppLibrary::instance().apps())
      if (a.name == name) return a;
    static const AppEntry none;
    ADD_FAILURE() << name;
    return none;
  }

  TempFolder settings{L"zor-wizard"};
  RecordingCapture capture;
  LogCapture log;
  bool setupCompleted = false;
};

TEST_F(WizardFinish, YouTubeInHighQualityTakesTheOpenYouTubeWindowAndMakesItAFavouriteWithThePreset) {
  SetWindowTextW(mediaWindow(), L"Música de ruta - youtube - Navegador");
  PanelState& panel = PanelState::instance();
  finishFirstRun({0, "", 2, true}, setupCompleted);

  EXPECT_EQ(panel.sourceWindowTitle(), "Música de ruta - youtube - Navegador");
  EXPECT_EQ(capture.keyword, L"Música de ruta - youtube - Navegador");
  EXPECT_EQ(capture.fps, 60u);
  EXPECT_EQ(panel.captureWidth.load(), 1920);
  EXPECT_EQ(panel.captureHeight.load(), 1080);
  EXPECT_EQ(panel.fps.load(), 60);
  EXPECT_EQ(panel.resolutionIndex.load(), 3);
  EXPECT_EQ(panel.fpsIndex.load(), 3);
  const AppEntry& youtube = app("YouTube");
  EXPECT_TRUE(youtube.favorite);
  EXPECT_EQ(youtube.width, 1920u);
  EXPECT_EQ(youtube.height, 1080u);
  EXPECT_EQ(youtube.fps, 60);
  EXPECT_EQ(youtube.volume, 80);  // kept
  EXPECT_TRUE(setupCompleted);
  EXPECT_EQ(completedInFile(), 1);
  EXPECT_TRUE(log.has(LogLevel::INFO, "Configuracion inicial completada | aplicacion=YouTube | "
                                      "calidad=Alta calidad - 1080p / 60 FPS."))
      << log.dump();
}

TEST_F(WizardFinish, PresetsAndApplicationsWithoutAWindow) {
  struct Case {
    WizardChoices choices;
    int32_t width, height, fps;
    std::string logged;
  } cases[] = {
      {{1, "", 0, true}, 1280, 720, 30, "aplicacion=Spotify | calidad=Rendimiento - 720p / 30 FPS."},
      {{2, "", 1, false}, 1920, 1080, 30, "aplicacion=VLC | calidad=Equilibrado - 1080p / 30 FPS."},
      {{3, "", 1, true}, 1920, 1080, 30, "aplicacion=Otra ventana | calidad=Equilibrado - 1080p / 30 FPS."},
  };
  for (const Case& c : cases) {
    PanelState::instance().reset();
    capture.keyword.clear();
    log.clear();
    finishFirstRun(c.choices, setupCompleted);
    const std::string context = wizardAppName(c.choices);
    EXPECT_EQ(PanelState::instance().captureWidth.load(), c.width) << context;
    EXPECT_EQ(PanelState::instance().captureHeight.load(), c.height) << context;
    EXPECT_EQ(PanelState::instance().fps.load(), c.fps) << context;
    EXPECT_TRUE(PanelState::instance().sourceWindowTitle().empty()) << context;  // no window of it is open
    EXPECT_TRUE(capture.keyword.empty()) << context;
    EXPECT_EQ(setupCompleted, c.choices.dontShowAgain) << context;
    EXPECT_EQ(completedInFile(), c.choices.dontShowAgain ? 1 : 0) << context;
    EXPECT_TRUE(log.has("Configuracion inicial completada | " + c.logged)) << log.dump();
  }
  // The named applications still become favourites with the preset; "Otra ventana" changes none.
  EXPECT_TRUE(app("VLC").favorite);
  EXPECT_EQ(app("VLC").width, 1920u);
  EXPECT_EQ(app("Spotify").width, 1280u);
}

// A player who picks Spotify while a song plays: the music program's window is titled with the
// song, and the wizard takes it by its program, as the window itself (the next song keeps it).
TEST_F(WizardFinish, SpotifyIsFoundByItsProgramWhileItsTitleIsTheSong) {
  sim::MediaProgram spotify("spotify", L"Artista - Cancion de ruta", 0);
  std::string error;
  ASSERT_TRUE(spotify.open(15000, error, sim::mediaProgramCopy(L"spotify.exe"))) << error;
  finishFirstRun({1, "", 0, true}, setupCompleted);
  EXPECT_EQ(PanelState::instance().source().window, spotify.hwnd());
  EXPECT_EQ(PanelState::instance().sourceWindowTitle(), "Artista - Cancion de ruta");
  spotify.close(10000);
}

TEST_F(WizardFinish, AnotherWindowIsTakenByItsExactTitleEvenWhenItIsNotOpen) {
  SetWindowTextW(mediaWindow(), L"Radio Ñandú 日本");
  finishFirstRun({3, "Radio Ñandú", 0, true}, setupCompleted);  // open, but not by that exact title
  EXPECT_EQ(PanelState::instance().sourceWindowTitle(), "Radio Ñandú");
  EXPECT_EQ(capture.keyword, L"Radio Ñandú");
  finishFirstRun({3, "Radio Ñandú 日本", 0, true}, setupCompleted);
  EXPECT_EQ(PanelState::instance().sourceWindowTitle(), "Radio Ñandú 日本");
  EXPECT_TRUE(log.has("aplicacion=Radio Ñandú 日本 | calidad=Rendimiento - 720p / 30 FPS."));
}

}  // namespace
