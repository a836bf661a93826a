// What the engine offers beyond the MinHook API for functions it shares with other modules'
// hooks (other overlays patch the same first bytes of Present and the like).
//
// Every patch jumps to a relay in our own memory beside the trampoline, never straight to the
// detour: a hook put on top of ours later copies our jump into its trampoline, and that jump
// must lead somewhere that outlives our module. When a disable, removal or uninitialisation
// finds the target no longer holding our patch, the target is left as it is, the relay is
// turned into a jump to our trampoline (the original code), and the slot is kept for the life
// of the process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MinHook.h"

namespace zor::hook {

enum class PatchState : uint8_t {
  NotCreated,
  Disabled,
  Ours,     // our patch is there
  Chained,  // another jump is there: a hook on top of ours (we are still reached through it)
  Gone      // the bytes we found at creation, or anything else that is no jump: a hooker beneath
            // us put its saved bytes back, or wrote its own jump again, over our patch
};
const char* patchStateName(PatchState state);

// What the first bytes of a created hook's target hold now.
PatchState patchState(void* target);

// For a hook whose patch is gone: a new trampoline built from the bytes now at the target (the
// old one is kept for good: a thread may be inside it, and it may lead into a module that has
// left). The hook is left disabled; enable it once the new trampoline is stored where the
// detour reads it.
MH_STATUS rebuildHook(void* target, void** original);

// Called once per hook when a disable, removal or uninitialisation leaves it chained beneath
// another module's patch, outside the engine's lock. `jumpsTo` is where the bytes now at the
// target lead (null when they are no jump).
using ChainNotice = void (*)(const void* target, const void* jumpsTo);
void setChainNotice(ChainNotice notice);

// Where the jump at `code` leads (jmp rel32/rel8, jmp qword [rip+disp], mov rax, imm64 ; jmp
// rax); false when the bytes there are no such jump.
bool jumpDestination(const void* code, const void** destination);

// The file name (no folder) of the module the jump at `code` leads into, following further
// jumps (at most four) through memory of no module, such as a hooker's relay. Writes at most
// `capacity` wide characters including the terminator; 0 when no module is found.
size_t jumpModuleName(const void* code, wchar_t* out, size_t capacity);

}  // namespace zor::hook
