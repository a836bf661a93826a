// When the game takes a new picture, and when the worker should start one so that it is ready
// just then. The render thread marks the moment it copies the newest picture into the GPS texture
// (the screen's first bind in a frame, else Present); a picture published just before that moment
// is in the frame the game presents next, one published just after waits a whole frame. The
// worker aims each capture at one of those moments instead of at its bare interval.
#pragma once

#include <atomic>
#include <cstdint>

namespace zor {

class UploadCadence {
 public:
  // Render thread, once a frame; lock-free.
  void mark(uint64_t nowNs) noexcept;
  // Forgets the moments seen (a new device, capture stopped).
  void reset() noexcept;

  struct Aim {
    uint64_t startNs = 0;  // when to begin the capture
    uint64_t pointNs = 0;  // the upload it is meant for; 0: none known, the capture starts when due
  };
  // Worker: a capture due at dueNs that takes leadNs to publish. It is aimed at the upload
  // nearest to dueNs + leadNs that comes after previousPointNs (the one the last capture was for)
  // by more than half a frame and can still be reached from nowNs. Unaimed (due as it is) while
  // no upload has been seen for 250 ms.
  Aim aim(uint64_t dueNs, uint64_t leadNs, uint64_t nowNs, uint64_t previousPointNs) const noexcept;
  // Worker: the same upload as pointNs, foreseen again from the newest mark (a foresight of one
  // frame rather than several, as the game's frames wander). pointNs as it is while no newer
  // mark than sinceNs has come.
  uint64_t again(uint64_t pointNs, uint64_t sinceNs) const noexcept;
  uint64_t lastMarkNs() const noexcept { return lastNs_.load(std::memory_order_relaxed); }

  uint64_t periodNs() const noexcept { return periodNs_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> lastNs_{0};
  std::atomic<uint64_t> periodNs_{0};  // a running average of the time between marks
};

// The worker's estimate of how long before the upload a capture must start: the time from the
// planned start to the publish (the wake-up's lateness included) that the last 16 captures kept
// to but two, plus a small margin. A capture late for its upload costs a whole frame and one
// early only the time it is early, but the longest of 16 is mostly one capture the system held
// up, and it would set every picture early for the next half second. Worker only.
class CaptureLead {
 public:
  void record(uint64_t startToPublishNs) noexcept;
  uint64_t leadNs(uint64_t periodNs) const noexcept;

 private:
  static constexpr int kSamples = 16;
  uint64_t samples_[kSamples] = {};
  int count_ = 0, next_ = 0;
  uint64_t leadNs_ = 4'000'000;  // until measured
};

}  // namespace zor
