#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "media/ChosenSource.h"
#include "core/IniFile.h"
#include "media/Playback.h"

using namespace zor;
using namespace zor::test;

namespace {

class PlaybackTest : public MediaTest {
 protected:
  PanelState& panel = PanelState::instance();
};

TEST_F(PlaybackTest, PanelRowsForSizesAndRates) {
  const struct {
    int64_t width, height;
    int32_t row;
  } sizes[] = {{854, 480, 0},   {1280, 720, 1},  {1600, 900, 2}, {1920, 1080, 3},
               {2560, 1440, 4}, {3840, 2160, 5}, {1366, 768, 3}, {720, 1280, 3}};
  for (const auto& s : sizes) EXPECT_EQ(resolutionIndex(s.width, s.height), s.row) << s.width << "x" << s.height;
  const std::pair<int64_t, int32_t> rates[] = {{15, 0}, {30, 1}, {45, 2}, {60, 3}, {25, 1}, {0, 1}, {120, 1}};
  for (const auto& [fps, row] : rates) EXPECT_EQ(fpsIndex(fps), row) << fps;
}

TEST_F(PlaybackTest, AStartPointsTheCaptureAtTheKeywordAndThePresentHookTakesItAtMostAt30Fps) {
  const struct {
    int32_t fps;
    int32_t stored;     // the panel's value and the capture engine's
    uint32_t requested;  // what the Present hook starts with
  } cases[] = {{0, 1, 1}, {15, 15, 15}, {45, 45, 30}, {60, 60, 30}, {120, 60, 30}};
  for (const auto& c : cases) {
    panel.profileMode.store(true);
    ASSERT_TRUE(startPlayback(resolveSource("Lofi - YouTube", nullptr), 854, 480, c.fps, c.fps == 15 ? "YouTube" : ""));
    EXPECT_FALSE(panel.profileMode.load());
    EXPECT_EQ(panel.fps.load(), c.stored);
    EXPECT_EQ(capture.fps, static_cast<uint32_t>(c.stored));
    EXPECT_EQ(panel.audioRefreshTime.load(), 0u);
    StartRequest request;
    ASSERT_TRUE(panel.takeStartRequest(request));
    EXPECT_EQ(request.fps, c.requested) << c.fps;
    EXPECT_EQ(request.title, c.fps == 15 ? L"YouTube" : L"Lofi - YouTube");
    EXPECT_EQ(capture.keyword, request.title);
    EXPECT_EQ(request.captureWidth, 854);
    EXPECT_EQ(request.gpsWidth, 256u);
    EXPECT_FALSE(panel.takeStartRequest(request));  // one request, taken once
  }
}

TEST_F(PlaybackTest, AnEmptyTitleStartsNothing) {
  panel.profileMode.store(true);
  EXPECT_FALSE(startPlayback(resolveSource("", nullptr), 1280, 720, 30, "YouTube"));
  EXPECT_FALSE(panel.profileMode.load());
  EXPECT_FALSE(panel.startRequested.load());
  EXPECT_FALSE(panel.playbackActive.load());
  EXPECT_EQ(capture.keywordCalls, 0);
  EXPECT_FALSE(startPlaybackFromPanel());  // no source window chosen
}

TEST_F(PlaybackTest, PanelStartStoresThePanelValuesIntoTheWindowsApplication) {
  AppLibrary::instance().initialize();
  panel.setSourceWindowTitle("Mix - YouTube");
  panel.captureWidth.store(2560);
  panel.captureHeight.store(1440);
  panel.fps.store(45);
  panel.volume.store(130);
  panel.userRestoredGps.store(true);
  ASSERT_TRUE(startPlaybackFromPanel());
  EXPECT_FALSE(panel.userRestoredGps.load());
  const AppEntry youtube = *AppLibrary::instance().findAppForTitle("Mix - YouTube");
  EXPECT_EQ(youtube.width, 2560u);
  EXPECT_EQ(youtube.fps, 45);
  EXPECT_EQ(youtube.volume, 100);
  EXPECT_EQ(ini::readString(file(media::kAppsFile), L"app_0", L"height"), L"1440");
  EXPECT_EQ(log.count("Configuracion guardada | YouTube."), 1u);
  EXPECT_TRUE(panel.startRequested.load());
}

TEST_F(PlaybackTest, AnApplicationsSettingsBecomeThePanelsAndACardStartsIt) {
  AppEntry radio{"Radio", "Radio", true, 1366, 768, 25, 140, false};
  panel.volume.store(55);
  applyAppSettings(radio, ChosenSource{});
  EXPECT_EQ(panel.captureWidth.load(), 1366);
  EXPECT_EQ(panel.resolutionIndex.load(), 3);
  EXPECT_EQ(panel.fps.load(), 25);
  EXPECT_EQ(panel.fpsIndex.load(), 1);
  EXPECT_EQ(panel.volume.load(), 55);  // untouched without a title
  EXPECT_EQ(panel.sourceWindowTitle(), "");

  panel.userRestoredGps.store(true);
  EXPECT_TRUE(activateApp(radio, resolveSource("Radio Nacional - en vivo", nullptr)));
  EXPECT_FALSE(panel.userRestoredGps.load());
  EXPECT_EQ(panel.sourceWindowTitle(), "Radio Nacional - en vivo");
  EXPECT_EQ(panel.volume.load(), 100);  // the app's 140, clamped
  EXPECT_EQ(ini::readString(file(media::kSmartCaptureFile), L"smart_capture", L"last_window"),
            L"Radio Nacional - en vivo");
  StartRequest request;
  ASSERT_TRUE(panel.takeStartRequest(request));
  EXPECT_EQ(request.title, L"Radio Nacional - en vivo");
  EXPECT_EQ(request.captureHeight, 768);
}

TEST_F(PlaybackTest, TextsAreCutAtTheirSizeWithoutSplittingACharacter) {
  const std::string title = std::string(254, 'a') + "\xC3\xB1" + "b";  // the 2-byte letter straddles byte 255
  panel.setSourceWindowTitle(title);
  EXPECT_EQ(panel.sourceWindowTitle(), std::string(254, 'a'));
  panel.setText(PanelText::ProfileName, std::string(70, 'p'));
  EXPECT_EQ(panel.text(PanelText::ProfileName).size(), 63u);
  ASSERT_TRUE(startPlayback(resolveSource(std::string(600, 'x'), nullptr), 1280, 720, 30, {}));
  EXPECT_EQ(panel.activeWindowTitle().size(), 255u);  // what the Present hook will start with
  EXPECT_EQ(capture.keyword.size(), 600u);
}

TEST_F(PlaybackTest, AnOverlayShutdownResetsTheHostValuesAndKeepsSourceSizeAndName) {
  panel.setSourceWindowTitle("Lofi - YouTube");
  panel.setText(PanelText::ProfileName, "Radio");
  panel.setText(PanelText::ProfileKeyword, "Radio");
  panel.setText(PanelText::AudioProcessName, "chrome.exe");
  panel.captureWidth.store(2560);
  panel.fps.store(60);
  panel.volume.store(30);
  panel.muted.store(true);
  panel.audioFound.store(true);
  panel.userRestoredGps.store(true);
  panel.selectedProfileIndex.store(2);
  panel.audioRefreshTime.store(77);
  ASSERT_TRUE(startPlayback(resolveSource("Lofi - YouTube", nullptr), 2560, 1440, 60, {}));
  panel.profileMode.store(true);

  panel.resetForOverlayShutdown();
  EXPECT_EQ(panel.sourceWindowTitle(), "Lofi - YouTube");
  EXPECT_EQ(panel.text(PanelText::ProfileName), "Radio");
  EXPECT_EQ(panel.captureWidth.load(), 2560);
  EXPECT_EQ(panel.fps.load(), 60);
  EXPECT_EQ(panel.activeWindowTitle(), "");
  EXPECT_EQ(panel.text(PanelText::ProfileKeyword), "");
  EXPECT_EQ(panel.text(PanelText::AudioProcessName), "");
  EXPECT_EQ(panel.volume.load(), 100);
  EXPECT_FALSE(panel.muted.load());
  EXPECT_FALSE(panel.audioFound.load());
  EXPECT_FALSE(panel.userRestoredGps.load());
  EXPECT_FALSE(panel.profileMode.load());
  EXPECT_EQ(panel.selectedProfileIndex.load(), -1);
  EXPECT_EQ(panel.audioRefreshTime.load(), 0u);
}

}  // namespace
