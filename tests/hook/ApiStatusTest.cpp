// The status every API call returns in every state, as callers rely on MinHook's.
#include <string>

#include "HookTestSupport.h"

#ifndef ZOR_TEST_SYSTEM_MINHOOK
#include "HookEngineStats.h"
#endif

namespace zor::test {
namespace {

int g_data = 0;

TEST(HookApi, EveryCallBeforeInitializeReportsNotInitialized) {
  // Another test may have left it initialised only by failing; start from a known state.
  MH_Uninitialize();
  void* original = nullptr;
  EXPECT_EQ(MH_Uninitialize(), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(MH_CreateHook(addr(zt_pushes), addr(&PlusThousand::detour), &original), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(original, nullptr);
  EXPECT_EQ(MH_EnableHook(addr(zt_pushes)), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(MH_DisableHook(addr(zt_pushes)), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_ERROR_NOT_INITIALIZED);
  EXPECT_EQ(MH_RemoveHook(addr(zt_pushes)), MH_ERROR_NOT_INITIALIZED);

  EXPECT_EQ(MH_Initialize(), MH_OK);
  EXPECT_EQ(MH_Initialize(), MH_ERROR_ALREADY_INITIALIZED);
  EXPECT_EQ(MH_Uninitialize(), MH_OK);
  EXPECT_EQ(MH_Uninitialize(), MH_ERROR_NOT_INITIALIZED);
}

TEST_F(HookTest, CreateChecksExecutableBeforeAlreadyCreatedAndWritesOriginalOnlyOnSuccess) {
  void* const sentinel = reinterpret_cast<void*>(0x5A5A);
  void* original = sentinel;
  void* detour = addr(&PlusThousand::detour);
  EXPECT_EQ(MH_CreateHook(nullptr, detour, &original), MH_ERROR_NOT_EXECUTABLE);
  EXPECT_EQ(MH_CreateHook(&g_data, detour, &original), MH_ERROR_NOT_EXECUTABLE);
  EXPECT_EQ(MH_CreateHook(addr(zt_pushes), nullptr, &original), MH_ERROR_NOT_EXECUTABLE);
  EXPECT_EQ(MH_CreateHook(addr(zt_pushes), &g_data, &original), MH_ERROR_NOT_EXECUTABLE);
  EXPECT_EQ(original, sentinel);

  ASSERT_EQ(MH_CreateHook(addr(zt_pushes), detour, &original), MH_OK);
  EXPECT_NE(original, sentinel);
  void* again = sentinel;
  EXPECT_EQ(MH_CreateHook(addr(zt_pushes), &g_data, &again), MH_ERROR_NOT_EXECUTABLE);
  EXPECT_EQ(MH_CreateHook(addr(zt_pushes), detour, &again), MH_ERROR_ALREADY_CREATED);
  EXPECT_EQ(again, sentinel);
  // A null out-pointer is allowed.
  EXPECT_EQ(MH_CreateHook(addr(zt_rip_lea), detour, nullptr), MH_OK);
}

TEST_F(HookTest, EnableDisableRemoveFollowTheHooksState) {
  void* target = addr(zt_pushes);
  const auto pristine = codeBytes(target, 16);
  void* original = nullptr;
  EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);
  EXPECT_EQ(MH_DisableHook(target), MH_ERROR_NOT_CREATED);
  EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_CREATED);
  EXPECT_EQ(MH_RemoveHook(nullptr), MH_ERROR_NOT_CREATED);

  ASSERT_EQ(MH_CreateHook(target, addr(&PlusThousand::detour), &original), MH_OK);
  PlusThousand::original = reinterpret_cast<BinaryFn>(original);
  EXPECT_EQ(MH_DisableHook(target), MH_ERROR_DISABLED);
  EXPECT_EQ(MH_EnableHook(target), MH_OK);
  EXPECT_EQ(MH_EnableHook(target), MH_ERROR_ENABLED);
  EXPECT_EQ(MH_DisableHook(target), MH_OK);
  EXPECT_EQ(MH_DisableHook(target), MH_ERROR_DISABLED);
  EXPECT_EQ(MH_EnableHook(target), MH_OK);

  // Removing an enabled hook disables it first.
  EXPECT_EQ(MH_RemoveHook(target), MH_OK);
  EXPECT_EQ(codeBytes(target, 16), pristine);
  EXPECT_EQ(callThrough(zt_pushes, 3, 4), 11);
  EXPECT_EQ(PlusThousand::hits, 0);
  EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_CREATED);
  EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);

