#include "media/PanelState.h"

#include <algorithm>

#include "core/Utf8.h"

namespace zor {

namespace {
constexpr size_t kTextBytes[] = {256, 256, 64, 128, 96, 160};
static_assert(std::size(kTextBytes) == static_cast<size_t>(PanelText::Count));

constexpr const char* kDefaultProfileName = "Mi perfil";
constexpr const char* kDefaultAudioStatus = "Seleccione una ventana con audio.";
}  // namespace

std::string clipUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t n = maxBytes;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

PanelState::PanelState() { reset(); }

PanelState& PanelState::instance() noexcept {
  static PanelState state;
  return state;
}

std::string PanelState::text(PanelText field) const {
  std::lock_guard<std::mutex> lock(textMutex_);
  if (field == PanelText::SourceWindowTitle) return source_.title;
  return texts_[static_cast<size_t>(field)];
}

void PanelState::setText(PanelText field, std::string_view utf8) {
  if (field == PanelText::SourceWindowTitle) return setSourceWindowTitle(utf8);
  const size_t i = static_cast<size_t>(field);
  std::string clipped = clipUtf8(utf8, kTextBytes[i] - 1);
  std::lock_guard<std::mutex> lock(textMutex_);
  texts_[i] = std::move(clipped);
}

ChosenSource PanelState::source() const {
  std::lock_guard<std::mutex> lock(textMutex_);
  return source_;
}

void PanelState::setSource(ChosenSource source) {
  source.title = clipUtf8(source.title, kTextBytes[static_cast<size_t>(PanelText::SourceWindowTitle)] - 1);
  std::lock_guard<std::mutex> lock(textMutex_);
  source_ = std::move(source);
}

void PanelState::setSourceWindowTitle(std::string_view utf8) {
  ChosenSource titleAlone;
  titleAlone.title = std::string(utf8);
  setSource(std::move(titleAlone));
}

void PanelState::requestStart(std::string_view keywordUtf8, int32_t width, int32_t height, int32_t framesPerSecond) {
  setText(PanelText::ActiveWindowTitle, keywordUtf8);
  captureWidth.store(width);
  captureHeight.store(height);
  fps.store(framesPerSecond);
  playbackActive.store(true);
  restoreRequested.store(false);
  startRequested.store(true);
}

bool PanelState::takeStartRequest(StartRequest& request) {
  if (!startRequested.exchange(false)) return false;
  std::string title;
  {
    std::lock_guard<std::mutex> lock(textMutex_);
    const std::string& active = texts_[static_cast<size_t>(PanelText::ActiveWindowTitle)];
    title = active.empty() ? source_.title : active;
  }
  request.title = toWide(title);
  request.captureWidth = captureWidth.load();
  request.captureHeight = captureHeight.load();
  request.gpsWidth = 256;
  request.gpsHeight = 256;
  request.fps = static_cast<uint32_t>(std::clamp(fps.load(), 1, 30));
  return !request.title.empty();
}

void PanelState::requestRestore() noexcept {
  playbackActive.store(false);
  startRequested.store(false);
  restoreRequested.store(true);
}

void PanelState::completeRestore() {
  restoreRequested.store(false);
  profileMode.store(false);
  setText(PanelText::ActiveWindowTitle, {});
}

void PanelState::resetForOverlayShutdown() {
  profileMode.store(false);
  userRestoredGps.store(false);
  pendingProfileAutostart.store(false);
  audioFound.store(false);
  muted.store(false);
  audioRefreshTime.store(0);
  selectedProfileIndex.store(-1);
  volume.store(100);
  setText(PanelText::ActiveWindowTitle, {});
  setText(PanelText::ProfileKeyword, {});
  setText(PanelText::AudioProcessName, {});
}

void PanelState::reset() {
  captureWidth.store(1920);
  captureHeight.store(1080);
  fps.store(30);
  resolutionIndex.store(3);
  fpsIndex.store(1);
  playbackActive.store(false);
  startRequested.store(false);
  restoreRequested.store(false);
  userRestoredGps.store(false);
  profileMode.store(false);
  selectedProfileIndex.store(-1);
  profileAutoStart.store(false);
  pendingProfileAutostart.store(false);
  audioFound.store(false);
  volume.store(100);
  muted.store(false);
  audioRefreshTime.store(0);
  std::lock_guard<std::mutex> lock(textMutex_);
  source_ = {};
  for (std::string& t : texts_) t.clear();
  texts_[static_cast<size_t>(PanelText::ProfileName)] = kDefaultProfileName;
  texts_[static_cast<size_t>(PanelText::AudioStatus)] = kDefaultAudioStatus;
}

}  // namespace zor
