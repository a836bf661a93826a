#include "dx11/GpsIdentification.h"

#include "core/ComRef.h"

namespace zor {

void GpsIdentification::releaseHooked() {
  std::lock_guard<std::mutex> lock(hookMutex);
  for (ID3D11ShaderResourceView*& v : hookedGpsViews) releaseAndClear(v);
  for (ID3D11Texture2D*& t : hookedGpsTextures) releaseAndClear(t);
  hookedGpsViews.clear();
  hookedGpsTextures.clear();
  overlayShaderSets.clear();
}

void GpsIdentification::rearmSearch(uint64_t nowNs) {
  releaseHooked();
  overlayHookCount.store(0);
  secondConfirmationCount.store(0);
  confirmationViewIndex.store(-1);
  firstHookTime.store(nowNs);
  gpsSearchActive.store(true);
}

void GpsIdentification::resetAll() {
  gpsLocked.store(false);
  gpsInUse.store(false);
  lastGpsUseTick.store(0);
  gpsSearchActive.store(true);
  overlayHookCount.store(0);
  secondConfirmationCount.store(0);
  confirmationViewIndex.store(-1);
  firstHookTime.store(0);
  gpsShaderFixed.store(false);
  gpsPixelShader.store(nullptr);
  srvUsedLogged.store(false);
  lockTick.store(0);
  registeredViews.clear();
  {
    std::lock_guard<std::mutex> lock(candidateMutex);
    candidates.clear();
  }
  releaseHooked();
}

}  // namespace zor
