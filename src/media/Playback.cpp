#include "media/Playback.h"

#include <algorithm>

#include "capture/WindowCapture.h"
#include "capture/WindowMatching.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "media/PanelState.h"
#include "media/SmartAudio.h"
#include "media/SmartCapture.h"

namespace zor {

int32_t resolutionIndex(int64_t width, int64_t height) {
  static constexpr int64_t kSizes[][2] = {{854, 480}, {1280, 720}, {1600, 900}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
  for (int32_t i = 0; i < 6; ++i)
    if (kSizes[i][0] == width && kSizes[i][1] == height) return i;
  return 3;
}

int32_t fpsIndex(int64_t fps) {
  static constexpr int64_t kRates[] = {15, 30, 45, 60};
  for (int32_t i = 0; i < 4; ++i)
    if (kRates[i] == fps) return i;
  return 1;
}

namespace {

// The program whose main window stands for the keyword when no title holds it: the one of the
// library application that recognises the window (or the title).
std::wstring programFor(std::string_view title, HWND window) {
  const std::wstring program = window ? processImageName([&] {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
  }())
                                      : std::wstring();
  const AppLibrary& library = AppLibrary::instance();
  const int32_t i = library.indexForWindow(title, program);
  return i < 0 ? std::wstring() : toWide(library.apps()[static_cast<size_t>(i)].exe);
}

}  // namespace

bool startPlayback(std::string_view title, uint32_t width, uint32_t height, int32_t fps, std::string_view origin,
                   std::string_view searchKeyword, HWND window, const std::wstring& knownProgram) {
  PanelState& panel = PanelState::instance();
  panel.profileMode.store(false);
  if (title.empty()) return false;
  const std::string_view keyword = searchKeyword.empty() ? title : searchKeyword;
  const int32_t rate = std::clamp(fps, 1, 60);
  if (window && !IsWindow(window)) window = nullptr;
  std::wstring program = programFor(title, window);
  if (program.empty()) program = knownProgram;
  if (!window) window = findCaptureWindow(toWide(keyword), program);
  if (window) panel.setSource(title, window);
  WindowCapture& capture = WindowCapture::instance();
  capture.setWindowTarget(toWide(keyword), program, window);
  capture.setFps(static_cast<uint32_t>(rate));
  panel.requestStart(keyword, static_cast<int32_t>(width), static_cast<int32_t>(height), rate);
  restoreAppAudio(title);
  panel.audioRefreshTime.store(0);
  return true;
}

void setPanelCaptureSize(uint32_t width, uint32_t height) {
  PanelState& panel = PanelState::instance();
  panel.captureWidth.store(static_cast<int32_t>(width));
  panel.captureHeight.store(static_cast<int32_t>(height));
  panel.resolutionIndex.store(resolutionIndex(width, height));
}

void setPanelFps(int32_t fps) {
  PanelState& panel = PanelState::instance();
  const int32_t rate = std::clamp(fps, 1, 60);
  panel.fps.store(rate);
  panel.fpsIndex.store(fpsIndex(rate));
}

void applyAppSettings(const AppEntry& app, std::string_view title, HWND window) {
  PanelState& panel = PanelState::instance();
  setPanelCaptureSize(app.width, app.height);
  setPanelFps(app.fps);
  if (!title.empty()) {
    panel.setSource(title, window);
    const int32_t volume = std::clamp(app.volume, 0, 100);
    panel.volume.store(volume);
    setAppVolume(title, volume, true);
    panel.audioRefreshTime.store(0);
  }
  logInfo("V4.5.2 APP PROFILE: perfil cargado | " + app.name + " | volumen=" + std::to_string(app.volume) +
          "% | captura=" + std::to_string(app.width) + "x" + std::to_string(app.height) +
          " | fps=" + std::to_string(app.fps) + ".");
}

bool startPlaybackFromPanel() {
  PanelState& panel = PanelState::instance();
  const std::string title = panel.sourceWindowTitle();
  if (title.empty()) return false;
  panel.userRestoredGps.store(false);
  AppLibrary& library = AppLibrary::instance();
  const int32_t index = library.indexForTitle(title);
  if (index >= 0) {
    AppEntry updated = library.apps()[static_cast<size_t>(index)];
    updated.width = static_cast<uint32_t>(panel.captureWidth.load());
    updated.height = static_cast<uint32_t>(panel.captureHeight.load());
    updated.fps = panel.fps.load();
    updated.volume = std::clamp(panel.volume.load(), 0, 100);
    library.updateApp(index, updated);
  }
  const SourceWindow source = panel.sourceWindow();
  const HWND window = isSameWindowAlive(source.window, source.processId) ? source.window : nullptr;
  return startPlayback(title, static_cast<uint32_t>(panel.captureWidth.load()),
                       static_cast<uint32_t>(panel.captureHeight.load()), panel.fps.load(), "panel", {}, window);
}

void restoreOriginalGps() {
  PanelState& panel = PanelState::instance();
  panel.requestRestore();
  panel.userRestoredGps.store(true);
  panel.pendingProfileAutostart.store(false);
  smartCapture().waitingForNextApp = false;
  WindowCapture::instance().setWindowKeyword(std::wstring());
  logInfo("GPS original restaurado por el usuario; autoinicio suspendido hasta una nueva reproduccion manual.");
}

bool activateApp(const AppEntry& app, std::string_view matchedTitle, HWND window) {
  PanelState& panel = PanelState::instance();
  panel.userRestoredGps.store(false);
  panel.setSource(matchedTitle, window);
  if (smartCapture().settings.rememberLast) saveSmartCaptureSettings();
  applyAppSettings(app, matchedTitle, window);
  return startPlayback(matchedTitle, app.width, app.height, app.fps, "gestor visual final", {}, window);
}

std::string sourceTitleNow() {
  const PanelState& panel = PanelState::instance();
  const SourceWindow source = panel.sourceWindow();
  if (isSameWindowAlive(source.window, source.processId)) {
    const std::string now = toUtf8Replacing(windowTitle(source.window));
    if (!now.empty()) return now;
  }
  return panel.sourceWindowTitle();
}

}  // namespace zor
