// The Present pipeline on a real swap chain of this process, with time moved by hand.
#include <gtest/gtest.h>

#include "dx11/Dx11TestSupport.h"
#include "support/ManualClock.h"
#include "support/TempFolder.h"

using namespace zor;
using namespace zor::test;
using Access = Dx11CoreTestAccess;

namespace {

int g_presents = 0;
UINT g_lastFlags = 0;
IDXGISwapChain* g_lastSwapChain = nullptr;
HRESULT STDMETHODCALLTYPE fakePresent(IDXGISwapChain* sc, UINT, UINT flags) {
  ++g_presents;
  g_lastFlags = flags;
  g_lastSwapChain = sc;
  return DXGI_STATUS_OCCLUDED;
}

HRESULT STDMETHODCALLTYPE refuseRenderTargetView(ID3D11Device*, ID3D11Resource*, const D3D11_RENDER_TARGET_VIEW_DESC*,
                                                 ID3D11RenderTargetView** out) {
  if (out) *out = nullptr;
  return E_INVALIDARG;
}

// Gives one COM object of ours a private copy of its method table with one slot replaced.
class VtableSlotSwap {
 public:
  VtableSlotSwap(void* object, size_t slots, size_t slot, void* fn) : object_(static_cast<void***>(object)) {
    saved_ = *object_;
    copy_.assign(saved_, saved_ + slots);
    copy_[slot] = fn;
    *object_ = copy_.data();
  }
  ~VtableSlotSwap() { *object_ = saved_; }

 private:
  void*** object_;
  void** saved_;
  std::vector<void*> copy_;
};

class PresentPipeline : public ::testing::Test {
 protected:
  void SetUp() override { start(PluginConfig{}); }
  void TearDown() override {
    Access::fresh(core);
    WindowCapture::install(nullptr);
  }
  void start(const PluginConfig& config) {
    Access::fresh(core, config);
    WindowCapture::install(&capture);
    Access::setTrampoline(core, Hook::Present, reinterpret_cast<void*>(&fakePresent));
    g_presents = 0;
  }
  HRESULT frame(UINT flags = 0) { return core.onPresent(window.swapChain.get(), 0, flags); }
  // Frames 16 ms apart for the given time.
  void run(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 16) {
      clock.advanceMs(16);
      frame();
    }
  }
  void electric(bool on) {
    scs_value_t v = boolValue(on);
    core.onElectricChannel(&v);
  }
  void engine(bool on) {
    scs_value_t v = boolValue(on);
    core.onEngineChannel(&v);
  }
  // The ignition off for one frame, then on again for the next.
  void ignitionOffAndOn() {
    electric(false);
    frame();
    electric(true);
    frame();
  }
  // Acquires the context, drives, and starts playing keyword at fps.
  void play(const char* keyword = "YouTube", int fps = 24) {
    frame();
    ASSERT_TRUE(core.contextAcquired());
    core.onStartedEvent();
    PanelState::instance().requestStart(keyword, 1280, 720, fps);
    frame();
    ASSERT_TRUE(core.playbackActive());
  }

  ManualClock clock{1'000'000};
  LogCapture log;
  RecordingCapture capture;
  TestWindow& window = gameWindow();
  Dx11Core& core = Dx11Core::instance();
};

TEST_F(PresentPipeline, FirstFrameAdoptsTheContextAndEveryFrameEndsInTheGamesPresent) {
  ASSERT_TRUE(window.swapChain);
  EXPECT_EQ(frame(), DXGI_STATUS_OCCLUDED);
  EXPECT_TRUE(core.contextAcquired());
  EXPECT_EQ(Access::device(core), window.device.get());
  EXPECT_EQ(core.frameCounter(), 1u);
  EXPECT_EQ(g_presents, 1);
  EXPECT_EQ(g_lastSwapChain, window.swapChain.get());
  EXPECT_TRUE(GpsTextureReplacer::instance().isInitialized());
  EXPECT_TRUE(ComRef<ID3D11Texture2D>(GpsTextureReplacer::instance().redTestTextureRef()));
  EXPECT_TRUE(ComRef<ID3D11Texture2D>(GpsTextureReplacer::instance().replacementTextureRef()));

  // A test presentation is forwarded untouched and counts no frame.
  frame(DXGI_PRESENT_TEST);
  EXPECT_EQ(g_presents, 2);
  EXPECT_EQ(g_lastFlags, static_cast<UINT>(DXGI_PRESENT_TEST));
  EXPECT_EQ(core.frameCounter(), 1u);
}

