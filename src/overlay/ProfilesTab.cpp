// The "Perfiles" tab: up to 20 saved playback sources, loaded, started, created from the
// panel's values, overwritten or deleted. The store and every operation belong to the media
// sources; this draws them.
#include <imgui.h>

#include <string>

#include "media/PanelState.h"
#include "media/ProfileManager.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"

namespace zor::overlay {
namespace {

void drawProfileList() {
  PanelState& panel = PanelState::instance();
  ProfileManager& store = ProfileManager::instance();
  const int32_t selected = panel.selectedProfileIndex.load();
  const Profile* current = store.at(selected);
  if (!beginComboText("##profiles", current ? current->name : std::string("Seleccionar perfil..."))) return;
  if (store.profiles().empty()) ImGui::TextDisabled("Todavia no hay perfiles.");
  int32_t chosen = -1;
  for (size_t i = 0; i < store.profiles().size(); ++i) {
    const Profile& p = store.profiles()[i];
    const std::string label = p.autoStart ? p.name + "  [Inicio automatico]" : p.name;
    if (selectableText(static_cast<int>(i), label, static_cast<int32_t>(i) == selected)) chosen = static_cast<int32_t>(i);
  }
  ImGui::EndCombo();
  if (chosen >= 0) selectProfile(chosen);  // after the loop: the list is not touched while walked
}

void drawEditFields() {
  PanelState& panel = PanelState::instance();
  char name[64];
  fillBuffer(name, sizeof name, panel.text(PanelText::ProfileName));
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::InputText("##profile_name", name, sizeof name)) panel.setText(PanelText::ProfileName, name);
  bool autoStart = panel.profileAutoStart.load();
  if (ImGui::Checkbox("Iniciar automaticamente al abrir ATS", &autoStart)) panel.profileAutoStart.store(autoStart);
  ImGui::TextDisabled("Palabra estable para encontrar la ventana");
  char keyword[128];
  fillBuffer(keyword, sizeof keyword, panel.text(PanelText::ProfileKeyword));
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::InputTextWithHint("##profile_window_keyword", "Ejemplo: YouTube, Spotify o VLC", keyword, sizeof keyword)) {
    panel.setText(PanelText::ProfileKeyword, keyword);
  }
  ImGui::TextDisabled("Puede ser cualquier parte fija del titulo de la ventana.");

  const std::string source = panel.sourceWindowTitle();
  ImGui::TextDisabled("Ventana");
  ImGui::TextWrapped("%s", source.empty() ? "No seleccionada" : source.c_str());
  ImGui::TextDisabled("Calidad");
  ImGui::Text("%d x %d  |  %d FPS", panel.captureWidth.load(), panel.captureHeight.load(), panel.fps.load());
}

}  // namespace

void drawProfilesTab() {
  PanelState& panel = PanelState::instance();
  sectionTitle("PERFILES INTELIGENTES");
  ImGui::TextWrapped("Guarda la ventana, resolucion y FPS. Un perfil con inicio automatico se carga al abrir ATS.");
  ImGui::Separator();
  ImGui::TextUnformatted("Perfiles guardados");
  drawProfileList();

  const int32_t selected = panel.selectedProfileIndex.load();
  const bool valid = ProfileManager::instance().at(selected) != nullptr;
  float width = buttonWidth(2, 10);
  ImGui::BeginDisabled(!valid);
  if (ImGui::Button("Cargar perfil", ImVec2(width, 38))) loadProfile(selected, false);
  ImGui::SameLine();
  if (ImGui::Button("Cargar e iniciar", ImVec2(width, 38))) loadProfile(selected, true);
  ImGui::EndDisabled();

  ImGui::Spacing();
  ImGui::Separator();
  ImGui::TextUnformatted("Guardar configuracion actual");
  drawEditFields();

  width = buttonWidth(2, 10);
  if (ImGui::Button("Crear perfil nuevo", ImVec2(width, 38))) createProfileFromPanel();
  ImGui::SameLine();
  ImGui::BeginDisabled(!valid);
  if (ImGui::Button("Actualizar seleccionado", ImVec2(width, 38))) updateSelectedProfileFromPanel();
  ImGui::EndDisabled();
  ImGui::BeginDisabled(!valid);
  if (ImGui::Button("Eliminar perfil seleccionado", ImVec2(-FLT_MIN, 36))) deleteSelectedProfile();
  ImGui::EndDisabled();
  ImGui::Spacing();
  ImGui::TextDisabled("Los perfiles se guardan en la carpeta ZOR junto a la DLL");
}

}  // namespace zor::overlay
