// Hook installation and removal against a scripted hook engine, the pass-through of our own
// calls, and unload safety (shut-down waits for threads still inside a detour).
#include <gtest/gtest.h>

#include "core/DetourGuard.h"
#include "dx11/Detours.h"
#include "dx11/Dx11TestSupport.h"

using namespace zor;
using namespace zor::test;
using Access = Dx11CoreTestAccess;

namespace {

// The "original" functions the scripted engine hands out as trampolines.
std::atomic<int> g_presentCalls{0};
std::atomic<ID3D11PixelShader*> g_lastShader{nullptr};
std::atomic<int> g_shaderCalls{0};
HANDLE g_release = nullptr;
std::atomic<int> g_phase{0};

HRESULT STDMETHODCALLTYPE origPresent(IDXGISwapChain*, UINT, UINT) {
  ++g_presentCalls;
  return S_OK;
}
void STDMETHODCALLTYPE origPSSetShader(ID3D11DeviceContext*, ID3D11PixelShader* shader, ID3D11ClassInstance* const*,
                                       UINT) {
  g_lastShader = shader;
  ++g_shaderCalls;
}
// The game's CreateTexture2D, staying inside until the test releases it. The detour calls it and
// goes on afterwards (the creation rule), so a thread in it is inside our code. (PSSetShader and
// IASetIndexBuffer jump to the game's method instead: a thread in there is not.)
HRESULT STDMETHODCALLTYPE blockingCreateTexture2D(ID3D11Device*, const D3D11_TEXTURE2D_DESC*,
                                                  const D3D11_SUBRESOURCE_DATA*, ID3D11Texture2D**) {
  g_phase = 1;
  WaitForSingleObject(g_release, 20000);
  g_phase = 2;
  return E_FAIL;
}

char g_targets[static_cast<size_t>(Hook::Count)];
void* target(Hook h) { return &g_targets[static_cast<size_t>(h)]; }
const char* kNames[] = {"Present",          "ResizeBuffers",   "PSSetShaderResources", "PSSetShader",
                        "CreateTexture2D",  "CreateShaderResourceView", "IASetIndexBuffer", "DrawIndexed",
                        "CreateSwapChain", "CreateSwapChainForHwnd"};

class HookInstall : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { Access::fresh(core); }
  void reset(void* createTexture2DOriginal = nullptr) {
    Access::fresh(core);
    Access::setMinHookReady(core, true);
    for (size_t i = 0; i < static_cast<size_t>(Hook::Count); ++i) {
      Hook h = static_cast<Hook>(i);
      Access::setTarget(core, h, target(h));
      hooks.name(target(h), kNames[i]);
    }
    hooks.name(target(Hook::Present), "Present", reinterpret_cast<void*>(&origPresent));
    hooks.name(target(Hook::PSSetShader), "PSSetShader", reinterpret_cast<void*>(&origPSSetShader));
    if (createTexture2DOriginal) hooks.name(target(Hook::CreateTexture2D), "CreateTexture2D", createTexture2DOriginal);
    hooks.clearCalls();
    g_presentCalls = 0;
    g_shaderCalls = 0;
    g_lastShader = nullptr;
  }

  ScriptedHooks hooks;
  LogCapture log;
  Dx11Core& core = Dx11Core::instance();
};

using Calls = std::vector<std::string>;