TEST_F(PresentPipeline, ConfiguredGpsSizeGivesTheReplacementThatSize) {
  PluginConfig config;
  config.gpsWidth = 512;
  config.gpsHeight = 256;
  start(config);
  frame();
  ComRef<ID3D11Texture2D> tex(GpsTextureReplacer::instance().replacementTextureRef());
  ASSERT_TRUE(tex);
  EXPECT_EQ(descOf(tex.get()).Width, 512u);
  EXPECT_EQ(descOf(tex.get()).Format, DXGI_FORMAT_B8G8R8A8_TYPELESS);
}

TEST_F(PresentPipeline, ContextAcquisitionFailuresLogAndRetryNextFrame) {
  core.onPresent(nullptr, 0, 0);
  core.onPresent(nullptr, 0, 0);
  EXPECT_EQ(log.count("V1.1.0: Present entrego un IDXGISwapChain nulo"), 2u);
  EXPECT_EQ(g_presents, 2);

  // The output window belongs to another process: never adopted, silently.
  FakeSwapChain foreign;
  foreign.window = GetDesktopWindow();
  DWORD pid = 0;
  GetWindowThreadProcessId(foreign.window, &pid);
  ASSERT_NE(pid, GetCurrentProcessId());
  foreign.device = window.device.get();
  core.onPresent(&foreign, 0, 0);
  core.onPresent(&foreign, 0, 0);
  EXPECT_EQ(foreign.getDescCalls, 2);
  EXPECT_EQ(foreign.getDeviceCalls, 0);
  EXPECT_FALSE(core.contextAcquired());

  FakeSwapChain broken;
  broken.window = window.hwnd;
  broken.deviceResult = E_FAIL;
  core.onPresent(&broken, 0, 0);
  EXPECT_TRUE(log.has(LogLevel::ERROR, "V1.1.0: IDXGISwapChain::GetDevice fallo"));

  broken.deviceResult = S_OK;
  broken.device = window.device.get();
  broken.bufferResult = DXGI_ERROR_INVALID_CALL;
  core.onPresent(&broken, 0, 0);
  EXPECT_TRUE(log.has(LogLevel::ERROR, "V1.1.0: IDXGISwapChain::GetBuffer(0) fallo; no se creo RenderTargetView."));

  // The device refuses the render target view.
  ComRef<ID3D11Texture2D> backBuffer;
  ASSERT_TRUE(SUCCEEDED(window.swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D),
                                                    reinterpret_cast<void**>(backBuffer.put()))));
  ComRef<ID3D11Device> refusing = makeDevice();
  VtableSlotSwap swap(refusing.get(), 43, 9, reinterpret_cast<void*>(&refuseRenderTargetView));
  const ULONG refsBefore = refCount(refusing.get());
  broken.device = refusing.get();
  broken.bufferResult = S_OK;
  broken.buffer = backBuffer.get();
  core.onPresent(&broken, 0, 0);
  EXPECT_TRUE(log.has(LogLevel::ERROR, "V1.1.0: CreateRenderTargetView fallo; no se modifico el backbuffer."));
  EXPECT_FALSE(core.contextAcquired());
  EXPECT_EQ(refCount(refusing.get()), refsBefore);  // every reference taken was given back
  EXPECT_EQ(g_presents, 7);

  frame();  // the real swap chain still works afterwards
  EXPECT_TRUE(core.contextAcquired());
}

TEST_F(PresentPipeline, PauseEdgesPauseTheWorkerAndLogInOrder) {
  frame();
  EXPECT_EQ(capture.countPrefix("setPaused"), 0u);  // paused preset equals the edge copy
  core.onStartedEvent();
  frame();
  core.onPausedEvent();
  frame();
  core.onStartedEvent();
  PanelState::instance().requestStart("YouTube", 1280, 720, 30);
  frame();
  core.onPausedEvent();
  frame();
  frame();
  core.onStartedEvent();
  frame();
  const int a = log.indexOf("Conduccion reanudada: GPS listo.");
  const int b = log.indexOf("ATS en pausa/carga: GPS en espera.");
  const int c = log.indexOf("ATS en pausa/carga: captura multimedia conservada en espera.");
  const int d = log.indexOf("Conduccion reanudada: captura multimedia activa nuevamente.");
  ASSERT_GE(a, 0) << log.dump();
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_LT(c, d);
  EXPECT_EQ(capture.countPrefix("setPaused(1)"), 2u);
  EXPECT_EQ(capture.countPrefix("setPaused(0)"), 3u);
  EXPECT_TRUE(core.playbackActive());  // pausing does not stop playback
}

