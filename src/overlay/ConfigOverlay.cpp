#include "overlay/ConfigOverlay.h"

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>

#include <d3dcompiler.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "core/ComRef.h"
#include "core/DetourGuard.h"
#include "core/HookApi.h"
#include "core/IniFile.h"
#include "core/KeyBindings.h"
#include "core/Logger.h"
#include "core/PluginConfig.h"
#include "core/ProcessExit.h"
#include "overlay/FirstRunWizard.h"
#include "overlay/FrameRecord.h"
#include "overlay/OverlayHost.h"
#include "overlay/Panel.h"
#include "overlay/PanelTabs.h"
#include "overlay/Texts.h"
#include "overlay/Theme.h"

namespace zor {
namespace {

std::atomic<ConfigOverlay::KeyStateFn> g_keyState{nullptr};
std::atomic<ConfigOverlay::PlatformStartFn> g_platformStart{nullptr};

bool startPlatform(HWND window) {
  const ConfigOverlay::PlatformStartFn start = g_platformStart.load(std::memory_order_acquire);
  return start ? start(window) : ImGui_ImplWin32_Init(window);
}

SHORT keyState(int virtualKey) noexcept {
  const ConfigOverlay::KeyStateFn source = g_keyState.load(std::memory_order_acquire);
  return source ? source(virtualKey) : GetAsyncKeyState(virtualKey);
}
bool isDown(SHORT state) noexcept { return (state & 0x8000) != 0; }
}  // namespace

SHORT overlay::polledKeyState(int virtualKey) noexcept { return keyState(virtualKey); }

namespace {

// Polls of about 1 ms that shut-down waits for a thread still inside the window procedure or
// an input detour.

// What the panel's drawing changes of the game's pipeline that ImGui's renderer does not put back
// itself: the render targets and depth view (ours are bound to draw) and the hull, domain and
// compute shaders (it unbinds them). Taken before drawing, put back after it, so the game finds
// after its Present exactly what it bound before.
class SavedPipelineState {
 public:
  explicit SavedPipelineState(ID3D11DeviceContext* context) : context_(context) {
    context_->OMGetRenderTargets(D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT, targets_, &depth_);
    hs_.count = ds_.count = cs_.count = kMaxInstances;
    context_->HSGetShader(&hs_.shader, hs_.instances, &hs_.count);
    context_->DSGetShader(&ds_.shader, ds_.instances, &ds_.count);
    context_->CSGetShader(&cs_.shader, cs_.instances, &cs_.count);
  }
  ~SavedPipelineState() {
    context_->OMSetRenderTargets(D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT, targets_, depth_);
    context_->HSSetShader(hs_.shader, hs_.instances, hs_.count);
    context_->DSSetShader(ds_.shader, ds_.instances, ds_.count);
    context_->CSSetShader(cs_.shader, cs_.instances, cs_.count);
    for (ID3D11RenderTargetView* view : targets_) {
      if (view) view->Release();
    }
    if (depth_) depth_->Release();
    hs_.release();
    ds_.release();
    cs_.release();
  }
  SavedPipelineState(const SavedPipelineState&) = delete;
  SavedPipelineState& operator=(const SavedPipelineState&) = delete;

