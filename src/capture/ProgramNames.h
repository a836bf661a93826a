// Program names by process: a process's executable name does not change while it lives, so it
// is looked up once per process. A process id is reused after its process ended, so an entry
// is known by the id and the process's creation time together.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zor {

class ProgramNameCache {
 public:
  static constexpr size_t kCapacity = 512;

  // The name stored for the process (id and creation time), or false.
  bool find(DWORD processId, uint64_t createdAt, std::wstring& name);
  // Stores a name; past the capacity the oldest entry goes.
  void store(DWORD processId, uint64_t createdAt, const std::wstring& name);
  void clear();
  uint64_t hits() const { return hits_; }
  uint64_t misses() const { return misses_; }

 private:
  struct Entry {
    DWORD processId = 0;
    uint64_t createdAt = 0;
    std::wstring name;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
  size_t next_ = 0;  // the slot replaced next once full
  uint64_t hits_ = 0, misses_ = 0;
};

// The creation time of an open process (FILETIME units), or 0: with the id, it names the process.
uint64_t creationTime(HANDLE process);

// The cache processImageName uses (any thread).
ProgramNameCache& programNameCache();

}  // namespace zor
