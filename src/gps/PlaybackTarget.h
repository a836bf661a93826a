// Which GPS screen receives the picture: the tablet accessory or the truck's own dashboard
// screen. One process-wide value, read by the render thread's detours without a lock, switched
// by the panel and restored from "ZorTabcastPlugin.ini" ([gps_output] mode).
#pragma once

#include <cstdint>
#include <string>

#include "core/GameState.h"

namespace zor {

enum PlaybackTarget : uint32_t { kTargetTablet = 0, kTargetDashboard = 1 };

PlaybackTarget playbackTarget() noexcept;
// Stores the target as it is (no log line, no file).
void storePlaybackTarget(PlaybackTarget target) noexcept;

// Switches the target (render thread: the panel, and the restore at context acquisition).
// The same target again does nothing; a change clears the surgical once-flag, stamps the
// state tick and logs the new target. Any value other than the dashboard means the tablet.
void setPlaybackTarget(PlaybackTarget target, GameState& state = gameState());

// [gps_output] mode of the settings file at path: the dashboard for 1, the tablet for anything
// else (missing file, key or text included).
PlaybackTarget readSavedPlaybackTarget(const std::wstring& path);
// Writes [gps_output] mode = "1" (dashboard) or "0" (tablet) into a copy of the file renamed
// over it (ini::updateKeys); false, a WARNING and the old file as it was when that fails.
bool savePlaybackTarget(const std::wstring& path, PlaybackTarget target);

}  // namespace zor
