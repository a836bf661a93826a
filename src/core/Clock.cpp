#include "core/Clock.h"

#include <windows.h>

#include <atomic>
#include <chrono>

namespace zor::clock {
namespace {
std::atomic<const Source*> g_source{nullptr};
}

void setSource(const Source* source) { g_source.store(source, std::memory_order_release); }

uint64_t tickMs() {
  const Source* s = g_source.load(std::memory_order_acquire);
  if (s) return s->tickMs(s->self);
  return GetTickCount64();
}

uint64_t steadyNs() {
  const Source* s = g_source.load(std::memory_order_acquire);
  if (s) return s->steadyNs(s->self);
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace zor::clock
