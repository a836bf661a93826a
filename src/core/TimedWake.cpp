#include "core/TimedWake.h"

#include <algorithm>
#include <atomic>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace zor {

namespace {
std::atomic<bool> g_refuseHighResolution{false};
}

void TimedWake::refuseHighResolution(bool refuse) noexcept { g_refuseHighResolution.store(refuse); }

TimedWake::TimedWake() {
  event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!g_refuseHighResolution.load())
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  highResolution_ = timer_ != nullptr;
  if (!timer_) timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

TimedWake::~TimedWake() {
  if (timer_) CloseHandle(timer_);
  if (event_) CloseHandle(event_);
}

void TimedWake::wait(uint64_t timeoutNs) {
  if (!ready()) return;
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>((timeoutNs + 99) / 100);  // relative, in 100 ns units
  if (due.QuadPart == 0) due.QuadPart = -1;
  const auto milliseconds = [](uint64_t ns) {
    return static_cast<DWORD>(std::min<uint64_t>(ns / 1'000'000, INFINITE - 1));
  };
  if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(event_, milliseconds(timeoutNs + 999'999));  // at the tick's precision, but no spinning
    return;
  }
  const HANDLE handles[2] = {event_, timer_};
  // The timer ends the wait; the limit only guards against one that never fires.
  WaitForMultipleObjects(2, handles, FALSE, milliseconds(timeoutNs + 100'000'000));
  CancelWaitableTimer(timer_);
}

void TimedWake::wake() {
  if (event_) SetEvent(event_);
}

}  // namespace zor
