// The whole graphics core with the real hook engine on Wine's D3D11 runtime in this process:
// calls the "game" makes on its own device go through our detours while hooked, and run
// unhooked again after shut-down.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "hook/MinHook.h"

#include "core/Clock.h"
#include "core/DetourGuard.h"
#include "dx11/Detours.h"
#include "dx11/IdentFixture.h"
#include "gps/FakeGameImage.h"
#include "hook/HookEngineStats.h"
#include "support/ForeignHook.h"

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

// The game's Present as another hook of the game sees it (an overlay of another program, say):
// it creates a texture on the game's device, then presents.
std::atomic<PresentFn> g_gamePresent{nullptr};
std::atomic<ID3D11Device*> g_gameDevice{nullptr};
void createOverlayTexture() {
  queueOverlayDds();
  const D3D11_TEXTURE2D_DESC d = overlayDesc();
  ComRef<ID3D11Texture2D> texture;
  g_gameDevice.load()->CreateTexture2D(&d, nullptr, texture.put());
}
HRESULT STDMETHODCALLTYPE presentCreatingATexture(IDXGISwapChain* swapChain, UINT interval, UINT flags) {
  createOverlayTexture();
  return g_gamePresent.load()(swapChain, interval, flags);
}
// The engine's texture-queue function loading what its queue asked for.
uint64_t engineLoadsTheQueue(void*) {
  createOverlayTexture();
  return 1;
}

// A queue record holding one entry with the overlay's file (the engine's layout).
struct OverlayQueue {
  static constexpr char kPath[] = "/material/ui/dashboard/tjs/tablet_gps_overlay.dds";
  alignas(8) uint8_t queue[0x200] = {};
  alignas(8) uint8_t node[0x20] = {};
  alignas(8) uint8_t entry[0x50] = {};
  OverlayQueue() {
    const uint64_t chars = reinterpret_cast<uintptr_t>(kPath), nodeAt = reinterpret_cast<uintptr_t>(node),
                   entryAt = reinterpret_cast<uintptr_t>(entry),
                   sentinel = reinterpret_cast<uintptr_t>(queue) + PrismTextureQueueRedirector::kQueueSentinel;
    const uint32_t length = sizeof kPath - 1;
    std::memcpy(entry + PrismTextureQueueRedirector::kEntryPath, &chars, 8);
    std::memcpy(entry + PrismTextureQueueRedirector::kEntryPathLength, &length, 4);
    std::memcpy(node + PrismTextureQueueRedirector::kNodeEntry, &entryAt, 8);
    std::memcpy(node + PrismTextureQueueRedirector::kNodeNext, &sentinel, 8);
    std::memcpy(queue + PrismTextureQueueRedirector::kQueueFirstNode, &nodeAt, 8);
  }
};

// Records which threads write through one context's UpdateSubresource.
using UpdateSubresourceFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, ID3D11Resource*, UINT, const D3D11_BOX*,
                                                     const void*, UINT, UINT);
std::atomic<UpdateSubresourceFn> g_updateOriginal{nullptr};
std::atomic<ID3D11DeviceContext*> g_watchedContext{nullptr};
std::atomic<DWORD> g_watchedThread{0};
std::atomic<int> g_writesFromWatchedThread{0};
void STDMETHODCALLTYPE spyUpdateSubresource(ID3D11DeviceContext* context, ID3D11Resource* resource, UINT sub,
                                            const D3D11_BOX* box, const void* data, UINT pitch, UINT depth) {
  if (context == g_watchedContext.load() && GetCurrentThreadId() == g_watchedThread.load()) ++g_writesFromWatchedThread;
  g_updateOriginal.load()(context, resource, sub, box, data, pitch, depth);
}

