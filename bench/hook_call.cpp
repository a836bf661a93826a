// Cost of a call through an enabled hook whose detour forwards to the trampoline, against the
// same call with the hook disabled, as the ratio of medians over alternating rounds. Also the
// cost of switching a hook on and off, which the DrawIndexed switch pays per state change, and
// what our hook costs beneath another overlay's hook on the same function (its jmp over ours,
// its trampoline leading to our relay) against that overlay's hook alone on a twin function.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "BenchKit.h"
#include "MinHook.h"
#include "core/Clock.h"
#if !defined(ZOR_SYSTEM_MINHOOK)
#include "support/ForeignHook.h"
#endif

// a + 1, with a prologue shaped like the D3D11 methods the plugin hooks.
asm(R"(
    .intel_syntax noprefix
    .text
    .p2align 4, 0xcc
    .globl zor_bench_target
zor_bench_target:
    push rbx
    sub rsp, 0x20
    lea rax, [rcx + 1]
    add rsp, 0x20
    pop rbx
    ret
    .p2align 4, 0xcc
    int3
    .p2align 4, 0xcc
    .globl zor_bench_twin
zor_bench_twin:
    push rbx
    sub rsp, 0x20
    lea rax, [rcx + 1]
    add rsp, 0x20
    pop rbx
    ret
    .p2align 4, 0xcc
    int3
    .att_syntax prefix
)");

extern "C" int64_t zor_bench_target(int64_t);
extern "C" int64_t zor_bench_twin(int64_t);

using zor::bench::median;

namespace {

using Fn = int64_t (*)(int64_t);
Fn g_original = nullptr;
volatile int64_t g_sink = 0;

int64_t forwardingDetour(int64_t x) { return g_original(x); }
Fn g_foreignOriginal = nullptr;
Fn g_foreignTwinOriginal = nullptr;
int64_t foreignDetour(int64_t x) { return g_foreignOriginal(x); }
int64_t foreignTwinDetour(int64_t x) { return g_foreignTwinOriginal(x); }

// Nanoseconds per call over `calls` calls through a volatile pointer.
double timeCalls(int calls, Fn target = zor_bench_target) {
  Fn volatile fn = target;
  int64_t sink = 0;
  const uint64_t start = zor::clock::steadyNs();
  for (int i = 0; i < calls; ++i) sink += fn(i);
  const uint64_t end = zor::clock::steadyNs();
  g_sink = sink;
  return static_cast<double>(end - start) / calls;
}

}  // namespace

int main() {
  void* target = reinterpret_cast<void*>(&zor_bench_target);
  void* trampoline = nullptr;
  if (MH_Initialize() != MH_OK ||
      MH_CreateHook(target, reinterpret_cast<void*>(&forwardingDetour), &trampoline) != MH_OK) {
    std::printf("hook_call: could not create the hook\n");
    return 1;
  }
  g_original = reinterpret_cast<Fn>(trampoline);

  constexpr int kRounds = 21;
  constexpr int kCalls = 2000000;
  std::vector<double> direct, hooked, toggle;
  timeCalls(kCalls);  // warm-up
  for (int r = 0; r < kRounds; ++r) {
    direct.push_back(timeCalls(kCalls));
    const uint64_t t0 = zor::clock::steadyNs();
    MH_EnableHook(target);
    const uint64_t t1 = zor::clock::steadyNs();
    hooked.push_back(timeCalls(kCalls));
    const uint64_t t2 = zor::clock::steadyNs();
    MH_DisableHook(target);
    const uint64_t t3 = zor::clock::steadyNs();
    toggle.push_back(static_cast<double>((t1 - t0) + (t3 - t2)) / 1000.0);
  }

#if !defined(ZOR_SYSTEM_MINHOOK)
  // Another overlay's hook: on top of ours on the target, alone on the twin.
  zor::test::ForeignHook onTop, alone;
  MH_EnableHook(target);
  if (!onTop.install(target, reinterpret_cast<void*>(&foreignDetour)) ||
      !alone.install(reinterpret_cast<void*>(&zor_bench_twin), reinterpret_cast<void*>(&foreignTwinDetour))) {
    std::printf("hook_call: could not make the other overlay's hooks\n");
    return 1;
  }
  g_foreignOriginal = reinterpret_cast<Fn>(onTop.trampoline());
  g_foreignTwinOriginal = reinterpret_cast<Fn>(alone.trampoline());
  std::vector<double> theirsAlone, stacked;
  timeCalls(kCalls);
  for (int r = 0; r < kRounds; ++r) {
    theirsAlone.push_back(timeCalls(kCalls, zor_bench_twin));
    stacked.push_back(timeCalls(kCalls));
  }
  onTop.takeAway();
  alone.takeAway();
#endif
  MH_Uninitialize();

  const double d = median(direct);
  const double h = median(hooked);
  std::printf("hook_call: direct %.2f ns/call, through hook+detour+trampoline %.2f ns/call, ratio %.2f "
              "(medians of %d alternating rounds of %d calls)\n",
              d, h, h / d, kRounds, kCalls);
  std::printf("hook_call: enable+disable of one hook %.0f us (median)\n", median(toggle));
#if !defined(ZOR_SYSTEM_MINHOOK)
  const double a = median(theirsAlone);
  const double st = median(stacked);
  std::printf("hook_call: another overlay's hook alone %.2f ns/call, with ours beneath it (its trampoline to our relay, "
              "detour, trampoline) %.2f ns/call, ratio %.2f (medians of %d alternating rounds of %d calls)\n",
              a, st, st / a, kRounds, kCalls);
#endif
  return 0;
}
