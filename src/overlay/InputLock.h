// The input lock: while the panel is shown, the game must not turn the camera or steer with the
// mouse the player uses on the panel. Three user32 functions are hooked: SetCursorPos does
// nothing, and the mouse records GetRawInputData and GetRawInputBuffer hand the game report no
// movement and no buttons. Keyboard records are left alone.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zor {

// Mouse records are zeroed only while this is set (the panel is shown) and the panel was drawn
// within the last kInputLockHoldMs (three quarters of a second, so a slow frame of a loaded game
// does not let go of it): a panel that is no longer drawn (the game's window gone or
// minimised, no Present) holds nothing. panelDrawn() renews the hold each frame it is drawn.
constexpr uint64_t kInputLockHoldMs = 750;
void setInputLocked(bool locked) noexcept;
void panelDrawn() noexcept;
bool inputLocked() noexcept;

// Clears the buttons and the relative movement of a RAWINPUT mouse record of `bytes` bytes;
// records of another type or too short to hold those fields are left alone.
void zeroRawMouseRecord(void* record, size_t bytes) noexcept;
// The same for `count` records packed as GetRawInputBuffer returns them (each record starts at
// the previous one plus its size rounded up to 8 bytes) within `bytes` bytes of buffer.
void zeroRawMouseRecords(void* buffer, uint32_t count, size_t bytes) noexcept;

struct InputLockHooks {
  bool setCursorPos = false;
  bool getRawInputData = false;
  bool getRawInputBuffer = false;
  // The lock holds when the cursor cannot be moved and at least one way of reading raw input
  // is covered.
  bool complete() const noexcept { return setCursorPos && (getRawInputData || getRawInputBuffer); }
};

// Creates and enables the three hooks through the hook engine (whose lease the caller holds).
// A hook counts as installed only when both its creation and its enabling succeeded.
InputLockHooks installInputLockHooks() noexcept;
// Switches the installed hooks off; no new call enters a detour afterwards.
void disableInputLockHooks() noexcept;
// Removes the hooks (after disableInputLockHooks and once no thread is inside a detour).
void removeInputLockHooks() noexcept;
InputLockHooks installedInputLockHooks() noexcept;

// The detours, with the signatures of the functions they stand for.
BOOL WINAPI SetCursorPosDetour(int x, int y);
UINT WINAPI GetRawInputDataDetour(HRAWINPUT input, UINT command, LPVOID data, PUINT size, UINT headerSize);
UINT WINAPI GetRawInputBufferDetour(PRAWINPUT data, PUINT size, UINT headerSize);

}  // namespace zor
