// The support report: its layout byte for byte, the file beside the plugin (real files, a folder
// with non-Latin characters, a folder where nothing can be created), Explorer's command line, and
// the real clipboard (read back through the clipboard; held open by another program).
#include <gtest/gtest.h>

#include <string>

#include "DiagnosticsTestKit.h"
#include "core/FileSystem.h"
#include "core/LogFile.h"
#include "core/Utf8.h"

using namespace zor;
using namespace zor::test;

namespace {

class SupportReportTest : public DiagnosticsTest {
 protected:
  ~SupportReportTest() override {
    LogFile::instance().close();
    DestroyWindow(owner);
  }
  std::wstring reportFile() const { return pluginFolder / SupportReport::kFileName; }
  // The window the panel gives as the clipboard's owner (the game's).
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
};

// The clipboard's UTF-16 text (empty, present = false, when it holds none).
std::wstring clipboardText(bool* present = nullptr) {
  std::wstring text;
  if (present) *present = false;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = p;
      if (present) *present = true;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void putOnClipboard(const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  auto* p = static_cast<wchar_t*>(GlobalLock(block));
  std::copy(text.c_str(), text.c_str() + text.size() + 1, p);
  GlobalUnlock(block);
  SetClipboardData(CF_UNICODETEXT, block);
  CloseClipboard();
}

TEST_F(SupportReportTest, TheReportLayoutIsExactAndTheSessionLogFollowsIt) {
  center.lastCheck = "05/03/2025 07:08:09";
  center.durationMs = 137;
  center.summary = "El sistema funciona, pero hay elementos pendientes.";
  center.items = {
      {"ATS", 1, "American Truck Simulator activo | amtrucks.exe", -1},
      {"CPU", 2, "Uso del proceso: 23.4%", 121},
      {"Reemplazo GPS", 3, "El reemplazo del GPS no esta disponible", -1},
      {"Biblioteca", 0, "Ñandú – 日本", 0},
  };
  const std::string fixed =
      "========================================\n"
      "ZOR TabCast Vantex - Informe de Soporte\n"
      "========================================\n"
      "\n"
      "Version: 3.0.5\n"
      "Fecha: 05/03/2025 07:08:09\n"
      "Duracion diagnostico: 137 ms\n"
      "Resumen: El sistema funciona, pero hay elementos pendientes.\n"
      "\n"
      "RESULTADOS\n"
      "----------------------------------------\n"
      "ATS: OK\n"
      "Detalle: American Truck Simulator activo | amtrucks.exe\n"
      "\n"
      "CPU: ADVERTENCIA\n"
      "Detalle: Uso del proceso: 23.4%\n"
      "Tiempo: 121 ms\n"
      "\n"
      "Reemplazo GPS: ERROR\n"
      "Detalle: El reemplazo del GPS no esta disponible\n"
      "\n"
      "Biblioteca: PENDIENTE\n"
      "Detalle: Ñandú – 日本\n"
      "Tiempo: 0 ms\n"
      "\n"
      "----------------------------------------\n"
      "Archivo generado por ZOR TabCast V3.0.5\n"
      "\n"
      "OTROS OVERLAYS EN EL JUEGO\n"
      "----------------------------------------\n";
  EXPECT_EQ(SupportReport::buildText(center, {"[2025-03-05 07:08:09] [INFO] [ZorTabcast] uno", "dos"}),
            fixed +
                "(ninguno)\n"
                "----------------------------------------\n"
                "\n"
                "REGISTRO DE LA SESION (ultimas 2 lineas)\n"
                "----------------------------------------\n"
                "[2025-03-05 07:08:09] [INFO] [ZorTabcast] uno\n"
                "dos\n"
                "----------------------------------------\n");
  center.otherOverlays = {"Steam overlay (GameOverlayRenderer64.dll)", "plugin de telemetria (otro.dll)"};
  EXPECT_EQ(SupportReport::buildText(center, {}), fixed +
                                                       "Steam overlay (GameOverlayRenderer64.dll)\n"
                                                       "plugin de telemetria (otro.dll)\n"
                                                       "----------------------------------------\n"
                                                       "\n"
                                                       "REGISTRO DE LA SESION (ultimas 0 lineas)\n"
                                                       "----------------------------------------\n"
                                                       "(registro no disponible)\n"
                                                       "----------------------------------------\n");
}

TEST_F(SupportReportTest, ExportBeforeAnyCheckChecksFirstAndWritesUtf8WithLineFeedsBesideThePlugin) {
  const std::wstring folder = pluginFolder / L"Informes Ñandú 日本語";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  SupportReport::setFolder(folder);
  TempFolder documents{L"zor-diag-docs"};
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  LogFile::instance().writeLine("INFO", "[ZorTabcast] sesion anterior");
  ASSERT_TRUE(LogFile::instance().openIn(documents.path()));
  LogFile::instance().writeLine("WARNING", "[ZorTabcast] sesion actual ñ");

  ASSERT_TRUE(SupportReport::exportReport());
  EXPECT_TRUE(center.checked);
  EXPECT_EQ(center.items.size(), 13u);
  const std::wstring path = folder + L"\\" + SupportReport::kFileName;
  EXPECT_EQ(center.reportPath, path);
  EXPECT_EQ(center.actionMessage, "Informe creado correctamente.");
  const std::string bytes = readFile(path);
  EXPECT_EQ(bytes, center.reportText);
  EXPECT_EQ(bytes.rfind("========================================\nZOR TabCast", 0), 0u) << "no byte order mark";
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  EXPECT_EQ(bytes, SupportReport::buildText(center, readSessionTail(LogFile::instance().path(), 200)));
  EXPECT_NE(bytes.find("] [WARNING] [ZorTabcast] sesion actual ñ\n----"), std::string::npos) << bytes;
  EXPECT_EQ(bytes.find("sesion anterior"), std::string::npos);
  EXPECT_TRUE(log.has(LogLevel::INFO, "V3.0.5 SUPPORT REPORT: informe exportado | ruta=" + toUtf8(path) + "."))
      << log.dump();

  // A new check leaves the last export alone; the next export overwrites the file.
  probe.local.wMinute = 9;
  center.runChecks();
  EXPECT_EQ(readFile(path), bytes);
  ASSERT_TRUE(SupportReport::exportReport());
  EXPECT_NE(readFile(path).find("Fecha: 05/03/2025 07:09:09\n"), std::string::npos);
  EXPECT_EQ(readFile(path), center.reportText);
}

TEST_F(SupportReportTest, AFolderWhereNothingCanBeCreatedFailsTheExportAndKeepsNoPath) {
  // As in a read-only plugin folder, the file cannot be created. (The tests run as root, for
  // whom Wine ignores read-only folders and files; a folder in the report's place refuses the
  // file the same way; the report is written beside its place first.)
  ASSERT_TRUE(CreateDirectoryW(reportFile().c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((reportFile() + L".tmp").c_str(), nullptr));
  EXPECT_FALSE(SupportReport::exportReport());
  EXPECT_EQ(center.actionMessage, "No fue posible crear el informe.");
  EXPECT_TRUE(center.reportPath.empty());
  EXPECT_FALSE(center.reportText.empty());  // built before the file was tried
  EXPECT_FALSE(log.has("SUPPORT REPORT"));

  // Opening the folder and copying try the export again and fail with its message.
  putOnClipboard(L"texto del jugador");
  center.reportText.clear();
  EXPECT_FALSE(SupportReport::copyReportToClipboard(owner));
  EXPECT_EQ(center.actionMessage, "No fue posible crear el informe.");
  EXPECT_EQ(clipboardText(), L"texto del jugador");
  SupportReport::setShellOpen([](HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) -> HINSTANCE {
    ADD_FAILURE() << "Explorer opened without a report";
    return reinterpret_cast<HINSTANCE>(42);
  });
  EXPECT_FALSE(SupportReport::openReportFolder());
  EXPECT_TRUE(center.reportPath.empty());
}

// A report that cannot be saved leaves the previous one whole: another program holds it open
// (without letting it be deleted) with its first bytes locked, so writing over them fails.
TEST_F(SupportReportTest, AReportThatCannotBeSavedLeavesThePreviousOneWhole) {
  ASSERT_TRUE(SupportReport::exportReport());
  const std::string previous = readFile(reportFile());
  HANDLE held = CreateFileW(reportFile().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(LockFile(held, 0, 0, 64, 0));
  center.items[0].detail = "otro resultado";
  EXPECT_FALSE(SupportReport::exportReport());
  UnlockFile(held, 0, 0, 64, 0);
  CloseHandle(held);
  EXPECT_EQ(center.actionMessage, "El informe no pudo guardarse completamente.");
  EXPECT_EQ(readFile(reportFile()), previous);
  EXPECT_FALSE(fs::isFile(reportFile() + L".tmp"));
}

struct ShellCall {
  std::wstring verb, file, parameters;
  bool directory;
  INT show;
  INT_PTR result = 42;
};
ShellCall g_shell;

TEST_F(SupportReportTest, OpeningTheFolderExportsWhenNeededAndSelectsTheFileInExplorer) {
  SupportReport::setShellOpen([](HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                 INT show) -> HINSTANCE {
    g_shell = {verb, file, parameters, directory != nullptr, show, g_shell.result};
    return reinterpret_cast<HINSTANCE>(g_shell.result);
  });
  g_shell.result = 42;
  ASSERT_TRUE(SupportReport::openReportFolder());
  EXPECT_EQ(readFile(reportFile()), center.reportText);
  EXPECT_EQ(g_shell.verb, L"open");
  EXPECT_EQ(g_shell.file, L"explorer.exe");
  EXPECT_EQ(g_shell.parameters, L"/select,\"" + reportFile() + L"\"");
  EXPECT_FALSE(g_shell.directory);
  EXPECT_EQ(g_shell.show, SW_SHOWNORMAL);
  EXPECT_EQ(center.actionMessage, "Carpeta del informe abierta.");

  g_shell.result = 32;
  EXPECT_FALSE(SupportReport::openReportFolder());
  EXPECT_EQ(center.actionMessage, "No fue posible abrir la carpeta del informe.");
}

TEST_F(SupportReportTest, CopyingPutsTheLastExportedTextOnTheClipboardAsUtf16) {
  putOnClipboard(L"otro texto");
  ASSERT_TRUE(SupportReport::copyReportToClipboard(owner));  // exports first
  EXPECT_EQ(center.actionMessage, "Informe copiado al portapapeles.");
  EXPECT_TRUE(log.has(LogLevel::INFO, "V3.0.5 SUPPORT REPORT: informe copiado al portapapeles."));
  const std::string exported = readFile(reportFile());
  bool present = false;
  const std::wstring copied = clipboardText(&present);
  ASSERT_TRUE(present);
  EXPECT_EQ(GetClipboardOwner(), owner) << "an ownerless clipboard refuses the data on Windows";
  EXPECT_EQ(copied, toWide(exported));
  EXPECT_EQ(copied.find(L'\r'), std::wstring::npos);

  // A later check does not change what is copied; only an export does.
  center.items[0].detail = "Ñandú 日本";
  center.runChecks();
  putOnClipboard(L"otro texto");
  ASSERT_TRUE(SupportReport::copyReportToClipboard(owner));
  EXPECT_EQ(clipboardText(), toWide(exported));
}

TEST_F(SupportReportTest, AClipboardHeldOpenByAnotherProgramIsReportedAndLeftAlone) {
  ASSERT_TRUE(SupportReport::exportReport());
  putOnClipboard(L"del otro programa");

  const std::wstring id = std::to_wstring(GetCurrentProcessId());
  const std::string heldName = "zor-clipboard-held-" + narrow(id), releaseName = "zor-clipboard-release-" + narrow(id);
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, heldName.c_str());
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str());
  std::wstring command = L"\"" + programFolder() + L"\\zor_clipboard_holder.exe\" " + toWide(heldName) + L" " +
                         toWide(releaseName);
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  HANDLE waits[] = {held, pi.hProcess};
  ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 20000), WAIT_OBJECT_0) << "the holder did not open the clipboard";

  EXPECT_FALSE(SupportReport::copyReportToClipboard(owner));
  EXPECT_EQ(center.actionMessage, "No fue posible acceder al portapapeles.");

  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(held);
  CloseHandle(release);
  EXPECT_EQ(clipboardText(), L"del otro programa");

  ASSERT_TRUE(SupportReport::copyReportToClipboard(owner));  // free again
  EXPECT_EQ(clipboardText(), toWide(center.reportText));
}

}  // namespace
