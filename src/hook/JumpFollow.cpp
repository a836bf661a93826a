// Following the jumps other hookers write: where they lead and which module that is.
#include <windows.h>

#include <cstring>

#include "HookChain.h"

namespace zor::hook {
namespace {

// Reads without faulting (the bytes may be anywhere, even unmapped).
bool readBytes(const void* at, void* out, size_t size) {
  SIZE_T got = 0;
  return ReadProcessMemory(GetCurrentProcess(), at, out, size, &got) && got == size;
}

}  // namespace

bool jumpDestination(const void* code, const void** destination) {
  uint8_t b[12];
  if (!readBytes(code, b, sizeof b)) return false;
  const auto at = reinterpret_cast<uint64_t>(code);
  int32_t rel = 0;
  uint64_t dest = 0;
  if (b[0] == 0xE9) {
    std::memcpy(&rel, b + 1, 4);
    dest = at + 5 + static_cast<int64_t>(rel);
  } else if (b[0] == 0xEB) {
    dest = at + 2 + static_cast<int8_t>(b[1]);
  } else if (b[0] == 0xFF && b[1] == 0x25) {
    std::memcpy(&rel, b + 2, 4);
    if (!readBytes(reinterpret_cast<const void*>(at + 6 + static_cast<int64_t>(rel)), &dest, 8)) return false;
  } else if (b[0] == 0x48 && b[1] == 0xB8 && b[10] == 0xFF && b[11] == 0xE0) {
    std::memcpy(&dest, b + 2, 8);
  } else {
    return false;
  }
  *destination = reinterpret_cast<const void*>(dest);
  return true;
}

size_t jumpModuleName(const void* code, wchar_t* out, size_t capacity) {
  if (!out || capacity == 0) return 0;
  out[0] = L'\0';
  const void* at = code;
  for (int hop = 0; hop < 5; ++hop) {
    const void* next = nullptr;
    if (!jumpDestination(at, &next)) return 0;
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(next), &module) &&
        module) {
      wchar_t path[MAX_PATH];
      const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
      if (n == 0 || n >= MAX_PATH) return 0;
      const wchar_t* name = path;
      for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/') name = p + 1;
      }
      const size_t length = wcslen(name);
      if (length + 1 > capacity) return 0;
      std::memcpy(out, name, (length + 1) * sizeof(wchar_t));
      return length;
    }
    at = next;
  }
  return 0;
}

}  // namespace zor::hook
