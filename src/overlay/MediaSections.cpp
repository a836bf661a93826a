// The two sections at the top of the Playback tab: the media controls of the captured window
// and the volume of the source window's application.
#include <imgui.h>

#include <algorithm>
#include <string>

#include "capture/WindowCapture.h"
#include "media/MediaControls.h"
#include "media/PanelState.h"
#include "media/SmartAudio.h"
#include "core/KeyBindings.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {

constexpr ImVec4 kTitleColour{0.25f, 0.78f, 1.0f, 1.0f};
constexpr ImVec4 kVolumeColour{0.2f, 0.92f, 0.38f, 1.0f};
constexpr ImVec4 kMutedColour{1.0f, 0.45f, 0.32f, 1.0f};
constexpr ImVec4 kNoSessionColour{1.0f, 0.66f, 0.22f, 1.0f};

// The volume, persisted; a muted session is unmuted first when asked.
void applyVolume(const ChosenSource& source, int32_t volume, bool unmuteFirst) {
  PanelState& panel = PanelState::instance();
  if (unmuteFirst && panel.muted.load()) {
    panel.muted.store(false);
    setAppMute(source, false, true);
  }
  panel.volume.store(volume);
  setAppVolume(source, volume, true);
}

}  // namespace

int32_t volumeStepDown(int32_t volume) noexcept { return volume - 10 < 1 ? 0 : volume - 10; }
int32_t volumeStepUp(int32_t volume) noexcept { return std::min(volume + 10, 100); }

void drawMediaControls() {
  ImGui::TextColored(kTitleColour, "%s", tr("CONTROLES MULTIMEDIA"));
  const HWND captured = WindowCapture::instance().currentWindow();
  ImGui::TextDisabled("%s", captured ? tr("Controla solamente la ventana que ZOR esta capturando.")
                                     : tr("Inicie la reproduccion para habilitar estos controles."));
  ImGui::PushTextWrapPos(0);  // long chosen keys wrap
  ImGui::TextDisabled(tr("Atajos: %s anterior | %s pausa | %s siguiente"), keyLabel(keys::Action::Previous).c_str(),
                      keyLabel(keys::Action::PlayPause).c_str(), keyLabel(keys::Action::Next).c_str());
  ImGui::PopTextWrapPos();
  const float width = buttonWidth(3, 16);
  ImGui::BeginDisabled(captured == nullptr);
  if (ImGui::Button(tr("Anterior###media_previous"), ImVec2(width, 34))) sendMediaCommand(captured, kCommandPreviousTrack, "anterior");
  ImGui::SameLine();
  if (ImGui::Button(tr("Pausa / Reanudar###media_pause"), ImVec2(width, 34))) sendMediaCommand(captured, kCommandPlayPause, "pausa_reanudar");
  ImGui::SameLine();
  if (ImGui::Button(tr("Siguiente###media_next"), ImVec2(width, 34))) sendMediaCommand(captured, kCommandNextTrack, "siguiente");
  ImGui::EndDisabled();
}

void drawSmartAudio() {
  refreshAudioState(false);
  ImGui::Spacing();
  ImGui::Separator();
  ImGui::Spacing();
  ImGui::TextColored(kTitleColour, "%s", tr("SMART AUDIO"));
  PanelState& panel = PanelState::instance();
  if (!panel.audioFound.load()) {
    ImGui::TextColored(kNoSessionColour, "%s", trText(panel.text(PanelText::AudioStatus)).c_str());
    if (ImGui::Button(tr("Buscar audio###find_audio"), ImVec2(-FLT_MIN, 34))) refreshAudioState(true);
    return;
  }
  const ChosenSource source = panel.source();
  const bool muted = panel.muted.load();
  ImGui::TextDisabled("%s", muted ? tr("SILENCIADO") : tr("VOLUMEN ACTUAL"));
  ImGui::SameLine();
  ImGui::TextColored(muted ? kMutedColour : kVolumeColour, "%d%%", muted ? 0 : panel.volume.load());
  const std::string process = panel.text(PanelText::AudioProcessName);
  if (!process.empty()) ImGui::TextDisabled(tr("Aplicacion controlada: %s"), process.c_str());

  int volume = panel.volume.load();
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::SliderInt("##smart_audio_volume", &volume, 0, 100)) {
    volume = std::clamp(volume, 0, 100);
    applyVolume(source, volume, volume >= 1);
  }

  const float width = buttonWidth(3, 16);
  if (ImGui::Button("-10 %", ImVec2(width, 32))) applyVolume(source, volumeStepDown(panel.volume.load()), false);
  ImGui::SameLine();
  if (ImGui::Button(panel.muted.load() ? tr("Activar sonido###mute") : tr("Silenciar###mute"), ImVec2(width, 32))) {
    const bool mute = !panel.muted.load();
    panel.muted.store(mute);
    setAppMute(source, mute, true);
  }
  ImGui::SameLine();
  if (ImGui::Button("+10 %", ImVec2(width, 32))) applyVolume(source, volumeStepUp(panel.volume.load()), true);
}

}  // namespace zor::overlay
