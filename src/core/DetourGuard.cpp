#include "core/DetourGuard.h"

// After windows.h.
#include <tlhelp32.h>

namespace zor::detour {

namespace internal {
DWORD g_tlsSlot = TlsAlloc();
std::atomic<int64_t> g_slowInFlight{0};

namespace {
// Gives the slot back when the module goes away, so load/unload cycles do not exhaust slots.
struct SlotOwner {
  ~SlotOwner() {
    if (g_tlsSlot != TLS_OUT_OF_INDEXES) TlsFree(g_tlsSlot);
    g_tlsSlot = TLS_OUT_OF_INDEXES;
  }
} g_slotOwner;
}  // namespace

uintptr_t slowEnter() noexcept {
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return 0;
  const DWORD err = GetLastError();  // the game's last-error value is left alone
  const uintptr_t depth = reinterpret_cast<uintptr_t>(TlsGetValue(g_tlsSlot));
  TlsSetValue(g_tlsSlot, reinterpret_cast<void*>(depth + 1));
  SetLastError(err);
  g_slowInFlight.fetch_add(1);
  return depth;
}

void slowLeave(uintptr_t depth) noexcept {
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return;
  const DWORD err = GetLastError();
  TlsSetValue(g_tlsSlot, reinterpret_cast<void*>(depth));
  SetLastError(err);
  g_slowInFlight.fetch_sub(1);
}
}  // namespace internal

namespace {

struct ThreadBasicInformation {
  LONG exitStatus;
  void* tebBaseAddress;
  HANDLE uniqueProcess;
  HANDLE uniqueThread;
  ULONG_PTR affinityMask;
  LONG priority;
  LONG basePriority;
};
using NtQueryInformationThreadFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

NtQueryInformationThreadFn queryThread() {
  static const auto fn = reinterpret_cast<NtQueryInformationThreadFn>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread"));
  return fn;
}

// Reads the depth slot of another thread of this process from its environment block. The read
// goes through ReadProcessMemory, so a thread that ends meanwhile cannot fault us.
bool depthOf(DWORD threadId, uintptr_t* depth) {
  NtQueryInformationThreadFn query = queryThread();
  if (!query) return false;
  HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
  if (!thread) return false;
  ThreadBasicInformation info{};
  const bool ok = query(thread, 0 /* ThreadBasicInformation */, &info, sizeof info, nullptr) >= 0 &&
                  info.tebBaseAddress != nullptr;
  CloseHandle(thread);
  if (!ok) return false;
  const auto* address = static_cast<const uint8_t*>(info.tebBaseAddress) + internal::kTlsSlotsOffset +
                        internal::g_tlsSlot * sizeof(void*);
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), address, depth, sizeof *depth, &read) && read == sizeof *depth;
}

}  // namespace

uintptr_t threadDepth() noexcept {
  const DWORD slot = internal::g_tlsSlot;
  if (slot < 64) return static_cast<uintptr_t>(__readgsqword(internal::kTlsSlotsOffset + slot * 8));
  if (slot == TLS_OUT_OF_INDEXES) return 0;
  const DWORD err = GetLastError();
  const uintptr_t depth = reinterpret_cast<uintptr_t>(TlsGetValue(slot));
  SetLastError(err);
  return depth;
}

size_t threadsInside() noexcept {
  const DWORD slot = internal::g_tlsSlot;
  if (slot == TLS_OUT_OF_INDEXES) return 0;
  if (slot >= 64) {
    const int64_t others = internal::g_slowInFlight.load() - static_cast<int64_t>(threadDepth());
    return others > 0 ? static_cast<size_t>(others) : 0;
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  const DWORD self = GetCurrentProcessId();
  const DWORD me = GetCurrentThreadId();
  size_t inside = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != self || entry.th32ThreadID == me) continue;
    uintptr_t depth = 0;
    if (depthOf(entry.th32ThreadID, &depth) && depth != 0) ++inside;
  }
  CloseHandle(snapshot);
  return inside;
}

bool waitUntilIdle(uint32_t maxPolls) noexcept {
  for (uint32_t i = 0;; ++i) {
    if (threadsInside() == 0) {
      // A thread that was just jumping into a detour when the hooks went off has had no time to
      // raise its depth yet: look once more after letting it run.
      Sleep(1);
      if (threadsInside() == 0) return true;
    }
    if (i >= maxPolls) return false;
    Sleep(1);
  }
}

}  // namespace zor::detour
