// One seam for time: GetTickCount64 milliseconds for coarse timers and throttles, steady
// nanoseconds for deadlines. Tests install a manual source; production reads the system.
#pragma once

#include <cstdint>

namespace zor::clock {

struct Source {
  uint64_t (*tickMs)(void* self);
  uint64_t (*steadyNs)(void* self);
  void* self;
};

// Installs a source (nullptr restores the system clock). Not meant to be swapped while
// other threads are reading time; tests install it before they start the code under test.
void setSource(const Source* source);

uint64_t tickMs();    // GetTickCount64()
uint64_t steadyNs();  // monotonic nanoseconds

}  // namespace zor::clock
