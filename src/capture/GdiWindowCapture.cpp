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
constexpr int kPicturePercent = 96;
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
  HWND bound = nullptr;
  try {
    std::lock_guard<std::mutex> lock(stateMutex_);
    context_.store(context, std::memory_order_release);
    keyword_ = keyword;
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
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    window_ = bound;
  }
  paused_.store(false);
  bumpGeneration();
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
    context_.store(nullptr, std::memory_order_release);
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
      context_.store(nullptr, std::memory_order_release);
      logWarning(
          "[WindowCapture] La ventana capturada no responde y el hilo de captura sigue esperandola al cerrar; "
          "el hilo terminara por si solo y el plugin queda cargado hasta entonces.");
      return;
    }
    thread_.join();
  }
  releaseSurfaces();
  resetFrameBuffer();
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

void GdiWindowCapture::setWindowKeyword(const std::wstring& keyword) { setWindowTarget(keyword, {}, nullptr); }

void GdiWindowCapture::setWindowTarget(const std::wstring& keyword, const std::wstring& program, HWND window) {
  if (window && !IsWindow(window)) window = nullptr;
  bool changed = false;
  try {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const bool searchChanged = keyword_ != keyword || program_ != program;
    changed = searchChanged || (window && window != window_);
    if (changed) {
      keyword_ = keyword;
      program_ = program;
      window_ = window;
    }
  } catch (...) {
    return;  // the old keyword stays
  }
  if (!changed) return;
  bumpGeneration();
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
  return c;
}

bool GdiWindowCapture::latestFrame(CaptureFrame& out) {
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (front_ < 0 || slots_[front_].sequence == 0) return false;
  try {
    out = slots_[front_];
  } catch (...) {
    return false;
  }
  return true;
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

  Settings s;
  {
    std::unique_lock<std::mutex> lock(stateMutex_);
    waitFor(lock, [&] {
      return stop_.load() || !active_.load() || (!paused_.load() && outputWidth_.load() && outputHeight_.load());
    });
    if (stop_.load()) return false;
    if (!active_.load() || paused_.load()) return true;
    s.window = window_;
    s.keyword = keyword_;
    s.program = program_;
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
  } else if (w.lastAttempt != 0 && now - w.lastAttempt < static_cast<uint64_t>(s.intervalMs) * kNsPerMs) {
    const uint64_t remainingMs = static_cast<uint64_t>(s.intervalMs) - (now - w.lastAttempt) / kNsPerMs;
    std::unique_lock<std::mutex> lock(stateMutex_);
    waitUntil(lock, clock::steadyNs() + remainingMs * kNsPerMs, s.generation);
    return true;
  }
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
      releaseSurfaces();
      windowSearches_.fetch_add(1);
      if (HWND found = findCaptureWindow(s.keyword, s.program)) {
        window = found;
        storeWindow(found);
      }
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
  if (w.restartPending) {
    w.restartPending = false;
    logInfo("Watchdog de captura: flujo de frames recuperado correctamente.");
  }
  return true;
}

