// The overlay host over a real game window, device and swap chain of this process: Ctrl+F8,
// the panel drawn into the back buffer, the window procedure in front of the game's, the input
// hooks, and a shut-down that leaves nothing of the panel's hold on the game behind.
#include <gtest/gtest.h>

#include <imgui.h>

#include "OverlayTestKit.h"
#include "support/RecordingCapture.h"
#include "core/HookApi.h"
#include "core/KeyBindings.h"
#include "media/AppLibrary.h"
#include "media/MediaFiles.h"
#include "media/PanelState.h"
#include "media/ProfileManager.h"
#include "core/PluginConfig.h"
#include "overlay/OverlayHost.h"
#include "support/ManualClock.h"
#include "support/TempFolder.h"

namespace zor::test {
namespace {

class OverlayHost : public ::testing::Test {
 protected:
  GameWindow& game = GameWindow::get();
  ConfigOverlay& overlay = ConfigOverlay::instance();
  // The media settings the overlay loads and smart capture reads: a folder of this test's own.
  static inline TempFolder* settings = nullptr;

  static void SetUpTestSuite() {
    settings = new TempFolder(L"zor_overlay_settings");
    media::setSettingsFolder(settings->path());
  }
  static void TearDownTestSuite() {
    media::setSettingsFolder(L"");
    delete settings;
    settings = nullptr;
  }

  void SetUp() override {
    PanelState::instance().reset();
    ProfileManager::instance().reset();
    AppLibrary::instance().reset();
    ASSERT_TRUE(game.swapChain) << "no D3D11 swap chain";
    FakeKeys::clear();
    ConfigOverlay::setKeyStateSource(&FakeKeys::state);
    GameProc::seen.clear();
  }
  void TearDown() override {
    overlay.shutdown();
    zor::keys::setCurrent(zor::keys::defaultBindings());
    ConfigOverlay::setKeyStateSource(nullptr);
    ConfigOverlay::setPlatformStart(nullptr);
    setHookApi(nullptr);
  }
  bool start() { return overlay.initialize(game.hwnd, game.device.get(), game.context.get()); }
  // One Present of the game: its frame, then the overlay's.
  void frame() {
    game.clear();
    overlay.renderFrame(game.swapChain.get());
  }
  void keys(bool ctrl, bool f8) {
    FakeKeys::down[VK_CONTROL] = ctrl;
    FakeKeys::down[VK_F8] = f8;
    frame();
  }
  void pressCtrlF8() {
    keys(true, false);
    keys(true, true);
    keys(false, false);
  }
  double panelShare() { return drawnShare(game.backBuffer(), game.width, kPanelRect); }
  LRESULT send(UINT message, WPARAM w = 0, LPARAM l = 0) { return SendMessageW(game.hwnd, message, w, l); }
  WNDPROC windowProc() { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(game.hwnd, GWLP_WNDPROC)); }
  // A swap chain of the game's device on a window.
  ComRef<IDXGISwapChain> swapChainOn(HWND window, UINT width, UINT height) {
    ComRef<IDXGIDevice> dxgiDevice;
    game.device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(dxgiDevice.put()));
    ComRef<IDXGIAdapter> adapter;
    dxgiDevice->GetAdapter(adapter.put());
    ComRef<IDXGIFactory> factory;
    adapter->GetParent(__uuidof(IDXGIFactory), reinterpret_cast<void**>(factory.put()));
    DXGI_SWAP_CHAIN_DESC sd = swapChainDesc(window, width, height);
    ComRef<IDXGISwapChain> chain;
    factory->CreateSwapChain(game.device.get(), &sd, chain.put());
    return chain;
  }
};

