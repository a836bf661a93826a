#include "media/MediaHost.h"

#include "media/MediaControls.h"
#include "media/PanelState.h"
#include "media/ProfileManager.h"
#include "media/SmartAudio.h"
#include "media/SmartCapture.h"

namespace zor::media {

void frame() {
  profileStartupFrame();
  smartCaptureFrame();
  saveVolumeFromShortcuts();
  offerSoundToCapture();
}

void overlayShutdown() {
  PanelState::instance().resetForOverlayShutdown();
  resetProfilesForOverlayShutdown();
  resetSmartCaptureForOverlayShutdown();
}

}  // namespace zor::media
