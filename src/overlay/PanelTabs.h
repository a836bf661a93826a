// The panel's tabs and sections, drawn inside the panel window. Internal to the overlay.
#pragma once

#include <cstdint>

namespace zor::overlay {

void drawPlaybackTab();
void drawProfilesTab();
void drawApplicationsTab();
void drawDiagnosticsTab();
// The first two sections of the Playback tab.
void drawMediaControls();
void drawSmartAudio();

// The "-10 %" and "+10 %" buttons: 10 less with anything below 1 becoming 0; 10 more up to 100.
int32_t volumeStepDown(int32_t volume) noexcept;
int32_t volumeStepUp(int32_t volume) noexcept;

// The footer's GPS chip: a substitution at most 1800 ms ago (and not in the future).
bool gpsRecentlyReplaced(uint64_t lastReplacementTick, uint64_t nowMs) noexcept;

}  // namespace zor::overlay
