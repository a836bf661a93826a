// The panel's tabs and sections, drawn inside the panel window. Internal to the overlay.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "media/AppLibrary.h"

namespace zor::overlay {

void drawPlaybackTab();
void drawProfilesTab();
void drawApplicationsTab();
void drawDiagnosticsTab();
void drawKeysTab();
// The keys tab waits for the player's new combination: the panel's own key does not toggle.
bool waitingForKeys() noexcept;
// The panel was hidden: the wait ends.
void stopWaitingForKeys() noexcept;
// The first two sections of the Playback tab.
void drawMediaControls();
void drawSmartAudio();

// The "-10 %" and "+10 %" buttons: 10 less with anything below 1 becoming 0; 10 more up to 100.
int32_t volumeStepDown(int32_t volume) noexcept;
int32_t volumeStepUp(int32_t volume) noexcept;

// An application card's window line: the text whole up to 58 bytes, else its first 55 bytes
// (never half a character) and "...".
std::string cardWindowText(std::string_view text);
// The application editor's values for a stored application: the resolution row whose size it
// has (else Full HD), the FPS row of its rate (else 30), the volume within 0..100, auto-start.
struct AppEditorValues {
  int32_t resolutionIndex = 3;
  int32_t fpsIndex = 1;
  int32_t volume = 80;
  bool autoStart = false;
};
AppEditorValues appEditorValues(const AppEntry& app);
// Overlay shut-down: the cached window list goes.
void resetApplicationsTabForShutdown();
// Overlay shut-down: a report waiting for its check is dropped.
void resetDiagnosticsTabForShutdown();
// Overlay shut-down: a wait for keys ends, its messages go.
void resetKeysTabForShutdown();

// The footer's GPS chip: a substitution at most 1800 ms ago (and not in the future).
bool gpsRecentlyReplaced(uint64_t lastReplacementTick, uint64_t nowMs) noexcept;

}  // namespace zor::overlay
