// What a new player does, in the simulated game with real X input: the first Ctrl+F8 shows the
// first-run wizard, clicked through with YouTube and high quality; the panel from then on; the
// media program's card in Aplicaciones started with one click and then in use; a check, the
// report and its copy on the clipboard in Diagnostico. The clicks land where the panel says
// its buttons are (the test build's panel record); what is shown is read from the same record.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>

#include "SimProcess.h"

namespace zor::test {
namespace {

std::wstring clipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

std::wstring widen(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  out.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), static_cast<int>(out.size()))));
  return out;
}

std::wstring iniValue(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[512] = {};
  GetPrivateProfileStringW(section, key, L"", buffer, 512, file.c_str());
  return buffer;
}

TEST(PanelInGame, FirstRunWizardThenApplicationsThenDiagnosticsWithRealInput) {
  TempFolder folder(L"zor_panel_plugin");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  SimRun run = runSim(
      "timeout 200000\n"
      "ini ZorTabcastPlugin.ini gps calibration_mode 0\n"
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"  // the wizard, not detection, picks the window
      "truck vehicle.kenworth.w900\n"
      "load\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "event started\n"
      "wait-hooked 30000\n"  // the hooks are in before the cab's textures are made
      "run 500\n"
      "cab\n"
      "media open yt \"Musica para conducir - YouTube\"\n"
      "wait-log \"V0.7.6 OVERLAY tablet_gps_overlay.dds\" 20000\n"
      // The first Ctrl+F8 of a fresh configuration: the wizard.
      "key ctrl+F8\n"
      "wait-text \"ASISTENTE DE BIENVENIDA\" 3000\n"
      "expect-text \"Paso 1 de 4\"\n"
      "click-item \"Comenzar\"\n"
      "wait-text \"Paso 2 de 4\" 2000\n"
      "click-item \"Spotify\"\n"
      // Closed mid-way and opened again: the same page and choice.
      "key ctrl+F8\n"
      "expect-no-text \"Paso\"\n"
      "key ctrl+F8\n"
      "wait-text \"Paso 2 de 4\" 2000\n"
      "click-item \"YouTube\"\n"
      "click-item \"Siguiente\"\n"
      "wait-text \"Paso 3 de 4\" 2000\n"
      "click-item \"Alta calidad - 1080p / 60 FPS\"\n"
      "click-item \"Siguiente\"\n"
      "wait-text \"Configuracion completada\" 2000\n"
      "expect-text \"Alta calidad - 1080p / 60 FPS\"\n"
      "click-item \"Entrar al plugin\"\n"
      "wait-log \"Configuracion inicial completada | aplicacion=YouTube | calidad=Alta calidad - 1080p / 60 FPS.\" "
      "3000\n"
      "wait-text \"Ctrl + F8 para mostrar u ocultar\" 2000\n"
      "expect-text \"Listo para reproducir\"\n"  // a source window is chosen (its title: below, in the files)
      "expect-text \"Full HD (Recomendado)  |  1920 x 1080\"\n"
      "expect-text \"60 FPS\"\n"
      // The next Ctrl+F8: the panel again, not the wizard.
      "key ctrl+F8\n"
      "key ctrl+F8\n"
      "wait-text \"Ctrl + F8 para mostrar u ocultar\" 2000\n"
      "expect-no-text \"ASISTENTE\"\n"
      // Aplicaciones: the media program's card, then playing on the tablet.
      "click-item \"Aplicaciones\"\n"
      "wait-text \"GESTOR VISUAL DE APLICACIONES\" 2000\n"
      "wait-text \"DISPONIBLE\" 3000\n"
      "expect-no-text \"EN USO\"\n"
      "probe tablet map\n"
      "click-item \"Activar\"\n"
      "wait-probe tablet media 8000\n"
      "wait-text \"EN USO\" 3000\n"
      "expect-item \"Activa\" disabled\n"
      // Diagnostico: a check, the report, its copy.
      "click-item \"Diagnostico\"\n"
      "wait-text \"CENTRO DE DIAGNOSTICO\" 2000\n"
      "expect-item \"Copiar informe\" absent\n"
      "click-item \"Comprobar sistema\"\n"
      "wait-text \"Comprobado: \" 3000\n"
      "panel-text\n"
      "click-item \"Generar informe\"\n"
      "wait-text \"Informe creado correctamente.\" 3000\n"
      "click-item \"Copiar informe\"\n"
      "wait-text \"Informe copiado al portapapeles.\" 3000\n"
      "expect-log \"V3.0.5 SUPPORT REPORT: informe copiado al portapapeles.\"\n"
      "unload\n",
      plugin, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;

  // The wizard's choices, in the settings files.
  const std::wstring zor = folder / L"ZOR";
  EXPECT_EQ(iniValue(zor + L"\\ZorTabcastFirstRun.ini", L"setup", L"completed"), L"1");
  const std::wstring apps = zor + L"\\ZorTabcastApps.ini";
  EXPECT_EQ(iniValue(apps, L"app_0", L"name"), L"YouTube");
  EXPECT_EQ(iniValue(apps, L"app_0", L"favorite"), L"1");
  EXPECT_EQ(iniValue(apps, L"app_0", L"width"), L"1920");
  EXPECT_EQ(iniValue(apps, L"app_0", L"height"), L"1080");
  EXPECT_EQ(iniValue(apps, L"app_0", L"fps"), L"60");
  EXPECT_EQ(iniValue(zor + L"\\ZorTabcastSmartCapture.ini", L"smart_capture", L"last_window"),
            L"Musica para conducir - YouTube");

  // The twelve rows of the check as the panel listed them.
  const std::string listed = run.output.substr(run.output.find("panel-text: frame"));
  for (const char* row : {"ATS", "GPS TabCast", "Aplicacion", "Captura", "Reemplazo GPS", "Visibilidad GPS", "CPU",
                          "Memoria RAM", "GPU", "FPS configurados", "Tiempo activo", "Biblioteca"})
    EXPECT_NE(listed.find(std::string("panel-text:  ") + row + " "), std::string::npos) << row << "\n" << listed;
  EXPECT_NE(listed.find("Captura activa | Limite: 30 FPS"), std::string::npos) << listed;

  // The report beside the DLL, and the same text on the clipboard.
  const std::string report = readFile(folder / L"ZorTabcast_Diagnostic_Report.txt");
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report.rfind("========================================\nZOR TabCast Vantex - Informe de Soporte\n", 0), 0u);
  EXPECT_NE(report.find("Visibilidad GPS: "), std::string::npos);
  EXPECT_NE(report.find("Aplicacion: OK\nDetalle: Ventana objetivo encontrada\n"), std::string::npos) << report;
  EXPECT_NE(report.find("REGISTRO DE LA SESION"), std::string::npos);
  EXPECT_NE(report.find("] [INFO] [ZorTabcast] Diagnostico completado | "), std::string::npos) << report;  // this session
  EXPECT_EQ(clipboardText(), widen(report));
}

