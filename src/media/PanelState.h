// The hand-over between whoever starts or stops playback (the panel, profiles, smart capture,
// all on the render thread) and the Present hook, which carries the request out on its next
// frame. One pending start request and one pending stop ("restore the GPS") request at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace zor {

// What the Present hook needs to start capture. The hook prefills the defaults below.
struct StartRequest {
  std::wstring title;  // window keyword
  int32_t captureWidth = 1280;
  int32_t captureHeight = 720;
  uint32_t gpsWidth = 256;
  uint32_t gpsHeight = 256;
  uint32_t fps = 30;  // 1..30
};

class PlaybackRequests {
 public:
  static PlaybackRequests& instance() noexcept;

  // Leaves a start request for keyword (UTF-8, at most 255 bytes kept): playback active,
  // start requested, any pending stop withdrawn.
  void requestStart(std::string_view keywordUtf8, int32_t captureWidth, int32_t captureHeight, int32_t fps);
  // "Restaurar GPS original": playback inactive, pending start withdrawn, stop requested.
  void requestRestore() noexcept;

  // Present hook, once per frame. When a start is pending: consumes it, fills request (title =
  // the active window title, else the source window title, in UTF-16; fps clamped to 1..30) and
  // returns whether the title is non-empty. Otherwise returns false and leaves request alone.
  bool takeStartRequest(StartRequest& request);
  // Present hook, once per frame: whether a stop is pending (no side effect).
  bool restoreRequested() const noexcept { return restoreRequested_.load(std::memory_order_acquire); }
  // Present hook, after it saw restoreRequested(): clears the request, the profile mode and the
  // active window title.
  void completeRestore();

  bool playbackActive() const noexcept { return playbackActive_.load(std::memory_order_acquire); }
  bool startRequested() const noexcept { return startRequested_.load(std::memory_order_acquire); }
  bool profileMode() const noexcept { return profileMode_.load(std::memory_order_acquire); }
  void setProfileMode(bool on) noexcept { profileMode_.store(on, std::memory_order_release); }
  std::string activeWindowTitle() const;
  std::string sourceWindowTitle() const;
  void setSourceWindowTitle(std::string_view titleUtf8);

  // Back to the state of a fresh process (tests, overlay restarts).
  void reset();

 private:
  PlaybackRequests() = default;

  std::atomic<bool> startRequested_{false};
  std::atomic<bool> restoreRequested_{false};
  std::atomic<bool> playbackActive_{false};
  std::atomic<bool> profileMode_{false};
  mutable std::mutex mutex_;  // guards the fields below
  std::string activeWindowTitle_;
  std::string sourceWindowTitle_;
  int32_t captureWidth_ = 1280;
  int32_t captureHeight_ = 720;
  int32_t fps_ = 30;
};

}  // namespace zor
