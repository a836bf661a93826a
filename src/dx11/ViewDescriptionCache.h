// What the game's bound views are, remembered per view: the PSSetShaderResources detour (and the
// DrawIndexed detour, for the view in the dashboard screen's slot) reads a view's texture
// description (four COM calls) once in the view's life instead of at every binding or draw. A view created at the address of a released one goes through the
// CreateShaderResourceView detour, which forgets that address; so the cache is consulted only
// while that hook is in place, and emptied before it is put in place.
//
// Lock-free, fixed size, no allocation: each entry has a sequence word that is odd while the
// entry is written; a reader that sees it odd or changed takes the entry as missing. Two entries
// per view address (the second one next to the first); a full pair loses its older entry.
#pragma once

#include <d3d11.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace zor {

// The facts identification and the size rule need about a bound view.
struct ViewFacts {
  ID3D11Texture2D* texture = nullptr;  // no reference held; null: not a 2D texture
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t format = 0;
  uint32_t mipLevels = 0;
  uint32_t bindFlags = 0;
  bool plausible = false;  // passes the GPS plausibility filter

  // A description with the fields the rules read (the others as a plain texture has them).
  D3D11_TEXTURE2D_DESC desc() const noexcept {
    D3D11_TEXTURE2D_DESC d{};
    d.Width = width;
    d.Height = height;
    d.MipLevels = mipLevels;
    d.ArraySize = 1;
    d.Format = static_cast<DXGI_FORMAT>(format);
    d.SampleDesc.Count = 1;
    d.BindFlags = bindFlags;
    return d;
  }
};

class ViewDescriptionCache {
 public:
  static constexpr size_t kEntries = 4096;  // a power of two

  enum class Verdict : uint8_t { Unknown, Implausible, Plausible };

  // The plausibility verdict alone (the detour's first look).
  Verdict verdict(const void* view) const noexcept {
    const size_t i = indexOf(view);
    for (size_t k = 0; k < 2; ++k) {
      const Entry& e = entries_[i ^ k];
      const uint32_t seq = e.seq.load(std::memory_order_acquire);
      if (seq & 1u) continue;
      if (e.view.load(std::memory_order_relaxed) != reinterpret_cast<uintptr_t>(view)) continue;
      const uint64_t meta = e.meta.load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (e.seq.load(std::memory_order_relaxed) != seq) return Verdict::Unknown;
      return (meta & kPlausibleBit) ? Verdict::Plausible : Verdict::Implausible;
    }
    return Verdict::Unknown;
  }

  // Everything known about the view; false when it is not (or no longer) in the cache.
  bool find(const void* view, ViewFacts& out) const noexcept {
    const size_t i = indexOf(view);
    for (size_t k = 0; k < 2; ++k) {
      const Entry& e = entries_[i ^ k];
      const uint32_t seq = e.seq.load(std::memory_order_acquire);
      if (seq & 1u) continue;
      if (e.view.load(std::memory_order_relaxed) != reinterpret_cast<uintptr_t>(view)) continue;
      const uintptr_t texture = e.texture.load(std::memory_order_relaxed);
      const uint64_t size = e.size.load(std::memory_order_relaxed);
      const uint64_t formatBind = e.formatBind.load(std::memory_order_relaxed);
      const uint64_t meta = e.meta.load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (e.seq.load(std::memory_order_relaxed) != seq) return false;
      out.texture = reinterpret_cast<ID3D11Texture2D*>(texture);
      out.width = static_cast<uint32_t>(size);
      out.height = static_cast<uint32_t>(size >> 32);
      out.format = static_cast<uint32_t>(formatBind);
      out.bindFlags = static_cast<uint32_t>(formatBind >> 32);
      out.mipLevels = static_cast<uint32_t>(meta >> 32);
      out.plausible = (meta & kPlausibleBit) != 0;
      return true;
    }
    return false;
  }

  // Remembers the view; skipped when another thread is writing the entry it would take.
  void store(const void* view, const ViewFacts& facts) noexcept {
    const size_t i = indexOf(view);
    const uintptr_t key = reinterpret_cast<uintptr_t>(view);
    // Its own entry if it has one, else a free one, else the one its address picks.
    size_t pick = i ^ ((key >> 12) & 1u);
    for (size_t k = 0; k < 2; ++k) {
      if (entries_[i ^ k].view.load(std::memory_order_relaxed) == key) {
        pick = i ^ k;
        break;
      }
      if (entries_[i ^ k].view.load(std::memory_order_relaxed) == 0) pick = i ^ k;
    }
    Entry& e = entries_[pick];
    uint32_t seq = e.seq.load(std::memory_order_relaxed);
    if ((seq & 1u) || !e.seq.compare_exchange_strong(seq, seq + 1, std::memory_order_acq_rel)) return;
    std::atomic_thread_fence(std::memory_order_release);
    e.view.store(key, std::memory_order_relaxed);
    e.texture.store(reinterpret_cast<uintptr_t>(facts.texture), std::memory_order_relaxed);
    e.size.store(uint64_t{facts.width} | (uint64_t{facts.height} << 32), std::memory_order_relaxed);
    e.formatBind.store(uint64_t{facts.format} | (uint64_t{facts.bindFlags} << 32), std::memory_order_relaxed);
    e.meta.store((facts.plausible ? kPlausibleBit : 0) | (uint64_t{facts.mipLevels} << 32), std::memory_order_relaxed);
    e.seq.store(seq + 2, std::memory_order_release);
  }

  // Forgets whatever is known about the address (a view has just been created there).
  void forget(const void* view) noexcept {
    const size_t i = indexOf(view);
    const uintptr_t key = reinterpret_cast<uintptr_t>(view);
    for (size_t k = 0; k < 2; ++k) {
      Entry& e = entries_[i ^ k];
      for (;;) {
        uint32_t seq = e.seq.load(std::memory_order_acquire);
        if (seq & 1u) continue;  // a writer is at work (a few stores): wait it out
        if (e.view.load(std::memory_order_relaxed) != key) break;
        if (!e.seq.compare_exchange_weak(seq, seq + 1, std::memory_order_acq_rel)) continue;
        e.view.store(0, std::memory_order_relaxed);
        e.seq.store(seq + 2, std::memory_order_release);
        break;
      }
    }
  }

  // Empties the cache; only while no detour can consult it.
  void clear() noexcept {
    for (Entry& e : entries_) {
      e.view.store(0, std::memory_order_relaxed);
      e.seq.fetch_add(2, std::memory_order_release);
    }
  }

 private:
  static constexpr uint64_t kPlausibleBit = 1;

  struct alignas(64) Entry {
    std::atomic<uint32_t> seq{0};
    std::atomic<uintptr_t> view{0};
    std::atomic<uintptr_t> texture{0};
    std::atomic<uint64_t> size{0};
    std::atomic<uint64_t> formatBind{0};
    std::atomic<uint64_t> meta{0};  // plausible bit, mip levels in the high half
  };

  static size_t indexOf(const void* view) noexcept {
    const uint64_t h = (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(view)) >> 4) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h >> 52) & (kEntries - 1);  // 12 bits
  }

  std::array<Entry, kEntries> entries_{};
};

}  // namespace zor
