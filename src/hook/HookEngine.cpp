// The inline-hook engine behind the MinHook API: a table of hooks keyed by target address,
// guarded by one lock; creating builds the trampoline, enabling and disabling swap the
// 5-byte jmp in and out with the rest of the process held still.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "CodeMemory.h"
#include "HookEngineStats.h"
#include "MinHook.h"
#include "NearAllocator.h"
#include "ThreadFreezer.h"
#include "TrampolineBuilder.h"

namespace zor::hook {
namespace {

constexpr size_t kCodeReadSize = 1100;  // moved bytes plus the sweep for back-branches

struct Hook {
  uint8_t* target = nullptr;
  void* detour = nullptr;
  uint8_t* slot = nullptr;  // trampoline, then the relay when one is needed
  uint8_t patch[kPatchSize] = {};
  uint8_t original[kPatchSize] = {};
  Boundary table[kMaxStolenInstructions + 1] = {};
  uint8_t tableCount = 0;
  uint8_t codeSize = 0;
  uint8_t movedLength = 0;
  uint8_t guardedLength = 0;  // bytes no other hook may share
  bool pinned = false;        // the trampoline calls out: its slot is never reused
  bool enabled = false;
};

class Engine {
 public:
  SRWLOCK lock = SRWLOCK_INIT;
  bool initialized = false;
  std::vector<Hook> hooks;
  NearAllocator memory;
  EngineStats stats;

  Hook* find(const void* target) {
    for (Hook& h : hooks) {
      if (h.target == target) return &h;
    }
    return nullptr;
  }
  MH_STATUS create(uint8_t* target, void* detour, void** original);
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
  ~Locked() { ReleaseSRWLockExclusive(&e_.lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  Engine& e_;
};

MH_STATUS Engine::create(uint8_t* target, void* detour, void** original) {
  if (!isExecutable(target) || !isExecutable(detour)) return MH_ERROR_NOT_EXECUTABLE;
  if (find(target)) return MH_ERROR_ALREADY_CREATED;

  uint8_t code[kCodeReadSize];
  const size_t available = readCode(target, code, sizeof code);
  TrampolinePlan plan;
  if (planTrampoline(reinterpret_cast<uint64_t>(target), code, available, plan) != PlanError::None) {
    return MH_ERROR_UNSUPPORTED_FUNCTION;
  }
  const uint8_t guarded = static_cast<uint8_t>(std::max<size_t>(plan.movedLength, kPatchSize));
  for (const Hook& other : hooks) {
    // Two patches over the same bytes would corrupt each other.
    if (target < other.target + other.guardedLength && other.target < target + guarded) {
      return MH_ERROR_UNSUPPORTED_FUNCTION;
    }
  }

  uint8_t* slot = memory.allocate(plan.reachLow, plan.reachHigh, reinterpret_cast<uint64_t>(target));
  if (!slot) return MH_ERROR_MEMORY_ALLOC;

  Hook h;
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
  size_t used = plan.codeSize;
  const uint64_t from = reinterpret_cast<uint64_t>(target);
  if (!encodeJmpRel32(from, reinterpret_cast<uint64_t>(detour), h.patch)) {
    // The detour is out of rel32 reach: go through an absolute jump next to the trampoline.
    uint8_t* relay = slot + used;
    encodeRelay(reinterpret_cast<uint64_t>(detour), image + used);
    used += kRelaySize;
    if (!encodeJmpRel32(from, reinterpret_cast<uint64_t>(relay), h.patch)) {
      memory.release(slot, false);
      return MH_ERROR_MEMORY_ALLOC;
    }
  }
  if (!writeExecutable(slot, image, used)) {
    memory.release(slot, false);
    return MH_ERROR_MEMORY_PROTECT;
  }
  try {
    hooks.push_back(h);
  } catch (...) {
    memory.release(slot, false);
    return MH_ERROR_MEMORY_ALLOC;
  }
  if (original) *original = slot;
  return MH_OK;
}

MH_STATUS Engine::setEnabled(const std::vector<Hook*>& batch, bool enable) {
  if (batch.empty()) return MH_OK;
  ThreadFreezer freezer;
  if (!freezer.prepare(batch.size())) return MH_ERROR_MEMORY_ALLOC;

  // Unprotect first, outside the frozen window. A hook whose pages refuse ends the batch;
  // those before it are still switched.
  std::vector<PageProtection> saved;
  saved.reserve(batch.size() * 2);
  size_t ready = 0;
  MH_STATUS status = MH_OK;
  for (; ready < batch.size(); ++ready) {
    if (!unprotect(batch[ready]->target, kPatchSize, saved)) {
      status = MH_ERROR_MEMORY_PROTECT;
      break;
    }
  }
  for (size_t i = 0; i < ready; ++i) {
    const Hook& h = *batch[i];
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
    Hook& h = *batch[i];
    storeCode(h.target, enable ? h.patch : h.original, kPatchSize);
    FlushInstructionCache(GetCurrentProcess(), h.target, kPatchSize);
  }
  freezer.thaw();

  restoreProtections(saved);
  for (size_t i = 0; i < ready; ++i) batch[i]->enabled = enable;
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
