// Shared pieces of the hook engine tests: the assembly test functions, a fixture that leaves
// the engine uninitialised after every test, and byte snapshots of code.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MinHook.h"

extern "C" {
// TestFunctions.S
int64_t zt_pushes(int64_t a, int64_t b);
extern const uint8_t zt_pushes_end[];
int64_t zt_rip_lea(int64_t a, int64_t b);
int64_t zt_rip_mov(int64_t a, int64_t b);
int64_t zt_rip_cmp(int64_t a, int64_t b);
int64_t zt_call_rel(int64_t a, int64_t b);
int64_t zt_jcc_short(int64_t a, int64_t b);
int64_t zt_inner_loop(int64_t a, int64_t b);
int64_t zt_thunk(int64_t a, int64_t b);
int64_t zt_short_jmp(int64_t a, int64_t b);
int64_t zt_indirect_thunk(int64_t a, int64_t b);
int64_t zt_padded(int64_t a, int64_t b);
void zt_counted(int64_t* counter);
extern int32_t zt_flag;

void zt_too_short();
void zt_jrcxz_out();
void zt_loop_out();
void zt_back_branch();
void zt_undecodable();
void zt_call_short();
void zt_eip_relative();
void zt_misaligned();
void zt_xbegin();
}

namespace zor::test {

using BinaryFn = int64_t (*)(int64_t, int64_t);

template <typename F>
void* addr(F* f) {
  return reinterpret_cast<void*>(f);
}

inline std::vector<uint8_t> codeBytes(const void* at, size_t size) {
  std::vector<uint8_t> v(size);
  std::memcpy(v.data(), at, size);
  return v;
}

// Calls through a volatile pointer: the compiler cannot see, let alone inline, the target.
inline int64_t callThrough(BinaryFn fn, int64_t a, int64_t b) {
  BinaryFn volatile p = fn;
  return p(a, b);
}

// Adds 1000 to what the original returns and counts its calls.
struct PlusThousand {
  static inline std::atomic<int> hits{0};
  static inline BinaryFn volatile original = nullptr;
  static int64_t detour(int64_t a, int64_t b) {
    hits.fetch_add(1);
    return original(a, b) + 1000;
  }
};

// Every test starts with the engine initialised and leaves it uninitialised.
class HookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MH_Initialize(), MH_OK);
    PlusThousand::hits = 0;
    PlusThousand::original = nullptr;
  }
  void TearDown() override { EXPECT_EQ(MH_Uninitialize(), MH_OK); }
};

}  // namespace zor::test
