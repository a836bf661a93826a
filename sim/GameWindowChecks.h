// What the plugin leaves of the game's own state, seen from the game: a thread of the game held
// inside the game window's procedure (as a window thread in a modal loop is), the mouse and key
// messages that reach the game window's own procedure, and the render targets the game finds
// bound after its Present.
#pragma once

#include <windows.h>

#include <string>

namespace zor::sim {

// The message a held thread sends through the window's procedure chain; the game's own
// procedure answers it by staying for wParam milliseconds.
constexpr UINT kHoldWindowProcMessage = WM_APP + 0x2E1;
LRESULT stayInsideWindowProcedure(WPARAM ms);
// Starts a thread of the game that calls the window's procedure (the chain as it stands now)
// with that message, and returns once the thread is inside the game's own procedure.
bool holdWindowProcedure(HWND window, unsigned ms, std::string& error);

// The message the game's own procedure answers by running the action set here (the game
// shutting the plugin down and unloading it from inside its window procedure).
constexpr UINT kActInWindowProcMessage = WM_APP + 0x2E2;
using WindowProcAction = void (*)(void* context);
void setWindowProcAction(WindowProcAction action, void* context);
LRESULT actInsideWindowProcedure();

// Counts a message that reached the game window's own procedure.
void countGameWindowMessage(UINT message);
unsigned long long gameWindowMouseMessages();
unsigned long long gameWindowKeyMessages();

}  // namespace zor::sim