// Another overlay's Present hook (a frame-rate counter's): counts the frames it sees.
std::atomic<PresentFn> g_foreignNext{nullptr};
std::atomic<int> g_foreignSeen{0};
HRESULT STDMETHODCALLTYPE foreignPresent(IDXGISwapChain* swapChain, UINT interval, UINT flags) {
  ++g_foreignSeen;
  return g_foreignNext.load()(swapChain, interval, flags);
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

  // The tablet's two passes over slot 6 as the game draws them; returns what slot 6 then holds.
  ID3D11ShaderResourceView* drawTablet(ID3D11ShaderResourceView* tablet, ID3D11DeviceContext* context = nullptr) {
    ID3D11DeviceContext* ctx = context ? context : game.context.get();
    for (ID3D11PixelShader* shader : {screen.get(), glass.get()}) {
      ctx->PSSetShader(shader, nullptr, 0);
      ctx->PSSetShaderResources(6, 1, &tablet);
    }
    ID3D11ShaderResourceView* bound = nullptr;
    ctx->PSGetShaderResources(6, 1, &bound);
    if (bound) bound->Release();
    return bound;
  }
  uint32_t replacementWidth() {
    ComRef<ID3D11Texture2D> texture(GpsTextureReplacer::instance().replacementTextureRef());
    return texture ? descOf(texture.get()).Width : 0;
  }

  LogCapture log;
  Dx11Core& core = Dx11Core::instance();
  TestWindow& game = gameWindow();
  ComRef<ID3D11Buffer> indexBuffer;
  ComRef<ID3D11PixelShader> screen = makePixelShader(game.device.get(), 0.25f);
  ComRef<ID3D11PixelShader> glass = makePixelShader(game.device.get(), 0.75f);
};

