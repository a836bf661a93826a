#include "capture/StillPicture.h"

#include <cstring>

#include "capture/WindowMatching.h"

namespace zor {

uint64_t pictureFingerprint(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride) {
  constexpr uint32_t kGrid = 64;
  uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
  if (!pixels || width == 0 || height == 0) return hash;
  for (uint32_t gy = 0; gy < kGrid; ++gy) {
    const uint64_t y = (2ull * gy + 1) * height / (2 * kGrid);
    const uint8_t* row = pixels + y * stride;
    for (uint32_t gx = 0; gx < kGrid; ++gx) {
      const uint64_t x = (2ull * gx + 1) * width / (2 * kGrid);
      uint32_t p = 0;
      std::memcpy(&p, row + x * 4, 4);
      hash = (hash ^ (p & 0x00FFFFFFu)) * 0x100000001b3ull;
    }
  }
  return hash;
}

void StillPictureRule::restart(uint64_t nowNs) {
  seen_ = false;
  frozen_ = false;
  changedNs_ = nowNs;
}

void StillPictureRule::resume(uint64_t nowNs) {
  if (!frozen_) changedNs_ = nowNs;
}

StillPictureRule::Event StillPictureRule::observe(uint64_t fingerprint, uint64_t nowNs, SourceSound sound) {
  if (!seen_ || fingerprint != fingerprint_) {
    const bool first = !seen_;
    seen_ = true;
    fingerprint_ = fingerprint;
    changedNs_ = nowNs;
    if (first || !frozen_) return Event::None;
    frozen_ = false;
    return Event::Changed;
  }
  if (frozen_ || sound == SourceSound::Silent || nowNs < changedNs_ || nowNs - changedNs_ < kStillNs) return Event::None;
  frozen_ = true;
  return Event::Frozen;
}

bool stopsPaintingWhenCovered(std::wstring_view program) {
  static constexpr std::wstring_view kElectron[] = {L"spotify.exe", L"discord.exe", L"slack.exe",
                                                    L"teams.exe",   L"ms-teams.exe", L"electron.exe"};
  if (program == L"firefox.exe" || program == L"iexplore.exe") return false;  // not built on Chromium
  if (isWebBrowser(program)) return true;
  for (std::wstring_view p : kElectron)
    if (program == p) return true;
  return false;
}

std::string stillPictureHint(std::wstring_view program) {
  if (stopsPaintingWhenCovered(program)) {
    return "El programa deja de pintar la ventana cuando queda cubierta: inicielo con "
           "--disable-backgrounding-occluded-windows o ponga la directiva NativeWindowOcclusionEnabled=0.";
  }
  return "La ventana no se repinta: compruebe que no este en pausa ni cubierta por otra ventana.";
}

}  // namespace zor
