// Calibration: while it is on, the GPS screens show the plugin's test pattern where the captured
// window would go (no captured frame is uploaded), so a player sees that the screen was found.
// One process-wide switch, read by the render thread's detours without a lock: taken from
// "ZorTabcastPlugin.ini" ([gps] calibration_mode) when the graphics core starts, switched by the
// player in the panel while the game runs.
#pragma once

#include <string>

namespace zor {

bool calibrationMode() noexcept;
// Stores the switch as it is (no log line, no file): the value read at start-up.
void storeCalibrationMode(bool on) noexcept;

// The player's switch (render thread). The same value again does nothing and returns true.
// A change takes effect at once, is logged with who made it ("panel") and is saved as
// [gps] calibration_mode = "1" / "0" in the settings file at path, written beside the old file
// and renamed over it. False when that save failed: the switch still holds until the game
// ends, the old file stays as it was and the failure is logged.
bool switchCalibrationMode(bool on, const std::wstring& path, const char* by);

// Render thread, once a frame: true once after calibration came back on, when the test pattern
// must replace the last captured picture in the plugin's textures.
bool takePatternRestore() noexcept;

}  // namespace zor
