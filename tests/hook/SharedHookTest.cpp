// Our hooks beside another module's hook on the same function (ForeignHook: the way common
// hooking libraries write theirs), in both orders of arrival and every order of departure. Our
// detour lives in memory of its own, released once our hook is gone, as the plugin's module is
// at unload: whatever still leads into it then would crash.
#include "HookTestSupport.h"

#ifndef ZOR_TEST_SYSTEM_MINHOOK
#include <string>

#include "HookChain.h"
#include "support/ForeignHook.h"

extern "C" int64_t zt_shared(int64_t a, int64_t b);  // a + 3b
extern "C" const uint8_t zt_shared_end[];

namespace zor::test {
namespace {

using hook::PatchState;
using Encoding = ForeignHook::Encoding;

constexpr int64_t kA = 3, kB = 4;
constexpr int64_t kPlain = kA + 3 * kB;
constexpr int64_t kOurs = 1000;      // our detour adds this to a
constexpr int64_t kForeign = 10000;  // the other module's detour adds this

// Our detour, in memory of its own: add rcx, 1000 ; jmp qword [rip+0] ; dq trampoline.
class OurModule {
 public:
  OurModule() {
    code_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    const uint8_t code[] = {0x48, 0x81, 0xC1, 0xE8, 0x03, 0x00, 0x00, 0xFF, 0x25, 0, 0, 0, 0};
    std::memcpy(code_, code, sizeof code);
  }
  ~OurModule() { release(); }
  void* detour() const { return code_; }
  void leadTo(void* trampoline) {
    std::memcpy(code_ + 13, &trampoline, 8);
    FlushInstructionCache(GetCurrentProcess(), code_, 32);
  }
  void release() {
    if (code_) VirtualFree(code_, 0, MEM_RELEASE);
    code_ = nullptr;
  }

 private:
  uint8_t* code_ = nullptr;
};

BinaryFn volatile g_foreignOriginal = nullptr;
std::atomic<int> g_foreignHits{0};
int64_t foreignDetour(int64_t a, int64_t b) {
  ++g_foreignHits;
  return g_foreignOriginal(a + kForeign, b);
}

struct Notice {
  const void* target;
  const void* jumpsTo;
};
std::vector<Notice> g_notices;
void recordNotice(const void* target, const void* jumpsTo) { g_notices.push_back({target, jumpsTo}); }

std::wstring moduleOfJumpAt(const void* code) {
  wchar_t name[MAX_PATH];
  return hook::jumpModuleName(code, name, MAX_PATH) ? std::wstring(name) : std::wstring();
}

// Every test leaves zt_shared as it was made, whatever it wrote there.
class SharedHookTest : public HookTest {
 protected:
  void SetUp() override {
    HookTest::SetUp();
    pristine_ = codeBytes(target(), 32);
    g_foreignHits = 0;
    g_notices.clear();
    hook::setChainNotice(&recordNotice);
  }
  void TearDown() override {
    hook::setChainNotice(nullptr);
    HookTest::TearDown();
    DWORD old = 0;
    VirtualProtect(target(), 32, PAGE_EXECUTE_READWRITE, &old);
    std::memcpy(target(), pristine_.data(), 32);
    VirtualProtect(target(), 32, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target(), 32);
  }
  static void* target() { return addr(zt_shared); }
  static int64_t call() { return callThrough(zt_shared, kA, kB); }
  void hookOurs() {
    void* trampoline = nullptr;
    ASSERT_EQ(MH_CreateHook(target(), ours_.detour(), &trampoline), MH_OK);
    ours_.leadTo(trampoline);
    ASSERT_EQ(MH_EnableHook(target()), MH_OK);
  }
  void hookForeign(Encoding encoding) {
    const size_t moved = 14;  // zt_shared: push, push, push, sub rsp, mov, lea
    ASSERT_TRUE(foreign_.install(target(), addr(&foreignDetour), encoding, moved));
    g_foreignOriginal = reinterpret_cast<BinaryFn>(foreign_.trampoline());
  }