// A playback started in the pause menu has no pause edge to come: the worker starts asleep.
TEST_F(PresentPipeline, APlaybackStartedWhileTheGameIsPausedStartsWithTheWorkerPaused) {
  frame();
  capture.clear();
  PanelState::instance().requestStart("YouTube", 1280, 720, 30);
  frame();
  EXPECT_EQ(capture.events(), (std::vector<std::string>{"deactivate", "start(YouTube,30,0,0,0,0,0)", "setPaused(1)"}));
  core.onStartedEvent();
  frame();
  EXPECT_EQ(capture.countPrefix("setPaused(0)"), 1u);
}

TEST_F(PresentPipeline, EdgeCopiesStartAtTrue) {
  electric(false);
  frame();
  frame();
  EXPECT_EQ(log.count("Contacto apagado: GPS sin captura y alimentacion multimedia suspendida."), 1u);

  start(PluginConfig{});
  log.clear();
  electric(true);
  engine(true);
  frame();
  EXPECT_FALSE(log.has("Contacto encendido"));
  EXPECT_FALSE(log.has("Motor encendido"));
}

TEST_F(PresentPipeline, IgnitionAndEngineOffSuspendAndEngineOnResumesAfter100ms) {
  electric(true);
  engine(true);
  play("YouTube", 24);
  EXPECT_TRUE(log.has("Transmision al GPS iniciada."));
  EXPECT_EQ(capture.countPrefix("start(YouTube,24,"), 1u);

  electric(false);
  engine(false);
  frame();
  EXPECT_FALSE(core.playbackActive());
  EXPECT_TRUE(log.has("Contacto apagado: GPS sin captura y alimentacion multimedia suspendida."));
  EXPECT_EQ(capture.countPrefix("deactivate"), 2u);  // the start request's, then the suspension

  electric(true);
  frame();
  EXPECT_TRUE(log.has("Contacto encendido: GPS disponible; esperando motor para reanudar multimedia."));
  EXPECT_FALSE(Access::resumeScheduled(core));  // the engine is still off
  clock.advanceMs(500);
  frame();

  engine(true);
  frame();
  EXPECT_TRUE(log.has("Motor encendido: preparando reanudacion automatica del GPS."));
  clock.advanceMs(99);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 1u);
  clock.advanceMs(1);
  frame();
  EXPECT_EQ(capture.countPrefix("start(YouTube,24,"), 2u);
  EXPECT_TRUE(core.playbackActive());
  EXPECT_TRUE(log.has("Motor encendido: captura del GPS reanudada automaticamente."));
}

TEST_F(PresentPipeline, IgnitionCycleWithTheEngineRunningResumesFromTheIgnitionEdge) {
  electric(true);
  engine(true);
  play();
  ignitionOffAndOn();
  EXPECT_TRUE(Access::resumeScheduled(core));
  clock.advanceMs(100);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 2u);
  EXPECT_TRUE(core.playbackActive());
}

TEST_F(PresentPipeline, ResumeWithAnUnknownEngineStillHappens) {
  electric(true);
  play();
  ignitionOffAndOn();
  clock.advanceMs(100);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 2u);
  EXPECT_TRUE(core.playbackActive());
}

TEST_F(PresentPipeline, FailedResumeIsRetriedEveryTwoSeconds) {
  electric(true);
  engine(true);
  play();
  engine(false);
  frame();
  EXPECT_TRUE(log.has("Motor apagado: GPS original y captura suspendida."));
  capture.startResult = false;  // the window has gone
  engine(true);
  frame();
  clock.advanceMs(100);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 2u);
  EXPECT_TRUE(log.has(LogLevel::WARNING, "Motor encendido: la captura aun no pudo reanudarse; se reintentara."));
  clock.advanceMs(1999);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 2u);
  clock.advanceMs(1);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 3u);
  capture.startResult = true;
  clock.advanceMs(2000);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 4u);
  EXPECT_TRUE(core.playbackActive());
  EXPECT_FALSE(Access::resumePending(core));
}

