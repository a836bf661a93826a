// The "Perfiles" tab: up to 20 saved playback sources, loaded, started, created from the
// panel's values, overwritten or deleted. The store and every operation belong to the media
// sources; this draws them.
#include <imgui.h>

#include <string>

#include "media/PanelState.h"
#include "media/ProfileManager.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {

void drawProfileList() {
  PanelState& panel = PanelState::instance();
  ProfileManager& store = ProfileManager::instance();
  const int32_t selected = panel.selectedProfileIndex.load();
  const Profile* current = store.at(selected);
  if (!beginComboText("##profiles", current ? trValue(current->name) : std::string(tr("Seleccionar perfil...")))) return;
  if (store.profiles().empty()) ImGui::TextDisabled("%s", tr("Todavia no hay perfiles."));
  int32_t chosen = -1;
  for (size_t i = 0; i < store.profiles().size(); ++i) {
    const Profile& p = store.profiles()[i];
    const std::string name = trValue(p.name);
    const std::string label = p.autoStart ? name + tr("  [Inicio automatico]") : name;
    if (selectableText(static_cast<int>(i), label, static_cast<int32_t>(i) == selected)) chosen = static_cast<int32_t>(i);
  }
  ImGui::EndCombo();
  if (chosen >= 0) selectProfile(chosen);  // after the loop: the list is not touched while walked
}

void drawEditFields() {
  PanelState& panel = PanelState::instance();
  // The default name is shown in the panel's language and kept as it is until the player edits it.
  char name[64];
  fillBuffer(name, sizeof name, trValue(panel.text(PanelText::ProfileName)));
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::InputText("##profile_name", name, sizeof name)) panel.setText(PanelText::ProfileName, name);
  bool autoStart = panel.profileAutoStart.load();
  if (ImGui::Checkbox(tr("Iniciar automaticamente al abrir ATS###profile_auto_start"), &autoStart)) panel.profileAutoStart.store(autoStart);
  ImGui::TextDisabled("%s", tr("Palabra estable para encontrar la ventana"));
  char keyword[128];
  fillBuffer(keyword, sizeof keyword, panel.text(PanelText::ProfileKeyword));
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::InputTextWithHint("##profile_window_keyword", tr("Ejemplo: YouTube, Spotify o VLC"), keyword, sizeof keyword)) {
    panel.setText(PanelText::ProfileKeyword, keyword);
  }
  ImGui::TextDisabled("%s", tr("Puede ser cualquier parte fija del titulo de la ventana."));

  const std::string source = panel.sourceWindowTitle();
  ImGui::TextDisabled("%s", tr("Ventana"));
  ImGui::TextWrapped("%s", source.empty() ? tr("No seleccionada") : source.c_str());
  ImGui::TextDisabled("%s", tr("Calidad"));
  ImGui::Text("%d x %d  |  %d FPS", panel.captureWidth.load(), panel.captureHeight.load(), panel.fps.load());
}

}  // namespace

void drawProfilesTab() {
  PanelState& panel = PanelState::instance();
  sectionTitle(tr("PERFILES INTELIGENTES"));
  ImGui::TextWrapped("%s", tr("Guarda la ventana, resolucion y FPS. Un perfil con inicio automatico se carga al abrir ATS."));
  ImGui::Separator();
  ImGui::TextUnformatted(tr("Perfiles guardados"));
  drawProfileList();

  const int32_t selected = panel.selectedProfileIndex.load();
  const bool valid = ProfileManager::instance().at(selected) != nullptr;
  float width = buttonWidth(2, 10);
  ImGui::BeginDisabled(!valid);
  if (ImGui::Button(tr("Cargar perfil###load_profile"), ImVec2(width, 38))) loadProfile(selected, false);
  ImGui::SameLine();
  if (ImGui::Button(tr("Cargar e iniciar###load_and_start"), ImVec2(width, 38))) loadProfile(selected, true);
  ImGui::EndDisabled();

  ImGui::Spacing();
  ImGui::Separator();
  ImGui::TextUnformatted(tr("Guardar configuracion actual"));
  drawEditFields();

  width = buttonWidth(2, 10);
  if (ImGui::Button(tr("Crear perfil nuevo###create_profile"), ImVec2(width, 38))) createProfileFromPanel();
  ImGui::SameLine();
  ImGui::BeginDisabled(!valid);
  if (ImGui::Button(tr("Actualizar seleccionado###update_profile"), ImVec2(width, 38))) updateSelectedProfileFromPanel();
  ImGui::EndDisabled();
  ImGui::BeginDisabled(!valid);
  if (ImGui::Button(tr("Eliminar perfil seleccionado###delete_profile"), ImVec2(-FLT_MIN, 36))) deleteSelectedProfile();
  ImGui::EndDisabled();
  ImGui::Spacing();
  ImGui::TextDisabled("%s", tr("Los perfiles se guardan en la carpeta ZOR junto a la DLL"));
}

}  // namespace zor::overlay
