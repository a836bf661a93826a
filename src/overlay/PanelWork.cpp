// The panel's share of the overlay's per-frame work, and what its shut-down resets.
#include <imgui.h>

#include <algorithm>

#include "capture/WindowCapture.h"
#include "diagnostics/DiagnosticsCenter.h"
#include "media/AppLibrary.h"
#include "media/MediaFiles.h"
#include "media/MediaHost.h"
#include "media/PanelState.h"
#include "media/Playback.h"
#include "media/ProfileManager.h"
#include "overlay/Panel.h"
#include "overlay/PanelTabs.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {
bool g_panelSeeded = false;  // render thread
}

void loadPanelSettings() {
  ProfileManager& profiles = ProfileManager::instance();
  profiles.initialize();
  profiles.load();
  AppLibrary& apps = AppLibrary::instance();
  apps.initialize();
  apps.load();
  DiagnosticsCenter::instance().initialize();
}

void panelFrameWork() {
  media::frame();
  DiagnosticsCenter::instance().collect();  // a check that ended off the render thread
}

void seedPanelOnce() {
  if (g_panelSeeded) return;
  g_panelSeeded = true;
  PanelState& panel = PanelState::instance();
  WindowCapture& capture = WindowCapture::instance();
  if (panel.sourceWindowTitle().empty()) panel.setSourceWindowTitle(media::textFromFile(capture.windowKeyword()));
  setPanelFps(capture.effectiveFps());
}

void resetPanelForShutdown() {
  media::overlayShutdown();
  DiagnosticsCenter::instance().stop();
  resetApplicationsTabForShutdown();
  resetDiagnosticsTabForShutdown();
  resetLanguageSelectorForShutdown();
  resetKeysTabForShutdown();
  g_panelSeeded = false;
}

}  // namespace zor::overlay
