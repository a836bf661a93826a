// The worker's timed wait: it ends when woken, even by a wake that came before it, and when its
// time is up.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/TimedWake.h"

namespace zor::test {
namespace {

TEST(TimedWake, EndsWhenWokenBeforeOrDuringTheWaitAndWhenTheTimeIsUp) {
  TimedWake wake;
  ASSERT_TRUE(wake.ready());
  const auto waited = [&](uint64_t timeoutNs) {
    const auto start = std::chrono::steady_clock::now();
    wake.wait(timeoutNs);
    return std::chrono::steady_clock::now() - start;
  };
  constexpr uint64_t kMinute = 60'000'000'000ull;
  wake.wake();  // no one waiting: the next wait ends at once
  EXPECT_LT(waited(kMinute), std::chrono::seconds(10));
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    wake.wake();
  });
  EXPECT_LT(waited(kMinute), std::chrono::seconds(10));
  waker.join();
  EXPECT_GE(waited(20'000'000), std::chrono::milliseconds(19));  // the wake was used up
}

}  // namespace
}  // namespace zor::test
