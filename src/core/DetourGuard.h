// Bookkeeping shared by every detour of ours:
// - a per-thread depth of detour bodies (and of plugin regions that call D3D11 themselves), so
//   that the plugin's own calls pass straight through the detours they reach;
// - from the same per-thread depths, whether any thread is still executing our code, so that
//   shut-down can wait for that after the hooks are disabled.
// The depth lives in a TLS slot read and written directly in the thread environment block: the
// common path is one load and two stores, no locked instruction, no lock, no allocation.
#pragma once

#include <windows.h>
#include <intrin.h>

#include <atomic>
#include <cstdint>

namespace zor::detour {

namespace internal {
// TLS slot of the depth; TLS_OUT_OF_INDEXES when none could be reserved.
extern DWORD g_tlsSlot;
// Only for a slot beyond the 64 that live in the thread environment block: the depth then
// goes through TlsGetValue/TlsSetValue and the threads inside are counted here as well.
extern std::atomic<int64_t> g_slowInFlight;

constexpr unsigned long kTlsSlotsOffset = 0x1480;  // TEB.TlsSlots on x64

uintptr_t slowEnter() noexcept;
void slowLeave(uintptr_t depth) noexcept;
}  // namespace internal

// Entered first thing by every detour; nested() is true when this thread is already inside one
// of our detours or inside plugin code that marked itself with OwnCallsScope.
class Scope {
 public:
  Scope() noexcept {
    const DWORD slot = internal::g_tlsSlot;
    if (slot < 64) {
      depth_ = static_cast<uintptr_t>(__readgsqword(internal::kTlsSlotsOffset + slot * 8));
      __writegsqword(internal::kTlsSlotsOffset + slot * 8, depth_ + 1);
    } else {
      depth_ = internal::slowEnter();
    }
  }
  ~Scope() {
    const DWORD slot = internal::g_tlsSlot;
    if (slot < 64) {
      __writegsqword(internal::kTlsSlotsOffset + slot * 8, depth_);
    } else {
      internal::slowLeave(depth_);
    }
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  bool nested() const noexcept { return depth_ != 0; }

 private:
  uintptr_t depth_;
};

// Plugin code that calls D3D11 methods outside a detour (on any thread) wraps them in this, so
// that our own detours do not treat the calls as the game's.
using OwnCallsScope = Scope;

// Depth of detour bodies (and own-call regions) open on the calling thread.
uintptr_t threadDepth() noexcept;
// Number of other threads of the process currently inside a detour of ours.
size_t threadsInside() noexcept;
// Waits until no thread other than the caller is inside a detour of ours, polling about once a
// millisecond for at most maxPolls polls. Returns false when the bound was hit.
bool waitUntilIdle(uint32_t maxPolls) noexcept;

}  // namespace zor::detour
