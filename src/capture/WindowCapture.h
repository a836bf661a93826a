// The capture engine as the graphics core sees it: the operations the Present hook calls.
// The engine itself (window matching, worker thread, frame upload) implements this interface;
// until it exists a null engine answers every call with "nothing to do".
#pragma once

#include <d3d11.h>

#include <windows.h>

#include <cstdint>
#include <string>

namespace zor {

class WindowCapture {
 public:
  virtual ~WindowCapture() = default;

  // The engine in use: the one installed with install(), else the built-in one.
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
  // Stops and joins the worker, releases everything.
  virtual void shutdown() = 0;

  // Frame interval = 1000 / min(fps, 30) ms, fps 0 read as 30.
  virtual void setFps(uint32_t fps) {}
  // A changed keyword drops the bound window and makes the worker search at once.
  virtual void setWindowKeyword(const std::wstring& keyword) {}
  virtual std::wstring windowKeyword() { return {}; }
  // The bound window when it is still a window, else null (read under the engine's lock).
  virtual HWND currentWindow() { return nullptr; }
  virtual int32_t effectiveFps() { return 30; }
};

}  // namespace zor
