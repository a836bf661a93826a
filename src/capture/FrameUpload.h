// The render thread's side of capture: the newest captured frame into the GPS screen's
// replacement texture.
#pragma once

#include "capture/WindowCapture.h"

namespace zor {

// Render thread, immediate context (the first bind of the GPS screen in a frame, else Present):
// when capture is active, copies its newest frame into the texture of the dashboard resource
// (dashboard) or of the tablet replacement and regenerates that texture's mips, with the game's
// predicate set aside meanwhile. True when a new frame was written.
bool uploadCapturedFrame(bool dashboard, WindowCapture& capture = WindowCapture::instance());
// Present hook while calibration shows the test pattern: capture goes on at the size of that
// texture without writing into it, so its picture is there the frame calibration ends.
void prepareCapturedFrames(bool dashboard, WindowCapture& capture = WindowCapture::instance());

}  // namespace zor
