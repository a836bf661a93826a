// Many ordinary windows on the desktop, the way a player's taskbar may be full: visible,
// titled "Ventana N", owned by a thread of their own that answers their messages, placed
// beside the game window so they do not cover it.
#pragma once

#include <string>

namespace zor::sim {

// Opens count more windows; false (with error) when one could not be made.
bool openPlainWindows(int count, std::string& error);
int plainWindowCount();

}  // namespace zor::sim
