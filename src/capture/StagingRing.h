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
  StagingRing(const StagingRing&) = delete;
  StagingRing& operator=(const StagingRing&) = delete;

  // ---- Render thread (the thread that owns the immediate context).
  // Makes the ring hold pictures of width x height in format on context's device (made anew
  // when any of them changed) and maps every slot the GPU has finished reading. False while the
  // ring cannot be used: a slot of the old ring is still being written, or a creation failed.
  bool service(ID3D11DeviceContext* context, uint32_t width, uint32_t height, DXGI_FORMAT format);
  // The ring is made for these already.
  bool matches(ID3D11DeviceContext* context, uint32_t width, uint32_t height, DXGI_FORMAT format) const {
    return context == context_ && width == width_.load() && height == height_.load() && format == format_;
  }
  // The Ready slot that holds picture `sequence` of `generation`, now Taken; -1 when none.
  int take(uint64_t sequence, uint64_t generation);
  // Unmaps a Taken slot (unless it was already) and has the GPU copy it into mip 0 of target
  // with its top-left texel at (x, y). False when the driver faulted: the slot stays Taken and
  // unmapped, holding its picture, so the copy can be tried again.
  bool copyInto(int slot, ID3D11Texture2D* target, uint32_t x, uint32_t y);
  // A Taken slot goes back to the render thread's mapping.
  void recycle(int slot);
  // A slot taken only to be read (tests) is Ready again.
  void restore(int slot);
  const uint8_t* mappedData(int slot) const { return slots_[slot].data; }
  uint32_t rowPitch(int slot) const { return slots_[slot].rowPitch; }
  uint64_t sequence(int slot) const { return slots_[slot].sequence.load(std::memory_order_relaxed); }
  uint32_t boxX(int slot) const { return slots_[slot].boxX; }
  uint32_t boxY(int slot) const { return slots_[slot].boxY; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  // Lets go of every texture. With unmap, through the context they were made on (render
  // thread); without, once no thread uses that context any more (the worker joined). Waits
  // for a slot the worker is writing at most waitMs; a slot still written then is left alone
  // (false).
  bool release(bool unmap, uint32_t waitMs);
  // The process is ending: the textures are left to it, not released (see ProcessExit.h).
  void forget() noexcept {
    for (Slot& s : slots_) (void)s.texture.detach();
  }

  // ---- Worker.
  // A slot of width x height to write into: a Free one, else a Ready one older than `latest`.
  bool claim(uint32_t width, uint32_t height, uint64_t latest, Claim& out);
  // The picture in the claimed slot is complete: sequence, generation and where its first row
  // goes in the target texture (memory order).
  void publish(const Claim& c, uint64_t sequence, uint64_t generation, uint32_t boxX, uint32_t boxY);
  // The claimed slot is given back unwritten (a stale picture).
  void abandon(const Claim& c);

 private:
  enum State : int { kUnmapped, kFree, kWriting, kReady, kTaken, kGone };
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
  bool retire(bool unmap, uint32_t waitMs);

  Slot slots_[kSlots];
  ID3D11DeviceContext* context_ = nullptr;  // borrowed: the one the textures were made and mapped on
  std::atomic<uint32_t> width_{0}, height_{0};
  DXGI_FORMAT format_ = DXGI_FORMAT_UNKNOWN;
  bool mapFailureLogged_ = false;
  bool createFailureLogged_ = false;
};

}  // namespace zor
