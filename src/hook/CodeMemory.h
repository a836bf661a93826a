// Reading and writing code in this process: what counts as executable, a fault-free copy of
// code bytes, page protections around a patch, and the patch store itself.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zor::hook {

bool isExecutable(const void* p);

// Copies up to `size` bytes of code starting at `at`, stopping where readable executable
// memory ends. Returns the number of bytes copied.
size_t readCode(const uint8_t* at, uint8_t* out, size_t size);

struct PageProtection {
  void* page;
  DWORD old;
};

// Makes the pages under [at, at + size) writable (and still executable), appending their old
// protections to `saved`. On failure nothing stays changed.
bool unprotect(uint8_t* at, size_t size, std::vector<PageProtection>& saved);
void restoreProtections(const std::vector<PageProtection>& saved);

// Writes patch bytes into already writable code; when they share one aligned qword, with a
// single store, so that a thread we could not hold still sees either the old or the new
// instruction.
void storeCode(uint8_t* at, const uint8_t* bytes, size_t size);

// Copies code into executable memory (the page stays executable throughout) and flushes the
// instruction cache. False when the protection cannot be changed.
bool writeExecutable(void* at, const void* bytes, size_t size);

}  // namespace zor::hook
