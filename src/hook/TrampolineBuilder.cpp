#include "TrampolineBuilder.h"

#include <Zydis/Zydis.h>

#include <algorithm>
#include <cstring>

namespace zor::hook {
namespace {

// How far past the moved bytes we look for branches that come back into them.
constexpr size_t kScanBytes = 1024;
// Keeps every rel32 comfortably inside its +-2 GB range.
constexpr uint64_t kReach = 0x7FFFFF00ull;

struct Decoded {
  ZydisDecodedInstruction ins;
  ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
};

bool decode(const ZydisDecoder& decoder, const uint8_t* code, size_t length, Decoded& out) {
  return ZYAN_SUCCESS(ZydisDecoderDecodeFull(&decoder, code, length, &out.ins, out.ops));
}

// Instructions after which execution never falls through to the next byte.
bool endsFlow(const ZydisDecodedInstruction& ins) {
  switch (ins.mnemonic) {
    case ZYDIS_MNEMONIC_RET:
    case ZYDIS_MNEMONIC_JMP:
    case ZYDIS_MNEMONIC_UD2:
    case ZYDIS_MNEMONIC_IRET:
    case ZYDIS_MNEMONIC_IRETD:
    case ZYDIS_MNEMONIC_IRETQ:
      return true;
    default:
      return false;
  }
}

bool isShortOnlyBranch(ZydisMnemonic m) {
  return m == ZYDIS_MNEMONIC_JRCXZ || m == ZYDIS_MNEMONIC_JECXZ || m == ZYDIS_MNEMONIC_JCXZ ||
         m == ZYDIS_MNEMONIC_LOOP || m == ZYDIS_MNEMONIC_LOOPE || m == ZYDIS_MNEMONIC_LOOPNE;
}

// jcc rel8 (70-7F) or jcc rel32 (0F 80-8F); other conditional branches (xbegin, loop...)
// share the category but not the encoding.
bool isJcc(const ZydisDecodedInstruction& ins) {
  if (ins.meta.category != ZYDIS_CATEGORY_COND_BR) return false;
  if (ins.opcode_map == ZYDIS_OPCODE_MAP_DEFAULT) return ins.opcode >= 0x70 && ins.opcode <= 0x7F;
  if (ins.opcode_map == ZYDIS_OPCODE_MAP_0F) return ins.opcode >= 0x80 && ins.opcode <= 0x8F;
  return false;
}

const ZydisDecodedOperand* relativeImmediate(const Decoded& d) {
  for (uint8_t i = 0; i < d.ins.operand_count; ++i) {
    if (d.ops[i].type == ZYDIS_OPERAND_TYPE_IMMEDIATE && d.ops[i].imm.is_relative) return &d.ops[i];
  }
  return nullptr;
}

// The relative branch target of an instruction, if it has one.
bool branchTarget(const Decoded& d, uint64_t address, uint64_t& target) {
  const ZydisDecodedOperand* op = relativeImmediate(d);
  if (!op) return false;
  ZyanU64 abs = 0;
  if (!ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&d.ins, op, address, &abs))) return false;
  target = abs;
  return true;
}

// Decides how one instruction is rewritten. `address` is where it sits in the target.
PlanError classify(const Decoded& d, uint64_t address, MovedInstruction& m) {
  const ZydisDecodedInstruction& ins = d.ins;
  if (const ZydisDecodedOperand* op = relativeImmediate(d)) {
    if (ins.operand_width == 16) return PlanError::UnsupportedOperand;
    ZyanU64 abs = 0;
    if (!ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&ins, op, address, &abs))) {
      return PlanError::UnsupportedOperand;
    }
    m.absolute = abs;
    m.dispOffset = ins.raw.imm[0].offset;
    if (isShortOnlyBranch(ins.mnemonic)) {
      m.rewrite = Rewrite::ShortLocal;
    } else if (ins.mnemonic == ZYDIS_MNEMONIC_JMP) {
      m.rewrite = Rewrite::Jmp;
    } else if (ins.mnemonic == ZYDIS_MNEMONIC_CALL) {
      m.rewrite = Rewrite::Call;
    } else if (isJcc(ins)) {
      m.rewrite = Rewrite::Jcc;
      m.condition = static_cast<uint8_t>(ins.opcode & 0x0F);
    } else {
      return PlanError::UnsupportedOperand;  // xbegin and other rel operands
    }
    return PlanError::None;
  }
  for (uint8_t i = 0; i < ins.operand_count; ++i) {
    const ZydisDecodedOperand& op = d.ops[i];
    if (op.type != ZYDIS_OPERAND_TYPE_MEMORY) continue;
    if (op.mem.base == ZYDIS_REGISTER_EIP || op.mem.base == ZYDIS_REGISTER_IP) {
      return PlanError::UnsupportedOperand;
    }
    if (op.mem.base != ZYDIS_REGISTER_RIP) continue;
    if (ins.raw.disp.size != 32) return PlanError::UnsupportedOperand;
    ZyanU64 abs = 0;
    if (!ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&ins, &op, address, &abs))) {
      return PlanError::UnsupportedOperand;
    }
    m.rewrite = Rewrite::RipMemory;
    m.absolute = abs;
    m.dispOffset = ins.raw.disp.offset;
    return PlanError::None;
  }
  m.rewrite = Rewrite::Copy;
  return PlanError::None;
}