TEST_F(OverlayHost, CtrlF8ShowsThePanelInTheBackBufferAndHidesItWithoutAnySettingsFile) {
  LogCapture log;
  DeleteFileW(L"imgui.ini");
  ASSERT_TRUE(start());
  EXPECT_TRUE(log.has("Recuperacion automatica de camara activa.")) << log.dump();  // the complete input lock
  EXPECT_TRUE(overlay.inputLockHooks().complete());

  frame();
  EXPECT_LT(panelShare(), 0.01) << "hidden: the game's frame is left alone";
  pressCtrlF8();
  ASSERT_TRUE(overlay.panelVisible());
  EXPECT_TRUE(ImGui::GetIO().MouseDrawCursor) << "the panel draws its own cursor while shown";
  frame();
  const std::vector<uint32_t> shown = game.backBuffer();
  EXPECT_GT(drawnShare(shown, game.width, kPanelRect), 0.95);
  EXPECT_LT(drawnShare(shown, game.width, kOutsideRect), 0.01);
  pressCtrlF8();
  EXPECT_FALSE(overlay.panelVisible());
  EXPECT_FALSE(ImGui::GetIO().MouseDrawCursor);
  frame();
  EXPECT_LT(panelShare(), 0.01);

  EXPECT_EQ(ImGui::GetIO().IniFilename, nullptr);
  EXPECT_FALSE(exists(L"imgui.ini"));
  EXPECT_FALSE(exists(configFilePath(L"imgui.ini")));
}

TEST_F(OverlayHost, EachCtrlF8PressTogglesOnceWhateverTheOrderAndTimingOfTheKeys) {
  ASSERT_TRUE(start());
  struct Step {
    bool ctrl, f8;
  };
  struct Case {
    const char* what;
    std::vector<Step> frames;
    int toggles;
  };
  std::vector<Step> held(300, Step{true, true});  // five seconds at 60 frames a second
  std::vector<Step> quick;
  for (int i = 0; i < 20; ++i) {
    quick.push_back({true, true});
    quick.push_back({false, false});
  }
  const Case cases[] = {
      {"both held for five seconds", held, 1},
      {"F8 alone", {{false, true}, {false, false}, {false, true}}, 0},
      {"F8 first, then Ctrl", {{false, true}, {true, true}, {false, false}}, 0},
      {"twenty quick presses, both keys down in one frame", quick, 20},
      // Ctrl released before F8: the next press, both keys in one frame, toggles again.
      {"Ctrl let go first, then pressed again",
       {{true, true}, {false, true}, {false, false}, {true, true}, {false, false}},
       2},
      {"F8 pressed again while Ctrl stays down", {{true, true}, {true, false}, {true, true}, {true, false}, {true, true}},
       3},
  };
  for (const Case& c : cases) {
    if (overlay.panelVisible()) pressCtrlF8();
    keys(false, false);
    int toggles = 0;
    bool last = overlay.panelVisible();
    for (const Step& s : c.frames) {
      keys(s.ctrl, s.f8);
      toggles += overlay.panelVisible() != last;
      last = overlay.panelVisible();
    }
    EXPECT_EQ(toggles, c.toggles) << c.what;
  }
}

TEST_F(OverlayHost, AChosenPanelKeyTogglesWithItsModifiersHeldUnlessTheyMakeAnotherActionsKey) {
  ASSERT_TRUE(start());
  zor::keys::Bindings chosen = zor::keys::defaultBindings();
  chosen[size_t(zor::keys::Action::Panel)] = {VK_F10, zor::keys::kAlt};
  chosen[size_t(zor::keys::Action::Next)] = {VK_F10, zor::keys::kCtrl | zor::keys::kAlt};
  zor::keys::setCurrent(chosen);
  frame();
  // Modifiers and key down in one frame, all up in the next.
  auto press = [&](const std::vector<int>& held) {
    for (int k : held) FakeKeys::down[k] = true;
    frame();
    FakeKeys::clear();
    frame();
  };
  const struct {
    const char* what;
    std::vector<int> held;
    int toggles;
  } cases[] = {
      {"Alt+F10", {VK_MENU, VK_F10}, 1},
      {"F10 alone", {VK_F10}, 0},
      {"Shift+Alt+F10: more modifiers count, as Ctrl+Shift+F8 did", {VK_SHIFT, VK_MENU, VK_F10}, 1},
      {"Ctrl+Alt+F10 is the next track's key", {VK_CONTROL, VK_MENU, VK_F10}, 0},
      {"the old Ctrl+F8", {VK_CONTROL, VK_F8}, 0},
  };
  for (const auto& c : cases) {
    if (overlay.panelVisible()) press({VK_MENU, VK_F10});
    ASSERT_FALSE(overlay.panelVisible()) << c.what;
    press(c.held);
    EXPECT_EQ(overlay.panelVisible() ? 1 : 0, c.toggles) << c.what;
  }

  // A key chosen while it is held (the keys tab takes it as it goes down) counts from its next
  // press.
  if (overlay.panelVisible()) press({VK_MENU, VK_F10});
  FakeKeys::down[VK_F9] = true;
  frame();
  chosen[size_t(zor::keys::Action::Panel)] = {VK_F9, 0};
  zor::keys::setCurrent(chosen);
  frame();
  frame();
  EXPECT_FALSE(overlay.panelVisible());
  FakeKeys::clear();
  frame();
  press({VK_F9});
  EXPECT_TRUE(overlay.panelVisible());
}

