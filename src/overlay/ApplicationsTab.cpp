// The "Aplicaciones" tab: the application library as cards (open or closed, playing or not)
// with one-click activation, editing and a favourite toggle; adding a custom application; and
// the per-application capture settings. The library, its file and starting playback belong to
// the media sources; this draws them and matches the cards to the open windows.
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "capture/WindowMatching.h"
#include "core/Clock.h"
#include "core/Utf8.h"
#include "media/AppLibrary.h"
#include "media/ChosenSource.h"
#include "media/PanelState.h"
#include "media/Playback.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {

constexpr uint64_t kWindowScanNs = 1'200'000'000ull;
// A box of fixed height: no scrollbar, and the mouse wheel scrolls the panel, not the box (its
// content may be a few pixels taller than the box).
constexpr ImGuiWindowFlags kFixedChild = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;

constexpr ImVec4 kTitle{0.25f, 0.78f, 1.0f, 1};
constexpr ImVec4 kAvailable{0.2f, 0.92f, 0.38f, 1};
constexpr ImVec4 kClosed{1.0f, 0.66f, 0.22f, 1};
constexpr ImVec4 kFavourite{1.0f, 0.78f, 0.22f, 1};
constexpr ImVec4 kMark{0.26f, 0.8f, 1.0f, 1};

struct CachedWindow {
  HWND window = nullptr;
  DWORD processId = 0;
  std::string utf8;  // its title
};

// The tab's own values (render thread).
struct AppsTab {
  std::vector<VisibleWindow> windows;  // visible windows, refreshed every 1200 ms
  uint64_t lastWindowScan = 0;         // steady ns; 0 = refresh now
  // Per library application (by index), the window that matched it at the last refresh; a null
  // handle when none. Worked out with the refresh, not every frame.
  std::vector<CachedWindow> matches;
  std::vector<std::pair<std::string, std::string>> matchedApps;  // keyword and program of each
  char newAppName[64] = {};
  char newAppKeyword[128] = {};
  int32_t settingsIndex = -1;
  AppEditorValues editor;
};
AppsTab g_tab;

// The window recognising an application: the first whose title contains the keyword (any
// letter case), else the program's main window.
CachedWindow matchWindow(const AppEntry& app) {
  int found = -1;
  const std::wstring keyword = toWide(app.keyword);
  for (size_t i = 0; found < 0 && !keyword.empty() && i < g_tab.windows.size(); ++i)
    if (containsIgnoreCase(g_tab.windows[i].title, keyword)) found = static_cast<int>(i);
  if (found < 0) found = programMainWindow(g_tab.windows, toWide(app.exe));
  if (found < 0) return {};
  const VisibleWindow& w = g_tab.windows[static_cast<size_t>(found)];
  return {w.window, w.processId, toUtf8Replacing(w.title)};
}

// Matches every card again when the windows were listed again or the library changed.
void refreshWindows() {
  const uint64_t now = clock::steadyNs();
  const std::vector<AppEntry>& apps = AppLibrary::instance().apps();
  const bool due = g_tab.lastWindowScan == 0 || now - g_tab.lastWindowScan >= kWindowScanNs;
  if (due) {
    g_tab.windows.clear();
    listVisibleWindows(g_tab.windows, true);
    g_tab.lastWindowScan = now;
  }
  bool same = !due && g_tab.matchedApps.size() == apps.size();
  for (size_t i = 0; same && i < apps.size(); ++i)
    same = g_tab.matchedApps[i].first == apps[i].keyword && g_tab.matchedApps[i].second == apps[i].exe;
  if (same) return;
  g_tab.matches.clear();
  g_tab.matchedApps.clear();
  for (const AppEntry& app : apps) {
    g_tab.matches.push_back(matchWindow(app));
    g_tab.matchedApps.emplace_back(app.keyword, app.exe);
  }
}

const CachedWindow* cachedMatch(int32_t i) {
  if (i < 0 || static_cast<size_t>(i) >= g_tab.matches.size()) return nullptr;
  const CachedWindow& m = g_tab.matches[static_cast<size_t>(i)];
  return m.window ? &m : nullptr;
}