  // The target can be hooked again afterwards.
  EXPECT_EQ(MH_CreateHook(target, addr(&PlusThousand::detour), &original), MH_OK);
}

TEST_F(HookTest, AllHooksSwitchesEveryHookAndSucceedsWithNone) {
  EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
  EXPECT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_OK);

  const BinaryFn targets[] = {zt_pushes, zt_rip_lea, zt_padded};
  const int64_t plain[] = {11, 33, 7};
  // One shared detour: each target's trampoline behaves the same for these arguments, so the
  // trampoline of the first is used for all and only the detour counts matter.
  void* original = nullptr;
  for (BinaryFn t : targets) {
    void* o = nullptr;
    ASSERT_EQ(MH_CreateHook(addr(t), addr(&PlusThousand::detour), &o), MH_OK);
    if (!original) original = o;
  }
  PlusThousand::original = reinterpret_cast<BinaryFn>(original);
  const auto args = [](int i) { return i == 1 ? std::pair<int64_t, int64_t>{2, 0} : std::pair<int64_t, int64_t>{3, 4}; };

  ASSERT_EQ(MH_EnableHook(addr(zt_rip_lea)), MH_OK);  // one already enabled
  EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
  EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
  for (int i = 0; i < 3; ++i) {
    const auto [a, b] = args(i);
    EXPECT_GT(callThrough(targets[i], a, b), 1000) << i;
  }
  EXPECT_EQ(PlusThousand::hits, 3);
  EXPECT_EQ(MH_EnableHook(addr(zt_rip_lea)), MH_ERROR_ENABLED);

  EXPECT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_OK);
  EXPECT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_OK);
  for (int i = 0; i < 3; ++i) {
    const auto [a, b] = args(i);
    EXPECT_EQ(callThrough(targets[i], a, b), plain[i]) << i;
  }
  EXPECT_EQ(PlusThousand::hits, 3);
  EXPECT_EQ(MH_DisableHook(addr(zt_padded)), MH_ERROR_DISABLED);
}

// Code in a view of a section mapped read+execute only: it can be hooked (creating writes
// nothing there) but never patched.
class UnwritableCode {
 public:
  UnwritableCode() {
    section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_EXECUTE_READWRITE, 0, 0x1000, nullptr);
    if (!section_) return;
    auto* writable = static_cast<uint8_t*>(MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, 0x1000));
    if (!writable) return;
    std::memset(writable, 0xCC, 0x1000);
    std::memcpy(writable, addr(zt_pushes), static_cast<size_t>(zt_pushes_end - reinterpret_cast<const uint8_t*>(&zt_pushes)));
    UnmapViewOfFile(writable);
    code_ = MapViewOfFile(section_, FILE_MAP_READ | FILE_MAP_EXECUTE, 0, 0, 0x1000);
  }
  ~UnwritableCode() {
    if (code_) UnmapViewOfFile(code_);
    if (section_) CloseHandle(section_);
  }
  void* code() const { return code_; }

 private:
  HANDLE section_ = nullptr;
  void* code_ = nullptr;
};

TEST_F(HookTest, PatchThatCannotBeWrittenFailsAndAllHooksStopsThere) {
  UnwritableCode locked;
  ASSERT_NE(locked.code(), nullptr);
  void* o = nullptr;
  ASSERT_EQ(MH_CreateHook(addr(zt_pushes), addr(&PlusThousand::detour), &o), MH_OK);
  ASSERT_EQ(MH_CreateHook(locked.code(), addr(&PlusThousand::detour), &o), MH_OK);
  ASSERT_EQ(MH_CreateHook(addr(zt_padded), addr(&PlusThousand::detour), &o), MH_OK);
  PlusThousand::original = reinterpret_cast<BinaryFn>(o);
  const auto pristine = codeBytes(locked.code(), 16);

  EXPECT_EQ(MH_EnableHook(locked.code()), MH_ERROR_MEMORY_PROTECT);
  EXPECT_EQ(codeBytes(locked.code(), 16), pristine);
  EXPECT_EQ(MH_DisableHook(locked.code()), MH_ERROR_DISABLED) << "a failed enable leaves it disabled";

  // Hooks are switched in creation order; the first failure ends the batch.
  EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_ERROR_MEMORY_PROTECT);
  EXPECT_EQ(MH_EnableHook(addr(zt_pushes)), MH_ERROR_ENABLED);
  EXPECT_EQ(MH_DisableHook(addr(zt_padded)), MH_ERROR_DISABLED);
  EXPECT_EQ(callThrough(zt_padded, 3, 4), 7);
  EXPECT_EQ(callThrough(reinterpret_cast<BinaryFn>(locked.code()), 3, 4), 11);

  EXPECT_EQ(MH_RemoveHook(locked.code()), MH_OK);
  EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
  EXPECT_EQ(callThrough(zt_padded, 3, 4), 1007);
}

