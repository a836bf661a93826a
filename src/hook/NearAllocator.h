// Executable memory for trampolines, handed out in fixed slots from 64 KB blocks placed
// close to the hooked functions, so that a 5-byte jmp reaches the slot and the rel32
// operands moved into it still reach what they referred to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace zor::hook {

class NearAllocator {
 public:
  NearAllocator() = default;
  NearAllocator(const NearAllocator&) = delete;
  NearAllocator& operator=(const NearAllocator&) = delete;

  // A slot of kSlotSize bytes whose start lies in [low, high], searching outwards from
  // `around` when a new block is needed. Null when no memory can be had there.
  uint8_t* allocate(uint64_t low, uint64_t high, uint64_t around);

  // Gives a slot back. A pinned slot is never handed out again and keeps its block alive
  // for the life of the process: code may still return into it. Otherwise fresh slots are
  // preferred and given-back ones reused oldest first, so a stale trampoline pointer keeps
  // working as long as possible.
  void release(uint8_t* slot, bool pinned);

  // Frees the blocks that hold no live and no pinned slot (MH_Uninitialize).
  void releaseUnused();

  size_t blockCount() const { return blocks_.size(); }

 private:
  struct Block {
    uint8_t* base = nullptr;
    uint32_t fresh = 0;   // slots never handed out start here
    uint32_t live = 0;
    uint32_t pinned = 0;
    std::deque<uint16_t> returned;
  };
  uint8_t* takeFrom(Block& block);
  static uint8_t* reserveBlockNear(uint64_t baseLow, uint64_t baseHigh, uint64_t around);

  std::vector<Block> blocks_;
};

}  // namespace zor::hook