void loadEditor(int32_t index) {
  const std::vector<AppEntry>& apps = AppLibrary::instance().apps();
  if (index < 0 || static_cast<size_t>(index) >= apps.size()) return;
  g_tab.settingsIndex = index;
  g_tab.editor = appEditorValues(apps[static_cast<size_t>(index)]);
}

// What a click on a card asks for; carried out after the cards are drawn.
struct CardAction {
  enum Kind { None, Activate, Edit, ToggleFavourite } kind = None;
  int32_t index = -1;
  std::string title;
  HWND window = nullptr;
};

void drawCard(int32_t i, const AppEntry& app, const ChosenSource& source, bool playing, CardAction& action) {
  const CachedWindow* match = cachedMatch(i);
  const bool found = match != nullptr;
  const bool inUse = found && playing && match->window == source.window && match->processId == source.processId;

  ImGui::PushID(i);
  ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12);
  ImGui::PushStyleVar(ImGuiStyleVar_ChildBorderSize, 1);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(16, 13));
  ImGui::PushStyleColor(ImGuiCol_ChildBg, inUse ? ImVec4(0.04f, 0.175f, 0.285f, 0.98f) : ImVec4(0.03f, 0.075f, 0.125f, 0.97f));
  ImGui::PushStyleColor(ImGuiCol_Border, inUse ? ImVec4(0.2f, 0.72f, 1.0f, 1) : ImVec4(0.1f, 0.33f, 0.54f, 0.82f));
  if (ImGui::BeginChild("final_app_card", ImVec2(0, 164), ImGuiChildFlags_Border, kFixedChild)) {
    ImGui::TextColored(kMark, "%s", appShortLabel(app.name));
    ImGui::SameLine();
    ImGui::TextUnformatted(app.name.c_str());
    if (app.favorite) {
      ImGui::SameLine();
      ImGui::TextColored(kFavourite, "%s", tr("FAVORITA"));
    }
    ImGui::SameLine();
    const char* badge = inUse ? tr("EN USO") : found ? tr("DISPONIBLE") : tr("CERRADA");
    const float badgeWidth = std::ceil(ImGui::CalcTextSize(badge).x);
    ImGui::SetCursorPosX(std::max(ImGui::GetWindowContentRegionMax().x - badgeWidth, ImGui::GetCursorPosX() + 14));
    ImGui::TextColored(found ? kAvailable : kClosed, "%s", badge);

    ImGui::Spacing();
    ImGui::TextDisabled("%d x %d  |  %d FPS%s", static_cast<int>(app.width), static_cast<int>(app.height), app.fps,
                        app.autoStart ? tr("  |  Inicio automatico") : "");
    ImGui::Spacing();
    ImGui::TextDisabled("%s", found ? tr("Ventana encontrada") : tr("Buscando ventana"));
    const std::string shown = cardWindowText(found ? match->utf8 : app.keyword);
    ImGui::TextUnformatted(shown.data(), shown.data() + shown.size());

    ImGui::SetCursorPosY(108);
    ImGui::Separator();
    ImGui::Spacing();
    const float width = buttonWidth(3, 16);
    ImGui::BeginDisabled(!found || inUse);
    if (ImGui::Button(inUse ? tr("Activa###card_activate") : tr("Activar###card_activate"), ImVec2(width, 32))) action = {CardAction::Activate, i, match->utf8, match->window};
    ImGui::EndDisabled();
    ImGui::SameLine(0, 8);
    if (ImGui::Button(tr("Editar###card_edit"), ImVec2(width, 32))) action = {CardAction::Edit, i, {}};
    ImGui::SameLine(0, 8);
    if (ImGui::Button(app.favorite ? tr("Quitar favorito###card_favourite") : tr("Favorito###card_favourite"), ImVec2(width, 32)))
      action = {CardAction::ToggleFavourite, i, {}};
  }
  ImGui::EndChild();
  ImGui::PopStyleColor(2);
  ImGui::PopStyleVar(3);
  ImGui::PopID();
}

