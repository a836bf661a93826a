// What the entry points start and stop: the graphics core and the texture-queue redirector.
#include "plugin/Lifecycle.h"

#include "dx11/Dx11Core.h"
#include "gps/PrismTextureQueueRedirector.h"

namespace zor::lifecycle {

bool startGraphics() { return Dx11Core::instance().initialize(); }

void stopGraphics() { Dx11Core::instance().shutdown(); }

bool startRedirector() { return PrismTextureQueueRedirector::instance().start(); }

void stopRedirector() { PrismTextureQueueRedirector::instance().shutdown(); }

}  // namespace zor::lifecycle
