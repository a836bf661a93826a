// Smart capture, the capture engine and media commands against separate media programs
// (zor_media.exe, each a process of its own like a browser or a music player). The Present
// hook's part (take the start request, start the engine, upload frames) is played by the test
// with a real device.
#include <gtest/gtest.h>

#include "FakeCoreAudio.h"
#include "MediaProgram.h"
#include "MediaTestSupport.h"
#include "media/ChosenSource.h"
#include "core/IniFile.h"
#include "media/SmartAudio.h"
#include "capture/GdiWindowCapture.h"
#include "media/Playback.h"
#include "support/GfxTestKit.h"

using namespace zor;
using namespace zor::test;

namespace {

class MediaProgramsTest : public MediaTest {
 protected:
  MediaProgramsTest() {
    TestWindows::clearAll();
    device = makeDevice(&context);
    D3D11_TEXTURE2D_DESC desc = textureDesc(256, 256, 1, DXGI_FORMAT_B8G8R8A8_UNORM);
    if (device) device->CreateTexture2D(&desc, nullptr, gpsTexture.put());
    WindowCapture::install(&engine);
  }
  ~MediaProgramsTest() override {
    WindowCapture::install(nullptr);
    engine.shutdown();
  }

  std::unique_ptr<sim::MediaProgram> open(const std::string& id, const std::wstring& title, int index,
                                          const std::wstring& exe = {}) {
    auto program = std::make_unique<sim::MediaProgram>(id, title, index);
    std::string error;
    EXPECT_TRUE(program->open(15000, error, exe.empty() ? exe : sim::mediaProgramCopy(exe))) << error;
    return program;
  }
  // The Present hook's part of a start: take the request and point the engine at its window.
  std::wstring presentStartsCapture() {
    StartRequest request;
    if (!panel.takeStartRequest(request)) return L"(sin solicitud)";
    engine.deactivate();
    EXPECT_TRUE(engine.start(device.get(), context.get(), request.title, request.fps, false, 0, 0, 0, 0));
    return request.title;
  }
  // The Present hook's part of a restore.
  void presentRestores() {
    ASSERT_TRUE(panel.restoreRequested.load());
    panel.completeRestore();
    engine.deactivate();
  }
  // Uploads until two new frames of the program's window reached the texture; false after 15 s.
  bool framesArriveFrom(const sim::MediaProgram& program) {
    int frames = 0;
    for (int i = 0; i < 300 && frames < 2; ++i) {
      if (engine.uploadLatestFrame(gpsTexture.get())) ++frames;
      if (frames < 2) Sleep(50);
    }
    return frames == 2 && engine.currentWindow() == program.hwnd();
  }
  // Share of the texture showing the program's teal ground.
  double tealShare() {
    const std::vector<uint32_t> texels = readTexels(device.get(), gpsTexture.get());
    size_t teal = 0;
    for (uint32_t t : texels) {
      const uint32_t r = (t >> 16) & 0xFF, g = (t >> 8) & 0xFF, b = t & 0xFF;
      teal += r < 40 && g > 100 && g < 180 && b > 90 && b < 170;
    }
    return texels.empty() ? 0.0 : static_cast<double>(teal) / static_cast<double>(texels.size());
  }