TEST_F(OverlayHost, WithoutDeviceOrWindowThereIsNoPanelAndNoFrameWork) {
  LogCapture log;
  EXPECT_FALSE(overlay.initialize(game.hwnd, nullptr, game.context.get()));
  EXPECT_FALSE(overlay.initialize(nullptr, game.device.get(), game.context.get()));
  EXPECT_EQ(log.count("V3.0.0: ConfigOverlay::initialize fallo; el panel Ctrl+F8 no estara disponible."), 2u);
  EXPECT_FALSE(overlay.isInitialized());
  EXPECT_EQ(windowProc(), &GameProc::proc);
  pressCtrlF8();
  EXPECT_FALSE(overlay.panelVisible());
  EXPECT_LT(panelShare(), 0.01);
}

// An engine that refuses some hooks.
struct RefusingEngine {
  static inline bool refuseInit = false;
  static inline void* refused = nullptr;
  static MH_STATUS WINAPI init() { return refuseInit ? MH_ERROR_MEMORY_ALLOC : MH_OK; }
  static MH_STATUS WINAPI uninit() { return MH_OK; }
  static MH_STATUS WINAPI create(LPVOID target, LPVOID, LPVOID* original) {
    *original = target;
    return target == refused ? MH_ERROR_UNSUPPORTED_FUNCTION : MH_OK;
  }
  static MH_STATUS WINAPI ok(LPVOID) { return MH_OK; }
  static const char* WINAPI text(MH_STATUS) { return "refusing"; }
  static inline const HookApi api{&init, &uninit, &create, &ok, &ok, &ok, &text};
};

TEST_F(OverlayHost, AnIncompleteInputLockIsReportedAndThePanelStillWorks) {
  void* setCursorPos = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetCursorPos"));
  void* rawData = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetRawInputData"));
  struct Case {
    const char* what;
    bool refuseInit;
    void* refused;
    bool complete;
  };
  const Case cases[] = {
      {"the engine cannot start", true, nullptr, false},
      {"SetCursorPos refused", false, setCursorPos, false},
      {"one raw-input function refused", false, rawData, true},
  };
  for (const Case& c : cases) {
    RefusingEngine::refuseInit = c.refuseInit;
    RefusingEngine::refused = c.refused;
    setHookApi(&RefusingEngine::api);
    LogCapture log;
    ASSERT_TRUE(start()) << c.what;
    EXPECT_EQ(log.has("V0.2.1 INPUT LOCK: panel activo, pero algun hook de entrada no pudo instalarse."), !c.complete)
        << c.what;
    EXPECT_EQ(log.has("Recuperacion automatica de camara activa."), c.complete) << c.what;
    pressCtrlF8();
    frame();
    EXPECT_GT(panelShare(), 0.95) << c.what;
    overlay.shutdown();
    EXPECT_FALSE(holdsHookEngine(HookOwner::Overlay)) << c.what;
    setHookApi(nullptr);
  }
}

