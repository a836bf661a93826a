// What plugin start-up and shut-down drive besides the log: the graphics core and the
// texture-queue redirector.
#pragma once

namespace zor::lifecycle {

// Starts the graphics core; false when it cannot start (the plugin start then fails).
bool startGraphics();
void stopGraphics();
// Starts the texture-queue redirector; true only when its engine hook is active.
bool startRedirector();
void stopRedirector();

}  // namespace zor::lifecycle
