// Bookkeeping shared by every detour of ours:
// - a process-wide count of detour bodies in flight, so shut-down can wait until no thread is
//   still executing our code after the hooks are disabled;
// - a per-thread depth, so that D3D11 calls the plugin makes itself (inside a detour, or inside a
//   region marked with OwnCallsScope) pass straight through the detours they reach.
// The common path is one locked add, one TLS read and one TLS write: no lock, no allocation.
#pragma once

#include <windows.h>
#include <intrin.h>

#include <atomic>
#include <cstdint>

namespace zor::detour {

namespace internal {
extern std::atomic<int64_t> g_inFlight;
extern DWORD g_tlsSlot;  // TLS_OUT_OF_INDEXES when none could be reserved

// TlsGetValue/TlsSetValue would clear or set the game's last-error value; the first 64 slots
// live directly in the thread environment block, so read and write them there.
inline uintptr_t readDepth() noexcept {
  if (g_tlsSlot < 64) return static_cast<uintptr_t>(__readgsqword(0x1480 + g_tlsSlot * 8));
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return 0;
  DWORD err = GetLastError();
  uintptr_t v = reinterpret_cast<uintptr_t>(TlsGetValue(g_tlsSlot));
  SetLastError(err);
  return v;
}
inline void writeDepth(uintptr_t depth) noexcept {
  if (g_tlsSlot < 64) {
    __writegsqword(0x1480 + g_tlsSlot * 8, static_cast<unsigned long long>(depth));
    return;
  }
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return;
  DWORD err = GetLastError();
  TlsSetValue(g_tlsSlot, reinterpret_cast<void*>(depth));
  SetLastError(err);
}
}  // namespace internal

// Entered first thing by every detour; nested() is true when this thread is already inside one
// of our detours or inside plugin code that marked itself with OwnCallsScope.
class Scope {
 public:
  Scope() noexcept : depth_(internal::readDepth()) {
    internal::g_inFlight.fetch_add(1, std::memory_order_seq_cst);
    internal::writeDepth(depth_ + 1);
  }
  ~Scope() {
    internal::writeDepth(depth_);
    internal::g_inFlight.fetch_sub(1, std::memory_order_seq_cst);
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  bool nested() const noexcept { return depth_ != 0; }

 private:
  uintptr_t depth_;
};

// Plugin code that calls D3D11 methods outside a detour (on any thread) wraps them in this, so
// that our own detours do not treat the calls as the game's. Counts as "in flight" as well.
using OwnCallsScope = Scope;

// Detour bodies in flight on all threads.
inline int64_t inFlight() noexcept { return internal::g_inFlight.load(std::memory_order_seq_cst); }
// Detour bodies (and own-call regions) open on the calling thread.
inline uintptr_t threadDepth() noexcept { return internal::readDepth(); }

// Waits until no thread other than the caller is inside a detour of ours, polling once a
// millisecond for at most maxPolls polls. Returns false when the bound was hit.
bool waitUntilIdle(uint32_t maxPolls) noexcept;

}  // namespace zor::detour
