#include "dx11/Dx11Core.h"

#include <string>

#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/Logger.h"
#include "core/ComRef.h"
#include "core/DetourGuard.h"
#include "core/HookApi.h"
#include "core/ProcessExit.h"
#include "gps/Calibration.h"
#include "gps/GpsTextureReplacer.h"
#include "media/PanelState.h"
#include "overlay/ConfigOverlay.h"

namespace zor {

Dx11Core::Dx11Core() : state_(&zor::gameState()) {
  existing_ = this;
  // Singletons that shut-down uses are created first, so they are destroyed after this one.
  Logger::instance();
  GpsTextureReplacer::instance();
  ConfigOverlay::instance();
  PanelState::instance();
}

Dx11Core::~Dx11Core() {
  if (process::ending()) {
    // The process is ending: its other threads are gone, nothing is waited for or released.
    if (bootstrapThread_.joinable()) bootstrapThread_.detach();
    return;
  }
  shutdown();
}

void Dx11Core::resetForStart() {
  stopRequested_.store(false);
  hooksInstalled_.store(false);
  minHookReady_.store(false);
  firstPresentSeen_.store(false);
  contextAcquired_.store(false);
  contextAcquisitionStarted_.store(false);
  uploadedThisFrame_.store(false);
  hooksClosing_.store(false);
  gpsSizePending_.store(false);
  redViewPending_.store(false);
  gpsReady_.store(false);

  frameCounter_.store(0);
  for (auto& f : installed_) f.store(false);
  firstPixelShaderSeen_.store(false);
  firstPSSetShaderResourcesSeen_.store(false);
  firstCreateTexture2DSeen_.store(false);
  firstCreateShaderResourceViewSeen_.store(false);
  firstIASetIndexBufferSeen_.store(false);
  for (auto& t : trampolines_) t.store(nullptr);
  drawIndexedCreated_.store(false);
  drawIndexedEnabled_.store(false);
  followCandidate_ = nullptr;
  followCandidateFrames_ = 0;
  expectedDevice_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(hookWatchMutex_);
    patchToldOf_.fill(0);
  }
  {
    std::lock_guard<std::mutex> lock(playbackMutex_);
    device_ = nullptr;  // empty at this point: shut-down released them
    context_ = nullptr;
    contextPeek_.store(nullptr);
    devicePeek_.store(nullptr);
    adoptedWindow_ = nullptr;
  }
  resetIdentificationAndFlags();
}

void Dx11Core::resetIdentificationAndFlags() {
  currentPixelShader_.store(nullptr);
  currentIndexBuffer_.store(nullptr);
  tabletMeshIndexBuffer_.store(nullptr);
  ident_.resetAll();
  cameraReturnInProgress_.store(false);
  lastCameraReturnTick_.store(0);
  gpsOffscreen_.store(false);
  playback_.active.store(false);
  state_->stateTick.store(0);
  // The dashboard resource lives in the replacer, which a shut-down closes: each run prepares
  // its own.
  resourceProfileId_.store(0);
  state_->preparedProfileId.store(0);
}

bool Dx11Core::initialize() {
  if (initialized_.exchange(true)) return true;
  try {
    if (!finishStrandedShutdown()) {
      initialized_.store(false);
      logError(
          "DX11 Core: un hilo del juego sigue dentro de un hook del plugin desde el apagado anterior; el motor grafico "
          "no puede iniciarse todavia.");
      return false;
    }
    if (bootstrapThread_.joinable()) bootstrapThread_.join();
    resetForStart();
    ensureConfigFolder();
    settingsPath_ = configFilePath(L"ZorTabcastPlugin.ini");
    config_ = loadPluginConfig(settingsPath_);
    storeCalibrationMode(config_.calibrationMode);
    logInfo(configurationLine(config_));
    bootstrapRunning_.store(true);
    bootstrapThread_ = std::thread([this] {
      bootstrap();
      bootstrapRunning_.store(false);
    });
  } catch (...) {
    bootstrapRunning_.store(false);
    initialized_.store(false);
    logError("DX11 Core V1.4.0 no pudo crear el hilo de inicializacion del hook Present.");
    return false;
  }
  logInfo("DX11 Core V4.5.4 Fixed SRV iniciado. Diagnóstico intensivo desactivado en producción.");
  return true;
}

void Dx11Core::releaseDeviceAndContext() {
  contextPeek_.store(nullptr);
  devicePeek_.store(nullptr);
  adoptedWindow_ = nullptr;
  screenSlotHint_.store(nullptr);
  releaseAndClear(context_);
  unmarkDevice(device_);
  releaseAndClear(device_);
}

