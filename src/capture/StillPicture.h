// A captured picture that has stopped changing. Browsers and programs built on them stop
// painting a window they consider covered (by the game, on the same monitor) while its sound
// plays on: every capture then returns the last picture. The worker keeps a cheap fingerprint
// of the pixels each frame is composed from; this rule tells when the same fingerprint has
// lasted 10 s of steady time while the application may be making sound (a paused video that is
// silent is no fault), once per episode, and when the picture changes again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

// What the source application's audio session says, where it can be read.
enum class SourceSound : uint8_t { Unknown, Sounding, Silent };

// A 64-bit hash of a 64 x 64 grid of pixels of a 32-bit picture (colour bytes only).
uint64_t pictureFingerprint(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride);

class StillPictureRule {
 public:
  static constexpr uint64_t kStillNs = 10'000'000'000ull;
  enum class Event { None, Frozen, Changed };

  // Another window (or none): any episode ends without a word and the time starts again.
  void restart(uint64_t nowNs);
  // Frames stopped for a while (a pause, a new frame size): the time starts again, an episode
  // under way goes on.
  void resume(uint64_t nowNs);
  // One composed frame. Frozen once when the same picture has lasted kStillNs and the
  // application is not known to be silent; Changed when a frozen picture changes.
  Event observe(uint64_t fingerprint, uint64_t nowNs, SourceSound sound);
  bool frozen() const { return frozen_; }
  uint64_t unchangedSinceNs() const { return changedNs_; }

 private:
  bool seen_ = false;
  bool frozen_ = false;
  uint64_t fingerprint_ = 0;
  uint64_t changedNs_ = 0;
};

// Programs that stop painting covered windows: the Chromium-based browsers and Electron
// programs (lower-case executable name).
bool stopsPaintingWhenCovered(std::wstring_view program);
// The player's cure for a still picture of that program, in a few words (UTF-8).
std::string stillPictureHint(std::wstring_view program);

}  // namespace zor
