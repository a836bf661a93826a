#include "capture/WindowSurvey.h"

#include <chrono>
#include <utility>

#include "core/Logger.h"
#include "core/ProcessExit.h"

namespace zor {

WindowSurvey& WindowSurvey::instance() {
  static WindowSurvey survey;
  return survey;
}

WindowSurvey::WindowSurvey(Lister lister) : lister_(std::move(lister)) {}

WindowSurvey::~WindowSurvey() {
  if (process::ending()) {  // the thread is gone with the process's others
    if (thread_.joinable()) thread_.detach();
    return;
  }
  stop();
}

bool WindowSurvey::request() noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
      const uint64_t round = round_;
      thread_ = std::thread([this, round] { run(round); });
    }
    asked_ = true;
  } catch (...) {
    logWarning("[SmartCapture] No se pudo iniciar el hilo que enumera las ventanas; se enumeran en el hilo del juego.");
    return false;
  }
  wake_.notify_all();
  return true;
}

bool WindowSurvey::take(std::vector<VisibleWindow>& out) noexcept {
  if (!hasReady_.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  out.swap(ready_);
  ready_.clear();
  hasReady_.store(false, std::memory_order_release);
  return true;
}

void WindowSurvey::stop() noexcept {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++round_;  // the running thread's round is over
    worker.swap(thread_);  // a request meanwhile starts a thread of the new round
    asked_ = false;
    ready_.clear();
    hasReady_.store(false, std::memory_order_release);
  }
  wake_.notify_all();
  idle_.notify_all();
  if (worker.joinable()) {
    try {
      worker.join();
    } catch (...) {
      worker.detach();  // it ends by itself once it sees its round is over
    }
  }
}

bool WindowSurvey::waitIdle(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !asked_; });
}

void WindowSurvey::run(uint64_t round) {
  std::vector<VisibleWindow> listing;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return round_ != round || asked_; });
    if (round_ != round) return;
    lock.unlock();
    listing.clear();
    bool listed = true;
    try {
      if (lister_) {
        lister_(listing);
      } else {
        listVisibleWindows(listing, true);
      }
    } catch (...) {
      listed = false;  // out of memory: the next request tries again
    }
    lock.lock();
    // Stopped meanwhile: the listing is forgotten, and the request a newer thread answers is
    // left to it.
    if (round_ != round) return;
    if (listed) {
      ready_.swap(listing);
      hasReady_.store(true, std::memory_order_release);
      listings_.fetch_add(1);
    }
    asked_ = false;
    idle_.notify_all();
  }
}

}  // namespace zor
