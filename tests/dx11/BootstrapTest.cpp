// The bootstrap thread in this process: runtimes loaded, a game window appearing late, vtable
// discovery on a real auxiliary device, hook installation (scripted engine), shut-down.
#include <gtest/gtest.h>

#include "dx11/Dx11TestSupport.h"
// After windows.h.
#include <tlhelp32.h>

using namespace zor;
using namespace zor::test;
using Access = Dx11CoreTestAccess;

namespace {

const char* kNoWindow = "V1.1.0: runtime DX11 listo, pero no se encontro una ventana principal valida de ATS.";

size_t threadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  size_t n = 0;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
    n += te.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snap);
  return n;
}

class Bootstrap : public ::testing::Test {
 protected:
  void SetUp() override { Access::fresh(core); }
  void TearDown() override { Access::fresh(core); }

  ScriptedHooks hooks;
  LogCapture log;
  Dx11Core& core = Dx11Core::instance();
};

TEST_F(Bootstrap, HooksInstallOnceTheGameWindowExists) {
  ASSERT_NE(GetModuleHandleW(L"d3d11.dll"), nullptr);
  setGameWindowQualifies(false);
  ASSERT_EQ(findGameWindow(GetCurrentProcessId()), nullptr);
  ASSERT_TRUE(core.initialize());
  ASSERT_TRUE(waitFor([&] { return log.count(kNoWindow) >= 3; })) << log.dump();
  EXPECT_FALSE(core.hooksInstalled());
  EXPECT_TRUE(hooks.createdHooks().empty());

  TestWindow& game = gameWindow();
  setGameWindowQualifies(true);
  ASSERT_TRUE(waitFor([&] { return core.hooksInstalled(); })) << log.dump();
  ASSERT_TRUE(waitFor([&] { return !core.bootstrapRunning(); }));
  const size_t errors = log.count(kNoWindow);
  EXPECT_EQ(hooks.createdHooks().size(), 9u);
  VtableTargets real;
  ASSERT_TRUE(readVtableTargets(game.swapChain.get(), game.device.get(), game.context.get(), real));
  for (size_t i = 0; i < kHookCount; ++i) EXPECT_EQ(core.hookTarget(static_cast<Hook>(i)), real.address[i]) << i;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(log.count(kNoWindow), errors);  // the thread has ended
  EXPECT_EQ(hooks.callsOf("create").size(), 9u);  // installed once

  core.shutdown();
  EXPECT_TRUE(hooks.createdHooks().empty());
  EXPECT_EQ(hooks.callsOf("uninit").size(), 1u);
  EXPECT_FALSE(core.hooksInstalled());
  EXPECT_EQ(core.hookTarget(Hook::Present), nullptr);
  ASSERT_FALSE(log.lines().empty());
  EXPECT_EQ(log.lines().back().text.find("Motor grafico detenido correctamente; recursos GPU liberados."),
            std::string("[ZorTabcast] ").size());
}

TEST_F(Bootstrap, ShutdownDuringThePauseBetweenAttemptsIsPrompt) {
  setGameWindowQualifies(false);
  ASSERT_TRUE(core.initialize());
  ASSERT_TRUE(waitFor([&] { return log.count(kNoWindow) >= 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto before = std::chrono::steady_clock::now();
  core.shutdown();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
  EXPECT_FALSE(core.bootstrapRunning());
  setGameWindowQualifies(true);
}

TEST_F(Bootstrap, ASecondInitializeStartsNothing) {
  ASSERT_TRUE(core.initialize());
  ASSERT_TRUE(core.initialize());
  core.shutdown();
  size_t started = 0;
  for (const auto& l : log.lines()) {
    started += l.text.find("DX11 Core V4.5.4") != std::string::npos || l.text.find("Motor grafico iniciado") != std::string::npos;
  }
  EXPECT_EQ(started, 1u);
  core.shutdown();  // nothing more
  EXPECT_EQ(log.count("Motor grafico detenido correctamente"), 1u);
}

TEST_F(Bootstrap, StartAndStopCyclesLeaveNoHookOrThread) {
  gameWindow();
  ASSERT_TRUE(core.initialize());
  ASSERT_TRUE(waitFor([&] { return core.hooksInstalled() && !core.bootstrapRunning(); }));
  core.shutdown();
  const size_t threads = threadCount();
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(core.initialize());
    ASSERT_TRUE(waitFor([&] { return core.hooksInstalled() && !core.bootstrapRunning(); }));
    core.shutdown();
    EXPECT_TRUE(hooks.createdHooks().empty());
    EXPECT_FALSE(core.bootstrapRunning());
  }
  EXPECT_LE(threadCount(), threads);
  EXPECT_EQ(hooks.callsOf("create").size(), 6u * 9u);
  EXPECT_EQ(hooks.callsOf("remove").size(), 6u * 9u);
}

TEST(FindGameWindow, TakesTheVisibleUnownedWindowOfAtLeast320x200) {
  // The windows that do not qualify stay for the rest of the process and never match.
  static TestWindow* small = new TestWindow(319, 480, false);
  static TestWindow* flat = new TestWindow(800, 199, false);
  static HWND owned = CreateWindowExW(0, L"ZorGfxTestWindow", L"owned", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800,
                                      600, small->hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
  static HWND hidden = CreateWindowExW(0, L"ZorGfxTestWindow", L"hidden", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(small->hwnd && flat->hwnd && owned && hidden);
  EXPECT_EQ(findGameWindow(GetCurrentProcessId()), gameWindow().hwnd);
  EXPECT_EQ(findGameWindow(GetCurrentProcessId() + 4), nullptr);
}

TEST(VtableDiscovery, FindsTheMethodsOfTheRuntimeAndLeavesNothingBehind) {
  VtableTargets found;
  ASSERT_TRUE(discoverVtables(&D3D11CreateDeviceAndSwapChain, found));
  TestWindow& window = gameWindow();
  VtableTargets real;
  ASSERT_TRUE(readVtableTargets(window.swapChain.get(), window.device.get(), window.context.get(), real));
  for (size_t i = 0; i < kHookCount; ++i) EXPECT_EQ(found.address[i], real.address[i]) << i;
  EXPECT_EQ(FindWindowW(L"ZorTabcast.SwapChainDiscoveryWindow", nullptr), nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), L"ZorTabcast.SwapChainDiscoveryWindow", &wc));
}

// A runtime without feature level 11_1 rejects the first list; the second, shorter one works.
std::vector<UINT> g_levelCounts;
HRESULT WINAPI noLevel111(IDXGIAdapter* a, D3D_DRIVER_TYPE t, HMODULE m, UINT f, const D3D_FEATURE_LEVEL* levels,
                          UINT n, UINT sdk, const DXGI_SWAP_CHAIN_DESC* sd, IDXGISwapChain** sc, ID3D11Device** d,
                          D3D_FEATURE_LEVEL* got, ID3D11DeviceContext** c) {
  g_levelCounts.push_back(n);
  for (UINT i = 0; i < n; ++i) {
    if (levels[i] == D3D_FEATURE_LEVEL_11_1) return E_INVALIDARG;
  }
  return D3D11CreateDeviceAndSwapChain(a, t, m, f, levels, n, sdk, sd, sc, d, got, c);
}

TEST(VtableDiscovery, RetriesWithThreeLevelsOnInvalidArg) {
  VtableTargets found;
  g_levelCounts.clear();
  ASSERT_TRUE(discoverVtables(&noLevel111, found));
  EXPECT_EQ(g_levelCounts, (std::vector<UINT>{4, 3}));
}

}  // namespace
