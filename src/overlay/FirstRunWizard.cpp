#include "overlay/FirstRunWizard.h"

#include <imgui.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture/WindowCapture.h"
#include "capture/WindowMatching.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "core/Utf8.h"
#include "gps/Calibration.h"
#include "media/AppLibrary.h"
#include "media/MediaFiles.h"
#include "media/ChosenSource.h"
#include "media/PanelState.h"
#include "media/SmartCapture.h"
#include "overlay/OverlayHost.h"
#include "overlay/Panel.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {

constexpr ImVec4 kTitle{0.25f, 0.78f, 1.0f, 1};
constexpr ImVec4 kEdition{0.72f, 0.86f, 1.0f, 1};

constexpr const char* kAppNames[] = {"YouTube", "Spotify", "VLC", "Otra ventana"};
constexpr Txt kAppRadios[] = {"YouTube###app_youtube", "Spotify###app_spotify", "VLC###app_vlc", "Otra ventana###app_other"};

struct Preset {
  Txt radio;
  Txt hint;
  int32_t resolutionRow, fpsRow;
};
constexpr Preset kPresets[] = {
    {"Rendimiento - 720p / 30 FPS###quality_0", "Para equipos modestos y menor consumo.", 1, 1},
    {"Equilibrado - 1080p / 30 FPS (Recomendado)###quality_1", "Recomendado para la mayoria de usuarios.", 3, 1},
    {"Alta calidad - 1080p / 60 FPS###quality_2", "Para equipos potentes.", 3, 3},
};

int32_t validQuality(int32_t quality) { return quality >= 0 && quality <= 2 ? quality : 1; }

std::wstring firstRunPath() { return media::settingsPath(kFirstRunFile); }

void pageTitle(const char* text) { ImGui::TextColored(kTitle, "%s", text); }

void drawWelcome() {
  pageTitle(tr("Bienvenido"));
  ImGui::Spacing();
  ImGui::TextWrapped("%s", tr("Gracias por instalar ZOR TabCast, su pantalla multimedia en la cabina de ATS."));
  ImGui::TextWrapped("%s", tr("La configuracion inicial tiene cuatro pasos y toma menos de un minuto."));
  ImGui::Spacing();
  ImGui::TextDisabled("%s", tr("No modifica el cursor, los controles de ATS ni la configuracion del juego."));
}

void drawOtherWindowChoice(WizardChoices& c) {
  const std::string preview = c.otherWindowTitle.empty() ? std::string(tr("Seleccionar una ventana abierta...")) : c.otherWindowTitle;
  if (!beginComboText("##first_run_other_window", preview)) return;
  std::vector<std::wstring> titles;
  listVisibleWindowTitles(titles);
  if (titles.empty()) ImGui::TextDisabled("%s", tr("No hay ventanas visibles."));
  std::string chosen;
  for (size_t i = 0; i < titles.size(); ++i) {
    const std::string title = toUtf8(titles[i]);
    if (title.empty()) continue;
    if (selectableText(static_cast<int>(i), title, title == c.otherWindowTitle)) chosen = title;
  }
  ImGui::EndCombo();
  if (!chosen.empty()) c.otherWindowTitle = clipUtf8(chosen, 255);
}

void drawFavouriteApp(WizardChoices& c) {
  pageTitle(tr("Aplicacion favorita"));
  ImGui::TextWrapped("%s", tr("Seleccione la aplicacion que usara normalmente."));
  for (int32_t i = 0; i < 4; ++i) ImGui::RadioButton(tr(kAppRadios[i]), &c.app, i);
  if (c.app == 3) drawOtherWindowChoice(c);
  ImGui::Spacing();
  ImGui::TextDisabled("%s", tr("La aplicacion puede abrirse despues. El plugin la buscara automaticamente."));
}

void drawQuality(WizardChoices& c) {
  pageTitle(tr("Calidad de captura"));
  ImGui::TextWrapped("%s", tr("Seleccione el modo adecuado para su equipo."));
  for (int32_t i = 0; i < 3; ++i) {
    if (i > 0) ImGui::Spacing();
    ImGui::RadioButton(tr(kPresets[i].radio), &c.quality, i);
    ImGui::TextDisabled("%s", tr(kPresets[i].hint));
  }
}