 private:
  static constexpr UINT kMaxInstances = 256;
  template <class Shader>
  struct Stage {
    Shader* shader = nullptr;
    ID3D11ClassInstance* instances[kMaxInstances] = {};
    UINT count = 0;
    void release() {
      if (shader) shader->Release();
      for (UINT i = 0; i < count && i < kMaxInstances; ++i) {
        if (instances[i]) instances[i]->Release();
      }
    }
  };
  ID3D11DeviceContext* context_;
  ID3D11RenderTargetView* targets_[D3D11_SIMULTANEOUS_RENDER_TARGET_COUNT] = {};
  ID3D11DepthStencilView* depth_ = nullptr;
  Stage<ID3D11HullShader> hs_;
  Stage<ID3D11DomainShader> ds_;
  Stage<ID3D11ComputeShader> cs_;
};

// What ImGui's Direct3D 11 renderer needs and does not check itself: a device and its immediate
// context, shader model 4 (feature level 10_0), and a shader compiler that works. Its Init
// accepts any device and fails only later, at the first frame.
bool rendererCanRun(ID3D11Device* device, ID3D11DeviceContext* context) noexcept {
  if (!device || !context || device->GetFeatureLevel() < D3D_FEATURE_LEVEL_10_0) return false;
  static std::atomic<int> compiler{0};  // 0 unknown, 1 works, -1 does not
  if (compiler.load() == 0) {
    static const char kShader[] = "float4 main() : SV_Target { return 0; }";
    ID3DBlob* code = nullptr;
    const HRESULT hr =
        D3DCompile(kShader, sizeof kShader - 1, nullptr, nullptr, nullptr, "main", "ps_4_0", 0, 0, &code, nullptr);
    if (code) code->Release();
    compiler.store(SUCCEEDED(hr) ? 1 : -1);
  }
  return compiler.load() == 1;
}

constexpr const char* kInitFailed =
    "V3.0.0: ConfigOverlay::initialize fallo; el panel Ctrl+F8 no estara disponible.";

}  // namespace

overlay::Host& overlay::host() noexcept {
  static Host h;
  return h;
}

ConfigOverlay& ConfigOverlay::instance() noexcept {
  static ConfigOverlay overlay;
  return overlay;
}

// What shut-down uses is created first, so it is destroyed after the overlay (the destructor
// shuts down at process exit).
ConfigOverlay::ConfigOverlay() {
  Logger::instance();
  overlay::host();
}

ConfigOverlay::~ConfigOverlay() { shutdown(); }

void ConfigOverlay::setKeyStateSource(KeyStateFn source) noexcept {
  g_keyState.store(source, std::memory_order_release);
}

void ConfigOverlay::setPlatformStart(PlatformStartFn start) noexcept {
  g_platformStart.store(start, std::memory_order_release);
}

bool ConfigOverlay::isInitialized() const noexcept { return overlay::host().initialized.load(); }
bool ConfigOverlay::panelVisible() const noexcept { return overlay::host().panelVisible.load(); }
bool ConfigOverlay::wizardVisible() const noexcept { return overlay::host().wizardVisible.load(); }
HWND ConfigOverlay::gameWindow() const noexcept { return overlay::host().gameWindow.load(); }

bool ConfigOverlay::initialize(HWND window, ID3D11Device* device, ID3D11DeviceContext* context) {
  overlay::Host& h = overlay::host();
  if (h.initialized.load()) return true;
  try {
    h.gameWindow.store(window);
    if (!window || !device || !context) {
      logWarning(kInitFailed);
      return false;
    }
    {
      std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
      ImGuiContext* previous = ImGui::GetCurrentContext();
      context_ = ImGui::CreateContext();
      ImGui::SetCurrentContext(context_);
      ImGuiIO& io = ImGui::GetIO();
      io.IniFilename = nullptr;  // no imgui.ini is read or written
      io.LogFilename = nullptr;
      theme::apply(ImGui::GetStyle());
      if (previous) ImGui::SetCurrentContext(previous);
    }

    ensureConfigFolder();
    overlay::loadPanelSettings();
    // The panel's language, read at each start of the overlay like the other saved choices.
    overlay::storeLanguage(overlay::readSavedLanguage(configFilePath(L"ZorTabcastPlugin.ini")));
    keys::setCurrent(keys::readBindings(configFilePath(L"ZorTabcastPlugin.ini")));

    if (!firstRunLoaded_) {
      setupCompleted_ = overlay::readSetupCompleted();
      h.wizardVisible.store(false);
      wizardStep_ = 0;
      firstRunLoaded_ = true;
    }

    bool backends = false;
    {
      std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
      ImGui::SetCurrentContext(context_);
      if (rendererCanRun(device, context) && startPlatform(window)) {
        backends = ImGui_ImplDX11_Init(device, context);
        if (!backends) ImGui_ImplWin32_Shutdown();
        rendererDevice_ = backends ? device : nullptr;
        platformReady_ = backends;
      }
      if (!backends) {
        ImGui::DestroyContext(context_);
        context_ = nullptr;
      }
    }
    if (!backends) {
      logWarning(kInitFailed);
      return false;
    }

    overlay::subclassGameWindow(window);
    InputLockHooks hooks;
    if (acquireHookEngine(HookOwner::Overlay) == MH_OK) {
      holdsHookLease_ = true;
      hooks = installInputLockHooks();
    }
    previousToggleKey_ = 0;
    toggleKey_ = keys::current(keys::Action::Panel).key;
    previousLeftButton_ = previousRightButton_ = false;
    platformRetry_ = false;
    h.shortcutsOff.store(false, std::memory_order_release);
    h.initialized.store(true, std::memory_order_release);
    if (hooks.complete()) {
      logInfo("V4.5.4 SMART CAMERA RETURN: recuperacion solo tras salida confirmada del GPS.");
    } else {
      logInfo("V0.2.1 INPUT LOCK: panel activo, pero algun hook de entrada no pudo instalarse.");
    }
    return true;
  } catch (...) {
    logWarning(kInitFailed);
    return false;
  }
}

void ConfigOverlay::setVisible(bool visible) {
  overlay::Host& h = overlay::host();
  h.panelVisible.store(visible, std::memory_order_release);
  h.wizardVisible.store(visible && !setupCompleted_);
  setInputLocked(visible);
  {
    // The panel draws its own cursor while shown (the game may hide the system's).
    std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
    if (context_) {
      ImGui::SetCurrentContext(context_);
      ImGui::GetIO().MouseDrawCursor = visible;
    }
  }
  if (!visible) {
    overlay::stopWaitingForKeys();
    typingInPanel_ = false;
  }
  if (visible) {
    justShown_ = true;
    ClipCursor(nullptr);
    ReleaseCapture();
  }
}

void ConfigOverlay::sampleToggle() {
  // The panel key is sampled every frame, so a release that came while its modifiers were
  // already up is seen and the next press toggles again, however quickly the keys go down
  // together. A key just chosen (it may still be held from choosing it) counts from its next
  // press.
  const keys::Binding panel = keys::current(keys::Action::Panel);
  if (!panel.bound()) return;
  const SHORT state = keyState(panel.key);
  const bool rising = isDown(state) && !isDown(previousToggleKey_) && panel.key == toggleKey_;
  previousToggleKey_ = state;
  toggleKey_ = panel.key;
  if (!rising || overlay::waitingForKeys()) return;
  // A panel key without Ctrl or Alt is a character in the panel's text fields.
  if (typingInPanel_ && !(panel.modifiers & (keys::kCtrl | keys::kAlt))) return;
  // The chosen modifiers must be held; more may be, unless the combination held is another
  // action's key.
  const uint8_t held = keys::heldModifiers(keyState);
  if ((held & panel.modifiers) != panel.modifiers) return;
  const std::optional<keys::Action> other = keys::actionOf({panel.key, held});
  if (other && *other != keys::Action::Panel) return;
  setVisible(!overlay::host().panelVisible.load());
}

void ConfigOverlay::pollMouse() {
  ImGuiIO& io = ImGui::GetIO();
  POINT p;
  const HWND window = overlay::host().gameWindow.load();
  if (GetCursorPos(&p) && ScreenToClient(window, &p)) {
    io.AddMousePosEvent(static_cast<float>(p.x), static_cast<float>(p.y));
  }
  const bool left = isDown(keyState(VK_LBUTTON));
  const bool right = isDown(keyState(VK_RBUTTON));
  if (left != previousLeftButton_) io.AddMouseButtonEvent(0, left);
  if (right != previousRightButton_) io.AddMouseButtonEvent(1, right);
  previousLeftButton_ = left;
  previousRightButton_ = right;
}

void ConfigOverlay::renderFrame(IDXGISwapChain* swapChain) {
  overlay::Host& h = overlay::host();
  if (!h.initialized.load(std::memory_order_acquire) || !swapChain) return;
  try {
    if (!platformReady_) {
      if (!platformRetry_) return;
      retryPlatform();
      if (!platformReady_) return;
    }
    sampleToggle();
    keepWindowProcedure();
    overlay::panelFrameWork();
    if (!h.panelVisible.load(std::memory_order_acquire)) return;

    ClipCursor(nullptr);
    ReleaseCapture();
    overlay::seedPanelOnce();

    // The back buffer and its view are held for this frame only: a reference kept past the
    // Present would make the game's ResizeBuffers fail.
    ComRef<ID3D11Texture2D> backBuffer;
    if (FAILED(swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(backBuffer.put()))) ||
        !backBuffer) {
      return;
    }
    ComRef<ID3D11Device> device;
    backBuffer->GetDevice(device.put());
    ComRef<ID3D11RenderTargetView> view;
    if (!device || FAILED(device->CreateRenderTargetView(backBuffer.get(), nullptr, view.put())) || !view) return;
    ComRef<ID3D11DeviceContext> immediate;
    device->GetImmediateContext(immediate.put());
    if (!immediate || !followDevice(device.get(), immediate.get())) return;

    {
      std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
      ImGui::SetCurrentContext(context_);
      if (justShown_) {
        // Whatever ImGui knew of keys and buttons is from the last time the panel was shown.
        ImGuiIO& io = ImGui::GetIO();
        io.ClearEventsQueue();
        io.ClearInputKeys();
        previousLeftButton_ = previousRightButton_ = false;
        justShown_ = false;
      }
      ImGui_ImplDX11_NewFrame();
      ImGui_ImplWin32_NewFrame();
      pollMouse();
      ImGui::NewFrame();
    }
    overlay::beginFrameRecord();
    drawFrameContents();
    overlay::endFrameRecord();
    ImGui::Render();
    typingInPanel_ = ImGui::GetIO().WantTextInput;

    const SavedPipelineState gameState(immediate.get());
    ID3D11RenderTargetView* target = view.get();
    immediate->OMSetRenderTargets(1, &target, nullptr);
    ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
    panelDrawn();
  } catch (...) {
    // The game's Present runs whatever happened here.
  }
}