void drawCardList(bool favourites, CardAction& action) {
  ImGui::TextUnformatted(favourites ? tr("Favoritos") : tr("Todas las aplicaciones"));
  ImGui::Spacing();
  const std::vector<AppEntry>& apps = AppLibrary::instance().apps();
  const PanelState& panel = PanelState::instance();
  const ChosenSource source = panel.source();
  const bool playing = panel.playbackActive.load();
  bool any = false;
  for (size_t i = 0; i < apps.size(); ++i) {
    if (apps[i].favorite != favourites) continue;
    drawCard(static_cast<int32_t>(i), apps[i], source, playing, action);
    any = true;
  }
  if (!any) ImGui::TextDisabled("%s", favourites ? tr("No hay aplicaciones favoritas.") : tr("No hay más aplicaciones."));
  ImGui::Spacing();
}

void runCardAction(const CardAction& action) {
  AppLibrary& library = AppLibrary::instance();
  if (action.index < 0 || static_cast<size_t>(action.index) >= library.apps().size()) return;
  switch (action.kind) {
    case CardAction::Activate: {
      const AppEntry app = library.apps()[static_cast<size_t>(action.index)];
      activateApp(app, resolveSource(clipUtf8(action.title, 255), action.window));
      break;
    }
    case CardAction::Edit:
      loadEditor(action.index);
      break;
    case CardAction::ToggleFavourite:
      library.toggleFavorite(action.index);
      break;
    case CardAction::None:
      break;
  }
}

void drawAddApplication() {
  ImGui::TextUnformatted(tr("Agregar aplicación personalizada"));
  ImGui::SetNextItemWidth(-FLT_MIN);
  ImGui::InputTextWithHint("##new_app_name", tr("Nombre, por ejemplo: Radio"), g_tab.newAppName, sizeof g_tab.newAppName);
  ImGui::SetNextItemWidth(-FLT_MIN);
  ImGui::InputTextWithHint("##new_app_keyword", tr("Palabra que aparece en el título de la ventana"), g_tab.newAppKeyword,
                           sizeof g_tab.newAppKeyword);
  if (ImGui::Button(tr("Agregar a la biblioteca###add_app"), ImVec2(-FLT_MIN, 36))) {
    // Refused without a message: an empty field, a full library, a keyword already known.
    if (AppLibrary::instance().addCustomApp(g_tab.newAppName, g_tab.newAppKeyword)) {
      g_tab.newAppName[0] = '\0';
      g_tab.newAppKeyword[0] = '\0';
    }
  }
}