// Presses, movement and characters are the panel's while it is shown; releases always reach the
// game, which saw Ctrl and F8 (and whatever else was held) go down before the panel opened.
TEST_F(OverlayHost, ThePanelTakesTheGameWindowsPressesOnlyWhileShownAndReleasesAlwaysReachTheGame) {
  ASSERT_TRUE(start());
  EXPECT_EQ(windowProc(), &overlay::OverlayWndProc);
  const UINT swallowed[] = {WM_INPUT,       WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MOUSEWHEEL,
                            WM_MOUSEHWHEEL, WM_KEYDOWN,   WM_CHAR,        WM_SYSKEYDOWN};
  const UINT passed[] = {WM_DEADCHAR, WM_SIZE,        WM_SETFOCUS,  WM_USER + 7,  WM_KEYUP,
                         WM_SYSKEYUP, WM_LBUTTONUP,   WM_RBUTTONUP, WM_MBUTTONUP, WM_XBUTTONUP};
  auto sendAll = [&] {
    for (UINT m : swallowed) send(m, 'A', 0);
    for (UINT m : passed) send(m, 0, 0);
  };
  sendAll();
  for (UINT m : swallowed) EXPECT_EQ(GameProc::count(m), 1) << "hidden, message " << m;
  for (UINT m : passed) EXPECT_EQ(GameProc::count(m), 1) << "hidden, message " << m;

  pressCtrlF8();
  GameProc::seen.clear();
  sendAll();
  frame();
  for (UINT m : swallowed) EXPECT_EQ(GameProc::count(m), 0) << "shown, message " << m;
  for (UINT m : passed) EXPECT_EQ(GameProc::count(m), 1) << "shown, message " << m;

  pressCtrlF8();
  GameProc::seen.clear();
  sendAll();
  for (UINT m : swallowed) EXPECT_EQ(GameProc::count(m), 1) << "hidden again, message " << m;
}

// The same in the game's raw input: a keyboard record of a key coming up reaches the game, one of
// a key going down does not.
TEST_F(OverlayHost, RawKeyboardRecordsOfReleasesReachTheGameWhileThePanelIsShown) {
  RAWINPUTDEVICE keyboard{0x01, 0x06, RIDEV_INPUTSINK, game.hwnd};
  ASSERT_TRUE(RegisterRawInputDevices(&keyboard, 1, sizeof keyboard));
  ASSERT_TRUE(start());
  pressCtrlF8();
  // Sends the key and hands its raw-input message to the window's procedure chain: whether the
  // game's procedure got it.
  auto rawRecordReachesTheGame = [&](DWORD flags) {
    GameProc::seen.clear();
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_F9;
    input.ki.dwFlags = flags;
    EXPECT_EQ(SendInput(1, &input, sizeof input), 1u);
    const ULONGLONG deadline = GetTickCount64() + 5000;
    MSG msg{};
    while (!PeekMessageW(&msg, game.hwnd, WM_INPUT, WM_INPUT, PM_REMOVE)) {
      if (GetTickCount64() > deadline) {
        ADD_FAILURE() << "no raw-input message came";
        return false;
      }
      Sleep(5);
    }
    DispatchMessageW(&msg);
    return GameProc::count(WM_INPUT) == 1;
  };
  EXPECT_FALSE(rawRecordReachesTheGame(0)) << "a key going down is the panel's";
  EXPECT_TRUE(rawRecordReachesTheGame(KEYEVENTF_KEYUP));
  TestWindow::pump();
  keyboard.dwFlags = RIDEV_REMOVE;
  keyboard.hwndTarget = nullptr;
  RegisterRawInputDevices(&keyboard, 1, sizeof keyboard);
}

TEST_F(OverlayHost, ShutDownWhileShownGivesTheGameItsWindowCursorAndInputBack) {
  const ULONG deviceRefs = refCount(game.device.get()), contextRefs = refCount(game.context.get());
  ASSERT_TRUE(start());
  pressCtrlF8();
  FakeKeys::down[VK_LBUTTON] = true;  // the player holds the mouse button on the panel
  frame();
  POINT before{};
  GetCursorPos(&before);
  SetCursorPos(before.x + 37, before.y + 21);
  POINT locked{};
  GetCursorPos(&locked);
  EXPECT_EQ(locked.x, before.x) << "SetCursorPos does nothing while the panel is shown";

  overlay.shutdown();
  EXPECT_FALSE(overlay.isInitialized());
  EXPECT_FALSE(overlay.panelVisible());
  EXPECT_EQ(windowProc(), &GameProc::proc);
  EXPECT_FALSE(overlay.inputLockHooks().setCursorPos || overlay.inputLockHooks().getRawInputData ||
               overlay.inputLockHooks().getRawInputBuffer);
  EXPECT_FALSE(holdsHookEngine(HookOwner::Overlay));
  EXPECT_FALSE(overlay.leftInWindowChain());
  EXPECT_EQ(refCount(game.device.get()), deviceRefs) << "no reference of the game's device is left behind";
  EXPECT_EQ(refCount(game.context.get()), contextRefs);
  SetCursorPos(before.x + 37, before.y + 21);
  POINT moved{};
  GetCursorPos(&moved);
  EXPECT_EQ(moved.x, before.x + 37);
  SetCursorPos(before.x, before.y);
  GameProc::seen.clear();
  send(WM_MOUSEMOVE);
  EXPECT_EQ(GameProc::count(WM_MOUSEMOVE), 1);
}

