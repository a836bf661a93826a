// Hooks switched on and off while other threads keep calling the target, and API calls made
// from several threads at once.
#include <array>
#include <cstdio>
#include <functional>
#include <thread>

#include "HookTestSupport.h"
#include "core/Clock.h"

#ifndef ZOR_TEST_SYSTEM_MINHOOK
#include "HookEngineStats.h"
#endif

namespace zor::test {
namespace {

using CountedFn = void (*)(int64_t*);

struct CountingDetour {
  static inline std::atomic<int64_t> calls{0};
  static inline CountedFn volatile original = nullptr;
  static void detour(int64_t* counter) {
    calls.fetch_add(1, std::memory_order_relaxed);
    original(counter);
  }
};

bool waitUntil(const std::function<bool()>& done, uint64_t timeoutMs) {
  const uint64_t end = clock::steadyNs() + timeoutMs * 1000000ull;
  while (!done()) {
    if (clock::steadyNs() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST_F(HookTest, TogglingWhileThreadsCallTheTargetLosesAndDuplicatesNoCall) {
  constexpr int kThreads = 3;
  alignas(8) static int64_t originalRuns = 0;  // the assembly adds to it with lock add
  originalRuns = 0;
  CountingDetour::calls = 0;
  std::atomic<bool> stop{false};
  std::array<std::atomic<int64_t>, kThreads> calls{};

  void* trampoline = nullptr;
  ASSERT_EQ(MH_CreateHook(addr(zt_counted), addr(&CountingDetour::detour), &trampoline), MH_OK);
  CountingDetour::original = reinterpret_cast<CountedFn>(trampoline);
  const auto pristine = codeBytes(addr(zt_counted), 16);

  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      CountedFn volatile target = zt_counted;
      int64_t n = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        target(&originalRuns);
        calls[i].store(++n, std::memory_order_relaxed);
      }
    });
  }
  ASSERT_TRUE(waitUntil([&] { for (auto& c : calls) if (c == 0) return false; return true; }, 10000));

  // Toggle until threads have been caught inside the moved bytes and inside the trampoline
  // a few times each (the engine moves them), with a floor and a ceiling on the work.
  int toggles = 0;
  const uint64_t deadline = clock::steadyNs() + 8000000000ull;
  for (;;) {
    ASSERT_EQ(MH_EnableHook(addr(zt_counted)), MH_OK);
    ASSERT_EQ(MH_DisableHook(addr(zt_counted)), MH_OK);
    ++toggles;
#ifndef ZOR_TEST_SYSTEM_MINHOOK
    const auto s = hook::engineStats();
    const bool enough = s.threadsMovedToTrampolines >= 3 && s.threadsMovedToTargets >= 3;
#else
    const bool enough = true;
#endif
    if ((toggles >= 50 && enough) || clock::steadyNs() > deadline) break;
  }
  ASSERT_EQ(MH_EnableHook(addr(zt_counted)), MH_OK);
  stop = true;
  for (auto& t : threads) t.join();

  int64_t total = 0;
  for (auto& c : calls) total += c;
  EXPECT_EQ(originalRuns, total) << "every call runs the original exactly once";
  EXPECT_GT(CountingDetour::calls, 0);
  EXPECT_LE(CountingDetour::calls, total);
#ifndef ZOR_TEST_SYSTEM_MINHOOK
  const auto s = hook::engineStats();
  EXPECT_GT(s.threadsMovedToTrampolines, 0u) << "toggles=" << toggles;
  EXPECT_GT(s.threadsMovedToTargets, 0u) << "toggles=" << toggles;
  std::printf("[          ] %d toggles, %lld calls, %lld through the detour, moved %llu in / %llu out\n",
              toggles, static_cast<long long>(total), static_cast<long long>(CountingDetour::calls.load()),
              static_cast<unsigned long long>(s.threadsMovedToTrampolines),
              static_cast<unsigned long long>(s.threadsMovedToTargets));
#endif
  ASSERT_EQ(MH_RemoveHook(addr(zt_counted)), MH_OK);
  EXPECT_EQ(codeBytes(addr(zt_counted), 16), pristine);
}

TEST_F(HookTest, ApiCallsFromSeveralThreadsAtOnce) {
  struct Job {
    BinaryFn fn;
    int64_t a, b, plain;
  };
  const Job jobs[] = {{zt_pushes, 3, 4, 11}, {zt_rip_lea, 2, 0, 33}, {zt_padded, 3, 4, 7}, {zt_call_rel, 3, 4, 13}};
  // Each thread owns one target; its detour must not share state with the others, so the
  // detour here only counts and the result is checked through the trampoline directly.
  static std::atomic<int> failures{0};
  failures = 0;
  std::vector<std::thread> threads;
  for (const Job& job : jobs) {
    threads.emplace_back([job] {
      for (int round = 0; round < 15; ++round) {
        void* trampoline = nullptr;
        if (MH_CreateHook(addr(job.fn), addr(&PlusThousand::detour), &trampoline) != MH_OK) { ++failures; return; }
        if (callThrough(reinterpret_cast<BinaryFn>(trampoline), job.a, job.b) != job.plain) ++failures;
        if (MH_EnableHook(addr(job.fn)) != MH_OK) ++failures;
        if (MH_EnableHook(addr(job.fn)) != MH_ERROR_ENABLED) ++failures;
        if (MH_DisableHook(addr(job.fn)) != MH_OK) ++failures;
        if (callThrough(job.fn, job.a, job.b) != job.plain) ++failures;
        if (MH_RemoveHook(addr(job.fn)) != MH_OK) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace zor::test