  std::vector<uint8_t> pristine_;
  OurModule ours_;
  ForeignHook foreign_;
};

// Ours first, the other module's on top of it: both run. Whoever leaves first, the other's hook
// keeps working, and once our detour's memory is gone nothing leads into it.
enum class Departure { WeRemove, WeUninitialize, ForeignTakesAway };
struct OnTopCase {
  const char* name;
  Departure first;
};
class ForeignOnTopTest : public SharedHookTest, public ::testing::WithParamInterface<OnTopCase> {};

TEST_P(ForeignOnTopTest, EachLeavesTheOtherWorking) {
  hookOurs();
  const auto ourPatch = codeBytes(target(), 5);
  hookForeign(Encoding::JmpRel32);
  EXPECT_EQ(call(), kPlain + kOurs + kForeign);
  EXPECT_EQ(hook::patchState(target()), PatchState::Chained);

  if (GetParam().first == Departure::ForeignTakesAway) {
    foreign_.takeAway();
    EXPECT_EQ(hook::patchState(target()), PatchState::Ours);
    EXPECT_EQ(call(), kPlain + kOurs);
    ASSERT_EQ(MH_RemoveHook(target()), MH_OK);
    EXPECT_EQ(codeBytes(target(), 32), pristine_);
    EXPECT_TRUE(g_notices.empty());
    // Its trampoline still holds our jump: written again after our module has gone, it must
    // lead to the original code.
    ASSERT_EQ(MH_Uninitialize(), MH_OK);
    ASSERT_EQ(MH_Initialize(), MH_OK);
    ours_.release();
    foreign_.writeAgain();
    EXPECT_EQ(call(), kPlain + kForeign);
    return;
  }

  if (GetParam().first == Departure::WeRemove) {
    ASSERT_EQ(MH_DisableHook(target()), MH_OK);
    ASSERT_EQ(MH_RemoveHook(target()), MH_OK);
  } else {
    ASSERT_EQ(MH_Uninitialize(), MH_OK);
    ASSERT_EQ(MH_Initialize(), MH_OK);
  }
  ASSERT_TRUE(foreign_.inPlace()) << "our removal must not erase the hook on top of ours";
  ASSERT_EQ(g_notices.size(), 1u) << "the function left chained is told once";
  EXPECT_EQ(g_notices[0].target, target());
  EXPECT_EQ(moduleOfJumpAt(target()), L"test_hook.exe");

  ours_.release();
  EXPECT_EQ(call(), kPlain + kForeign);
  // Its owner puts back what it found (our jump): the kept relay leads to the original code.
  foreign_.takeAway();
  EXPECT_EQ(codeBytes(target(), 5), ourPatch);
  EXPECT_EQ(call(), kPlain);
  foreign_.writeAgain();
  EXPECT_EQ(call(), kPlain + kForeign);
  EXPECT_EQ(g_foreignHits, 3);
}

INSTANTIATE_TEST_SUITE_P(Departures, ForeignOnTopTest,
                         ::testing::Values(OnTopCase{"WeRemoveFirst", Departure::WeRemove},
                                           OnTopCase{"WeUninitializeFirst", Departure::WeUninitialize},
                                           OnTopCase{"ForeignTakesAwayFirst", Departure::ForeignTakesAway}),
                         [](const ::testing::TestParamInfo<OnTopCase>& info) { return std::string(info.param.name); });

// Our module leaves from under the other module's hook and comes back (a reload), hooking on top
// of it; then that module's owner puts back what it saved: our first patch, to our kept relay.
// That relay is ours, not another module's hook: our new hook is gone and is built again.
TEST_F(SharedHookTest, OurOwnKeptRelayPutBackOverOurPatchIsNoChain) {
  hookOurs();
  hookForeign(Encoding::JmpRel32);
  ASSERT_EQ(MH_RemoveHook(target()), MH_OK);
  OurModule reloaded;
  void* trampoline = nullptr;
  ASSERT_EQ(MH_CreateHook(target(), reloaded.detour(), &trampoline), MH_OK);
  reloaded.leadTo(trampoline);
  ASSERT_EQ(MH_EnableHook(target()), MH_OK);
  EXPECT_EQ(call(), kPlain + kOurs + kForeign);

  foreign_.takeAway();
  EXPECT_EQ(call(), kPlain);
  ASSERT_EQ(hook::patchState(target()), PatchState::Gone);
  ASSERT_EQ(hook::rebuildHook(target(), &trampoline), MH_OK);
  reloaded.leadTo(trampoline);
  ASSERT_EQ(MH_EnableHook(target()), MH_OK);
  EXPECT_EQ(call(), kPlain + kOurs);
}

// The other module's hook was there first (either encoding): ours goes on top and relocates its
// jump. When we leave first, its jump is back. When its owner writes the original bytes back over
// our patch, or writes its jump again over it, our hook is gone until it is built again from the
// bytes now there.
enum class Beneath { WeLeave, OwnerTakesAway, OwnerWritesAgain };
struct BeneathCase {
  const char* name;
  Encoding encoding;
  Beneath first;
};
class ForeignBeneathTest : public SharedHookTest, public ::testing::WithParamInterface<BeneathCase> {};

TEST_P(ForeignBeneathTest, OursOnTopUntilEitherLeaves) {
  hookForeign(GetParam().encoding);
  hookOurs();
  EXPECT_EQ(call(), kPlain + kOurs + kForeign);
  EXPECT_EQ(hook::patchState(target()), PatchState::Ours);

  if (GetParam().first == Beneath::WeLeave) {
    ASSERT_EQ(MH_RemoveHook(target()), MH_OK);
    EXPECT_TRUE(foreign_.inPlace());
    EXPECT_EQ(call(), kPlain + kForeign);
    foreign_.takeAway();
    EXPECT_EQ(codeBytes(target(), 32), pristine_);
    EXPECT_EQ(call(), kPlain);
    return;
  }

  const bool away = GetParam().first == Beneath::OwnerTakesAway;
  away ? foreign_.takeAway() : foreign_.writeAgain();
  const int64_t beneath = away ? 0 : kForeign;
  EXPECT_EQ(call(), kPlain + beneath) << "our patch is written over";
  ASSERT_EQ(hook::patchState(target()), PatchState::Gone);
  void* trampoline = nullptr;
  ASSERT_EQ(hook::rebuildHook(target(), &trampoline), MH_OK);
  ours_.leadTo(trampoline);
  ASSERT_EQ(MH_EnableHook(target()), MH_OK);
  EXPECT_EQ(hook::patchState(target()), PatchState::Ours);
  EXPECT_EQ(call(), kPlain + kOurs + beneath) << "the new trampoline runs the bytes now there";
  if (away) {
    // Its owner writes its jump again, over the hook built from the original bytes.
    foreign_.writeAgain();
    EXPECT_EQ(hook::patchState(target()), PatchState::Gone);
    foreign_.takeAway();
  }
  ASSERT_EQ(MH_RemoveHook(target()), MH_OK);
  EXPECT_EQ(call(), kPlain + beneath);
  if (!away) foreign_.takeAway();
  EXPECT_EQ(codeBytes(target(), 32), pristine_);
}

INSTANTIATE_TEST_SUITE_P(
    Arrivals, ForeignBeneathTest,
    ::testing::Values(BeneathCase{"Rel32WeLeaveFirst", Encoding::JmpRel32, Beneath::WeLeave},
                      BeneathCase{"Rel32ItsOwnerTakesItAway", Encoding::JmpRel32, Beneath::OwnerTakesAway},
                      BeneathCase{"Rel32ItsOwnerWritesItAgain", Encoding::JmpRel32, Beneath::OwnerWritesAgain},
                      BeneathCase{"RipAbsoluteWeLeaveFirst", Encoding::JmpRipAbsolute, Beneath::WeLeave},
                      BeneathCase{"RipAbsoluteItsOwnerTakesItAway", Encoding::JmpRipAbsolute, Beneath::OwnerTakesAway},
                      BeneathCase{"RipAbsoluteItsOwnerWritesItAgain", Encoding::JmpRipAbsolute, Beneath::OwnerWritesAgain}),
    [](const ::testing::TestParamInfo<BeneathCase>& info) { return std::string(info.param.name); });

// The jumps other hookers write, and bytes that are none.
TEST(JumpFollow, HookersJumpEncodingsAreFollowed) {
  alignas(8) static uint64_t destination = 0xABCDEF;
  static uint8_t indirect[16] = {0xFF, 0x25};  // jmp qword [rip+disp] to `destination`
  const auto disp = static_cast<int32_t>(reinterpret_cast<int64_t>(&destination) - reinterpret_cast<int64_t>(indirect + 6));
  std::memcpy(indirect + 2, &disp, 4);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool jumps;
    int64_t offset;     // destination from the start of the bytes...
    uint64_t absolute;  // ...or this address
  };
  const Case cases[] = {
      {"jmp rel32", {0xE9, 0x10, 0, 0, 0}, true, 0x15, 0},
      {"jmp rel8 to itself", {0xEB, 0xFE}, true, 0, 0},
      {"mov rax, imm64 ; jmp rax", {0x48, 0xB8, 0x9A, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0xFF, 0xE0}, true, 0, 0x123456789A},
      {"mov rax, imm64 ; call rax", {0x48, 0xB8, 0x9A, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0xFF, 0xD0}, false, 0, 0},
      {"push rbp ; mov rbp, rsp", {0x55, 0x48, 0x89, 0xE5}, false, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> code = c.bytes;
    code.resize(16, 0xCC);
    const void* to = nullptr;
    ASSERT_EQ(hook::jumpDestination(code.data(), &to), c.jumps) << c.name;
    if (!c.jumps) continue;
    const uint64_t want = c.absolute ? c.absolute : reinterpret_cast<uint64_t>(code.data()) + c.offset;
    EXPECT_EQ(reinterpret_cast<uint64_t>(to), want) << c.name;
  }
  const void* to = nullptr;
  ASSERT_TRUE(hook::jumpDestination(indirect, &to));
  EXPECT_EQ(reinterpret_cast<uint64_t>(to), destination);
}

}  // namespace
}  // namespace zor::test
#endif
