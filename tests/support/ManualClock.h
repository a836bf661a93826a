// A clock the test moves by hand; installed for its lifetime.
#pragma once

#include "core/Clock.h"

namespace zor::test {

class ManualClock {
 public:
  explicit ManualClock(uint64_t startMs = 1'000'000) : ms_(startMs), ns_(startMs * 1'000'000ull) {
    source_ = {[](void* s) { return static_cast<ManualClock*>(s)->ms_; },
               [](void* s) { return static_cast<ManualClock*>(s)->ns_; }, this};
    zor::clock::setSource(&source_);
  }
  ~ManualClock() { zor::clock::setSource(nullptr); }
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  // Moves both clocks forward together.
  void advanceMs(uint64_t ms) { ms_ += ms; ns_ += ms * 1'000'000ull; }
  void advanceNs(uint64_t ns) { ns_ += ns; ms_ = ns_ / 1'000'000ull; }
  uint64_t ms() const { return ms_; }
  uint64_t ns() const { return ns_; }

 private:
  uint64_t ms_;
  uint64_t ns_;
  zor::clock::Source source_{};
};

}  // namespace zor::test
