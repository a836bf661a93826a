// The visible windows listed off the game's thread. Listing 200 windows and naming the programs
// of their processes costs milliseconds: a thread of its own makes the listing when asked, and
// the render thread takes the newest one once it is ready (a look at a flag until then).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/WindowMatching.h"

namespace zor {

class WindowSurvey {
 public:
  static WindowSurvey& instance();
  // How a listing is made: listVisibleWindows with programs unless a test gives another.
  using Lister = std::function<void(std::vector<VisibleWindow>&)>;
  explicit WindowSurvey(Lister lister = {});
  ~WindowSurvey();
  WindowSurvey(const WindowSurvey&) = delete;
  WindowSurvey& operator=(const WindowSurvey&) = delete;

  // Asks for a listing with programs (nothing more while one is asked). False when the thread
  // could not be started: the caller lists by itself.
  bool request() noexcept;
  // The listing made since the last take, moved into out (its old content goes); false, out
  // untouched, while none is ready.
  bool take(std::vector<VisibleWindow>& out) noexcept;
  // Ends the thread (waiting for a listing under way, which is dropped) and forgets any listing
  // and request; a request meanwhile or later starts a new thread.
  void stop() noexcept;
  // Tests and benchmarks: waits until no listing is asked or under way (false after the timeout).
  bool waitIdle(uint32_t timeoutMs);
  uint64_t listings() const { return listings_.load(); }

 private:
  void run(uint64_t round);

  Lister lister_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool asked_ = false;
  // Each thread runs for one round: a stop ends the round (a thread whose round is over leaves
  // at its next look), and a request after it starts a thread of the next round. A flag shared
  // by all threads would let that request call back the thread being stopped.
  uint64_t round_ = 0;
  std::vector<VisibleWindow> ready_;
  std::atomic<bool> hasReady_{false};
  std::atomic<uint64_t> listings_{0};
  std::thread thread_;
};

}  // namespace zor
