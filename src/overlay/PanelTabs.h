// The panel's tabs and sections, drawn inside the panel window. Internal to the overlay.
#pragma once

#include <cstdint>

namespace zor::overlay {

void drawPlaybackTab();
void drawProfilesTab();
void drawApplicationsTab();
void drawDiagnosticsTab();

// The footer's GPS chip: a substitution at most 1800 ms ago (and not in the future).
bool gpsRecentlyReplaced(uint64_t lastReplacementTick, uint64_t nowMs) noexcept;

}  // namespace zor::overlay