TEST_F(PresentPipeline, PreparedPlaybackStartsAfterTheLastOfIgnitionAndEngine) {
  electric(false);
  engine(false);
  frame();
  core.onStartedEvent();
  PanelState::instance().requestStart("Spotify", 1280, 720, 60);
  frame();
  EXPECT_TRUE(log.has("Reproduccion preparada; se iniciara automaticamente al encender contacto y motor."));
  EXPECT_EQ(capture.countPrefix("start("), 0u);
  EXPECT_FALSE(core.playbackActive());

  engine(true);  // ignition still off: nothing scheduled
  frame();
  clock.advanceMs(300);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 0u);
  electric(true);
  frame();
  clock.advanceMs(100);
  frame();
  EXPECT_EQ(capture.countPrefix("start(Spotify,30,"), 1u);  // fps requested as 60, clamped to 30
  EXPECT_TRUE(core.playbackActive());
}

TEST_F(PresentPipeline, NewStartReplacesPlaybackAndRestoreStopsIt) {
  PluginConfig config;
  config.flipVertical = true;
  config.cropLeft = 4;
  config.cropTop = 5;
  config.cropWidth = 600;
  config.cropHeight = 300;
  start(config);
  play("YouTube", 30);
  EXPECT_EQ(capture.countPrefix("start(YouTube,30,1,4,5,600,300)"), 1u);
  capture.clear();
  PanelState::instance().requestStart("VLC", 1280, 720, 15);
  frame();
  EXPECT_EQ(capture.events(), (std::vector<std::string>{"deactivate", "start(VLC,15,1,4,5,600,300)"}));
  EXPECT_NE(core.gameState().stateTick.load(), 0u);

  capture.clear();
  PanelState::instance().requestRestore();
  frame();
  EXPECT_EQ(capture.events(), (std::vector<std::string>{"deactivate"}));
  EXPECT_FALSE(core.playbackActive());
  EXPECT_TRUE(log.has("GPS original restaurado; captura detenida."));
  EXPECT_EQ(core.gameState().stateTick.load(), 0u);
  EXPECT_TRUE(Access::title(core).empty());
  EXPECT_TRUE(PanelState::instance().activeWindowTitle().empty());
  EXPECT_FALSE(PanelState::instance().restoreRequested.load());
  // Nothing comes back by itself afterwards.
  engine(false);
  frame();
  engine(true);
  frame();
  clock.advanceMs(500);
  frame();
  EXPECT_EQ(capture.countPrefix("start("), 0u);
}

TEST_F(PresentPipeline, FramesAreUploadedOnlyWhileDrivingWithCalibrationOff) {
  play();
  run(200);
  EXPECT_EQ(capture.countPrefix("upload"), 0u);  // calibration_mode defaults to on

  PluginConfig config;
  config.calibrationMode = false;
  start(config);
  play();
  run(160);
  EXPECT_GE(capture.countPrefix("upload"), 10u);
  ComRef<ID3D11Texture2D> replacement(GpsTextureReplacer::instance().replacementTextureRef());
  EXPECT_EQ(capture.lastUploadTexture, replacement.get());

  core.onPausedEvent();
  frame();
  capture.clear();
  run(160);
  EXPECT_EQ(capture.countPrefix("upload"), 0u);
}

TEST_F(PresentPipeline, TheSavedTargetIsRestoredAtAcquisitionAndFramesGoToThatTargetsTexture) {
  TempFolder folder(L"zor-target");
  const std::wstring ini = folder / L"ZorTabcastPlugin.ini";
  ASSERT_TRUE(writeFile(ini, "[gps_output]\nmode=1\n"));
  PluginConfig config;
  config.calibrationMode = false;
  start(config);
  Access::setSettingsPath(core, ini);
  core.applyTruckProfile("vehicle.kenworth.w900");
  play();
  EXPECT_EQ(playbackTarget(), kTargetDashboard);
  EXPECT_EQ(log.count("Destino de reproduccion seleccionado: GPS original del camion (Kenworth W900)."), 1u)
      << log.dump();
  run(160);
  ComRef<ID3D11Texture2D> dashboard(GpsTextureReplacer::instance().dashboardTextureRef());
  ASSERT_TRUE(dashboard);
  EXPECT_GE(capture.countPrefix("upload"), 10u);
  EXPECT_EQ(capture.lastUploadTexture, dashboard.get());

  // A truck without a profile: nothing to write into.
  core.applyTruckProfile("vehicle.mack.anthem");
  capture.clear();
  run(160);
  EXPECT_EQ(capture.countPrefix("upload"), 0u);

  // The tablet again: frames go to the replacement.
  setPlaybackTarget(kTargetTablet);
  run(160);
  ComRef<ID3D11Texture2D> replacement(GpsTextureReplacer::instance().replacementTextureRef());
  EXPECT_GE(capture.countPrefix("upload"), 10u);
  EXPECT_EQ(capture.lastUploadTexture, replacement.get());
}

