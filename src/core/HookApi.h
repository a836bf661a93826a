// The one way every part of the plugin reaches the inline-hook engine:
// - a table of the engine's calls, so a test can put a scripted engine in place of the real one
//   (to exercise failures the real engine never produces on demand);
// - the engine's lifetime, owned here and nowhere else. Each part that makes hooks takes a lease
//   before its first hook and gives it back after it has disabled and removed its hooks and no
//   thread is inside its detours any more. The engine is initialised by the first lease and
//   uninitialised when the last one is given back, so no part can pull the engine (and every
//   other part's trampolines) from under another.
#pragma once

#include <cstdint>
#include <string>

#include "hook/HookChain.h"
#include "hook/MinHook.h"

namespace zor {

struct HookApi {
  MH_STATUS(WINAPI* initialize)();
  MH_STATUS(WINAPI* uninitialize)();
  MH_STATUS(WINAPI* createHook)(LPVOID target, LPVOID detour, LPVOID* original);
  MH_STATUS(WINAPI* enableHook)(LPVOID target);
  MH_STATUS(WINAPI* disableHook)(LPVOID target);
  MH_STATUS(WINAPI* removeHook)(LPVOID target);
  const char*(WINAPI* statusToString)(MH_STATUS status);
  // Beyond MinHook's API (hook/HookChain.h); null in an engine without them (an installed
  // MinHook, a scripted engine), and then nothing looks at our patches after they are written.
  hook::PatchState (*patchState)(void* target);
  MH_STATUS (*rebuildHook)(void* target, void** original);
};

// The table in use (the MinHook functions unless replaced).
const HookApi& hookApi() noexcept;
// nullptr restores the MinHook functions. Not to be swapped while hooks are being changed or a
// lease is held.
void setHookApi(const HookApi* api) noexcept;
// MH_StatusToString, or "MH_STATUS desconocido" when it has no text.
const char* hookStatusText(MH_STATUS status) noexcept;

// The name the log gives a hooked function (the engine knows addresses only); up to 32 names,
// the latest for an address wins.
void nameHookTarget(const void* target, const char* name) noexcept;
// That name, or null.
const char* hookTargetName(const void* target) noexcept;
// "NAME: otro modulo (FILE) ..." naming the module the bytes at `target` now jump into, or
// "otro modulo" when none is found. For the log lines about a patch of ours found written over.
std::string overwrittenPatchText(const void* target);

// The parts that hold hooks of their own.
enum class HookOwner : unsigned { Graphics, TextureQueue, Overlay, Count };

// Takes the owner's lease. The first lease of the process initialises the engine: its status is
// returned (MH_OK when the engine was already up, or the owner already held its lease). A failed
// initialisation grants no lease.
MH_STATUS acquireHookEngine(HookOwner owner) noexcept;
// What giving a lease back did.
struct HookEngineRelease {
  MH_STATUS status = MH_OK;    // of the uninitialisation, MH_OK when there was none
  bool uninitialized = false;  // this was the last lease
  bool drained = true;         // no thread was left inside a detour of ours at the time
};
// Gives the owner's lease back (nothing when it holds none). With the last lease the engine
// goes: every hook still enabled anywhere is switched off and threads inside our detours are
// given until drainDeadlineNs (steady clock; 0: the deadline of the shut-down window open, or of
// a window of its own) to leave, since uninitialising frees the trampolines they return through.
// When one is still inside then, nothing is freed: the engine stays up with its hooks off, the
// lease stays held, and this module is pinned (drained = false).
HookEngineRelease releaseHookEngine(HookOwner owner, uint64_t drainDeadlineNs = 0) noexcept;
bool holdsHookEngine(HookOwner owner) noexcept;
bool hookEngineInitialized() noexcept;

}  // namespace zor
