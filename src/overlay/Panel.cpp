// The panel window: a header band, the tab bar and the status footer.
#include "overlay/Panel.h"

#include <imgui.h>

#include <algorithm>

#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/KeyBindings.h"
#include "gps/GpsTextureReplacer.h"
#include "overlay/OverlayHost.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Theme.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {

constexpr uint64_t kGpsVisibleMs = 1800;

void drawHeader() {
  ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12);
  ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.03f, 0.115f, 0.205f, 0.96f));
  ImGui::PushStyleColor(ImGuiCol_Border, ImVec4(0.12f, 0.5f, 0.82f, 0.78f));
  if (ImGui::BeginChild("vantex_header", ImVec2(0, 82), ImGuiChildFlags_Border, ImGuiWindowFlags_NoScrollbar)) {
    ImGui::TextColored(ImVec4(0.25f, 0.78f, 1.0f, 1), "ZOR TABCAST");
    ImGui::SameLine();
    ImGui::TextColored(ImVec4(0.72f, 0.86f, 1.0f, 1), "VANTEX");
    ImGui::SameLine();
    const float right = ImGui::GetWindowContentRegionMax().x - 58;
    ImGui::SetCursorPosX(std::max(right, ImGui::GetCursorPosX() + 12));
    ImGui::TextDisabled("V4.6.0");
    ImGui::Spacing();
    ImGui::TextDisabled(tr("%s para mostrar u ocultar"), keyLabel(keys::Action::Panel).c_str());
    drawLanguageSelector(ImGui::GetWindowContentRegionMax().x);
  }
  ImGui::EndChild();
  ImGui::PopStyleColor(2);
  ImGui::PopStyleVar();
  drawLanguageNotSaved();
}

void drawFooter() {
  ImGui::Separator();
  ImGui::TextDisabled("ZOR TabCast Vantex");
  ImGui::SameLine();
  ImGui::TextDisabled("  |  ");
  ImGui::SameLine();
  if (WindowCapture::instance().hasWindow()) {
    ImGui::TextColored(theme::kGreen, "%s", tr("CAPTURA LISTA"));
  } else {
    ImGui::TextColored(theme::kAmber, "%s", tr("CAPTURA EN ESPERA"));
  }
  ImGui::SameLine();
  ImGui::TextDisabled("  |  ");
  ImGui::SameLine();
  if (gpsRecentlyReplaced(GpsTextureReplacer::instance().lastReplacementTick(), clock::tickMs())) {
    ImGui::TextColored(theme::kGreen, "%s", tr("GPS VISIBLE"));
  } else {
    ImGui::TextColored(theme::kMutedGreyBlue, "%s", tr("GPS FUERA DE VISTA"));
  }
}

}  // namespace

bool gpsRecentlyReplaced(uint64_t lastReplacementTick, uint64_t nowMs) noexcept {
  return lastReplacementTick != 0 && lastReplacementTick <= nowMs && nowMs - lastReplacementTick <= kGpsVisibleMs;
}

void drawPanel() {
  ImGui::SetNextWindowPos(ImVec2(24, 24), ImGuiCond_FirstUseEver);
  ImGui::SetNextWindowSize(ImVec2(660, 560), ImGuiCond_Always);
  bool open = host().panelVisible.load();
  const bool shown = ImGui::Begin("ZOR TabCast Vantex", &open,
                                  ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse);
  if (!shown) {
    ImGui::End();
    return;
  }
  drawHeader();

  ImGui::Spacing();
  ImGui::PushStyleVar(ImGuiStyleVar_TabRounding, 8);
  ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(10, 8));
  if (ImGui::BeginTabBar("##zor_vantex_tabs")) {
    if (ImGui::BeginTabItem(tr("Reproduccion###tab_playback"))) {
      drawPlaybackTab();
      ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem(tr("Perfiles###tab_profiles"))) {
      drawProfilesTab();
      ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem(tr("Aplicaciones###tab_applications"))) {
      drawApplicationsTab();
      ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem(tr("Diagnostico###tab_diagnostics"))) {
      drawDiagnosticsTab();
      ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem(tr("Teclas###tab_keys"))) {
      drawKeysTab();
      ImGui::EndTabItem();
    }
    ImGui::EndTabBar();
  }
  ImGui::PopStyleVar(2);

  drawFooter();
  ImGui::End();
}

}  // namespace zor::overlay
