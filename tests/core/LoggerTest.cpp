#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "core/Logger.h"
#include "support/ManualClock.h"

using zor::LogLevel;
using zor::Logger;

namespace {

constexpr const char* kCameraReturn = "V4.5.7 FAST SAFE CAMERA RETURN: salida confirmada tras 812 ms";
constexpr const char* kCameraReturnFriendly = "[ZorTabcast] Cambio de camara detectado | recuperacion del GPS iniciada.";

// The camera-return memory is process-wide; every clock starts an hour after the previous one
// so no test sees what another accepted.
uint64_t freshClockStartMs() {
  static uint64_t next = 10'000'000'000ull;
  next += 3'600'000ull;
  return next;
}

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Logger::instance().setSink([this](LogLevel level, const char* text) { delivered.emplace_back(level, text); });
  }
  void TearDown() override { Logger::instance().clearSink(); }

  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& d : delivered) out.push_back(d.second);
    return out;
  }

  std::vector<std::pair<LogLevel, std::string>> delivered;
};

TEST_F(LoggerTest, EveryLevelGetsThePrefixAndMessagesWithoutSinkAreLost) {
  Logger::instance().clearSink();
  zor::logInfo("antes del sink");
  EXPECT_FALSE(Logger::instance().hasSink());
  SetUp();
  zor::logInfo("uno");
  zor::logWarning("dos");
  zor::logError("tres");
  ASSERT_EQ(delivered.size(), 3u);
  EXPECT_EQ(delivered[0], std::make_pair(LogLevel::INFO, std::string("[ZorTabcast] uno")));
  EXPECT_EQ(delivered[1], std::make_pair(LogLevel::WARNING, std::string("[ZorTabcast] dos")));
  EXPECT_EQ(delivered[2], std::make_pair(LogLevel::ERROR, std::string("[ZorTabcast] tres")));
}

TEST_F(LoggerTest, InfoNoiseIsDroppedAnywhereInTheTextButWarningsAndErrorsPass) {
  const char* noise[] = {
      "CONTEXTO DEL DRAW", "primera llamada real", "primera llamada de Present", "VTables descubiertas",
      "bootstrap correcto", "contexto DirectX real adquirido", "textura GPU roja",
      "hooks de Present y PSSetShaderResources instalados", "HOOK PRISM ACTIVO", "PrismTextureQueueRedirector V",
      "DIAGNOSTICS: modulo inicializado", "patron visual", "patron directo preparado", "textura GPS registrada",
      "SRV del GPS registrado", "GpsTextureReplacer listo", "OVERLAY confirmada", "GPS MATCH: reemplazo aplicado",
      "malla del tablet confirmada", "GPS SRV USADO POR PIXEL SHADER", "CAPTURE STABILITY: GPS fuera de pantalla",
      "CAPTURE STABILITY: GPS visible", "APP PROFILE: perfil cargado", "PROFILES: administrador inicializado",
      "GpsTextureReplacer V1.5.0 inicializado", "textura de reemplazo lista"};
  for (const char* pattern : noise) {
    const std::string text = std::string("V9.9.9: antes ") + pattern + " despues";
    zor::logInfo(text);
    EXPECT_TRUE(delivered.empty()) << "not dropped: " << pattern;
    zor::logWarning(text);
    zor::logError(text);
    ASSERT_EQ(delivered.size(), 2u) << pattern;
    EXPECT_EQ(delivered[0].second, "[ZorTabcast] " + text);
    EXPECT_EQ(delivered[1].second, "[ZorTabcast] " + text);
    delivered.clear();
  }
  // The search is case-sensitive.
  zor::logInfo("contexto del draw en minusculas");
  EXPECT_EQ(texts(), std::vector<std::string>{"[ZorTabcast] contexto del draw en minusculas"});
}

