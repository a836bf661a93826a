// Hooks on functions whose first instructions are written in assembly, each exercising one
// thing the trampoline builder must get right, and on functions it must refuse.
#include <cstdlib>
#include <string>

#include "HookTestSupport.h"

#ifndef ZOR_TEST_SYSTEM_MINHOOK
#include "TrampolineBuilder.h"
#endif

namespace zor::test {
namespace {

struct Prologue {
  const char* name;
  BinaryFn fn;
  int64_t a, b;
  int64_t expected;
  int32_t flag = 0;  // value of zt_flag during the test
};

class AsmPrologueTest : public HookTest, public ::testing::WithParamInterface<Prologue> {};

TEST_P(AsmPrologueTest, CallsGoThroughDetourAndTrampolineUntilRemoved) {
  const Prologue& p = GetParam();
  zt_flag = p.flag;
  void* target = addr(p.fn);
  const auto pristine = codeBytes(target, 16);
  ASSERT_EQ(callThrough(p.fn, p.a, p.b), p.expected);

  void* trampoline = nullptr;
  ASSERT_EQ(MH_CreateHook(target, addr(&PlusThousand::detour), &trampoline), MH_OK);
  ASSERT_NE(trampoline, nullptr);
  PlusThousand::original = reinterpret_cast<BinaryFn>(trampoline);
  EXPECT_EQ(codeBytes(target, 16), pristine) << "creating must not patch";
  EXPECT_EQ(callThrough(PlusThousand::original, p.a, p.b), p.expected) << "trampoline alone";

  ASSERT_EQ(MH_EnableHook(target), MH_OK);
  EXPECT_EQ(static_cast<const uint8_t*>(target)[0], 0xE9);
  EXPECT_EQ(callThrough(p.fn, p.a, p.b), p.expected + 1000);
  EXPECT_EQ(PlusThousand::hits, 1);

  ASSERT_EQ(MH_DisableHook(target), MH_OK);
  EXPECT_EQ(codeBytes(target, 16), pristine);
  EXPECT_EQ(callThrough(p.fn, p.a, p.b), p.expected);
  EXPECT_EQ(PlusThousand::hits, 1);

  ASSERT_EQ(MH_EnableHook(target), MH_OK);
  EXPECT_EQ(callThrough(p.fn, p.a, p.b), p.expected + 1000);
  EXPECT_EQ(PlusThousand::hits, 2);

  ASSERT_EQ(MH_RemoveHook(target), MH_OK);
  EXPECT_EQ(codeBytes(target, 16), pristine);
  EXPECT_EQ(callThrough(p.fn, p.a, p.b), p.expected);
  EXPECT_EQ(PlusThousand::hits, 2);
  zt_flag = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Prologues, AsmPrologueTest,
    ::testing::Values(Prologue{"PushesAndSubRsp", zt_pushes, 3, 4, 11},
                      Prologue{"RipRelativeLea", zt_rip_lea, 2, 0, 33},
                      Prologue{"RipRelativeLoad", zt_rip_mov, 5, 0, 505},
                      Prologue{"RipRelativeCompareWithImmediateFlagClear", zt_rip_cmp, 3, 4, 7, 0},
                      Prologue{"RipRelativeCompareWithImmediateFlagSet", zt_rip_cmp, 3, 4, 3, 1},
                      Prologue{"CallRel32", zt_call_rel, 3, 4, 13},
                      Prologue{"ShortJccTaken", zt_jcc_short, 0, 4, 77},
                      Prologue{"ShortJccNotTaken", zt_jcc_short, 5, 4, 9},
                      Prologue{"LoopInsideMovedBytes", zt_inner_loop, 4, 10, 14},
                      Prologue{"TailJmpRel32", zt_thunk, 3, 4, 11},
                      Prologue{"ShortJmpOverPadding", zt_short_jmp, 1, 2, 9},
                      Prologue{"IndirectJmpThroughRip", zt_indirect_thunk, 3, 4, 11},
                      Prologue{"FourBytesThenPadding", zt_padded, 3, 4, 7}),
    [](const ::testing::TestParamInfo<Prologue>& info) { return std::string(info.param.name); });

#ifndef ZOR_TEST_SYSTEM_MINHOOK
// A detour still running on another thread when its hook is removed calls the trampoline
// afterwards; that must keep working while the engine lives, and for a trampoline that calls
// out (a thread may be inside the callee) even after MH_Uninitialize.
TEST(HookEngineMemory, RemovedTrampolinesStayCallable) {
  ASSERT_EQ(MH_Initialize(), MH_OK);
  void* pushes = nullptr;
  void* calls = nullptr;
  ASSERT_EQ(MH_CreateHook(addr(zt_pushes), addr(&PlusThousand::detour), &pushes), MH_OK);
  ASSERT_EQ(MH_CreateHook(addr(zt_call_rel), addr(&PlusThousand::detour), &calls), MH_OK);
  ASSERT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
  ASSERT_EQ(MH_RemoveHook(addr(zt_pushes)), MH_OK);
  void* other = nullptr;
  ASSERT_EQ(MH_CreateHook(addr(zt_rip_lea), addr(&PlusThousand::detour), &other), MH_OK);
  EXPECT_NE(other, pushes) << "a fresh slot is preferred over a given-back one";
  EXPECT_EQ(callThrough(reinterpret_cast<BinaryFn>(pushes), 3, 4), 11);

  ASSERT_EQ(MH_Uninitialize(), MH_OK);
  EXPECT_EQ(callThrough(reinterpret_cast<BinaryFn>(calls), 3, 4), 13);
}

using hook::PlanError;

struct Refusal {
  const char* name;
  void* fn;
  PlanError reason;
};

class RefusedFunctionTest : public HookTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedFunctionTest, CreateReportsUnsupportedAndTouchesNothing) {
  const Refusal& r = GetParam();
  const auto pristine = codeBytes(r.fn, 16);
  void* const sentinel = reinterpret_cast<void*>(0x5A5A);
  void* original = sentinel;
  EXPECT_EQ(MH_CreateHook(r.fn, addr(&PlusThousand::detour), &original), MH_ERROR_UNSUPPORTED_FUNCTION);
  EXPECT_EQ(original, sentinel);
  EXPECT_EQ(codeBytes(r.fn, 16), pristine);
  EXPECT_EQ(MH_EnableHook(r.fn), MH_ERROR_NOT_CREATED);

