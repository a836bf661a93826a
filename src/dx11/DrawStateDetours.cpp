// Detours that observe draw state: the bound pixel shader and index buffer, and resource
// creation, where the tablet overlay texture is recognised (rule in GpsCandidateTracking.cpp).
#include "core/Logger.h"
#include "core/DetourGuard.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "gps/Calibration.h"
#include "core/HookApi.h"

namespace zor {

namespace {
// Logs line the first time flag is raised (one relaxed load on the common path).
__attribute__((noinline, cold)) void firstCallSlow(std::atomic<bool>& flag, const char* line) noexcept {
  if (!flag.exchange(true)) logInfo(line);
}
inline void firstCall(std::atomic<bool>& flag, const char* line) noexcept {
  if (!flag.load(std::memory_order_relaxed)) firstCallSlow(flag, line);
}
}  // namespace

// ---- entries

// PSSetShader and IASetIndexBuffer run thousands of times a frame and only note their argument:
// one TLS load tells the game's calls from ours, a store, and a jump to the game's method. No
// frame of ours stays on the stack (every call here is a jump), so shut-down has nothing to wait
// for; anything unusual (the first call's line, a TLS word outside the environment block) goes
// through the plain version.
namespace {

__attribute__((noinline)) void STDMETHODCALLTYPE psSetShaderPlain(ID3D11DeviceContext* context,
                                                                  ID3D11PixelShader* shader,
                                                                  ID3D11ClassInstance* const* instances,
                                                                  UINT numInstances) {
  Dx11Core& core = Dx11Core::instance();
  if (!detour::ownCallInProgress()) core.notePixelShader(shader);
  if (auto fn = reinterpret_cast<PSSetShaderFn>(core.trampoline(Hook::PSSetShader))) {
    fn(context, shader, instances, numInstances);
  }
}

__attribute__((noinline)) void STDMETHODCALLTYPE iaSetIndexBufferPlain(ID3D11DeviceContext* context,
                                                                       ID3D11Buffer* buffer, DXGI_FORMAT format,
                                                                       UINT offset) {
  Dx11Core& core = Dx11Core::instance();
  if (!detour::ownCallInProgress()) core.noteIndexBuffer(buffer);
  if (auto fn = reinterpret_cast<IASetIndexBufferFn>(core.trampoline(Hook::IASetIndexBuffer))) {
    fn(context, buffer, format, offset);
  }
}

}  // namespace

void STDMETHODCALLTYPE detours::psSetShader(ID3D11DeviceContext* context, ID3D11PixelShader* shader,
                                            ID3D11ClassInstance* const* instances, UINT numInstances) {
  Dx11Core& core = Dx11Core::existing();
  bool own = false;
  if (!detour::ownCallKnown(own) || (!own && !core.notePixelShaderFast(shader))) {
    return psSetShaderPlain(context, shader, instances, numInstances);
  }
  if (auto fn = reinterpret_cast<PSSetShaderFn>(core.trampoline(Hook::PSSetShader))) {
    return fn(context, shader, instances, numInstances);
  }
}

void STDMETHODCALLTYPE detours::iaSetIndexBuffer(ID3D11DeviceContext* context, ID3D11Buffer* buffer,
                                                 DXGI_FORMAT format, UINT offset) {
  Dx11Core& core = Dx11Core::existing();
  bool own = false;
  if (!detour::ownCallKnown(own) || (!own && !core.noteIndexBufferFast(buffer))) {
    return iaSetIndexBufferPlain(context, buffer, format, offset);
  }
  if (auto fn = reinterpret_cast<IASetIndexBufferFn>(core.trampoline(Hook::IASetIndexBuffer))) {
    return fn(context, buffer, format, offset);
  }
}

HRESULT STDMETHODCALLTYPE detours::createTexture2D(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* desc,
                                                   const D3D11_SUBRESOURCE_DATA* initialData,
                                                   ID3D11Texture2D** texture) {
  detour::Scope scope;
  Dx11Core& core = Dx11Core::instance();
  if (scope.nested()) {
    auto fn = reinterpret_cast<CreateTexture2DHookFn>(core.trampoline(Hook::CreateTexture2D));
    return fn ? fn(device, desc, initialData, texture) : E_FAIL;
  }
  return core.onCreateTexture2D(device, desc, initialData, texture);
}

HRESULT STDMETHODCALLTYPE detours::createShaderResourceView(ID3D11Device* device, ID3D11Resource* resource,
                                                            const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                                            ID3D11ShaderResourceView** view) {
  detour::Scope scope;
  Dx11Core& core = Dx11Core::instance();
  HRESULT hr = E_FAIL;
  if (scope.nested()) {
    auto fn = reinterpret_cast<CreateShaderResourceViewFn>(core.trampoline(Hook::CreateShaderResourceView));
    if (fn) hr = fn(device, resource, desc, view);
  } else {
    hr = core.onCreateShaderResourceView(device, resource, desc, view);
  }
  // Ours or the game's, a new view may sit where a released one was: what was known is stale.
  if (SUCCEEDED(hr) && view) core.forgetView(*view);
  return hr;
}

// ---- bodies

void Dx11Core::notePixelShader(ID3D11PixelShader* shader) noexcept {
  firstCall(firstPixelShaderSeen_, "V1.13.0: primera llamada real de PSSetShader interceptada correctamente.");
  currentPixelShader_.store(shader, std::memory_order_relaxed);
}

void Dx11Core::noteIndexBuffer(ID3D11Buffer* buffer) noexcept {
  firstCall(firstIASetIndexBufferSeen_, "V0.9.2: primera llamada real de IASetIndexBuffer interceptada correctamente.");
  currentIndexBuffer_.store(buffer, std::memory_order_relaxed);
}

void Dx11Core::onPSSetShader(ID3D11DeviceContext* context, ID3D11PixelShader* shader,
                             ID3D11ClassInstance* const* instances, UINT numInstances) {
  notePixelShader(shader);
  if (auto fn = reinterpret_cast<PSSetShaderFn>(trampoline(Hook::PSSetShader))) fn(context, shader, instances, numInstances);
}

void Dx11Core::onIASetIndexBuffer(ID3D11DeviceContext* context, ID3D11Buffer* buffer, DXGI_FORMAT format,
                                  UINT offset) {
  noteIndexBuffer(buffer);
  if (auto fn = reinterpret_cast<IASetIndexBufferFn>(trampoline(Hook::IASetIndexBuffer))) {
    fn(context, buffer, format, offset);
  }
}

HRESULT Dx11Core::onCreateTexture2D(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* desc,
                                    const D3D11_SUBRESOURCE_DATA* initialData, ID3D11Texture2D** texture) {
  firstCall(firstCreateTexture2DSeen_, "V1.15.0: primera llamada real de CreateTexture2D interceptada correctamente.");
  auto fn = reinterpret_cast<CreateTexture2DHookFn>(trampoline(Hook::CreateTexture2D));
  if (!fn) return E_FAIL;
  const HRESULT hr = fn(device, desc, initialData, texture);
  try {
    // A texture of a device the game has just made waits for that device's first Present.
    if (device && device == devicePeek_.load(std::memory_order_relaxed)) {
      confirmOverlayAtCreation(desc, hr, texture);  // GpsCandidateTracking.cpp
    }
  } catch (...) {
  }
  return hr;
}

HRESULT Dx11Core::onCreateShaderResourceView(ID3D11Device* device, ID3D11Resource* resource,
                                             const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                             ID3D11ShaderResourceView** view) {
  firstCall(firstCreateShaderResourceViewSeen_,
            "V0.6.2: primera llamada real de CreateShaderResourceView interceptada correctamente.");
  auto fn = reinterpret_cast<CreateShaderResourceViewFn>(trampoline(Hook::CreateShaderResourceView));
  if (!fn) return E_FAIL;
  return fn(device, resource, desc, view);
}

void Dx11Core::updateDrawIndexedHook() {
  if (!drawIndexedCreated_.load() || hooksClosing_.load()) return;
  const GameState& s = *state_;
  const uint32_t profile = s.truckProfileId.load();
  const bool wanted = playbackTarget() == kTargetDashboard && profile != 0 && s.preparedProfileId.load() == profile &&
                      (playback_.active.load() || calibrationMode() || config_.debugForceRed);
  if (wanted == drawIndexedEnabled_.load()) return;
  void* target = hookTarget(Hook::DrawIndexed);
  if (!target) return;
  const HookApi& api = hookApi();
  if (wanted) {
    MH_STATUS st = api.enableHook(target);
    if (st == MH_OK || st == MH_ERROR_ENABLED) {
      drawIndexedEnabled_.store(true);
    } else {
      logWarning(std::string("GPS original: no se pudo habilitar DrawIndexed: ") + hookStatusText(st));
    }
  } else {
    MH_STATUS st = api.disableHook(target);
    if (st == MH_OK || st == MH_ERROR_NOT_CREATED || st == MH_ERROR_DISABLED) {
      drawIndexedEnabled_.store(false);
    } else {
      logWarning(std::string("GPS original: no se pudo deshabilitar DrawIndexed: ") + hookStatusText(st));
    }
  }
}

}  // namespace zor
