// The "Reproduccion" tab: which GPS screen shows the picture, which window is captured, at
// which size and rate, smart capture's switches, and starting playback or giving the GPS its
// own picture back.
#include <imgui.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture/WindowCapture.h"
#include "capture/WindowMatching.h"
#include "core/GameState.h"
#include "core/KeyBindings.h"
#include "core/PluginConfig.h"
#include "gps/PlaybackTarget.h"
#include "gps/TruckGpsProfile.h"
#include "media/MediaFiles.h"
#include "media/ChosenSource.h"
#include "media/PanelState.h"
#include "media/Playback.h"
#include "media/SmartCapture.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {

void pushChosenColours() {
  ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.1f, 0.52f, 0.82f, 1));
  ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.13f, 0.62f, 0.92f, 1));
  ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.08f, 0.44f, 0.72f, 1));
}

// A target button; true when clicked.
bool targetButton(const char* label, bool chosen, bool enabled, float width) {
  if (chosen) pushChosenColours();
  ImGui::BeginDisabled(!enabled);
  const bool clicked = ImGui::Button(label, ImVec2(width, 40));
  ImGui::EndDisabled();
  if (chosen) ImGui::PopStyleColor(3);
  return clicked;
}

void chooseTarget(PlaybackTarget target) {
  if (playbackTarget() == target) return;  // the chosen one again writes nothing
  setPlaybackTarget(target);
  savePlaybackTarget(configFilePath(L"ZorTabcastPlugin.ini"), target);  // applied even if the write fails
}

void drawTargets() {
  ImGui::Spacing();
  ImGui::Separator();
  ImGui::Spacing();
  sectionTitle(tr("Destino de reproduccion"));
  ImGui::TextWrapped("%s", tr("Elija una sola pantalla. El otro tipo de GPS conservara su mapa original."));
  const float width = buttonWidth(2, 10);
  const PlaybackTarget target = playbackTarget();
  const bool compatible = gameState().truckProfileId.load() != 0;
  if (targetButton(tr("TabCast / LUMEX###target_tablet"), target == kTargetTablet, true, width)) chooseTarget(kTargetTablet);
  ImGui::SameLine();
  if (targetButton(tr("GPS original###target_dashboard"), target == kTargetDashboard, compatible, width)) chooseTarget(kTargetDashboard);
  if (compatible) {
    ImGui::TextColored(ImVec4(0.2f, 0.9f, 0.35f, 1), tr("GPS original compatible: %s"), truckProfileName());
  } else {
    ImGui::TextDisabled("%s", tr("El camion actual no tiene un perfil de GPS original compatible."));
  }
}

void drawSourceWindow() {
  ImGui::Spacing();
  ImGui::TextUnformatted(tr("Ventana de la barra de tareas"));
  PanelState& panel = PanelState::instance();
  const std::string shown = sourceTitleNow();  // a song, a new video: what the window says now
  const StillPictureReport picture = WindowCapture::instance().stillPicture();
  if (picture.still) {
    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1.0f, 0.75f, 0.2f, 1));
    ImGui::TextWrapped(tr("La imagen no cambia: %s"), trText(stillPictureHint(picture.program)).c_str());
    ImGui::PopStyleColor();
  }
  if (!beginComboText("##source", shown.empty() ? tr("Seleccionar una ventana abierta...") : shown)) return;
  // Listed afresh every frame while the list is open, and only then.
  std::vector<VisibleWindow> windows;
  listVisibleWindows(windows, false);
  if (windows.empty()) ImGui::TextDisabled("%s", tr("No hay ventanas visibles disponibles."));
  const ChosenSource source = panel.source();
  int row = 0;
  for (const VisibleWindow& w : windows) {
    const std::string title = media::textFromFile(w.title);
    if (title.empty()) continue;
    const bool chosen = source.window == w.window && source.processId == w.processId;
    if (selectableText(row++, title, chosen)) {
      panel.setSource(resolveSource(title, w.window));
      if (smartCapture().settings.rememberLast) saveSmartCaptureSettings();
      panel.audioRefreshTime.store(0);  // the audio section asks about the new window next frame
    }
  }
  ImGui::EndCombo();
}

