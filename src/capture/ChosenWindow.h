// The window chosen as the source, resolved once when it is chosen: the window, its process and
// that process's start time, and the program it shows. Whatever uses the source (playback, the
// audio lookup, the application library, the capture engine) takes this value as it is and asks
// the system nothing more about it; the window's title is for the panel and the settings files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zor {

struct ChosenWindow {
  HWND window = nullptr;
  DWORD processId = 0;        // the window's own process
  uint64_t processStart = 0;  // its creation time (FILETIME units); 0 when it could not be read
  std::wstring program;       // lower-case executable name of the program it shows (a store
                              // app's frame: its content's); empty when unknown
  bool operator==(const ChosenWindow&) const = default;
};

// The one look-up of a window: its process, start time and program. Null gives the empty value.
ChosenWindow resolveChosenWindow(HWND window);
// The window still exists and belongs to the same process: the same id started at the same time
// (a handle or a process id the system hands out again later does not count).
bool isChosenWindowAlive(const ChosenWindow& chosen);
// A process's creation time (FILETIME units), or 0.
uint64_t processStartTime(DWORD processId);

}  // namespace zor
