#include "media/PlaybackRequests.h"

#include <windows.h>

#include <algorithm>

namespace zor {

namespace {
constexpr size_t kTitleBytes = 255;

std::string clipUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t n = maxBytes;
  // Do not cut a multi-byte sequence in half.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

std::wstring utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}
}  // namespace

PlaybackRequests& PlaybackRequests::instance() noexcept {
  static PlaybackRequests requests;
  return requests;
}

void PlaybackRequests::requestStart(std::string_view keywordUtf8, int32_t captureWidth, int32_t captureHeight,
                                    int32_t fps) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    activeWindowTitle_ = clipUtf8(keywordUtf8, kTitleBytes);
    captureWidth_ = captureWidth;
    captureHeight_ = captureHeight;
    fps_ = fps;
  }
  playbackActive_.store(true, std::memory_order_release);
  restoreRequested_.store(false, std::memory_order_release);
  startRequested_.store(true, std::memory_order_release);
}

void PlaybackRequests::requestRestore() noexcept {
  playbackActive_.store(false, std::memory_order_release);
  startRequested_.store(false, std::memory_order_release);
  restoreRequested_.store(true, std::memory_order_release);
}

bool PlaybackRequests::takeStartRequest(StartRequest& request) {
  if (!startRequested_.load(std::memory_order_acquire)) return false;
  startRequested_.store(false, std::memory_order_release);
  std::lock_guard<std::mutex> lock(mutex_);
  request.title = utf8ToWide(activeWindowTitle_.empty() ? sourceWindowTitle_ : activeWindowTitle_);
  request.captureWidth = captureWidth_;
  request.captureHeight = captureHeight_;
  request.gpsWidth = 256;
  request.gpsHeight = 256;
  request.fps = static_cast<uint32_t>(std::clamp(fps_, 1, 30));
  return !request.title.empty();
}

void PlaybackRequests::completeRestore() {
  restoreRequested_.store(false, std::memory_order_release);
  profileMode_.store(false, std::memory_order_release);
  std::lock_guard<std::mutex> lock(mutex_);
  activeWindowTitle_.clear();
}

std::string PlaybackRequests::activeWindowTitle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return activeWindowTitle_;
}

std::string PlaybackRequests::sourceWindowTitle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sourceWindowTitle_;
}

void PlaybackRequests::setSourceWindowTitle(std::string_view titleUtf8) {
  std::lock_guard<std::mutex> lock(mutex_);
  sourceWindowTitle_ = clipUtf8(titleUtf8, kTitleBytes);
}

void PlaybackRequests::reset() {
  startRequested_.store(false);
  restoreRequested_.store(false);
  playbackActive_.store(false);
  profileMode_.store(false);
  std::lock_guard<std::mutex> lock(mutex_);
  activeWindowTitle_.clear();
  sourceWindowTitle_.clear();
  captureWidth_ = 1280;
  captureHeight_ = 720;
  fps_ = 30;
}

}  // namespace zor