void drawSmartCapture() {
  ImGui::Spacing();
  ImGui::Separator();
  sectionTitle(tr("Captura inteligente"));
  SmartCaptureState& smart = smartCapture();
  bool changed = false;
  changed |= ImGui::Checkbox(tr("Detectar aplicaciones automaticamente###smart_enabled"), &smart.settings.enabled);
  changed |= ImGui::Checkbox(tr("Iniciar al detectar una aplicacion###smart_auto_start"), &smart.settings.autoStart);
  changed |= ImGui::Checkbox(tr("Recordar la ultima ventana###smart_remember"), &smart.settings.rememberLast);
  changed |= ImGui::Checkbox(tr("Cambiar automaticamente si la aplicacion se cierra###smart_switch"), &smart.settings.autoSwitchApps);
  if (changed) saveSmartCaptureSettings();
  if (smart.detected) {
    ImGui::TextDisabled("%s", tr("Aplicacion detectada"));
    ImGui::TextWrapped("%s", smart.detectedTitle.c_str());
  }
  ImGui::TextDisabled("%s", trText(smart.statusText).c_str());
  if (ImGui::Button(tr("Buscar ahora###smart_search"), ImVec2(-FLT_MIN, 34))) smartCaptureTick(true);
}

void drawQuality() {
  PanelState& panel = PanelState::instance();
  ImGui::Spacing();
  ImGui::TextUnformatted(tr("Resolucion de captura"));
  const int32_t resolution = std::clamp(panel.resolutionIndex.load(), 0, 5);
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::BeginCombo("##capture_resolution", tr(kResolutions[resolution].label))) {
    for (int32_t i = 0; i < 6; ++i) {
      if (ImGui::Selectable(tr(kResolutions[i].label), i == resolution)) {
        panel.resolutionIndex.store(i);
        panel.captureWidth.store(kResolutions[i].width);
        panel.captureHeight.store(kResolutions[i].height);
      }
      if (i == resolution) ImGui::SetItemDefaultFocus();
    }
    ImGui::EndCombo();
  }
  ImGui::Spacing();
  ImGui::TextUnformatted(tr("FPS"));
  const int32_t rate = std::clamp(panel.fpsIndex.load(), 0, 3);
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::BeginCombo("##fps", tr(kRates[rate].label))) {
    for (int32_t i = 0; i < 4; ++i) {
      if (ImGui::Selectable(tr(kRates[i].label), i == rate)) {
        panel.fpsIndex.store(i);
        panel.fps.store(kRates[i].fps);
      }
      if (i == rate) ImGui::SetItemDefaultFocus();
    }
    ImGui::EndCombo();
  }
}

void drawStatusAndActions() {
  PanelState& panel = PanelState::instance();
  ImGui::Spacing();
  ImGui::Separator();
  sectionTitle(tr("Estado del plugin"));
  const bool windowValid = IsWindow(WindowCapture::instance().currentWindow()) != FALSE;
  const bool hasSource = !panel.sourceWindowTitle().empty();
  const ImVec4 amber(1.0f, 0.72f, 0.2f, 1);
  if (panel.playbackActive.load() && windowValid) {
    ImGui::TextColored(ImVec4(0.2f, 0.9f, 0.35f, 1), "%s", tr("Reproduccion activa"));
  } else if (panel.playbackActive.load() && hasSource) {
    ImGui::TextColored(amber, "%s", tr("Buscando la ventana del perfil..."));
  } else if (hasSource) {
    ImGui::TextColored(ImVec4(0.22f, 0.72f, 1.0f, 1), "%s", tr("Listo para reproducir"));
  } else {
    ImGui::TextColored(amber, "%s", tr("Seleccione una ventana"));
  }
  ImGui::Spacing();
  const float width = buttonWidth(2, 10);
  if (ImGui::Button(tr("Iniciar reproduccion###start_playback"), ImVec2(width, 40))) startPlaybackFromPanel();
  ImGui::SameLine();
  if (ImGui::Button(tr("Restaurar GPS original###restore_gps"), ImVec2(width, 40))) restoreOriginalGps();
}

}  // namespace

void drawPlaybackTab() {
  drawMediaControls();
  drawSmartAudio();
  ImGui::PushTextWrapPos(0);  // long chosen keys wrap
  ImGui::TextDisabled(tr("Volumen: %s / %s | %s silenciar"), keyLabel(keys::Action::VolumeUp).c_str(),
                      keyLabel(keys::Action::VolumeDown).c_str(), keyLabel(keys::Action::Mute).c_str());
  ImGui::PopTextWrapPos();
  drawTargets();
  drawSourceWindow();
  drawSmartCapture();
  drawQuality();
  drawStatusAndActions();
}

}  // namespace zor::overlay
