// The capture worker's picture: the window painted into the worker's surface (PrintWindow, or a
// copy of its device context where that leaves it black, kept per window), scaled into a staging
// texture of the ring and published; and the render thread's half: the ring kept mapped, the
// newest picture copied by the GPU into the GPS texture, the black bars written once per texture.
#include "capture/GdiWindowCapture.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "capture/BlackSamples.h"
#include "capture/WindowDpi.h"
#include "core/Clock.h"
#include "core/FaultGuard.h"
#include "core/Logger.h"
#include "gps/GpsTextureReplacer.h"

namespace zor {

namespace {

constexpr int kPicturePercent = 96;
// The method not kept for a window is tried again at most this often (and only when the kept one
// gives black, or while the kept one is the device-context copy): a PrintWindow per 150 frames.
constexpr uint64_t kOtherMethodRetryNs = 5'000'000'000ull;

// The picture's side for a side of the frame: 96 % of it.
uint32_t pictureExtent(uint32_t frameExtent) {
  return static_cast<uint32_t>(static_cast<uint64_t>(frameExtent) * kPicturePercent / 100);
}

// How long a change of device waits for the worker to finish the picture it is writing, and
// how long a shut-down waits for the render thread's last turn.
constexpr uint64_t kRingReleaseWaitNs = 200'000'000ull;
constexpr uint64_t kLastTurnWaitNs = 250'000'000ull;

uint64_t elapsedNs(std::chrono::steady_clock::time_point since) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - since).count());
}

}  // namespace

// Paints the window into the source surface and prepares the scaling of its picture.
bool GdiWindowCapture::captureInto(HWND window, const Settings& s, StepTimes& steps) {
  // Measured and painted at the size the window paints at: the surface is then the size of what
  // it paints, all of it (a surface of another size is made anew, cleared).
  const WindowDpiScope dpi(window);
  RECT client{};
  if (!GetClientRect(window, &client)) return false;
  const int clientWidth = client.right - client.left;
  const int clientHeight = client.bottom - client.top;
  if (clientWidth < 1 || clientHeight < 1) return false;

  if (!sizeSurface(source_, clientWidth, clientHeight)) return false;
  const auto paintStart = std::chrono::steady_clock::now();
  // A window that has stopped answering its messages would keep this thread inside PrintWindow.
  if (IsHungAppWindow(window)) return false;
  const uint64_t now = clock::steadyNs();
  PaintChoice& choice = paintChoiceFor(window, clientWidth, clientHeight, now);
  if (legacyPainting_) choice.method = PaintMethod::Unknown;
  const PaintMethod kept = choice.method == PaintMethod::Unknown ? PaintMethod::PrintWindow : choice.method;
  const PaintMethod other = kept == PaintMethod::PrintWindow ? PaintMethod::DeviceContext : PaintMethod::PrintWindow;
  if (!paintWith(kept, window, source_)) return false;
  bool black = blacksamples::allBlack(source_.bits, clientWidth, clientHeight);
  // A dark picture of the kept method is shown as it is; the other method's picture takes its
  // place only when it has something to show.
  const bool due = choice.method == PaintMethod::Unknown || now - choice.otherTriedNs >= kOtherMethodRetryNs;
  if ((black || kept == PaintMethod::DeviceContext) && due) {
    choice.otherTriedNs = now;
    if (sizeSurface(other_, clientWidth, clientHeight) && paintWith(other, window, other_) &&
        !blacksamples::allBlack(other_.bits, clientWidth, clientHeight)) {
      std::swap(source_, other_);
      choice.method = other;
      black = false;
      if (other == PaintMethod::DeviceContext && fallbackLoggedWindow_ != window) {
        fallbackLoggedWindow_ = window;
        logInfo(
            "[WindowCapture] PrintWindow dejo la ventana en negro; se copia desde su contexto de dispositivo (BitBlt).");
      }
    }
  }
  if (!black && choice.method == PaintMethod::Unknown) {
    choice.method = kept;
    choice.otherTriedNs = now;
  }
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
  g.pictureWidth = static_cast<int>(pictureExtent(s.outputWidth));
  g.pictureHeight = static_cast<int>(pictureExtent(s.outputHeight));
  g.pictureX = (outWidth - g.pictureWidth) / 2;
  g.pictureY = (outHeight - g.pictureHeight) / 2;
  g.outputTopDown = s.flip;
  g.shrink = legacyPainting_ ? ShrinkFilter::Area : ShrinkFilter::Tent;
  return scaler_.prepare(g);
}

