// Who else is in the game: module file names against the table, and a library of this test
// loaded for real under an overlay's file name.
#include "diagnostics/OtherOverlays.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "support/TempFolder.h"

namespace zor {
namespace {

constexpr wchar_t kGame[] = L"C:\\Juegos\\ATS\\bin\\win_x64";
constexpr wchar_t kPlugins[] = L"C:\\Juegos\\ATS\\bin\\win_x64\\plugins";
constexpr wchar_t kOwn[] = L"C:\\Juegos\\ATS\\bin\\win_x64\\plugins\\ZorTabcastPlugin.dll";

TEST(OtherOverlays, ModulesAreRecognisedByFileNameAndWhereTheyWereLoadedFrom) {
  const struct {
    const wchar_t* path;
    const char* found;  // empty: not an overlay
  } cases[] = {
      {L"C:\\Program Files (x86)\\Steam\\gameoverlayrenderer64.dll", "Steam overlay (gameoverlayrenderer64.dll)"},
      {L"C:\\Program Files (x86)\\RivaTuner Statistics Server\\RTSSHooks64.dll",
       "RivaTuner Statistics Server (RTSSHooks64.dll)"},
      {L"C:\\Users\\p\\AppData\\Local\\Discord\\DiscordHook64.dll", "Discord overlay (DiscordHook64.dll)"},
      {L"C:\\Program Files\\obs-studio\\data\\obs-plugins\\win-capture\\graphics-hook64.dll",
       "OBS game capture (graphics-hook64.dll)"},
      {L"C:\\Juegos\\ATS\\bin\\win_x64\\DXGI.dll", "proxy grafico (ReShade u otro) (DXGI.dll)"},
      {L"c:\\juegos\\ats\\bin\\win_x64\\d3d11.dll", "proxy grafico (ReShade u otro) (d3d11.dll)"},
      {L"C:\\Juegos\\ATS\\bin\\win_x64\\opengl32.dll", "proxy grafico (ReShade u otro) (opengl32.dll)"},
      {L"C:\\windows\\system32\\dxgi.dll", ""},  // the system's own
      {L"C:\\Juegos\\ATS\\bin\\win_x64\\plugins\\otra_telemetria.dll", "plugin de telemetria (otra_telemetria.dll)"},
      {L"C:\\Juegos\\ATS\\bin\\win_x64\\plugins\\ZORTABCASTPLUGIN.DLL", ""},  // the plugin itself
      {L"C:\\Juegos\\ATS\\bin\\win_x64\\plugins\\sub\\x.dll", ""},
      {L"C:\\Juegos\\ATS\\bin\\win_x64\\core_ats.dll", ""},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> found = recognizeOverlays({c.path}, kGame, std::wstring(kPlugins) + L"\\", kOwn);
    const std::vector<std::string> expected = *c.found ? std::vector<std::string>{c.found} : std::vector<std::string>{};
    EXPECT_EQ(found, expected) << test::narrow(c.path);
  }
  EXPECT_TRUE(recognizeOverlays({L"C:\\x\\dxgi.dll", L"C:\\x\\y.dll"}, L"", L"", kOwn).empty()) << "no folders known";
  EXPECT_EQ(otherOverlaysLine({}), "Otros overlays en el juego: ninguno.");
  EXPECT_EQ(otherOverlaysLine({"a (a.dll)", "b (b.dll)"}), "Otros overlays en el juego: a (a.dll), b (b.dll).");
}

// The process's own modules: a library loaded under the Steam overlay's file name is listed while
// it is loaded, and only then.
TEST(OtherOverlays, ALibraryLoadedUnderAnOverlaysNameIsListedWhileLoaded) {
  auto steam = [] {
    const std::vector<std::string> now = otherOverlaysInProcess();
    return std::count(now.begin(), now.end(), "Steam overlay (GameOverlayRenderer64.dll)");
  };
  EXPECT_EQ(steam(), 0);
  wchar_t exe[MAX_PATH];
  std::wstring original(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  original = original.substr(0, original.find_last_of(L"\\/") + 1) + L"zor_test_module.dll";
  test::TempFolder folder(L"zor_other_overlays");
  const std::wstring copy = folder / L"GameOverlayRenderer64.dll";
  ASSERT_TRUE(CopyFileW(original.c_str(), copy.c_str(), FALSE));
  HMODULE library = LoadLibraryW(copy.c_str());
  ASSERT_TRUE(library);
  EXPECT_EQ(steam(), 1);
  FreeLibrary(library);
  EXPECT_EQ(steam(), 0);
}

}  // namespace
}  // namespace zor