  PanelState& panel = PanelState::instance();
  SmartCaptureState& smart = smartCapture();
  GdiWindowCapture engine;
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
  ComRef<ID3D11Texture2D> gpsTexture;
};

TEST_F(MediaProgramsTest, SmartCaptureStartsTheBestProgramSwitchesWhenItClosesAndCommandsReachOnlyThePlayingOne) {
  ASSERT_TRUE(device && gpsTexture);
  ASSERT_TRUE(writeFile(file(media::kSmartCaptureFile), "[smart_capture]\r\nauto_start=1\r\n"));
  loadSmartCaptureSettings();
  AppLibrary::instance().initialize();
  auto spotify = open("spotify", L"Spotify Premium", 0);
  auto youtube = open("youtube", L"Lofi radio - YouTube", 1);

  // YouTube (100) beats Spotify (95); auto start leaves a request the Present hook carries out.
  smartCaptureTick(false);
  EXPECT_EQ(panel.sourceWindowTitle(), "Lofi radio - YouTube");
  EXPECT_EQ(presentStartsCapture(), L"Lofi radio - YouTube");
  ASSERT_TRUE(framesArriveFrom(*youtube)) << engine.currentWindow();
  EXPECT_GT(tealShare(), 0.3);

  // Only the playing program receives the command, and shows it.
  EXPECT_TRUE(sendMediaCommand(engine.currentWindow(), kCommandNextTrack, "siguiente"));
  for (int i = 0; i < 100 && youtube->commandCount() == 0; ++i) Sleep(20);
  EXPECT_EQ(youtube->commandCount(), 1u);
  EXPECT_EQ(youtube->lastCommand(), static_cast<int>(kCommandNextTrack));
  EXPECT_EQ(spotify->commandCount(), 0u);

  // The playing program closes while Spotify is open: switched at the next run.
  ASSERT_TRUE(youtube->close(10000));
  smartCaptureTick(false);
  EXPECT_EQ(smart.statusText, "Cambio automatico realizado correctamente.");
  EXPECT_EQ(presentStartsCapture(), L"Spotify Premium");
  EXPECT_TRUE(framesArriveFrom(*spotify));

  // Nothing compatible left: playback stops and waits; a new program starts by itself.
  ASSERT_TRUE(spotify->close(10000));
  smartCaptureTick(false);
  EXPECT_TRUE(smart.waitingForNextApp);
  presentRestores();
  auto vlc = open("vlc", L"VLC media player", 2);
  smartCaptureTick(false);
  EXPECT_EQ(log.count("Cambio automatico de aplicacion | VLC media player | captura=1280x720 | fps=30."), 1u);
  EXPECT_EQ(presentStartsCapture(), L"VLC media player");
  EXPECT_TRUE(framesArriveFrom(*vlc));
  EXPECT_GT(tealShare(), 0.3);
  vlc->close(10000);
}

// A music program of its own (run as spotify.exe) whose title is the song: recognised by its
// program, played whatever its title turns into, its sound found through its process, and its
// main window found by the engine again after it was closed and opened with another song.
TEST_F(MediaProgramsTest, AMusicProgramIsRecognisedAndFollowedByItsProgramNotItsTitle) {
  ASSERT_TRUE(device && gpsTexture);
  ASSERT_TRUE(writeFile(file(media::kSmartCaptureFile), "[smart_capture]\r\nauto_start=1\r\n"));
  loadSmartCaptureSettings();
  AppLibrary::instance().initialize();
  auto music = open("music", L"Artista - Primera cancion", 0, L"spotify.exe");

  smartCaptureTick(false);
  EXPECT_EQ(panel.volume.load(), 70);  // the library's Spotify settings
  EXPECT_EQ(presentStartsCapture(), L"Artista - Primera cancion");
  ASSERT_TRUE(framesArriveFrom(*music));

  music->setTitle(L"Otro artista - Segunda cancion");
  smartCaptureTick(false);
  EXPECT_FALSE(panel.startRequested.load());
  EXPECT_EQ(sourceTitleNow(), "Otro artista - Segunda cancion");
  EXPECT_TRUE(framesArriveFrom(*music));
  {
    FakeAudioSystem audio;
    audio.addSession(music->processId(), 0.5f);
    const AudioState state = readAudioState(panel.source());
    EXPECT_TRUE(state.connected);
    EXPECT_EQ(state.processName, "spotify.exe");
    EXPECT_TRUE(setAppVolume(panel.source(), 30, true));
    EXPECT_EQ(ini::readString(file(media::kAudioFile), L"spotify", L"volume"), L"30");
  }

  ASSERT_TRUE(music->close(10000));
  auto reopened = open("music", L"Tercer artista - Otra cancion", 0, L"spotify.exe");
  EXPECT_TRUE(framesArriveFrom(*reopened));
  EXPECT_EQ(log.count("Ventana de captura recuperada automaticamente."), 1u);
  reopened->close(10000);
}

// A profile saved while the music program played a song names the program: the next day, with
// another song in its title, starting the profile finds the program's window.
TEST_F(MediaProgramsTest, AProfileSavedWhileASongPlayedFindsTheMusicProgramWithAnotherSong) {
  ASSERT_TRUE(device && gpsTexture);
  ProfileManager& profiles = ProfileManager::instance();
  profiles.initialize();
  auto music = open("music", L"Artista - Primera cancion", 0, L"foobar.exe");  // a program no application names
  panel.setSource(resolveSource("Artista - Primera cancion", music->hwnd()));
  panel.setText(PanelText::ProfileName, "Musica");
  ASSERT_TRUE(createProfileFromPanel());
  EXPECT_EQ(ini::readString(file(media::kProfilesFile), L"profile_0", L"exe"), L"foobar.exe");
  ASSERT_TRUE(music->close(10000));

  auto nextDay = open("music", L"Otro artista - Otra cancion", 0, L"foobar.exe");
  profiles.reset();
  profiles.initialize();
  ASSERT_TRUE(loadProfile(0, true));
  EXPECT_EQ(presentStartsCapture(), L"Artista - Primera cancion");
  EXPECT_TRUE(framesArriveFrom(*nextDay));
  nextDay->close(10000);
}

// A profile saved from a browser tab does not name the browser: the next day, with only another
// tab of the browser open (the mail), neither it nor a file that named the browser binds that tab.
TEST_F(MediaProgramsTest, AProfileOfABrowserTabNeverBindsAnotherTabOfTheBrowser) {
  ASSERT_TRUE(device && gpsTexture);
  AppLibrary::instance().initialize();
  ProfileManager& profiles = ProfileManager::instance();
  profiles.initialize();
  auto browser = open("tab", L"Lofi radio - YouTube", 0, L"chrome.exe");
  panel.setSource(resolveSource("Lofi radio - YouTube", browser->hwnd()));
  panel.setText(PanelText::ProfileName, "Lofi");
  ASSERT_TRUE(createProfileFromPanel());
  EXPECT_EQ(ini::readString(file(media::kProfilesFile), L"profile_0", L"exe"), L"");

  browser->setTitle(L"Bandeja de entrada - Gmail");
  for (const wchar_t* exe : {L"", L"chrome.exe"}) {  // as saved now; as saved before
    SCOPED_TRACE(test::narrow(exe));
    if (*exe) ini::writeKeys(file(media::kProfilesFile), {{L"profile_0", L"exe", exe}});
    profiles.reset();
    profiles.initialize();
    ASSERT_TRUE(loadProfile(0, true));
    EXPECT_EQ(presentStartsCapture(), L"Lofi radio - YouTube");
    engine.uploadLatestFrame(gpsTexture.get());  // hands the worker the size: it searches
    ASSERT_TRUE(engine.waitUntilIdle(10000));
    EXPECT_FALSE(engine.hasWindow());
    panel.requestRestore();
    presentRestores();
  }
  browser->close(10000);
}

}  // namespace
