#include "gps/PlaybackTarget.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "core/Clock.h"
#include "core/IniFile.h"
#include "core/Logger.h"
#include "gps/TruckGpsProfile.h"

namespace zor {
namespace {
std::atomic<uint32_t> g_target{kTargetTablet};
}

PlaybackTarget playbackTarget() noexcept {
  return static_cast<PlaybackTarget>(g_target.load(std::memory_order_acquire));
}

void storePlaybackTarget(PlaybackTarget target) noexcept { g_target.store(target, std::memory_order_release); }

void setPlaybackTarget(PlaybackTarget target, GameState& state) {
  const PlaybackTarget wanted = target == kTargetDashboard ? kTargetDashboard : kTargetTablet;
  if (g_target.exchange(wanted, std::memory_order_acq_rel) == wanted) return;
  state.surgicalLogged.store(false);
  state.stateTick.store(clock::tickMs());
  if (wanted == kTargetTablet) {
    logInfo("Destino de reproduccion seleccionado: TabCast/LUMEX. El GPS original del camion queda excluido.");
  } else if (state.truckProfileId.load() != 0) {
    logInfo(std::string("Destino de reproduccion seleccionado: GPS original del camion (") +
            truckProfileDisplayName(state.truckProfileId.load()) + "). TabCast/LUMEX queda excluido.");
  } else {
    logInfo("Destino de reproduccion seleccionado: GPS original del camion; el camion actual no tiene un perfil "
            "compatible.");
  }
}

PlaybackTarget readSavedPlaybackTarget(const std::wstring& path) {
  return ini::readInteger(path, L"gps_output", L"mode", 0) == 1 ? kTargetDashboard : kTargetTablet;
}

bool savePlaybackTarget(const std::wstring& path, PlaybackTarget target) {
  // The file has other writers (calibration, the language): every save goes through the one
  // that serialises them and never leaves the file half written.
  return ini::updateKeys(path, {{L"gps_output", L"mode", target == kTargetDashboard ? L"1" : L"0"}});
}

}  // namespace zor