// Paints the window into the source surface and prepares the scaling of its picture.
bool GdiWindowCapture::captureInto(HWND window, const Settings& s, StepTimes& steps) {
  RECT client{};
  if (!GetClientRect(window, &client)) return false;
  const int clientWidth = client.right - client.left;
  const int clientHeight = client.bottom - client.top;
  if (clientWidth < 1 || clientHeight < 1) return false;

  if (!source_.dc || source_.width != clientWidth || source_.height != clientHeight) {
    releaseSurface(source_);
    if (!createSurface(source_, clientWidth, clientHeight, false)) return false;
  }
  const auto paintStart = std::chrono::steady_clock::now();
  blacksamples::clear(source_.bits, clientWidth, clientHeight);
  // A window that has stopped answering its messages would keep this thread inside PrintWindow.
  if (IsHungAppWindow(window)) return false;
  printWindowCalls_.fetch_add(1);
  // The client area only: the crop is defined on it, and the copy from the window's device
  // context (below) holds nothing else either.
  if (!PrintWindow(window, source_.dc, PW_CLIENTONLY | PW_RENDERFULLCONTENT)) {
    if (!printWindowFailureLogged_.exchange(true)) {
      logWarning("[WindowCapture] PrintWindow fallo. Prueba dejando la ventana visible (no minimizada).");
    }
    return false;
  }
  GdiFlush();
  // Some hosts answer PrintWindow for another process's window with success and paint nothing;
  // the window's own device context still has its picture.
  if (blacksamples::allBlack(source_.bits, clientWidth, clientHeight)) copyFromWindowDc(window, clientWidth, clientHeight);
  steps.paintNs = elapsedNs(paintStart);

  if (s.outputWidth < 1 || s.outputHeight < 1) return false;
  const int outWidth = static_cast<int>(s.outputWidth);
  const int outHeight = static_cast<int>(s.outputHeight);

  // Source rectangle: the client area, or the crop inside it (64-bit sums: no overflow).
  int64_t srcX = 0, srcY = 0, srcW = clientWidth, srcH = clientHeight;
  if (s.cropWidth != 0 && s.cropHeight != 0) {
    // A negative origin would read outside the painted surface: it counts from the edge.
    srcX = std::max<int64_t>(s.cropLeft, 0);
    srcY = std::max<int64_t>(s.cropTop, 0);
    if (srcX >= clientWidth || srcY >= clientHeight) return false;
    srcW = s.cropWidth;
    srcH = s.cropHeight;
    if (srcX + srcW > clientWidth) srcW = clientWidth - srcX;
    if (srcY + srcH > clientHeight) srcH = clientHeight - srcY;
    if (srcW < 1 || srcH < 1) return false;
  }

  // The picture: 96 % of the frame each way, centred on black; rows top first when flipped. The
  // scaler's tables are made again only when one of these changes.
  FrameGeometry g;
  g.sourceWidth = clientWidth;
  g.sourceHeight = clientHeight;
  g.sourceBottomUp = true;
  g.cropX = static_cast<int>(srcX);
  g.cropY = static_cast<int>(srcY);
  g.cropWidth = static_cast<int>(srcW);
  g.cropHeight = static_cast<int>(srcH);
  g.outputWidth = outWidth;
  g.outputHeight = outHeight;
  g.pictureWidth = static_cast<int>(static_cast<int64_t>(outWidth) * kPicturePercent / 100);
  g.pictureHeight = static_cast<int>(static_cast<int64_t>(outHeight) * kPicturePercent / 100);
  g.pictureX = (outWidth - g.pictureWidth) / 2;
  g.pictureY = (outHeight - g.pictureHeight) / 2;
  g.outputTopDown = s.flip;
  return scaler_.prepare(g);
}

