// What the media tests share: a private settings folder, fresh media state, a capture engine
// that records what it is told, the log lines, and real top-level windows of this process.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Logger.h"
#include "media/AppLibrary.h"
#include "media/MediaControls.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/ProfileManager.h"
#include "media/SmartCapture.h"
#include "support/GfxTestKit.h"
#include "support/RecordingCapture.h"
#include "support/TempFolder.h"

namespace zor::test {


// Resets every piece of media state and points the settings files at a private folder.
class MediaTest : public ::testing::Test {
 protected:
  MediaTest() {
    media::setSettingsFolder(folder.path());
    WindowCapture::install(&capture);
    resetMediaState();
  }
  ~MediaTest() override {
    WindowCapture::install(nullptr);
    media::setSettingsFolder({});
    resetMediaState();
  }
  static void resetMediaState() {
    PanelState::instance().reset();
    AppLibrary::instance().reset();
    ProfileManager::instance().reset();
    resetSmartCaptureForOverlayShutdown();
    smartCapture() = SmartCaptureState{};
    resetProfilesForOverlayShutdown();
    clearConsumedKeys();
    resetMediaCommandGuard();
  }
  std::wstring file(const wchar_t* name) const { return folder / name; }

  TempFolder folder{L"zor-media"};
  RecordingCapture capture;
  LogCapture log;
};

// Real visible top-level windows of this process, on a thread of their own with a message loop
// (the capture worker and title reads send them messages at any time). Hiding or destroying a
// shown window costs about 2 s under Wine, so the windows live for the whole program and tests
// retitle them; an empty title takes a window out of every title list. Their procedure hands
// key and focus messages to the media shortcuts, as the overlay's does with the panel closed.
class TestWindows {
 public:
  static HWND get(size_t i);
  static void setTitle(size_t i, const std::wstring& title) { SetWindowTextW(get(i), title.c_str()); }
  // Every test window without a title.
  static void clearAll();
  // Application commands window i received since the last call: (message, wParam, lParam).
  struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  static std::vector<Posted> takePosted(size_t i);
  // The keys the windows' thread sees as held down (what GetKeyState reads there).
  static void setHeldKeys(const std::vector<int>& keys);
  // A child window of window 0 (for the top-level rule of media commands).
  static HWND child();
  static constexpr size_t kCount = 4;
};

// What the test windows' procedure last did with a key or focus message (it hands them to the
// media shortcuts as the overlay's procedure does while the panel is closed).
ShortcutResult lastShortcutResult();

}  // namespace zor::test
