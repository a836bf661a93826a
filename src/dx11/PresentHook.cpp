// The Present detour: adopts the game's device at the first frame and runs the per-frame
// pipeline before the game's own Present.
#include <windows.h>

#include <string>

#include "capture/FrameUpload.h"
#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/Logger.h"
#include "core/ComRef.h"
#include "core/DetourGuard.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "gps/Calibration.h"
#include "gps/GpsTextureReplacer.h"
#include "media/PanelState.h"
#include "overlay/ConfigOverlay.h"

namespace zor {

namespace {
constexpr uint64_t kResumeDelayNs = 100'000'000ull;
constexpr uint64_t kResumeRetryNs = 2'000'000'000ull;
constexpr uint64_t kCameraCheckMs = 100;
constexpr uint64_t kCameraGpsQuietMs = 450;
constexpr uint64_t kCameraReturnSpacingMs = 800;
constexpr uint64_t kVisibleWithinMs = 550;
constexpr uint64_t kLegacyFirstDelayNs = 5'000'000'001ull;
constexpr uint64_t kLegacyIntervalNs = 1'000'000'001ull;
}  // namespace

HRESULT STDMETHODCALLTYPE detours::present(IDXGISwapChain* swapChain, UINT syncInterval, UINT flags) {
  detour::Scope scope;
  Dx11Core& core = Dx11Core::instance();
  if (scope.nested()) {
    auto fn = reinterpret_cast<PresentFn>(core.trampoline(Hook::Present));
    return fn ? fn(swapChain, syncInterval, flags) : S_OK;
  }
  return core.onPresent(swapChain, syncInterval, flags);
}

HRESULT Dx11Core::onPresent(IDXGISwapChain* swapChain, UINT syncInterval, UINT flags) {
  auto forward = [&]() -> HRESULT {
    auto fn = reinterpret_cast<PresentFn>(trampoline(Hook::Present));
    if (!fn) return S_OK;
    // What the game's Present calls (another program's overlay drawing, say) is the game's.
    detour::GameCallScope game;
    return fn(swapChain, syncInterval, flags);
  };
  // A test presentation shows nothing: no frame, no pipeline, no overlay.
  if (flags & DXGI_PRESENT_TEST) return forward();

  frameCounter_.fetch_add(1, std::memory_order_relaxed);
  if (!firstPresentSeen_.load(std::memory_order_relaxed) && !firstPresentSeen_.exchange(true)) {
    logInfo(
        "V1.1.0: primera llamada de Present interceptada correctamente. Iniciando adquisicion unica del contexto "
        "DirectX real de ATS.");
  }
  try {
    if (!contextAcquired_.load(std::memory_order_acquire) && !contextAcquisitionStarted_.exchange(true)) {
      if (!acquireContext(swapChain)) contextAcquisitionStarted_.store(false);
    }
    // A frame of a device the plugin does not follow (yet) is the game's alone.
    bool ours = true;
    if (contextAcquired_.load(std::memory_order_acquire) && (ours = followGameDevice(swapChain))) {
      renderThread_.store(GetCurrentThreadId(), std::memory_order_relaxed);
      WindowCapture::instance().renderThreadTurn();
      // The frame that ends here: whether a bind of the GPS screen already uploaded in it.
      const bool uploadedAtBind = uploadedThisFrame_.exchange(false, std::memory_order_relaxed);
      prepareDeferredGpsSize();
      prepareDeferredRedView();
      prepareDashboardResource();
      updateDrawIndexedHook();
      handlePauseEdge();
      const bool driving = state_->pauseKnown.load() ? !state_->paused.load() : true;
      handleCameraReturn(driving);
      handleLegacyAutoLock();
      handleIgnitionEdge();
      handleEngineAndResume();
      handleStartRequest();
      handleStopRequest();
      // Calibration switched back on in the panel: the test pattern replaces the last picture.
      if (takePatternRestore()) GpsTextureReplacer::instance().restoreTestPatterns();
      if (driving && playback_.active.load(std::memory_order_acquire)) {
        if (!calibrationMode()) {
          handleUploadAndVisibility(uploadedAtBind);
        } else {
          prepareCapturedFrames(playbackTarget() == kTargetDashboard);  // ready for calibration's end
        }
      }
    }
    if (ours) ConfigOverlay::instance().renderFrame(swapChain);
  } catch (...) {
    // The game's Present runs whatever happened above.
  }
  return forward();
}

void Dx11Core::handlePauseEdge() {
  GameState& s = *state_;
  if (!s.pauseKnown.load()) return;
  const bool paused = s.paused.load();
  if (paused == s.lastSeenPaused.load()) return;
  s.lastSeenPaused.store(paused);
  WindowCapture::instance().setPaused(paused);
  const uint64_t t = clock::tickMs();
  stateCheckTick_.store(t);
  ident_.lastGpsUseTick.store(t);
  gpsOffscreen_.store(false);
  cameraReturnInProgress_.store(false);
  if (playback_.active.load()) {
    logInfo(paused ? "ATS en pausa/carga: captura multimedia conservada en espera."
                   : "Conduccion reanudada: captura multimedia activa nuevamente.");
  } else {
    logInfo(paused ? "ATS en pausa/carga: GPS en espera." : "Conduccion reanudada: GPS listo.");
  }
}

void Dx11Core::handleCameraReturn(bool driving) {
  const uint64_t t = clock::tickMs();
  const uint64_t lastCheck = stateCheckTick_.load();
  if (t < lastCheck || t - lastCheck < kCameraCheckMs) return;
  stateCheckTick_.store(t);

  if (!driving || playbackTarget() != kTargetTablet || !playback_.active.load()) return;
  if (!ident_.gpsInUse.load() || ident_.gpsSearchActive.load()) return;
  const uint64_t lastUse = ident_.lastGpsUseTick.load();
  if (lastUse == 0 || t < lastUse || t - lastUse < kCameraGpsQuietMs) return;
  const uint64_t lastReturn = lastCameraReturnTick_.load();
  if (lastReturn != 0 && (t < lastReturn || t - lastReturn < kCameraReturnSpacingMs)) return;
  if (!gpsOffscreen_.load()) return;
  if (!WindowCapture::instance().hasWindow()) return;
  if (cameraReturnInProgress_.exchange(true)) return;

  ident_.rearmSearch(clock::steadyNs());
  lastCameraReturnTick_.store(t);
  cameraReturnInProgress_.store(false);
  gpsOffscreen_.store(false);
  logInfo(
      "V4.5.7 FAST SAFE CAMERA RETURN: salida confirmada; estado SRV obsoleto limpiado y busqueda GPS reactivada.");
}

void Dx11Core::handleLegacyAutoLock() {
  if (!config_.legacyAutoLock || ident_.gpsShaderFixed.load()) return;
  const uint64_t n = clock::steadyNs();
  const uint64_t ready = contextReadyTime_.load();
  const uint64_t last = lastShaderAnalysis_.load();
  if (n < ready || n - ready < kLegacyFirstDelayNs) return;
  if (n >= last && n - last < kLegacyIntervalNs) return;
  lastShaderAnalysis_.store(n);
  runShaderGroupAnalysis();
}

void Dx11Core::handleIgnitionEdge() {
  GameState& s = *state_;
  if (!s.electricKnown.load()) return;
  const bool on = s.electricEnabled.load();
  if (on == s.lastSeenElectric.load()) return;
  s.lastSeenElectric.store(on);
  if (on) {
    logInfo("Contacto encendido: GPS disponible; esperando motor para reanudar multimedia.");
    const bool engineOk = !s.engineKnown.load() || s.engineEnabled.load();
    if (engineOk && playback_.resumePending.load() && !playback_.title.empty()) {
      playback_.resumeScheduled = true;
      playback_.resumeDue = clock::steadyNs() + kResumeDelayNs;
    }
    return;
  }
  std::lock_guard<std::mutex> lock(playbackMutex_);
  const bool active = playback_.active.load();
  if (active) playback_.resumePending.store(true);
  playback_.resumeScheduled = false;
  if (active) {
    WindowCapture::instance().deactivate();
    playback_.active.store(false);
  }
  logInfo("Contacto apagado: GPS sin captura y alimentacion multimedia suspendida.");
}

void Dx11Core::handleEngineAndResume() {
  GameState& s = *state_;
  const bool engineKnown = s.engineKnown.load();
  if (engineKnown) {
    const bool on = s.engineEnabled.load();
    if (on != s.lastSeenEngine.load()) {
      s.lastSeenEngine.store(on);
      if (!on) {
        std::lock_guard<std::mutex> lock(playbackMutex_);
        if (playback_.active.load()) {
          playback_.resumePending.store(true);
          playback_.resumeScheduled = false;
          WindowCapture::instance().deactivate();
          playback_.active.store(false);
          logInfo("Motor apagado: GPS original y captura suspendida.");
        } else {
          playback_.resumeScheduled = false;
        }
      } else {
        const bool ignitionOk = !s.electricKnown.load() || s.electricEnabled.load();
        if (playback_.resumePending.load() && !playback_.title.empty() && ignitionOk) {
          playback_.resumeScheduled = true;
          playback_.resumeDue = clock::steadyNs() + kResumeDelayNs;
          logInfo("Motor encendido: preparando reanudacion automatica del GPS.");
        }
      }
    }
  }

  // The scheduled resume also runs while the engine is unknown (it counts as on): a resume
  // scheduled at an ignition-on edge must not wait for an engine value that never comes.
  if (!playback_.resumeScheduled || !s.lastSeenEngine.load()) return;
  if (s.electricKnown.load() && !s.electricEnabled.load()) return;
  const uint64_t now = clock::steadyNs();
  if (now < playback_.resumeDue) return;
  playback_.resumeScheduled = false;
  std::lock_guard<std::mutex> lock(playbackMutex_);
  if (!device_ || !context_ || playback_.title.empty()) return;
  const bool started = startCaptureLocked(playback_.title, playback_.fps);
  playback_.active.store(started);
  if (started) {
    playback_.resumePending.store(false);
    logInfo("Motor encendido: captura del GPS reanudada automaticamente.");
  } else {
    playback_.resumeScheduled = true;
    playback_.resumeDue = now + kResumeRetryNs;
    logWarning("Motor encendido: la captura aun no pudo reanudarse; se reintentara.");
  }
}

bool Dx11Core::startCaptureLocked(const std::wstring& title, uint32_t fps) {
  WindowCapture& capture = WindowCapture::instance();
  if (!capture.start(device_, context_, title, fps, config_.flipVertical, config_.cropLeft, config_.cropTop,
                     config_.cropWidth, config_.cropHeight)) {
    return false;
  }
  // A start clears the worker's pause; a game already paused (no edge to come) keeps it asleep.
  if (state_->pauseKnown.load() && state_->lastSeenPaused.load()) capture.setPaused(true);
  return true;
}

void Dx11Core::handleStartRequest() {
  PanelState& requests = PanelState::instance();
  if (!requests.startRequested.load()) return;
  StartRequest request;  // prefilled: 1280 x 720, 256 x 256, 30 fps
  if (!requests.takeStartRequest(request)) return;

  GameState& s = *state_;
  std::lock_guard<std::mutex> lock(playbackMutex_);
  s.stateTick.store(clock::tickMs());
  WindowCapture& capture = WindowCapture::instance();
  capture.deactivate();
  playback_.active.store(false);
  if (!device_ || !context_) return;  // only the old playback is stopped
  playback_.title = request.title;
  playback_.fps = request.fps;
  playback_.resumeScheduled = false;
  const bool gated = (s.electricKnown.load() && !s.electricEnabled.load()) ||
                     (s.engineKnown.load() && !s.engineEnabled.load());
  if (gated) {
    playback_.resumePending.store(true);
    playback_.active.store(false);
    logInfo("Reproduccion preparada; se iniciara automaticamente al encender contacto y motor.");
    return;
  }
  playback_.resumePending.store(false);
  const bool started = startCaptureLocked(request.title, request.fps);
  playback_.active.store(started);
  if (started) {
    logInfo("Transmision al GPS iniciada.");
  } else {
    logWarning("No se pudo iniciar la transmision al GPS.");
  }
}

void Dx11Core::handleStopRequest() {
  PanelState& requests = PanelState::instance();
  if (!requests.restoreRequested.load()) return;
  requests.completeRestore();
  std::lock_guard<std::mutex> lock(playbackMutex_);
  WindowCapture::instance().deactivate();
  playback_.active.store(false);
  playback_.resumePending.store(false);
  playback_.resumeScheduled = false;
  playback_.title.clear();
  state_->stateTick.store(0);
  logInfo("GPS original restaurado; captura detenida.");
}

bool Dx11Core::uploadWanted(bool dashboard) const noexcept {
  if (calibrationMode() || !playback_.active.load(std::memory_order_relaxed)) return false;
  if (state_->pauseKnown.load(std::memory_order_relaxed) && state_->paused.load(std::memory_order_relaxed)) return false;
  if (!dashboard) return true;
  const uint32_t profile = state_->truckProfileId.load(std::memory_order_relaxed);
  return profile != 0 && profile == state_->preparedProfileId.load(std::memory_order_relaxed);
}

void Dx11Core::uploadAtBind(bool dashboard) {
  if (uploadedThisFrame_.load(std::memory_order_relaxed) || !uploadWanted(dashboard)) return;
  uploadedThisFrame_.store(true, std::memory_order_relaxed);
  uploadCapturedFrame(dashboard);
}

void Dx11Core::handleUploadAndVisibility(bool uploadedAtBind) {
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  const uint32_t target = playbackTarget();
  if (target == 1) {
    const uint32_t profile = state_->truckProfileId.load();
    if (profile == 0 || profile != state_->preparedProfileId.load()) return;
    if (!uploadedAtBind) uploadCapturedFrame(true);  // no bind this frame: the screen is out of view
  } else if (target == 0) {
    if (!uploadedAtBind) uploadCapturedFrame(false);
  } else {
    return;
  }
  const bool visible = replacer.replacedWithin(kVisibleWithinMs);
  const bool wasOffscreen = gpsOffscreen_.exchange(!visible);
  if (wasOffscreen && visible) {
    logInfo("V4.5.7 CAPTURE STABILITY: GPS visible; captura continua sin reinicio.");
  } else if (!wasOffscreen && !visible) {
    logInfo(
        "V4.5.7 CAPTURE STABILITY: GPS fuera de pantalla; captura mantenida activa y retorno de camara habilitado.");
  }
}

bool Dx11Core::acquireContext(IDXGISwapChain* swapChain) {
  if (!swapChain) {
    logError("V1.1.0: Present entrego un IDXGISwapChain nulo; no se pudo adquirir el contexto DirectX.");
    return false;
  }
  detour::OwnCallsScope own;
  DXGI_SWAP_CHAIN_DESC desc{};
  if (FAILED(swapChain->GetDesc(&desc))) return false;
  HWND window = desc.OutputWindow;
  // Never the swap chain of another process's window, nor one of this process that is no game
  // window (a launcher's, a splash screen's, a tool's small window presenting first): the game's
  // own would be refused while that one lives.
  if (!window || !IsWindow(window) || !isGameWindow(window, GetCurrentProcessId())) return false;

  ComRef<ID3D11Device> device;
  HRESULT hr = swapChain->GetDevice(__uuidof(ID3D11Device), reinterpret_cast<void**>(device.put()));
  if (FAILED(hr) || !device) {
    logError(
        "V1.1.0: IDXGISwapChain::GetDevice fallo; el hook continua llamando Present original sin modificar ATS.");
    return false;
  }
  ComRef<ID3D11DeviceContext> context;
  device->GetImmediateContext(context.put());
  if (!context) {
    logError("V1.1.0: ID3D11Device::GetImmediateContext no devolvio un contexto valido.");
    return false;
  }
  ComRef<ID3D11Texture2D> backBuffer;
  hr = swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(backBuffer.put()));
  if (FAILED(hr) || !backBuffer) {
    logError("V1.1.0: IDXGISwapChain::GetBuffer(0) fallo; no se creo RenderTargetView.");
    return false;
  }
  ComRef<ID3D11RenderTargetView> rtv;
  hr = device->CreateRenderTargetView(backBuffer.get(), nullptr, rtv.put());
  if (FAILED(hr) || !rtv) {
    logError("V1.1.0: CreateRenderTargetView fallo; no se modifico el backbuffer.");
    return false;
  }
  D3D11_TEXTURE2D_DESC bb{};
  backBuffer->GetDesc(&bb);