void ConfigOverlay::keepWindowProcedure() {
  switch (overlay::keepInWindowChain(overlay::host().gameWindow.load(std::memory_order_relaxed))) {
    case overlay::ChainCheck::Rejoined:
      logWarning("V3.0.0: otro modulo restauro un procedimiento de ventana anterior al panel; "
                 "el panel volvio a ponerse delante para recibir su entrada.");
      break;
    case overlay::ChainCheck::GaveUp:
      logWarning("V3.0.0: otro modulo vuelve a ponerse delante del procedimiento de ventana del panel sin "
                 "responderle; el panel se queda detras de el y no lo reemplaza mas.");
      break;
    case overlay::ChainCheck::Lost:
      logWarning("V3.0.0: otro modulo saco el procedimiento de ventana del panel y no pudo ponerse de nuevo; "
                 "el panel no recibira teclas ni clics del juego.");
      break;
    default:
      break;
  }
}

// The game made a new device (its graphics settings changed): ImGui's renderer lets go of the old
// one (its buffers, shaders and font texture with it) and starts again on the new one.
void ConfigOverlay::retryPlatform() {
  overlay::Host& h = overlay::host();
  const HWND window = h.gameWindow.load();
  {
    std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
    ImGui::SetCurrentContext(context_);
    platformReady_ = window && IsWindow(window) && startPlatform(window);
  }
  if (!platformReady_) return;
  platformRetry_ = false;
  logInfo("V3.0.0: el panel se inicio en la ventana nueva del juego; Ctrl+F8 lo abre.");
}

