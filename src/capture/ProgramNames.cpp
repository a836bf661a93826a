#include "capture/ProgramNames.h"

#include <algorithm>

namespace zor {

bool ProgramNameCache::find(DWORD processId, uint64_t createdAt, std::wstring& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_) {
    if (e.processId == processId && e.createdAt == createdAt) {
      name = e.name;
      ++hits_;
      return true;
    }
  }
  ++misses_;
  return false;
}

void ProgramNameCache::store(DWORD processId, uint64_t createdAt, const std::wstring& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto same = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.processId == processId; });
  if (same != entries_.end()) {  // the id's earlier process has ended
    *same = {processId, createdAt, name};
    return;
  }
  if (entries_.size() < kCapacity) {
    entries_.push_back({processId, createdAt, name});
    return;
  }
  entries_[next_] = {processId, createdAt, name};
  next_ = (next_ + 1) % kCapacity;
}

void ProgramNameCache::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  next_ = 0;
  hits_ = misses_ = 0;
}

ProgramNameCache& programNameCache() {
  static ProgramNameCache cache;
  return cache;
}

uint64_t creationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace zor
