#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "core/IniFile.h"

using namespace zor;
using namespace zor::test;

namespace {

class AppLibraryTest : public MediaTest {
 protected:
  std::wstring path() const { return file(media::kAppsFile); }
  void initializeWith(const std::string& content) {
    ASSERT_TRUE(writeFile(path(), content));
    AppLibrary::instance().initialize();
  }
  AppLibrary& library = AppLibrary::instance();
};

std::string appSection(int i, const std::string& body) { return "[app_" + std::to_string(i) + "]\r\n" + body; }

std::vector<std::string> names(const std::vector<AppEntry>& apps) {
  std::vector<std::string> out;
  for (const AppEntry& a : apps) out.push_back(a.name);
  return out;
}

TEST_F(AppLibraryTest, TheCountIsClampedAndBadOrNetflixEntriesAreSkippedWithoutStoppingTheLoop) {
  std::string content = "[general]\r\ncount=1000000000000\r\n";
  content += appSection(0, "name=Radio\r\nkeyword=Radio\r\nwidth=100\r\nheight=99999\r\nfps=0\r\nvolume=150\r\n");
  content += appSection(1, "name=Netflix\r\nkeyword=Series\r\n");
  content += appSection(2, "name=Series\r\nkeyword=netflix\r\n");
  content += appSection(3, "name=netflix tv\r\nkeyword=NETFLIX\r\nfavorite=0\r\nauto_start=1\r\n");
  content += appSection(4, "name=Sin palabra\r\n");
  content += appSection(5, "name=" + std::string(600, 'n') + "\r\nkeyword=Largo\r\n");
  content += appSection(6, "name=Duplicada\r\nkeyword=Uno\r\n") + appSection(6, "name=Otra\r\nkeyword=Dos\r\n");
  for (int i = 7; i < 40; ++i) content += appSection(i, "name=App" + std::to_string(i) + "\r\nkeyword=K" + std::to_string(i) + "\r\n");
  initializeWith(content);

  const std::vector<AppEntry>& apps = library.apps();
  ASSERT_EQ(apps.size(), 27u);  // 30 sections read, three dropped
  EXPECT_EQ(apps[0].width, 320u);
  EXPECT_EQ(apps[0].height, 4320u);
  EXPECT_EQ(apps[0].fps, 1);
  EXPECT_EQ(apps[0].volume, 100);
  EXPECT_TRUE(apps[0].favorite);  // missing key reads as favourite
  EXPECT_EQ(apps[1].name, "netflix tv");
  EXPECT_FALSE(apps[1].favorite);
  EXPECT_TRUE(apps[1].autoStart);
  EXPECT_EQ(apps[2].name, std::string(511, 'n'));
  EXPECT_FALSE(apps[3].name.empty());  // one of the two duplicate sections, whichever the platform reads
  EXPECT_EQ(apps.back().name, "App29");
  EXPECT_EQ(log.count("Biblioteca de aplicaciones lista."), 1u);
}

TEST_F(AppLibraryTest, AnEmptyOrNetflixOnlyFileGetsTheBuiltInApplicationsWrittenBack) {
  for (const std::string& content :
       {std::string("[general]\r\ncount=1\r\n") + appSection(0, "name=Netflix\r\nkeyword=Netflix\r\n"),
        std::string("[general]\r\ncount=-5\r\n"), std::string()}) {
    library.reset();
    initializeWith(content);
    EXPECT_EQ(names(library.apps()), (std::vector<std::string>{"YouTube", "Spotify", "Prime Video", "Twitch", "VLC", "OBS"}));
    EXPECT_EQ(ini::readString(path(), L"general", L"count"), L"6");
    EXPECT_EQ(readFile(path()).find("Netflix"), std::string::npos);
    EXPECT_EQ(ini::readString(path(), L"app_3", L"volume"), L"75");
    EXPECT_EQ(ini::readString(path(), L"app_2", L"favorite"), L"0");
  }
  library.initialize();  // once only
  EXPECT_EQ(log.count("Biblioteca de aplicaciones lista."), 3u);
}

TEST_F(AppLibraryTest, UpdatesClampAndSaveAndInvalidOnesChangeNothing) {
  library.initialize();
  AppEntry vlc = library.apps()[4];
  vlc.width = 10000;
  vlc.fps = 90;
  vlc.volume = -3;
  EXPECT_FALSE(library.updateApp(6, vlc));
  EXPECT_FALSE(library.updateApp(-1, vlc));
  AppEntry nameless = vlc;
  nameless.name.clear();
  EXPECT_FALSE(library.updateApp(4, nameless));
  EXPECT_EQ(library.apps()[4].width, 1280u);

  EXPECT_TRUE(library.updateApp(4, vlc));
  EXPECT_EQ(library.apps()[4].width, 7680u);
  EXPECT_EQ(ini::readString(path(), L"app_4", L"fps"), L"60");
  EXPECT_EQ(ini::readString(path(), L"app_4", L"volume"), L"0");
  EXPECT_EQ(log.count("Configuracion guardada | VLC."), 1u);

  EXPECT_TRUE(library.toggleFavorite(4));
  EXPECT_EQ(ini::readString(path(), L"app_4", L"favorite"), L"1");
  EXPECT_FALSE(library.toggleFavorite(9));
}

TEST_F(AppLibraryTest, ACustomApplicationTakesThePanelValuesAndAKnownKeywordInAnyCaseIsRefused) {
  library.initialize();
  PanelState& panel = PanelState::instance();
  panel.captureWidth.store(854);
  panel.captureHeight.store(480);
  panel.fps.store(15);
  panel.volume.store(120);
  EXPECT_FALSE(library.addCustomApp("Mi YouTube", "youtube"));
  EXPECT_FALSE(library.addCustomApp("", "Radio"));
  EXPECT_FALSE(library.addCustomApp("Radio", ""));
  EXPECT_TRUE(library.addCustomApp("Radio", "Radio Nacional"));
  const AppEntry& radio = library.apps().back();
  EXPECT_TRUE(radio.favorite);
  EXPECT_FALSE(radio.autoStart);
  EXPECT_EQ(radio.width, 854u);
  EXPECT_EQ(radio.fps, 15);
  EXPECT_EQ(radio.volume, 100);
  EXPECT_EQ(ini::readString(path(), L"app_6", L"keyword"), L"Radio Nacional");

  for (int i = 8; i <= 30; ++i) ASSERT_TRUE(library.addCustomApp("App", "clave " + std::to_string(i)));
  EXPECT_EQ(library.apps().size(), 30u);
  EXPECT_FALSE(library.addCustomApp("App", "una mas"));
  EXPECT_EQ(library.apps().size(), 30u);
}

TEST_F(AppLibraryTest, TitlesFindTheFirstApplicationWhoseKeywordTheyContainInAnyCase) {
  library.initialize();
  ASSERT_TRUE(library.addCustomApp("Radio", "Radio Nacional"));
  const std::pair<const char*, const char*> cases[] = {
      {"lofi hip hop - YOUTUBE", "YouTube"},
      {"Spotify - YouTube mix", "YouTube"},  // library order decides
      {"radio nacional (en vivo)", "Radio"},
      {"Bloc de notas", ""},
      {"\xE6\x97\xA5\xE6\x9C\xAC - Twitch", "Twitch"},
  };
  for (const auto& [title, name] : cases) {
    const std::optional<AppEntry> app = library.findAppForTitle(title);
    EXPECT_EQ(app ? app->name : "", name) << title;
  }
  EXPECT_EQ(library.findAppByKeyword("prime video")->name, "Prime Video");
  EXPECT_FALSE(library.findAppByKeyword("Prime Video"));  // expects an already lower-cased keyword
  EXPECT_FALSE(library.findAppByKeyword("prime"));
}

TEST(AppShortLabel, CardBadgesTestCaseSensitiveFragmentsInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"YouTube Music", "YT"}, {"Amazon Prime", "PV"}, {"youtube", "APP"},    {"Spotify", "SP"},
      {"Twitch TV", "TW"},     {"VLC", "VLC"},         {"OBS Studio", "OBS"}, {"Spotify y YouTube", "YT"},
      {"Radio", "APP"},
  };
  for (const auto& [name, label] : cases) EXPECT_STREQ(appShortLabel(name), label) << name;
}

}  // namespace