// The game made its device anew (graphics settings changed) and presents through a swap chain of
// it on the same window: everything of ours moves onto the new device and lets go of the old one.
TEST_F(PresentPipeline, AFrameOfANewDeviceOnTheGamesWindowMovesEverythingOntoItAndFreesTheOldOne) {
  PluginConfig config;
  config.calibrationMode = false;
  start(config);
  core.applyTruckProfile("vehicle.kenworth.w900");
  setPlaybackTarget(kTargetDashboard);
  const ULONG oldWithoutUs = refCount(window.device.get());
  play();
  run(32);
  ASSERT_GT(refCount(window.device.get()), oldWithoutUs);

  ComRef<ID3D11DeviceContext> newContext;
  ComRef<ID3D11Device> newDevice = makeDevice(&newContext);
  FakeSwapChain newChain;
  newChain.window = window.hwnd;
  newChain.device = newDevice.get();
  capture.clear();
  for (int i = 0; i < 3; ++i) {
    clock.advanceMs(16);
    EXPECT_EQ(core.onPresent(&newChain, 0, 0), DXGI_STATUS_OCCLUDED);
  }

  EXPECT_EQ(Access::device(core), newDevice.get());
  EXPECT_EQ(refCount(window.device.get()), oldWithoutUs) << "something of ours still holds the old device";
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  for (ID3D11Texture2D* texture : {replacer.replacementTextureRef(), replacer.dashboardTextureRef(),
                                   replacer.redTestTextureRef()}) {
    ComRef<ID3D11Texture2D> held(texture);
    ASSERT_TRUE(held);
    ComRef<ID3D11Device> owner;
    held->GetDevice(owner.put());
    EXPECT_EQ(owner.get(), newDevice.get());
  }
  // The capture goes on into the new dashboard texture, through the new device's context.
  const auto events = capture.events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0], "deactivate");
  EXPECT_EQ(events[1].rfind("start(YouTube,24", 0), 0u) << events[1];
  EXPECT_TRUE(core.playbackActive());
  EXPECT_EQ(capture.lastUploadTexture, ComRef<ID3D11Texture2D>(replacer.dashboardTextureRef()).get());
  EXPECT_EQ(log.count("V1.1.0: el juego creo un dispositivo grafico nuevo"), 1u);
}

// The game makes a swap chain for its window on a new device: everything of ours on the old
// device goes right then, before the runtime looks at the window (a flip-model swap chain goes
// only once its device is let go of and flushed), and the new device's first frame takes over.
// The old context keeps what the game bound while the game still holds its device.
TEST_F(PresentPipeline, ANewSwapChainOfTheGameLetsGoOfTheOldDeviceAtOnceAndItsFirstFrameTakesOver) {
  PluginConfig config;
  config.calibrationMode = false;
  start(config);
  TextureAndView games = makeTextureAndView(window.device.get(), textureDesc(64, 64));
  ID3D11ShaderResourceView* const gamesView = games.view.get();
  ASSERT_TRUE(gamesView);
  const ULONG oldWithoutUs = refCount(window.device.get());
  play();
  run(32);
  ID3D11ShaderResourceView* bound = gamesView;
  window.context->PSSetShaderResources(0, 1, &bound);

  ComRef<ID3D11DeviceContext> newContext;
  ComRef<ID3D11Device> newDevice = makeDevice(&newContext);
  capture.clear();
  core.onSwapChainCreation(window.hwnd, newDevice.get());
  EXPECT_EQ(Access::device(core), nullptr);
  EXPECT_EQ(refCount(window.device.get()), oldWithoutUs) << "something of ours still holds the old device";
  ComRef<ID3D11ShaderResourceView> stillBound;
  window.context->PSGetShaderResources(0, 1, stillBound.put());
  EXPECT_EQ(stillBound.get(), gamesView) << "the game's state, cleared while the game holds its device";
  EXPECT_EQ(capture.events(), (std::vector<std::string>{"deactivate"}));

  FakeSwapChain newChain;
  newChain.window = window.hwnd;
  newChain.device = newDevice.get();
  clock.advanceMs(16);
  core.onPresent(&newChain, 0, 0);
  EXPECT_EQ(Access::device(core), newDevice.get()) << "at its first frame";
  EXPECT_TRUE(core.playbackActive());
  ID3D11ShaderResourceView* none = nullptr;
  window.context->PSSetShaderResources(0, 1, &none);
}