void drawEditor() {
  AppLibrary& library = AppLibrary::instance();
  const std::vector<AppEntry>& apps = library.apps();
  if (g_tab.settingsIndex < 0 || static_cast<size_t>(g_tab.settingsIndex) >= apps.size()) loadEditor(0);
  const AppEntry& app = apps[static_cast<size_t>(g_tab.settingsIndex)];
  AppEditorValues& e = g_tab.editor;

  if (beginComboText("##app_settings_selector", app.name)) {
    int32_t chosen = -1;
    for (size_t i = 0; i < apps.size(); ++i)
      if (selectableText(static_cast<int>(i), apps[i].name, static_cast<int32_t>(i) == g_tab.settingsIndex))
        chosen = static_cast<int32_t>(i);
    ImGui::EndCombo();
    if (chosen >= 0) {
      loadEditor(chosen);
      return;  // the selected application's editor from the next frame
    }
  }
  ImGui::TextUnformatted(tr("Resolucion"));
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::BeginCombo("##app_resolution", tr(kResolutions[e.resolutionIndex].label))) {
    for (int32_t r = 0; r < static_cast<int32_t>(std::size(kResolutions)); ++r) {
      if (ImGui::Selectable(tr(kResolutions[r].label), r == e.resolutionIndex)) e.resolutionIndex = r;
      if (r == e.resolutionIndex) ImGui::SetItemDefaultFocus();
    }
    ImGui::EndCombo();
  }
  ImGui::TextUnformatted(tr("FPS"));
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (ImGui::BeginCombo("##app_fps", tr(kRates[e.fpsIndex].label))) {
    for (int32_t r = 0; r < static_cast<int32_t>(std::size(kRates)); ++r) {
      if (ImGui::Selectable(tr(kRates[r].label), r == e.fpsIndex)) e.fpsIndex = r;
      if (r == e.fpsIndex) ImGui::SetItemDefaultFocus();
    }
    ImGui::EndCombo();
  }
  ImGui::TextUnformatted(tr("Volumen"));
  ImGui::SetNextItemWidth(-FLT_MIN);
  ImGui::SliderInt("##app_volume", &e.volume, 0, 100);
  ImGui::Checkbox(tr("Iniciar automaticamente al detectar esta aplicacion###app_auto_start"), &e.autoStart);
  if (ImGui::Button(tr("Guardar configuracion###save_app"), ImVec2(-FLT_MIN, 36))) {
    AppEntry edited = app;
    edited.width = static_cast<uint32_t>(kResolutions[e.resolutionIndex].width);
    edited.height = static_cast<uint32_t>(kResolutions[e.resolutionIndex].height);
    edited.fps = kRates[e.fpsIndex].fps;
    edited.volume = std::clamp(e.volume, 0, 100);
    edited.autoStart = e.autoStart;
    library.updateApp(g_tab.settingsIndex, edited);
  }
  if (ImGui::Button(tr("Cargar perfil en Reproduccion###app_to_playback"), ImVec2(-FLT_MIN, 34))) {
    const CachedWindow* match = cachedMatch(g_tab.settingsIndex);
    const AppEntry copy = app;
    applyAppSettings(copy, match ? resolveSource(clipUtf8(match->utf8, 255), match->window) : ChosenSource{});
  }
}

}  // namespace

std::string cardWindowText(std::string_view text) {
  if (text.size() <= 58) return std::string(text);
  return clipUtf8(text, 55) + "...";  // never half a character
}

AppEditorValues appEditorValues(const AppEntry& app) {
  AppEditorValues v;
  v.resolutionIndex = resolutionIndex(app.width, app.height);
  v.fpsIndex = fpsIndex(app.fps);
  v.volume = std::clamp(app.volume, 0, 100);
  v.autoStart = app.autoStart;
  return v;
}

void drawApplicationsTab() {
  refreshWindows();
  ImGui::TextColored(kTitle, "%s", tr("GESTOR VISUAL DE APLICACIONES"));
  ImGui::TextWrapped("%s", tr("Acceda a sus aplicaciones favoritas y cambie de fuente con un solo clic."));
  ImGui::Separator();
  ImGui::TextColored(kAvailable, "%s", tr("Disponible / En uso"));
  ImGui::SameLine(0, 0);
  ImGui::TextDisabled("  |  ");
  ImGui::SameLine(0, 0);
  ImGui::TextColored(kClosed, "%s", tr("Cerrada"));
  ImGui::Spacing();

  CardAction action;
  drawCardList(true, action);
  ImGui::Separator();
  ImGui::Spacing();
  drawCardList(false, action);
  ImGui::Spacing();
  ImGui::Separator();
  runCardAction(action);

  drawAddApplication();
  ImGui::Spacing();
  ImGui::Separator();
  ImGui::TextUnformatted(tr("Configuracion de aplicacion"));
  if (AppLibrary::instance().apps().empty()) {
    ImGui::TextDisabled("%s", tr("No hay aplicaciones para configurar."));
  } else {
    drawEditor();
  }
  ImGui::TextDisabled("%s", tr("La biblioteca se guarda en la carpeta ZOR junto a la DLL"));
}

void resetApplicationsTabForShutdown() {
  g_tab.windows.clear();
  g_tab.matches.clear();
  g_tab.matchedApps.clear();
  g_tab.lastWindowScan = 0;
}

}  // namespace zor::overlay