// The game's procedure is the game's code: what it calls (D3D11 included) is not taken for the
// plugin's own calls, whether the panel is shown or not.
TEST_F(OverlayHost, TheGamesWindowProcedureRunsAsTheGamesCode) {
  ASSERT_TRUE(start());
  for (const bool shown : {false, true}) {
    if (shown) pressCtrlF8();
    GameProc::seen.clear();
    send(WM_USER + 9);
    ASSERT_EQ(GameProc::count(WM_USER + 9), 1);
    EXPECT_FALSE(GameProc::ownCallSeen) << (shown ? "shown" : "hidden");
  }
}

// The game makes a new device and swap chain (its graphics settings changed): the panel is drawn
// on the new one from the next frame, and nothing of the overlay keeps the old device alive.
TEST_F(OverlayHost, ANewDeviceOfTheGameGetsThePanelAndTheOldDeviceIsLetGo) {
  ASSERT_TRUE(start());
  pressCtrlF8();
  frame();
  ASSERT_GT(panelShare(), 0.95);

  ComRef<ID3D11Device> oldDevice = std::move(game.device);
  ComRef<ID3D11DeviceContext> oldContext = std::move(game.context);
  game.swapChain.reset();
  DXGI_SWAP_CHAIN_DESC sd = swapChainDesc(game.hwnd, game.width, game.height);
  D3D_FEATURE_LEVEL level{};
  ASSERT_EQ(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                          &sd, game.swapChain.put(), game.device.put(), &level, game.context.put()),
            S_OK);
  frame();
  EXPECT_GT(panelShare(), 0.95) << "the panel on the new device";

  const ULONG deviceRefs = refCount(oldDevice.get()), contextRefs = refCount(oldContext.get());
  overlay.shutdown();
  EXPECT_EQ(refCount(oldDevice.get()), deviceRefs) << "the overlay held the old device";
  EXPECT_EQ(refCount(oldContext.get()), contextRefs);
}

// Another module's procedure on top of ours, the way a second overlay or a recorder installs it.
struct OtherModule {
  static inline WNDPROC saved = nullptr;
  static inline int calls = 0;
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    ++calls;
    return CallWindowProcW(saved, h, m, w, l);
  }
  static void install(HWND h) {
    saved = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&proc)));
  }
  static void remove(HWND h) { SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(saved)); }
};

TEST_F(OverlayHost, AWindowProcedureInstalledAfterOursKeepsAWorkingChainThroughShutDownAndRestart) {
  LogCapture log;
  ASSERT_TRUE(start());
  OtherModule::install(game.hwnd);
  EXPECT_EQ(OtherModule::saved, &overlay::OverlayWndProc);

  overlay.shutdown();
  EXPECT_TRUE(overlay.leftInWindowChain());
  EXPECT_TRUE(log.has(LogLevel::WARNING, "otro modulo reemplazo el procedimiento de ventana")) << log.dump();
  EXPECT_EQ(windowProc(), &OtherModule::proc) << "their procedure stays on top";
  auto oneMessageReachesEveryoneOnce = [&](const char* when) {
    GameProc::seen.clear();
    OtherModule::calls = 0;
    send(WM_USER + 1);
    EXPECT_EQ(GameProc::count(WM_USER + 1), 1) << when;
    EXPECT_EQ(OtherModule::calls, 1) << when;
  };
  oneMessageReachesEveryoneOnce("after our shut-down");

  // The plugin starts again in the same process: ours is still in the chain and is not put on
  // top a second time (their saved pointer calls it: that would loop).
  ASSERT_TRUE(start());
  EXPECT_EQ(windowProc(), &OtherModule::proc);
  oneMessageReachesEveryoneOnce("after the restart");
  pressCtrlF8();
  GameProc::seen.clear();
  send(WM_KEYDOWN, 'W');
  EXPECT_EQ(GameProc::count(WM_KEYDOWN), 0) << "the panel still takes the keys";
  pressCtrlF8();

  // They leave, putting ours back on top; our next shut-down restores the game's own.
  OtherModule::remove(game.hwnd);
  overlay.shutdown();
  EXPECT_FALSE(overlay.leftInWindowChain());
  EXPECT_EQ(windowProc(), &GameProc::proc);
}

