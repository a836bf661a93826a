// What the overlay drives of the media sources: the per-frame work (start-up profile, pending
// auto start, smart capture) and what its shutdown resets, so that the next overlay start
// loads the settings and restores the profile again.
#pragma once

namespace zor::media {

// Every overlay frame, panel shown or not.
void frame();
// ConfigOverlay::shutdown.
void overlayShutdown();

}  // namespace zor::media
