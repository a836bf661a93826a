#include "media/SmartCapture.h"

#include "capture/WindowCapture.h"
#include "capture/WindowMatching.h"
#include "core/Clock.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "media/AppLibrary.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/Playback.h"

namespace zor {
namespace {

constexpr uint64_t kTickIntervalNs = 3'000'000'000ull;

struct CompatibleApp {
  const wchar_t* fragment;
  int score;
};
constexpr CompatibleApp kCompatible[] = {
    {L"YouTube", 100}, {L"Spotify", 95}, {L"Prime Video", 88}, {L"Twitch", 85},         {L"Kick", 83},
    {L"VLC", 80},      {L"OBS", 78},     {L"Facebook Watch", 75}, {L"Disney+", 74}, {L"Max", 70},
};

int scoreOf(const std::wstring& title) {
  int best = 0;
  for (const CompatibleApp& app : kCompatible)
    if (app.score > best && containsIgnoreCase(title, app.fragment)) best = app.score;
  return best;
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

std::wstring pickBestApplicationTitle(const std::vector<std::wstring>& titles) {
  if (smartCapture().settings.rememberLast) {
    const std::string source = PanelState::instance().sourceWindowTitle();
    if (!source.empty()) {
      for (const std::wstring& title : titles)
        if (toUtf8(title) == source) return title;
    }
  }
  const std::wstring* best = nullptr;
  int bestScore = 0;
  for (const std::wstring& title : titles) {
    const int score = scoreOf(title);
    if (score > bestScore) {
      bestScore = score;
      best = &title;
    }
  }
  return best ? *best : std::wstring();
}

void smartCaptureTick(bool force) {
  SmartCaptureState& s = smartCapture();
  PanelState& panel = PanelState::instance();
  if (!s.settings.enabled && !force) return;
  if (panel.profileMode.load()) {
    setStatus(WindowCapture::instance().hasWindow() ? "Perfil seleccionado activo."
                                                    : "Esperando la ventana del perfil seleccionado...");
    return;
  }

  std::vector<std::wstring> titles;
  listVisibleWindowTitles(titles);
  const std::string source = panel.sourceWindowTitle();
  bool lastPresent = false;
  if (!source.empty()) {
    for (const std::wstring& title : titles) {
      if (toUtf8(title) == source) {
        lastPresent = true;
        break;
      }
    }
  }
  bool active = panel.playbackActive.load() || panel.startRequested.load();
  if (!active) active = WindowCapture::instance().hasWindow();

  const std::wstring best = pickBestApplicationTitle(titles);
  if (best.empty()) {
    s.detectedTitle.clear();
    s.detected = false;
    if (s.settings.autoSwitchApps && active && !lastPresent) {
      panel.requestRestore();
      s.waitingForNextApp = true;
      setStatus("La aplicacion se cerro. Esperando otra aplicacion disponible...");
      logInfo("Aplicacion actual cerrada; esperando recuperacion automatica.");
    } else {
      setStatus("No se detectaron aplicaciones compatibles.");
    }
    return;
  }

  const std::string bestUtf8 = toUtf8(best);
  const bool same = bestUtf8 == source;
  s.detectedTitle = clipUtf8(bestUtf8, 255);
  s.detected = true;

  const std::optional<AppEntry> app = AppLibrary::instance().findAppForTitle(bestUtf8);
  const bool known = same && !source.empty();
  uint32_t width = static_cast<uint32_t>(panel.captureWidth.load());
  uint32_t height = static_cast<uint32_t>(panel.captureHeight.load());
  int32_t fps = panel.fps.load();
  if (app && !known) {
    width = app->width;
    height = app->height;
    fps = app->fps;
    applyAppSettings(*app, bestUtf8);
  }
  if (known) {
    s.waitingForNextApp = false;
    setStatus("Aplicacion compatible lista para usar.");
    return;
  }

  panel.setSourceWindowTitle(bestUtf8);
  if (s.settings.rememberLast) saveSmartCaptureSettings();

  const bool blocked = panel.userRestoredGps.load();
  if (!blocked && s.settings.autoSwitchApps &&
      ((active && (!lastPresent || s.waitingForNextApp)) || (!active && s.waitingForNextApp))) {
    s.waitingForNextApp = false;
    startPlayback(bestUtf8, width, height, fps, "cambio automatico", {});
    setStatus("Cambio automatico realizado correctamente.");
    logInfo("Cambio automatico de aplicacion | " + bestUtf8 + " | captura=" + std::to_string(width) + "x" +
            std::to_string(height) + " | fps=" + std::to_string(fps) + ".");
    return;
  }

  setStatus("Aplicacion detectada y seleccionada automaticamente.");
  logInfo("V2.6.3 SMART CAPTURE: ventana detectada | " + bestUtf8 + ".");
  if (!blocked && (s.settings.autoStart || (app && app->autoStart)) && !active)
    startPlayback(bestUtf8, width, height, fps, "captura inteligente", {});
}

void smartCaptureFrame() {
  loadSmartCaptureSettings();
  SmartCaptureState& s = smartCapture();
  if (!s.settings.enabled) return;
  const uint64_t now = clock::steadyNs();
  if (s.ticked && now >= s.lastTickNs && now - s.lastTickNs < kTickIntervalNs) return;
  s.ticked = true;
  s.lastTickNs = now;
  smartCaptureTick(false);
}

void resetSmartCaptureForOverlayShutdown() {
  SmartCaptureState& s = smartCapture();
  PanelState::instance().profileMode.store(false);
  s.waitingForNextApp = false;
  s.detectedTitle.clear();
  s.detected = false;
  s.settingsLoaded = false;
  s.lastTickNs = 0;
  s.ticked = false;
}

}  // namespace zor
