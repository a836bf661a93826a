#include "ForeignHook.h"

#if !defined(ZOR_SYSTEM_MINHOOK)
#include <windows.h>

#include <cstring>

#include "NearAllocator.h"
#include "TrampolineBuilder.h"

namespace zor::test {
namespace {

constexpr size_t kAbsoluteJumpSize = 14;  // jmp qword [rip+0] ; dq address

// Its own memory, apart from the engine's (another module's hooking library).
hook::NearAllocator& memory() {
  static auto* allocator = new hook::NearAllocator();
  return *allocator;
}

void encodeAbsoluteJump(uint64_t to, uint8_t* out) {
  const uint8_t head[6] = {0xFF, 0x25, 0, 0, 0, 0};
  std::memcpy(out, head, 6);
  std::memcpy(out + 6, &to, 8);
}

bool writeCode(void* at, const void* bytes, size_t size) {
  DWORD old = 0;
  if (!VirtualProtect(at, size, PAGE_EXECUTE_READWRITE, &old)) return false;
  std::memcpy(at, bytes, size);
  DWORD ignored = 0;
  VirtualProtect(at, size, old, &ignored);
  FlushInstructionCache(GetCurrentProcess(), at, size);
  return true;
}

}  // namespace

bool ForeignHook::install(void* target, void* detour, Encoding encoding, size_t movedLength) {
  if (target_) return false;
  auto* code = static_cast<uint8_t*>(target);
  const auto at = reinterpret_cast<uint64_t>(target);
  uint8_t image[hook::kSlotSize];
  std::memset(image, 0xCC, sizeof image);
  uint8_t* slot = nullptr;
  if (encoding == Encoding::JmpRel32) {
    uint8_t bytes[1100];
    SIZE_T got = 0;
    ReadProcessMemory(GetCurrentProcess(), code, bytes, sizeof bytes, &got);
    hook::TrampolinePlan plan;
    if (hook::planTrampoline(at, bytes, got, plan) != hook::PlanError::None) return false;
    slot = memory().allocate(plan.reachLow, plan.reachHigh, at);
    hook::Boundary table[hook::kMaxStolenInstructions + 1];
    uint8_t count = 0;
    if (!slot || !hook::emitTrampoline(plan, reinterpret_cast<uint64_t>(slot), image, table, count)) return false;
    hook::encodeRelay(reinterpret_cast<uint64_t>(detour), image + hook::kRelayOffset);
    length_ = hook::kPatchSize;
    if (!hook::encodeJmpRel32(at, reinterpret_cast<uint64_t>(slot + hook::kRelayOffset), jump_)) return false;
  } else {
    if (movedLength < kAbsoluteJumpSize || movedLength + kAbsoluteJumpSize > sizeof image) return false;
    slot = memory().allocate(0, UINT64_MAX - hook::kSlotSize, at);
    if (!slot) return false;
    std::memcpy(image, code, movedLength);
    encodeAbsoluteJump(at + movedLength, image + movedLength);
    length_ = kAbsoluteJumpSize;
    encodeAbsoluteJump(reinterpret_cast<uint64_t>(detour), jump_);
  }
  std::memcpy(saved_, code, length_);
  if (!writeCode(slot, image, sizeof image)) return false;
  target_ = code;
  trampoline_ = slot;
  write(jump_);
  return true;
}

bool ForeignHook::inPlace() const { return target_ && std::memcmp(target_, jump_, length_) == 0; }

void ForeignHook::takeAway() {
  if (target_) write(saved_);
}

void ForeignHook::writeAgain() {
  if (target_) write(jump_);
}

void ForeignHook::write(const uint8_t* bytes) { writeCode(target_, bytes, length_); }

}  // namespace zor::test
#endif