GdiWindowCapture::PaintChoice& GdiWindowCapture::paintChoiceFor(HWND window, int width, int height, uint64_t now) {
  PaintChoice* choice = &paintChoices_[0];
  for (PaintChoice& c : paintChoices_) {
    if (c.window == window) {
      choice = &c;
      break;
    }
    if (c.usedNs < choice->usedNs) choice = &c;
  }
  if (choice->window != window || choice->width != width || choice->height != height) {
    *choice = PaintChoice{window, PaintMethod::Unknown, width, height, 0, 0};  // a new window, or resized: tried anew
  }
  choice->usedNs = now;
  return *choice;
}

bool GdiWindowCapture::paintWith(PaintMethod method, HWND window, Surface& surface) {
  if (method == PaintMethod::DeviceContext) {
    HDC windowDc = GetDC(window);
    if (!windowDc) return false;
    const bool copied = BitBlt(surface.dc, 0, 0, surface.width, surface.height, windowDc, 0, 0, SRCCOPY) != FALSE;
    ReleaseDC(window, windowDc);
    if (!copied) return false;
    GdiFlush();
    deviceContextCopies_.fetch_add(1);
    return true;
  }
  // The samples are blackened first, so a PrintWindow that reports success and paints nothing is
  // seen. The client area only: the crop is defined on it, and the device context's copy holds
  // nothing else either.
  blacksamples::clear(surface.bits, surface.width, surface.height);
  printWindowCalls_.fetch_add(1);
  const PrintFunction print = print_.load();
  if (!(print ? print : &PrintWindow)(window, surface.dc, PW_CLIENTONLY | PW_RENDERFULLCONTENT)) {
    // Once per window: a window closing mid-capture must not use the line up for the next one.
    if (printFailureWindow_ != window) {
      printFailureWindow_ = window;
      logWarning("[WindowCapture] PrintWindow fallo. Prueba dejando la ventana visible (no minimizada).");
    }
    return false;
  }
  GdiFlush();
  return true;
}

// A surface of another size is made anew (cleared).
bool GdiWindowCapture::sizeSurface(Surface& surface, int width, int height) {
  if (surface.dc && surface.width == width && surface.height == height) return true;
  releaseSurface(surface);
  return createSurface(surface, width, height, false);
}