// A launcher's or a tool's window of the game's process that presents before the game does (here
// one never shown) is not taken for the game's: the first frame on the game's window is.
TEST_F(PresentPipeline, TheFirstFrameAdoptedIsOneOnAWindowThatPassesForTheGames) {
  HWND launcher = CreateWindowExW(0, L"STATIC", L"launcher", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                  nullptr, nullptr);
  ComRef<ID3D11Texture2D> backBuffer;
  ASSERT_TRUE(SUCCEEDED(window.swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D),
                                                    reinterpret_cast<void**>(backBuffer.put()))));
  FakeSwapChain launcherChain;
  launcherChain.window = launcher;
  launcherChain.device = window.device.get();
  launcherChain.buffer = backBuffer.get();
  core.onPresent(&launcherChain, 0, 0);
  EXPECT_FALSE(core.contextAcquired());
  frame();
  EXPECT_TRUE(core.contextAcquired());
  EXPECT_EQ(Access::device(core), window.device.get());
  DestroyWindow(launcher);
}

// A swap chain made for the game's window lets go of the adopted device only when its creator is
// a Direct3D 11 device (not another API's device or queue), and only that device is followed at
// its first frame: the old one presenting again (the creation failed) needs its frames in a row.
TEST_F(PresentPipeline, OnlyANewD3D11SwapChainOnTheGamesWindowLetsGoAndOnlyItsDeviceIsTakenAtOnce) {
  struct OtherApi : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
  } queue;
  frame();
  ID3D11Device* const game = Access::device(core);
  ASSERT_EQ(game, window.device.get());
  core.onSwapChainCreation(window.hwnd, &queue);
  EXPECT_EQ(Access::device(core), game) << "a Direct3D 12 queue or 10 device made the swap chain";

  ComRef<ID3D11DeviceContext> newContext;
  ComRef<ID3D11Device> newDevice = makeDevice(&newContext);
  core.onSwapChainCreation(window.hwnd, newDevice.get());
  ASSERT_EQ(Access::device(core), nullptr);
  frame();
  frame();
  EXPECT_EQ(Access::device(core), nullptr) << "the old device's frames after a creation that failed";
  frame();
  EXPECT_EQ(Access::device(core), game);

  core.onSwapChainCreation(window.hwnd, newDevice.get());
  FakeSwapChain newChain;
  newChain.window = window.hwnd;
  newChain.device = newDevice.get();
  core.onPresent(&newChain, 0, 0);
  EXPECT_EQ(Access::device(core), newDevice.get()) << "the device the swap chain was made with, at its first frame";
}

// A post-processing proxy puts a wrapper in front of the game's device: the swap chain's creator
// can reach us as the wrapper while the adopted device is the one behind it (or the other way
// round). A wrapper that forwards private data to the device behind it is known for the adopted
// device, and nothing is let go of.
TEST_F(PresentPipeline, ASwapChainMadeWithAWrapperOfTheAdoptedDeviceLetsGoOfNothing) {
  struct Wrapper {
    void* const* methods;
    ID3D11Device* behind;
    static HRESULT STDMETHODCALLTYPE queryInterface(Wrapper* self, REFIID riid, void** out) {
      *out = riid == __uuidof(ID3D11Device) || riid == __uuidof(IUnknown) ? self : nullptr;
      return *out ? S_OK : E_NOINTERFACE;
    }
    static ULONG STDMETHODCALLTYPE addRef(Wrapper*) { return 1; }
    static ULONG STDMETHODCALLTYPE release(Wrapper*) { return 1; }
    static HRESULT STDMETHODCALLTYPE getPrivateData(Wrapper* self, REFGUID guid, UINT* size, void* data) {
      return self->behind->GetPrivateData(guid, size, data);
    }
  };
  std::vector<void*> methods(43, nullptr);  // ID3D11Device's; only these four are called
  methods[0] = reinterpret_cast<void*>(&Wrapper::queryInterface);
  methods[1] = reinterpret_cast<void*>(&Wrapper::addRef);
  methods[2] = reinterpret_cast<void*>(&Wrapper::release);
  methods[34] = reinterpret_cast<void*>(&Wrapper::getPrivateData);
  frame();
  ID3D11Device* const game = Access::device(core);
  ASSERT_EQ(game, window.device.get());
  Wrapper wrapper{methods.data(), game};
  core.onSwapChainCreation(window.hwnd, reinterpret_cast<IUnknown*>(&wrapper));
  EXPECT_EQ(Access::device(core), game);
}