bool GdiWindowCapture::copyFromWindowDc(HWND window, int width, int height) {
  HDC windowDc = GetDC(window);
  if (!windowDc) return false;
  const bool copied = BitBlt(source_.dc, 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
  ReleaseDC(window, windowDc);
  if (!copied) return false;
  GdiFlush();
  deviceContextCopies_.fetch_add(1);
  if (blacksamples::allBlack(source_.bits, width, height)) return false;
  if (fallbackLoggedWindow_ != window) {
    fallbackLoggedWindow_ = window;
    logInfo(
        "[WindowCapture] PrintWindow dejo la ventana en negro; se copia desde su contexto de dispositivo (BitBlt).");
  }
  return true;
}

bool GdiWindowCapture::publish(const Settings& s, StepTimes& steps) {
  const FrameGeometry& g = scaler_.geometry();
  if (!scaler_.prepared() || !source_.bits || s.outputWidth == 0 || s.outputHeight == 0 ||
      g.outputWidth != static_cast<int>(s.outputWidth) || g.outputHeight != static_cast<int>(s.outputHeight)) {
    return false;
  }
  const uint64_t stride64 = static_cast<uint64_t>(s.outputWidth) * 4;
  if (stride64 > UINT32_MAX) return false;
  const uint32_t stride = static_cast<uint32_t>(stride64);
  const size_t size = static_cast<size_t>(stride) * s.outputHeight;

  int back = 0;
  {
    std::lock_guard<std::mutex> lock(frameMutex_);
    back = front_ == 0 ? 1 : 0;
  }
  CaptureFrame& slot = slots_[back];
  try {
    slot.pixels.resize(size);
  } catch (...) {
    return false;
  }
  // The picture is scaled from the painted surface straight into the slot.
  const auto composeStart = std::chrono::steady_clock::now();
  scaler_.compose(static_cast<const uint8_t*>(source_.bits), slot.pixels.data());
  steps.composeNs = elapsedNs(composeStart);

  auto current = [&] { return active_.load() && generation_.load() == s.generation; };
  if (!current()) return false;
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (!current()) return false;
  slot.width = s.outputWidth;
  slot.height = s.outputHeight;
  slot.stride = stride;
  const uint64_t sequence = nextSequence_++;
  slot.sequence = sequence;
  front_ = back;
  latestPublished_.store(sequence, std::memory_order_release);
  framesPublished_.fetch_add(1);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Surfaces and the frame buffer

bool GdiWindowCapture::createSurface(Surface& surface, int width, int height, bool topDown) {
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  surface.dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = topDown ? -height : height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  surface.bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &surface.bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!surface.dc || !surface.bitmap || !surface.bits) {
    releaseSurface(surface);
    return false;
  }
  surface.previous = SelectObject(surface.dc, surface.bitmap);
  surface.width = width;
  surface.height = height;
  surface.flip = topDown;
  surfacesCreated_.fetch_add(1);
  return true;
}

void GdiWindowCapture::releaseSurface(Surface& surface) {
  const bool existed = surface.dc || surface.bitmap;
  if (surface.dc && surface.previous) SelectObject(surface.dc, surface.previous);
  if (surface.dc) DeleteDC(surface.dc);
  if (surface.bitmap) DeleteObject(surface.bitmap);
  surface = Surface{};
  if (existed) surfacesReleased_.fetch_add(1);
}

void GdiWindowCapture::releaseSurfaces() { releaseSurface(source_); }

void GdiWindowCapture::resetFrameBuffer() {
  std::lock_guard<std::mutex> lock(frameMutex_);
  front_ = -1;
  latestPublished_.store(0, std::memory_order_release);
  lastUploaded_.store(0, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// The render thread's half

bool GdiWindowCapture::uploadLatestFrame(ID3D11Texture2D* texture) {
  if (!active_.load(std::memory_order_acquire) || !texture) return false;
  ID3D11DeviceContext* context = context_.load(std::memory_order_acquire);
  if (!context) return false;
  D3D11_TEXTURE2D_DESC desc{};
  texture->GetDesc(&desc);
  if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM && desc.Format != DXGI_FORMAT_B8G8R8A8_TYPELESS) return false;
  if (desc.Width != outputWidth_.load() || desc.Height != outputHeight_.load()) {
    outputWidth_.store(desc.Width);
    outputHeight_.store(desc.Height);
    bumpGeneration();
    resetFrameBuffer();
    notifyWorker();
    return false;
  }
  const uint64_t latest = latestPublished_.load(std::memory_order_acquire);
  if (latest == 0 || latest == lastUploaded_.load(std::memory_order_acquire)) return false;

  std::unique_lock<std::mutex> lock(frameMutex_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  if (front_ < 0) return false;
  const CaptureFrame& slot = slots_[front_];
  if (slot.sequence == 0 || slot.sequence != latest || slot.width != desc.Width || slot.height != desc.Height ||
      slot.pixels.empty()) {
    return false;
  }
  uploads_.fetch_add(1);
  const void* pixels = slot.pixels.data();
  const UINT pitch = slot.stride;
  auto copy = [context, texture, pixels, pitch] {
    context->UpdateSubresource(texture, 0, nullptr, pixels, pitch, 0);
  };
  if (!fault::guarded(copy)) {
    logError("[WindowCapture] UpdateSubresource protegido detecto una excepcion; se omite este frame.");
    return false;
  }
  lastUploaded_.store(slot.sequence, std::memory_order_release);
  if (!firstFrameLogged_.exchange(true)) {
    logInfo("[WindowCapture] Primer frame del trabajador copiado correctamente a la textura del GPS.");
  }
  return true;
}

}  // namespace zor
