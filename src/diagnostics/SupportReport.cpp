#include "diagnostics/SupportReport.h"

#include <shellapi.h>

#include <algorithm>

#include "core/FileSystem.h"
#include "core/LogFile.h"
#include "core/Logger.h"
#include "core/PluginConfig.h"
#include "core/Utf8.h"
#include "diagnostics/DiagnosticsCenter.h"

namespace zor {
namespace {

const std::string kEquals(40, '=');
const std::string kHyphens(40, '-');

std::wstring g_folder;  // tests: where the report goes instead of the plugin's folder
SupportReport::ShellOpen g_shellOpen = &ShellExecuteW;

std::wstring reportFolder() { return g_folder.empty() ? pluginFolder() : g_folder; }

enum class WriteResult { Written, NotCreated, Incomplete };

// Replaces the file's content with text: written beside it ("<name>.tmp") and renamed over it in
// one step, so a write that fails leaves the previous report whole (the panel still shows it).
WriteResult writeWhole(const std::wstring& path, const std::string& text) {
  const std::wstring temp = path + L".tmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return WriteResult::NotCreated;
  bool complete = true;
  size_t done = 0;
  while (complete && done < text.size()) {
    const DWORD part = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    DWORD written = 0;
    complete = WriteFile(file, text.data() + done, part, &written, nullptr) && written == part;
    done += written;
  }
  if (!CloseHandle(file)) complete = false;
  if (complete && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return WriteResult::Written;
  }
  DeleteFileW(temp.c_str());
  return WriteResult::Incomplete;
}

}  // namespace

std::string SupportReport::buildText(const DiagnosticsCenter& center, const std::vector<std::string>& logLines) {
  std::string out;
  const auto line = [&out](const std::string& text) { out.append(text).push_back('\n'); };
  line(kEquals);
  line("ZOR TabCast Vantex - Informe de Soporte");
  line(kEquals);
  line("");
  line("Version: 3.0.5");
  line("Fecha: " + center.lastCheck);
  line("Duracion diagnostico: " + std::to_string(center.durationMs) + " ms");
  line("Resumen: " + center.summary);
  line("");
  line("RESULTADOS");
  line(kHyphens);
  for (const DiagnosticItem& item : center.items) {
    line(item.name + ": " + diagnosticStatusLabel(item.status));
    line("Detalle: " + item.detail);
    if (item.durationMs >= 0) line("Tiempo: " + std::to_string(item.durationMs) + " ms");
    line("");
  }
  line(kHyphens);
  line("Archivo generado por ZOR TabCast V3.0.5");

  // Beyond the fixed layout, so that readers of the lines above are not disturbed.
  line("");
  line("OTROS OVERLAYS EN EL JUEGO");
  line(kHyphens);
  if (center.otherOverlays.empty()) line("(ninguno)");
  for (const std::string& name : center.otherOverlays) line(name);
  line(kHyphens);
  line("");
  line("REGISTRO DE LA SESION (ultimas " + std::to_string(logLines.size()) + " lineas)");
  line(kHyphens);
  if (logLines.empty()) line("(registro no disponible)");
  for (const std::string& text : logLines) line(text);
  line(kHyphens);
  return out;
}

bool SupportReport::exportReport() {
  DiagnosticsCenter& center = DiagnosticsCenter::instance();
  try {
    if (!center.checked) center.runChecks();
    center.reportText = buildText(center, readSessionTail(LogFile::instance().path(), kLogLines));
    const std::wstring path = fs::join(reportFolder(), kFileName);
    switch (writeWhole(path, center.reportText)) {
      case WriteResult::NotCreated:
        center.actionMessage = "No fue posible crear el informe.";
        return false;
      case WriteResult::Incomplete:
        center.actionMessage = "El informe no pudo guardarse completamente.";
        return false;
      case WriteResult::Written:
        break;
    }
    center.reportPath = path;
    center.actionMessage = "Informe creado correctamente.";
    logInfo("V3.0.5 SUPPORT REPORT: informe exportado | ruta=" + toUtf8(path) + ".");
    return true;
  } catch (...) {  // out of memory building the text
    center.actionMessage = "No fue posible crear el informe.";
    return false;
  }
}

bool SupportReport::openReportFolder() {
  DiagnosticsCenter& center = DiagnosticsCenter::instance();
  if (center.reportPath.empty() && !exportReport()) return false;
  const std::wstring parameters = L"/select,\"" + center.reportPath + L"\"";
  const HINSTANCE result = g_shellOpen(nullptr, L"open", L"explorer.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(result) > 32) {
    center.actionMessage = "Carpeta del informe abierta.";
    return true;
  }
  center.actionMessage = "No fue posible abrir la carpeta del informe.";
  return false;
}

bool SupportReport::copyReportToClipboard(HWND owner) {
  DiagnosticsCenter& center = DiagnosticsCenter::instance();
  if (center.reportText.empty() && !exportReport()) return false;
  // With no owner, EmptyClipboard leaves the clipboard ownerless and Windows then refuses
  // SetClipboardData.
  if (!OpenClipboard(owner)) {
    center.actionMessage = "No fue posible acceder al portapapeles.";
    return false;
  }
  EmptyClipboard();
  const std::string& text = center.reportText;
  const int length = text.size() > 0x3FFFFFFFu
                         ? 0
                         : MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length < 1) {
    CloseClipboard();
    center.actionMessage = "No fue posible convertir el informe.";
    return false;
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (static_cast<size_t>(length) + 1) * sizeof(wchar_t));
  if (!block) {
    CloseClipboard();
    center.actionMessage = "No fue posible reservar memoria para copiar.";
    return false;
  }
  auto* wide = static_cast<wchar_t*>(GlobalLock(block));
  if (!wide) {
    GlobalFree(block);
    CloseClipboard();
    center.actionMessage = "No fue posible bloquear la memoria del portapapeles.";
    return false;
  }
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide, length);
  wide[length] = L'\0';
  GlobalUnlock(block);
  if (!SetClipboardData(CF_UNICODETEXT, block)) {
    GlobalFree(block);
    CloseClipboard();
    center.actionMessage = "No fue posible copiar el informe.";
    return false;
  }
  CloseClipboard();
  center.actionMessage = "Informe copiado al portapapeles.";
  logInfo("V3.0.5 SUPPORT REPORT: informe copiado al portapapeles.");
  return true;
}

void SupportReport::setFolder(const std::wstring& folder) { g_folder = folder; }

void SupportReport::setShellOpen(ShellOpen fn) { g_shellOpen = fn ? fn : &ShellExecuteW; }

}  // namespace zor