void drawSummary(WizardChoices& c) {
  pageTitle(tr("Configuracion completada"));
  ImGui::Spacing();
  ImGui::TextDisabled("%s", tr("Aplicacion"));
  // A chosen window's title is shown as it is; only the name of no window is translated.
  ImGui::TextUnformatted(c.app == 3 && c.otherWindowTitle.empty() ? tr("Otra ventana") : wizardAppName(c).c_str());
  ImGui::TextDisabled("%s", tr("Calidad"));
  ImGui::TextUnformatted(trText(qualitySummary(c.quality)).c_str());
  ImGui::Spacing();
  ImGui::TextWrapped(tr("%s abre el panel. Las teclas se cambian en la pestana Teclas del panel."),
                     keyLabel(keys::Action::Panel).c_str());
  ImGui::Spacing();
  ImGui::Checkbox(tr("No volver a mostrar este asistente###dont_show_again"), &c.dontShowAgain);
  if (calibrationMode()) {
    ImGui::Spacing();
    ImGui::TextWrapped("%s", tr("El GPS muestra primero un patron de prueba: desactivelo en Diagnostico, Modo calibracion."));
  }
}

// The open window of the chosen application: the first visible window whose title equals the
// keyword (exact) or contains it (any letter case); for a named application, else the first
// window of its program (a music program's title is the song it plays). None: empty title.
struct FoundWindow {
  std::string title;  // UTF-8
  HWND window = nullptr;
};
FoundWindow findApplicationWindow(const std::string& keyword, bool exact) {
  const std::wstring program = exact ? std::wstring{} : toWide(builtInProgram(keyword));
  std::vector<VisibleWindow> windows;
  listVisibleWindows(windows, !program.empty());
  const std::wstring wide = toWide(keyword);
  for (const bool byProgram : {false, true}) {
    if (byProgram && program.empty()) break;
    for (const VisibleWindow& w : windows) {
      const std::string title = toUtf8(w.title);
      if (title.empty()) continue;
      const bool match = byProgram ? w.program == program : exact ? title == keyword : containsIgnoreCase(w.title, wide);
      if (match) return {title, w.window};
    }
  }
  return {};
}

}  // namespace

WizardChoices& wizardChoices() {
  static WizardChoices choices;
  return choices;
}

std::string wizardAppName(const WizardChoices& c) {
  if (c.app >= 0 && c.app < 3) return kAppNames[c.app];
  return c.otherWindowTitle.empty() ? std::string("Otra ventana") : c.otherWindowTitle;
}

const char* qualitySummary(int32_t quality) {
  static constexpr const char* kSummaries[] = {"Rendimiento - 720p / 30 FPS", "Equilibrado - 1080p / 30 FPS",
                                               "Alta calidad - 1080p / 60 FPS"};
  return kSummaries[validQuality(quality)];
}

bool readSetupCompleted() { return ini::readInteger(firstRunPath(), L"setup", L"completed", 0) != 0; }

