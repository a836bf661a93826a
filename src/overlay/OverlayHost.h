// What the overlay's host shares between the render thread (the frame), the game window's
// thread (the window procedure) and whichever thread shuts it down. Internal to the overlay.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>

namespace zor::overlay {

struct Host {
  std::atomic<bool> initialized{false};
  std::atomic<HWND> gameWindow{nullptr};
  std::atomic<bool> panelVisible{false};
  std::atomic<bool> wizardVisible{false};
  // Set when a shut-down that had to leave the window procedure in place gave the game its input
  // back: the procedure then hands every message to the game, media shortcuts included.
  std::atomic<bool> shortcutsOff{false};
  // ImGui's context is single-threaded: the window procedure queues input into it while the
  // render thread starts frames, and shut-down destroys it. This lock is taken only while the
  // panel is shown, around the queueing and the start of a frame (never around drawing, which
  // may send messages to the game window), and at creation and destruction. Recursive: the
  // backend itself sends messages to the window it is handling one for (SetCapture).
  std::recursive_mutex imguiMutex;
};

Host& host() noexcept;

// A key's state as the frame polls it (GetAsyncKeyState, or a test's source): high bit down.
SHORT polledKeyState(int virtualKey) noexcept;

// The window procedure put in front of the game window's own.
LRESULT CALLBACK OverlayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Puts OverlayWndProc in front of the window's procedure, or finds it still there from an
// earlier run (see below). False when the window procedure could not be replaced.
bool subclassGameWindow(HWND window) noexcept;

// Called every frame: when the procedure on top of the window changed since the last look, asks
// the chain whether ours is still in it, and puts ours back on top when somebody's restore took
// it out (the panel would otherwise get no input and the game all of it). Ours goes back on top
// a few times per window at most (Rejoined the first time, RejoinedAgain after it, GaveUp when
// a module keeps taking the top); a message that comes back to ours never goes round twice.
enum class ChainCheck { InChain, Rejoined, RejoinedAgain, Lost, GaveUp, NotSubclassed };
ChainCheck keepInWindowChain(HWND window) noexcept;

enum class Unsubclass {
  Restored,     // ours was on top: the previous procedure is back
  LeftInChain,  // another module put its procedure on top of ours after us: the chain is left
                // alone and ours keeps forwarding to the previous one
  NotSubclassed,
};
Unsubclass unsubclassGameWindow(HWND window) noexcept;

// Keeps the module that holds OverlayWndProc loaded until the process ends. True when pinned.
bool pinOverlayModule() noexcept;

}  // namespace zor::overlay
