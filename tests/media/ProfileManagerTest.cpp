#include <gtest/gtest.h>

#include <atomic>

#include "MediaTestSupport.h"
#include "core/IniFile.h"
#include "media/ProfileManager.h"

using namespace zor;
using namespace zor::test;

namespace {

class ProfileManagerTest : public MediaTest {
 protected:
  std::wstring path() const { return file(media::kProfilesFile); }
  void initializeWith(const std::string& content) {
    ASSERT_TRUE(writeFile(path(), content));
    store.initialize();
  }
  static Profile profile(const std::string& name, const std::string& title, const std::string& keyword = {}) {
    Profile p;
    p.name = name;
    p.windowTitle = title;
    p.windowKeyword = keyword;
    return p;
  }
  void storeThree() {
    store.initialize();
    ASSERT_TRUE(store.saveProfile(profile("Radio", "Radio Nacional - en vivo", "Radio Nacional"), -1));
    ASSERT_TRUE(store.saveProfile(profile("Musica", "Spotify Premium"), -1));
    ASSERT_TRUE(store.saveProfile(profile("Series", "Prime Video"), -1));
  }
  ProfileManager& store = ProfileManager::instance();
  PanelState& panel = PanelState::instance();
};

std::string profileSection(int i, const std::string& body) {
  return "[profile_" + std::to_string(i) + "]\r\n" + body;
}

// A UTF-16 profile file holding text (which may contain characters that are not valid UTF-16).
std::string utf16File(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  out.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  return out;
}

TEST_F(ProfileManagerTest, LoadingClampsCountsAndValuesSkipsNamelessSectionsAndFixesTheLastIndex) {
  const struct {
    const char* count;
    const char* last;
    size_t loaded;
    int32_t lastIndex;
  } cases[] = {{"25", "-1", 20, 0}, {"1000000000000", "19", 20, 19}, {"-5", "3", 0, -1}, {"2", "7", 2, 0}};
  for (const auto& c : cases) {
    std::string content = std::string("[general]\r\ncount=") + c.count + "\r\nlast_profile=" + c.last + "\r\n";
    for (int i = 0; i < 25; ++i) content += profileSection(i, "name=P" + std::to_string(i) + "\r\nwindow_title=T\r\n");
    store.reset();
    initializeWith(content);
    EXPECT_EQ(store.profiles().size(), c.loaded) << c.count;
    EXPECT_EQ(store.lastProfileIndex(), c.lastIndex) << c.count;
  }
  EXPECT_EQ(log.count("Administrador de perfiles inicializado | perfiles=20."), 2u);

  std::string content = "[general]\r\ncount=5\r\nlast_profile=1\r\n";
  content += profileSection(0, "name=A\r\nwindow_title=Lofi - YouTube\r\nwidth=100\r\nheight=10000\r\nfps=0\r\n");
  content += profileSection(1, "name=B\r\nwindow_title=VLC\r\nwindow_keyword=VLC media\r\nfps=120\r\nauto_start=1\r\n");
  content += profileSection(2, "name=C\r\nwindow_title=Twitch\r\n");
  content += profileSection(3, "window_title=sin nombre\r\n");
  content += profileSection(4, "name=E\r\nwindow_title=Radio\r\n");
  store.reset();
  initializeWith(content);
  ASSERT_EQ(store.profiles().size(), 4u);
  const Profile& a = store.profiles()[0];
  EXPECT_EQ(a.windowKeyword, "Lofi - YouTube");  // empty keyword: the title
  EXPECT_EQ(a.width, 320u);
  EXPECT_EQ(a.height, 4320u);
  EXPECT_EQ(a.fps, 1);
  EXPECT_EQ(store.profiles()[1].fps, 60);
  EXPECT_TRUE(store.profiles()[1].autoStart);
  EXPECT_EQ(store.profiles()[3].name, "E");  // position 3 comes from section 4
}

TEST_F(ProfileManagerTest, TextsInAUtf16FileSurviveAndAnInvalidCharacterIsReplacedNotLost) {
  const std::wstring body = L"[general]\r\ncount=1\r\n[profile_0]\r\nname=R\u00E1dio \U0001F3B5\r\nwindow_title=\u65E5\u672C "
                            L"\xD800 - YouTube\r\n";
  initializeWith(utf16File(body));
  ASSERT_EQ(store.profiles().size(), 1u);
  EXPECT_EQ(store.profiles()[0].name, "R\xC3\xA1" "dio \xF0\x9F\x8E\xB5");
  EXPECT_EQ(store.profiles()[0].windowTitle, "\xE6\x97\xA5\xE6\x9C\xAC \xEF\xBF\xBD - YouTube");
  ASSERT_TRUE(store.save());
  store.reset();
  store.initialize();
  EXPECT_EQ(store.profiles()[0].name, "R\xC3\xA1" "dio \xF0\x9F\x8E\xB5");
}

TEST_F(ProfileManagerTest, SavingAProfileClampsFillsTheKeywordAndStopsAtTwenty) {
  store.initialize();
  EXPECT_FALSE(store.saveProfile(profile("", "Spotify"), -1));
  EXPECT_FALSE(store.saveProfile(profile("Sin ventana", ""), -1));
  Profile p = profile("Radio", "Radio Nacional - en vivo");
  p.width = 100;
  p.height = 9000;
  p.fps = 0;
  ASSERT_TRUE(store.saveProfile(p, 5));  // not an existing index: appended
  EXPECT_EQ(log.count("Perfil guardado | indice=0."), 1u);
  EXPECT_EQ(ini::readString(path(), L"profile_0", L"window_keyword"), L"Radio Nacional - en vivo");
  EXPECT_EQ(ini::readString(path(), L"profile_0", L"width"), L"320");
  EXPECT_EQ(ini::readString(path(), L"profile_0", L"height"), L"4320");
  EXPECT_EQ(ini::readString(path(), L"profile_0", L"fps"), L"1");

  for (int i = 1; i < 20; ++i) ASSERT_TRUE(store.saveProfile(profile("P" + std::to_string(i), "T"), -1));
  EXPECT_EQ(store.lastProfileIndex(), 19);
  const std::string before = readFile(path());
  EXPECT_FALSE(store.saveProfile(profile("Sobra", "T"), -1));
  EXPECT_EQ(store.profiles().size(), 20u);
  EXPECT_EQ(readFile(path()), before);

  ASSERT_TRUE(store.saveProfile(profile("Nuevo nombre", "Twitch"), 3));
  EXPECT_EQ(store.profiles()[3].name, "Nuevo nombre");
  EXPECT_EQ(store.lastProfileIndex(), 3);
  EXPECT_EQ(ini::readString(path(), L"general", L"last_profile"), L"3");
}

TEST_F(ProfileManagerTest, DeletingMovesTheSelectionInsideTheListAndTheFileKeepsNoStaleSection) {
  storeThree();
  panel.selectedProfileIndex.store(2);
  ASSERT_TRUE(deleteSelectedProfile());
  EXPECT_EQ(store.lastProfileIndex(), 1);
  EXPECT_EQ(panel.selectedProfileIndex.load(), 1);
  EXPECT_EQ(panel.text(PanelText::ProfileName), "Musica");
  EXPECT_EQ(panel.text(PanelText::ProfileKeyword), "Spotify Premium");
  EXPECT_EQ(ini::readString(path(), L"profile_2", L"name"), L"");
  EXPECT_EQ(ini::readString(path(), L"general", L"count"), L"2");

  panel.selectedProfileIndex.store(0);
  ASSERT_TRUE(deleteSelectedProfile());
  EXPECT_EQ(panel.text(PanelText::ProfileName), "Musica");  // the last index (1) became 0
  panel.selectedProfileIndex.store(0);
  ASSERT_TRUE(deleteSelectedProfile());
  EXPECT_EQ(store.lastProfileIndex(), -1);
  EXPECT_EQ(panel.selectedProfileIndex.load(), -1);
  EXPECT_EQ(panel.text(PanelText::ProfileName), "Mi perfil");
  EXPECT_EQ(panel.text(PanelText::ProfileKeyword), "");
  EXPECT_FALSE(panel.profileAutoStart.load());
  EXPECT_FALSE(deleteSelectedProfile());
}

// Lets `allowed` writes through, then fails (a full disk part-way through a save).
std::atomic<int> g_writesLeft{0};
BOOL WINAPI failingWrite(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR path) {
  if (g_writesLeft.fetch_sub(1) <= 0) return FALSE;
  return WritePrivateProfileStringW(section, key, value, path);
}

TEST_F(ProfileManagerTest, ASaveThatFailsPartWayKeepsEveryProfileThePlayerHad) {
  storeThree();
  const std::string before = readFile(path());
  g_writesLeft = 9;  // dies inside the second profile's section
  ini::setWriteFunction(&failingWrite);
  EXPECT_FALSE(store.saveProfile(profile("Cuarto", "Kick"), -1));
  panel.selectedProfileIndex.store(0);
  EXPECT_FALSE(deleteSelectedProfile());
  ini::setWriteFunction(nullptr);
  EXPECT_EQ(log.count("Perfil guardado | indice=3."), 0u);
  EXPECT_EQ(log.count("No fue posible guardar ZorTabcastProfiles.ini; se conserva el archivo anterior."), 2u);
  EXPECT_EQ(readFile(path()), before);
  store.reset();
  store.initialize();
  EXPECT_EQ(store.profiles().size(), 3u);
}

TEST_F(ProfileManagerTest, ApplyingAProfileSetsThePanelAndCaptureAndStartingItUsesTheKeyword) {
  Profile p = profile("Radio", "Radio Nacional - en vivo", "Radio Nacional");
  p.width = 1600;
  p.height = 900;
  p.fps = 45;
  p.autoStart = true;
  applyProfile(p, false);
  EXPECT_EQ(panel.sourceWindowTitle(), "Radio Nacional - en vivo");
  EXPECT_EQ(panel.text(PanelText::ProfileKeyword), "Radio Nacional");
  EXPECT_EQ(panel.activeWindowTitle(), "Radio Nacional");
  EXPECT_EQ(panel.resolutionIndex.load(), 2);
  EXPECT_EQ(panel.fpsIndex.load(), 2);
  EXPECT_TRUE(panel.profileAutoStart.load());
  EXPECT_EQ(capture.keyword, L"Radio Nacional");
  EXPECT_EQ(capture.fps, 45u);
  EXPECT_FALSE(panel.startRequested.load());
  EXPECT_EQ(log.count("Perfil aplicado | nombre=Radio | ventana=Radio Nacional - en vivo | busqueda=Radio Nacional | "
                      "captura=1600x900 | fps=45 | autostart=SI."),
            1u);

  applyProfile(p, true);
  EXPECT_TRUE(panel.profileMode.load());
  StartRequest request;
  ASSERT_TRUE(panel.takeStartRequest(request));
  EXPECT_EQ(request.title, L"Radio Nacional");
  EXPECT_EQ(request.fps, 30u);
}

TEST_F(ProfileManagerTest, TheLastProfileIsRestoredAtStartAndItsAutoStartWaitsForNoRestore) {
  storeThree();
  Profile series = store.profiles()[2];
  series.autoStart = true;
  ASSERT_TRUE(store.saveProfile(series, 2));
  store.reset();  // a new game run

  panel.userRestoredGps.store(true);
  profileStartupFrame();
  EXPECT_EQ(panel.selectedProfileIndex.load(), 2);
  EXPECT_EQ(panel.text(PanelText::ProfileName), "Series");
  EXPECT_EQ(panel.sourceWindowTitle(), "Prime Video");
  EXPECT_TRUE(panel.pendingProfileAutostart.load());
  EXPECT_FALSE(panel.startRequested.load());
  profileStartupFrame();
  EXPECT_FALSE(panel.startRequested.load());  // blocked while the GPS was restored by hand

  panel.userRestoredGps.store(false);
  profileStartupFrame();
  EXPECT_FALSE(panel.pendingProfileAutostart.load());
  EXPECT_TRUE(panel.startRequested.load());
  EXPECT_TRUE(panel.profileMode.load());

  // "Cargar e iniciar" on another profile lifts a restore block and remembers the choice.
  panel.userRestoredGps.store(true);
  ASSERT_TRUE(loadProfile(0, true));
  EXPECT_FALSE(panel.userRestoredGps.load());
  EXPECT_EQ(panel.activeWindowTitle(), "Radio Nacional");
  EXPECT_EQ(ini::readString(path(), L"general", L"last_profile"), L"0");

  // After an overlay shutdown the next start restores again.
  resetProfilesForOverlayShutdown();
  panel.setSourceWindowTitle("");
  profileStartupFrame();
  EXPECT_EQ(panel.sourceWindowTitle(), "Radio Nacional - en vivo");
}

TEST_F(ProfileManagerTest, CreatingAndUpdatingFromThePanelUseThePanelValues) {
  store.initialize();
  panel.setText(PanelText::ProfileName, "Noche");
  panel.setSourceWindowTitle("");
  EXPECT_FALSE(createProfileFromPanel());  // no window chosen
  panel.setSourceWindowTitle("Lofi - YouTube");
  panel.captureWidth.store(100);
  panel.fps.store(0);
  ASSERT_TRUE(createProfileFromPanel());
  EXPECT_EQ(panel.selectedProfileIndex.load(), 0);
  EXPECT_EQ(store.profiles()[0].windowKeyword, "Lofi - YouTube");
  EXPECT_EQ(store.profiles()[0].width, 320u);
  EXPECT_EQ(store.profiles()[0].fps, 1);

  panel.setText(PanelText::ProfileKeyword, "YouTube");
  panel.profileAutoStart.store(true);
  ASSERT_TRUE(updateSelectedProfileFromPanel());
  EXPECT_EQ(store.profiles()[0].windowKeyword, "YouTube");
  EXPECT_TRUE(store.profiles()[0].autoStart);

  selectProfile(0);
  EXPECT_EQ(panel.text(PanelText::ProfileKeyword), "YouTube");
}

}  // namespace