void Dx11Core::logDrainTimeout() {
  logWarning(
      "[Dx11Core] Apagado: un hilo del juego seguia dentro de un hook del plugin al agotarse la espera; los hooks "
      "quedan desactivados y el codigo del plugin y lo que ese hilo usa se conservan en memoria.");
}

bool Dx11Core::waitForDetours(uint64_t deadlineNs) {
  return detour::waitUntilIdle(detour::Drain::Graphics, deadlineNs);
}

void Dx11Core::shutdown() {
  if (!initialized_.exchange(false)) return;
  // Every wait of this shut-down together ends by one deadline.
  detour::ShutdownWindow window;
  try {
    {
      std::lock_guard<std::mutex> lock(bootstrapMutex_);
      stopRequested_.store(true);
    }
    bootstrapWake_.notify_all();
    if (bootstrapThread_.joinable()) bootstrapThread_.join();

    // What capture mapped through the game's immediate context is unmapped on the render thread
    // (its next Present) while the hooks are still in.
    if (GetCurrentThreadId() == renderThread_.load(std::memory_order_relaxed)) {
      detour::OwnCallsScope own;
      WindowCapture::instance().releaseBeforeHooksGo(window.deadlineNs(), true);
    } else {
      WindowCapture::instance().releaseBeforeHooksGo(window.deadlineNs(), false);
    }
    removeHooks();
    if (hooksStranded_.load()) {
      // A game thread is still inside one of our detours and may use anything of ours on its
      // way out: the hooks stay off but in place, nothing is released, the code stays mapped.
      // The next start finishes the job once the thread has left.
      detour::pinOwnModule();
      logDrainTimeout();
      // Whatever stays in place, the panel's hold on the game's input does not.
      ConfigOverlay::instance().releaseInput();
      return;
    }
    releaseAfterHooks();
  } catch (...) {
    // Nothing leaves shut-down; what could not be done is left as it is.
  }
  logInfo("Motor grafico detenido correctamente; recursos GPU liberados.");
}

void Dx11Core::releaseAfterHooks() {
  {
    std::lock_guard<std::mutex> lock(playbackMutex_);
    GpsTextureReplacer::instance().releaseRedTestTexture();
    releaseDeviceAndContext();
    contextAcquired_.store(false);
    contextAcquisitionStarted_.store(false);
    gpsReady_.store(false);
    // Nothing may resume a capture of the old run after a restart.
    playback_.active.store(false);
    playback_.resumePending.store(false);
    playback_.resumeScheduled = false;
    playback_.title.clear();
  }

  ConfigOverlay::instance().shutdown();
  WindowCapture::instance().shutdown();
  GpsTextureReplacer::instance().close();

  resetIdentificationAndFlags();

  if (minHookReady_.exchange(false)) {
    // The engine goes with the last lease; a thread still inside any detour of ours (the
    // texture-queue redirector's included) is let out first, or the engine stays.
    const HookEngineRelease released = releaseHookEngine(HookOwner::Graphics);
    if (!released.drained) logDrainTimeout();
    if (released.status != MH_OK && released.status != MH_ERROR_NOT_INITIALIZED) {
      logWarning(std::string("V1.1.0: MH_Uninitialize devolvio ") + hookStatusText(released.status));
    }
  }

  for (auto& t : targets_) t.store(nullptr);
}

bool Dx11Core::finishStrandedShutdown() {
  if (!hooksStranded_.load()) return true;
  if (detour::threadsInside(detour::Drain::Graphics) != 0) return false;
  removeDisabledHooks();
  hooksStranded_.store(false);
  releaseAfterHooks();
  return true;
}

void Dx11Core::restartGpsIdentification() {
  try {
    ident_.gpsLocked.store(false);
    ident_.gpsInUse.store(false);
    ident_.lastGpsUseTick.store(0);
    ident_.gpsShaderFixed.store(false);
    ident_.gpsPixelShader.store(nullptr);
    ident_.srvUsedLogged.store(false);
    ident_.lockTick.store(0);
    tabletMeshIndexBuffer_.store(nullptr);
    ident_.registeredViews.clear();  // before the replacer lets go of the views
    GpsTextureReplacer::instance().releaseTracked();
    ident_.rearmSearch(clock::steadyNs());
    logInfo("Reidentificacion manual del GPS iniciada.");
  } catch (...) {
  }
}

}  // namespace zor