uint8_t rewrittenLength(const MovedInstruction& m) {
  switch (m.rewrite) {
    case Rewrite::Jmp:
    case Rewrite::Call:
      return 5;
    case Rewrite::Jcc:
      return 6;
    default:
      return m.oldLength;
  }
}

bool isPadding(uint8_t b) { return b == 0xCC || b == 0x90; }

bool fitsRel32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

void putRel32(uint8_t* p, int64_t v) {
  const int32_t r = static_cast<int32_t>(v);
  std::memcpy(p, &r, 4);
}

}  // namespace

bool encodeJmpRel32(uint64_t from, uint64_t to, uint8_t out[kPatchSize]) {
  const int64_t rel = static_cast<int64_t>(to - (from + kPatchSize));
  if (!fitsRel32(rel)) return false;
  out[0] = 0xE9;
  putRel32(out + 1, rel);
  return true;
}

void encodeRelay(uint64_t to, uint8_t out[kRelaySize]) {
  const uint8_t head[8] = {0xFF, 0x25, 2, 0, 0, 0, 0xCC, 0xCC};
  std::memcpy(out, head, 8);
  std::memcpy(out + 8, &to, 8);
}

PlanError planTrampoline(uint64_t target, const uint8_t* code, size_t available, TrampolinePlan& plan) {
  plan = TrampolinePlan{};
  plan.target = target;

  ZydisDecoder decoder;
  if (!ZYAN_SUCCESS(ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64))) {
    return PlanError::Undecodable;
  }

  // 1. Whole instructions until the patch is covered or the function's flow ends.
  size_t off = 0;
  bool ended = false;
  while (off < kPatchSize) {
    if (plan.count == kMaxStolenInstructions) return PlanError::TooLarge;
    Decoded d;
    if (off >= available || !decode(decoder, code + off, available - off, d)) {
      return PlanError::Undecodable;
    }
    MovedInstruction m;
    m.oldOffset = static_cast<uint8_t>(off);
    m.oldLength = d.ins.length;
    if (PlanError e = classify(d, target + off, m); e != PlanError::None) return e;
    if (d.ins.mnemonic == ZYDIS_MNEMONIC_CALL) {
      plan.containsCall = true;
      // A thread inside the callee would come back into the middle of the patch.
      if (off + m.oldLength < kPatchSize) return PlanError::CallReturnsIntoPatch;
    }
    plan.moved[plan.count++] = m;
    off += d.ins.length;
    if (endsFlow(d.ins)) {
      ended = true;
      break;
    }
  }
  plan.movedLength = static_cast<uint8_t>(off);
  plan.jumpsBack = !ended;
  if (off < kPatchSize) {
    // The function ended early: the rest of the patch may only cover int3/nop padding.
    if (available < kPatchSize) return PlanError::TooShort;
    for (size_t i = off; i < kPatchSize; ++i) {
      if (!isPadding(code[i])) return PlanError::TooShort;
    }
  }
  std::memcpy(plan.original, code, plan.movedLength);

  // 2. Branches of the moved instructions that stay within them are kept relative to the
  //    trampoline; loop/jrcxz have no long form, so they must stay local.
  const size_t guarded = std::max<size_t>(plan.movedLength, kPatchSize);
  for (uint8_t i = 0; i < plan.count; ++i) {
    MovedInstruction& m = plan.moved[i];
    const bool branch = m.rewrite == Rewrite::Jmp || m.rewrite == Rewrite::Call ||
                        m.rewrite == Rewrite::Jcc || m.rewrite == Rewrite::ShortLocal;
    if (!branch) continue;
    // A call to the entry itself is a recursive call: it goes through the patch like any other.
    const bool entryCall = m.rewrite == Rewrite::Call && m.absolute == target;
    if (!entryCall && m.absolute >= target && m.absolute < target + guarded) {
      const uint64_t local = m.absolute - target;
      bool aligned = false;
      for (uint8_t j = 0; j < plan.count; ++j) aligned |= plan.moved[j].oldOffset == local;
      if (!aligned) return PlanError::BranchMisaligned;
      m.local = true;
      m.localOffset = static_cast<uint8_t>(local);
    } else if (m.rewrite == Rewrite::ShortLocal) {
      return PlanError::LoopLeavesMovedBytes;
    }
  }

  // 3. The rest of the function, as far as a linear sweep can follow it: nothing may jump
  //    into the bytes under the patch. The entry itself is allowed: the sweep may run into
  //    the next functions, whose calls and tail jumps to this one are ordinary entries.
  {
    const size_t limit = std::min(available, plan.movedLength + kScanBytes);
    size_t pos = plan.movedLength;
    bool afterEnd = ended;
    while (pos < limit) {
      Decoded d;
      if (!decode(decoder, code + pos, limit - pos, d)) break;
      // int3 after a ret/jmp is padding: the function ended. Nops are not a reliable end
      // (loop heads after a jmp are aligned with them), so the sweep goes on through them.
      if (afterEnd && d.ins.mnemonic == ZYDIS_MNEMONIC_INT3) break;
      uint64_t dest = 0;
      if (branchTarget(d, target + pos, dest) && dest > target && dest < target + guarded) {
        return PlanError::BranchIntoPatch;
      }
      afterEnd = endsFlow(d.ins);
      pos += d.ins.length;
    }
  }

  // 4. Layout in the trampoline.
  size_t at = 0;
  for (uint8_t i = 0; i < plan.count; ++i) {
    MovedInstruction& m = plan.moved[i];
    m.newOffset = static_cast<uint8_t>(at);
    m.newLength = rewrittenLength(m);
    at += m.newLength;
  }
  if (plan.jumpsBack) at += 5;
  if (at > kMaxTrampolineSize) return PlanError::TooLarge;
  plan.codeSize = static_cast<uint8_t>(at);

  // 5. The window every rel32 of the trampoline (and the patch's jmp to the relay) can reach.
  uint64_t lowest = target;
  uint64_t highest = target;
  auto need = [&](uint64_t a) {
    lowest = std::min(lowest, a);
    highest = std::max(highest, a);
  };
  if (plan.jumpsBack) need(target + plan.movedLength);
  for (uint8_t i = 0; i < plan.count; ++i) {
    const MovedInstruction& m = plan.moved[i];
    if (m.rewrite != Rewrite::Copy && m.rewrite != Rewrite::ShortLocal && !m.local) need(m.absolute);
  }
  plan.reachLow = highest > kReach ? highest - kReach : 0;
  plan.reachHigh = lowest + kReach < lowest ? UINT64_MAX : lowest + kReach - kSlotSize;
  if (plan.reachLow > plan.reachHigh) return PlanError::OutOfReach;
  return PlanError::None;
}

