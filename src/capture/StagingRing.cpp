#include "capture/StagingRing.h"

#include <windows.h>

#include <cstdio>

#include "core/Clock.h"
#include "core/FaultGuard.h"
#include "core/Logger.h"

namespace zor {

bool StagingRing::service(ID3D11DeviceContext* context, uint32_t width, uint32_t height, DXGI_FORMAT format) {
  if (!context || width == 0 || height == 0 || faulted(context)) return false;
  if (!matches(context, width, height, format)) {
    // The old ring goes through its own context; a slot the worker is writing now is waited
    // for by the next frame, not this one.
    if (!retire(0)) return false;
    ComRef<ID3D11Device> device;
    context->GetDevice(device.put());
    if (!device) return false;
    D3D11_TEXTURE2D_DESC d{};
    d.Width = width;
    d.Height = height;
    d.MipLevels = 1;
    d.ArraySize = 1;
    d.Format = format;
    d.SampleDesc.Count = 1;
    d.Usage = D3D11_USAGE_STAGING;
    d.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    for (Slot& s : slots_) {
      const HRESULT hr = device->CreateTexture2D(&d, nullptr, s.texture.put());
      if (FAILED(hr) || !s.texture) {
        if (!createFailureLogged_) {
          createFailureLogged_ = true;
          char line[160];
          std::snprintf(line, sizeof line,
                        "[WindowCapture] No se pudieron crear las texturas de paso %ux%u (HRESULT 0x%08lX); la "
                        "captura espera.",
                        width, height, static_cast<unsigned long>(hr));
          logError(line);
        }
        for (Slot& made : slots_) made.texture.reset();
        return false;  // the ring matches nothing: tried again next frame
      }
    }
    context_ = ComRef<ID3D11DeviceContext>::share(context);
    width_.store(width);
    height_.store(height);
    format_ = format;
    for (Slot& s : slots_) {
      s.mapped = false;
      s.data = nullptr;
      s.state.store(kUnmapped, std::memory_order_release);
    }
  }
  // Every slot the GPU has finished copying from is mapped for the worker; a copy still running
  // is not waited for.
  for (Slot& s : slots_) {
    if (s.state.load(std::memory_order_acquire) != kUnmapped) continue;
    D3D11_MAPPED_SUBRESOURCE m{};
    const HRESULT hr = context->Map(s.texture.get(), 0, D3D11_MAP_WRITE, D3D11_MAP_FLAG_DO_NOT_WAIT, &m);
    if (hr == DXGI_ERROR_WAS_STILL_DRAWING) continue;
    if (FAILED(hr) || !m.pData || m.RowPitch < width * 4) {
      if (SUCCEEDED(hr)) {
        s.mapped = true;
        if (!unmap(s)) return false;
      }
      if (!mapFailureLogged_) {
        mapFailureLogged_ = true;
        char line[128];
        std::snprintf(line, sizeof line, "[WindowCapture] Map de la textura de paso fallo (HRESULT 0x%08lX).",
                      static_cast<unsigned long>(hr));
        logError(line);
      }
      continue;
    }
    s.data = static_cast<uint8_t*>(m.pData);
    s.rowPitch = m.RowPitch;
    s.mapped = true;
    s.state.store(kFree, std::memory_order_release);
  }
  return true;
}

int StagingRing::take(uint64_t sequence, uint64_t generation) {
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = slots_[i];
    if (s.state.load(std::memory_order_acquire) != kReady) continue;
    if (s.sequence.load(std::memory_order_relaxed) != sequence) continue;
    int expected = kReady;
    if (!s.state.compare_exchange_strong(expected, kTaken, std::memory_order_acq_rel)) continue;
    // Ours now: the worker cannot have rewritten it since it was published as this picture.
    if (s.sequence.load(std::memory_order_relaxed) == sequence &&
        s.generation.load(std::memory_order_relaxed) == generation) {
      return i;
    }
    s.state.store(kReady, std::memory_order_release);
  }
  return -1;
}

// A fault inside the driver's Unmap leaves the slot neither mapped nor unmapped: the ring stops
// using the context, so it is never mapped twice.
bool StagingRing::unmap(Slot& s) {
  if (!s.mapped) return true;
  s.data = nullptr;
  ID3D11DeviceContext* context = context_.get();
  ID3D11Texture2D* staging = s.texture.get();
  auto call = [context, staging] { context->Unmap(staging, 0); };
  if (!context || !staging || !fault::guarded(call)) {
    markFaulted();
    return false;
  }
  s.mapped = false;
  return true;
}

bool StagingRing::copyInto(int slot, ID3D11Texture2D* target, uint32_t x, uint32_t y) {
  Slot& s = slots_[slot];
  if (!unmap(s)) return false;
  ID3D11DeviceContext* context = context_.get();
  ID3D11Texture2D* staging = s.texture.get();
  auto copy = [context, target, x, y, staging] { context->CopySubresourceRegion(target, 0, x, y, 0, staging, 0, nullptr); };
  if (!fault::guarded(copy)) {
    markFaulted();
    return false;
  }
  s.state.store(kUnmapped, std::memory_order_release);
  return true;
}

