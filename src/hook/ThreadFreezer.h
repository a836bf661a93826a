// Holds every other thread of the process still while code is patched, and moves a thread
// whose instruction pointer sits in code that is about to change to the same instruction in
// its new place.
//
// Everything that allocates (the thread snapshot, the handle list, the move list) happens in
// prepare(); between freeze() and thaw() only Suspend/Get/SetThreadContext/Resume run, so a
// suspended thread holding the heap or loader lock cannot deadlock us.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "TrampolineBuilder.h"

namespace zor::hook {

// One stretch of code whose instructions move: a thread whose RIP is `from + table[i].first`
// for some i goes to `to + table[i].second`.
struct CodeMove {
  uint64_t from = 0;
  uint64_t fromSize = 0;  // RIP in [from, from + fromSize) is considered
  uint64_t to = 0;
  const Boundary* table = nullptr;
  uint8_t tableCount = 0;
  bool towardsTrampoline = true;  // table old->new when true, new->old when false
};

class ThreadFreezer {
 public:
  ThreadFreezer() = default;
  ~ThreadFreezer();
  ThreadFreezer(const ThreadFreezer&) = delete;
  ThreadFreezer& operator=(const ThreadFreezer&) = delete;

  // Opens the other threads of the process. May allocate; call before freeze().
  bool prepare(size_t moveCapacity);
  void addMove(const CodeMove& move);  // within the capacity given to prepare()

  // Suspends the prepared threads and relocates their instruction pointers.
  void freeze();
  // Resumes them and closes their handles.
  void thaw();

  uint32_t movedCount() const { return moved_; }

 private:
  bool relocate(uint64_t& rip) const;

  struct Thread {
    HANDLE handle;
    bool suspended;
  };
  std::vector<Thread> threads_;
  std::vector<CodeMove> moves_;
  uint32_t moved_ = 0;
  bool frozen_ = false;
};

}  // namespace zor::hook
