#include "CodeMemory.h"

#include <algorithm>
#include <cstring>

namespace zor::hook {
namespace {

constexpr uint64_t kPageSize = 0x1000;
constexpr DWORD kExecutable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kReadableExecutable = PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

bool queryUsable(const void* p, DWORD wanted, MEMORY_BASIC_INFORMATION& mbi) {
  if (!VirtualQuery(p, &mbi, sizeof mbi)) return false;
  return mbi.State == MEM_COMMIT && !(mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) && (mbi.Protect & wanted);
}

}  // namespace

bool isExecutable(const void* p) {
  MEMORY_BASIC_INFORMATION mbi;
  return p && queryUsable(p, kExecutable, mbi);
}

size_t readCode(const uint8_t* at, uint8_t* out, size_t size) {
  size_t length = 0;
  MEMORY_BASIC_INFORMATION mbi;
  while (length < size && queryUsable(at + length, kReadableExecutable, mbi)) {
    const uint64_t regionEnd = reinterpret_cast<uint64_t>(mbi.BaseAddress) + mbi.RegionSize;
    length += std::min<uint64_t>(regionEnd - reinterpret_cast<uint64_t>(at + length), size - length);
  }
  SIZE_T copied = 0;
  if (length == 0 || !ReadProcessMemory(GetCurrentProcess(), at, out, length, &copied)) return 0;
  return copied;
}

bool unprotect(uint8_t* at, size_t size, std::vector<PageProtection>& saved) {
  const uint64_t first = reinterpret_cast<uint64_t>(at) & ~(kPageSize - 1);
  const uint64_t last = (reinterpret_cast<uint64_t>(at) + size - 1) & ~(kPageSize - 1);
  const size_t mark = saved.size();
  for (uint64_t page = first; page <= last; page += kPageSize) {
    DWORD old = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(page), 1, PAGE_EXECUTE_READWRITE, &old)) {
      for (size_t i = saved.size(); i > mark; --i) {
        DWORD ignored;
        VirtualProtect(saved[i - 1].page, 1, saved[i - 1].old, &ignored);
      }
      saved.resize(mark);
      return false;
    }
    saved.push_back(PageProtection{reinterpret_cast<void*>(page), old});
  }
  return true;
}

void restoreProtections(const std::vector<PageProtection>& saved) {
  for (size_t i = saved.size(); i > 0; --i) {
    DWORD ignored;
    VirtualProtect(saved[i - 1].page, 1, saved[i - 1].old, &ignored);
  }
}

void storeCode(uint8_t* at, const uint8_t* bytes, size_t size) {
  const uint64_t a = reinterpret_cast<uint64_t>(at);
  const uint64_t q = a & ~uint64_t{7};
  if (a + size <= q + 8) {
    auto* word = reinterpret_cast<uint64_t*>(q);
    uint64_t v = __atomic_load_n(word, __ATOMIC_RELAXED);
    std::memcpy(reinterpret_cast<uint8_t*>(&v) + (a - q), bytes, size);
    __atomic_store_n(word, v, __ATOMIC_SEQ_CST);
  } else {
    std::memcpy(at, bytes, size);
  }
}

bool writeExecutable(void* at, const void* bytes, size_t size) {
  DWORD old = 0;
  if (!VirtualProtect(at, size, PAGE_EXECUTE_READWRITE, &old)) return false;
  std::memcpy(at, bytes, size);
  DWORD ignored = 0;
  VirtualProtect(at, size, old, &ignored);
  FlushInstructionCache(GetCurrentProcess(), at, size);
  return true;
}

}  // namespace zor::hook