bool ConfigOverlay::followDevice(ID3D11Device* device, ID3D11DeviceContext* immediate) {
  if (device == rendererDevice_) return true;
  if (device == refusedDevice_) return false;
  std::lock_guard<std::recursive_mutex> lock(overlay::host().imguiMutex);
  ImGui::SetCurrentContext(context_);
  if (rendererDevice_) ImGui_ImplDX11_Shutdown();
  rendererDevice_ = rendererCanRun(device, immediate) && ImGui_ImplDX11_Init(device, immediate) ? device : nullptr;
  if (!rendererDevice_) {
    refusedDevice_ = device;
    logWarning("V3.0.0: el juego cambio de dispositivo grafico y el panel no pudo iniciarse en el nuevo.");
  }
  return rendererDevice_ != nullptr;
}

void ConfigOverlay::followGameDevice(ID3D11Device* device, ID3D11DeviceContext* immediate) {
  if (!overlay::host().initialized.load(std::memory_order_acquire) || !device || !immediate) return;
  try {
    // The graphics core adopted this device now: whatever was refused before it at its address
    // was another device.
    refusedDevice_ = nullptr;
    followDevice(device, immediate);
  } catch (...) {
    // Nothing leaves here: the panel is then not drawn until a device takes it.
  }
}

void ConfigOverlay::releaseRenderer() {
  // The device the core lets go of may be released and another made at its address.
  refusedDevice_ = nullptr;
  if (!overlay::host().initialized.load(std::memory_order_acquire) || !rendererDevice_) return;
  std::lock_guard<std::recursive_mutex> lock(overlay::host().imguiMutex);
  ImGui::SetCurrentContext(context_);
  ImGui_ImplDX11_Shutdown();
  rendererDevice_ = nullptr;
}

void ConfigOverlay::followGameWindow(HWND window) {
  overlay::Host& h = overlay::host();
  if (!h.initialized.load(std::memory_order_acquire) || !window) return;
  const HWND old = h.gameWindow.load();
  if (window == old) return;
  try {
    // The player meets the game's new window with its mouse free; Ctrl+F8 opens the panel on it.
    if (h.panelVisible.load()) setVisible(false);
    overlay::unsubclassGameWindow(old);  // a window that is gone is only forgotten
    {
      std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
      ImGui::SetCurrentContext(context_);
      if (platformReady_) ImGui_ImplWin32_Shutdown();
      platformReady_ = startPlatform(window);
      platformRetry_ = !platformReady_;
      h.gameWindow.store(window);
    }
    if (!platformReady_) {
      logWarning("V3.0.0: el juego creo una ventana nueva y el panel no pudo iniciarse en ella todavia; "
                 "se reintenta en los cuadros siguientes.");
    }
    if (!overlay::subclassGameWindow(window)) {
      logWarning("V3.0.0: el panel no pudo ponerse en la ventana nueva del juego; no recibira teclas ni clics.");
    }
  } catch (...) {
    // Nothing leaves here: the panel is then not drawn on the new window.
  }
}

