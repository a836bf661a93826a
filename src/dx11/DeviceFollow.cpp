// A new device of the game. The game makes its Direct3D 11 device and swap chain anew when the
// player changes graphics settings or the old device is lost, on the same window, and every
// texture, view and shader with them. The first Present through the new swap chain moves the
// plugin onto the new device: what it made on the old one (replacement, dashboard and test
// textures, the panel's renderer) is let go and made again, identification starts over for the
// game's new textures, and a playing capture goes on into the new replacement. The move waits
// for the new device's third Present in a row: a device that presents between the game's
// frames (a tool's own swap chain on the game's window, the old swap chain's last frame) never
// moves the plugin back and forth. Until the move nothing of ours touches the new device.
#include <windows.h>

#include <cstdio>

#include "capture/WindowCapture.h"
#include "core/Clock.h"
#include "core/ComRef.h"
#include "core/DetourGuard.h"
#include "core/Logger.h"
#include "dx11/Dx11Core.h"
#include "gps/GpsTextureReplacer.h"
#include "overlay/ConfigOverlay.h"

namespace zor {

bool Dx11Core::onAdoptedDevice(ID3D11DeviceContext* context) const noexcept {
  if (!context) return false;
  if (context == contextPeek_.load(std::memory_order_relaxed)) return true;
  // A deferred context of the adopted device, or a context of a device the game has just made.
  ID3D11Device* device = nullptr;
  context->GetDevice(&device);
  const bool adopted = device && device == devicePeek_.load(std::memory_order_relaxed);
  if (device) device->Release();
  return adopted;
}

namespace {
constexpr int kFollowAfterFrames = 3;
constexpr GUID kAdoptionMark = {0x5a4f5231, 0x7ab0, 0x4c1e, {0x9d, 0x2f, 0x61, 0x0b, 0x3e, 0x77, 0x48, 0xa5}};
}  // namespace

void Dx11Core::markAdoptedDevice(ID3D11Device* device) {
  adoptionMark_ = clock::steadyNs() | 1;  // a new value for each adoption, never 0
  device->SetPrivateData(kAdoptionMark, sizeof adoptionMark_, &adoptionMark_);
}

bool Dx11Core::carriesAdoptionMark(ID3D11Device* device) const {
  uint64_t mark = 0;
  UINT size = sizeof mark;
  return adoptionMark_ && SUCCEEDED(device->GetPrivateData(kAdoptionMark, &size, &mark)) && size == sizeof mark &&
         mark == adoptionMark_;
}

void Dx11Core::unmarkDevice(ID3D11Device* device) {
  if (device) device->SetPrivateData(kAdoptionMark, 0, nullptr);
}

// The game made a new window (a change of display mode or graphics settings): once the adopted
// window is gone, the first swap chain presenting on a window that passes for the game's takes
// its place, and the panel moves onto it. A window of the game's beside a living one is not.
bool Dx11Core::followGameWindow(HWND window) {
  if (adoptedWindow_ && IsWindow(adoptedWindow_)) return false;
  if (!isGameWindow(window, GetCurrentProcessId())) return false;
  const HWND old = adoptedWindow_;
  adoptedWindow_ = window;
  followCandidate_ = nullptr;
  followCandidateFrames_ = 0;
  ConfigOverlay::instance().followGameWindow(window);
  char line[200];
  std::snprintf(line, sizeof line,
                "V1.1.0: la ventana del juego 0x%p ya no existe; el plugin sigue a la ventana nueva 0x%p.",
                static_cast<void*>(old), static_cast<void*>(window));
  logInfo(line);
  return true;
}

bool Dx11Core::followGameDevice(IDXGISwapChain* swapChain) {
  detour::OwnCallsScope own;
  // Only frames on the game's window are ours: not another module's swap chain (a recording
  // tool's, an overlay's, one of Direct3D 12 or 10) nor the game's device on another window.
  DXGI_SWAP_CHAIN_DESC desc{};
  if (FAILED(swapChain->GetDesc(&desc)) || !desc.OutputWindow) return false;
  ComRef<ID3D11Device> device;
  if (FAILED(swapChain->GetDevice(__uuidof(ID3D11Device), reinterpret_cast<void**>(device.put()))) || !device)
    return false;
  if (desc.OutputWindow != adoptedWindow_ && !followGameWindow(desc.OutputWindow)) return false;
  // The adopted device is held, so no other device can sit at its address.
  ID3D11Device* const adopted = devicePeek_.load(std::memory_order_relaxed);
  if (device.get() == adopted) {
    followCandidate_ = nullptr;
    followCandidateFrames_ = 0;
    return true;
  }
  // With the old device let go of already for the device the game made this swap chain with,
  // nothing can move back and forth: that device's first frame moves everything. Any other
  // device (the old one presenting again after a creation that failed, a tool's) still needs
  // its frames in a row.
  if (adopted || (expectedDevice_ && device.get() != expectedDevice_)) {
    if (followCandidate_ != device.get()) {
      followCandidate_ = device.get();
      followCandidateFrames_ = 0;
    }
    if (++followCandidateFrames_ < kFollowAfterFrames) return false;
  }
  followCandidate_ = nullptr;
  followCandidateFrames_ = 0;
  expectedDevice_ = nullptr;
  ComRef<ID3D11DeviceContext> context;
  device->GetImmediateContext(context.put());
  if (!context) {
    logError("V1.1.0: el juego presento con un dispositivo grafico nuevo sin contexto inmediato; el plugin sigue en "
             "el anterior.");
    return adopted != nullptr;
  }

  // Identification and substitution stop while everything moves over.
  gpsReady_.store(false, std::memory_order_release);
  ID3D11Device* oldDevice = nullptr;
  ID3D11DeviceContext* oldContext = nullptr;
  ID3D11Device* dev = device.get();
  ID3D11DeviceContext* ctx = context.get();
  bool captureRestarted = true;
  {
    std::lock_guard<std::mutex> lock(playbackMutex_);
    oldDevice = device_;
    oldContext = context_;
    device_ = device.detach();
    context_ = context.detach();
    contextPeek_.store(context_);
    devicePeek_.store(device_);
    screenSlotHint_.store(nullptr);
    contextReadyTime_.store(clock::steadyNs());
    // The capture worker writes through the immediate context it was started with; what it made
    // on the old device goes while that context is still there.
    WindowCapture::instance().releaseDeviceObjects();
    if (playback_.active.load()) {
      WindowCapture::instance().deactivate();
      captureRestarted = startCaptureLocked(playback_.title, playback_.fps);
      playback_.active.store(captureRestarted);
      if (!captureRestarted) {
        playback_.resumePending.store(true);
        playback_.resumeScheduled = true;
        playback_.resumeDue = clock::steadyNs();
      }
    }
  }

  forgetDeviceObjects();
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  if (!replacer.createRedTestTexture(dev)) {
    logWarning("V1.4.0: la textura GPU de prueba no pudo crearse en el dispositivo grafico nuevo.");
  }
  if (!replacer.attachDevice(dev)) logWarning("V1.7.0: GpsTextureReplacer::attachDevice fallo.");
  if (config_.gpsWidth != 0 && config_.gpsHeight != 0) {
    replacer.createForConfiguredSize(config_.gpsWidth, config_.gpsHeight);
  }
  ConfigOverlay::instance().followGameDevice(dev, ctx);
  markAdoptedDevice(dev);
  gpsReady_.store(true, std::memory_order_release);

  releaseOldDevice(oldDevice, oldContext);
  char line[320];
  std::snprintf(line, sizeof line,
                "V1.1.0: el juego creo un dispositivo grafico nuevo (Device=0x%p, Context=0x%p); el plugin solto el "
                "anterior y rehace en el nuevo sus texturas y el panel.%s",
                static_cast<void*>(dev), static_cast<void*>(ctx),
                captureRestarted ? "" : " La captura se reanudara en cuanto pueda iniciarse.");
  logInfo(line);
  return true;
}

// What identification and substitution made or knew on the adopted device: views, textures and
// the pipeline objects it saw. Identification starts over on the next device.
void Dx11Core::forgetDeviceObjects() {
  currentPixelShader_.store(nullptr);
  currentIndexBuffer_.store(nullptr);
  tabletMeshIndexBuffer_.store(nullptr);
  ident_.resetAll();  // the registered views go before the replacer lets go of them
  viewCache_.clear();
  gpsSizePending_.store(false);
  redViewPending_.store(false);
  gpsOffscreen_.store(false);
  cameraReturnInProgress_.store(false);
  resourceProfileId_.store(0);
  state_->preparedProfileId.store(0);  // the dashboard resource is made again on the next device
  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  replacer.releaseAll();
  replacer.releaseRedTestTexture();
}

void Dx11Core::onSwapChainCreation(HWND window, IUnknown* device) {
  try {
    if (!contextAcquired_.load(std::memory_order_acquire) || !window) return;
    if (GetCurrentThreadId() != renderThread_.load(std::memory_order_relaxed)) return;
    if (window != adoptedWindow_ && (!adoptedWindow_ || IsWindow(adoptedWindow_))) return;
    ID3D11Device* const adopted = devicePeek_.load(std::memory_order_relaxed);
    if (!adopted) return;
    detour::OwnCallsScope own;
    ComRef<ID3D11Device> created;
    if (device) device->QueryInterface(__uuidof(ID3D11Device), reinterpret_cast<void**>(created.put()));
    // A Direct3D 12 queue or a Direct3D 10 device (another overlay's) is no device of ours to
    // follow: the adopted one goes on with the game's frames.
    if (!created) return;
    // A second swap chain of the same device, handed to us as itself or as what a wrapper in front
    // of it forwards to.
    if (created.get() == adopted || carriesAdoptionMark(created.get())) return;
    expectedDevice_ = created.get();
    letGoOfAdoptedDevice();
    logInfo("V1.1.0: el juego crea una cadena de presentacion nueva para su ventana; el plugin solto el dispositivo "
            "grafico anterior y sigue al nuevo en su primer cuadro.");
  } catch (...) {
    // The game's creation goes on whatever happened here.
  }
}

void Dx11Core::letGoOfAdoptedDevice() {
  gpsReady_.store(false, std::memory_order_release);
  ID3D11Device* oldDevice = nullptr;
  ID3D11DeviceContext* oldContext = nullptr;
  {
    std::lock_guard<std::mutex> lock(playbackMutex_);
    oldDevice = device_;
    oldContext = context_;
    device_ = nullptr;
    context_ = nullptr;
    contextPeek_.store(nullptr);
    devicePeek_.store(nullptr);
    screenSlotHint_.store(nullptr);
    // The worker writes into staging textures of the old device: they go while its context is
    // still there, and the worker starts again on the next device (the playback stays on).
    WindowCapture::instance().releaseDeviceObjects();
    if (playback_.active.load()) WindowCapture::instance().deactivate();
  }
  forgetDeviceObjects();
  ConfigOverlay::instance().releaseRenderer();
  releaseOldDevice(oldDevice, oldContext);
}

// Our last references to a device the game is done with. When nobody else holds the device, its
// immediate context is cleared and flushed first: a swap chain goes only once its device has
// flushed, and the game's next one on the same window waits for that.
void Dx11Core::releaseOldDevice(ID3D11Device*& device, ID3D11DeviceContext*& context) {
  detour::OwnCallsScope own;
  releaseAndClear(context);
  if (!device) return;
  unmarkDevice(device);
  device->AddRef();
  if (device->Release() == 1) {
    ID3D11DeviceContext* immediate = nullptr;
    device->GetImmediateContext(&immediate);
    if (immediate) {
      immediate->ClearState();
      immediate->Flush();
      immediate->Release();
    }
  }
  releaseAndClear(device);
}

}  // namespace zor