void finishFirstRun(const WizardChoices& c, bool& setupCompleted) {
  // 1. The quality preset.
  PanelState& panel = PanelState::instance();
  const Preset& preset = kPresets[validQuality(c.quality)];
  const Resolution& size = kResolutions[preset.resolutionRow];
  const int32_t fps = kRates[preset.fpsRow].fps;
  panel.resolutionIndex.store(preset.resolutionRow);
  panel.captureWidth.store(size.width);
  panel.captureHeight.store(size.height);
  panel.fpsIndex.store(preset.fpsRow);
  panel.fps.store(fps);
  WindowCapture::instance().setFps(static_cast<uint32_t>(fps));

  // 2. The favourite application.
  const bool other = c.app < 0 || c.app > 2;
  const std::string keyword = other ? c.otherWindowTitle : kAppNames[c.app];
  if (!keyword.empty()) {
    const FoundWindow found = findApplicationWindow(keyword, other);
    if (!found.title.empty()) panel.setSource(resolveSource(clipUtf8(found.title, 255), found.window));
    if (panel.sourceWindowTitle().empty() && other) panel.setSourceWindowTitle(clipUtf8(c.otherWindowTitle, 255));
    if (!panel.sourceWindowTitle().empty()) {
      WindowCapture::instance().setWindowKeyword(toWide(panel.sourceWindowTitle()));
      if (smartCapture().settings.rememberLast) saveSmartCaptureSettings();
    }
    AppLibrary& library = AppLibrary::instance();
    const std::wstring chosen = toWide(keyword);
    for (size_t i = 0; i < library.apps().size(); ++i) {
      const AppEntry& app = library.apps()[i];
      const std::wstring own = toWide(app.keyword);
      if (own.empty() || !(containsIgnoreCase(own, chosen) || containsIgnoreCase(chosen, own))) continue;
      AppEntry updated = app;
      updated.favorite = true;
      updated.width = static_cast<uint32_t>(size.width);
      updated.height = static_cast<uint32_t>(size.height);
      updated.fps = fps;
      library.updateApp(static_cast<int32_t>(i), updated);
      break;
    }
  }

  // 3. Completion (a failed write leaves only the in-memory flag).
  WritePrivateProfileStringW(L"setup", L"completed", c.dontShowAgain ? L"1" : L"0", firstRunPath().c_str());
  setupCompleted = c.dontShowAgain;
  logInfo("V4.1.0 FIRST RUN: asistente completado | aplicacion=" + wizardAppName(c) + " | calidad=" +
          qualitySummary(c.quality) + ".");
}

bool drawWizard(int& step, bool& setupCompleted) {
  WizardChoices& c = wizardChoices();
  step = std::clamp(step, 0, kWizardPages - 1);
  ImGui::SetNextWindowPos(ImVec2(24, 24), ImGuiCond_FirstUseEver);
  ImGui::SetNextWindowSize(ImVec2(660, 560), ImGuiCond_Always);
  bool open = host().panelVisible.load();
  if (!ImGui::Begin("ZOR TabCast - Configuracion inicial", &open,
                    ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse)) {
    ImGui::End();
    return false;
  }
  ImGui::TextColored(kTitle, "ZOR TABCAST");
  ImGui::SameLine();
  ImGui::TextColored(kEdition, "%s", tr("ASISTENTE DE BIENVENIDA"));
  ImGui::SameLine();
  ImGui::TextDisabled("  V4.6.0");
  drawLanguageSelector(ImGui::GetWindowContentRegionMax().x);
  drawLanguageNotSaved();
  ImGui::Spacing();

  ImGui::TextDisabled(tr("Paso %d de %d"), step + 1, kWizardPages);
  ImGui::ProgressBar(static_cast<float>(step + 1) / kWizardPages, ImVec2(-FLT_MIN, 12), "");
  ImGui::Spacing();
  ImGui::Separator();
  ImGui::Spacing();

  switch (step) {
    case 0:
      drawWelcome();
      break;
    case 1:
      drawFavouriteApp(c);
      break;
    case 2:
      drawQuality(c);
      break;
    default:
      drawSummary(c);
      break;
  }

  bool finished = false;
  ImGui::SetCursorPosY(ImGui::GetWindowHeight() - 62);
  ImGui::Separator();
  if (step == 0) {
    if (ImGui::Button(tr("Comenzar###wizard_begin"), ImVec2(ImGui::GetContentRegionAvail().x, 38))) ++step;
  } else {
    const float width = buttonWidth(2, 10);
    int next = step;
    if (ImGui::Button(tr("Anterior###wizard_back"), ImVec2(width, 38))) next = step - 1;
    ImGui::SameLine();
    if (step < kWizardPages - 1) {
      if (ImGui::Button(tr("Siguiente###wizard_next"), ImVec2(width, 38))) next = step + 1;
    } else if (ImGui::Button(tr("Entrar al plugin###wizard_finish"), ImVec2(width, 38))) {
      finishFirstRun(c, setupCompleted);
      finished = true;
    }
    step = next;
  }
  ImGui::End();
  return finished;
}

}  // namespace zor::overlay