  ID3D11Device* dev = device.get();
  ID3D11DeviceContext* ctx = context.get();
  {
    std::lock_guard<std::mutex> lock(playbackMutex_);
    device_ = device.detach();
    context_ = context.detach();
    contextPeek_.store(context_);
    devicePeek_.store(device_);
    adoptedWindow_ = window;
    screenSlotHint_.store(nullptr);
    contextReadyTime_.store(clock::steadyNs());
    contextAcquired_.store(true, std::memory_order_release);
  }
  markAdoptedDevice(dev);

  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  if (!replacer.createRedTestTexture(dev)) {
    logWarning(
        "V1.4.0: el contexto DX11 fue adquirido, pero la textura GPU de prueba no pudo inicializarse. ATS continuara "
        "sin reemplazos.");
  }
  replacer.initialize();
  if (!replacer.attachDevice(dev)) logWarning("V1.7.0: GpsTextureReplacer::attachDevice fallo.");
  if (config_.gpsWidth != 0 && config_.gpsHeight != 0) {
    replacer.createForConfiguredSize(config_.gpsWidth, config_.gpsHeight);
  }
  // From here on what identification finds can be registered with the replacer. The bindings
  // made between the hooks landing and this first frame are not looked at: a tablet confirmed
  // then would be lost for good (it is never confirmed twice), the next frames find it.
  gpsReady_.store(true, std::memory_order_release);
  ConfigOverlay& overlay = ConfigOverlay::instance();
  if (window && !overlay.isInitialized()) {
    // The saved playback target, restored once per start of the panel, right before it starts
    // (the graphics core knows the settings file).
    if (!settingsPath_.empty()) setPlaybackTarget(readSavedPlaybackTarget(settingsPath_));
    overlay.initialize(window, dev, ctx);
  }

  char line[640];
  wsprintfA(line,
            "V1.1.0: contexto DirectX real adquirido correctamente. SwapChain=0x%p, Device=0x%p, Context=0x%p, "
            "BackBuffer=0x%p, RTV=0x%p, textura=%ux%u, formato=%u, muestras=%u, ventana=0x%p. No se dibujo ni se "
            "altero ningun pixel.",
            swapChain, dev, ctx, backBuffer.get(), rtv.get(), bb.Width, bb.Height, static_cast<unsigned>(bb.Format),
            bb.SampleDesc.Count, window);
  logInfo(line);
  return true;
}

}  // namespace zor