bool GdiWindowCapture::publish(const Settings& s, StepTimes& steps) {
  const FrameGeometry& g = scaler_.geometry();
  if (!scaler_.prepared() || !source_.bits || s.outputWidth == 0 || s.outputHeight == 0 ||
      g.outputWidth != static_cast<int>(s.outputWidth) || g.outputHeight != static_cast<int>(s.outputHeight)) {
    return false;
  }
  const uint32_t width = static_cast<uint32_t>(g.pictureWidth), height = static_cast<uint32_t>(g.pictureHeight);
  StagingRing::Claim claim;
  if (!ring_.claim(width, height, latestPublished_.load(std::memory_order_acquire), claim)) {
    noStagingMemory_.fetch_add(1);
    return false;
  }
  // The picture is scaled from the painted surface straight into the mapped staging memory.
  const auto composeStart = std::chrono::steady_clock::now();
  scaler_.compose(static_cast<const uint8_t*>(source_.bits), claim.data, claim.rowPitch);
  steps.composeNs = elapsedNs(composeStart);
  // Taken from the painted pixels, not the picture: the staging memory may be write-combined,
  // where every read goes to memory uncached.
  steps.fingerprint = pictureFingerprint(static_cast<const uint8_t*>(source_.bits) + g.cropOffset(),
                                         static_cast<uint32_t>(g.cropWidth), static_cast<uint32_t>(g.cropHeight),
                                         static_cast<uint32_t>(g.sourceWidth) * 4);

  if (!active_.load() || generation_.load() != s.generation) {
    ring_.abandon(claim);
    return false;
  }
  // Where the picture's first row in memory goes in the texture: rows run top first when flipped.
  const uint32_t boxY = g.outputTopDown ? static_cast<uint32_t>(g.pictureY)
                                        : static_cast<uint32_t>(g.outputHeight - g.pictureY - g.pictureHeight);
  const uint64_t sequence = nextSequence_++;
  ring_.publish(claim, sequence, s.generation, static_cast<uint32_t>(g.pictureX), boxY);
  latestPublishedAtNs_.store(clock::steadyNs(), std::memory_order_release);
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

void GdiWindowCapture::releaseSurfaces() {
  releaseSurface(source_);
  releaseSurface(other_);
}

void GdiWindowCapture::resetFrameBuffer() {
  latestPublished_.store(0, std::memory_order_release);
  lastUploaded_.store(0, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// The render thread's half

bool GdiWindowCapture::keepOutputSize(uint32_t width, uint32_t height) {
  if (width == outputWidth_.load() && height == outputHeight_.load()) return true;
  outputWidth_.store(width);
  outputHeight_.store(height);
  bumpGeneration();
  resetFrameBuffer();
  notifyWorker();
  return false;
}

void GdiWindowCapture::prepareFramesFor(ID3D11Texture2D* texture) {
  if (!active_.load(std::memory_order_acquire) || !texture) return;
  ID3D11DeviceContext* context = context_.load(std::memory_order_acquire);
  D3D11_TEXTURE2D_DESC desc{};
  texture->GetDesc(&desc);
  if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM && desc.Format != DXGI_FORMAT_B8G8R8A8_TYPELESS) return;
  if (context) serviceRing(context, desc);  // the worker composes meanwhile
  keepOutputSize(desc.Width, desc.Height);
}

void GdiWindowCapture::markUploadPoint() {
  // Without marks the worker keeps its bare interval.
  if (aimedCaptures_.load(std::memory_order_relaxed) && timedWake_.highResolution()) cadence_.mark(clock::steadyNs());
}

void GdiWindowCapture::setAimedCaptures(bool aimed) {
  aimedCaptures_.store(aimed);
  cadence_.reset();
}

bool GdiWindowCapture::hasNewFrame() {
  const uint64_t latest = latestPublished_.load(std::memory_order_acquire);
  return latest != 0 && latest != lastUploaded_.load(std::memory_order_acquire);
}

bool GdiWindowCapture::serviceRing(ID3D11DeviceContext* context, const D3D11_TEXTURE2D_DESC& desc) {
  renderThreadId_.store(GetCurrentThreadId(), std::memory_order_relaxed);
  ringHeld_.store(true, std::memory_order_release);
  const uint32_t width = pictureExtent(desc.Width), height = pictureExtent(desc.Height);
  if (width == 0 || height == 0) return false;
  return ring_.service(context, width, height, desc.Format);
}

void GdiWindowCapture::releaseDeviceObjects() {
  cadence_.reset();
  barsTexture_ = nullptr;
  if (ring_.release(clock::steadyNs() + kRingReleaseWaitNs)) {
    ringHeld_.store(false, std::memory_order_release);
  } else {
    logWarning("[WindowCapture] El hilo de captura seguia escribiendo una textura de paso; se suelta al cerrar.");
  }
}

void GdiWindowCapture::renderThreadTurn() {
  int asked = kTurnAsked;
  if (turn_.load(std::memory_order_acquire) != kTurnAsked ||
      !turn_.compare_exchange_strong(asked, kTurnRunning, std::memory_order_acq_rel)) {
    return;
  }
  releaseDeviceObjects();
  {
    std::lock_guard<std::mutex> lock(turnMutex_);
    turn_.store(kTurnIdle, std::memory_order_release);
  }
  turnDone_.notify_all();
}

void GdiWindowCapture::releaseBeforeHooksGo(uint64_t deadlineNs, bool onRenderThread) {
  // No new picture is composed; the one being composed is abandoned when it is done.
  active_.store(false, std::memory_order_release);
  bumpGeneration();
  resetFrameBuffer();
  notifyWorker();
  if (!ringHeld_.load(std::memory_order_acquire)) return;
  if (onRenderThread) {
    releaseDeviceObjects();
    return;
  }
  // The render thread unmaps at its next Present; a game that does not present by then has its
  // textures dropped by shutdown() without a call into its context. A turn that has begun is
  // waited for to its end (its own wait is bounded).
  const uint64_t bound = std::min(deadlineNs, clock::steadyNs() + kLastTurnWaitNs);
  std::unique_lock<std::mutex> lock(turnMutex_);
  turn_.store(kTurnAsked, std::memory_order_release);
  for (;;) {
    const int turn = turn_.load(std::memory_order_acquire);
    if (turn == kTurnIdle) return;
    const uint64_t now = clock::steadyNs();
    if (turn == kTurnAsked && now >= bound) {
      int asked = kTurnAsked;
      if (turn_.compare_exchange_strong(asked, kTurnIdle, std::memory_order_acq_rel)) return;
      continue;
    }
    turnDone_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

// A fault inside a driver call of ours leaves the runtime half way through it: capture ends on
// this device, and nothing of capture calls into it again.
void GdiWindowCapture::endOnDriverFault() {
  ring_.markFaulted();
  barsTexture_ = nullptr;
  logError("[WindowCapture] UpdateSubresource protegido detecto una excepcion; la captura se detiene en este dispositivo.");
  deactivate();
}

bool GdiWindowCapture::blackenBars(ID3D11DeviceContext* context, ID3D11Texture2D* texture,
                                   const D3D11_TEXTURE2D_DESC& desc, uint32_t boxX, uint32_t boxY) {
  // Textures of the replacer are made anew, or get their test pattern back, with a new epoch.
  const uint64_t epoch = GpsTextureReplacer::instance().contentEpoch();
  if (texture == barsTexture_ && epoch == barsEpoch_ && boxX == barsBoxX_ && boxY == barsBoxY_) return true;
  const uint32_t w = desc.Width, h = desc.Height, pw = ring_.width(), ph = ring_.height();
  if (boxX + pw > w || boxY + ph > h) return true;
  const uint32_t right = w - boxX - pw, bottom = h - boxY - ph;
  const size_t rows = std::max(boxY, bottom), side = std::max(boxX, right);
  std::vector<uint8_t> zeros;
  try {
    zeros.assign(std::max(rows * w, side * ph) * 4, 0);
  } catch (...) {
    return true;  // tried again with the next picture
  }
  uint64_t bytes = 0;
  auto write = [&](uint32_t left, uint32_t top, uint32_t r, uint32_t b) {
    if (left >= r || top >= b) return;
    const D3D11_BOX box{left, top, 0, r, b, 1};
    context->UpdateSubresource(texture, 0, &box, zeros.data(), (r - left) * 4, 0);
    bytes += static_cast<uint64_t>(r - left) * 4 * (b - top);
  };
  auto all = [&] {
    write(0, 0, w, boxY);
    write(0, boxY + ph, w, h);
    write(0, boxY, boxX, boxY + ph);
    write(boxX + pw, boxY, w, boxY + ph);
  };
  if (!fault::guarded(all)) {
    endOnDriverFault();
    return false;
  }
  renderThreadBytes_.fetch_add(bytes);
  barWrites_.fetch_add(1);
  barsTexture_ = texture;
  barsEpoch_ = epoch;
  barsBoxX_ = boxX;
  barsBoxY_ = boxY;
  return true;
}

bool GdiWindowCapture::uploadLatestFrame(ID3D11Texture2D* texture) {
  if (!active_.load(std::memory_order_acquire) || !texture) return false;
  ID3D11DeviceContext* context = context_.load(std::memory_order_acquire);
  if (!context) return false;
  D3D11_TEXTURE2D_DESC desc{};
  texture->GetDesc(&desc);
  if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM && desc.Format != DXGI_FORMAT_B8G8R8A8_TYPELESS) return false;
  // The worker needs mapped memory whether or not a picture is waiting; it is there before a new
  // size wakes the worker.
  const bool ringReady = serviceRing(context, desc);
  if (!keepOutputSize(desc.Width, desc.Height) || !ringReady) return false;
  const uint64_t latest = latestPublished_.load(std::memory_order_acquire);
  if (latest == 0 || latest == lastUploaded_.load(std::memory_order_acquire)) return false;

  const int slot = ring_.take(latest, generation_.load(std::memory_order_acquire));
  if (slot < 0) return false;
  const uint32_t x = ring_.boxX(slot), y = ring_.boxY(slot);
  if (!blackenBars(context, texture, desc, x, y)) return false;
  uploads_.fetch_add(1);
  if (!ring_.copyInto(slot, texture, x, y)) {
    endOnDriverFault();
    return false;
  }
  lastUploaded_.store(latest, std::memory_order_release);
  if (!firstFrameLogged_.exchange(true)) {
    logInfo("[WindowCapture] Primer frame del trabajador copiado correctamente a la textura del GPS.");
  }
  return true;
}

bool GdiWindowCapture::latestFrame(CaptureFrame& out) {
  // The ring's slots are the render thread's to retire: read only there.
  if (renderThreadId_.load(std::memory_order_relaxed) != GetCurrentThreadId()) return false;
  const uint64_t latest = latestPublished_.load(std::memory_order_acquire);
  if (latest == 0) return false;
  const int slot = ring_.take(latest, generation_.load(std::memory_order_acquire));
  if (slot < 0) return false;
  bool copied = false;
  try {
    const uint32_t w = outputWidth_.load(), h = outputHeight_.load(), pw = ring_.width(), ph = ring_.height();
    const uint32_t x = ring_.boxX(slot), y = ring_.boxY(slot);
    if (x + pw <= w && y + ph <= h) {
      out.pixels.assign(static_cast<size_t>(w) * h * 4, 0);
      for (uint32_t row = 0; row < ph; ++row) {
        std::memcpy(&out.pixels[(static_cast<size_t>(y + row) * w + x) * 4],
                    ring_.mappedData(slot) + static_cast<size_t>(row) * ring_.rowPitch(slot), static_cast<size_t>(pw) * 4);
      }
      out.width = w;
      out.height = h;
      out.stride = w * 4;
      out.sequence = latest;
      copied = true;
    }
  } catch (...) {
  }
  ring_.restore(slot);
  return copied;
}

}  // namespace zor