TEST_F(RealHooks, GameCallsRunThroughTheDetoursAndUnhookedAfterShutdown) {
  VtableTargets targets;
  ASSERT_TRUE(readVtableTargets(game.swapChain.get(), game.device.get(), game.context.get(), targets));
  const Prologue presentBefore(targets.address[static_cast<size_t>(Hook::Present)]);
  const Prologue indexBefore(targets.address[static_cast<size_t>(Hook::IASetIndexBuffer)]);

  startHooked();
  EXPECT_EQ(hook::engineStats().hookCount, 9u);
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

// Shut-down runs on the SDK's thread while the game presents: capture is asked for its last turn
// before the hooks go, and it comes from the game's Present, on the game's render thread.
TEST_F(RealHooks, ShutdownGivesCaptureItsLastTurnFromTheGamesPresent) {
  struct LastTurn : RecordingCapture {
    std::atomic<bool> asked{false}, askedOnRenderThread{true};
    std::atomic<DWORD> turnThread{0};
    void renderThreadTurn() override {
      if (asked.load() && turnThread.load() == 0) turnThread.store(GetCurrentThreadId());
    }
    void releaseBeforeHooksGo(uint64_t deadlineNs, bool onRenderThread) override {
      askedOnRenderThread.store(onRenderThread);
      asked.store(true);
      while (turnThread.load() == 0 && clock::steadyNs() < deadlineNs) Sleep(1);
    }
  } capture;
  WindowCapture::install(&capture);
  std::atomic<bool> stop{false};
  std::atomic<DWORD> renderThread{0};
  std::thread render([&] {
    renderThread.store(GetCurrentThreadId());
    while (!stop.load()) game.swapChain->Present(0, 0);
  });
  startHooked();
  ASSERT_TRUE(waitFor([&] { return core.frameCounter() > 2; }));
  core.shutdown();
  stop.store(true);
  render.join();
  WindowCapture::install(nullptr);
  EXPECT_FALSE(capture.askedOnRenderThread.load());
  EXPECT_EQ(capture.turnThread.load(), renderThread.load());
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

// The hooks land while the game draws a frame: the tablet is bound under both of its shaders
// after the binding hook is in, but before the first hooked Present has adopted the device.
TEST_F(RealHooks, ATabletBoundBeforeTheFirstHookedPresentIsReplacedFromTheNextFrameOn) {
  TextureAndView tablet = makeTextureAndView(game.device.get(), overlayDesc());
  ASSERT_TRUE(screen && glass && tablet.view);
  startHooked();
  Access::setConfig(core, PluginConfig{});  // calibration on: the found tablet shows the pattern
  EXPECT_EQ(drawTablet(tablet.view.get()), tablet.view.get());  // the frame the hooks landed in
  game.swapChain->Present(0, 0);
  ASSERT_TRUE(core.contextAcquired());
  for (int frame = 1; frame <= 3; ++frame) {
    EXPECT_NE(drawTablet(tablet.view.get()), tablet.view.get()) << "frame " << frame << " after the first Present";
    game.swapChain->Present(0, 0);
  }
}

// D3D11 calls made by the game's own code beneath our detours (the game's Present, the engine's
// texture-queue function) are the game's: their rules apply.
TEST_F(RealHooks, TheGamesCallsMadeBeneathOurDetoursAreTheGames) {
  startHooked();
  game.swapChain->Present(0, 0);
  ASSERT_TRUE(core.contextAcquired());
  g_gameDevice = game.device.get();
  constexpr char kCreated[] = "V0.7.6 OVERLAY tablet_gps_overlay.dds -> 0x";

  g_gamePresent = reinterpret_cast<PresentFn>(core.trampoline(Hook::Present));
  Access::setTrampoline(core, Hook::Present, reinterpret_cast<void*>(&presentCreatingATexture));
  EXPECT_TRUE(SUCCEEDED(game.swapChain->Present(0, 0)));
  Access::setTrampoline(core, Hook::Present, reinterpret_cast<void*>(g_gamePresent.load()));
  EXPECT_EQ(log.count(kCreated), 1u) << "a texture created inside the game's Present";

  FakeGameImage image({.code = engineFunctionCalling(&engineLoadsTheQueue)});
  PrismTextureQueueRedirector& redirector = PrismTextureQueueRedirector::instance();
  ASSERT_TRUE(redirector.start(image.base()));
  OverlayQueue queue;
  EXPECT_EQ(image.function()(queue.queue, 0), 1u);  // the engine processes its queue
  redirector.shutdown();
  EXPECT_EQ(log.count(kCreated), 2u) << "a texture created inside the engine's texture-queue function";
  EXPECT_EQ(core.identification().overlayHookCount.load(), 2u);
}

// A game thread is held inside the Present detour (in a call the frame pipeline makes) when the
// plugin is shut down: shut-down gives up after its time bound, leaves the hooks off but in
// place, keeps whatever the held frame may still use, and a later start finishes the job.
TEST_F(RealHooks, AThreadHeldInsideADetourCostsShutdownItsTimeBoundAndNothingElse) {
  struct HeldCapture : RecordingCapture {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> inside{false};
    ~HeldCapture() { CloseHandle(release); }
    void setPaused(bool) override {
      inside = true;
      WaitForSingleObject(release, 30000);
    }
  } capture;
  WindowCapture::install(&capture);
  constexpr uint32_t kBoundMs = 300;
  detour::setShutdownBudgetMs(kBoundMs);
  VtableTargets targets;
  ASSERT_TRUE(readVtableTargets(game.swapChain.get(), game.device.get(), game.context.get(), targets));
  const Prologue presentBefore(targets.address[static_cast<size_t>(Hook::Present)]);

  startHooked();
  game.swapChain->Present(0, 0);
  ASSERT_TRUE(core.contextAcquired());
  core.gameState().paused.store(false);  // the next frame meets the end of the pause
  std::thread render([&] { game.swapChain->Present(0, 0); });
  ASSERT_TRUE(waitFor([&] { return capture.inside.load(); }));

  const auto begin = std::chrono::steady_clock::now();
  core.shutdown();
  const auto tookMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_GE(tookMs, kBoundMs - 20);
  EXPECT_LT(tookMs, kBoundMs + 700) << "the bound holds for the whole shut-down";
  EXPECT_TRUE(log.has(LogLevel::WARNING, "[Dx11Core] Apagado: un hilo del juego seguia dentro de un hook del plugin"));
  EXPECT_FALSE(log.has("Motor grafico detenido correctamente"));
  // Off: the game's calls run unhooked. In place: the held thread's way back still exists.
  EXPECT_TRUE(Prologue(targets.address[static_cast<size_t>(Hook::Present)]) == presentBefore);
  EXPECT_EQ(hook::engineStats().hookCount, 9u);
  EXPECT_NE(core.trampoline(Hook::Present), nullptr);
  EXPECT_EQ(Access::device(core), game.device.get());
  EXPECT_EQ(capture.countPrefix("shutdown"), 0u);

  SetEvent(capture.release);
  render.join();
  EXPECT_EQ(detour::threadsInside(), 0u);

  // The next start completes the interrupted shut-down, then hooks and adopts the device anew.
  startHooked();
  game.swapChain->Present(0, 0);
  EXPECT_TRUE(core.contextAcquired());
  core.shutdown();
  EXPECT_EQ(hook::engineStats().hookCount, 0u);
  EXPECT_EQ(Access::device(core), nullptr);
  EXPECT_TRUE(log.has("Motor grafico detenido correctamente"));
  WindowCapture::install(nullptr);
  detour::setShutdownBudgetMs(detour::kDefaultShutdownBudgetMs);
}

// The game binds the tablet from a deferred context on a thread of its own (debug red on): the
// binding is identified there, but the replacement is sized and the red view made by the render
// thread at the next Present, never through the immediate context from the binding thread.
TEST_F(RealHooks, BindingsFromADeferredContextLeaveTheImmediateContextToTheRenderThread) {
  TextureAndView tablet = makeTextureAndView(game.device.get(), overlayDesc());
  ComRef<ID3D11DeviceContext> deferred;
  ASSERT_TRUE(SUCCEEDED(game.device->CreateDeferredContext(0, deferred.put())));
  ASSERT_EQ(vtableEntry(deferred.get(), 8), vtableEntry(game.context.get(), 8))
      << "deferred contexts of this runtime do not share the hooked method";
  startHooked();
  PluginConfig forceRed;
  forceRed.calibrationMode = false;
  forceRed.debugForceRed = true;
  Access::setConfig(core, forceRed);
  game.swapChain->Present(0, 0);
  ASSERT_TRUE(core.contextAcquired());
  const uint32_t widthBefore = replacementWidth();
  ASSERT_NE(widthBefore, 1024u);

  void* update = vtableEntry(game.context.get(), 48);
  void* original = nullptr;
  ASSERT_EQ(MH_CreateHook(update, reinterpret_cast<void*>(&spyUpdateSubresource), &original), MH_OK);
  g_updateOriginal = reinterpret_cast<UpdateSubresourceFn>(original);
  g_watchedContext = game.context.get();
  g_writesFromWatchedThread = 0;
  ASSERT_EQ(MH_EnableHook(update), MH_OK);

  ID3D11ShaderResourceView* boundOnLoader[2] = {};
  std::thread loader([&] {
    g_watchedThread = GetCurrentThreadId();
    boundOnLoader[0] = drawTablet(tablet.view.get(), deferred.get());  // identified here
    boundOnLoader[1] = drawTablet(tablet.view.get(), deferred.get());
  });
  loader.join();
  g_watchedThread = 0;
  EXPECT_EQ(core.identification().overlayHookCount.load(), 1u);
  EXPECT_EQ(g_writesFromWatchedThread.load(), 0) << "the binding thread wrote through the immediate context";
  EXPECT_EQ(replacementWidth(), widthBefore);
  EXPECT_NE(boundOnLoader[1], tablet.view.get());  // substituted all the same

  game.swapChain->Present(0, 0);  // the render thread sizes the replacement and makes the red view
  EXPECT_EQ(replacementWidth(), 1024u);
  ID3D11ShaderResourceView* red = GpsTextureReplacer::instance().getRedDiagnosticView();
  ASSERT_NE(red, nullptr);
  EXPECT_EQ(drawTablet(tablet.view.get(), deferred.get()), red);

  MH_DisableHook(update);
  MH_RemoveHook(update);
}

// The binding hook's quick look decides alone for most calls; whatever it lets through or
// stops, the tablet is replaced wherever it is bound and nothing else is, while identification
// runs and after it has stopped.
TEST_F(RealHooks, TheQuickLookOfTheBindingHookMissesNoTabletBinding) {
  startHooked();
  Access::setConfig(core, PluginConfig{});
  game.swapChain->Present(0, 0);
  TextureAndView tablet = makeTextureAndView(game.device.get(), overlayDesc());
  TextureAndView small = makeTextureAndView(game.device.get(), textureDesc(64, 64));
  TextureAndView gpsSized = makeTextureAndView(game.device.get(), textureDesc(512, 512));
  ASSERT_NE(drawTablet(tablet.view.get()), tablet.view.get());
  auto bound = [&](std::vector<ID3D11ShaderResourceView*> views, UINT start) {
    game.context->PSSetShaderResources(start, static_cast<UINT>(views.size()), views.data());
    std::vector<ID3D11ShaderResourceView*> now(views.size());
    game.context->PSGetShaderResources(start, static_cast<UINT>(now.size()), now.data());
    for (ID3D11ShaderResourceView* v : now)
      if (v) v->Release();
    return now;
  };
  for (bool searching : {true, false}) {
    SCOPED_TRACE(searching ? "identification running" : "identification stopped");
    core.identification().gpsSearchActive.store(searching);
    for (int round = 0; round < 2; ++round) {  // the second time from what the first one learnt
      const auto three = bound({small.view.get(), tablet.view.get(), gpsSized.view.get()}, 5);
      EXPECT_EQ(three[0], small.view.get());
      EXPECT_NE(three[1], tablet.view.get());
      EXPECT_EQ(three[2], gpsSized.view.get());
      EXPECT_NE(bound({tablet.view.get()}, 6)[0], tablet.view.get());
      EXPECT_EQ(bound({small.view.get()}, 6)[0], small.view.get());
      EXPECT_EQ(bound({gpsSized.view.get()}, 6)[0], gpsSized.view.get());
    }
  }
}

// What a bound view is, is remembered per view; a view created where a released one lived is
// looked at afresh.
TEST_F(RealHooks, AViewCreatedWhereAReleasedOneLivedIsJudgedAfresh) {
  startHooked();
  Access::setConfig(core, PluginConfig{});
  game.swapChain->Present(0, 0);
  ASSERT_TRUE(core.contextAcquired());
  TextureAndView tablet;
  for (int attempt = 0; attempt < 50 && !tablet.view; ++attempt) {
    TextureAndView ordinary = makeTextureAndView(game.device.get(), textureDesc(64, 64));
    ID3D11ShaderResourceView* view = ordinary.view.get();
    game.context->PSSetShaderResources(3, 1, &view);  // looked at: no GPS screen could be this
    ID3D11ShaderResourceView* none = nullptr;
    game.context->PSSetShaderResources(3, 1, &none);
    ordinary = TextureAndView{};
    TextureAndView candidate = makeTextureAndView(game.device.get(), overlayDesc());
    if (candidate.view.get() == view) tablet = std::move(candidate);
  }
  ASSERT_TRUE(tablet.view) << "no view was created at a released view's address";
  EXPECT_NE(drawTablet(tablet.view.get()), tablet.view.get());
  EXPECT_EQ(core.identification().overlayHookCount.load(), 1u);
}

void STDMETHODCALLTYPE skipDraw(ID3D11DeviceContext*, UINT, UINT, INT) {}

// The dashboard draw's look at slot 6 is remembered per view too: a view created where a quad's
// view (judged not the screen) lived is judged afresh.
TEST_F(RealHooks, AViewCreatedWhereAReleasedOneLivedIsJudgedAfreshAtTheDashboardDraw) {
  startHooked();
  Access::setConfig(core, PluginConfig{});  // calibration: the screen is drawn with our resource
  game.swapChain->Present(0, 0);
  storePlaybackTarget(kTargetDashboard);
  core.applyTruckProfile("vehicle.kenworth.t680");  // its screen: 6 indices, 256 x 256, 9 mips
  game.swapChain->Present(0, 0);
  // The game's draw itself is left out: nothing of a pipeline is bound for it.
  Access::setTrampoline(core, Hook::DrawIndexed, reinterpret_cast<void*>(&skipDraw));
  const uint64_t before = GpsTextureReplacer::instance().replacementCount();
  auto drawQuad = [&](ID3D11ShaderResourceView* view) {
    game.context->PSSetShaderResources(6, 1, &view);
    game.context->DrawIndexed(6, 0, 0);
    ID3D11ShaderResourceView* none = nullptr;
    game.context->PSSetShaderResources(6, 1, &none);
  };
  TextureAndView screenTexture;
  for (int attempt = 0; attempt < 50 && !screenTexture.view; ++attempt) {
    TextureAndView other = makeTextureAndView(game.device.get(), textureDesc(128, 128, 8, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB));
    ID3D11ShaderResourceView* view = other.view.get();
    drawQuad(view);
    other = TextureAndView{};
    TextureAndView candidate = makeTextureAndView(game.device.get(), textureDesc(256, 256, 9, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB));
    if (candidate.view.get() == view) screenTexture = std::move(candidate);
  }
  ASSERT_TRUE(screenTexture.view) << "no view was created at a released view's address";
  EXPECT_EQ(GpsTextureReplacer::instance().replacementCount(), before);
  drawQuad(screenTexture.view.get());
  EXPECT_EQ(GpsTextureReplacer::instance().replacementCount(), before + 1);
}

#if !defined(ZOR_SYSTEM_MINHOOK)
// Present shared with another overlay's hook. Ours went on top of a hook that was there first:
// when its owner writes the original bytes back over our patch, the watch puts ours in again,
// built from those bytes. A hook put on top of ours is left there (we are still reached through
// it) and its module named; our shut-down leaves it in place and working.
TEST_F(RealHooks, TheWatchReinstallsAnErasedPresentHookAndLeavesOneOnTop) {
  VtableTargets targets;
  ASSERT_TRUE(readVtableTargets(game.swapChain.get(), game.device.get(), game.context.get(), targets));
  void* present = targets.address[static_cast<size_t>(Hook::Present)];
  const Prologue pristine(present);
  g_foreignSeen = 0;
  ForeignHook below;
  ASSERT_TRUE(below.install(present, reinterpret_cast<void*>(&foreignPresent)));
  g_foreignNext = reinterpret_cast<PresentFn>(below.trampoline());
  startHooked();
  game.swapChain->Present(0, 0);
  EXPECT_EQ(core.frameCounter(), 1u);
  EXPECT_EQ(g_foreignSeen, 1);

  below.takeAway();
  core.checkHookPatches();  // what the watch does once a second
  EXPECT_TRUE(log.has(LogLevel::WARNING, "Present: nuestro gancho ya no esta")) << log.dump();
  game.swapChain->Present(0, 0);
  EXPECT_EQ(core.frameCounter(), 2u);
  EXPECT_EQ(g_foreignSeen, 1) << "the new trampoline must not lead into the hook that left";

  ForeignHook above;
  ASSERT_TRUE(above.install(present, reinterpret_cast<void*>(&foreignPresent)));
  g_foreignNext = reinterpret_cast<PresentFn>(above.trampoline());
  core.checkHookPatches();
  core.checkHookPatches();
  EXPECT_EQ(log.count("Present: otro modulo (test_dx11.exe) ha escrito su gancho encima del nuestro; seguimos"), 1u)
      << log.dump();
  game.swapChain->Present(0, 0);
  EXPECT_EQ(core.frameCounter(), 3u);
  EXPECT_EQ(g_foreignSeen, 2);

  core.shutdown();
  EXPECT_TRUE(above.inPlace());
  game.swapChain->Present(0, 0);
  EXPECT_EQ(g_foreignSeen, 3);
  EXPECT_EQ(core.frameCounter(), 3u);
  DWORD old = 0;
  VirtualProtect(present, sizeof pristine.bytes, PAGE_EXECUTE_READWRITE, &old);
  std::memcpy(present, pristine.bytes, sizeof pristine.bytes);
  VirtualProtect(present, sizeof pristine.bytes, old, &old);
  FlushInstructionCache(GetCurrentProcess(), present, sizeof pristine.bytes);
}
#endif

}  // namespace
