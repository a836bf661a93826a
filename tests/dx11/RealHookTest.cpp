// The whole graphics core with the real hook engine on Wine's D3D11 runtime in this process:
// calls the "game" makes on its own device go through our detours while hooked, and run
// unhooked again after shut-down.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "hook/MinHook.h"

#include "core/DetourGuard.h"
#include "dx11/Dx11TestSupport.h"
#include "hook/HookEngineStats.h"

using namespace zor;
using namespace zor::test;
using Access = Dx11CoreTestAccess;

namespace {

struct Prologue {
  uint8_t bytes[16];
  explicit Prologue(void* fn) { std::memcpy(bytes, fn, sizeof bytes); }
  bool operator==(const Prologue& o) const { return std::memcmp(bytes, o.bytes, sizeof bytes) == 0; }
};

// A function of the "engine", hooked by another part of the plugin (as the texture-queue
// redirector hooks the game's loader): returns a + b.
constexpr uint8_t kAddFunction[] = {
    0x48, 0x8D, 0x04, 0x11,                          // lea rax, [rcx+rdx]
    0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90,  // nop x 12
    0x90, 0x90, 0x90, 0x90, 0xC3,                    // ret
};
using AddFn = uint64_t (*)(uint64_t, uint64_t);
std::atomic<AddFn> g_addOriginal{nullptr};
std::atomic<bool> g_addEntered{false};
HANDLE g_addRelease = nullptr;

// The other part's detour: counted like all of ours, held up a moment before it calls on.
uint64_t addDetour(uint64_t a, uint64_t b) {
  detour::Scope scope;
  g_addEntered = true;
  WaitForSingleObject(g_addRelease, 300);
  return g_addOriginal.load()(a, b);
}

class RealHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    Access::fresh(core);
    setGameWindowQualifies(true);
    ASSERT_TRUE(game.swapChain);
    D3D11_BUFFER_DESC bd{};
    bd.ByteWidth = 64;
    bd.BindFlags = D3D11_BIND_INDEX_BUFFER;
    ASSERT_TRUE(SUCCEEDED(game.device->CreateBuffer(&bd, nullptr, indexBuffer.put())));
  }
  void TearDown() override { Access::fresh(core); }

  // Starts the core and waits until its bootstrap has installed the hooks.
  void startHooked() {
    ASSERT_TRUE(core.initialize());
    ASSERT_TRUE(waitFor([&] { return core.hooksInstalled() && !core.bootstrapRunning(); })) << log.dump();
  }

  LogCapture log;
  Dx11Core& core = Dx11Core::instance();
  TestWindow& game = gameWindow();
  ComRef<ID3D11Buffer> indexBuffer;
};

TEST_F(RealHooks, GameCallsRunThroughTheDetoursAndUnhookedAfterShutdown) {
  VtableTargets targets;
  ASSERT_TRUE(readVtableTargets(game.swapChain.get(), game.device.get(), game.context.get(), targets));
  const Prologue presentBefore(targets.address[static_cast<size_t>(Hook::Present)]);
  const Prologue indexBefore(targets.address[static_cast<size_t>(Hook::IASetIndexBuffer)]);

  startHooked();
  EXPECT_EQ(hook::engineStats().hookCount, 7u);
  EXPECT_FALSE(Prologue(targets.address[static_cast<size_t>(Hook::Present)]) == presentBefore);

  // The first Present adopts this device; a test presentation counts no frame.
  EXPECT_TRUE(SUCCEEDED(game.swapChain->Present(0, 0)));
  EXPECT_TRUE(core.contextAcquired());
  EXPECT_EQ(Access::device(core), game.device.get());
  game.swapChain->Present(0, DXGI_PRESENT_TEST);
  game.swapChain->Present(0, 0);
  EXPECT_EQ(core.frameCounter(), 2u);

  game.context->IASetIndexBuffer(indexBuffer.get(), DXGI_FORMAT_R16_UINT, 0);
  EXPECT_EQ(Access::currentIndexBuffer(core), indexBuffer.get());
  ID3D11Buffer* bound = nullptr;
  DXGI_FORMAT format{};
  UINT offset = 0;
  game.context->IAGetIndexBuffer(&bound, &format, &offset);
  EXPECT_EQ(bound, indexBuffer.get());  // forwarded to the runtime unchanged
  if (bound) bound->Release();

  core.shutdown();
  const uint64_t frames = core.frameCounter();
  EXPECT_EQ(hook::engineStats().hookCount, 0u);
  EXPECT_TRUE(Prologue(targets.address[static_cast<size_t>(Hook::Present)]) == presentBefore);
  EXPECT_TRUE(Prologue(targets.address[static_cast<size_t>(Hook::IASetIndexBuffer)]) == indexBefore);
  game.swapChain->Present(0, 0);
  game.context->IASetIndexBuffer(nullptr, DXGI_FORMAT_R16_UINT, 0);
  EXPECT_EQ(core.frameCounter(), frames);  // nothing goes through our code any more
  EXPECT_EQ(Access::currentIndexBuffer(core), nullptr);
  EXPECT_EQ(Access::device(core), nullptr);
}

