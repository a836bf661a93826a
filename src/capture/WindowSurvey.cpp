#include "capture/WindowSurvey.h"

#include <chrono>

#include "core/Logger.h"
#include "core/ProcessExit.h"

namespace zor {

WindowSurvey& WindowSurvey::instance() {
  static WindowSurvey survey;
  return survey;
}

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
      stopping_ = false;
      thread_ = std::thread([this] { run(); });
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
    stopping_ = true;
    worker.swap(thread_);  // a request meanwhile starts a thread of its own
  }
  wake_.notify_all();
  if (worker.joinable()) {
    try {
      worker.join();
    } catch (...) {
      worker.detach();  // it ends by itself once it sees stopping_
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  asked_ = false;
  ready_.clear();
  hasReady_.store(false, std::memory_order_release);
}

bool WindowSurvey::waitIdle(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !asked_; });
}

void WindowSurvey::run() {
  std::vector<VisibleWindow> listing;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || asked_; });
    if (stopping_) return;
    lock.unlock();
    listing.clear();
    bool listed = true;
    try {
      listVisibleWindows(listing, true);
    } catch (...) {
      listed = false;  // out of memory: the next request tries again
    }
    lock.lock();
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
