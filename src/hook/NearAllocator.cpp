#include "NearAllocator.h"

#include <windows.h>

#include <algorithm>

#include "TrampolineBuilder.h"

namespace zor::hook {
namespace {

constexpr uint64_t kBlockSize = 0x10000;
constexpr uint32_t kSlotsPerBlock = kBlockSize / kSlotSize;

struct AddressSpace {
  uint64_t granularity;
  uint64_t lowest;
  uint64_t highest;
};

AddressSpace addressSpace() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return {si.dwAllocationGranularity, reinterpret_cast<uint64_t>(si.lpMinimumApplicationAddress),
          reinterpret_cast<uint64_t>(si.lpMaximumApplicationAddress)};
}

uint64_t alignDown(uint64_t v, uint64_t a) { return v - v % a; }
uint64_t alignUp(uint64_t v, uint64_t a) { return alignDown(v + a - 1, a); }

uint8_t* tryReserve(uint64_t base, const MEMORY_BASIC_INFORMATION& mbi) {
  const uint64_t regionEnd = reinterpret_cast<uint64_t>(mbi.BaseAddress) + mbi.RegionSize;
  if (mbi.State != MEM_FREE || regionEnd < base + kBlockSize) return nullptr;
  return static_cast<uint8_t*>(VirtualAlloc(reinterpret_cast<void*>(base), kBlockSize,
                                            MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READ));
}

}  // namespace

uint8_t* NearAllocator::takeFrom(Block& block) {
  uint32_t index;
  if (block.fresh < kSlotsPerBlock) {
    index = block.fresh++;
  } else if (!block.returned.empty()) {
    index = block.returned.front();
    block.returned.pop_front();
  } else {
    return nullptr;
  }
  ++block.live;
  return block.base + static_cast<uint64_t>(index) * kSlotSize;
}

uint8_t* NearAllocator::allocate(uint64_t low, uint64_t high, uint64_t around) {
  if (high < low || high + kSlotSize < kBlockSize) return nullptr;
  const uint64_t baseLow = low;
  const uint64_t baseHigh = high + kSlotSize - kBlockSize;
  for (Block& b : blocks_) {
    const uint64_t base = reinterpret_cast<uint64_t>(b.base);
    if (base < baseLow || base > baseHigh) continue;
    if (uint8_t* slot = takeFrom(b)) return slot;
  }
  uint8_t* base = reserveBlockNear(baseLow, baseHigh, around);
  if (!base) return nullptr;
  blocks_.push_back(Block{});
  blocks_.back().base = base;
  return takeFrom(blocks_.back());
}

uint8_t* NearAllocator::reserveBlockNear(uint64_t baseLow, uint64_t baseHigh, uint64_t around) {
  const AddressSpace as = addressSpace();
  const uint64_t g = as.granularity;
  const uint64_t lo = std::max(alignUp(baseLow, g), alignUp(as.lowest, g));
  const uint64_t hiLimit = as.highest + 1 >= kBlockSize ? as.highest + 1 - kBlockSize : 0;
  const uint64_t hi = alignDown(std::min(baseHigh, hiLimit), g);
  if (lo > hi) return nullptr;
  const uint64_t start = std::min(std::max(alignDown(around, g), lo), hi);

  // Below the target first, then above it.
  MEMORY_BASIC_INFORMATION mbi;
  for (uint64_t a = start; a >= lo;) {
    if (!VirtualQuery(reinterpret_cast<void*>(a), &mbi, sizeof mbi)) break;
    if (uint8_t* p = tryReserve(a, mbi)) return p;
    uint64_t next;
    if (mbi.State == MEM_FREE) {
      next = a - g;  // the free range ends too soon above a: try lower inside it
    } else {
      const uint64_t regionBase = reinterpret_cast<uint64_t>(mbi.AllocationBase ? mbi.AllocationBase : mbi.BaseAddress);
      next = alignDown(std::min(regionBase, a), g);
      next = next >= g ? next - g : 0;
    }
    if (next >= a || next < lo) break;
    a = next;
  }
  for (uint64_t a = start + g; a <= hi;) {
    if (!VirtualQuery(reinterpret_cast<void*>(a), &mbi, sizeof mbi)) break;
    if (uint8_t* p = tryReserve(a, mbi)) return p;
    uint64_t next = alignUp(reinterpret_cast<uint64_t>(mbi.BaseAddress) + mbi.RegionSize, g);
    if (next <= a) next = a + g;
    a = next;
  }
  return nullptr;
}

void NearAllocator::release(uint8_t* slot, bool pinned) {
  for (Block& b : blocks_) {
    if (slot < b.base || slot >= b.base + kBlockSize) continue;
    --b.live;
    if (!pinned) {
      try {
        b.returned.push_back(static_cast<uint16_t>((slot - b.base) / kSlotSize));
        return;
      } catch (...) {
        // Out of memory: the slot is simply never reused.
      }
    }
    ++b.pinned;
    return;
  }
}

void NearAllocator::releaseUnused() {
  for (size_t i = 0; i < blocks_.size();) {
    Block& b = blocks_[i];
    if (b.live == 0 && b.pinned == 0) {
      VirtualFree(b.base, 0, MEM_RELEASE);
      blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

}  // namespace zor::hook
