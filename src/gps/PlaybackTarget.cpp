#include "gps/PlaybackTarget.h"

#include <atomic>

namespace zor {
namespace {
std::atomic<uint32_t> g_target{kTargetTablet};
}

PlaybackTarget playbackTarget() noexcept {
  return static_cast<PlaybackTarget>(g_target.load(std::memory_order_acquire));
}

void storePlaybackTarget(PlaybackTarget target) noexcept { g_target.store(target, std::memory_order_release); }

}  // namespace zor
