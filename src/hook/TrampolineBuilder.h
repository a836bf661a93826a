// Reads the first instructions of a function and works out how to move them into a
// trampoline: which whole instructions the 5-byte patch displaces, how each one must be
// rewritten at its new address, and where in memory the trampoline may live so that every
// rel32 it contains still reaches. Pure computation on a copy of the code bytes; nothing here
// touches live memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::hook {

// The patch written over the target: jmp rel32.
inline constexpr size_t kPatchSize = 5;
// Room for one trampoline plus the relay the patch jumps to. The relay ends the slot, so that
// its 8-byte destination is aligned and can be changed with one store while code runs through it.
inline constexpr size_t kSlotSize = 64;
inline constexpr size_t kRelaySize = 16;  // jmp qword [rip+2] ; int3 int3 ; dq address
inline constexpr size_t kRelayOffset = kSlotSize - kRelaySize;
inline constexpr size_t kRelayAddressOffset = kRelayOffset + 8;
inline constexpr size_t kMaxTrampolineSize = kRelayOffset;
inline constexpr size_t kMaxStolenInstructions = 8;

enum class Rewrite : uint8_t {
  Copy,       // position-independent: copied as is
  RipMemory,  // RIP-relative memory operand: disp32 recomputed
  Jmp,        // jmp rel8/rel32 -> jmp rel32
  Call,       // call rel32 -> call rel32
  Jcc,        // jcc rel8/rel32 -> jcc rel32
  ShortLocal  // loop/jrcxz whose target lies within the moved bytes: rel8 recomputed
};

struct MovedInstruction {
  uint8_t oldOffset = 0;  // from the start of the target
  uint8_t oldLength = 0;
  uint8_t newOffset = 0;  // from the start of the trampoline
  uint8_t newLength = 0;
  Rewrite rewrite = Rewrite::Copy;
  uint8_t condition = 0;   // jcc condition code (low nibble of the opcode)
  uint8_t dispOffset = 0;  // RipMemory: where disp32 sits in the instruction
  bool local = false;      // branch target lies inside the moved bytes
  uint8_t localOffset = 0; // that target, as an offset from the start of the target
  uint64_t absolute = 0;   // branch target or memory operand address
};

// Where an instruction starts in the original function and in the trampoline. The last entry
// of a table that jumps back pairs the end of the moved bytes with that jump.
struct Boundary {
  uint8_t oldOffset;
  uint8_t newOffset;
};

enum class PlanError : uint8_t {
  None,
  Undecodable,          // an instruction the decoder rejects, or code ending before 5 bytes
  TooShort,             // ret/jmp before 5 bytes and what follows is not int3/nop padding
  LoopLeavesMovedBytes, // loop/jrcxz/jecxz to a target outside the moved bytes
  BranchIntoPatch,      // another part of the function jumps into the bytes the patch covers
  BranchMisaligned,     // a moved branch targets the middle of a moved instruction
  CallReturnsIntoPatch, // a moved call whose return address lies under the patch
  UnsupportedOperand,   // EIP-relative address, 16-bit branch, xbegin and the like
  TooLarge,             // the rewritten instructions do not fit a slot
  OutOfReach            // referenced addresses too far apart for one rel32 window
};

struct TrampolinePlan {
  uint64_t target = 0;
  uint8_t movedLength = 0;  // bytes of whole instructions moved (may be < 5 with padding)
  bool jumpsBack = true;    // false when the moved code ends in ret/jmp
  bool containsCall = false;
  uint8_t original[32] = {};  // the moved bytes as they were
  uint8_t count = 0;
  MovedInstruction moved[kMaxStolenInstructions];
  uint8_t codeSize = 0;     // trampoline bytes including the jump back
  // The trampoline must start inside [reachLow, reachHigh] for every rel32 in it (and the
  // jmp from the target to the relay) to reach.
  uint64_t reachLow = 0;
  uint64_t reachHigh = 0;
};

// `code` is a copy of the bytes at `target` (`available` of them can be read; more are
// scanned, up to about 1 KB, to find branches back into the moved bytes).
PlanError planTrampoline(uint64_t target, const uint8_t* code, size_t available, TrampolinePlan& plan);

// Writes the trampoline for address `at` into `out` (plan.codeSize bytes) and the boundary
// table (at most kMaxStolenInstructions + 1 entries). False if a displacement does not fit.
bool emitTrampoline(const TrampolinePlan& plan, uint64_t at, uint8_t* out, Boundary* table,
                    uint8_t& tableCount);

// jmp rel32 from `from` to `to`; false when out of reach.
bool encodeJmpRel32(uint64_t from, uint64_t to, uint8_t out[kPatchSize]);
// jmp qword [rip+2], two int3, then the 8-byte destination (aligned when `out` is).
void encodeRelay(uint64_t to, uint8_t out[kRelaySize]);

const char* planErrorName(PlanError error);

}  // namespace zor::hook
