#include "ThreadFreezer.h"

#include <tlhelp32.h>

namespace zor::hook {

ThreadFreezer::~ThreadFreezer() { thaw(); }

bool ThreadFreezer::prepare(size_t moveCapacity) {
  moves_.reserve(moveCapacity);
  const DWORD self = GetCurrentThreadId();
  const DWORD pid = GetCurrentProcessId();
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return false;
  THREADENTRY32 te;
  te.dwSize = sizeof te;
  if (Thread32First(snap, &te)) {
    do {
      if (te.dwSize < offsetof(THREADENTRY32, th32OwnerProcessID) + sizeof te.th32OwnerProcessID) continue;
      if (te.th32OwnerProcessID != pid || te.th32ThreadID == self) continue;
      HANDLE h = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT |
                                THREAD_QUERY_INFORMATION,
                            FALSE, te.th32ThreadID);
      if (h) threads_.push_back(Thread{h, false});
      te.dwSize = sizeof te;
    } while (Thread32Next(snap, &te));
  }
  CloseHandle(snap);
  return true;
}

void ThreadFreezer::addMove(const CodeMove& move) {
  if (moves_.size() < moves_.capacity()) moves_.push_back(move);
}

bool ThreadFreezer::relocate(uint64_t& rip) const {
  for (const CodeMove& m : moves_) {
    if (rip < m.from || rip >= m.from + m.fromSize) continue;
    const uint64_t offset = rip - m.from;
    for (uint8_t i = 0; i < m.tableCount; ++i) {
      const uint8_t fromOffset = m.towardsTrampoline ? m.table[i].oldOffset : m.table[i].newOffset;
      const uint8_t toOffset = m.towardsTrampoline ? m.table[i].newOffset : m.table[i].oldOffset;
      if (fromOffset == offset) {
        rip = m.to + toOffset;
        return true;
      }
    }
    return false;
  }
  return false;
}

void ThreadFreezer::freeze() {
  if (frozen_) return;
  frozen_ = true;
  for (Thread& t : threads_) {
    if (SuspendThread(t.handle) == static_cast<DWORD>(-1)) continue;  // already gone
    t.suspended = true;
    // Reading the context also waits until the thread has really stopped.
    CONTEXT ctx;
    ctx.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(t.handle, &ctx)) continue;
    uint64_t rip = ctx.Rip;
    if (relocate(rip)) {
      ctx.Rip = rip;
      if (SetThreadContext(t.handle, &ctx)) ++moved_;
    }
  }
}

void ThreadFreezer::thaw() {
  for (Thread& t : threads_) {
    if (t.suspended) ResumeThread(t.handle);
    CloseHandle(t.handle);
  }
  threads_.clear();
  frozen_ = false;
}

}  // namespace zor::hook
