// Another module's window procedure (a second overlay, a recorder) put on top of the game
// window's, the way such modules do it: SetWindowLongPtr, keep the old one, forward to it.
#pragma once

#include <windows.h>

namespace zor::sim {

// Puts the procedure on top; false when one is already there or the call failed. A swallowing
// one passes private messages (registered ones) to DefWindowProc instead of forwarding them,
// and takes the top back whenever keepChainedWndProcOnTop finds another procedure there.
bool addChainedWndProc(HWND window, bool swallowing = false);
// Once a frame: a swallowing procedure that lost the top takes it back.
void keepChainedWndProcOnTop(HWND window);
// The window it was put on is gone: nothing is left to remove.
void forgetChainedWndProc();
// Puts back the procedure it found; false when none was added.
bool removeChainedWndProc(HWND window);
// Whether the chained procedure is the window's current one (nothing was put on top of it since).
bool chainedWndProcOnTop(HWND window);
// Messages the chained procedure has seen.
unsigned long long chainedWndProcMessages();

}  // namespace zor::sim
