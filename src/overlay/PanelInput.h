// The keyboard shortcuts the window procedure hands to the media controls while the panel is
// closed.
#pragma once

#include <windows.h>

namespace zor::overlay {

// True when the message was taken as a shortcut (the game must not see it).
bool handleShortcut(UINT message, WPARAM wParam, LPARAM lParam) noexcept;
// Focus lost: the keys taken as shortcuts are forgotten, so their key-up reaches the game.
void forgetShortcutKeys() noexcept;

}  // namespace zor::overlay