// A module that was there before the plugin leaves by putting back the procedure it saved, which
// was the game's: ours is out of the chain with it. The panel notices and goes back on top.
TEST_F(OverlayHost, AModuleThatPutsBackTheProcedureItFoundBeforeUsLeavesThePanelItsInput) {
  LogCapture log;
  OtherModule::install(game.hwnd);
  ASSERT_TRUE(start());
  pressCtrlF8();
  OtherModule::remove(game.hwnd);
  frame();
  GameProc::seen.clear();
  send(WM_LBUTTONDOWN);
  send(WM_KEYDOWN, 'W');
  EXPECT_EQ(GameProc::count(WM_LBUTTONDOWN) + GameProc::count(WM_KEYDOWN), 0) << "the panel's click and key";
  EXPECT_TRUE(log.has(LogLevel::WARNING, "restauro un procedimiento de ventana anterior al panel")) << log.dump();
  pressCtrlF8();
  overlay.shutdown();
  EXPECT_EQ(windowProc(), &GameProc::proc);
  EXPECT_FALSE(overlay.leftInWindowChain());
}

// A mod menu's procedure, subclassed after ours: private messages it does not know go to
// DefWindowProc (so it never answers the panel's probe), the rest to the procedure it saved, and
// it takes the top back whenever it finds another procedure there.
struct SwallowingModule {
  static inline WNDPROC saved = nullptr;
  static inline int calls = 0, depth = 0;
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m >= 0xC000) return DefWindowProcW(h, m, w, l);
    ++calls;
    if (depth >= 8) return 0;  // a message going round for ever: ended here rather than by the stack
    ++depth;
    const LRESULT r = CallWindowProcW(saved, h, m, w, l);
    --depth;
    return r;
  }
  static void takeTop(HWND h) {
    if (GetWindowLongPtrW(h, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&proc)) return;
    saved = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&proc)));
  }
};

// Subclassed after ours. (One subclassed before ours loses the game's procedure the first time it
// takes the top back, saving ours: WindowChain.TheClassProcedureIsUsedOnlyWhenSeenInTheChain.)
TEST_F(OverlayHost, AModuleThatSwallowsTheProbeAndKeepsTheTopGetsEachMessageOnceAndThePanelItsInput) {
  {
    LogCapture log;
    ASSERT_TRUE(start());
    pressCtrlF8();
    for (int round = 0; round < 5; ++round) {
      SwallowingModule::takeTop(game.hwnd);
      frame();
      GameProc::seen.clear();
      SwallowingModule::calls = 0;
      send(WM_USER + 3);
      EXPECT_EQ(GameProc::count(WM_USER + 3), 1) << "round " << round;
      EXPECT_EQ(SwallowingModule::calls, 1) << "round " << round;
    }
    GameProc::seen.clear();
    send(WM_KEYDOWN, 'W');
    EXPECT_EQ(GameProc::count(WM_KEYDOWN), 0) << "the panel takes the keys";
    EXPECT_LE(log.count("el panel volvio a ponerse delante"), 1u) << log.dump();

    pressCtrlF8();
    SetWindowLongPtrW(game.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&overlay::OverlayWndProc));
    overlay.shutdown();
    EXPECT_EQ(windowProc(), &GameProc::proc) << "the module left: ours hands the game's procedure back";
  }
}

// A module that was there before ours puts itself on top again with the procedure it saved the
// first time (the game's), which cuts ours out of the chain: the panel puts itself back on top.
struct ReapplyingModule {
  static inline WNDPROC saved = nullptr;
  static inline int calls = 0;
  static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    ++calls;
    return CallWindowProcW(saved, h, m, w, l);
  }
  static void apply(HWND h) {
    const auto previous = SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&proc));
    if (!saved) saved = reinterpret_cast<WNDPROC>(previous);
  }
};

