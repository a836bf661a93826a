// The hand-over of captured pictures from the capture worker to the render thread, without a
// lock: a small ring of CPU-writable staging textures of the picture's size. The render thread
// maps each texture the GPU is done with and hands its memory to the worker, which composes a
// picture straight into it (at the mapped row pitch) and publishes it; the render thread then
// only unmaps it and has the GPU copy it into the GPS texture. Nothing of the picture is copied
// by the CPU on the render thread.
//
// Every slot has one owner at a time, changed by atomic exchanges:
//   Unmapped (render thread; the GPU may still read it) -> Free (mapped, waiting for the worker)
//   -> Writing (the worker composes) -> Ready (published) -> Taken (render thread: unmapped and
//   copied) -> Unmapped. The worker takes back a Ready slot that a newer picture has made stale,
//   so it never runs out of memory to write while the render thread keeps mapping.
// A ring is let go of only once every slot is Gone: the render thread swaps each slot to Gone
// from whatever state it holds, and waits for a slot the worker is Writing to leave that state;
// nothing the worker can still reach is ever unmapped or released. A Writing slot that cannot be
// waited for (shut-down with the worker stuck elsewhere) becomes Orphan: the worker drops it
// when it gives it back, and its texture is never released by us.
#pragma once

#include <d3d11.h>

#include <atomic>
#include <cstdint>

#include "core/ComRef.h"

namespace zor {

class StagingRing {
 public:
  // One being written, the newest picture waiting, and two whose copies the GPU may still be
  // running (a picture every second frame at most, a GPU a few frames behind).
  static constexpr int kSlots = 4;

  // What the worker writes into: rows of width * 4 bytes, rowPitch apart.
  struct Claim {
    int slot = -1;
    uint8_t* data = nullptr;
    uint32_t rowPitch = 0;
  };

  StagingRing() = default;
  ~StagingRing() { drop(); }
  StagingRing(const StagingRing&) = delete;
  StagingRing& operator=(const StagingRing&) = delete;

  // ---- Render thread (the thread that owns the immediate context).
  // Makes the ring hold pictures of width x height in format on context's device (made anew
  // when any of them changed) and maps every slot the GPU has finished reading. False while the
  // ring cannot be used: a slot of the old ring is still being written, a creation failed, or a
  // driver call faulted on this context.
  bool service(ID3D11DeviceContext* context, uint32_t width, uint32_t height, DXGI_FORMAT format);
  // The ring is made for these already.
  bool matches(ID3D11DeviceContext* context, uint32_t width, uint32_t height, DXGI_FORMAT format) const {
    return context == context_.get() && width == width_.load() && height == height_.load() && format == format_;
  }
  // The Ready slot that holds picture `sequence` of `generation`, now Taken; -1 when none.
  int take(uint64_t sequence, uint64_t generation);
  // Unmaps a Taken slot and has the GPU copy it into mip 0 of target with its top-left texel at
  // (x, y), then gives it back to the mapping. False when the driver faulted: the ring then
  // makes no further call into that context (faulted()).
  bool copyInto(int slot, ID3D11Texture2D* target, uint32_t x, uint32_t y);
  // A slot taken only to be read (tests) is Ready again.
  void restore(int slot);
  const uint8_t* mappedData(int slot) const { return slots_[slot].data; }
  uint32_t rowPitch(int slot) const { return slots_[slot].rowPitch; }
  uint64_t sequence(int slot) const { return slots_[slot].sequence.load(std::memory_order_relaxed); }
  uint32_t boxX(int slot) const { return slots_[slot].boxX; }
  uint32_t boxY(int slot) const { return slots_[slot].boxY; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  // Unmaps and releases every texture through the context it was made on. A slot the worker is
  // writing is waited for until the clock seam reaches deadlineNs; when it is still written then,
  // it and the context (with our reference) are kept for a later service or release to finish
  // (false).
  bool release(uint64_t deadlineNs);
  // A driver call of ours faulted on the context (copy, unmap, a write into a texture): nothing
  // of the ring is touched through it again; its textures and context are dropped, not
  // released (the runtime is half way through something). service() refuses that context.
  void markFaulted();
  bool faulted(ID3D11DeviceContext* context) const { return context && context == faultedContext_.load(); }
  bool empty() const;

  // ---- Any thread, once the render thread no longer services the ring and the worker no longer
  // claims (shut-down): lets go of the textures without a call into the context. A slot the
  // worker is still writing is left to it (Orphan) and dropped when it gives it back.
  void drop() noexcept { abandon(true); }
  // The process is ending: the textures are left to it, not released (see ProcessExit.h).
  void forget() noexcept { abandon(false); }

  // ---- Worker.
  // A slot of width x height to write into: a Free one, else a Ready one older than `latest`.
  bool claim(uint32_t width, uint32_t height, uint64_t latest, Claim& out);
  // The picture in the claimed slot is complete: sequence, generation and where its first row
  // goes in the target texture (memory order).
  void publish(const Claim& c, uint64_t sequence, uint64_t generation, uint32_t boxX, uint32_t boxY);
  // The claimed slot is given back unwritten (a stale picture).
  void abandon(const Claim& c);

 private:
  enum State : int { kUnmapped, kFree, kWriting, kReady, kTaken, kGone, kOrphan };
  struct Slot {
    ComRef<ID3D11Texture2D> texture;
    std::atomic<int> state{kGone};
    // While mapped; written before the slot is made Free, read by the worker after it took it.
    uint8_t* data = nullptr;
    uint32_t rowPitch = 0;
    bool mapped = false;  // render thread only
    // Written by the worker before the slot is made Ready.
    std::atomic<uint64_t> sequence{0};
    std::atomic<uint64_t> generation{0};
    uint32_t boxX = 0, boxY = 0;
  };
  // Swaps slot s to Gone; false while the worker writes it.
  static bool toGone(Slot& s);
  // Every slot Gone, unmapped and released; false when one is still written at deadlineNs.
  bool retire(uint64_t deadlineNs);
  // The worker gives a slot back in state `to`, unless the ring orphaned it meanwhile.
  static void handBack(Slot& s, int to);
  void abandon(bool releaseTextures) noexcept;
  bool unmap(Slot& s);

  Slot slots_[kSlots];
  ComRef<ID3D11DeviceContext> context_;  // the one the textures were made and mapped on
  std::atomic<ID3D11DeviceContext*> faultedContext_{nullptr};  // compared only
  std::atomic<uint32_t> width_{0}, height_{0};
  DXGI_FORMAT format_ = DXGI_FORMAT_UNKNOWN;
  bool mapFailureLogged_ = false;
  bool createFailureLogged_ = false;
};

}  // namespace zor