// Another device presenting on the game's window between the game's own frames (a tool's swap
// chain, the old swap chain's last frame) moves nothing: only a device that presents three
// frames in a row does, and a frame of the device left behind does not move the plugin back.
TEST_F(PresentPipeline, ADeviceThatPresentsBetweenTheGamesFramesIsNotFollowed) {
  ComRef<ID3D11DeviceContext> otherContext;
  ComRef<ID3D11Device> other = makeDevice(&otherContext);
  FakeSwapChain otherChain;
  otherChain.window = window.hwnd;
  otherChain.device = other.get();
  frame();
  ID3D11Device* const game = Access::device(core);
  ASSERT_NE(game, nullptr);
  for (int i = 0; i < 10; ++i) {
    core.onPresent(&otherChain, 0, 0);
    core.onPresent(&otherChain, 0, 0);
    frame();
  }
  EXPECT_EQ(Access::device(core), game);
  for (int i = 0; i < 3; ++i) core.onPresent(&otherChain, 0, 0);
  EXPECT_EQ(Access::device(core), other.get());
  frame();
  EXPECT_EQ(Access::device(core), other.get());
  EXPECT_EQ(log.count("V1.1.0: el juego creo un dispositivo grafico nuevo"), 1u);
}

// Only the game's frames run the pipeline: a swap chain of another API on the game's window (a
// Direct3D 12 or 10 overlay's) or the game's own device presenting on another window (a
// recording tool's preview) runs nothing of ours, not even a pending start.
TEST_F(PresentPipeline, FramesOfOtherSwapChainsRunNothingOfOurs) {
  frame();
  core.onStartedEvent();
  HWND other = CreateWindowExW(0, L"STATIC", L"preview", WS_POPUP, 0, 0, 320, 200, nullptr, nullptr, nullptr, nullptr);
  FakeSwapChain noD3D11, elsewhere;
  noD3D11.window = window.hwnd;
  noD3D11.deviceResult = E_NOINTERFACE;
  elsewhere.window = other;
  elsewhere.device = window.device.get();
  PanelState::instance().requestStart("YouTube", 1280, 720, 24);
  for (FakeSwapChain* chain : {&noD3D11, &elsewhere}) {
    core.onPresent(chain, 0, 0);
    EXPECT_FALSE(core.playbackActive()) << (chain == &noD3D11 ? "no D3D11 device" : "another window");
  }
  frame();
  EXPECT_TRUE(core.playbackActive());
  DestroyWindow(other);
}

// The game makes a new window (a change of display mode): once the window adopted at the first
// frame is gone, a swap chain on a window that passes for the game's is the game's frame again.
TEST_F(PresentPipeline, ANewGameWindowIsFollowedOnceTheAdoptedOneIsGone) {
  frame();
  core.onStartedEvent();
  auto gameLike = [] {
    return CreateWindowExW(0, L"STATIC", L"juego", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600, nullptr,
                           nullptr, nullptr, nullptr);
  };
  HWND first = gameLike(), second = gameLike();
  Access::setAdoptedWindow(core, first);
  FakeSwapChain next;
  next.window = second;
  next.device = window.device.get();
  PanelState::instance().requestStart("YouTube", 1280, 720, 24);
  core.onPresent(&next, 0, 0);
  EXPECT_FALSE(core.playbackActive()) << "a second window beside the living one";
  DestroyWindow(first);
  core.onPresent(&next, 0, 0);
  EXPECT_TRUE(core.playbackActive());
  EXPECT_EQ(log.count("el plugin sigue a la ventana nueva"), 1u) << log.dump();
  DestroyWindow(second);
}

TEST_F(PresentPipeline, DrawIndexedIsHookedFromTheNextPresentOnlyWhileTheDashboardCanShowSomething) {
  PluginConfig config;
  config.calibrationMode = false;
  start(config);
  ScriptedHooks hooks;
  char drawIndexed = 0;
  hooks.name(&drawIndexed, "DrawIndexed");
  Access::setTarget(core, Hook::DrawIndexed, &drawIndexed);
  Access::setDrawIndexedCreated(core, true);
  core.applyTruckProfile("vehicle.kenworth.w900");
  frame();
  setPlaybackTarget(kTargetDashboard);
  frame();  // the resource is ready, but nothing is shown yet
  EXPECT_TRUE(hooks.allCalls().empty());

  core.onStartedEvent();
  PanelState::instance().requestStart("YouTube", 1280, 720, 30);
  frame();  // playback starts after the switch of this frame
  EXPECT_TRUE(hooks.allCalls().empty());
  frame();
  EXPECT_EQ(hooks.allCalls(), (std::vector<std::string>{"enable:DrawIndexed"}));
  setPlaybackTarget(kTargetTablet);
  frame();
  setPlaybackTarget(kTargetDashboard);
  frame();
  core.applyTruckProfile("vehicle.freightliner.cascadia2019");
  frame();
  frame();
  EXPECT_EQ(hooks.allCalls(), (std::vector<std::string>{"enable:DrawIndexed", "disable:DrawIndexed",
                                                        "enable:DrawIndexed", "disable:DrawIndexed"}));
}

