// The game's raw mouse input: the simulator registers for the mouse's raw input on the game
// window and reads every record the way games do, either with GetRawInputData for each
// WM_INPUT message its loop takes (before dispatching it) or with GetRawInputBuffer once a
// frame. It sums what the records report, so a scenario can tell whether the mouse reached
// the game.
#pragma once

#include <windows.h>

#include <string>

namespace zor::sim {

enum class RawMode { Off, Data, Buffer };

struct RawTotals {
  unsigned records = 0;       // mouse records read
  long long motion = 0;       // sum of |lLastX| + |lLastY|
  unsigned buttonRecords = 0;  // records with button flags or raw buttons set
};

class RawMouse {
 public:
  bool enable(HWND window, RawMode mode, std::string& error);
  RawMode mode() const { return mode_; }
  // A WM_INPUT message the loop took (in buffer mode, one that came after the buffer was read).
  void onInputMessage(const MSG& msg);
  // Buffer mode: reads the records waiting in the buffer.
  void readBuffer();
  // What was read since the last call, and a fresh start.
  RawTotals take();

 private:
  void add(const RAWINPUT& record);
  RawMode mode_ = RawMode::Off;
  RawTotals totals_;
};

RawMouse& rawMouse();
std::string describe(const RawTotals& totals);

}  // namespace zor::sim