TEST_F(HookInstall, InstallsEveryHookAndRemovesThemInOrder) {
  ASSERT_TRUE(core.installHooks());
  EXPECT_TRUE(core.hooksInstalled());
  EXPECT_EQ(hooks.callsOf("create"), (Calls{"Present", "PSSetShaderResources", "PSSetShader", "CreateTexture2D",
                                            "CreateShaderResourceView", "IASetIndexBuffer", "CreateSwapChain",
                                            "CreateSwapChainForHwnd", "DrawIndexed"}));
  // DrawIndexed is created but left disabled.
  EXPECT_EQ(hooks.callsOf("enable"), (Calls{"Present", "PSSetShaderResources", "PSSetShader", "CreateTexture2D",
                                            "CreateShaderResourceView", "IASetIndexBuffer", "CreateSwapChain",
                                            "CreateSwapChainForHwnd"}));
  EXPECT_EQ(core.trampoline(Hook::Present), reinterpret_cast<void*>(&origPresent));
  EXPECT_TRUE(core.hookInstalled(Hook::IASetIndexBuffer));
  EXPECT_EQ(core.trampoline(Hook::ResizeBuffers), nullptr);  // discovered, never hooked

  hooks.clearCalls();
  core.removeHooks();
  EXPECT_FALSE(core.hooksInstalled());
  const Calls all = hooks.allCalls();
  const Calls removes = hooks.callsOf("remove");
  EXPECT_EQ(removes, (Calls{"DrawIndexed", "CreateShaderResourceView", "PSSetShaderResources", "PSSetShader",
                            "CreateTexture2D", "IASetIndexBuffer", "CreateSwapChain", "CreateSwapChainForHwnd",
                            "Present"}));
  // Every hook is disabled before the first one is removed.
  size_t firstRemove = 0;
  while (firstRemove < all.size() && all[firstRemove].rfind("remove:", 0) != 0) ++firstRemove;
  EXPECT_GE(firstRemove, 9u);
  EXPECT_TRUE(hooks.createdHooks().empty());
  for (size_t i = 0; i < static_cast<size_t>(Hook::Count); ++i) {
    EXPECT_EQ(core.trampoline(static_cast<Hook>(i)), nullptr) << kNames[i];
  }
  hooks.clearCalls();
  core.removeHooks();  // a second removal does nothing
  EXPECT_TRUE(hooks.allCalls().empty());
}

TEST_F(HookInstall, OptionalHookFailuresAreWarnedAndSkipped) {
  hooks.fail("create", target(Hook::IASetIndexBuffer), MH_ERROR_NOT_EXECUTABLE);
  hooks.fail("enable", target(Hook::PSSetShader), MH_ERROR_MEMORY_PROTECT);
  hooks.fail("create", target(Hook::DrawIndexed), MH_ERROR_UNSUPPORTED_FUNCTION);
  ASSERT_TRUE(core.installHooks());
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V0.9.2: MH_CreateHook(IASetIndexBuffer) fallo: MH_ERROR_NOT_EXECUTABLE"));
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V1.13.0: MH_EnableHook(PSSetShader) fallo: MH_ERROR_MEMORY_PROTECT"));
  EXPECT_TRUE(log.has(LogLevel::WARNING,
                      "GPS original: no se pudo preparar el diagnostico DrawIndexed: MH_ERROR_UNSUPPORTED_FUNCTION"));
  EXPECT_TRUE(core.hookInstalled(Hook::Present));
  EXPECT_TRUE(core.hookInstalled(Hook::PSSetShaderResources));
  EXPECT_TRUE(core.hookInstalled(Hook::CreateTexture2D));
  EXPECT_FALSE(core.hookInstalled(Hook::IASetIndexBuffer));
  EXPECT_FALSE(core.hookInstalled(Hook::PSSetShader));
  EXPECT_EQ(core.trampoline(Hook::PSSetShader), nullptr);
  EXPECT_EQ(core.trampoline(Hook::IASetIndexBuffer), nullptr);
  EXPECT_EQ(core.trampoline(Hook::DrawIndexed), nullptr);
  EXPECT_EQ(hooks.callsOf("remove"), (Calls{"PSSetShader"}));  // the created but not enabled one

  // A status without text.
  reset();
  hooks.nullText = true;
  hooks.fail("create", target(Hook::CreateShaderResourceView), MH_ERROR_MEMORY_ALLOC);
  ASSERT_TRUE(core.installHooks());
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V0.6.2: MH_CreateHook(CreateShaderResourceView) fallo: MH_STATUS desconocido"));
}

