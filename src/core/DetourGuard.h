// Bookkeeping shared by every detour of ours, in one word per thread:
// - how many detour bodies (and plugin regions that call D3D11 themselves) are open on the
//   thread, so that shut-down can wait until no thread is executing our code any more, part by
//   part (the texture-queue hook is counted on its own as well);
// - how many of them were opened since the thread last went back into the game's own code
//   through a trampoline, so that the plugin's own calls pass straight through the detours they
//   reach while the game's calls made beneath a detour (inside the game's Present, inside the
//   engine's loader function) still count as the game's.
// The word lives in a TLS slot read and written directly in the thread environment block: the
// common path is one load and two stores, no locked instruction, no lock, no allocation.
#pragma once

#include <windows.h>
#include <intrin.h>

#include <atomic>
#include <cstdint>

namespace zor::detour {

// Whose detour a scope belongs to, for the drain of one part's shut-down.
enum class Part : uint8_t { Graphics, TextureQueue };

namespace internal {
// TLS slot of the word; TLS_OUT_OF_INDEXES when none could be reserved.
extern DWORD g_tlsSlot;
// Only for a slot beyond the 64 that live in the thread environment block: the word then goes
// through TlsGetValue/TlsSetValue and the threads inside are counted here as well.
extern std::atomic<int64_t> g_slowInFlight;

constexpr unsigned long kTlsSlotsOffset = 0x1480;  // TEB.TlsSlots on x64

// The word: bits 0-15 every open scope, 16-31 those opened since the last call into the game's
// code, 32-47 the texture-queue part's.
constexpr uintptr_t kDepthOne = 1;
constexpr uintptr_t kOwnOne = uintptr_t{1} << 16;
constexpr uintptr_t kQueueOne = uintptr_t{1} << 32;
constexpr uintptr_t kDepthMask = 0xFFFF;
constexpr uintptr_t kOwnMask = uintptr_t{0xFFFF} << 16;
constexpr uintptr_t kQueueMask = uintptr_t{0xFFFF} << 32;

inline uintptr_t slotOffset(DWORD slot) noexcept { return kTlsSlotsOffset + slot * 8; }

uintptr_t slowEnter(uintptr_t add) noexcept;
void slowLeave(uintptr_t word) noexcept;
uintptr_t slowSwap(uintptr_t word) noexcept;
uintptr_t slowRead() noexcept;
}  // namespace internal

// Entered first thing by a detour body; nested() is true when this thread is already inside one
// of our detours or inside plugin code that marked itself with OwnCallsScope (and has not gone
// back into the game's code since).
class Scope {
 public:
  explicit Scope(Part part = Part::Graphics) noexcept {
    const uintptr_t add =
        internal::kDepthOne | internal::kOwnOne | (part == Part::TextureQueue ? internal::kQueueOne : 0);
    const DWORD slot = internal::g_tlsSlot;
    if (slot < 64) {
      word_ = static_cast<uintptr_t>(__readgsqword(internal::slotOffset(slot)));
      __writegsqword(internal::slotOffset(slot), word_ + add);
    } else {
      word_ = internal::slowEnter(add);
    }
  }
  ~Scope() {
    const DWORD slot = internal::g_tlsSlot;
    if (slot < 64) {
      __writegsqword(internal::slotOffset(slot), word_);
    } else {
      internal::slowLeave(word_);
    }
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  bool nested() const noexcept { return (word_ & internal::kOwnMask) != 0; }

 private:
  uintptr_t word_;
};

// Plugin code that calls D3D11 methods outside a detour (on any thread) wraps them in this, so
// that our own detours do not treat the calls as the game's.
using OwnCallsScope = Scope;

// Opened by a detour around its call into the game's own code (the trampoline): the thread still
// counts as inside our code for shut-down (it returns into the detour), but what the game's code
// calls meanwhile is the game's, not ours.
class GameCallScope {
 public:
  GameCallScope() noexcept {
    const DWORD slot = internal::g_tlsSlot;
    if (slot < 64) {
      word_ = static_cast<uintptr_t>(__readgsqword(internal::slotOffset(slot)));
      __writegsqword(internal::slotOffset(slot), word_ & ~internal::kOwnMask);
    } else {
      word_ = internal::slowSwap(internal::slowRead() & ~internal::kOwnMask);
    }
  }
  ~GameCallScope() {
    const DWORD slot = internal::g_tlsSlot;
    if (slot < 64) {
      __writegsqword(internal::slotOffset(slot), word_);
    } else {
      internal::slowSwap(word_);
    }
  }
  GameCallScope(const GameCallScope&) = delete;
  GameCallScope& operator=(const GameCallScope&) = delete;

 private:
  uintptr_t word_;
};

// Whether the calling thread is inside plugin code that calls D3D11 itself (a detour body or an
// OwnCallsScope) - the test of the pass-through detours, which open no scope.
inline bool ownCallInProgress() noexcept {
  const DWORD slot = internal::g_tlsSlot;
  if (slot < 64) return (__readgsqword(internal::slotOffset(slot)) & internal::kOwnMask) != 0;
  return (internal::slowRead() & internal::kOwnMask) != 0;
}
// The same in one TLS load and no call, for the hottest detours: false when the word does not
// live in the thread environment block (the caller then asks ownCallInProgress()).
inline bool ownCallKnown(bool& own) noexcept {
  const DWORD slot = internal::g_tlsSlot;
  if (slot >= 64) return false;
  own = (__readgsqword(internal::slotOffset(slot)) & internal::kOwnMask) != 0;
  return true;
}

// Scopes open on the calling thread.
uintptr_t threadDepth() noexcept;
// Which threads a drain waits for.
enum class Drain : uint8_t { Graphics, TextureQueue, All };
// Number of other threads of the process currently inside a detour of ours (of that part).
size_t threadsInside(Drain which = Drain::All) noexcept;
// Waits until no thread other than the caller is inside a detour of ours (of that part), polling
// about once a millisecond, until the steady clock (clock seam) reaches deadlineNs. Returns false
// when the deadline came first.
bool waitUntilIdle(Drain which, uint64_t deadlineNs) noexcept;

// How long one shut-down of the plugin waits, in all, for threads still inside our detours.
constexpr uint32_t kDefaultShutdownBudgetMs = 2000;
void setShutdownBudgetMs(uint32_t ms) noexcept;  // tests shorten it
uint32_t shutdownBudgetMs() noexcept;

// One shut-down's deadline for its drains. The outermost window opened starts the clock; windows
// opened inside it (a part's shut-down within the plugin's) share its deadline. Opened and closed
// on the thread that shuts down.
class ShutdownWindow {
 public:
  ShutdownWindow() noexcept;
  ~ShutdownWindow();
  ShutdownWindow(const ShutdownWindow&) = delete;
  ShutdownWindow& operator=(const ShutdownWindow&) = delete;
  uint64_t deadlineNs() const noexcept { return deadline_; }

 private:
  uint64_t deadline_;
};

// Keeps the module holding this code mapped for the rest of the process's life: a thread that
// could not be waited for may still return into it. True when the module is pinned.
bool pinOwnModule() noexcept;

}  // namespace zor::detour
