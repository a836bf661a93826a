// Cost of the panel's frame with the Aplicaciones tab open and a full library (30 applications,
// each card matched against the open windows every frame) next to the Reproduccion tab: the
// overlay's renderFrame alone, and with the Present that follows it. The tabs are chosen with a
// click at the place the panel reports for them; rounds of the two tabs alternate and each
// figure is the median over rounds.
#include <windows.h>

#include <cstdio>
#include <string>

#include "BenchGame.h"
#include "BenchKit.h"
#include "core/ComRef.h"
#include "media/MediaFiles.h"
#include "overlay/ConfigOverlay.h"
#include "overlay/FrameRecord.h"

using namespace zor;
using namespace zor::bench;

namespace {

bool g_keys[256];
SHORT WINAPI keyState(int vk) { return g_keys[vk & 0xFF] ? SHORT(0x8000) : SHORT(0); }

void pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

void writeSettings(const std::wstring& folder) {
  const std::wstring apps = folder + L"\\" + media::kAppsFile;
  WritePrivateProfileStringW(L"general", L"count", L"30", apps.c_str());
  for (int i = 0; i < 30; ++i) {
    const std::wstring section = L"app_" + std::to_wstring(i);
    std::wstring keyword = L"Emisora " + std::to_wstring(i) + L" ";
    keyword += std::wstring(70 - keyword.size(), L'k');
    WritePrivateProfileStringW(section.c_str(), L"name", (L"Radio " + std::to_wstring(i)).c_str(), apps.c_str());
    WritePrivateProfileStringW(section.c_str(), L"keyword", i == 0 ? L"YouTube" : keyword.c_str(), apps.c_str());
  }
  WritePrivateProfileStringW(L"setup", L"completed", L"1", (folder + L"\\ZorTabcastFirstRun.ini").c_str());
  WritePrivateProfileStringW(L"smart_capture", L"enabled", L"0", (folder + L"\\" + media::kSmartCaptureFile).c_str());
}

struct Bench {
  GameWindow game;
  ConfigOverlay& overlay = ConfigOverlay::instance();

  void frame() { overlay.renderFrame(game.swapChain.get()); }
  void frameAndPresent() {
    frame();
    game.swapChain->Present(0, 0);
  }
  void keys(int a, bool downA, int b = 0, bool downB = false) {
    g_keys[a] = downA;
    if (b) g_keys[b] = downB;
    frame();
    pump();
  }
  void toggle() {
    keys(VK_CONTROL, true);
    keys(VK_CONTROL, true, VK_F8, true);
    keys(VK_CONTROL, false, VK_F8, false);
  }
  std::string record() {
    overlay::requestFrameRecord();
    frame();
    return overlay::latestFrameRecord();
  }
  // The middle of the item named label in the panel's record, in screen pixels.
  bool find(const std::string& label, POINT& at) {
    const std::string text = record();
    const size_t line = text.find("\n" + label + "\t");
    if (line == std::string::npos) return false;
    int x = 0, y = 0, w = 0, h = 0, flags = 0;
    if (std::sscanf(text.c_str() + line + 1 + label.size(), "\t%d\t%d\t%d\t%d\t%d", &x, &y, &w, &h, &flags) != 5) return false;
    at = {x + w / 2, y + h / 2};
    return ClientToScreen(game.hwnd, &at) != 0;
  }
  // A click on the tab while the panel is shown; the pointer is put there while it is closed
  // (the shown panel keeps the game from moving the cursor).
  void selectTab(POINT at) {
    toggle();
    SetCursorPos(at.x, at.y);
    for (int i = 0; i < 3; ++i) keys(0, false);
    toggle();
    for (int i = 0; i < 3; ++i) keys(0, false);
    keys(VK_LBUTTON, true);
    keys(VK_LBUTTON, true);
    keys(VK_LBUTTON, false);
    keys(VK_LBUTTON, false);
  }
};

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"zor_bench_panel_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  writeSettings(folder);
  media::setSettingsFolder(folder);

  Bench b;
  b.game = makeGameWindow(L"ZorBenchPanelGame", 800, 640, L"bench game - YouTube");
  if (!b.game.swapChain) {
    std::printf("   no D3D11 swap chain: nothing measured\n");
    return 1;
  }
  ConfigOverlay::setKeyStateSource(&keyState);
  if (!b.overlay.initialize(b.game.hwnd, b.game.device.get(), b.game.context.get())) {
    std::printf("   the overlay did not start: nothing measured\n");
    return 1;
  }
  b.toggle();
  POINT playback{}, apps{};
  if (!b.find("Reproduccion", playback) || !b.find("Aplicaciones", apps)) {
    std::printf("   the panel's tabs were not found: nothing measured\n");
    return 1;
  }
  b.selectTab(apps);
  if (b.record().find("GESTOR VISUAL DE APLICACIONES") == std::string::npos ||
      b.record().find("Radio 29") == std::string::npos) {
    std::printf("   the Aplicaciones tab with 30 applications did not open: nothing measured\n");
    return 1;
  }

  std::printf("   -- the panel's frame: Reproduccion tab vs Aplicaciones tab with 30 applications\n");
  auto toPlayback = [&] { b.selectTab(playback); };
  auto toApps = [&] { b.selectTab(apps); };
  const auto alone = compare(15, 30, toPlayback, [&] { b.frame(); }, toApps, [&] { b.frame(); });
  std::printf("   %-44s Reproduccion %9.1f us   Aplicaciones %9.1f us   ratio %6.2fx\n", "renderFrame", alone.first / 1000,
              alone.second / 1000, alone.second / alone.first);
  const auto presented = compare(15, 15, toPlayback, [&] { b.frameAndPresent(); }, toApps, [&] { b.frameAndPresent(); });
  std::printf("   %-44s Reproduccion %9.1f us   Aplicaciones %9.1f us   ratio %6.2fx\n", "renderFrame + Present",
              presented.first / 1000, presented.second / 1000, presented.second / presented.first);

  b.overlay.shutdown();
  ConfigOverlay::setKeyStateSource(nullptr);
  media::setSettingsFolder({});
  for (const wchar_t* name : {media::kAppsFile, media::kSmartCaptureFile, L"ZorTabcastFirstRun.ini", media::kProfilesFile,
                              media::kAudioFile})
    DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());
  return 0;
}
