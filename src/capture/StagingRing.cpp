#include "capture/StagingRing.h"

#include <windows.h>

#include <cstdio>

#include "core/FaultGuard.h"
#include "core/Logger.h"

namespace zor {

bool StagingRing::service(ID3D11DeviceContext* context, uint32_t width, uint32_t height, DXGI_FORMAT format) {
  if (!context || width == 0 || height == 0) return false;
  if (!matches(context, width, height, format)) {
    // A slot the worker is writing now is waited for by the next frame, not this one.
    if (!retire(context == context_, 0)) return false;
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
        return false;
      }
    }
    context_ = context;
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
      if (SUCCEEDED(hr)) context->Unmap(s.texture.get(), 0);
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

bool StagingRing::copyInto(int slot, ID3D11Texture2D* target, uint32_t x, uint32_t y) {
  Slot& s = slots_[slot];
  ID3D11DeviceContext* context = context_;
  ID3D11Texture2D* staging = s.texture.get();
  if (s.mapped) {
    s.mapped = false;  // whatever the driver does next, the memory is not the worker's any more
    s.data = nullptr;
    auto unmap = [context, staging] { context->Unmap(staging, 0); };
    if (!fault::guarded(unmap)) return false;
  }
  auto copy = [context, target, x, y, staging] { context->CopySubresourceRegion(target, 0, x, y, 0, staging, 0, nullptr); };
  return fault::guarded(copy);
}

void StagingRing::recycle(int slot) {
  Slot& s = slots_[slot];
  if (s.mapped) {
    context_->Unmap(s.texture.get(), 0);
    s.mapped = false;
    s.data = nullptr;
  }
  s.state.store(kUnmapped, std::memory_order_release);
}

void StagingRing::restore(int slot) { slots_[slot].state.store(kReady, std::memory_order_release); }

bool StagingRing::release(bool unmap, uint32_t waitMs) {
  const bool all = retire(unmap, waitMs);
  context_ = nullptr;
  width_.store(0);
  height_.store(0);
  format_ = DXGI_FORMAT_UNKNOWN;
  return all;
}

bool StagingRing::retire(bool unmap, uint32_t waitMs) {
  // First every slot is taken from the worker's reach; one it is writing is waited for.
  for (uint32_t waited = 0;; ++waited) {
    bool writing = false;
    for (Slot& s : slots_) {
      int state = s.state.load(std::memory_order_acquire);
      if (state == kWriting) {
        writing = true;
        continue;
      }
      if (state != kGone) s.state.compare_exchange_strong(state, kGone, std::memory_order_acq_rel);
      writing = writing || s.state.load(std::memory_order_acquire) == kWriting;
    }
    if (!writing) break;
    if (waited >= waitMs) return false;
    Sleep(1);
  }
  for (Slot& s : slots_) {
    if (s.mapped && unmap && context_ && s.texture) context_->Unmap(s.texture.get(), 0);
    s.mapped = false;
    s.data = nullptr;
    s.texture.reset();
  }
  return true;
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
    s.state.store(kFree, std::memory_order_release);  // mapped at another size: the render thread remakes it
    return false;
  }
  out.slot = chosen;
  out.data = s.data;
  out.rowPitch = s.rowPitch;
  return true;
}

void StagingRing::publish(const Claim& c, uint64_t sequence, uint64_t generation, uint32_t boxX, uint32_t boxY) {
  Slot& s = slots_[c.slot];
  s.sequence.store(sequence, std::memory_order_relaxed);
  s.generation.store(generation, std::memory_order_relaxed);
  s.boxX = boxX;
  s.boxY = boxY;
  s.state.store(kReady, std::memory_order_release);
}

void StagingRing::abandon(const Claim& c) {
  slots_[c.slot].sequence.store(0, std::memory_order_relaxed);
  slots_[c.slot].state.store(kFree, std::memory_order_release);
}

}  // namespace zor
