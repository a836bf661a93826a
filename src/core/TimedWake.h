// A wait that ends when another thread wakes it or when its time is up, to a fraction of a
// millisecond. It waits on a high-resolution waitable timer where the system has one (Windows 10
// 1803 and later), so a short wait is not rounded up to the system timer's tick (15.6 ms unless
// some program in the session asked for a finer one); elsewhere on an ordinary waitable timer.
// One thread waits; any thread wakes. A wake with no one waiting ends the next wait at once.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zor {

class TimedWake {
 public:
  TimedWake();
  ~TimedWake();
  TimedWake(const TimedWake&) = delete;
  TimedWake& operator=(const TimedWake&) = delete;

  // False when the handles could not be made: the caller waits some other way.
  bool ready() const { return event_ && timer_; }
  // The waits end to a fraction of a millisecond; otherwise at the system timer's tick.
  bool highResolution() const { return event_ && highResolution_; }

  // Tests: the timers made from now on are ordinary ones, as on a system without the
  // high-resolution kind (false restores).
  static void refuseHighResolution(bool refuse) noexcept;

  // Returns on wake() or when timeoutNs have passed (rounded up to a millisecond if the timer
  // cannot be set); at once if the handles could not be made.
  void wait(uint64_t timeoutNs);
  void wake();

 private:
  HANDLE event_ = nullptr;  // auto-reset
  HANDLE timer_ = nullptr;
  bool highResolution_ = false;
};

}  // namespace zor