void StagingRing::restore(int slot) {
  int expected = kTaken;
  slots_[slot].state.compare_exchange_strong(expected, kReady, std::memory_order_acq_rel);
}

bool StagingRing::toGone(Slot& s) {
  for (;;) {
    int state = s.state.load(std::memory_order_acquire);
    if (state == kGone || state == kOrphan) return state == kGone;
    if (state == kWriting) return false;
    if (s.state.compare_exchange_weak(state, kGone, std::memory_order_acq_rel)) return true;
  }
}

bool StagingRing::retire(uint64_t deadlineNs) {
  // A slot is unmapped and released once it is Gone: the worker can no longer reach it. One it
  // is writing is waited for (a picture's composition takes a few milliseconds).
  bool all = true;
  for (Slot& s : slots_) {
    while (!toGone(s)) {
      if (s.state.load(std::memory_order_acquire) == kOrphan || clock::steadyNs() >= deadlineNs) break;
      SwitchToThread();
    }
    if (s.state.load(std::memory_order_acquire) != kGone) {
      all = false;
      continue;
    }
    if (!unmap(s)) return false;  // faulted: everything was dropped
    s.texture.reset();
  }
  if (!all) return false;
  // Nothing of the old ring is left: a failed creation from here leaves a ring that matches no
  // size, so the next frame tries again.
  context_.reset();
  width_.store(0);
  height_.store(0);
  format_ = DXGI_FORMAT_UNKNOWN;
  return true;
}

bool StagingRing::release(uint64_t deadlineNs) { return retire(deadlineNs); }

bool StagingRing::empty() const {
  for (const Slot& s : slots_) {
    if (s.texture || s.state.load(std::memory_order_acquire) == kOrphan) return false;
  }
  return !context_;
}

void StagingRing::markFaulted() {
  if (context_) faultedContext_.store(context_.get());  // said once: a second call has no context left
  abandon(false);
}

void StagingRing::abandon(bool releaseTextures) noexcept {
  for (Slot& s : slots_) {
    bool gone = toGone(s);
    if (!gone) {
      int expected = kWriting;
      gone = !s.state.compare_exchange_strong(expected, kOrphan, std::memory_order_acq_rel) && toGone(s);
    }
    s.data = nullptr;
    s.mapped = false;
    // An orphaned texture is still being written by the worker: its memory must stay mapped.
    if (gone && releaseTextures) {
      s.texture.reset();
    } else {
      (void)s.texture.detach();
    }
  }
  if (releaseTextures) {
    context_.reset();
  } else {
    (void)context_.detach();
  }
  width_.store(0);
  height_.store(0);
  format_ = DXGI_FORMAT_UNKNOWN;
}

bool StagingRing::claim(uint32_t width, uint32_t height, uint64_t latest, Claim& out) {
  int chosen = -1;
  for (int i = 0; i < kSlots && chosen < 0; ++i) {
    int expected = kFree;
    if (slots_[i].state.compare_exchange_strong(expected, kWriting, std::memory_order_acq_rel)) chosen = i;
  }
  // No free memory: the oldest picture the render thread has not taken, unless it is the newest.
  while (chosen < 0) {
    int oldest = -1;
    uint64_t oldestSequence = UINT64_MAX;
    for (int i = 0; i < kSlots; ++i) {
      const Slot& s = slots_[i];
      const uint64_t seq = s.sequence.load(std::memory_order_relaxed);
      if (s.state.load(std::memory_order_acquire) == kReady && seq != latest && seq < oldestSequence) {
        oldest = i;
        oldestSequence = seq;
      }
    }
    if (oldest < 0) return false;
    int expected = kReady;
    if (slots_[oldest].state.compare_exchange_strong(expected, kWriting, std::memory_order_acq_rel)) chosen = oldest;
  }
  Slot& s = slots_[chosen];
  if (width != width_.load() || height != height_.load() || !s.data) {
    handBack(s, kFree);  // mapped at another size: the render thread remakes it
    return false;
  }
  out.slot = chosen;
  out.data = s.data;
  out.rowPitch = s.rowPitch;
  return true;
}

void StagingRing::handBack(Slot& s, int to) {
  int expected = kWriting;
  if (!s.state.compare_exchange_strong(expected, to, std::memory_order_acq_rel)) {
    s.state.store(kGone, std::memory_order_release);  // orphaned meanwhile: dropped
  }
}

void StagingRing::publish(const Claim& c, uint64_t sequence, uint64_t generation, uint32_t boxX, uint32_t boxY) {
  Slot& s = slots_[c.slot];
  s.sequence.store(sequence, std::memory_order_relaxed);
  s.generation.store(generation, std::memory_order_relaxed);
  s.boxX = boxX;
  s.boxY = boxY;
  handBack(s, kReady);
}

void StagingRing::abandon(const Claim& c) {
  slots_[c.slot].sequence.store(0, std::memory_order_relaxed);
  handBack(slots_[c.slot], kFree);
}

}  // namespace zor
