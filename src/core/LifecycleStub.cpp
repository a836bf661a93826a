// What the entry points start and stop. The graphics core is still provisional: it reads and
// reports the plugin configuration without installing any hook.
#include <atomic>

#include "core/GameState.h"
#include "core/Lifecycle.h"
#include "core/Logger.h"
#include "core/PluginConfig.h"
#include "gps/PrismTextureQueueRedirector.h"

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

bool startRedirector() { return PrismTextureQueueRedirector::instance().start(); }

void stopRedirector() { PrismTextureQueueRedirector::instance().shutdown(); }

}  // namespace zor::lifecycle
