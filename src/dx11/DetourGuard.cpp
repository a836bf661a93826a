#include "dx11/DetourGuard.h"

namespace zor::detour {

namespace internal {
std::atomic<int64_t> g_inFlight{0};
DWORD g_tlsSlot = TlsAlloc();

namespace {
// Gives the slot back when the module goes away, so load/unload cycles do not exhaust slots.
struct SlotOwner {
  ~SlotOwner() {
    if (g_tlsSlot != TLS_OUT_OF_INDEXES) TlsFree(g_tlsSlot);
    g_tlsSlot = TLS_OUT_OF_INDEXES;
  }
} g_slotOwner;
}  // namespace
}  // namespace internal

bool waitUntilIdle(uint32_t maxPolls) noexcept {
  // The caller's own open scopes are not waited for (they cannot end while we wait).
  const int64_t own = static_cast<int64_t>(threadDepth());
  for (uint32_t i = 0;; ++i) {
    if (inFlight() <= own) return true;
    if (i >= maxPolls) return false;
    Sleep(1);
  }
}

}  // namespace zor::detour
