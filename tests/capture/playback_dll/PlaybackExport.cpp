// The plugin DLL with more exports for simulator scenarios, built for tests only
// (ZorTabcastPlugin_playback.dll); the product DLL exports the two SDK functions alone.
#include <cstring>
#include <string>

#include "dx11/Dx11Core.h"
#include "gps/PlaybackTarget.h"
#include "media/PanelState.h"
#include "overlay/FrameRecord.h"

// The panel's start and restore requests without clicking: keyword (UTF-8) non-null:
// "Iniciar reproduccion" for that window at fps; null: "Restaurar GPS original". Returns 1.
extern "C" __declspec(dllexport) int zor_test_request_playback(const char* keywordUtf8, int fps) {
  zor::PanelState& requests = zor::PanelState::instance();
  if (!keywordUtf8) {
    requests.requestRestore();
    return 1;
  }
  requests.requestStart(keywordUtf8, 1280, 720, fps);
  return 1;
}

// What the panel drew: asks for a record of the next frame the overlay draws and copies the
// newest record (overlay/FrameRecord.h) into buffer. Returns its length, 0 before the first
// record, -1 when the buffer is too small.
extern "C" __declspec(dllexport) int zor_test_panel_frame(char* buffer, int size) {
  zor::overlay::requestFrameRecord();
  const std::string record = zor::overlay::latestFrameRecord();
  if (record.empty()) return 0;
  if (!buffer || size < 0 || record.size() > static_cast<size_t>(size)) return -1;
  std::memcpy(buffer, record.data(), record.size());
  return static_cast<int>(record.size());
}

// Whether the plugin puts its own picture on the tablet's screen now: 1 while it plays onto the
// tablet (or shows a test pattern there), 0 while the tablet is the game's.
extern "C" __declspec(dllexport) int zor_test_tablet_replaced() {
  zor::Dx11Core& core = zor::Dx11Core::instance();
  if (!core.isInitialized() || zor::playbackTarget() != zor::kTargetTablet) return 0;
  return core.playbackActive() || core.config().calibrationMode || core.config().debugForceRed ? 1 : 0;
}
