// The capture engine: its operations for any thread, the worker's waits and wake-ups, and the
// worker loop (finding the window, pacing, the watchdog); the painting and the frame buffer are in
// GdiWindowPainting.cpp.
#include "capture/GdiWindowCapture.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "capture/BlackSamples.h"
#include "capture/WindowMatching.h"
#include "core/Clock.h"
#include "core/DetourGuard.h"
#include "core/FaultGuard.h"
#include "core/Logger.h"
#include "core/ProcessExit.h"

namespace zor {

namespace {

constexpr uint64_t kNsPerMs = 1'000'000ull;
constexpr uint64_t kSearchPeriodNs = 2'000'000'000ull;
constexpr uint64_t kSearchQuietNs = 1'999'999'999ull;  // a search at most this long ago waits
constexpr uint64_t kWatchdogPeriodNs = 1'000'000'000ull;
constexpr uint64_t kNoFrameNs = 4'000'000'000ull;
constexpr uint64_t kRestartSpacingNs = 7'999'999'999ull;  // restarts need more than this between them
constexpr uint64_t kRestartWarningPeriodNs = 600'000'000'000ull;  // 10 minutes
constexpr uint32_t kMaxFps = 30;

int64_t intervalForFps(uint32_t fps) {
  const uint32_t capped = fps == 0 ? kMaxFps : std::min(fps, kMaxFps);
  return 1000 / static_cast<int64_t>(capped);
}

uint64_t elapsedNs(std::chrono::steady_clock::time_point since) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - since).count());
}

}  // namespace

GdiWindowCapture& GdiWindowCapture::processEngine() noexcept {
  static GdiWindowCapture engine;
  return engine;
}

GdiWindowCapture::~GdiWindowCapture() {
  if (process::ending()) {
    // The worker is gone with the process's other threads; nothing is joined or released.
    if (thread_.joinable()) thread_.detach();
    ring_.forget();
    return;
  }
  shutdown();
}

// ---------------------------------------------------------------------------------------------
// Operations of any thread

bool GdiWindowCapture::start(ID3D11Device* device, ID3D11DeviceContext* context, const std::wstring& keyword,
                             uint32_t fps, bool flip, int32_t cropLeft, int32_t cropTop, int32_t cropWidth,
                             int32_t cropHeight) {
  if (active_.load(std::memory_order_acquire)) return true;
  if (!device || !context) return false;
  if (ring_.faulted(context)) return false;  // capture ended on this device (said when it faulted)
  HWND bound = nullptr;
  try {
    std::lock_guard<std::mutex> lock(stateMutex_);
    context_.store(context, std::memory_order_release);
    if (keyword_ != keyword) {
      keyword_ = keyword;
      ++targetRevision_;
    }
    flip_ = flip;
    cropLeft_ = cropLeft;
    cropTop_ = cropTop;
    cropWidth_ = cropWidth;
    cropHeight_ = cropHeight;
    intervalMs_ = intervalForFps(fps);
    bound = window_;
  } catch (...) {
    logError("[WindowCapture] No se pudo iniciar el hilo dedicado de captura.");
    return false;
  }
  if (!bound || !IsWindow(bound) || !IsWindowVisible(bound)) {
    bound = nullptr;
    logInfo("[WindowCapture] Perfil preparado; el trabajador buscara la ventana cada 2 segundos.");
  }
  if (!thread_.joinable() && !waitForWorkerExit(0)) {
    if (!strandedWarned_.exchange(true)) {
      logWarning(
          "[WindowCapture] El hilo de captura anterior sigue esperando a una ventana que no responde; "
          "la captura no puede iniciarse todavia.");
    }
    return false;
  }
  if (!thread_.joinable()) {
    strandedWarned_.store(false);
    stop_.store(false);
    setWorkerExited(false);
    try {
      thread_ = std::thread([this] { workerLoop(); });
    } catch (...) {
      setWorkerExited(true);
      logError("[WindowCapture] No se pudo iniciar el hilo dedicado de captura.");
      return false;
    }
  }
  paused_.store(false);
  {
    // A search that finished meanwhile stores its window only under the generation it began
    // with: bumped under the same lock, nothing overwrites this window.
    std::lock_guard<std::mutex> lock(stateMutex_);
    window_ = bound;
    bumpGeneration();
  }
  resetFrameBuffer();
  active_.store(true, std::memory_order_release);
  notifyWorker();
  logInfo("[WindowCapture] Captura iniciada en hilo dedicado; Present solo consume el ultimo frame publicado.");
  logInfo("Captura limitada a maximo 30 FPS; GenerateMips solo se ejecuta cuando existe un frame nuevo.");
  return true;
}

