#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/FaultGuard.h"

extern "C" uint32_t zor_test_guard_preserves(void* faultingAddress);

namespace {

// Two committed pages; the second one can be made inaccessible.
class PagePair {
 public:
  PagePair() {
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  }
  ~PagePair() { VirtualFree(base_, 0, MEM_RELEASE); }
  uint8_t* first() const { return base_; }
  uint8_t* second() const { return base_ + kPage; }
  void protectSecond(DWORD protect) {
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(second(), kPage, protect, &old));
  }
  static constexpr size_t kPage = 4096;

 private:
  uint8_t* base_ = nullptr;
};

// An address that was mapped and is not any more.
void* releasedAddress() {
  void* p = VirtualAlloc(nullptr, 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  VirtualFree(p, 0, MEM_RELEASE);
  return p;
}

TEST(FaultGuard, SafeCopyCopiesEverySizeAndAlignmentExactly) {
  uint8_t source[96];
  for (size_t i = 0; i < sizeof(source); ++i) source[i] = static_cast<uint8_t>(i * 7 + 3);
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t size = 0; size <= 40; ++size) {
      uint8_t dst[64];
      std::memset(dst, 0xEE, sizeof(dst));
      ASSERT_TRUE(zor::fault::safeCopy(dst + 1, source + offset, size)) << offset << "/" << size;
      ASSERT_EQ(0, std::memcmp(dst + 1, source + offset, size)) << offset << "/" << size;
      ASSERT_EQ(dst[0], 0xEE);
      ASSERT_EQ(dst[1 + size], 0xEE) << "wrote past the end, size " << size;
    }
  }
}

TEST(FaultGuard, SafeCopyReportsEveryKindOfUnreadableMemory) {
  PagePair pages;
  std::memset(pages.first(), 0x5A, PagePair::kPage);
  uint8_t dst[64];

  pages.protectSecond(PAGE_NOACCESS);
  EXPECT_FALSE(zor::fault::safeCopy(dst, pages.second(), 8));
  // A read that starts readable and runs into the inaccessible page.
  EXPECT_FALSE(zor::fault::safeCopy(dst, pages.second() - 20, 40));
  EXPECT_TRUE(zor::fault::safeCopy(dst, pages.second() - 20, 20));

  pages.protectSecond(PAGE_READWRITE | PAGE_GUARD);
  EXPECT_FALSE(zor::fault::safeCopy(dst, pages.second(), 8));

  EXPECT_FALSE(zor::fault::safeCopy(dst, releasedAddress(), 16));
  EXPECT_FALSE(zor::fault::safeCopy(dst, nullptr, 1));
  // Garbage pointers in game structures are often not even canonical addresses.
  EXPECT_FALSE(zor::fault::safeCopy(dst, reinterpret_cast<void*>(0x8000'0000'0000'1000ull), 8));
  uint64_t value = 0;
  EXPECT_FALSE(zor::fault::safeRead(0xFFFF'0000'0000'0000ull, value));
}

TEST(FaultGuard, SafeCopyFaultsOnManyThreadsAtOnce) {
  void* bad = releasedAddress();
  std::atomic<int> caught{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      uint64_t good = 42, out = 0;
      for (int i = 0; i < 200; ++i) {
        if (!zor::fault::safeCopy(&out, bad, 8)) caught.fetch_add(1);
        if (!zor::fault::safeCopy(&out, &good, 8) || out != 42) caught.fetch_add(1000000);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(caught.load(), 800);
}

TEST(FaultGuard, GuardedCallRestoresEveryCalleeSavedRegisterAfterAFault) {
  // 0 = the call reported the fault and rbx, rbp, rdi, rsi, r12-r15, xmm6-xmm15 and the direction
  // flag are as they were before the faulting function wrecked them.
  EXPECT_EQ(zor_test_guard_preserves(releasedAddress()), 0u);
  EXPECT_EQ(zor_test_guard_preserves(nullptr), 0u);
}

[[gnu::noinline]] int readThrough(const volatile int* p, int depth) {
  if (depth == 0) return *p;
  return readThrough(p, depth - 1) + 1;
}

TEST(FaultGuard, GuardedCallResumesAfterFaultsDeepInsideCalleesAndRunsCleanOtherwise) {
  const volatile int* bad = static_cast<const volatile int*>(releasedAddress());
  int result = 0;
  for (int i = 0; i < 300; ++i) {  // a leaked stack or handler state would show up here
    auto faulting = [&] { result = readThrough(bad, i % 20); };
    ASSERT_FALSE(zor::fault::guarded(faulting)) << i;
  }
  int value = 5;
  auto fine = [&] { result = readThrough(&value, 10); };
  EXPECT_TRUE(zor::fault::guarded(fine));
  EXPECT_EQ(result, 15);
}

TEST(FaultGuard, NestedGuardsCatchAtTheInnermostOne) {
  const volatile int* bad = static_cast<const volatile int*>(releasedAddress());
  bool innerResult = true, afterInner = false;
  auto outer = [&] {
    auto inner = [&] { (void)*bad; };
    innerResult = zor::fault::guarded(inner);
    afterInner = true;
  };
  EXPECT_TRUE(zor::fault::guarded(outer));
  EXPECT_FALSE(innerResult);
  EXPECT_TRUE(afterInner);
}

TEST(FaultGuard, HandlersBelowTheGuardKeepTheirFirstChance) {
  // IsBadReadPtr handles its own fault; the guard must not take it away from it.
  void* bad = releasedAddress();
  BOOL reported = FALSE;
  bool continued = false;
  auto probe = [&] {
    reported = IsBadReadPtr(bad, 8);
    continued = true;
  };
  EXPECT_TRUE(zor::fault::guarded(probe));
  EXPECT_TRUE(reported);
  EXPECT_TRUE(continued);
}

void throwFrom(void*) { throw std::runtime_error("passes through"); }

TEST(FaultGuard, CppExceptionsUnwindThroughTheGuardFrame) {
  // Proves the guard's unwind data describes its frame correctly: the unwinder walks through it.
  bool caught = false;
  try {
    zor_guard_invoke(&throwFrom, nullptr);
  } catch (const std::runtime_error&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
}

}  // namespace
