// Provisional graphics core and redirector: the graphics core reads and reports the plugin
// configuration without installing any hook, and the redirector never activates, so start-up
// takes the shader-based path.
#include <atomic>

#include "core/GameState.h"
#include "core/Lifecycle.h"
#include "core/Logger.h"
#include "core/PluginConfig.h"

namespace zor::lifecycle {
namespace {
std::atomic<bool> g_graphicsStarted{false};
PluginConfig g_config;
}  // namespace

bool startGraphics() {
  if (g_graphicsStarted.exchange(true)) return true;
  gameState().stateTick.store(0);
  ensureConfigFolder();
  g_config = loadPluginConfig(configFilePath(L"ZorTabcastPlugin.ini"));
  logInfo(configurationLine(g_config));
  logInfo("DX11 Core V4.5.4 Fixed SRV iniciado. Diagnóstico intensivo desactivado en producción.");
  return true;
}

void stopGraphics() {
  if (!g_graphicsStarted.exchange(false)) return;
  gameState().stateTick.store(0);
  logInfo("Motor grafico detenido correctamente; recursos GPU liberados.");
}

bool startRedirector() { return false; }

void stopRedirector() {}

}  // namespace zor::lifecycle