void GdiWindowCapture::deactivate() {
  active_.store(false, std::memory_order_release);
  bumpGeneration();
  resetFrameBuffer();
  notifyWorker();
}

void GdiWindowCapture::shutdown() {
  if (thread_.joinable() && workerThreadId_.load() == GetCurrentThreadId()) {
    logError(
        "[WindowCapture] WindowCapture::shutdown llamado desde el hilo de captura; rechazado "
        "(resource_deadlock_would_occur).");
    return;
  }
  active_.store(false, std::memory_order_release);
  bumpGeneration();
  resetFrameBuffer();
  notifyWorker();
  stop_.store(true, std::memory_order_release);
  notifyWorker();
  if (!thread_.joinable() && !waitForWorkerExit(0)) {
    // The worker an earlier shut-down had to leave is still inside a window that does not
    // answer: its surfaces are its own until it leaves (it releases them itself).
    letGoOfDevice();
    return;
  }
  if (thread_.joinable()) {
    // A window that stops answering holds the worker inside PrintWindow for as long as it hangs;
    // the game's shut-down waits for it no longer than for the hooks. The worker then ends by
    // itself (releasing its surfaces) once the window answers, and this code stays mapped for it.
    detour::ShutdownWindow drain;
    if (!waitForWorkerExit(drain.deadlineNs())) {
      thread_.detach();
      detour::pinOwnModule();
      letGoOfDevice();
      logWarning(
          "[WindowCapture] La ventana capturada no responde y el hilo de captura sigue esperandola al cerrar; "
          "el hilo terminara por si solo y el plugin queda cargado hasta entonces.");
      return;
    }
    thread_.join();
  }
  releaseSurfaces();
  resetFrameBuffer();
  letGoOfDevice();
}

// What the engine holds of the game's device goes, whether or not the worker has left: the
// render thread may be presenting meanwhile, so nothing calls into the context (the render
// thread's last turn unmapped what it could); a slot the worker still writes is dropped by it.
void GdiWindowCapture::letGoOfDevice() {
  ring_.drop();
  barsTexture_ = nullptr;
  context_.store(nullptr, std::memory_order_release);
  outputWidth_.store(0);
  outputHeight_.store(0);
}

void GdiWindowCapture::setPaused(bool paused) {
  if (paused_.exchange(paused) == paused) return;
  bumpGeneration();
  resetFrameBuffer();
  notifyWorker();
}

void GdiWindowCapture::setFps(uint32_t fps) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    intervalMs_ = intervalForFps(fps);
  }
  notifyWorker();
}

void GdiWindowCapture::setWindowKeyword(const std::wstring& keyword) {
  try {
    setWindowTarget(CaptureTarget{{}, keyword, {}});
  } catch (...) {
    // the old keyword stays
  }
}

void GdiWindowCapture::setWindowTarget(const CaptureTarget& target) {
  const HWND window = isChosenWindowAlive(target.chosen) ? target.chosen.window : nullptr;
  bool changed = false;
  try {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const bool searchChanged = keyword_ != target.keyword || program_ != target.program;
    changed = searchChanged || (window && window != window_);
    if (changed) {
      if (searchChanged) {
        keyword_ = target.keyword;
        program_ = target.program;
        ++targetRevision_;
      }
      window_ = window;
      bumpGeneration();  // under the lock: a search finishing now cannot overwrite the player's window
    }
  } catch (...) {
    return;  // the old keyword stays
  }
  if (!changed) return;
  resetFrameBuffer();
  notifyWorker();
}

