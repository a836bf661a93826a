// The playback values the panel shows and edits, and that smart capture, profiles, the media
// shortcuts and the Present hook read and write: the source window, capture size and frame rate,
// the start / restore flags, the profile edit values and the cached audio status. Also the
// hand-over of a playback start to the Present hook (takeStartRequest).
//
// Numbers and flags are atomics; the texts are kept at most as long as their fields allow
// (bytes less one, never cutting a UTF-8 sequence) and guarded by one lock, because the game
// window's procedure (media shortcuts) reads and writes them beside the render thread.
#pragma once

#include <windows.h>

#include "capture/ChosenWindow.h"

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

// The chosen source as one value: the window resolved once (capture/ChosenWindow.h; titles
// change with a song or a video, whether it is still the same window is told by the window, its
// process and the process's start time alone), the library application that recognises it
// (its position in AppLibrary::apps(), -1: none) and its title as chosen (UTF-8, at most 255
// bytes; shown on the panel and kept in the files). A title without a window names a source that
// is searched by its title. Made by resolveSource (media/ChosenSource.h).
struct ChosenSource : ChosenWindow {
  int32_t appIndex = -1;
  std::string title;
  bool operator==(const ChosenSource&) const = default;
};

// Text fields and their sizes in bytes (the terminating zero included).
enum class PanelText {
  SourceWindowTitle,  // 256
  ActiveWindowTitle,  // 256
  ProfileName,        // 64, initially "Mi perfil"
  ProfileKeyword,     // 128
  AudioProcessName,   // 96
  AudioStatus,        // 160, initially "Seleccione una ventana con audio."
  Count
};

// UTF-8 text cut to at most maxBytes bytes without splitting a character.
std::string clipUtf8(std::string_view text, size_t maxBytes);

class PanelState {
 public:
  static PanelState& instance() noexcept;

  std::string text(PanelText field) const;
  void setText(PanelText field, std::string_view utf8);
  std::string sourceWindowTitle() const { return text(PanelText::SourceWindowTitle); }
  // A title without a window: the window is searched by it when playback starts.
  void setSourceWindowTitle(std::string_view utf8);
  std::string activeWindowTitle() const { return text(PanelText::ActiveWindowTitle); }
  // The chosen source (no window: a title alone, or nothing). setSource stores the value as it
  // is (its title cut to the field's size).
  ChosenSource source() const;
  void setSource(ChosenSource source);

  // Capture size, frame rate and their panel rows.
  std::atomic<int32_t> captureWidth{1920};
  std::atomic<int32_t> captureHeight{1080};
  std::atomic<int32_t> fps{30};
  std::atomic<int32_t> resolutionIndex{3};
  std::atomic<int32_t> fpsIndex{1};

  // Playback flags.
  std::atomic<bool> playbackActive{false};    // started and not stopped
  std::atomic<bool> startRequested{false};    // a start waits for the Present hook
  std::atomic<bool> restoreRequested{false};  // the Present hook must stop and give the GPS back
  std::atomic<bool> userRestoredGps{false};   // "Restaurar GPS original"; no automatic start until a manual one
  std::atomic<bool> profileMode{false};       // playback was started by applying a profile

  // Profiles.
  std::atomic<int32_t> selectedProfileIndex{-1};
  std::atomic<bool> profileAutoStart{false};
  std::atomic<bool> pendingProfileAutostart{false};

  // Audio status of the source window's application.
  std::atomic<bool> audioFound{false};
  std::atomic<int32_t> volume{100};
  std::atomic<bool> muted{false};
  std::atomic<uint64_t> audioRefreshTime{0};  // steady ns of the last query; 0 = query at the next chance

  // Leaves a start request for keyword: active window title, size and fps stored; playback
  // active, start requested, any pending restore withdrawn.
  void requestStart(std::string_view keywordUtf8, int32_t width, int32_t height, int32_t framesPerSecond);
  // Present hook, once per frame. When a start is pending: consumes it, fills request (title =
  // the active window title, else the source window title, in UTF-16; fps clamped to 1..30) and
  // returns whether the title is non-empty. Otherwise returns false and leaves request alone.
  bool takeStartRequest(StartRequest& request);
  // Playback inactive, pending start withdrawn, restore requested.
  void requestRestore() noexcept;
  // Present hook, after it saw restoreRequested: clears it, the profile mode and the active title.
  void completeRestore();

  // What an overlay shutdown resets of these values (the source window, profile name, capture
  // size and frame rate survive).
  void resetForOverlayShutdown();
  // Back to the state of a fresh process (tests).
  void reset();

 private:
  PanelState();
  mutable std::mutex textMutex_;
  std::string texts_[static_cast<size_t>(PanelText::Count)];
  ChosenSource source_;  // its title is the SourceWindowTitle text
};

}  // namespace zor
