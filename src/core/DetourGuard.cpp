#include "core/DetourGuard.h"

// After windows.h.
#include <tlhelp32.h>

#include "core/Clock.h"

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

uintptr_t slowRead() noexcept {
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return 0;
  const DWORD err = GetLastError();  // the game's last-error value is left alone
  const uintptr_t word = reinterpret_cast<uintptr_t>(TlsGetValue(g_tlsSlot));
  SetLastError(err);
  return word;
}

uintptr_t slowSwap(uintptr_t word) noexcept {
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return 0;
  const DWORD err = GetLastError();
  const uintptr_t old = reinterpret_cast<uintptr_t>(TlsGetValue(g_tlsSlot));
  TlsSetValue(g_tlsSlot, reinterpret_cast<void*>(word));
  SetLastError(err);
  return old;
}

uintptr_t slowEnter(uintptr_t add) noexcept {
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return 0;
  const uintptr_t word = slowRead();
  slowSwap(word + add);
  g_slowInFlight.fetch_add(1);
  return word;
}

void slowLeave(uintptr_t word) noexcept {
  if (g_tlsSlot == TLS_OUT_OF_INDEXES) return;
  slowSwap(word);
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

// Reads the word of another thread of this process from its environment block. The read
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
  if (slot < 64) return static_cast<uintptr_t>(__readgsqword(internal::slotOffset(slot))) & internal::kDepthMask;
  return internal::slowRead() & internal::kDepthMask;
}

namespace {

// Whether a thread's word says it is inside a detour of that part.
bool insideOf(uintptr_t word, Drain which) {
  const uintptr_t all = word & internal::kDepthMask;
  const uintptr_t queue = (word & internal::kQueueMask) >> 32;
  switch (which) {
    case Drain::Graphics: return all > queue;  // any scope that is not the texture queue's
    case Drain::TextureQueue: return queue != 0;
    default: return all != 0;
  }
}

}  // namespace

size_t threadsInside(Drain which) noexcept {
  const DWORD slot = internal::g_tlsSlot;
  if (slot == TLS_OUT_OF_INDEXES) return 0;
  if (slot >= 64) {
    // Not told apart by part here: every thread inside counts for every drain.
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
    uintptr_t word = 0;
    if (depthOf(entry.th32ThreadID, &word) && insideOf(word, which)) ++inside;
  }
  CloseHandle(snapshot);
  return inside;
}

bool waitUntilIdle(Drain which, uint64_t deadlineNs) noexcept {
  for (;;) {
    if (threadsInside(which) == 0) {
      // A thread that was just jumping into a detour when the hooks went off has had no time to
      // raise its count yet: look once more after letting it run.
      Sleep(1);
      if (threadsInside(which) == 0) return true;
    }
    if (clock::steadyNs() >= deadlineNs) return false;
    Sleep(1);
  }
}

namespace {
std::atomic<uint32_t> g_shutdownBudgetMs{kDefaultShutdownBudgetMs};
// The open shut-down window: its deadline and how many are open (one thread shuts down).
std::atomic<int> g_windowDepth{0};
std::atomic<uint64_t> g_windowDeadline{0};
}  // namespace

void setShutdownBudgetMs(uint32_t ms) noexcept { g_shutdownBudgetMs.store(ms); }
uint32_t shutdownBudgetMs() noexcept { return g_shutdownBudgetMs.load(); }

ShutdownWindow::ShutdownWindow() noexcept {
  if (g_windowDepth.fetch_add(1) == 0) {
    g_windowDeadline.store(clock::steadyNs() + uint64_t{g_shutdownBudgetMs.load()} * 1'000'000ull);
  }
  deadline_ = g_windowDeadline.load();
}

ShutdownWindow::~ShutdownWindow() { g_windowDepth.fetch_sub(1); }

bool pinOwnModule() noexcept {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&pinOwnModule), &module) != FALSE;
}

}  // namespace zor::detour
