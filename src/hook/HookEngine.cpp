// The inline-hook engine behind the MinHook API: a table of hooks keyed by target address,
// guarded by one lock; creating builds the trampoline and the relay, enabling and disabling
// swap the 5-byte jmp in and out with the rest of the process held still. A target that no
// longer holds our patch when it is disabled is left alone (HookChain.h).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "CodeMemory.h"
#include "HookChain.h"
#include "HookEngineStats.h"
#include "MinHook.h"
#include "NearAllocator.h"
#include "ThreadFreezer.h"
#include "TrampolineBuilder.h"

namespace zor::hook {
namespace {

constexpr size_t kCodeReadSize = 1100;  // moved bytes plus the sweep for back-branches
constexpr size_t kMaxNotices = 16;

struct Hook {
  uint8_t* target = nullptr;
  void* detour = nullptr;
  uint8_t* slot = nullptr;  // trampoline, then the relay at kRelayOffset
  uint8_t patch[kPatchSize] = {};
  uint8_t original[kPatchSize] = {};
  uint8_t former[kPatchSize] = {};  // what the hook was built from before its last rebuild
  bool hasFormer = false;
  Boundary table[kMaxStolenInstructions + 1] = {};
  uint8_t tableCount = 0;
  uint8_t codeSize = 0;
  uint8_t movedLength = 0;
  uint8_t guardedLength = 0;  // bytes no other hook may share
  bool pinned = false;        // the slot is never reused (calls out, or another hook leads into it)
  bool enabled = false;
  bool relayToTrampoline = false;  // the relay was turned to the original code
  bool chained = false;            // left beneath another module's patch at least once
  bool exposed = false;            // seen beneath another module's jump: its trampoline may copy our patch
};

struct Notice {
  const void* target;
  const void* jumpsTo;
};

class Engine {
 public:
  SRWLOCK lock = SRWLOCK_INIT;
  bool initialized = false;
  std::vector<Hook> hooks;
  NearAllocator memory;
  EngineStats stats;
  ChainNotice chainNotice = nullptr;
  // Filled under the lock, delivered after it is released (Locked's destructor).
  Notice notices[kMaxNotices] = {};
  size_t noticeCount = 0;

