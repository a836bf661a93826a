// The "Teclas" tab: the player's key for each action, changed by pressing the new combination
// (the keys themselves live in core/KeyBindings.h).
#include <imgui.h>

#include <optional>
#include <string>

#include "core/KeyBindings.h"
#include "core/PluginConfig.h"
#include "overlay/OverlayHost.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Texts.h"
#include "overlay/Theme.h"

namespace zor::overlay {
namespace {

constexpr Txt kActionNames[keys::kActionCount] = {
    "Mostrar u ocultar el panel", "Pista anterior", "Pausa / Reanudar", "Pista siguiente",
    "Subir volumen",              "Bajar volumen",  "Silenciar / Activar sonido",
};

const char* actionName(keys::Action action) { return tr(kActionNames[static_cast<size_t>(action)]); }

// Waiting for the combination of one action: the keys' states polled each frame, a key counts
// when it goes down while waiting (what was held when the wait began does not). Render thread.
struct Waiting {
  bool active = false;
  keys::Action action = keys::Action::Panel;
  int lastFrame = -1;
  bool down[256] = {};
};
Waiting g_waiting;
// The last choice was refused (the combination is another action's): the text shown under the
// keys until the next choice. Render thread.
std::string g_refused;
bool g_notSaved = false;

bool isDown(SHORT state) noexcept { return (state & 0x8000) != 0; }

// The mouse buttons (a click started the wait) and the modifiers, which only go with a key.
bool ignoredWhileWaiting(int key) noexcept {
  return key == VK_LBUTTON || key == VK_RBUTTON || key == VK_MBUTTON || key == VK_XBUTTON1 || key == VK_XBUTTON2 ||
         key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || (key >= VK_LSHIFT && key <= VK_RMENU) ||
         key == VK_LWIN || key == VK_RWIN;
}

void startWaiting(keys::Action action) {
  g_waiting.active = true;
  g_waiting.action = action;
  g_waiting.lastFrame = ImGui::GetFrameCount();
  for (int key = 1; key < 255; ++key) g_waiting.down[key] = isDown(polledKeyState(key));
  g_refused.clear();
}

enum class Pressed { Nothing, Escape, Combination };

// Every key's state this frame; the first key that went down with a name, with the modifiers
// held, or Esc.
Pressed pollWaiting(keys::Binding& combination) {
  for (int key = 1; key < 255; ++key) {
    if (ignoredWhileWaiting(key)) continue;
    const bool down = isDown(polledKeyState(key));
    const bool wentDown = down && !g_waiting.down[key];
    g_waiting.down[key] = down;
    if (!wentDown) continue;
    if (key == VK_ESCAPE) return Pressed::Escape;
    if (!keys::hasName(static_cast<uint8_t>(key))) continue;
    combination = {static_cast<uint8_t>(key), keys::heldModifiers(polledKeyState)};
    return Pressed::Combination;
  }
  return Pressed::Nothing;
}

void take(keys::Action action, keys::Binding combination) {
  if (keys::current(action) == combination) return;
  const std::optional<keys::Action> holder = keys::actionOf(combination);
  if (holder) {
    const std::string text = keys::bindingText(combination, language() == Language::Spanish, " + ");
    char line[256];
    snprintf(line, sizeof line, tr("%s ya es la tecla de \"%s\"."), text.c_str(), actionName(*holder));
    g_refused = line;
    return;
  }
  g_notSaved = !keys::choose(action, combination, configFilePath(L"ZorTabcastPlugin.ini"));
}

void followWaiting() {
  if (!g_waiting.active) return;
  // The tab was not drawn in between (another tab, the panel closed): the wait is over.
  if (g_waiting.lastFrame != ImGui::GetFrameCount() - 1) {
    g_waiting.active = false;
    return;
  }
  g_waiting.lastFrame = ImGui::GetFrameCount();
  keys::Binding combination;
  const Pressed pressed = pollWaiting(combination);
  if (pressed == Pressed::Nothing) return;
  g_waiting.active = false;
  if (pressed == Pressed::Combination) take(g_waiting.action, combination);
}

}  // namespace

bool waitingForKeys() noexcept { return g_waiting.active; }

void stopWaitingForKeys() noexcept { g_waiting.active = false; }

void resetKeysTabForShutdown() {
  g_waiting.active = false;
  g_refused.clear();
  g_notSaved = false;
}

std::string keyLabel(keys::Action action) {
  const keys::Binding binding = keys::current(action);
  return binding.bound() ? keys::bindingText(binding, language() == Language::Spanish, " + ") : tr("Sin tecla");
}

void drawKeysTab() {
  followWaiting();
  sectionTitle(tr("TECLAS"));
  ImGui::TextWrapped("%s", tr("Elija la combinacion de teclas de cada accion. El cambio vale al momento."));
  ImGui::Separator();
  if (ImGui::BeginTable("keys", 3, ImGuiTableFlags_SizingStretchProp)) {
    ImGui::TableSetupColumn("action", ImGuiTableColumnFlags_WidthStretch);
    // Room for the longest combination ("Ctrl + Shift + Alt + PageDown").
    ImGui::TableSetupColumn("key", ImGuiTableColumnFlags_WidthFixed, 205);
    ImGui::TableSetupColumn("change", ImGuiTableColumnFlags_WidthFixed, 160);
    for (keys::Action action : keys::kActions) {
      const bool waitingHere = g_waiting.active && g_waiting.action == action;
      ImGui::PushID(static_cast<int>(action));
      ImGui::TableNextRow();
      ImGui::TableNextColumn();
      ImGui::AlignTextToFramePadding();
      ImGui::TextUnformatted(actionName(action));
      ImGui::TableNextColumn();
      ImGui::AlignTextToFramePadding();
      ImGui::TextColored(keys::current(action).bound() ? theme::kLightBlue : theme::kMutedGreyBlue, "%s",
                         keyLabel(action).c_str());
      ImGui::TableNextColumn();
      if (ImGui::Button(waitingHere ? tr("Pulse las teclas...###key_change") : tr("Cambiar###key_change"),
                        ImVec2(-FLT_MIN, 0))) {
        if (waitingHere)
          g_waiting.active = false;
        else
          startWaiting(action);
      }
      ImGui::PopID();
    }
    ImGui::EndTable();
  }
  if (g_waiting.active) ImGui::TextColored(theme::kAmber, "%s", tr("Pulse la nueva combinacion (Esc cancela)."));
  if (!g_refused.empty()) ImGui::TextColored(theme::kRed, "%s", g_refused.c_str());
  if (g_notSaved)
    ImGui::TextColored(theme::kAmber, "%s", tr("No fue posible guardar ZorTabcastPlugin.ini; el cambio dura hasta cerrar ATS."));
  ImGui::Spacing();
  if (ImGui::Button(tr("Restablecer teclas por defecto###keys_defaults"), ImVec2(-FLT_MIN, 36))) {
    g_waiting.active = false;
    g_refused.clear();
    g_notSaved = !keys::restoreDefaults(configFilePath(L"ZorTabcastPlugin.ini"));
  }
  ImGui::TextDisabled("%s", tr("Tambien se cambian en ZorTabcastPlugin.ini, seccion [keys]."));
}

}  // namespace zor::overlay
