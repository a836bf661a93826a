// The whole graphics core with the real hook engine on Wine's D3D11 runtime in this process:
// calls the "game" makes on its own device go through our detours while hooked, and run
// unhooked again after shut-down.
#include <gtest/gtest.h>

#include <cstring>

#include "dx11/DetourGuard.h"
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

}  // namespace
