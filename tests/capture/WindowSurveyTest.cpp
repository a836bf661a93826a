// The listing thread of smart capture: stopped and asked again from different threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "capture/WindowSurvey.h"

namespace zor::test {
namespace {

using namespace std::chrono_literals;

// A request that comes between a stop taking the thread and that thread waking must start a
// thread of its own and leave the stop to end the old one: the stop returns, the request is
// answered. (With one stop flag for all threads the request cleared it and the stop waited for
// ever.) Each listing is held until the test lets it go, so the old thread is still listing
// when the request comes.
TEST(WindowSurvey, AStopEndsItsThreadEvenWhenARequestStartsTheNextMeanwhile) {
  std::mutex mutex;
  std::condition_variable changed;
  int listings = 0;
  bool letGo = false;
  WindowSurvey survey([&](std::vector<VisibleWindow>&) {
    std::unique_lock<std::mutex> lock(mutex);
    ++listings;
    changed.notify_all();
    changed.wait(lock, [&] { return letGo; });
  });
  const auto listingsReach = [&](int n, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_until(lock, deadline, [&] { return listings >= n; });
  };
  ASSERT_TRUE(survey.request());
  ASSERT_TRUE(listingsReach(1, std::chrono::steady_clock::now() + 10s));

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    survey.stop();
    stopped = true;
  });
  // Asked until a second thread lists: only once the stop has taken the first one.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  bool second = false;
  while (!second && std::chrono::steady_clock::now() < deadline) {
    survey.request();
    second = listingsReach(2, std::chrono::steady_clock::now() + 5ms);
  }
  EXPECT_TRUE(second);
  {
    std::lock_guard<std::mutex> lock(mutex);
    letGo = true;
  }
  changed.notify_all();

  for (auto until = std::chrono::steady_clock::now() + 5s; !stopped && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(stopped) << "the stop still waits for the thread it stopped";
  EXPECT_TRUE(survey.waitIdle(10000));
  std::vector<VisibleWindow> listing;
  EXPECT_TRUE(survey.take(listing)) << "the request after the stop is answered";
  survey.stop();  // also ends a stop that hung (both threads see the new stop)
  stopper.join();
}

}  // namespace
}  // namespace zor::test