std::wstring GdiWindowCapture::windowKeyword() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return keyword_;
}

bool GdiWindowCapture::hasWindow() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return window_ && IsWindow(window_);
}

HWND GdiWindowCapture::currentWindow() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return window_ && IsWindow(window_) ? window_ : nullptr;
}

int32_t GdiWindowCapture::effectiveFps() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return intervalMs_ >= 1 ? static_cast<int32_t>(1000 / intervalMs_) : 30;
}

int64_t GdiWindowCapture::frameIntervalMs() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return intervalMs_;
}

CaptureCounters GdiWindowCapture::counters() const {
  CaptureCounters c;
  c.printWindowCalls = printWindowCalls_.load();
  c.deviceContextCopies = deviceContextCopies_.load();
  c.framesPublished = framesPublished_.load();
  c.windowSearches = windowSearches_.load();
  c.uploads = uploads_.load();
  c.surfacesCreated = surfacesCreated_.load();
  c.surfacesReleased = surfacesReleased_.load();
  c.paintNs = paintNs_.load();
  c.composeNs = composeNs_.load();
  c.publishNs = publishNs_.load();
  c.renderThreadBytes = renderThreadBytes_.load();
  c.barWrites = barWrites_.load();
  c.noStagingMemory = noStagingMemory_.load();
  return c;
}

// ---------------------------------------------------------------------------------------------
// Waiting and waking

// The notification takes the state lock, so a worker that has just tested its wait condition
// cannot miss it between the test and the wait.
void GdiWindowCapture::notifyWorker() {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    ++wakeSequence_;
  }
  wakeup_.notify_all();
  timedWake_.wake();
}

void GdiWindowCapture::wake() { notifyWorker(); }

bool GdiWindowCapture::waitUntilIdle(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(stateMutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return workerExited_ || (blocked_ && blockedSequence_ == wakeSequence_); });
}

// One wait on the condition variable (state lock held); timeoutNs 0 waits without a limit.
void GdiWindowCapture::blockOnce(std::unique_lock<std::mutex>& lock, uint64_t timeoutNs) {
  blocked_ = true;
  blockedSequence_ = wakeSequence_;
  idle_.notify_all();
  if (timeoutNs == 0) {
    wakeup_.wait(lock);
  } else if (timedWake_.ready()) {
    // A capture aimed at the game's next upload starts to within a fraction of a millisecond.
    // A notification made after the lock is let go leaves the wake set, so it is not missed.
    lock.unlock();
    timedWake_.wait(timeoutNs);
    lock.lock();
  } else {
    wakeup_.wait_for(lock, std::chrono::nanoseconds(timeoutNs));
  }
  blocked_ = false;
}

template <class Predicate>
void GdiWindowCapture::waitFor(std::unique_lock<std::mutex>& lock, Predicate done) {
  while (!done()) blockOnce(lock, 0);
}

void GdiWindowCapture::waitUntil(std::unique_lock<std::mutex>& lock, uint64_t deadlineNs, uint64_t generation) {
  for (;;) {
    if (stop_.load() || !active_.load() || paused_.load() || generation_.load() != generation) return;
    const uint64_t now = clock::steadyNs();
    if (now >= deadlineNs) return;
    blockOnce(lock, deadlineNs - now);
  }
}

// ---------------------------------------------------------------------------------------------
// The worker

namespace {
// The worker measures windows in their own pixels: on a scaled display a DPI-aware browser and a
// DPI-unaware game would otherwise see different client sizes. Looked up at run time, so systems
// without per-monitor awareness still load the plugin.
void makeThreadPerMonitorDpiAware() {
  using SetContextFn = HANDLE(WINAPI*)(HANDLE);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto set =
      user32 ? reinterpret_cast<SetContextFn>(GetProcAddress(user32, "SetThreadDpiAwarenessContext")) : nullptr;
  if (!set) return;
  const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
  const HANDLE perMonitor = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-3));
  if (!set(perMonitorV2)) set(perMonitor);
}
}  // namespace