TEST_F(PresentPipeline, CameraReturnNeedsQuiet450msAndComesAtMostEvery800ms) {
  PluginConfig config;
  config.calibrationMode = false;
  start(config);
  play();
  GpsIdentification& id = core.identification();
  id.gpsInUse.store(true);
  id.gpsSearchActive.store(false);
  const uint64_t t0 = clock.ms();
  id.lastGpsUseTick.store(t0 + 60);
  ComRef<ID3D11Texture2D> held;
  {
    const D3D11_TEXTURE2D_DESC d = textureDesc(16, 16);
    ASSERT_TRUE(SUCCEEDED(window.device->CreateTexture2D(&d, nullptr, held.put())));
    held->AddRef();
    std::lock_guard<std::mutex> lock(id.hookMutex);
    id.hookedGpsTextures.push_back(held.get());
  }
  auto stepTo = [&](uint64_t msAfterT0) {
    while (clock.ms() < t0 + msAfterT0) {
      clock.advanceMs(10);
      frame();
    }
  };
  stepTo(490);  // only 430 ms after the last sighting at the last check
  EXPECT_FALSE(id.gpsSearchActive.load());
  EXPECT_TRUE(Access::gpsOffscreen(core));
  stepTo(600);
  EXPECT_TRUE(id.gpsSearchActive.load());
  const uint64_t firstReturn = Access::lastCameraReturnTick(core);
  EXPECT_GE(firstReturn, t0 + 510);
  EXPECT_EQ(refCount(held.get()), 1u);  // the stale confirmation was released
  EXPECT_TRUE(id.hookedGpsTextures.empty());
  EXPECT_EQ(id.overlayHookCount.load(), 0u);

  id.gpsSearchActive.store(false);  // identification ended without a new sighting
  stepTo(firstReturn - t0 + 790);
  EXPECT_FALSE(id.gpsSearchActive.load());
  EXPECT_EQ(Access::lastCameraReturnTick(core), firstReturn);
  stepTo(firstReturn - t0 + 900);
  EXPECT_TRUE(id.gpsSearchActive.load());
  EXPECT_GE(Access::lastCameraReturnTick(core), firstReturn + 800);

  // Not while the capture has no window.
  id.gpsSearchActive.store(false);
  capture.windowPresent = false;
  const uint64_t second = Access::lastCameraReturnTick(core);
  stepTo(second - t0 + 2000);
  EXPECT_EQ(Access::lastCameraReturnTick(core), second);
}

TEST_F(PresentPipeline, CabinReturnNeedsTheGpsUnseenFor500msWhileStillPaused) {
  play();
  core.onPausedEvent();
  frame();
  ASSERT_TRUE(core.gameState().paused.load());
  // Drawn every frame while paused: never 500 ms between sightings.
  for (int i = 0; i < 125; ++i) {
    clock.advanceMs(16);
    core.noteGpsSighting();
  }
  EXPECT_TRUE(core.gameState().paused.load());
  clock.advanceMs(499);
  core.noteGpsSighting();
  EXPECT_TRUE(core.gameState().paused.load());
  clock.advanceMs(500);
  capture.clear();
  core.noteGpsSighting();
  EXPECT_FALSE(core.gameState().paused.load());
  EXPECT_EQ(capture.events(), (std::vector<std::string>{"setPaused(0)"}));
  clock.advanceMs(2000);
  core.noteGpsSighting();
  EXPECT_EQ(log.count("Regreso a cabina detectado por la pantalla GPS"), 1u);
  frame();
  EXPECT_TRUE(log.has("Conduccion reanudada: captura multimedia activa nuevamente."));

  // Without playback a sighting ends no pause.
  PanelState::instance().requestRestore();
  frame();
  core.onPausedEvent();
  clock.advanceMs(3000);
  core.noteGpsSighting();
  EXPECT_TRUE(core.gameState().paused.load());
}

}  // namespace
