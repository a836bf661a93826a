#include "capture/UploadCadence.h"

#include <algorithm>

namespace zor {

namespace {
constexpr uint64_t kStaleNs = 250'000'000;  // no upload for this long: the game is not drawing the GPS
constexpr uint64_t kShortestFrameNs = 2'000'000;
constexpr uint64_t kLongestFrameNs = 100'000'000;
constexpr uint64_t kMarginNs = 1'000'000;
}  // namespace

void UploadCadence::mark(uint64_t nowNs) noexcept {
  const uint64_t last = lastNs_.load(std::memory_order_relaxed);
  if (last != 0 && nowNs < last + kShortestFrameNs) return;  // a second mark in the same frame
  lastNs_.store(nowNs, std::memory_order_relaxed);
  const uint64_t gap = nowNs - last;
  if (last == 0 || gap > kLongestFrameNs) return;  // the first, or after a stall
  const uint64_t period = periodNs_.load(std::memory_order_relaxed);
  const int64_t moved = (static_cast<int64_t>(gap) - static_cast<int64_t>(period)) / 8;
  periodNs_.store(period == 0 ? gap : static_cast<uint64_t>(static_cast<int64_t>(period) + moved),
                  std::memory_order_relaxed);
}

void UploadCadence::reset() noexcept {
  lastNs_.store(0, std::memory_order_relaxed);
  periodNs_.store(0, std::memory_order_relaxed);
}

UploadCadence::Aim UploadCadence::aim(uint64_t dueNs, uint64_t leadNs, uint64_t nowNs,
                                      uint64_t previousPointNs) const noexcept {
  const uint64_t last = lastNs_.load(std::memory_order_relaxed);
  const uint64_t period = periodNs_.load(std::memory_order_relaxed);
  if (last == 0 || period == 0 || nowNs < last || nowNs - last > kStaleNs) return {dueNs, 0};
  // The marks to come are last + k * period; the wanted one is nearest to where an unaimed
  // capture would publish.
  const uint64_t wanted = dueNs + leadNs;
  uint64_t point = last + (wanted > last ? (wanted - last + period / 2) / period * period : 0);
  if (previousPointNs != 0 && point < previousPointNs + period / 2) {
    point += (previousPointNs + period / 2 - point) / period * period + period;
  }
  if (point < nowNs + leadNs) point += (nowNs + leadNs - point + period - 1) / period * period;
  return {point - leadNs, point};
}

uint64_t UploadCadence::again(uint64_t pointNs, uint64_t sinceNs) const noexcept {
  const uint64_t last = lastNs_.load(std::memory_order_relaxed);
  const uint64_t period = periodNs_.load(std::memory_order_relaxed);
  if (last <= sinceNs || period == 0 || pointNs <= last) return pointNs;
  // The nearest mark to come: never the one just seen (after a long frame the two lie close).
  return last + std::max<uint64_t>(1, (pointNs - last + period / 2) / period) * period;
}

void CaptureLead::record(uint64_t startToPublishNs) noexcept {
  if (startToPublishNs > kLongestFrameNs) return;  // a window that hung, not the usual cost
  samples_[next_] = startToPublishNs;
  next_ = (next_ + 1) % kSamples;
  count_ = std::min(count_ + 1, kSamples);
  uint64_t sorted[kSamples];
  std::copy(samples_, samples_ + count_, sorted);
  std::sort(sorted, sorted + count_);
  leadNs_ = sorted[count_ - 1 - std::min(count_ - 1, 2)];
}

uint64_t CaptureLead::leadNs(uint64_t periodNs) const noexcept { return leadNs_ + kMarginNs + periodNs / 16; }

}  // namespace zor