TEST_F(HookInstall, RequiredHookFailuresLeaveNothingBehind) {
  struct Case {
    const char* op;
    Hook hook;
    const char* error;
  } cases[] = {
      {"create", Hook::Present, "V1.1.0: MH_CreateHook(Present) fallo: MH_ERROR_NOT_EXECUTABLE"},
      {"enable", Hook::Present, "V1.1.0: MH_EnableHook(Present) fallo: MH_ERROR_NOT_EXECUTABLE"},
      {"create", Hook::PSSetShaderResources, "V1.3.3: MH_CreateHook(PSSetShaderResources) fallo: MH_ERROR_NOT_EXECUTABLE"},
      {"enable", Hook::PSSetShaderResources, "V1.3.3: MH_EnableHook(PSSetShaderResources) fallo: MH_ERROR_NOT_EXECUTABLE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    ScriptedHooks fresh;  // a clean script for each case
    for (size_t i = 0; i < static_cast<size_t>(Hook::Count); ++i) fresh.name(target(static_cast<Hook>(i)), kNames[i]);
    Access::fresh(core);
    Access::setMinHookReady(core, true);
    for (size_t i = 0; i < static_cast<size_t>(Hook::Count); ++i) {
      Access::setTarget(core, static_cast<Hook>(i), target(static_cast<Hook>(i)));
    }
    fresh.fail(c.op, target(c.hook), MH_ERROR_NOT_EXECUTABLE);
    log.clear();
    EXPECT_FALSE(core.installHooks());
    EXPECT_TRUE(log.has(LogLevel::ERROR, c.error));
    EXPECT_TRUE(fresh.createdHooks().empty());
    EXPECT_EQ(core.trampoline(Hook::Present), nullptr);
    EXPECT_EQ(core.trampoline(Hook::PSSetShaderResources), nullptr);
    EXPECT_FALSE(core.hooksInstalled());
    EXPECT_TRUE(fresh.callsOf("create").size() <= 2u);  // no optional hook was tried
  }
  // A missing PSSetShaderResources target: Present is taken back silently.
  reset();
  Access::setTarget(core, Hook::PSSetShaderResources, nullptr);
  log.clear();
  EXPECT_FALSE(core.installHooks());
  EXPECT_TRUE(hooks.createdHooks().empty());
  EXPECT_TRUE(log.lines().empty());
  // Without the hook engine nothing is tried.
  reset();
  Access::setMinHookReady(core, false);
  EXPECT_FALSE(core.installHooks());
  EXPECT_TRUE(hooks.allCalls().empty());
}

TEST_F(HookInstall, UnexpectedPresentRemovalStatusesAreReported) {
  ASSERT_TRUE(core.installHooks());
  hooks.fail("disable", target(Hook::Present), MH_ERROR_MEMORY_PROTECT);
  hooks.fail("remove", target(Hook::Present), MH_ERROR_NOT_EXECUTABLE);
  hooks.fail("disable", target(Hook::PSSetShader), MH_ERROR_DISABLED);
  core.removeHooks();
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V1.1.0: MH_DisableHook(Present) devolvio MH_ERROR_MEMORY_PROTECT"));
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V1.1.0: MH_RemoveHook(Present) devolvio MH_ERROR_NOT_EXECUTABLE"));
  EXPECT_EQ(log.count("devolvio"), 2u);
}

TEST_F(HookInstall, DrawIndexedIsEnabledOnlyWhileTheDashboardCanBeDrawn) {
  ASSERT_TRUE(core.installHooks());
  hooks.clearCalls();
  core.updateDrawIndexedHook();
  EXPECT_TRUE(hooks.allCalls().empty());  // tablet target

  GameState& s = core.gameState();
  s.truckProfileId.store(3);
  s.preparedProfileId.store(3);
  Access::setPlaybackTarget(core, 1);
  core.updateDrawIndexedHook();
  core.updateDrawIndexedHook();
  EXPECT_EQ(hooks.callsOf("enable"), (Calls{"DrawIndexed"}));
  EXPECT_TRUE(Access::drawIndexedEnabled(core));

  s.preparedProfileId.store(0);  // resource not ready for the new truck
  core.updateDrawIndexedHook();
  EXPECT_EQ(hooks.callsOf("disable"), (Calls{"DrawIndexed"}));
  EXPECT_FALSE(Access::drawIndexedEnabled(core));

  s.preparedProfileId.store(3);
  hooks.fail("enable", target(Hook::DrawIndexed), MH_ERROR_MEMORY_PROTECT);
  core.updateDrawIndexedHook();
  core.updateDrawIndexedHook();
  EXPECT_EQ(log.count("GPS original: no se pudo habilitar DrawIndexed: MH_ERROR_MEMORY_PROTECT"), 2u);
  EXPECT_FALSE(Access::drawIndexedEnabled(core));
}

TEST_F(HookInstall, OurOwnCallsPassStraightThroughTheDetours) {
  ASSERT_TRUE(core.installHooks());
  auto* shaderA = reinterpret_cast<ID3D11PixelShader*>(0x1000);
  auto* shaderB = reinterpret_cast<ID3D11PixelShader*>(0x2000);

  detours::psSetShader(nullptr, shaderA, nullptr, 0);
  EXPECT_EQ(g_lastShader.load(), shaderA);
  EXPECT_EQ(Access::currentPixelShader(core), shaderA);
  {
    detour::OwnCallsScope own;
    detours::psSetShader(nullptr, shaderB, nullptr, 0);
    EXPECT_EQ(detours::present(nullptr, 0, 0), S_OK);
  }
  EXPECT_EQ(g_lastShader.load(), shaderB);         // forwarded
  EXPECT_EQ(Access::currentPixelShader(core), shaderA);  // but not recorded
  EXPECT_EQ(core.frameCounter(), 0u);               // no pipeline for a nested Present
  EXPECT_EQ(g_presentCalls.load(), 1);
  EXPECT_EQ(detour::threadDepth(), 0u);

  detours::present(nullptr, 0, 0);
  EXPECT_EQ(core.frameCounter(), 1u);
  EXPECT_EQ(g_presentCalls.load(), 2);
}

TEST_F(HookInstall, ShutdownWaitsUntilNoThreadIsInsideADetour) {
  g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  reset(reinterpret_cast<void*>(&blockingCreateTexture2D));
  ASSERT_TRUE(core.installHooks());
  Access::markInitialized(core);
  std::atomic<int> phaseAtFirstRemove{-1};
  hooks.onCall = [&](const std::string& op, void*) {
    if (op == "remove" && phaseAtFirstRemove.load() < 0) phaseAtFirstRemove = g_phase.load();
  };
  g_phase = 0;
  std::thread game([] { detours::createTexture2D(nullptr, nullptr, nullptr, nullptr); });
  ASSERT_TRUE(waitFor([] { return g_phase.load() == 1; }));

  std::atomic<bool> done{false};
  std::thread telemetry([&] {
    core.shutdown();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(done.load());
  EXPECT_FALSE(hooks.callsOf("disable").empty());  // no new call can enter meanwhile
  EXPECT_TRUE(hooks.callsOf("remove").empty());
  SetEvent(g_release);
  telemetry.join();
  game.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(phaseAtFirstRemove.load(), 2);
  EXPECT_FALSE(log.has("[Dx11Core] Apagado"));
  EXPECT_TRUE(log.has("Motor grafico detenido correctamente; recursos GPU liberados."));
  hooks.onCall = nullptr;
  CloseHandle(g_release);
}

TEST_F(HookInstall, ShutdownWaitIsBoundedAndReportedAndLeavesTheHooksOffButInPlace) {
  g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  reset(reinterpret_cast<void*>(&blockingCreateTexture2D));
  ASSERT_TRUE(core.installHooks());
  Access::markInitialized(core);
  detour::setShutdownBudgetMs(30);
  g_phase = 0;
  std::thread game([] { detours::createTexture2D(nullptr, nullptr, nullptr, nullptr); });
  ASSERT_TRUE(waitFor([] { return g_phase.load() == 1; }));
  core.shutdown();
  EXPECT_TRUE(log.has(LogLevel::WARNING, "[Dx11Core] Apagado: un hilo del juego seguia dentro de un hook del plugin"));
  EXPECT_FALSE(hooks.callsOf("disable").empty());
  EXPECT_TRUE(hooks.callsOf("remove").empty());
  EXPECT_EQ(hooks.createdHooks().size(), 9u);
  SetEvent(g_release);
  game.join();
  EXPECT_EQ(detour::threadsInside(), 0u);
  CloseHandle(g_release);
}

}  // namespace
