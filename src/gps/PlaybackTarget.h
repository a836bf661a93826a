// Which GPS screen receives the picture: the tablet accessory or the truck's own dashboard
// screen. One process-wide value, read by the render thread's detours without a lock.
#pragma once

#include <cstdint>

namespace zor {

enum PlaybackTarget : uint32_t { kTargetTablet = 0, kTargetDashboard = 1 };

PlaybackTarget playbackTarget() noexcept;
// Stores the target as it is (no log line, no file).
void storePlaybackTarget(PlaybackTarget target) noexcept;

}  // namespace zor
