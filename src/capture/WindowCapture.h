// The capture engine as the rest of the plugin sees it: the operations the Present hook, the
// panel and the media features call. The engine in production is GdiWindowCapture (a worker
// thread painting the window with GDI, GdiWindowCapture.h); tests may install another.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <string>

#include "capture/ChosenWindow.h"
#include "capture/StillPicture.h"

namespace zor {

// The captured picture has not changed for 10 s while playback runs (StillPicture.h).
struct StillPictureReport {
  HWND window = nullptr;        // the window whose frames are watched; null when none
  uint64_t unchangedForMs = 0;  // how long its picture has stayed the same
  bool still = false;           // said so: unchanged for 10 s while it may be playing
  std::wstring program;         // the window's program (lower case) once still
};

// What the engine captures: the chosen window, bound at once while it lives (whatever its title
// says by now); the keyword (and, when it is not empty, program: that program's main window)
// finds a window whenever none is chosen or the bound one is gone.
struct CaptureTarget {
  ChosenWindow chosen;
  std::wstring keyword;
  std::wstring program;  // lower-case executable name
};

class WindowCapture {
 public:
  virtual ~WindowCapture() = default;

  // The engine in use: the one installed with install(), else the process's GdiWindowCapture.
  static WindowCapture& instance() noexcept;
  // Replaces the engine (tests, or the real engine at start-up); nullptr restores the built-in
  // one. The caller keeps ownership and must not swap engines while the Present hook runs.
  static void install(WindowCapture* engine) noexcept;

  // Pauses or resumes frame production; the bound window is kept.
  virtual void setPaused(bool paused) = 0;
  // A live window is bound.
  virtual bool hasWindow() = 0;
  // Starts capturing the window whose title contains keyword; returns whether capture is active.
  virtual bool start(ID3D11Device* device, ID3D11DeviceContext* context, const std::wstring& keyword,
                     uint32_t fps, bool flip, int32_t cropLeft, int32_t cropTop, int32_t cropWidth,
                     int32_t cropHeight) = 0;
  // Stops feeding the GPS; the worker thread stays.
  virtual void deactivate() = 0;
  virtual bool isActive() = 0;
  // Render thread, GpsTextureReplacer lock held: copies the newest frame into mip 0 of texture.
  // True when a new frame was written.
  virtual bool uploadLatestFrame(ID3D11Texture2D* texture) = 0;
  // A picture newer than the last one copied is waiting (a cheap look, for the render thread).
  virtual bool hasNewFrame() { return true; }
  // Render thread, before the device the engine was started on goes: everything the engine
  // made on it is let go of (the next start makes it again on the new one).
  virtual void releaseDeviceObjects() {}
  // Render thread, GpsTextureReplacer lock held: the frames are for texture, but nothing is
  // written into it (calibration shows the test pattern): the worker captures at its size, so
  // the first upload after calibration has a frame at once.
  virtual void prepareFramesFor(ID3D11Texture2D* texture) { (void)texture; }
  // Render thread, once a frame, where the GPS texture takes the newest picture (the screen's
  // first bind, else Present): the worker times its captures to be ready just before it.
  virtual void markUploadPoint() {}
  // Render thread, every frame of the game's device (one load of a flag unless shut-down asked):
  // the engine's last turn before the hooks go.
  virtual void renderThreadTurn() {}
  // Shut-down, before the hooks go: capture stops and what it mapped through the game's
  // immediate context is unmapped on the render thread (at its next turn, waited for until
  // deadlineNs at the latest, or here when the caller is that thread).
  virtual void releaseBeforeHooksGo(uint64_t deadlineNs, bool onRenderThread) {
    (void)deadlineNs;
    (void)onRenderThread;
  }
  // Stops and joins the worker, releases everything (what the render thread has not unmapped is
  // dropped without a call into the context).
  virtual void shutdown() = 0;

  // Capture rate: at most 30 frames a second; 0 reads as 30.
  virtual void setFps(uint32_t fps) { (void)fps; }
  // A new title fragment: the bound window is dropped and searched again.
  virtual void setWindowKeyword(const std::wstring& keyword) { (void)keyword; }
  // The window to capture (see CaptureTarget). A change drops the bound window.
  virtual void setWindowTarget(const CaptureTarget& target) { setWindowKeyword(target.keyword); }
  virtual std::wstring windowKeyword() { return {}; }
  // The bound window while it exists, else null.
  virtual HWND currentWindow() { return nullptr; }
  virtual int32_t effectiveFps() { return 30; }
  // Time between two captures in ms (1000 / capture rate), read under the engine's lock.
  virtual int64_t frameIntervalMs() { return 33; }
  // Whether the picture of the bound window has stopped changing (see StillPicture.h).
  virtual StillPictureReport stillPicture() { return {}; }
  // What the audio session of window's application says; the still-picture rule does not warn
  // about a window whose application is known to be silent.
  virtual void setSourceSound(HWND window, SourceSound sound) {
    (void)window;
    (void)sound;
  }
  // Reads what the audio session of a window's application says (the part that knows audio
  // sessions sets it; null: nobody asks). The capture's own thread asks it for the window whose
  // picture has stayed the same for 8 s, then every 5 s while it stays so: never the game's thread.
  using SoundProbe = SourceSound (*)(HWND window);
  virtual void setSoundProbe(SoundProbe probe) { (void)probe; }
};

}  // namespace zor
