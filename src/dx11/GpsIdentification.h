// State of GPS texture identification kept by the graphics core: the candidate table, the
// textures and views confirmed by the overlay fingerprint, and the flags and stamps of the
// lock rules. The detours that fill it live in their own files; this header only gives the
// state and the resets every start, truck change and camera return need.
#pragma once

#include <d3d11.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "dx11/RegisteredViewFilter.h"

namespace zor {

// One texture seen passing the plausibility filter.
struct GpsCandidate {
  uint64_t useCount = 0;
  uint64_t firstSeenFrame = 0;
  uint64_t lastSeenFrame = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t format = 0;
  uint32_t mipLevels = 0;
  uint32_t bindFlags = 0;
  uint32_t firstSlot = 0;
  uint32_t lastSlot = 0;
  ID3D11Texture2D* texture = nullptr;          // key; no reference held
  ID3D11ShaderResourceView* view = nullptr;    // no reference held
  uint32_t numViews = 0;
  ID3D11PixelShader* pixelShader = nullptr;    // no reference held
};

struct GpsIdentification {
  std::atomic<bool> gpsLocked{false};
  std::atomic<bool> gpsInUse{false};
  std::atomic<uint64_t> lastGpsUseTick{0};  // GetTickCount64 ms
  std::atomic<bool> gpsSearchActive{true};
  std::atomic<uint32_t> overlayHookCount{0};
  std::atomic<uint32_t> secondConfirmationCount{0};
  std::atomic<int32_t> confirmationViewIndex{-1};
  std::atomic<uint64_t> firstHookTime{0};  // steady ns
  std::atomic<bool> gpsShaderFixed{false};
  std::atomic<ID3D11PixelShader*> gpsPixelShader{nullptr};
  std::atomic<bool> srvUsedLogged{false};  // the "GPS SRV USADO" line of this search
  std::atomic<uint64_t> lockTick{0};       // GetTickCount64 ms of the size-based lock
  // Views handed to the replacer by identification (lock-free pre-check of substitution).
  RegisteredViewFilter registeredViews;

  // Candidate lock.
  std::mutex candidateMutex;
  std::unordered_map<ID3D11Texture2D*, GpsCandidate> candidates;

  // Hook lock. A reference is held on every entry of the two lists.
  std::mutex hookMutex;
  std::vector<ID3D11Texture2D*> hookedGpsTextures;
  std::vector<ID3D11ShaderResourceView*> hookedGpsViews;
  std::unordered_map<ID3D11ShaderResourceView*, std::vector<ID3D11PixelShader*>> overlayShaderSets;

  // Under the hook lock: releases and empties both lists and the shader sets.
  void releaseHooked();
  // Re-arms the search (camera return and truck change): hooked lists released, confirmation
  // counters zeroed, search window restarted now, search active.
  void rearmSearch(uint64_t nowNs);
  // Everything back to the state of a fresh start (candidate table included).
  void resetAll();
};

}  // namespace zor
