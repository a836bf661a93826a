// The capture worker's picture: the window painted into the worker's surface (PrintWindow, or a
// copy of its device context where that leaves it black, kept per window), scaled into the back
// slot of the frame buffer and published; and the render thread's upload of the newest slot into
// the GPS texture.
#include "capture/GdiWindowCapture.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "capture/BlackSamples.h"
#include "capture/WindowDpi.h"
#include "core/Clock.h"
#include "core/FaultGuard.h"
#include "core/Logger.h"

namespace zor {

namespace {

constexpr int kPicturePercent = 96;
// The method not kept for a window is tried again at most this often (and only when the kept one
// gives black, or while the kept one is the device-context copy): a PrintWindow per 150 frames.
constexpr uint64_t kOtherMethodRetryNs = 5'000'000'000ull;

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
  g.pictureWidth = static_cast<int>(static_cast<int64_t>(outWidth) * kPicturePercent / 100);
  g.pictureHeight = static_cast<int>(static_cast<int64_t>(outHeight) * kPicturePercent / 100);
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
  if (!PrintWindow(window, surface.dc, PW_CLIENTONLY | PW_RENDERFULLCONTENT)) {
    if (!printWindowFailureLogged_.exchange(true)) {
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
  // The letterbox's black is written when the slot is made for this frame shape; the scaler
  // writes only the picture.
  const size_t pictureAt = g.pictureOffset(stride);
  if (slot.pixels.size() != size || slot.width != s.outputWidth || slot.pictureAt != pictureAt) {
    try {
      slot.pixels.assign(size, 0);
    } catch (...) {
      slot.pixels.clear();
      return false;
    }
    slot.width = s.outputWidth;
    slot.pictureAt = pictureAt;
  }
  // The picture is scaled from the painted surface straight into the slot.
  const auto composeStart = std::chrono::steady_clock::now();
  scaler_.compose(static_cast<const uint8_t*>(source_.bits), slot.pixels.data() + pictureAt, stride);
  steps.composeNs = elapsedNs(composeStart);
  steps.fingerprint = pictureFingerprint(slot.pixels.data(), s.outputWidth, s.outputHeight, stride);

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

void GdiWindowCapture::releaseSurfaces() {
  releaseSurface(source_);
  releaseSurface(other_);
}

void GdiWindowCapture::resetFrameBuffer() {
  std::lock_guard<std::mutex> lock(frameMutex_);
  front_ = -1;
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
  D3D11_TEXTURE2D_DESC desc{};
  texture->GetDesc(&desc);
  if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM && desc.Format != DXGI_FORMAT_B8G8R8A8_TYPELESS) return;
  keepOutputSize(desc.Width, desc.Height);
}

bool GdiWindowCapture::uploadLatestFrame(ID3D11Texture2D* texture) {
  if (!active_.load(std::memory_order_acquire) || !texture) return false;
  ID3D11DeviceContext* context = context_.load(std::memory_order_acquire);
  if (!context) return false;
  D3D11_TEXTURE2D_DESC desc{};
  texture->GetDesc(&desc);
  if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM && desc.Format != DXGI_FORMAT_B8G8R8A8_TYPELESS) return false;
  if (!keepOutputSize(desc.Width, desc.Height)) return false;
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
