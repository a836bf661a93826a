#include "overlay/ConfigOverlay.h"

#include <imgui.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>

#include <atomic>
#include <mutex>

#include "core/ComRef.h"
#include "core/DetourGuard.h"
#include "core/HookApi.h"
#include "core/Logger.h"
#include "core/PluginConfig.h"
#include "overlay/FirstRunWizard.h"
#include "overlay/FrameRecord.h"
#include "overlay/OverlayHost.h"
#include "overlay/Panel.h"
#include "overlay/Theme.h"

namespace zor {
namespace {

std::atomic<ConfigOverlay::KeyStateFn> g_keyState{nullptr};

SHORT keyState(int virtualKey) noexcept {
  const ConfigOverlay::KeyStateFn source = g_keyState.load(std::memory_order_acquire);
  return source ? source(virtualKey) : GetAsyncKeyState(virtualKey);
}
bool isDown(SHORT state) noexcept { return (state & 0x8000) != 0; }

// Polls of about 1 ms that shut-down waits for a thread still inside the window procedure or
// an input detour.

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
      if (ImGui_ImplWin32_Init(window)) {
        backends = ImGui_ImplDX11_Init(device, context);
        if (!backends) ImGui_ImplWin32_Shutdown();
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
    previousF8_ = 0;
    previousLeftButton_ = previousRightButton_ = false;
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
  if (visible) {
    justShown_ = true;
    ClipCursor(nullptr);
    ReleaseCapture();
  }
}

void ConfigOverlay::sampleToggle() {
  // F8 is sampled every frame, so a release that came while Ctrl was already up is seen and
  // the next Ctrl+F8 toggles again, however quickly both keys go down together.
  const SHORT f8 = keyState(VK_F8);
  const bool rising = isDown(f8) && !isDown(previousF8_);
  previousF8_ = f8;
  if (rising && isDown(keyState(VK_CONTROL))) setVisible(!overlay::host().panelVisible.load());
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
    sampleToggle();
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

    ComRef<ID3D11DeviceContext> immediate;
    device->GetImmediateContext(immediate.put());
    if (!immediate) return;
    ID3D11RenderTargetView* target = view.get();
    immediate->OMSetRenderTargets(1, &target, nullptr);
    ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
  } catch (...) {
    // The game's Present runs whatever happened here.
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

void ConfigOverlay::shutdown() {
  overlay::Host& h = overlay::host();
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
        ImGui_ImplDX11_Shutdown();
        ImGui_ImplWin32_Shutdown();
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