  Hook* find(const void* target) {
    for (Hook& h : hooks) {
      if (h.target == target) return &h;
    }
    return nullptr;
  }
  MH_STATUS build(uint8_t* target, void* detour, const Hook* replacing, Hook& out);
  MH_STATUS create(uint8_t* target, void* detour, void** original);
  MH_STATUS rebuild(Hook& h, void** original);
  MH_STATUS setEnabled(const std::vector<Hook*>& batch, bool enable);
  MH_STATUS setAll(bool enable);
  void releaseSlot(Hook& h) { memory.release(h.slot, h.pinned); }
};

// Never destroyed: plugin singletons may still call the API from their destructors at exit.
// Built in static storage, so that first use cannot fail (the constructor allocates nothing).
Engine& engine() {
  alignas(Engine) static unsigned char storage[sizeof(Engine)];
  static Engine* const instance = new (storage) Engine();
  return *instance;
}

class Locked {
 public:
  explicit Locked(Engine& e) : e_(e) { AcquireSRWLockExclusive(&e_.lock); }
  ~Locked() {
    Notice pending[kMaxNotices];
    const size_t count = e_.noticeCount;
    const ChainNotice notice = e_.chainNotice;
    std::copy(e_.notices, e_.notices + count, pending);
    e_.noticeCount = 0;
    ReleaseSRWLockExclusive(&e_.lock);
    if (notice) {
      for (size_t i = 0; i < count; ++i) notice(pending[i].target, pending[i].jumpsTo);
    }
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  Engine& e_;
};

// The target is code we have read and patched: it stays mapped while its module is loaded.
bool holds(const uint8_t* target, const uint8_t (&bytes)[kPatchSize]) {
  const volatile uint8_t* at = target;
  for (size_t i = 0; i < kPatchSize; ++i) {
    if (at[i] != bytes[i]) return false;
  }
  return true;
}

// A relay laid out as ours (encodeRelay at kRelayOffset of a slot) that leads to its own slot's
// trampoline.
bool isKeptRelay(const void* at) {
  uint8_t bytes[kRelaySize];
  SIZE_T got = 0;
  if (!ReadProcessMemory(GetCurrentProcess(), at, bytes, sizeof bytes, &got) || got != sizeof bytes) return false;
  uint8_t expected[kRelaySize];
  const uint64_t slot = reinterpret_cast<uint64_t>(at) - kRelayOffset;
  encodeRelay(slot, expected);
  return std::memcmp(bytes, expected, sizeof bytes) == 0;
}

// Points the hook's relay at `to` with one aligned store: a thread may be passing through it.
bool setRelay(Hook& h, const void* to) {
  auto* word = reinterpret_cast<uint64_t*>(h.slot + kRelayAddressOffset);
  DWORD old = 0;
  if (!VirtualProtect(word, 8, PAGE_EXECUTE_READWRITE, &old)) return false;
  __atomic_store_n(word, reinterpret_cast<uint64_t>(to), __ATOMIC_SEQ_CST);
  DWORD ignored = 0;
  VirtualProtect(word, 8, old, &ignored);
  FlushInstructionCache(GetCurrentProcess(), word, 8);
  return true;
}

// Builds the slot (trampoline and relay) for a hook of `target` from the bytes there now.
// `replacing` is the hook being rebuilt, which may overlap itself.
MH_STATUS Engine::build(uint8_t* target, void* detour, const Hook* replacing, Hook& h) {
  uint8_t code[kCodeReadSize];
  const size_t available = readCode(target, code, sizeof code);
  TrampolinePlan plan;
  if (planTrampoline(reinterpret_cast<uint64_t>(target), code, available, plan) != PlanError::None) {
    return MH_ERROR_UNSUPPORTED_FUNCTION;
  }
  const uint8_t guarded = static_cast<uint8_t>(std::max<size_t>(plan.movedLength, kPatchSize));
  for (const Hook& other : hooks) {
    if (&other == replacing) continue;
    // Two patches over the same bytes would corrupt each other.
    if (target < other.target + other.guardedLength && other.target < target + guarded) {
      return MH_ERROR_UNSUPPORTED_FUNCTION;
    }
  }

  uint8_t* slot = memory.allocate(plan.reachLow, plan.reachHigh, reinterpret_cast<uint64_t>(target));
  if (!slot) return MH_ERROR_MEMORY_ALLOC;

  h = Hook{};
  h.target = target;
  h.detour = detour;
  h.slot = slot;
  h.codeSize = plan.codeSize;
  h.movedLength = plan.movedLength;
  h.guardedLength = guarded;
  h.pinned = plan.containsCall;
  std::memcpy(h.original, code, kPatchSize);

  uint8_t image[kSlotSize];
  std::memset(image, 0xCC, sizeof image);
  if (!emitTrampoline(plan, reinterpret_cast<uint64_t>(slot), image, h.table, h.tableCount)) {
    memory.release(slot, false);
    return MH_ERROR_UNSUPPORTED_FUNCTION;
  }
  // The patch always goes through the relay, even to a detour within reach: a hook put on top
  // of ours copies this jump, and the relay (unlike the detour) outlives our module.
  encodeRelay(reinterpret_cast<uint64_t>(detour), image + kRelayOffset);
  if (!encodeJmpRel32(reinterpret_cast<uint64_t>(target), reinterpret_cast<uint64_t>(slot + kRelayOffset), h.patch)) {
    memory.release(slot, false);
    return MH_ERROR_MEMORY_ALLOC;
  }
  if (!writeExecutable(slot, image, sizeof image)) {
    memory.release(slot, false);
    return MH_ERROR_MEMORY_PROTECT;
  }
  return MH_OK;
}

MH_STATUS Engine::create(uint8_t* target, void* detour, void** original) {
  if (!isExecutable(target) || !isExecutable(detour)) return MH_ERROR_NOT_EXECUTABLE;
  if (find(target)) return MH_ERROR_ALREADY_CREATED;
  Hook h;
  if (MH_STATUS st = build(target, detour, nullptr, h); st != MH_OK) return st;
  try {
    hooks.push_back(h);
  } catch (...) {
    memory.release(h.slot, false);
    return MH_ERROR_MEMORY_ALLOC;
  }
  if (original) *original = h.slot;
  return MH_OK;
}

MH_STATUS Engine::rebuild(Hook& h, void** original) {
  if (h.enabled && holds(h.target, h.patch)) return MH_ERROR_ENABLED;
  Hook fresh;
  if (MH_STATUS st = build(h.target, h.detour, &h, fresh); st != MH_OK) return st;
  // The old slot stays for good: a thread may be inside its trampoline, and a hook that was on
  // top of ours may still lead into its relay, which now goes to the original code.
  setRelay(h, fresh.slot);
  memory.release(h.slot, true);
  if (std::memcmp(h.original, fresh.original, kPatchSize) != 0) {
    std::memcpy(fresh.former, h.original, kPatchSize);
    fresh.hasFormer = true;
  } else if (h.hasFormer) {
    std::memcpy(fresh.former, h.former, kPatchSize);
    fresh.hasFormer = true;
  }
  h = fresh;
  if (original) *original = h.slot;
  return MH_OK;
}

MH_STATUS Engine::setEnabled(const std::vector<Hook*>& batch, bool enable) {
  if (batch.empty()) return MH_OK;
  // Which targets are written. Disabling a target that no longer holds our patch leaves it to
  // the module whose bytes are there now: its trampoline may lead into our relay, which from
  // now on goes to the original code, and the slot is kept for good. Enabling writes the patch
  // unless the target is chained beneath another module's jump (then the relay alone is turned
  // back to the detour).
  std::vector<Hook*> writes;
  writes.reserve(batch.size());
  MH_STATUS status = MH_OK;
  for (Hook* h : batch) {
    if (!enable && !holds(h->target, h->patch)) {
      if (!setRelay(*h, h->slot)) {
        status = MH_ERROR_MEMORY_PROTECT;
        break;
      }
      h->relayToTrampoline = true;
      h->enabled = false;
      h->pinned = true;
      if (!h->chained && noticeCount < kMaxNotices) {
        const void* to = nullptr;
        if (!jumpDestination(h->target, &to)) to = nullptr;
        notices[noticeCount++] = Notice{h->target, to};
      }
      h->chained = true;
      continue;
    }
    if (!enable && h->exposed) {
      if (!setRelay(*h, h->slot)) {
        status = MH_ERROR_MEMORY_PROTECT;
        break;
      }
      h->relayToTrampoline = true;
    }
    if (enable && h->relayToTrampoline) {
      if (!setRelay(*h, h->detour)) {
        status = MH_ERROR_MEMORY_PROTECT;
        break;
      }
      h->relayToTrampoline = false;
      if (h->chained && !holds(h->target, h->original)) {
        h->enabled = true;
        continue;
      }
    }
    writes.push_back(h);
  }
  if (writes.empty()) return status;

  ThreadFreezer freezer;
  if (!freezer.prepare(writes.size())) return MH_ERROR_MEMORY_ALLOC;

  // Unprotect first, outside the frozen window. A hook whose pages refuse ends the batch;
  // those before it are still switched.
  std::vector<PageProtection> saved;
  saved.reserve(writes.size() * 2);
  size_t ready = 0;
  for (; ready < writes.size(); ++ready) {
    if (!unprotect(writes[ready]->target, kPatchSize, saved)) {
      status = MH_ERROR_MEMORY_PROTECT;
      break;
    }
  }
  for (size_t i = 0; i < ready; ++i) {
    const Hook& h = *writes[i];
    CodeMove move;
    move.table = h.table;
    move.tableCount = h.tableCount;
    move.towardsTrampoline = enable;
    if (enable) {
      move.from = reinterpret_cast<uint64_t>(h.target);
      move.fromSize = h.movedLength;
      move.to = reinterpret_cast<uint64_t>(h.slot);
    } else {
      move.from = reinterpret_cast<uint64_t>(h.slot);
      move.fromSize = h.codeSize;
      move.to = reinterpret_cast<uint64_t>(h.target);
    }
    freezer.addMove(move);
  }

  freezer.freeze();
  for (size_t i = 0; i < ready; ++i) {
    Hook& h = *writes[i];
    storeCode(h.target, enable ? h.patch : h.original, kPatchSize);
    FlushInstructionCache(GetCurrentProcess(), h.target, kPatchSize);
  }
  freezer.thaw();

  restoreProtections(saved);
  for (size_t i = 0; i < ready; ++i) writes[i]->enabled = enable;
  (enable ? stats.threadsMovedToTrampolines : stats.threadsMovedToTargets) += freezer.movedCount();
  return status;
}

MH_STATUS Engine::setAll(bool enable) {
  std::vector<Hook*> batch;
  batch.reserve(hooks.size());
  for (Hook& h : hooks) {
    if (h.enabled != enable) batch.push_back(&h);
  }
  return setEnabled(batch, enable);
}

MH_STATUS enableOrDisable(void* target, bool enable) {
  Engine& e = engine();
  Locked guard(e);
  if (!e.initialized) return MH_ERROR_NOT_INITIALIZED;
  try {
    if (target == MH_ALL_HOOKS) return e.setAll(enable);
    Hook* h = e.find(target);
    if (!h) return MH_ERROR_NOT_CREATED;
    if (h->enabled == enable) return enable ? MH_ERROR_ENABLED : MH_ERROR_DISABLED;
    return e.setEnabled({h}, enable);
  } catch (...) {
    return MH_ERROR_MEMORY_ALLOC;
  }
}

}  // namespace

EngineStats engineStats() {
  Engine& e = engine();
  Locked guard(e);
  EngineStats s = e.stats;
  s.hookCount = e.hooks.size();
  s.memoryBlocks = e.memory.blockCount();
  return s;
}

PatchState patchState(void* target) {
  Engine& e = engine();
  Locked guard(e);
  Hook* h = e.initialized ? e.find(target) : nullptr;
  if (!h) return PatchState::NotCreated;
  if (!h->enabled) return PatchState::Disabled;
  if (holds(h->target, h->patch)) return PatchState::Ours;
  // What we found at creation (or before our last rebuild) is back: a hooker beneath us took
  // its hook away, or wrote its jump again over ours. The patch is gone even when those bytes
  // are a jump.
  if (holds(h->target, h->original) || (h->hasFormer && holds(h->target, h->former))) return PatchState::Gone;
  const void* to = nullptr;
  if (!jumpDestination(h->target, &to)) return PatchState::Gone;
  // A relay of ours kept from an earlier hook (of this engine or of an earlier load of our
  // module), turned to its trampoline: the patch of that hook, put back by a hooker that had
  // copied it, is no other module's hook.
  if (isKeptRelay(to)) return PatchState::Gone;
  // Another module's trampoline now holds a copy of our patch and may be run again after its
  // owner has put our patch back (a guarded hook written again): from now on the relay is
  // turned to the original code whenever ours is switched off, and kept for good.
  h->exposed = true;
  h->pinned = true;
  return PatchState::Chained;
}

const char* patchStateName(PatchState state) {
  switch (state) {
    case PatchState::NotCreated: return "not created";
    case PatchState::Disabled: return "disabled";
    case PatchState::Ours: return "ours";
    case PatchState::Chained: return "chained";
    case PatchState::Gone: return "gone";
  }
  return "unknown";
}

MH_STATUS rebuildHook(void* target, void** original) {
  Engine& e = engine();
  Locked guard(e);
  if (!e.initialized) return MH_ERROR_NOT_INITIALIZED;
  Hook* h = e.find(target);
  if (!h) return MH_ERROR_NOT_CREATED;
  try {
    return e.rebuild(*h, original);
  } catch (...) {
    return MH_ERROR_MEMORY_ALLOC;
  }
}

void setChainNotice(ChainNotice notice) {
  Engine& e = engine();
  Locked guard(e);
  e.chainNotice = notice;
}

}  // namespace zor::hook

using zor::hook::engine;
using zor::hook::Locked;

extern "C" {

MH_STATUS WINAPI MH_Initialize(VOID) {
  auto& e = engine();
  Locked guard(e);
  if (e.initialized) return MH_ERROR_ALREADY_INITIALIZED;
  e.initialized = true;
  return MH_OK;
}

MH_STATUS WINAPI MH_Uninitialize(VOID) {
  auto& e = engine();
  Locked guard(e);
  if (!e.initialized) return MH_ERROR_NOT_INITIALIZED;
  try {
    if (MH_STATUS s = e.setAll(false); s != MH_OK) return s;
    for (auto& h : e.hooks) e.releaseSlot(h);
    e.hooks.clear();
    e.memory.releaseUnused();
    e.initialized = false;
    return MH_OK;
  } catch (...) {
    return MH_ERROR_MEMORY_ALLOC;
  }
}

MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal) {
  auto& e = engine();
  Locked guard(e);
  if (!e.initialized) return MH_ERROR_NOT_INITIALIZED;
  try {
    return e.create(static_cast<uint8_t*>(pTarget), pDetour, ppOriginal);
  } catch (...) {
    return MH_ERROR_MEMORY_ALLOC;
  }
}

MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget) {
  auto& e = engine();
  Locked guard(e);
  if (!e.initialized) return MH_ERROR_NOT_INITIALIZED;
  try {
    auto* h = e.find(pTarget);
    if (!h) return MH_ERROR_NOT_CREATED;
    if (h->enabled) {
      if (MH_STATUS s = e.setEnabled({h}, false); s != MH_OK) return s;
    }
    // The slot's block stays reserved until MH_Uninitialize, and the slot itself is reused
    // last: a detour still running on another thread can call the old trampoline safely.
    e.releaseSlot(*h);
    e.hooks.erase(e.hooks.begin() + (h - e.hooks.data()));
    return MH_OK;
  } catch (...) {
    return MH_ERROR_MEMORY_ALLOC;
  }
}

MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget) { return zor::hook::enableOrDisable(pTarget, true); }

MH_STATUS WINAPI MH_DisableHook(LPVOID pTarget) { return zor::hook::enableOrDisable(pTarget, false); }

const char* WINAPI MH_StatusToString(MH_STATUS status) {
#define ZOR_MH_NAME(x) \
  case x:              \
    return #x;
  switch (status) {
    ZOR_MH_NAME(MH_UNKNOWN)
    ZOR_MH_NAME(MH_OK)
    ZOR_MH_NAME(MH_ERROR_ALREADY_INITIALIZED)
    ZOR_MH_NAME(MH_ERROR_NOT_INITIALIZED)
    ZOR_MH_NAME(MH_ERROR_ALREADY_CREATED)
    ZOR_MH_NAME(MH_ERROR_NOT_CREATED)
    ZOR_MH_NAME(MH_ERROR_ENABLED)
    ZOR_MH_NAME(MH_ERROR_DISABLED)
    ZOR_MH_NAME(MH_ERROR_NOT_EXECUTABLE)
    ZOR_MH_NAME(MH_ERROR_UNSUPPORTED_FUNCTION)
    ZOR_MH_NAME(MH_ERROR_MEMORY_ALLOC)
    ZOR_MH_NAME(MH_ERROR_MEMORY_PROTECT)
    ZOR_MH_NAME(MH_ERROR_MODULE_NOT_FOUND)
    ZOR_MH_NAME(MH_ERROR_FUNCTION_NOT_FOUND)
  }
#undef ZOR_MH_NAME
  return "(unknown)";
}

}  // extern "C"
