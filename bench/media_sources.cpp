// What the media sources cost on the game's threads, as ratios against a floor measured in the
// same run (medians of alternating rounds):
// - one smart-capture run (every 3 s on the render thread) with 40 visible windows, against one
//   listing of the visible windows' titles, which the run cannot do without;
// - a key-down that is not a shortcut (the common case in the game window's procedure), against
//   the same message handed straight to the default window procedure.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchKit.h"
#include "capture/WindowMatching.h"
#include "media/AppLibrary.h"
#include "media/MediaControls.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/SmartCapture.h"

namespace {

volatile LRESULT g_sink = 0;

LRESULT CALLBACK plainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

std::vector<HWND> openWindows(int count) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &plainProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZorMediaBenchWindow";
  RegisterClassW(&wc);
  std::vector<HWND> windows;
  for (int i = 0; i < count; ++i) {
    std::wstring title = L"Documento " + std::to_wstring(i) + L" - Editor de texto";
    if (i == 17) title = L"Spotify Premium";
    if (i == 31) title = L"Lofi radio - YouTube";
    HWND w = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 10 + i, 10 + i, 160, 90,
                             nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(w, SW_SHOWNOACTIVATE);
    windows.push_back(w);
  }
  return windows;
}

void print(const char* what, const char* baseLabel, const char* otherLabel, std::pair<double, double> r) {
  std::printf("   %-34s %s %9.1f ns   %s %9.1f ns   ratio %6.2fx\n", what, baseLabel, r.first, otherLabel, r.second,
              r.second / r.first);
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"zor_media_bench";
  CreateDirectoryW(folder.c_str(), nullptr);
  zor::media::setSettingsFolder(folder);

  const std::vector<HWND> windows = openWindows(40);
  std::vector<std::wstring> listed;
  zor::listVisibleWindowTitles(listed);

  // Steady state: the library is loaded, the best window was handled on an earlier run and is
  // still open, so each run lists, scores and reports "ready" (what happens every 3 s).
  zor::AppLibrary::instance().initialize();
  zor::loadSmartCaptureSettings();
  zor::PanelState::instance().setSourceWindowTitle("Lofi radio - YouTube");
  zor::smartCaptureTick(false);

  std::printf("   %zu visible windows listed\n", listed.size());
  const auto nothing = [] {};
  const auto tick = zor::bench::compare(
      15, 20, nothing,
      [] {
        std::vector<std::wstring> titles;
        zor::listVisibleWindowTitles(titles);
        g_sink = static_cast<LRESULT>(titles.size());
      },
      nothing, [] { zor::smartCaptureTick(false); });
  print("smart-capture run, 40 windows", "listing", "run", tick);
  std::printf("   %-34s %.4f %% of the 3 s period\n", "run", tick.second / 3e9 * 100.0);

  HWND w = windows.front();
  const auto keyDown = zor::bench::compare(
      15, 20000, nothing, [w] { g_sink = CallWindowProcW(&DefWindowProcW, w, WM_KEYDOWN, 'A', 1); }, nothing,
      [w] {
        if (zor::handleMediaShortcut(WM_KEYDOWN, 'A', 1) == zor::ShortcutResult::NotHandled)
          g_sink = CallWindowProcW(&DefWindowProcW, w, WM_KEYDOWN, 'A', 1);
      });
  print("key-down, not a shortcut ('A')", "default", "with", keyDown);
  const auto shortcutKey = zor::bench::compare(
      15, 20000, nothing, [w] { g_sink = CallWindowProcW(&DefWindowProcW, w, WM_KEYDOWN, 'N', 1); }, nothing,
      [w] {
        if (zor::handleMediaShortcut(WM_KEYDOWN, 'N', 1) == zor::ShortcutResult::NotHandled)
          g_sink = CallWindowProcW(&DefWindowProcW, w, WM_KEYDOWN, 'N', 1);
      });
  print("key-down, N without Ctrl", "default", "with", shortcutKey);

  zor::media::setSettingsFolder({});
  for (const wchar_t* name : {zor::media::kAppsFile, zor::media::kSmartCaptureFile, zor::media::kAudioFile})
    DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());
  return 0;
}
