// A lock-free first look for the PSSetShaderResources detour: the views identification has
// handed to the GPS texture replacer. A view that is not in here is certainly not one the
// replacer would replace, so the detour asks the replacer (and takes its lock) only for views
// that are. Stale entries are harmless (the replacer answers "none"); when more views were
// added than there are slots, every view is looked up.
//
// Two looks: mayMatch() tests one bit of a 256-bit summary of the listed addresses (no loop, a
// "yes" may be wrong about one view in a hundred), mayContain() also walks the slots.
//
// Ordering that keeps the filter from ever missing a registered view: add() is called after
// the view was registered with the replacer, and clear() before the replacer's registered
// views are released.
#pragma once

#include <d3d11.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace zor {

class RegisteredViewFilter {
 public:
  static constexpr uint32_t kSlots = 32;

  void add(ID3D11ShaderResourceView* view) noexcept {
    if (!view || mayContainListed(view)) return;
    // The summary bit first: a reader that finds the view in a slot finds its bit as well.
    const unsigned bit = bitIndex(view);
    summary_[bit >> 6].fetch_or(uint64_t{1} << (bit & 63), std::memory_order_acq_rel);
    const uint32_t i = next_.fetch_add(1, std::memory_order_acq_rel);
    if (i >= kSlots) {
      for (auto& word : summary_) word.store(~uint64_t{0}, std::memory_order_release);
      overflow_.store(true, std::memory_order_release);
      return;
    }
    slots_[i].store(view, std::memory_order_release);
  }

  // Whether any view was added since the last clear().
  bool anyListed() const noexcept { return next_.load(std::memory_order_acquire) != 0; }

  // False: certainly not listed. True: perhaps.
  bool mayMatch(const void* view) const noexcept {
    const unsigned bit = bitIndex(view);
    return ((summary_[bit >> 6].load(std::memory_order_acquire) >> (bit & 63)) & 1u) != 0;
  }

  bool mayContain(ID3D11ShaderResourceView* view) const noexcept {
    if (overflow_.load(std::memory_order_acquire)) return true;
    if (!mayMatch(view)) return false;
    return mayContainListed(view);
  }

  void clear() noexcept {
    overflow_.store(false, std::memory_order_release);
    for (auto& s : slots_) s.store(nullptr, std::memory_order_release);
    next_.store(0, std::memory_order_release);
    for (auto& word : summary_) word.store(0, std::memory_order_release);
  }

 private:
  // The top eight bits of a 32-bit multiplicative hash of the address.
  static unsigned bitIndex(const void* view) noexcept {
    return (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(view) >> 4) * 0x9E3779B1u) >> 24;
  }

  bool mayContainListed(ID3D11ShaderResourceView* view) const noexcept {
    uint32_t n = next_.load(std::memory_order_acquire);
    if (n > kSlots) n = kSlots;
    for (uint32_t i = 0; i < n; ++i) {
      if (slots_[i].load(std::memory_order_acquire) == view) return true;
    }
    return false;
  }

  std::array<std::atomic<uint64_t>, 4> summary_{};
  std::atomic<uint32_t> next_{0};
  std::atomic<bool> overflow_{false};
  std::array<std::atomic<ID3D11ShaderResourceView*>, kSlots> slots_{};
};

}  // namespace zor
