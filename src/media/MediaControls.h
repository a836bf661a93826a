// Media controls: previous / play-pause / next posted to the captured window as application
// commands, at most one command every 600 ms from any thread, and the keyboard shortcuts (the
// player's keys, core/KeyBindings.h: by default Ctrl+B/P/N, Ctrl+Up/Down/M) that the game
// window's procedure hands over while the panel is closed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace zor {

inline constexpr uint32_t kCommandPreviousTrack = 12;  // APPCOMMAND_MEDIA_PREVIOUSTRACK, "anterior"
inline constexpr uint32_t kCommandPlayPause = 14;      // APPCOMMAND_MEDIA_PLAY_PAUSE, "pausa_reanudar"
inline constexpr uint32_t kCommandNextTrack = 11;      // APPCOMMAND_MEDIA_NEXTTRACK, "siguiente"

// Posts WM_APPCOMMAND with command to the window's top-level window. False when refused
// (within 600 ms of the previous command, which a refused or failed command also restarts),
// when the window is gone or when the message could not be posted.
bool sendMediaCommand(HWND window, uint32_t command, std::string_view action);

enum class ShortcutResult { NotHandled, Consumed };

// The window procedure's hand-over, for every message while the overlay is up and its panel
// closed. Consumed: return 0 and do not pass the message on. Window thread; a key-down that is
// not a shortcut costs a few comparisons (no window search, no COM).
ShortcutResult handleMediaShortcut(UINT message, WPARAM wParam, LPARAM lParam);
// The volume shortcuts set the volume at once; what they leave is saved on the render thread,
// where the application library lives: every frame, panel shown or not.
void saveVolumeFromShortcuts();
// Forgets the keys taken as shortcuts (also done on WM_KILLFOCUS).
void clearConsumedKeys() noexcept;

// Tests: forget the last command time.
void resetMediaCommandGuard() noexcept;

}  // namespace zor
