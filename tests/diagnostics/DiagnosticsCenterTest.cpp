// The checks of the diagnostics center: each rule that decides a row, with the machine's
// readings given by the test (no sleeping), the real replacer on a real device, the real
// application library; and once with the system's own readings.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "DiagnosticsTestKit.h"

using namespace zor;
using namespace zor::test;

namespace {

using Status = DiagnosticItem::Status;

struct Expected {
  int32_t status;
  std::string detail;
};

void expectRow(const DiagnosticItem& item, const Expected& e, const std::string& context) {
  EXPECT_EQ(item.status, e.status) << context;
  EXPECT_EQ(item.detail, e.detail) << context;
}

TEST_F(DiagnosticsTest, TheInitialListHasTwelveUncheckedItemsAndIsBuiltOnce) {
  EXPECT_EQ(center.summary, "Pulse Comprobar sistema.");
  center.initialize();
  center.initialize();
  const std::vector<std::string> names = {"ATS",         "GPS TabCast", "Aplicacion",       "Captura",
                                          "Reemplazo GPS", "CPU",       "Memoria RAM",      "GPU",
                                          "FPS configurados", "Tiempo activo", "Biblioteca", "Otros overlays"};
  ASSERT_EQ(center.items.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(center.items[i].name, names[i]);
    EXPECT_EQ(center.items[i].status, Status::Pending);
    EXPECT_EQ(center.items[i].detail, "Sin comprobar");
    EXPECT_EQ(center.items[i].durationMs, -1);
  }
  EXPECT_FALSE(center.checked);
  EXPECT_STREQ(diagnosticStatusLabel(0), "PENDIENTE");
  EXPECT_STREQ(diagnosticStatusLabel(1), "OK");
  EXPECT_STREQ(diagnosticStatusLabel(2), "ADVERTENCIA");
  EXPECT_STREQ(diagnosticStatusLabel(3), "ERROR");
  EXPECT_STREQ(diagnosticStatusLabel(4), "INFO");
  EXPECT_STREQ(diagnosticStatusLabel(7), "PENDIENTE");
}

TEST_F(DiagnosticsTest, ACheckListsThirteenRowsInOrderWithTheTimeItTookAndWhenItRan) {
  probe.busyPerPause = 120'000;  // 10 % of one processor over the 120 ms sample
  center.initialize();
  center.runChecks();
  const std::vector<std::string> names = {"ATS",         "GPS TabCast", "Aplicacion", "Captura",          "Reemplazo GPS",
                                          "Visibilidad GPS", "CPU",     "Memoria RAM", "GPU", "FPS configurados",
                                          "Tiempo activo", "Biblioteca", "Otros overlays"};
  ASSERT_EQ(center.items.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(center.items[i].name, names[i]);
    EXPECT_EQ(center.items[i].durationMs, names[i] == "CPU" ? 120 : -1) << names[i];
  }
  EXPECT_EQ(probe.pauses, std::vector<uint32_t>{120});
  EXPECT_EQ(row("CPU").detail, "Uso del proceso: 10.0%");
  EXPECT_EQ(center.lastCheck, "05/03/2025 07:08:09");
  EXPECT_EQ(center.durationMs, 120);
  EXPECT_TRUE(center.checked);
}

TEST_F(DiagnosticsTest, CpuUsageIsBelowTwentyPercentForOkAndCountsEveryProcessor) {
  struct Case {
    uint64_t busy;  // 100 ns units over the 120 ms sample
    uint32_t processors;
    bool timesFail, clockFrozen;
    Expected row;
  } cases[] = {
      {238'800, 1, false, false, {Status::Ok, "Uso del proceso: 19.9%"}},
      {240'000, 1, false, false, {Status::Warning, "Uso del proceso: 20.0%"}},
      {0, 1, false, false, {Status::Ok, "Uso del proceso: 0.0%"}},
      {480'000, 2, false, false, {Status::Warning, "Uso del proceso: 20.0%"}},
      {477'600, 2, false, false, {Status::Ok, "Uso del proceso: 19.9%"}},
      {5'000'000, 1, false, false, {Status::Warning, "Uso del proceso: 100.0%"}},  // clamped
      {10'000, 0, false, false, {Status::Ok, "Uso del proceso: 0.8%"}},           // no processor count: one
      {1'000, 1, true, false, {Status::Warning, "No fue posible medir el proceso"}},
      {1'000, 1, false, true, {Status::Warning, "No fue posible medir el proceso"}},  // no time passed
  };
  for (const Case& c : cases) {
    probe.busyPerPause = c.busy;
    probe.processors = c.processors;
    probe.timesFail = c.timesFail;
    probe.clockFrozen = c.clockFrozen;
    center.runChecks();
    expectRow(row("CPU"), c.row, std::to_string(c.busy) + " on " + std::to_string(c.processors));
  }
}

TEST_F(DiagnosticsTest, MemoryBelowFiveHundredMegabytesIsOk) {
  struct Case {
    uint64_t bytes;
    Expected row;
  } cases[] = {
      {(499ull << 20) + (1u << 20) - 1, {Status::Ok, "499 MB usados por ATS y el plugin"}},
      {500ull << 20, {Status::Warning, "500 MB usados por ATS y el plugin"}},
      {(1u << 20) - 1, {Status::Warning, "No fue posible medir la memoria"}},  // less than 1 MB reads as a failure
      {0, {Status::Warning, "No fue posible medir la memoria"}},
  };
  for (const Case& c : cases) {
    probe.workingSet = c.bytes;
    center.runChecks();
    expectRow(row("Memoria RAM"), c.row, std::to_string(c.bytes));
  }
}

TEST_F(DiagnosticsTest, ConfiguredFramesComeFromTheCaptureInterval) {
  struct Case {
    int64_t intervalMs;
    Expected row;
  } cases[] = {
      {16, {Status::Warning, "62 FPS"}},  {17, {Status::Ok, "58 FPS"}}, {33, {Status::Ok, "30 FPS"}},
      {2000, {Status::Warning, "Sin limite configurado"}}, {0, {Status::Ok, "30 FPS"}},
  };
  for (const Case& c : cases) {
    capture.intervalMs = c.intervalMs;
    center.runChecks();
    expectRow(row("FPS configurados"), c.row, std::to_string(c.intervalMs) + " ms");
  }
}

TEST_F(DiagnosticsTest, UptimeReadsHoursAndMinutesOfTheProcessAge) {
  constexpr uint64_t second = 10'000'000;
  struct Case {
    uint64_t age;  // 100 ns units; UINT64_MAX: the clock is behind the creation time
    bool timesFail;
    std::string text;
  } cases[] = {
      {(3 * 3600 + 5 * 60 + 59) * second, false, "3 h 5 min"},
      {59 * second, false, "0 min"},
      {(59 * 60 + 59) * second, false, "59 min"},
      {(25 * 3600) * second, false, "25 h 0 min"},
      {0, false, "0 min"},
      {UINT64_MAX, false, "0 min"},
      {60 * second, true, "No disponible"},
  };
  for (const Case& c : cases) {
    probe.now = c.age == UINT64_MAX ? probe.creation - second : probe.creation + c.age;
    probe.timesFail = c.timesFail;
    center.runChecks();
    expectRow(row("Tiempo activo"), {Status::Ok, c.text}, c.text);
  }
}

TEST_F(DiagnosticsTest, HostGpuAndLibraryRows) {
  struct Case {
    std::wstring path;
    Expected row;
  } hosts[] = {
      {L"C:\\Juegos\\ATS\\bin\\win_x64\\AmTrucks.EXE", {Status::Ok, "American Truck Simulator activo | AmTrucks.EXE"}},
      {L"amtrucks.exe", {Status::Ok, "American Truck Simulator activo | amtrucks.exe"}},
      {L"C:\\Juegos\\ETS2\\eurotrucks2.exe", {Status::Warning, "Proceso actual: eurotrucks2.exe"}},
      {L"", {Status::Warning, "Proceso actual: Desconocido"}},
  };
  for (const Case& c : hosts) {
    probe.hostPath = c.path;
    center.runChecks();
    expectRow(row("ATS"), c.row, narrow(c.path));
  }

  expectRow(row("GPU"), {Status::Ok, "Adaptador de prueba"}, "adapter");
  expectRow(row("Biblioteca"), {Status::Warning, "No hay aplicaciones guardadas"}, "not loaded");
  probe.adapter.clear();
  AppLibrary::instance().initialize();  // the six built-in applications
  center.runChecks();
  expectRow(row("GPU"), {Status::Warning, "No disponible"}, "no adapter");
  expectRow(row("Biblioteca"), {Status::Ok, "6 aplicaciones configuradas"}, "built-in");
}

// Another overlay in the game is nothing wrong: the row says who, and the verdict stays.
TEST_F(DiagnosticsTest, TheOtherOverlaysRowNamesThemWithoutChangingTheVerdict) {
  center.runChecks();
  expectRow(row("Otros overlays"), {Status::Ok, "Ninguno"}, "none");
  const std::string verdict = center.summary;
  probe.overlays = {"Steam overlay (GameOverlayRenderer64.dll)", "plugin de telemetria (otro.dll)"};
  center.runChecks();
  expectRow(row("Otros overlays"),
            {Status::Info, "Detectados: Steam overlay (GameOverlayRenderer64.dll), plugin de telemetria (otro.dll)"},
            "two");
  EXPECT_EQ(center.summary, verdict);
  EXPECT_EQ(center.otherOverlays, probe.overlays) << "kept for the support report";
}

TEST_F(DiagnosticsTest, ApplicationAndCaptureRowsFollowTheCaptureEngine) {
  const std::string browserHint = stillPictureHint(L"msedge.exe");
  struct Case {
    bool window, active;
    std::wstring keyword;
    Expected application, captureRow;
    bool still = false;  // the picture has not changed for 12 s (a browser that stopped painting)
  } cases[] = {
      {false, false, L"", {Status::Warning, "No hay aplicacion seleccionada"}, {Status::Warning, "Captura en espera de inicio"}},
      {false, false, L"YouTube", {Status::Warning, "Buscando la ventana configurada"}, {Status::Warning, "Captura en espera de inicio"}},
      {false, true, L"YouTube", {Status::Warning, "Buscando la ventana configurada"},
       {Status::Warning, "Motor de captura preparado, ventana no disponible"}},
      {true, true, L"YouTube", {Status::Ok, "Ventana objetivo encontrada"}, {Status::Ok, "Captura activa | Limite: 24 FPS"}},
      {true, false, L"YouTube", {Status::Ok, "Ventana objetivo encontrada"}, {Status::Warning, "Captura en espera de inicio"}},
      {true, true, L"YouTube", {Status::Ok, "Ventana objetivo encontrada"},
       {Status::Warning, "La ventana capturada no cambia desde hace 12 s | " + browserHint}, true},
  };
  capture.fps = 24;
  for (const Case& c : cases) {
    capture.window = c.window;
    capture.active = c.active;
    capture.keyword = c.keyword;
    capture.still = c.still ? StillPictureReport{nullptr, 12'000, true, L"msedge.exe"} : StillPictureReport{};
    center.runChecks();
    const std::string context = std::to_string(c.window) + std::to_string(c.active) + narrow(c.keyword);
    expectRow(row("Aplicacion"), c.application, context);
    expectRow(row("Captura"), c.captureRow, context);
  }
}

// The replacer's states as the game goes from loading to showing the tablet, with the summary
// and its log line at each step.
TEST_F(DiagnosticsTest, GpsRowsFollowTheReplacerAndTheSummaryTakesTheWorstRow) {
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  ComRef<ID3D11DeviceContext> context;
  ComRef<ID3D11Device> device = makeDevice(&context);
  ASSERT_TRUE(device);
  // Everything else healthy.
  capture.window = capture.active = true;
  capture.keyword = L"YouTube";
  AppLibrary::instance().initialize();

  center.runChecks();  // nothing identified yet
  expectRow(row("GPS TabCast"), {Status::Error, "No se ha detectado la textura del GPS TabCast"}, "start");
  expectRow(row("Reemplazo GPS"), {Status::Error, "El reemplazo del GPS no esta disponible"}, "start");
  expectRow(row("Visibilidad GPS"), {Status::Warning, "El GPS todavia no se ha dibujado"}, "start");
  EXPECT_EQ(center.summary, "Se encontraron problemas que requieren atencion.");
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V3.4.0 DIAGNOSTICS: comprobacion terminada | Se encontraron problemas que "
                                         "requieren atencion. | duracion=120 ms."))
      << log.dump();

  replacer.initialize();
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  TextureAndView gps = makeTextureAndView(device.get(), textureDesc(1024, 1024));
  replacer.registerGpsTexture(gps.texture.get());
  center.runChecks();  // a texture, no view yet
  expectRow(row("GPS TabCast"), {Status::Warning, "Textura GPS localizada, reemplazo aun no preparado"}, "texture");
  expectRow(row("Reemplazo GPS"), {Status::Error, "El reemplazo del GPS no esta disponible"}, "texture");

  replacer.registerGpsView(gps.view.get());
  log.clear();
  center.runChecks();  // prepared, never drawn: warnings only
  expectRow(row("GPS TabCast"), {Status::Ok, "GPS detectado | Texturas rastreadas: 1"}, "prepared");
  expectRow(row("Reemplazo GPS"), {Status::Warning, "GPS preparado, esperando que se dibuje en pantalla"}, "prepared");
  EXPECT_EQ(center.summary, "El sistema funciona, pero hay elementos pendientes.");
  EXPECT_TRUE(log.has(LogLevel::INFO, "Diagnostico completado | El sistema funciona, pero hay elementos pendientes. | "
                                      "duracion=120 ms."))
      << log.dump();
  EXPECT_FALSE(log.has(LogLevel::WARNING, "DIAGNOSTICS"));

  replacer.noteReplacement();
  replacer.noteReplacement();
  clock.advanceMs(1800);
  center.runChecks();  // drawn 1800 ms before the check began: still visible
  expectRow(row("Reemplazo GPS"), {Status::Ok, "Reemplazo activo | Usos registrados: 2"}, "drawn");
  expectRow(row("Visibilidad GPS"), {Status::Ok, "GPS visible; captura funcionando normalmente"}, "drawn");
  for (const DiagnosticItem& i : center.items) EXPECT_EQ(i.status, Status::Ok) << i.name << ": " << i.detail;
  EXPECT_EQ(center.summary, "Todo funciona correctamente.");

  replacer.noteReplacement();
  clock.advanceMs(1801);
  center.runChecks();
  expectRow(row("Visibilidad GPS"), {Status::Warning, "GPS fuera de pantalla; frames pausados desde hace 1801 ms"},
            "out of sight");
}

TEST_F(DiagnosticsTest, RepairRestartsTheWindowSearchAndChecksAgainOnlyWhenAWindowIsConfigured) {
  center.initialize();
  EXPECT_FALSE(center.repairCapture());
  EXPECT_EQ(center.actionMessage, "No hay una ventana configurada para recuperar.");
  EXPECT_FALSE(center.checked);
  EXPECT_EQ(center.items.size(), 12u);
  EXPECT_TRUE(capture.keywordsSet.empty());
  EXPECT_TRUE(probe.pauses.empty());

  capture.keyword = L"Música – 日本";
  EXPECT_TRUE(center.repairCapture());
  EXPECT_EQ(capture.keywordsSet, (std::vector<std::wstring>{L"", L"Música – 日本"}));
  EXPECT_EQ(probe.pauses, (std::vector<uint32_t>{60, 120}));  // the repair's pause, then the CPU sample
  EXPECT_EQ(center.actionMessage, "Se reinicio la busqueda de la ventana capturada.");
  EXPECT_TRUE(log.has(LogLevel::INFO, "V3.0.4 REPAIR: captura reiniciada."));
  EXPECT_TRUE(center.checked);
  EXPECT_EQ(center.items.size(), DiagnosticsCenter::kCheckCount);
}

// The panel's way: the render thread starts a check or a repair and goes on; the worker waits
// (each pause held until the test lets it through) and the first frame after it has ended puts
// the results in place.
TEST_F(DiagnosticsTest, TheRenderThreadNeverWaitsAndFindsTheResultsWhenTheWorkerHasEnded) {
  const auto framesUntil = [&](auto done) {
    for (int frame = 0; frame < 10'000'000 && !done(); ++frame) {
      center.collect();
      std::this_thread::yield();
    }
    return done();
  };
  probe.busyPerPause = 120'000;  // 10 %
  probe.holdPauses = true;
  capture.keyword = L"YouTube";
  center.initialize();

  ASSERT_TRUE(center.startChecks());
  ASSERT_TRUE(probe.waitUntilPausing());  // the worker in the CPU sample, the render thread free
  EXPECT_FALSE(center.startChecks());     // presses meanwhile start nothing
  EXPECT_FALSE(center.startRepair());
  EXPECT_FALSE(center.collect());
  EXPECT_FALSE(center.checked);
  probe.letPauseThrough();
  ASSERT_TRUE(framesUntil([&] { return !center.busy(); }));
  EXPECT_EQ(center.items.size(), DiagnosticsCenter::kCheckCount);
  EXPECT_EQ(row("CPU").detail, "Uso del proceso: 10.0%");
  EXPECT_EQ(center.durationMs, 120);

  // A repair: the window search is off for its pause only, then its check follows.
  ASSERT_TRUE(center.startRepair());
  ASSERT_TRUE(probe.waitUntilPausing());
  EXPECT_EQ(capture.keyword, L"");
  probe.letPauseThrough();
  ASSERT_TRUE(framesUntil([&] { return capture.keyword == L"YouTube"; }));
  EXPECT_EQ(center.actionMessage, "Se reinicio la busqueda de la ventana capturada.");
  probe.letPauseThrough();
  ASSERT_TRUE(framesUntil([&] { return !center.busy(); }));
  EXPECT_EQ(probe.pauses, (std::vector<uint32_t>{120, 60, 120}));

  // Shut-down during a repair's pause joins the worker and gives the window search back.
  ASSERT_TRUE(center.startRepair());
  probe.letPauseThrough();
  center.stop();
  EXPECT_FALSE(center.busy());
  EXPECT_EQ(capture.keyword, L"YouTube");
}

// The system's own readings inside this (non-game) process.
TEST_F(DiagnosticsTest, TheSystemReadingsGiveMeasuredRows) {
  SystemProbe::install(nullptr);
  zor::clock::setSource(nullptr);  // the real clock for the real 120 ms sample
  center.runChecks();
  EXPECT_EQ(row("ATS").status, Status::Warning);
  EXPECT_EQ(row("ATS").detail, "Proceso actual: test_diagnostics.exe");
  EXPECT_TRUE(std::regex_match(row("CPU").detail, std::regex(R"(Uso del proceso: \d+\.\d%)"))) << row("CPU").detail;
  EXPECT_GE(row("CPU").durationMs, 100);
  EXPECT_TRUE(std::regex_match(row("Memoria RAM").detail, std::regex(R"([1-9]\d* MB usados por ATS y el plugin)")))
      << row("Memoria RAM").detail;
  EXPECT_EQ(row("GPU").status, Status::Ok) << row("GPU").detail;
  EXPECT_TRUE(std::regex_match(row("Tiempo activo").detail, std::regex(R"(\d+ min)"))) << row("Tiempo activo").detail;
  EXPECT_TRUE(std::regex_match(center.lastCheck, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"))) << center.lastCheck;
}

}  // namespace
