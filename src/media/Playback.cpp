#include "media/Playback.h"

#include <algorithm>

#include "capture/WindowCapture.h"
#include "capture/WindowMatching.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "media/ChosenSource.h"
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

bool startPlayback(ChosenSource source, uint32_t width, uint32_t height, int32_t fps, std::string_view searchKeyword,
                   const std::wstring& knownProgram) {
  PanelState& panel = PanelState::instance();
  panel.profileMode.store(false);
  if (source.title.empty()) return false;
  const std::string keyword(searchKeyword.empty() ? std::string_view(source.title) : searchKeyword);
  const std::wstring wideKeyword = toWide(keyword);
  const int32_t rate = std::clamp(fps, 1, 60);
  std::wstring program = searchProgramOf(source);
  if (program.empty()) program = knownProgram;
  if (!isChosenWindowAlive(source)) {
    // Gone or never known: the window the keyword (or the program) finds now, resolved once.
    const std::string title = std::move(source.title);
    source = resolveSource(title, findCaptureWindow(wideKeyword, program));
  }
  if (source.window) panel.setSource(source);
  WindowCapture& capture = WindowCapture::instance();
  capture.setWindowTarget(CaptureTarget{source, wideKeyword, program});
  capture.setFps(static_cast<uint32_t>(rate));
  panel.requestStart(keyword, static_cast<int32_t>(width), static_cast<int32_t>(height), rate);
  restoreAppAudio(source);
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

void applyAppSettings(const AppEntry& app, const ChosenSource& source) {
  PanelState& panel = PanelState::instance();
  setPanelCaptureSize(app.width, app.height);
  setPanelFps(app.fps);
  if (!source.title.empty()) {
    panel.setSource(source);
    const int32_t volume = std::clamp(app.volume, 0, 100);
    panel.volume.store(volume);
    setAppVolume(source, volume, true);
    panel.audioRefreshTime.store(0);
  }
  logInfo("V4.5.2 APP PROFILE: perfil cargado | " + app.name + " | volumen=" + std::to_string(app.volume) +
          "% | captura=" + std::to_string(app.width) + "x" + std::to_string(app.height) +
          " | fps=" + std::to_string(app.fps) + ".");
}

bool startPlaybackFromPanel() {
  PanelState& panel = PanelState::instance();
  ChosenSource source = panel.source();
  if (source.title.empty()) return false;
  // A title alone (or a window since closed) names its application by the title.
  if (!isChosenWindowAlive(source)) source = resolveSource(source.title, nullptr);
  panel.userRestoredGps.store(false);
  AppLibrary& library = AppLibrary::instance();
  const int32_t index = source.appIndex;
  if (index >= 0 && static_cast<size_t>(index) < library.apps().size()) {
    AppEntry updated = library.apps()[static_cast<size_t>(index)];
    updated.width = static_cast<uint32_t>(panel.captureWidth.load());
    updated.height = static_cast<uint32_t>(panel.captureHeight.load());
    updated.fps = panel.fps.load();
    updated.volume = std::clamp(panel.volume.load(), 0, 100);
    library.updateApp(index, updated);
  }
  return startPlayback(source, static_cast<uint32_t>(panel.captureWidth.load()),
                       static_cast<uint32_t>(panel.captureHeight.load()), panel.fps.load(), {});
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

bool activateApp(const AppEntry& app, const ChosenSource& source) {
  PanelState& panel = PanelState::instance();
  panel.userRestoredGps.store(false);
  panel.setSource(source);
  if (smartCapture().settings.rememberLast) saveSmartCaptureSettings();
  applyAppSettings(app, source);
  return startPlayback(source, app.width, app.height, app.fps, {});
}

std::string sourceTitleNow() {
  const ChosenSource source = PanelState::instance().source();
  if (isSameWindowAlive(source.window, source.processId)) {
    const std::string now = toUtf8Replacing(windowTitle(source.window));
    if (!now.empty()) return now;
  }
  return source.title;
}

}  // namespace zor
