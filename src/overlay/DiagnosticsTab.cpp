// The "Diagnostico" tab: the player's entry to the checks, the capture repair and the support
// report (which all live in the diagnostics module; this only draws them).
#include <imgui.h>

#include <algorithm>
#include <string>

#include "core/PluginConfig.h"
#include "core/Utf8.h"
#include "diagnostics/DiagnosticsCenter.h"
#include "diagnostics/SupportReport.h"
#include "gps/Calibration.h"
#include "overlay/OverlayHost.h"
#include "overlay/PanelTabs.h"
#include "overlay/PanelWidgets.h"
#include "overlay/Texts.h"

namespace zor::overlay {
namespace {

constexpr ImVec4 kOk{0.2f, 0.9f, 0.35f, 1};
// A box of fixed height: no scrollbar, and the mouse wheel scrolls the panel, not the box (its
// content may be a few pixels taller than the box).
constexpr ImGuiWindowFlags kFixedChild = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;
constexpr ImVec4 kWarning{1.0f, 0.68f, 0.2f, 1};
constexpr ImVec4 kError{1.0f, 0.3f, 0.25f, 1};
constexpr ImVec4 kPending{0.6f, 0.65f, 0.72f, 1};

// The last switch of calibration could not be saved (the switch holds until the game ends).
// Render thread.
bool g_calibrationNotSaved = false;

// "Generar informe" pressed with no check to report yet (or one under way): the report is
// written once the check's results are in. Render thread.
bool g_exportWhenChecked = false;

ImVec4 statusColour(int32_t status) {
  switch (status) {
    case DiagnosticItem::Ok:
    case DiagnosticItem::Info:
      return kOk;
    case DiagnosticItem::Warning:
      return kWarning;
    case DiagnosticItem::Error:
      return kError;
    default:
      return kPending;
  }
}

void drawSummary(const DiagnosticsCenter& center) {
  const bool allOk = center.checked && std::all_of(center.items.begin(), center.items.end(), [](const DiagnosticItem& i) {
                       return i.status == DiagnosticItem::Ok || i.status == DiagnosticItem::Info;
                     });
  ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 10);
  if (ImGui::BeginChild("diagnostics_summary", ImVec2(0, 88), ImGuiChildFlags_Border, kFixedChild)) {
    ImGui::TextDisabled("%s", tr("Estado general"));
    if (center.busy())
      ImGui::TextColored(kPending, "%s", tr("Comprobando..."));
    else
      ImGui::TextColored(allOk ? kOk : kWarning, "%s", trText(center.summary).c_str());
    if (center.checked) ImGui::TextDisabled(tr("Comprobado: %s  |  %d ms"), trTimestamp(center.lastCheck).c_str(), center.durationMs);
  }
  ImGui::EndChild();
  ImGui::PopStyleVar();
}

void drawItem(const DiagnosticItem& item) {
  std::string detail = trText(item.detail);
  if (item.durationMs >= 0) detail += "  " + std::to_string(item.durationMs) + " ms";
  // A detail longer than the box is wide (a still picture's cure, a long adapter name) wraps,
  // and the box grows by its extra lines.
  const float wrapWidth = ImGui::GetContentRegionAvail().x - 2 * ImGui::GetStyle().WindowPadding.x;
  const float extraLines = ImGui::CalcTextSize(detail.c_str(), nullptr, false, wrapWidth).y - ImGui::GetTextLineHeight();
  ImGui::PushID(item.name.c_str());
  ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 9);
  if (ImGui::BeginChild("diagnostic_item", ImVec2(0, 68 + std::max(0.0f, extraLines)), ImGuiChildFlags_Border, kFixedChild)) {
    ImGui::TextUnformatted(trText(item.name).c_str());
    ImGui::SameLine();
    ImGui::TextColored(statusColour(item.status), "%s", trText(diagnosticStatusLabel(item.status)).c_str());
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled));
    ImGui::TextWrapped("%s", detail.c_str());
    ImGui::PopStyleColor();
  }
  ImGui::EndChild();
  ImGui::PopStyleVar();
  ImGui::PopID();
}

// Calibration, beside the checks: on, the GPS shows the test pattern; off, the chosen window.
void drawCalibration() {
  bool on = calibrationMode();
  if (ImGui::Checkbox(tr("Modo calibracion: patron de prueba en el GPS###calibration_mode"), &on))
    g_calibrationNotSaved = !switchCalibrationMode(on, configFilePath(L"ZorTabcastPlugin.ini"), "panel");
  ImGui::TextDisabled("%s", on ? tr("El GPS muestra el patron de prueba. Desactivelo para ver la ventana elegida.")
                               : tr("El GPS muestra la ventana elegida."));
  if (g_calibrationNotSaved)
    ImGui::TextColored(kWarning, "%s", tr("No fue posible guardar ZorTabcastPlugin.ini; el cambio dura hasta cerrar ATS."));
}

}  // namespace

void resetDiagnosticsTabForShutdown() {
  g_exportWhenChecked = false;
  g_calibrationNotSaved = false;
}

void drawDiagnosticsTab() {
  DiagnosticsCenter& center = DiagnosticsCenter::instance();
  ImGui::TextColored(ImVec4(0.22f, 0.72f, 1.0f, 1), "%s", tr("CENTRO DE DIAGNOSTICO"));
  ImGui::TextWrapped("%s", tr("Comprueba los componentes principales del plugin sin cerrar ATS."));
  ImGui::Separator();
  drawCalibration();
  ImGui::Separator();

  // The checks run off the render thread (collected by the panel's per-frame work); a press
  // while one is under way is ignored.
  if (ImGui::Button(tr("Comprobar sistema###run_checks"), ImVec2(-FLT_MIN, 40))) center.startChecks();
  if (ImGui::Button(tr("Reiniciar captura###repair_capture"), ImVec2(buttonWidth(2, 8), 36))) center.startRepair();
  if (ImGui::Button(tr("Generar informe###export_report"), ImVec2(-FLT_MIN, 36))) {
    g_exportWhenChecked = true;
    if (!center.checked && !center.busy()) center.startChecks();
  }
  if (g_exportWhenChecked && center.checked && !center.busy()) {
    g_exportWhenChecked = false;
    SupportReport::exportReport();
  }
  if (!center.reportPath.empty()) {
    const float width = buttonWidth(2, 8);
    if (ImGui::Button(tr("Abrir carpeta###open_report_folder"), ImVec2(width, 34))) SupportReport::openReportFolder();
    ImGui::SameLine(0, 8);
    if (ImGui::Button(tr("Copiar informe###copy_report"), ImVec2(width, 34))) SupportReport::copyReportToClipboard(overlay::host().gameWindow.load());
  }
  if (!center.actionMessage.empty()) ImGui::TextWrapped("%s", trText(center.actionMessage).c_str());
  if (!center.reportPath.empty()) {
    ImGui::TextDisabled("%s", tr("Informe"));
    ImGui::TextWrapped("%s", toUtf8(center.reportPath).c_str());
  }

  ImGui::Spacing();
  drawSummary(center);
  ImGui::Spacing();
  for (const DiagnosticItem& item : center.items) drawItem(item);
  ImGui::Spacing();
  ImGui::TextDisabled("%s", tr("V3.0.5 genera el informe, muestra su ruta, abre la carpeta y permite copiarlo al portapapeles."));
}

}  // namespace zor::overlay