  // ...and for the reason the function was written for.
  const auto code = codeBytes(r.fn, 128);
  hook::TrampolinePlan plan;
  const PlanError got = hook::planTrampoline(reinterpret_cast<uint64_t>(r.fn), code.data(), code.size(), plan);
  EXPECT_EQ(got, r.reason) << hook::planErrorName(got);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedFunctionTest,
    ::testing::Values(Refusal{"TooShortWithoutPadding", addr(zt_too_short), PlanError::TooShort},
                      Refusal{"JrcxzLeavingMovedBytes", addr(zt_jrcxz_out), PlanError::LoopLeavesMovedBytes},
                      Refusal{"LoopLeavingMovedBytes", addr(zt_loop_out), PlanError::LoopLeavesMovedBytes},
                      Refusal{"BranchBackIntoMovedBytes", addr(zt_back_branch), PlanError::BranchIntoPatch},
                      Refusal{"Undecodable", addr(zt_undecodable), PlanError::Undecodable},
                      Refusal{"CallReturningUnderPatch", addr(zt_call_short), PlanError::CallReturnsIntoPatch},
                      Refusal{"EipRelative", addr(zt_eip_relative), PlanError::UnsupportedOperand},
                      Refusal{"BranchIntoMiddleOfMovedInstruction", addr(zt_misaligned), PlanError::BranchMisaligned},
                      Refusal{"Xbegin", addr(zt_xbegin), PlanError::UnsupportedOperand}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(TrampolineBuilder, CodeEndingBeforeThePatchIsCoveredIsRefused) {
  const uint8_t pushes[] = {0x55, 0x53, 0x48, 0x83};  // push rbp; push rbx; sub rsp, ... (cut)
  hook::TrampolinePlan plan;
  EXPECT_EQ(hook::planTrampoline(0x140001000, pushes, sizeof pushes, plan), PlanError::Undecodable);
}
#endif

// Memory at least 8 GB away from this program, where no rel32 from here can reach.
uint8_t* allocateFar(size_t size) {
  const uint64_t here = reinterpret_cast<uint64_t>(&zt_pushes);
  auto* p = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_EXECUTE_READWRITE));
  if (p && std::llabs(static_cast<long long>(reinterpret_cast<uint64_t>(p) - here)) < (8ll << 30)) {
    VirtualFree(p, 0, MEM_RELEASE);
    return nullptr;
  }
  return p;
}

TEST_F(HookTest, FarDetourIsReachedThroughARelay) {
  uint8_t* remote = allocateFar(0x1000);
  ASSERT_NE(remote, nullptr);
  // add rcx, 1000 ; jmp qword [rip+0] ; dq <trampoline>
  const uint8_t code[] = {0x48, 0x81, 0xC1, 0xE8, 0x03, 0x00, 0x00, 0xFF, 0x25, 0, 0, 0, 0};
  std::memcpy(remote, code, sizeof code);
  const auto pristine = codeBytes(addr(zt_pushes), 16);

  void* trampoline = nullptr;
  ASSERT_EQ(MH_CreateHook(addr(zt_pushes), remote, &trampoline), MH_OK);
  std::memcpy(remote + sizeof code, &trampoline, 8);
  FlushInstructionCache(GetCurrentProcess(), remote, 64);
  ASSERT_EQ(MH_EnableHook(addr(zt_pushes)), MH_OK);
  EXPECT_EQ(callThrough(zt_pushes, 3, 4), 1011);  // (3 + 1000) + 2 * 4
  ASSERT_EQ(MH_RemoveHook(addr(zt_pushes)), MH_OK);
  EXPECT_EQ(codeBytes(addr(zt_pushes), 16), pristine);
  EXPECT_EQ(callThrough(zt_pushes, 3, 4), 11);
  VirtualFree(remote, 0, MEM_RELEASE);
}

TEST_F(HookTest, FarTargetGetsItsTrampolineWithinReach) {
  uint8_t* remote = allocateFar(0x1000);
  ASSERT_NE(remote, nullptr);
  const size_t size = static_cast<size_t>(zt_pushes_end - reinterpret_cast<const uint8_t*>(&zt_pushes));
  std::memset(remote, 0xCC, 64);
  std::memcpy(remote, addr(zt_pushes), size);  // position-independent
  const auto fn = reinterpret_cast<BinaryFn>(remote);
  const auto pristine = codeBytes(remote, 32);

  void* trampoline = nullptr;
  ASSERT_EQ(MH_CreateHook(remote, addr(&PlusThousand::detour), &trampoline), MH_OK);
  PlusThousand::original = reinterpret_cast<BinaryFn>(trampoline);
  const long long distance = static_cast<long long>(reinterpret_cast<uint64_t>(trampoline) - reinterpret_cast<uint64_t>(remote));
  EXPECT_LT(std::llabs(distance), 1ll << 31);
  ASSERT_EQ(MH_EnableHook(remote), MH_OK);
  EXPECT_EQ(callThrough(fn, 3, 4), 1011);
  EXPECT_EQ(PlusThousand::hits, 1);
  ASSERT_EQ(MH_RemoveHook(remote), MH_OK);
  EXPECT_EQ(codeBytes(remote, 32), pristine);
  EXPECT_EQ(callThrough(fn, 3, 4), 11);
  VirtualFree(remote, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace zor::test