TEST(HookApi, UninitializeDisablesAndForgetsEveryHook) {
  ASSERT_EQ(MH_Initialize(), MH_OK);
  const BinaryFn targets[] = {zt_pushes, zt_call_rel, zt_jcc_short};
  std::vector<std::vector<uint8_t>> pristine;
  for (BinaryFn t : targets) {
    pristine.push_back(codeBytes(addr(t), 16));
    void* o = nullptr;
    ASSERT_EQ(MH_CreateHook(addr(t), addr(&PlusThousand::detour), &o), MH_OK);
  }
  ASSERT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
  ASSERT_EQ(MH_Uninitialize(), MH_OK);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(codeBytes(addr(targets[i]), 16), pristine[i]) << i;
  EXPECT_EQ(MH_EnableHook(addr(zt_pushes)), MH_ERROR_NOT_INITIALIZED);

  ASSERT_EQ(MH_Initialize(), MH_OK);
  EXPECT_EQ(MH_EnableHook(addr(zt_pushes)), MH_ERROR_NOT_CREATED);
  void* o = nullptr;
  EXPECT_EQ(MH_CreateHook(addr(zt_pushes), addr(&PlusThousand::detour), &o), MH_OK);
#ifndef ZOR_TEST_SYSTEM_MINHOOK
  EXPECT_EQ(hook::engineStats().hookCount, 1u);
#endif
  EXPECT_EQ(MH_Uninitialize(), MH_OK);
}

TEST(HookApi, StatusToStringGivesTheEnumeratorName) {
  const std::pair<MH_STATUS, const char*> names[] = {
      {MH_UNKNOWN, "MH_UNKNOWN"},
      {MH_OK, "MH_OK"},
      {MH_ERROR_ALREADY_INITIALIZED, "MH_ERROR_ALREADY_INITIALIZED"},
      {MH_ERROR_NOT_INITIALIZED, "MH_ERROR_NOT_INITIALIZED"},
      {MH_ERROR_ALREADY_CREATED, "MH_ERROR_ALREADY_CREATED"},
      {MH_ERROR_NOT_CREATED, "MH_ERROR_NOT_CREATED"},
      {MH_ERROR_ENABLED, "MH_ERROR_ENABLED"},
      {MH_ERROR_DISABLED, "MH_ERROR_DISABLED"},
      {MH_ERROR_NOT_EXECUTABLE, "MH_ERROR_NOT_EXECUTABLE"},
      {MH_ERROR_UNSUPPORTED_FUNCTION, "MH_ERROR_UNSUPPORTED_FUNCTION"},
      {MH_ERROR_MEMORY_ALLOC, "MH_ERROR_MEMORY_ALLOC"},
      {MH_ERROR_MEMORY_PROTECT, "MH_ERROR_MEMORY_PROTECT"},
      {MH_ERROR_MODULE_NOT_FOUND, "MH_ERROR_MODULE_NOT_FOUND"},
      {MH_ERROR_FUNCTION_NOT_FOUND, "MH_ERROR_FUNCTION_NOT_FOUND"},
  };
  for (size_t i = 0; i < std::size(names); ++i) {
    EXPECT_EQ(static_cast<int>(names[i].first), static_cast<int>(i) - 1);
    EXPECT_STREQ(MH_StatusToString(names[i].first), names[i].second);
  }
  EXPECT_STREQ(MH_StatusToString(static_cast<MH_STATUS>(13)), "(unknown)");
  EXPECT_STREQ(MH_StatusToString(static_cast<MH_STATUS>(-2)), "(unknown)");
}

}  // namespace
}  // namespace zor::test
