// Counters of the hook engine for tests and diagnostics (not part of the MinHook API).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::hook {

struct EngineStats {
  uint64_t threadsMovedToTrampolines = 0;  // enable: threads caught inside the moved bytes
  uint64_t threadsMovedToTargets = 0;      // disable/remove: threads caught inside a trampoline
  size_t hookCount = 0;
  size_t memoryBlocks = 0;                 // 64 KB trampoline blocks currently reserved
};

EngineStats engineStats();

}  // namespace zor::hook