void GdiWindowCapture::workerLoop() {
  workerThreadId_.store(GetCurrentThreadId());
  makeThreadPerMonitorDpiAware();
  WorkerClock w;
  for (;;) {
    bool goOn = false;
    try {
      goOn = iterate(w);
    } catch (...) {
      goOn = true;  // an allocation failure abandons this pass; the loop goes on
    }
    if (!goOn) break;
  }
  releaseSurfaces();
  setWorkerExited(true);
}

void GdiWindowCapture::setWorkerExited(bool exited) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    blocked_ = false;
    workerExited_ = exited;
  }
  idle_.notify_all();
}

bool GdiWindowCapture::waitForWorkerExit(uint64_t deadlineNs) {
  std::unique_lock<std::mutex> lock(stateMutex_);
  for (;;) {
    if (workerExited_) return true;
    const uint64_t now = clock::steadyNs();
    if (now >= deadlineNs) return false;
    idle_.wait_for(lock, std::chrono::nanoseconds(std::min<uint64_t>(deadlineNs - now, 10'000'000)));
  }
}

bool GdiWindowCapture::workerRunning() { return thread_.joinable() || !waitForWorkerExit(0); }

bool GdiWindowCapture::iterate(WorkerClock& w) {
  if (stop_.load()) return false;
  if (!active_.load()) {
    releaseSurfaces();
    std::unique_lock<std::mutex> lock(stateMutex_);
    waitFor(lock, [&] { return stop_.load() || active_.load(); });
    return true;
  }

  Settings& s = settings_;
  {
    std::unique_lock<std::mutex> lock(stateMutex_);
    waitFor(lock, [&] {
      return stop_.load() || !active_.load() || (!paused_.load() && outputWidth_.load() && outputHeight_.load());
    });
    if (stop_.load()) return false;
    if (!active_.load() || paused_.load()) return true;
    s.window = window_;
    if (s.targetRevision != targetRevision_) {
      s.keyword = keyword_;
      s.program = program_;
      s.targetRevision = targetRevision_;
    }
    s.cropLeft = cropLeft_;
    s.cropTop = cropTop_;
    s.cropWidth = cropWidth_;
    s.cropHeight = cropHeight_;
    s.outputWidth = outputWidth_.load();
    s.outputHeight = outputHeight_.load();
    s.intervalMs = intervalMs_;
    s.flip = flip_;
    s.generation = generation_.load();
  }
  const uint64_t now = clock::steadyNs();

  auto waitUntilTime = [&](uint64_t deadline) {
    std::unique_lock<std::mutex> lock(stateMutex_);
    waitUntil(lock, deadline, s.generation);
  };

  if (s.generation != w.seenGeneration) {
    w.seenGeneration = s.generation;
    w.lossLogged = false;
    w.restartPending = false;
    w.lastFrame = now;
    w.lastWatchdog = now;
    w.lastSearch = 0;
    w.lastRestart = 0;
    w.plannedStart = 0;
  } else if (w.lastAttempt != 0) {
    // The next capture is due one interval after the last; it starts so that its picture is
    // published just before the game next takes one (UploadCadence.h).
    const uint64_t lead = lead_.leadNs(cadence_.periodNs());
    if (w.plannedStart == 0) {
      const uint64_t due = w.lastAttempt + static_cast<uint64_t>(s.intervalMs) * kNsPerMs;
      w.plannedFrom = cadence_.lastMarkNs();
      const UploadCadence::Aim aim = cadence_.aim(due, lead, now, w.aimedPoint);
      // Aimed: woken a little early, to foresee the upload again from the newest mark.
      const uint64_t early = aim.pointNs != 0 ? std::min(aim.startNs, cadence_.periodNs() / 8) : 0;
      w.plannedStart = std::max(now, aim.startNs - early);
      w.plannedPoint = aim.pointNs;
    } else if (w.plannedPoint != 0 && cadence_.lastMarkNs() != w.plannedFrom) {
      // The game has taken a picture since the plan: the upload aimed at is foreseen again from it.
      w.plannedPoint = cadence_.again(w.plannedPoint, w.plannedFrom);
      w.plannedFrom = cadence_.lastMarkNs();
      w.plannedStart = std::max<uint64_t>(1, w.plannedPoint - std::min(lead, w.plannedPoint));
    }
    if (now < w.plannedStart) {
      std::unique_lock<std::mutex> lock(stateMutex_);
      waitUntil(lock, w.plannedStart, s.generation);
      return true;
    }
  }
  const uint64_t plannedStart = w.plannedPoint != 0 ? w.plannedStart : 0;
  w.aimedPoint = w.plannedPoint;
  w.plannedStart = 0;
  w.plannedPoint = 0;
  w.lastAttempt = now;
  HWND window = s.window;

  auto storeWindow = [&](HWND found) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (generation_.load() == s.generation) window_ = found;
  };

  if (!window || !IsWindow(window)) {
    if (!w.lossLogged) {
      logWarning("Ventana de captura perdida; recuperacion automatica en espera.");
      w.lossLogged = true;
    }
    if (w.lastSearch != 0 && now - w.lastSearch <= kSearchQuietNs) {
      waitUntilTime(w.lastSearch + kSearchPeriodNs);
      return true;
    }
    w.lastSearch = now;
    if (s.keyword.empty()) {
      waitUntilTime(now + kSearchPeriodNs);
      return true;
    }
    windowSearches_.fetch_add(1);
    HWND found = findCaptureWindow(s.keyword, s.program);
    if (!found) {
      waitUntilTime(now + kSearchPeriodNs);
      return true;
    }
    storeWindow(found);
    w.lossLogged = false;
    logInfo("Ventana de captura recuperada automaticamente.");
    window = found;
  }

  if (now - w.lastWatchdog >= kWatchdogPeriodNs) {
    w.lastWatchdog = now;
    if (now - w.lastFrame >= kNoFrameNs && (w.lastRestart == 0 || now - w.lastRestart > kRestartSpacingNs)) {
      // The chosen window is still there (minimised, hung, cropped outside): it stays the
      // source. Only a window that is gone is searched for again, above.
      releaseSurfaces();
      w.lastFrame = now;
      w.restartPending = true;
      // A window that stays minimised restarts the flow every 8 s: said first, then every 10 minutes.
      if (w.lastRestartWarning == 0 || now - w.lastRestartWarning >= kRestartWarningPeriodNs) {
        logWarning("Watchdog de captura: flujo de frames detenido; reinicio ligero iniciado.");
        w.lastRestartWarning = now;
      }
      w.lastRestart = now;
    }
  }

  const bool minimised = IsIconic(window) != FALSE;
  if (minimised && !w.minimisedLogged) {
    logWarning("[WindowCapture] La ventana capturada esta minimizada; no hay imagen hasta que se restaure.");
  }
  w.minimisedLogged = minimised;

  StepTimes steps;
  if (!captureInto(window, s, steps)) return true;
  const auto publishStart = std::chrono::steady_clock::now();
  if (!publish(s, steps)) return true;
  const uint64_t publishNs = elapsedNs(publishStart);
  paintNs_.fetch_add(steps.paintNs);
  composeNs_.fetch_add(steps.composeNs);
  publishNs_.fetch_add(publishNs - std::min(publishNs, steps.composeNs));
  w.lastFrame = clock::steadyNs();
  if (plannedStart != 0) lead_.record(w.lastFrame - plannedStart);
  watchPicture(window, s.generation, steps.fingerprint);
  if (w.restartPending) {
    w.restartPending = false;
    logInfo("Watchdog de captura: flujo de frames recuperado correctamente.");
  }
  return true;
}

}  // namespace zor
