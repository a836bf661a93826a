#include "media/SmartCapture.h"

#include <cwctype>

#include "capture/WindowCapture.h"
#include "capture/WindowMatching.h"
#include "capture/WindowSurvey.h"
#include "core/Clock.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "media/AppLibrary.h"
#include "media/ChosenSource.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/Playback.h"

namespace zor {
namespace {

constexpr uint64_t kTickIntervalNs = 3'000'000'000ull;

struct CompatibleApp {
  const wchar_t* fragment;  // lower case
  int score;
  const wchar_t* program;  // the executable of an application that is a program of its own
};
constexpr CompatibleApp kCompatible[] = {
    {L"youtube", 100, L""},       {L"spotify", 95, L"spotify.exe"}, {L"prime video", 88, L""},
    {L"twitch", 85, L""},         {L"kick", 83, L""},               {L"vlc", 80, L"vlc.exe"},
    {L"obs", 78, L"obs64.exe"},   {L"facebook watch", 75, L""},     {L"disney+", 74, L""},
    {L"max", 70, L""},
};

// The title is lowered once (a round scores every visible window).
int scoreOf(const VisibleWindow& w) {
  std::wstring title = w.title;
  for (wchar_t& c : title) c = static_cast<wchar_t>(std::towlower(c));
  int best = 0;
  for (const CompatibleApp& app : kCompatible) {
    if (app.score <= best) continue;
    if (title.find(app.fragment) != std::wstring::npos || (!w.program.empty() && w.program == app.program)) best = app.score;
  }
  return best;
}

bool isSource(const VisibleWindow& w, const ChosenSource& source) {
  return source.window && w.window == source.window && w.processId == source.processId;
}

void setStatus(const char* text) { smartCapture().statusText = text; }

const wchar_t* flag(bool on) { return on ? L"1" : L"0"; }

}  // namespace

SmartCaptureState& smartCapture() {
  static SmartCaptureState state;
  return state;
}

void loadSmartCaptureSettings() {
  SmartCaptureState& s = smartCapture();
  if (s.settingsLoaded) return;
  const std::wstring path = media::settingsPath(media::kSmartCaptureFile);
  const wchar_t* section = L"smart_capture";
  s.settings.enabled = ini::readInteger(path, section, L"enabled", 1) != 0;
  s.settings.autoStart = ini::readInteger(path, section, L"auto_start", 0) != 0;
  s.settings.rememberLast = ini::readInteger(path, section, L"remember_last", 1) != 0;
  s.settings.autoSwitchApps = ini::readInteger(path, section, L"auto_switch_apps", 1) != 0;
  PanelState& panel = PanelState::instance();
  if (s.settings.rememberLast && panel.sourceWindowTitle().empty()) {
    const std::string last = media::textFromFile(ini::readString(path, section, L"last_window"));
    if (!last.empty()) panel.setSourceWindowTitle(last);
  }
  s.settingsLoaded = true;
}

void saveSmartCaptureSettings() {
  const SmartCaptureSettings& s = smartCapture().settings;
  const wchar_t* section = L"smart_capture";
  ini::writeKeys(media::settingsPath(media::kSmartCaptureFile),
                 {{section, L"enabled", flag(s.enabled)},
                  {section, L"auto_start", flag(s.autoStart)},
                  {section, L"remember_last", flag(s.rememberLast)},
                  {section, L"auto_switch_apps", flag(s.autoSwitchApps)},
                  {section, L"last_window", toWide(PanelState::instance().sourceWindowTitle())}});
}

int pickBestApplicationWindow(const std::vector<VisibleWindow>& windows) {
  const PanelState& panel = PanelState::instance();
  const ChosenSource source = panel.source();
  const bool remember = smartCapture().settings.rememberLast;
  if (remember || panel.playbackActive.load()) {
    for (size_t i = 0; i < windows.size(); ++i)
      if (isSource(windows[i], source)) return static_cast<int>(i);
  }
  if (remember && !source.window) {  // a title remembered from the last game
    const std::string& last = source.title;
    if (!last.empty()) {
      for (size_t i = 0; i < windows.size(); ++i)
        if (toUtf8Replacing(windows[i].title) == last) return static_cast<int>(i);
    }
  }
  int best = -1;
  int bestScore = 0;
  for (size_t i = 0; i < windows.size(); ++i) {
    const int score = scoreOf(windows[i]);
    if (score > bestScore) {
      bestScore = score;
      best = static_cast<int>(i);
    }
  }
  return best;
}

std::wstring pickBestApplicationTitle(const std::vector<std::wstring>& titles) {
  std::vector<VisibleWindow> windows(titles.size());
  for (size_t i = 0; i < titles.size(); ++i) windows[i].title = titles[i];
  const int best = pickBestApplicationWindow(windows);
  return best < 0 ? std::wstring() : titles[static_cast<size_t>(best)];
}

namespace {

// In profile mode the profile's window is the source: a run only says whether it is there.
bool profileHoldsTheSource() {
  if (!PanelState::instance().profileMode.load()) return false;
  setStatus(WindowCapture::instance().hasWindow() ? "Perfil seleccionado activo."
                                                  : "Esperando la ventana del perfil seleccionado...");
  return true;
}

// One detection run over the visible windows listed.
void detectAmong(const std::vector<VisibleWindow>& windows) {
  SmartCaptureState& s = smartCapture();
  PanelState& panel = PanelState::instance();
  const ChosenSource source = panel.source();
  bool sourcePresent = false;
  for (const VisibleWindow& w : windows) sourcePresent = sourcePresent || isSource(w, source);
  bool active = panel.playbackActive.load() || panel.startRequested.load();
  if (!active) active = WindowCapture::instance().hasWindow();

  const int bestIndex = pickBestApplicationWindow(windows);
  if (bestIndex < 0) {
    s.detectedTitle.clear();
    s.detected = false;
    if (s.settings.autoSwitchApps && active && !sourcePresent) {
      if (!s.waitingForNextApp) {  // once: the stop stays requested until another application comes
        panel.requestRestore();
        s.waitingForNextApp = true;
        setStatus("La aplicacion se cerro. Esperando otra aplicacion disponible...");
        logInfo("Aplicacion actual cerrada; esperando recuperacion automatica.");
      }
    } else {
      setStatus("No se detectaron aplicaciones compatibles.");
    }
    return;
  }

  const VisibleWindow& best = windows[static_cast<size_t>(bestIndex)];
  const std::string bestUtf8 = toUtf8Replacing(best.title);
  s.detectedTitle = clipUtf8(bestUtf8, 255);
  s.detected = true;
  if (isSource(best, source)) {  // the chosen window, whatever its title says now
    s.waitingForNextApp = false;
    setStatus("Aplicacion compatible lista para usar.");
    return;
  }

  const ChosenSource chosen = resolveListedSource(best, bestUtf8);
  const AppLibrary& library = AppLibrary::instance();
  const std::optional<AppEntry> app =
      chosen.appIndex < 0 ? std::nullopt : std::optional<AppEntry>(library.apps()[static_cast<size_t>(chosen.appIndex)]);
  const bool blocked = panel.userRestoredGps.load();
  uint32_t width = static_cast<uint32_t>(panel.captureWidth.load());
  uint32_t height = static_cast<uint32_t>(panel.captureHeight.load());
  int32_t fps = panel.fps.load();
  if (app) {
    width = app->width;
    height = app->height;
    fps = app->fps;
    // Another window of the same application keeps the player's volume and panel values.
    if (!blocked && app->name != s.appliedApp) {
      s.appliedApp = app->name;
      applyAppSettings(*app, chosen);
    }
  }

  panel.setSource(chosen);
  if (s.settings.rememberLast) saveSmartCaptureSettings();

  if (!blocked && s.settings.autoSwitchApps &&
      ((active && (!sourcePresent || s.waitingForNextApp)) || (!active && s.waitingForNextApp))) {
    s.waitingForNextApp = false;
    startPlayback(chosen, width, height, fps, {});
    setStatus("Cambio automatico realizado correctamente.");
    logInfo("Cambio automatico de aplicacion | " + bestUtf8 + " | captura=" + std::to_string(width) + "x" +
            std::to_string(height) + " | fps=" + std::to_string(fps) + ".");
    return;
  }

  setStatus("Aplicacion detectada y seleccionada automaticamente.");
  logInfo("V2.6.3 SMART CAPTURE: ventana detectada | " + bestUtf8 + ".");
  if (!blocked && (s.settings.autoStart || (app && app->autoStart)) && !active)
    startPlayback(chosen, width, height, fps, {});
}

}  // namespace

void smartCaptureTick(bool force) {
  if (!smartCapture().settings.enabled && !force) return;
  if (profileHoldsTheSource()) return;
  std::vector<VisibleWindow> windows;
  listVisibleWindows(windows, true);
  detectAmong(windows);
}

void smartCaptureFrame() {
  loadSmartCaptureSettings();
  SmartCaptureState& s = smartCapture();
  if (!s.settings.enabled) return;
  smartCaptureTakeSurvey();
  const uint64_t now = clock::steadyNs();
  if (s.ticked && now >= s.lastTickNs && now - s.lastTickNs < kTickIntervalNs) return;
  s.ticked = true;
  s.lastTickNs = now;
  if (!WindowSurvey::instance().request()) smartCaptureTick(false);
}

bool smartCaptureTakeSurvey() {
  SmartCaptureState& s = smartCapture();
  if (!WindowSurvey::instance().take(s.surveyed)) return false;
  if (!profileHoldsTheSource()) detectAmong(s.surveyed);
  return true;
}

void resetSmartCaptureForOverlayShutdown() {
  WindowSurvey::instance().stop();
  SmartCaptureState& s = smartCapture();
  PanelState::instance().profileMode.store(false);
  s.waitingForNextApp = false;
  s.detectedTitle.clear();
  s.detected = false;
  s.appliedApp.clear();
  s.settingsLoaded = false;
  s.lastTickNs = 0;
  s.ticked = false;
}

}  // namespace zor
