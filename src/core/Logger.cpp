#include "core/Logger.h"

#include <array>

#include "core/Clock.h"

namespace zor {
namespace {

constexpr std::string_view kPrefix = "[ZorTabcast] ";

// Technical INFO texts that only matter while developing; they never reach the player.
constexpr std::array<std::string_view, 26> kInfoNoise = {
    "CONTEXTO DEL DRAW",
    "primera llamada real",
    "primera llamada de Present",
    "VTables descubiertas",
    "bootstrap correcto",
    "contexto DirectX real adquirido",
    "textura GPU roja",
    "hooks de Present y PSSetShaderResources instalados",
    "HOOK PRISM ACTIVO",
    "PrismTextureQueueRedirector V",
    "DIAGNOSTICS: modulo inicializado",
    "patron visual",
    "patron directo preparado",
    "textura GPS registrada",
    "SRV del GPS registrado",
    "GpsTextureReplacer listo",
    "OVERLAY confirmada",
    "GPS MATCH: reemplazo aplicado",
    "malla del tablet confirmada",
    "GPS SRV USADO POR PIXEL SHADER",
    "CAPTURE STABILITY: GPS fuera de pantalla",
    "CAPTURE STABILITY: GPS visible",
    "APP PROFILE: perfil cargado",
    "PROFILES: administrador inicializado",
    "GpsTextureReplacer V1.5.0 inicializado",
    "textura de reemplazo lista",
};

constexpr std::string_view kCameraReturn = "FAST SAFE CAMERA RETURN: salida confirmada";
// At most one camera-return message per 10 s.
constexpr uint64_t kCameraReturnQuietNs = 9'999'999'999ull;

// One rewrite rule: the text contains `first` (and `second` when given). With `withTail`, the
// result is `replacement` followed by everything after the first " | " of the whole text.
struct Rewrite {
  std::string_view first;
  std::string_view second;
  std::string_view replacement;
  bool withTail;
};

// Tried in order; the first matching row decides.
constexpr std::array<Rewrite, 16> kRewrites = {{
    {"config cargada.", {}, "Configuracion del plugin cargada.", false},
    {"DX11 Core", "iniciado", "Motor grafico iniciado.", false},
    {"APP LIBRARY: inicializada", {}, "Biblioteca de aplicaciones lista.", false},
    {"SMART CAMERA RETURN: recuperacion", {}, "Recuperacion automatica de camara activa.", false},
    {"SMART CAPTURE: ventana detectada | ", {}, "Aplicacion detectada | ", true},
    {"APP SETTINGS: configuracion guardada | ", {}, "Configuracion guardada | ", true},
    {"FIRST RUN: asistente completado | ", {}, "Configuracion inicial completada | ", true},
    {"SMART AUDIO: configuracion restaurada | ", {}, "Audio restaurado | ", true},
    {"[WindowCapture] Captura iniciada", {}, "Captura de ventana iniciada.", false},
    {"PERFORMANCE CORE: captura limitada", {}, "Modo rendimiento activo | captura limitada a 30 FPS.", false},
    {"LIVE CAPTURE: ventana seleccionada inicializada", {}, "Transmision al GPS iniciada.", false},
    {"[WindowCapture] Primer frame copiado correctamente", {}, "Primer frame enviado correctamente al GPS.", false},
    {"DIAGNOSTICS: comprobacion terminada | ", {}, "Diagnostico completado | ", true},
    {kCameraReturn, {}, "Cambio de camara detectado | recuperacion del GPS iniciada.", false},
    {"GpsTextureReplacer", "cerrado.", "Sistema de reemplazo GPS cerrado correctamente.", false},
    {"DX11 Core", "detenido correctamente", "Motor grafico detenido correctamente; recursos GPU liberados.", false},
}};

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool isNoise(std::string_view text) {
  for (std::string_view pattern : kInfoNoise)
    if (contains(text, pattern)) return true;
  return false;
}

// Rate-limit memory: the last accepted camera-return message (logger mutex held).
bool g_cameraReturnSeen = false;
uint64_t g_cameraReturnNs = 0;

bool acceptCameraReturn() {
  const uint64_t now = clock::steadyNs();
  if (g_cameraReturnSeen && now - g_cameraReturnNs <= kCameraReturnQuietNs) return false;
  g_cameraReturnSeen = true;
  g_cameraReturnNs = now;
  return true;
}

// Appends the user-facing form of an INFO text (the text itself when no row applies).
void appendFriendly(std::string& out, std::string_view text) {
  for (const Rewrite& rule : kRewrites) {
    if (!contains(text, rule.first)) continue;
    if (!rule.second.empty() && !contains(text, rule.second)) continue;
    out.append(rule.replacement);
    if (rule.withTail) {
      const size_t bar = text.find(" | ");
      if (bar != std::string_view::npos) out.append(text.substr(bar + 3));
    }
    return;
  }
  out.append(text);
}

}  // namespace

std::string friendlyMessage(std::string_view text) {
  std::string out;
  appendFriendly(out, text);
  return out;
}

Logger& Logger::instance() {
  static Logger logger;
  return logger;
}

void Logger::log(LogLevel level, std::string_view text) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sink_) return;
    if (level == LogLevel::INFO) {
      if (isNoise(text)) return;
      if (contains(text, kCameraReturn) && !acceptCameraReturn()) return;
    }
    // One allocation: the prefix and the (rewritten) text never need more than this.
    std::string line;
    line.reserve(kPrefix.size() + text.size() + 64);
    line.append(kPrefix);
    if (level == LogLevel::INFO)
      appendFriendly(line, text);
    else
      line.append(text);
    sink_(level, line.c_str());
  } catch (...) {
    // The message is dropped; logging never fails its caller.
  }
}

void Logger::setSink(Sink sink) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = nullptr;  // the old sink goes before the new one takes its place
    sink_ = std::move(sink);
  } catch (...) {
  }
}

void Logger::clearSink() noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = nullptr;
  } catch (...) {
  }
}

bool Logger::hasSink() noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<bool>(sink_);
  } catch (...) {
    return false;
  }
}

}  // namespace zor