bool emitTrampoline(const TrampolinePlan& plan, uint64_t at, uint8_t* out, Boundary* table,
                    uint8_t& tableCount) {
  auto newOffsetOf = [&](uint8_t oldOffset) -> uint8_t {
    for (uint8_t j = 0; j < plan.count; ++j) {
      if (plan.moved[j].oldOffset == oldOffset) return plan.moved[j].newOffset;
    }
    return 0;  // planTrampoline only lets aligned local targets through
  };
  tableCount = 0;
  for (uint8_t i = 0; i < plan.count; ++i) {
    const MovedInstruction& m = plan.moved[i];
    uint8_t* p = out + m.newOffset;
    const uint64_t end = at + m.newOffset + m.newLength;
    const uint64_t dest = m.local ? at + newOffsetOf(m.localOffset) : m.absolute;
    const int64_t rel = static_cast<int64_t>(dest - end);
    switch (m.rewrite) {
      case Rewrite::Copy:
        std::memcpy(p, plan.original + m.oldOffset, m.oldLength);
        break;
      case Rewrite::RipMemory:
        if (!fitsRel32(rel)) return false;
        std::memcpy(p, plan.original + m.oldOffset, m.oldLength);
        putRel32(p + m.dispOffset, rel);
        break;
      case Rewrite::Jmp:
      case Rewrite::Call:
        if (!fitsRel32(rel)) return false;
        p[0] = m.rewrite == Rewrite::Jmp ? 0xE9 : 0xE8;
        putRel32(p + 1, rel);
        break;
      case Rewrite::Jcc:
        if (!fitsRel32(rel)) return false;
        p[0] = 0x0F;
        p[1] = static_cast<uint8_t>(0x80 | m.condition);
        putRel32(p + 2, rel);
        break;
      case Rewrite::ShortLocal:
        if (rel < INT8_MIN || rel > INT8_MAX) return false;
        std::memcpy(p, plan.original + m.oldOffset, m.oldLength);
        p[m.dispOffset] = static_cast<uint8_t>(static_cast<int8_t>(rel));
        break;
    }
    table[tableCount++] = Boundary{m.oldOffset, m.newOffset};
  }
  if (plan.jumpsBack) {
    const uint8_t back = static_cast<uint8_t>(plan.codeSize - 5);
    if (!encodeJmpRel32(at + back, plan.target + plan.movedLength, out + back)) return false;
    table[tableCount++] = Boundary{plan.movedLength, back};
  }
  return true;
}

const char* planErrorName(PlanError error) {
  switch (error) {
    case PlanError::None: return "none";
    case PlanError::Undecodable: return "undecodable instruction";
    case PlanError::TooShort: return "function shorter than the patch";
    case PlanError::LoopLeavesMovedBytes: return "loop/jrcxz leaves the moved bytes";
    case PlanError::BranchIntoPatch: return "branch back into the patched bytes";
    case PlanError::BranchMisaligned: return "branch into the middle of a moved instruction";
    case PlanError::CallReturnsIntoPatch: return "call returns into the patched bytes";
    case PlanError::UnsupportedOperand: return "operand that cannot be relocated";
    case PlanError::TooLarge: return "moved code too large";
    case PlanError::OutOfReach: return "referenced addresses out of reach";
  }
  return "unknown";
}

}  // namespace zor::hook