TEST_F(OverlayHost, AModuleThatReappliesItsFirstSubclassDoesNotCutThePanelOff) {
  LogCapture log;
  ReapplyingModule::apply(game.hwnd);
  ASSERT_TRUE(start());
  pressCtrlF8();
  ReapplyingModule::apply(game.hwnd);
  frame();
  GameProc::seen.clear();
  ReapplyingModule::calls = 0;
  send(WM_KEYDOWN, 'W');
  send(WM_USER + 4);
  EXPECT_EQ(GameProc::count(WM_KEYDOWN), 0) << "the panel's key";
  EXPECT_EQ(GameProc::count(WM_USER + 4), 1);
  EXPECT_EQ(ReapplyingModule::calls, 1) << "once, for the message the panel passes on";
  EXPECT_TRUE(log.has(LogLevel::WARNING, "el panel volvio a ponerse delante")) << log.dump();

  pressCtrlF8();
  overlay.shutdown();
  EXPECT_EQ(windowProc(), &ReapplyingModule::proc);
  SetWindowLongPtrW(game.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReapplyingModule::saved));  // it leaves
  EXPECT_EQ(windowProc(), &GameProc::proc);
}

// A shut-down that had to leave the window procedure in place gives the game its input back:
// the media shortcuts too, which the procedure left behind would otherwise go on taking.
TEST_F(OverlayHost, AfterAShutDownThatLeftTheProcedureInPlaceTheMediaShortcutsReachTheGame) {
  RecordingCapture capture;
  capture.window = game.hwnd;
  WindowCapture::install(&capture);
  ASSERT_TRUE(start());
  BYTE keys[256] = {};
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  auto ctrlNReachesTheGame = [&] {
    GameProc::seen.clear();
    send(WM_KEYDOWN, 'N', 1);
    send(WM_KEYUP, 'N', static_cast<LPARAM>(3u << 30));
    return GameProc::count(WM_KEYDOWN) == 1;
  };
  EXPECT_FALSE(ctrlNReachesTheGame()) << "a media shortcut while the overlay runs";
  overlay.releaseInput();
  EXPECT_TRUE(ctrlNReachesTheGame());
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  WindowCapture::install(nullptr);
}

// The panel shown but no longer drawn (the game's window gone or minimised, no Present) holds
// nothing of the game's input after half a second, and holds it again once drawn. A new game
// window takes the panel's procedure and ImGui's window; the old one's messages go to the game.
TEST_F(OverlayHost, ThePanelHoldsInputOnlyWhileDrawnAndMovesOntoANewGameWindow) {
  ManualClock clock;
  ASSERT_TRUE(start());
  pressCtrlF8();
  auto keyReachesTheGame = [&](HWND window) {
    GameProc::seen.clear();
    SendMessageW(window, WM_KEYDOWN, 'W', 0);
    return GameProc::count(WM_KEYDOWN) == 1;
  };
  EXPECT_FALSE(keyReachesTheGame(game.hwnd));
  clock.advanceMs(kInputLockHoldMs + 100);
  EXPECT_TRUE(keyReachesTheGame(game.hwnd)) << "not drawn for longer than the hold";
  EXPECT_FALSE(inputLocked());
  frame();
  EXPECT_TRUE(inputLocked());
  EXPECT_FALSE(keyReachesTheGame(game.hwnd));

  RECT rc{0, 0, static_cast<LONG>(game.width), static_cast<LONG>(game.height)};
  AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, FALSE);
  HWND second = CreateWindowExW(0, L"ZorOverlayTestGame", L"Zor overlay test game 2", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr);
  ComRef<IDXGISwapChain> secondChain = swapChainOn(second, game.width, game.height);
  ASSERT_TRUE(secondChain);
  auto ctrlF8OnSecond = [&] {
    for (const bool f8 : {false, true, false}) {
      FakeKeys::down[VK_CONTROL] = true;
      FakeKeys::down[VK_F8] = f8;
      overlay.renderFrame(secondChain.get());
    }
    FakeKeys::clear();
  };
  // ImGui's Win32 backend does not start on it at first: the panel is closed all the same, and
  // the start is tried again at the frames after.
  LogCapture log;
  ConfigOverlay::setPlatformStart([](void*) { return false; });
  overlay.followGameWindow(second);
  EXPECT_EQ(overlay.gameWindow(), second);
  EXPECT_FALSE(overlay.panelVisible()) << "closed with the old window";
  EXPECT_FALSE(inputLocked());
  EXPECT_TRUE(keyReachesTheGame(second));
  ctrlF8OnSecond();
  EXPECT_FALSE(overlay.panelVisible()) << "no panel without its backend";
  EXPECT_TRUE(keyReachesTheGame(second));
  ConfigOverlay::setPlatformStart(nullptr);
  ctrlF8OnSecond();
  EXPECT_FALSE(keyReachesTheGame(second)) << "Ctrl+F8 opened the panel on the new window";
  EXPECT_TRUE(keyReachesTheGame(game.hwnd)) << "the old window is the game's alone";
  EXPECT_TRUE(log.has("el panel se inicio en la ventana nueva del juego")) << log.dump();

  overlay.followGameWindow(game.hwnd);
  secondChain.reset();
  DestroyWindow(second);
  pressCtrlF8();
  EXPECT_FALSE(keyReachesTheGame(game.hwnd));
  pressCtrlF8();
}