void ConfigOverlay::drawFrameContents() {
  overlay::Host& h = overlay::host();
  if (h.wizardVisible.load()) {
    if (overlay::drawWizard(wizardStep_, setupCompleted_)) h.wizardVisible.store(false);  // finished
  } else {
    overlay::drawPanel();
  }
}

void ConfigOverlay::releaseInput() {
  overlay::Host& h = overlay::host();
  h.shortcutsOff.store(true, std::memory_order_release);
  const bool wasVisible = h.panelVisible.exchange(false);
  h.wizardVisible.store(false);
  setInputLocked(false);
  if (wasVisible) {
    ClipCursor(nullptr);
    const HWND window = h.gameWindow.load();
    if (window && GetCapture() == window) ReleaseCapture();
  }
}

void ConfigOverlay::shutdown() {
  overlay::Host& h = overlay::host();
  // At process exit the other threads are gone and the loader lock is held: nothing may wait
  // and nothing another thread may have held is touched; the system takes it all back.
  if (process::ending()) return;
  if (!h.initialized.exchange(false)) return;
  // Every wait of this shut-down ends by one deadline (the graphics core's, when it runs this).
  detour::ShutdownWindow drainWindow;
  try {
    const bool wasVisible = h.panelVisible.exchange(false);
    h.wizardVisible.store(false);
    setInputLocked(false);
    const HWND window = h.gameWindow.load();

    // The window procedure first: the game window's messages go straight to the game again.
    leftInChain_ = false;
    if (overlay::unsubclassGameWindow(window) == overlay::Unsubclass::LeftInChain) {
      // Another module put its procedure on top of ours and still calls ours: restoring the old
      // one would cut it out of the chain, and unloading would leave it calling freed code.
      leftInChain_ = true;
      const bool pinned = overlay::pinOverlayModule();
      logWarning(pinned ? "V3.0.0: otro modulo reemplazo el procedimiento de ventana del juego despues del panel; "
                          "la cadena se conserva y el plugin queda cargado hasta el cierre del juego."
                        : "V3.0.0: otro modulo reemplazo el procedimiento de ventana del juego despues del panel; "
                          "la cadena se conserva, pero el plugin no pudo quedar cargado.");
    }

    // Then the input hooks: off, nobody inside, removed, and the lease back. A thread still inside
    // when this shut-down's time is up returns through their trampolines: the hooks stay off but in
    // place, the lease stays, the code stays mapped, and the next start switches them on again.
    disableInputLockHooks();
    if (!detour::waitUntilIdle(detour::Drain::Graphics, drainWindow.deadlineNs())) {
      detour::pinOwnModule();
      logWarning("V3.0.0: un hilo seguia dentro del panel o de un hook de entrada al agotarse la espera de cierre; "
                 "los hooks de entrada quedan desactivados y el plugin queda cargado.");
    } else {
      removeInputLockHooks();
      if (holdsHookLease_) {
        holdsHookLease_ = false;
        releaseHookEngine(HookOwner::Overlay, drainWindow.deadlineNs());
      }
    }

    {
      std::lock_guard<std::recursive_mutex> lock(h.imguiMutex);
      if (context_) {
        ImGui::SetCurrentContext(context_);
        if (rendererDevice_) ImGui_ImplDX11_Shutdown();
        rendererDevice_ = refusedDevice_ = nullptr;
        if (platformReady_) ImGui_ImplWin32_Shutdown();
        platformReady_ = platformRetry_ = false;
        ImGui::DestroyContext(context_);
        context_ = nullptr;
      }
    }
    if (wasVisible) {
      // Nothing of the panel's hold on the mouse survives it.
      ClipCursor(nullptr);
      if (window && GetCapture() == window) ReleaseCapture();
    }

    overlay::resetPanelForShutdown();
    firstRunLoaded_ = false;
    wizardStep_ = 0;
    justShown_ = false;
    h.gameWindow.store(nullptr);
  } catch (...) {
    // Nothing leaves shut-down.
  }
}

}  // namespace zor
