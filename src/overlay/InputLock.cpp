#include "overlay/InputLock.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "core/Clock.h"
#include "core/DetourGuard.h"
#include "core/HookApi.h"

namespace zor {
namespace {

using SetCursorPosFn = BOOL(WINAPI*)(int, int);
using GetRawInputDataFn = UINT(WINAPI*)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);
using GetRawInputBufferFn = UINT(WINAPI*)(PRAWINPUT, PUINT, UINT);

// The mouse fields cleared in a record: the button word (flags and wheel data), the raw
// buttons, and the relative movement.
constexpr size_t kButtonsOffset = offsetof(RAWINPUT, data.mouse.usButtonFlags);
constexpr size_t kMovementEnd = offsetof(RAWINPUT, data.mouse.lLastY) + sizeof(LONG);
static_assert(sizeof(RAWINPUTHEADER) == 24, "x64 raw input header");
static_assert(kButtonsOffset == 28 && offsetof(RAWINPUT, data.mouse.ulRawButtons) == 32, "x64 mouse record");
static_assert(offsetof(RAWINPUT, data.mouse.lLastX) == 36 && kMovementEnd == 44, "x64 mouse record");

std::atomic<bool> g_locked{false};
std::atomic<uint64_t> g_lastDrawnMs{0};  // clock ticks

struct HookSlot {
  const char* name;
  void* detour;
  std::atomic<void*> target{nullptr};
  std::atomic<void*> trampoline{nullptr};
  std::atomic<bool> installed{false};
};

HookSlot g_setCursorPos{"SetCursorPos", reinterpret_cast<void*>(&SetCursorPosDetour)};
HookSlot g_getRawInputData{"GetRawInputData", reinterpret_cast<void*>(&GetRawInputDataDetour)};
HookSlot g_getRawInputBuffer{"GetRawInputBuffer", reinterpret_cast<void*>(&GetRawInputBufferDetour)};
HookSlot* const g_slots[] = {&g_setCursorPos, &g_getRawInputData, &g_getRawInputBuffer};

template <class Fn>
Fn trampolineOf(const HookSlot& slot) noexcept {
  return reinterpret_cast<Fn>(slot.trampoline.load(std::memory_order_acquire));
}

bool install(HookSlot& slot, HMODULE user32) noexcept {
  void* target = user32 ? reinterpret_cast<void*>(GetProcAddress(user32, slot.name)) : nullptr;
  if (!target) return false;
  void* original = nullptr;
  const HookApi& api = hookApi();
  if (api.createHook(target, slot.detour, &original) != MH_OK) return false;
  // The trampoline is in place before the detour can be reached.
  slot.trampoline.store(original, std::memory_order_release);
  slot.target.store(target, std::memory_order_release);
  if (api.enableHook(target) != MH_OK) {
    api.removeHook(target);
    slot.target.store(nullptr);
    slot.trampoline.store(nullptr);
    return false;
  }
  slot.installed.store(true, std::memory_order_release);
  return true;
}

}  // namespace

void setInputLocked(bool locked) noexcept {
  if (locked) panelDrawn();  // shown now, drawn at the next frame
  g_locked.store(locked, std::memory_order_release);
}
void panelDrawn() noexcept { g_lastDrawnMs.store(clock::tickMs(), std::memory_order_relaxed); }
bool inputLocked() noexcept {
  if (!g_locked.load(std::memory_order_acquire)) return false;
  const uint64_t now = clock::tickMs();
  const uint64_t drawn = g_lastDrawnMs.load(std::memory_order_relaxed);
  return now < drawn || now - drawn < kInputLockHoldMs;
}

void zeroRawMouseRecord(void* record, size_t bytes) noexcept {
  if (!record || bytes < kMovementEnd) return;
  auto* raw = static_cast<RAWINPUT*>(record);
  if (raw->header.dwType != RIM_TYPEMOUSE) return;
  std::memset(static_cast<unsigned char*>(record) + kButtonsOffset, 0, kMovementEnd - kButtonsOffset);
}

void zeroRawMouseRecords(void* buffer, uint32_t count, size_t bytes) noexcept {
  if (!buffer) return;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(buffer);
  const uintptr_t end = begin + bytes;
  uintptr_t at = begin;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + sizeof(RAWINPUTHEADER) > end) return;
    const DWORD size = reinterpret_cast<const RAWINPUT*>(at)->header.dwSize;
    if (size < sizeof(RAWINPUTHEADER) || size > end - at) return;  // a broken record ends the walk
    zeroRawMouseRecord(reinterpret_cast<void*>(at), size);
    at = (at + size + 7) & ~static_cast<uintptr_t>(7);
  }
}

InputLockHooks installInputLockHooks() noexcept {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (!user32) user32 = LoadLibraryW(L"user32.dll");
  for (HookSlot* slot : g_slots) {
    if (!slot->installed.load()) {
      install(*slot, user32);
    } else if (void* target = slot->target.load()) {
      hookApi().enableHook(target);  // left in place, switched off, by a shut-down that ran out of time
    }
  }
  return installedInputLockHooks();
}

void disableInputLockHooks() noexcept {
  for (HookSlot* slot : g_slots) {
    if (!slot->installed.load()) continue;
    if (void* target = slot->target.load()) hookApi().disableHook(target);
  }
}

void removeInputLockHooks() noexcept {
  for (HookSlot* slot : g_slots) {
    if (!slot->installed.exchange(false)) continue;
    if (void* target = slot->target.exchange(nullptr)) {
      hookApi().disableHook(target);
      hookApi().removeHook(target);
    }
    slot->trampoline.store(nullptr, std::memory_order_release);
  }
}

InputLockHooks installedInputLockHooks() noexcept {
  return InputLockHooks{g_setCursorPos.installed.load(), g_getRawInputData.installed.load(),
                        g_getRawInputBuffer.installed.load()};
}

BOOL WINAPI SetCursorPosDetour(int x, int y) {
  detour::Scope scope;
  if (inputLocked()) return TRUE;
  const auto real = trampolineOf<SetCursorPosFn>(g_setCursorPos);
  return real ? real(x, y) : FALSE;
}

UINT WINAPI GetRawInputDataDetour(HRAWINPUT input, UINT command, LPVOID data, PUINT size, UINT headerSize) {
  detour::Scope scope;
  const auto real = trampolineOf<GetRawInputDataFn>(g_getRawInputData);
  const UINT result = real ? real(input, command, data, size, headerSize) : static_cast<UINT>(-1);
  if (command == RID_INPUT && inputLocked() && data && result != static_cast<UINT>(-1)) {
    zeroRawMouseRecord(data, result);
  }
  return result;
}

UINT WINAPI GetRawInputBufferDetour(PRAWINPUT data, PUINT size, UINT headerSize) {
  detour::Scope scope;
  // The buffer's size as the caller gave it bounds the walk over the records.
  const size_t bytes = data && size ? *size : 0;
  const auto real = trampolineOf<GetRawInputBufferFn>(g_getRawInputBuffer);
  const UINT count = real ? real(data, size, headerSize) : static_cast<UINT>(-1);
  if (data && count != 0 && count != static_cast<UINT>(-1) && inputLocked()) {
    zeroRawMouseRecords(data, count, bytes);
  }
  return count;
}

}  // namespace zor