TEST_F(OverlayHost, TheGameCanResizeItsBuffersOrReplaceItsSwapChainWhileThePanelIsShown) {
  ASSERT_TRUE(start());
  pressCtrlF8();
  frame();
  ASSERT_GT(panelShare(), 0.95);
  {
    // What a reference kept from one frame to the next would do to the game.
    ComRef<ID3D11Texture2D> held;
    game.swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(held.put()));
    EXPECT_EQ(game.swapChain->ResizeBuffers(0, 760, 620, DXGI_FORMAT_UNKNOWN, 0), DXGI_ERROR_INVALID_CALL);
  }
  // The overlay holds no reference to the back buffer between frames, so the game's resize
  // succeeds, and the panel is drawn into the new buffer from the next frame on.
  EXPECT_EQ(game.swapChain->ResizeBuffers(0, 760, 620, DXGI_FORMAT_UNKNOWN, 0), S_OK);
  game.width = 760;
  frame();
  EXPECT_GT(panelShare(), 0.95);
  EXPECT_EQ(game.swapChain->ResizeBuffers(0, 800, 640, DXGI_FORMAT_UNKNOWN, 0), S_OK);
  game.width = 800;

  // A swap chain made anew on the same window.
  ComRef<IDXGISwapChain> old = std::move(game.swapChain);
  old.reset();
  game.swapChain = swapChainOn(game.hwnd, 800, 640);
  ASSERT_TRUE(game.swapChain);
  frame();
  EXPECT_GT(panelShare(), 0.95);
}


TEST_F(OverlayHost, TheFirstShowTakesTheSourceWindowAndRateFromTheCaptureEngineOnce) {
  RecordingCapture engine;
  engine.keyword = L"M\u00fasica \U0001F3B5 en vivo";
  engine.effective = 15;
  WindowCapture::install(&engine);
  PanelState& panel = PanelState::instance();
  ASSERT_TRUE(start());
  frame();
  EXPECT_EQ(panel.sourceWindowTitle(), "") << "nothing is taken while the panel is hidden";
  pressCtrlF8();
  EXPECT_EQ(panel.sourceWindowTitle(), "M\xC3\xBAsica \xF0\x9F\x8E\xB5 en vivo");
  EXPECT_EQ(panel.fps.load(), 15);
  EXPECT_EQ(panel.fpsIndex.load(), 0);

  engine.keyword = L"Otra ventana";
  engine.effective = 30;
  pressCtrlF8();
  pressCtrlF8();
  EXPECT_EQ(panel.sourceWindowTitle(), "M\xC3\xBAsica \xF0\x9F\x8E\xB5 en vivo") << "seeded once per start";
  EXPECT_EQ(panel.fps.load(), 15);
  overlay.shutdown();
  WindowCapture::install(nullptr);
}

}  // namespace
}  // namespace zor::test