namespace {
BOOL WINAPI refusedWrite(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) { return FALSE; }
}  // namespace

TEST_F(AppLibraryTest, ProgramsComeFromTheExeKeyOrABuiltInNameAndRecogniseWindowsWithoutTheKeyword) {
  std::string content = "[general]\r\ncount=4\r\n";
  content += appSection(0, "name=Spotify\r\nkeyword=Spotify\r\n");                   // written before programs
  content += appSection(1, "name=Radio\r\nkeyword=Radio\r\nexe=Radio.EXE\r\n");        // a custom program
  content += appSection(2, "name=YouTube\r\nkeyword=YouTube\r\n");                   // a browser: none
  content += appSection(3, "name=VLC\r\nkeyword=VLC\r\nexe=vlc64.exe\r\n");           // the file's own wins
  initializeWith(content);
  const std::vector<AppEntry>& apps = library.apps();
  ASSERT_EQ(apps.size(), 4u);
  EXPECT_EQ(apps[0].exe, "spotify.exe");
  EXPECT_EQ(apps[1].exe, "radio.exe");
  EXPECT_EQ(apps[2].exe, "");
  EXPECT_EQ(apps[3].exe, "vlc64.exe");
  EXPECT_EQ(library.indexForWindow("Artista - Cancion", L"spotify.exe"), 0);
  EXPECT_EQ(library.indexForWindow("Artista - Cancion", L"chrome.exe"), -1);
  EXPECT_EQ(library.indexForWindow("Lofi - YouTube", L"radio.exe"), 1);  // the first that recognises it
  library.save();
  EXPECT_EQ(ini::readString(path(), L"app_1", L"exe"), L"radio.exe");
  EXPECT_EQ(ini::readString(path(), L"app_2", L"exe"), L"");
}

TEST_F(AppLibraryTest, AFolderThatCannotBeWrittenStillLeavesTheBuiltInApplications) {
  ini::setWriteFunction(&refusedWrite);
  library.initialize();
  library.load();  // what the panel does when it opens
  ini::setWriteFunction(nullptr);
  EXPECT_EQ(library.apps().size(), 6u);
}