TEST(FriendlyMessage, RowsApplyInOrderAndKeepTheTailAfterTheFirstBar) {
  const std::pair<const char*, const char*> cases[] = {
      {"V1.7.0: config cargada. window_title='YouTube', gps=0x0", "Configuracion del plugin cargada."},
      {"DX11 Core V4.5.4 Fixed SRV iniciado. Diagnóstico intensivo desactivado en producción.",
       "Motor grafico iniciado."},
      {"V2.0: APP LIBRARY: inicializada con 12 aplicaciones", "Biblioteca de aplicaciones lista."},
      {"SMART CAMERA RETURN: recuperacion armada", "Recuperacion automatica de camara activa."},
      {"SMART CAPTURE: ventana detectada | Spotify Premium", "Aplicacion detectada | Spotify Premium"},
      {"APP SETTINGS: configuracion guardada | VLC | fps=30", "Configuracion guardada | VLC | fps=30"},
      {"FIRST RUN: asistente completado | YouTube", "Configuracion inicial completada | YouTube"},
      {"SMART AUDIO: configuracion restaurada | Spotify | 35%", "Audio restaurado | Spotify | 35%"},
      {"[WindowCapture] Captura iniciada: 'YouTube' 1024x512", "Captura de ventana iniciada."},
      {"PERFORMANCE CORE: captura limitada a 30", "Modo rendimiento activo | captura limitada a 30 FPS."},
      {"LIVE CAPTURE: ventana seleccionada inicializada (Twitch)", "Transmision al GPS iniciada."},
      {"[WindowCapture] Primer frame copiado correctamente 1024x512", "Primer frame enviado correctamente al GPS."},
      {"DIAGNOSTICS: comprobacion terminada | 8/9 correctas", "Diagnostico completado | 8/9 correctas"},
      {"FAST SAFE CAMERA RETURN: salida confirmada", "Cambio de camara detectado | recuperacion del GPS iniciada."},
      {"GpsTextureReplacer V1.5.0 cerrado.", "Sistema de reemplazo GPS cerrado correctamente."},
      {"V1.1.0: DX11 Core detenido correctamente", "Motor grafico detenido correctamente; recursos GPU liberados."},
      // Earlier rows win over later ones.
      {"DX11 Core iniciado; config cargada.", "Configuracion del plugin cargada."},
      {"DX11 Core iniciado y detenido correctamente", "Motor grafico iniciado."},
      // Two-part conditions need both parts.
      {"DX11 Core preparado", "DX11 Core preparado"},
      {"GpsTextureReplacer abierto", "GpsTextureReplacer abierto"},
      // The tail starts after the first " | " of the whole text, even before the matched part.
      {"x | SMART AUDIO: configuracion restaurada | VLC", "Audio restaurado | SMART AUDIO: configuracion restaurada | VLC"},
      // Without the trailing " | " the tail rows do not match.
      {"SMART CAPTURE: ventana detectada", "SMART CAPTURE: ventana detectada"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(zor::friendlyMessage(in), out) << in;
}

TEST_F(LoggerTest, OnlyInfoIsRewritten) {
  zor::logInfo("V1.7.0: config cargada. window_title='YouTube', gps=0x0, calibration_mode=ON");
  zor::logWarning("V1.7.0: config cargada. window_title='YouTube'");
  zor::logError("[WindowCapture] Primer frame copiado correctamente");
  EXPECT_EQ(texts(), (std::vector<std::string>{"[ZorTabcast] Configuracion del plugin cargada.",
                                               "[ZorTabcast] V1.7.0: config cargada. window_title='YouTube'",
                                               "[ZorTabcast] [WindowCapture] Primer frame copiado correctamente"}));
}

TEST_F(LoggerTest, CameraReturnIsDeliveredAtMostOncePerTenSecondsMeasuredFromTheAcceptedOne) {
  zor::test::ManualClock clock(freshClockStartMs());
  auto deliveredAfter = [&](uint64_t advanceNs) {
    clock.advanceNs(advanceNs);
    const size_t before = delivered.size();
    zor::logInfo(kCameraReturn);
    return delivered.size() > before;
  };
  EXPECT_TRUE(deliveredAfter(0));                // accepted at t0
  EXPECT_FALSE(deliveredAfter(5'000'000'000));   // t0 + 5 s
  EXPECT_FALSE(deliveredAfter(4'999'999'999));   // t0 + 9.999999999 s
  EXPECT_TRUE(deliveredAfter(1));                // exactly t0 + 10 s; the window starts again
  EXPECT_FALSE(deliveredAfter(9'999'999'999));   // 10 s minus 1 ns after that
  EXPECT_TRUE(deliveredAfter(1));
  EXPECT_EQ(delivered.back().second, kCameraReturnFriendly);
  // Other INFO messages and the same text as a WARNING are not limited.
  delivered.clear();
  zor::logInfo("otro mensaje");
  zor::logWarning(kCameraReturn);
  EXPECT_EQ(texts(), (std::vector<std::string>{"[ZorTabcast] otro mensaje", std::string("[ZorTabcast] ") + kCameraReturn}));
}

TEST_F(LoggerTest, CameraReturnLostForWantOfASinkDoesNotStartTheQuietPeriod) {
  zor::test::ManualClock clock(freshClockStartMs());
  Logger::instance().clearSink();
  zor::logInfo(kCameraReturn);
  clock.advanceMs(1'000);
  SetUp();
  zor::logInfo(kCameraReturn);
  EXPECT_EQ(texts(), std::vector<std::string>{kCameraReturnFriendly});
}

TEST_F(LoggerTest, NoisyCameraReturnIsDroppedAsNoiseBeforeTheRateLimit) {
  zor::test::ManualClock clock(freshClockStartMs());
  zor::logInfo(std::string(kCameraReturn) + " OVERLAY confirmada");
  clock.advanceMs(1'000);
  zor::logInfo(kCameraReturn);  // the noise above did not use up the allowance
  EXPECT_EQ(texts(), std::vector<std::string>{kCameraReturnFriendly});
}

TEST_F(LoggerTest, ThrowingSinkIsContainedAndReplacingTheSinkDropsTheOldOne) {
  int oldCalls = 0;
  Logger::instance().setSink([&](LogLevel, const char*) {
    ++oldCalls;
    throw std::runtime_error("consola rota");
  });
  EXPECT_NO_THROW(zor::logInfo("uno"));
  EXPECT_EQ(oldCalls, 1);
  SetUp();
  zor::logInfo("dos");
  EXPECT_EQ(oldCalls, 1);
  EXPECT_EQ(texts(), std::vector<std::string>{"[ZorTabcast] dos"});
}

TEST(LoggerThreads, DeliveriesFromManyThreadsNeverOverlap) {
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> count{0};
  Logger::instance().setSink([&](LogLevel, const char*) {
    if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
    std::this_thread::yield();
    count.fetch_add(1);
    inside.fetch_sub(1);
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 300; ++i) zor::logInfo("mensaje de hilo");
    });
  for (auto& thread : threads) thread.join();
  Logger::instance().clearSink();
  EXPECT_EQ(count.load(), 1200);
  EXPECT_EQ(overlaps.load(), 0);
}

}  // namespace
