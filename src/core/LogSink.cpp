#include "core/LogSink.h"

#include <array>
#include <string_view>

#include "core/LogFile.h"

namespace zor {
namespace {

// INFO texts that stay out of both the console and the file.
constexpr std::array<std::string_view, 10> kQuietInfo = {
    "PRISM PATH #",
    "BINDING QUEUE:",
    "GPS PATH (diagnostico amplio)",
    "TABLET_GPS PATH DETECTADA",
    "HOOK PRISM ACTIVO",
    "DX11 Core V4.5.4 Fixed SRV iniciado",
    "V1.8.0: textura de reemplazo recreada",
    "Primer frame enviado correctamente al GPS",
    "PROFILES: administrador inicializado",
    "PROFILES: perfil guardado",
};

}  // namespace

void LogSink::operator()(LogLevel level, const char* text) const {
  if (!text) return;
  const std::string_view view(text);
  scs_log_type_t type = SCS_LOG_TYPE_message;
  std::string_view levelText = "INFO";
  if (level == LogLevel::WARNING) {
    type = SCS_LOG_TYPE_warning;
    levelText = "WARNING";
  } else if (level == LogLevel::ERROR) {
    type = SCS_LOG_TYPE_error;
    levelText = "ERROR";
  } else {
    for (std::string_view pattern : kQuietInfo)
      if (view.find(pattern) != std::string_view::npos) return;
  }
  if (console_) console_(type, text);
  LogFile::instance().writeLine(levelText, view);
}

}  // namespace zor
