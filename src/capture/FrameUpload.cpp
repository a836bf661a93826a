#include "capture/FrameUpload.h"

#include "gps/GpsTextureReplacer.h"

namespace zor {

bool uploadCapturedFrame(bool dashboard, WindowCapture& capture) {
  if (!capture.isActive()) return false;
  capture.markUploadPoint();
  return GpsTextureReplacer::instance().writeTargetFrame(
      dashboard,
      [](ID3D11Texture2D* texture, void* engine) { return static_cast<WindowCapture*>(engine)->uploadLatestFrame(texture); },
      &capture, capture.hasNewFrame());
}

void prepareCapturedFrames(bool dashboard, WindowCapture& capture) {
  if (!capture.isActive()) return;
  GpsTextureReplacer::instance().writeTargetFrame(
      dashboard,
      [](ID3D11Texture2D* texture, void* engine) {
        static_cast<WindowCapture*>(engine)->prepareFramesFor(texture);
        return false;  // nothing written: no mips to make
      },
      &capture);
}

}  // namespace zor