TEST_F(RealHooks, ShutdownWhileTheRenderThreadPresentsAndTwentyCycles) {
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> presents{0};
  // The game's render thread: presents and binds without pause.
  std::thread render([&] {
    while (!stop.load()) {
      game.context->IASetIndexBuffer(indexBuffer.get(), DXGI_FORMAT_R16_UINT, 0);
      game.swapChain->Present(0, 0);
      ++presents;
    }
  });
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    startHooked();
    const uint64_t seen = presents.load();
    ASSERT_TRUE(waitFor([&] { return presents.load() > seen + 2 && core.frameCounter() > 0; }));
    core.shutdown();
    EXPECT_EQ(hook::engineStats().hookCount, 0u);
    EXPECT_EQ(detour::threadsInside(), 0u);
    EXPECT_FALSE(core.bootstrapRunning());
  }
  const uint64_t after = presents.load();
  const uint64_t frames = core.frameCounter();
  ASSERT_TRUE(waitFor([&] { return presents.load() > after + 5; }));  // the game runs on unhooked
  EXPECT_EQ(core.frameCounter(), frames);
  stop = true;
  render.join();
  EXPECT_FALSE(log.has("[Dx11Core] Apagado"));
}

// The graphics core shuts the hook engine down while a loader thread has only just entered the
// hook of another part: that thread still calls the game's function through its trampoline.
TEST_F(RealHooks, ShutdownLetsAThreadInAnotherPartsHookFinishBeforeTheEngineGoes) {
  uint8_t* code = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
  ASSERT_NE(code, nullptr);
  std::memcpy(code, kAddFunction, sizeof kAddFunction);
  FlushInstructionCache(GetCurrentProcess(), code, sizeof kAddFunction);
  auto add = reinterpret_cast<AddFn>(code);
  g_addRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_addEntered = false;

  startHooked();
  void* original = nullptr;
  ASSERT_EQ(MH_CreateHook(code, reinterpret_cast<void*>(&addDetour), &original), MH_OK);
  g_addOriginal = reinterpret_cast<AddFn>(original);
  ASSERT_EQ(MH_EnableHook(code), MH_OK);

  // The loader thread enters the other hook after the graphics hooks are gone, while the rest of
  // the shut-down runs (here: when the capture engine is shut down).
  struct LateCaller : RecordingCapture {
    AddFn fn = nullptr;
    std::thread loader;
    std::atomic<uint64_t> result{0};
    void shutdown() override {
      loader = std::thread([this] { result = fn(40, 2); });
      while (!g_addEntered) Sleep(1);
    }
  } capture;
  capture.fn = add;
  WindowCapture::install(&capture);
  core.shutdown();
  WindowCapture::install(nullptr);
  SetEvent(g_addRelease);
  capture.loader.join();
  EXPECT_EQ(capture.result.load(), 42u);
  EXPECT_EQ(add(1, 2), 3u);  // unhooked
  CloseHandle(g_addRelease);
  VirtualFree(code, 0, MEM_RELEASE);
}

}  // namespace
