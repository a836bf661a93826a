// The plugin DLL with more exports for simulator scenarios, built for tests only
// (ZorTabcastPlugin_playback.dll); the product DLL exports the two SDK functions alone.
#include <cstdio>
#include <cstring>
#include <string>

#include "capture/WindowCapture.h"
#include "dx11/Dx11Core.h"
#include "gps/Calibration.h"
#include "gps/GpsTextureReplacer.h"
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

// What the plugin puts on the tablet's screen now: 1 its own picture (it plays onto the tablet a
// window it has, or shows a test pattern there), 0 nothing (the tablet is the game's), 2 either
// (the game is paused or loading and the picture is held; or the window is lost and the plugin
// waits for it with no picture for a texture the game made meanwhile).
extern "C" __declspec(dllexport) int zor_test_tablet_replaced() {
  zor::Dx11Core& core = zor::Dx11Core::instance();
  if (!core.isInitialized() || zor::playbackTarget() != zor::kTargetTablet) return 0;
  const zor::PluginConfig& config = core.config();
  if (zor::calibrationMode() || config.debugForceRed) return 1;
  if (!core.playbackActive()) return 0;
  const zor::GameState& state = core.gameState();
  if (state.pauseKnown.load() && state.paused.load()) return 2;
  return zor::WindowCapture::instance().hasWindow() ? 1 : 2;
}

namespace zor {
struct GpsIdentTestAccess {
  static std::string describe(Dx11Core& c) {
    const GpsIdentification& id = c.ident_;
    char line[400];
    std::snprintf(line, sizeof line,
                  "ready=%d search=%d hooks=%u second=%u locked=%d in_use=%d mesh=%p active=%d resume_pending=%d "
                  "window=%d replaced_within_1s=%d",
                  c.gpsReady_.load() ? 1 : 0, id.gpsSearchActive.load() ? 1 : 0, id.overlayHookCount.load(),
                  id.secondConfirmationCount.load(), id.gpsLocked.load() ? 1 : 0, id.gpsInUse.load() ? 1 : 0,
                  static_cast<void*>(c.tabletMeshIndexBuffer_.load()), c.playback_.active.load() ? 1 : 0,
                  c.playback_.resumePending.load() ? 1 : 0, WindowCapture::instance().hasWindow() ? 1 : 0,
                  GpsTextureReplacer::instance().replacedWithin(1000) ? 1 : 0);
    return line;
  }
};
}  // namespace zor

// The graphics core's identification and playback state in one line, for a failure's report.
extern "C" __declspec(dllexport) int zor_test_gps_state(char* buffer, int size) {
  const std::string line = zor::GpsIdentTestAccess::describe(zor::Dx11Core::instance());
  if (!buffer || size <= 0 || line.size() >= static_cast<size_t>(size)) return -1;
  std::memcpy(buffer, line.c_str(), line.size() + 1);
  return static_cast<int>(line.size());
}