// A full library of applications with 70-character keywords, a 31st typed in, and a plugin
// folder (with non-Latin characters in its path) where the report cannot be written: the cards
// cut the long keywords, nothing is added, the export fails with its message and no button for
// a report appears.
TEST(PanelInGame, AFullLibraryAndAFolderWhereTheReportCannotBeWritten) {
  TempFolder folder(L"zor_ñandú_日本");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  // The report's name (and the name it is written under first) taken by folders: as in a
  // read-only folder, the file cannot be created (the tests run as root, for whom Wine ignores
  // read-only folders).
  ASSERT_TRUE(CreateDirectoryW((folder / L"ZorTabcast_Diagnostic_Report.txt").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((folder / L"ZorTabcast_Diagnostic_Report.txt.tmp").c_str(), nullptr));
  std::string scenario =
      "timeout 200000\n"
      "ini ZorTabcastFirstRun.ini setup completed 1\n"
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
      "ini ZorTabcastApps.ini general count 30\n";
  std::string firstKeyword;
  for (int i = 0; i < 30; ++i) {
    const std::string section = "app_" + std::to_string(i);
    std::string keyword = "Emisora " + std::to_string(i) + " ";
    keyword += std::string(70 - keyword.size(), 'k');
    if (i == 0) firstKeyword = keyword;
    scenario += "ini ZorTabcastApps.ini " + section + " name Radio" + std::to_string(i) + "\n";
    scenario += "ini ZorTabcastApps.ini " + section + " keyword \"" + keyword + "\"\n";
  }
  scenario +=
      "load\n"
      "wait-hooked 30000\n"
      "key ctrl+F8\n"
      "wait-text \"Ctrl + F8 para mostrar u ocultar\" 3000\n"
      "click-item \"Aplicaciones\"\n"
      "wait-text \"" + firstKeyword.substr(0, 55) + "...\" 3000\n"
      "expect-no-text \"" + firstKeyword.substr(0, 56) + "\"\n"
      "expect-text \"CERRADA\"\n"
      "click-item \"##new_app_name\"\n"
      "key x\n"
      "click-item \"##new_app_keyword\"\n"
      "key y\n"
      "click-item \"Agregar a la biblioteca\"\n"
      "run 300\n"
      "click-item \"Diagnostico\"\n"
      "click-item \"Comprobar sistema\"\n"
      "wait-text \"30 aplicaciones configuradas\" 3000\n"
      "click-item \"Generar informe\"\n"
      "wait-text \"No fue posible crear el informe.\" 3000\n"
      "expect-item \"Abrir carpeta\" absent\n"
      "expect-item \"Copiar informe\" absent\n"
      "expect-no-text \"Informe creado\"\n"
      "unload\n";
  SimRun run = runSim(scenario, plugin, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(iniValue(folder / L"ZOR\\ZorTabcastApps.ini", L"general", L"count"), L"30");
  EXPECT_EQ(run.count("SUPPORT REPORT"), 0u) << run.output;
}

// Calibration switched in the Diagnostico tab while a window plays: the tablet goes from the
// test pattern to the window and back within the frames the click takes, the choice is in the
// settings file after a restart, and a save that cannot be made says so and keeps the old file.
TEST(PanelInGame, CalibrationSwitchedInThePanelChangesTheTabletAtOnceAndSurvivesARestart) {
  TempFolder folder(L"zor_calibration_plugin");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  const std::string toggle = "click-item \"Modo calibracion: patron de prueba en el GPS\"\n";
  auto game = [](const char* cab) {
    return std::string(
      "truck vehicle.kenworth.w900\n"
      "load\n"
      "channel electric 1\n"
      "channel engine 1\n"
      "event started\n"
      "wait-hooked 30000\n") + cab +
      "playback start \"Lofi radio\"\n"
      "key ctrl+F8\n"
      "click-item \"Diagnostico\"\n";
  };
  SimRun run = runSim(
      "timeout 200000\n"
      "ini ZorTabcastFirstRun.ini setup completed 1\n"
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
      "ini ZorTabcastPlugin.ini capture window_title Radio\n"  // set by hand: must stay
      "media open lofi \"Lofi radio - YouTube\"\n" +
          game("cab\n") +
          "wait-log \"V0.7.6 OVERLAY tablet_gps_overlay.dds\" 20000\n"
          "wait-probe tablet checker 8000\n"
          // The capture has the window (it looks every 2 s): frames wait for calibration to end.
          "wait-log \"Ventana de captura recuperada automaticamente.\" 10000\n"
          "run 300\n"
          "expect-text \"El GPS muestra el patron de prueba. Desactivelo para ver la ventana elegida.\"\n" +
          toggle + "probe tablet media\n" + toggle + "probe tablet checker\n" + toggle +
          "probe tablet media\n"
          "expect-text \"El GPS muestra la ventana elegida.\"\n"
          "unload\n" +
          game("cab reload\n") +
          "wait-probe tablet media 8000\n"
          "settings read-only\n" +
          toggle +
          "wait-text \"No fue posible guardar ZorTabcastPlugin.ini; el cambio dura hasta cerrar ATS.\" 2000\n"
          "probe tablet checker\n"
          "settings writable\n"
          "unload\n",
      plugin, {}, 240000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("Modo calibracion desactivado por panel: el GPS muestra la ventana elegida."), 2u) << run.output;
  EXPECT_EQ(run.count("Modo calibracion activado por panel: el GPS muestra el patron de prueba."), 2u);
  EXPECT_EQ(run.count("No fue posible guardar ZorTabcastPlugin.ini; se conserva el archivo anterior."), 1u);
  const std::wstring settings = folder / L"ZOR\\ZorTabcastPlugin.ini";
  EXPECT_EQ(iniValue(settings, L"gps", L"calibration_mode"), L"0");
  EXPECT_EQ(iniValue(settings, L"capture", L"window_title"), L"Radio");
}

// The language box of the panel: English at once and on the same tab, saved, and the panel of
// the next start is English too; a choice that cannot be saved holds and says so, as calibration.
TEST(PanelInGame, TheLanguageBoxSwitchesThePanelAtOnceOnTheSameTabAndIsSaved) {
  TempFolder folder(L"zor_language_plugin");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  SimRun run = runSim(
      "timeout 150000\n"
      "ini ZorTabcastFirstRun.ini setup completed 1\n"
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
      "load\n"
      "wait-hooked 30000\n"
      "key ctrl+F8\n"
      "click-item \"Diagnostico\"\n"
      "wait-text \"CENTRO DE DIAGNOSTICO\" 2000\n"
      "click-item \"##language\"\n"
      "click-item \"English\"\n"
      "wait-text \"DIAGNOSTICS\" 2000\n"
      "expect-text \"Ctrl + F8 to show or hide\"\n"
      "expect-text \"Calibration mode: test pattern on the GPS\"\n"
      "expect-no-text \"CENTRO DE DIAGNOSTICO\"\n"
      "reload\n"
      "wait-hooked 30000\n"
      "key ctrl+F8\n"
      "wait-text \"Ctrl + F8 to show or hide\" 3000\n"
      "expect-text \"CAPTURE IDLE\"\n"
      "expect-no-text \"Could not save\"\n"
      "settings read-only\n"
      "click-item \"##language\"\n"
      "click-item \"Espa\xc3\xb1ol\"\n"
      "wait-text \"No fue posible guardar ZorTabcastPlugin.ini; el cambio dura hasta cerrar ATS.\" 2000\n"
      "expect-text \"CAPTURA EN ESPERA\"\n"
      "settings writable\n"
      "unload\n",
      plugin, {}, 200000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("Idioma del panel: ingles (elegido por panel)."), 1u) << run.output;
  EXPECT_EQ(run.count("Idioma del panel: espanol (elegido por panel)."), 1u);
  EXPECT_EQ(run.count("No fue posible guardar ZorTabcastPlugin.ini; se conserva el archivo anterior."), 1u);
  EXPECT_EQ(iniValue(folder / L"ZOR\\ZorTabcastPlugin.ini", L"ui", L"language"), L"en");
}

// The player's own panel key: one chosen in the settings file opens the panel and the old
// Ctrl+F8 no longer does; one chosen in the Teclas tab by pressing it takes over at once (Esc
// leaves another action's key as it was) and is saved; the defaults come back with one button.
TEST(PanelInGame, ARechosenPanelKeyOpensThePanelAndTheOldOneNoLongerDoes) {
  TempFolder folder(L"zor_keys_plugin");
  const std::wstring plugin = folder / L"ZorTabcastPlugin_playback.dll";
  ASSERT_TRUE(CopyFileW((binDir() + L"\\ZorTabcastPlugin_playback.dll").c_str(), plugin.c_str(), FALSE));
  SimRun run = runSim(
      "timeout 150000\n"
      "ini ZorTabcastFirstRun.ini setup completed 1\n"
      "ini ZorTabcastSmartCapture.ini smart_capture enabled 0\n"
      "ini ZorTabcastPlugin.ini keys panel \"Ctrl + F9\"\n"
      "load\n"
      "wait-hooked 30000\n"
      "key ctrl+F8\n"
      "expect-no-text \"para mostrar u ocultar\"\n"
      "key ctrl+F9\n"
      "wait-text \"Ctrl + F9 para mostrar u ocultar\" 3000\n"
      "click-item \"Teclas\"\n"
      "wait-text \"TECLAS\" 2000\n"
      "click-item \"Cambiar\" 4\n"  // the next track's key: Esc leaves it
      "wait-text \"Pulse la nueva combinacion (Esc cancela).\" 2000\n"
      "key Escape\n"
      "expect-no-text \"Pulse la nueva combinacion\"\n"
      "expect-text \"Ctrl + N\"\n"
      "click-item \"Cambiar\" 1\n"  // the panel's key
      "wait-text \"Pulse la nueva combinacion (Esc cancela).\" 2000\n"
      "key ctrl+shift+k\n"
      "wait-text \"Ctrl + Shift + K para mostrar u ocultar\" 2000\n"
      "key ctrl+F9\n"  // the key it had: nothing happens
      "expect-text \"Ctrl + Shift + K para mostrar u ocultar\"\n"
      "key ctrl+shift+k\n"
      "expect-no-text \"para mostrar u ocultar\"\n"
      "key ctrl+F9\n"
      "key ctrl+F8\n"
      "expect-no-text \"para mostrar u ocultar\"\n"
      "key ctrl+shift+k\n"
      "wait-text \"Ctrl + Shift + K para mostrar u ocultar\" 3000\n"
      "click-item \"Restablecer teclas por defecto\"\n"
      "wait-text \"Ctrl + F8 para mostrar u ocultar\" 2000\n"
      "key ctrl+F8\n"
      "expect-no-text \"para mostrar u ocultar\"\n"
      "unload\n",
      plugin, {}, 200000);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.count("TECLAS: panel = Ctrl+Shift+K (elegida en el panel)."), 1u) << run.output;
  EXPECT_EQ(run.count("TECLAS: next"), 0u) << "Esc changed the next track's key\n" << run.output;
  EXPECT_EQ(run.count("TECLAS: teclas por defecto restablecidas (panel)."), 1u) << run.output;
  const std::wstring settings = folder / L"ZOR\\ZorTabcastPlugin.ini";
  EXPECT_EQ(iniValue(settings, L"keys", L"panel"), L"Ctrl+F8");  // the defaults, written back
  EXPECT_EQ(iniValue(settings, L"keys", L"next"), L"Ctrl+N");
}

}  // namespace
}  // namespace zor::test
