// The factory's swap-chain creation: the game making a swap chain for its window on a new device
// lets the graphics core let go of the old device before the runtime looks at the window.
#include "core/DetourGuard.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"

namespace zor {

HRESULT STDMETHODCALLTYPE detours::createSwapChain(IDXGIFactory* factory, IUnknown* device, DXGI_SWAP_CHAIN_DESC* desc,
                                                   IDXGISwapChain** swapChain) {
  detour::Scope scope;
  Dx11Core& core = Dx11Core::instance();
  if (!scope.nested() && desc) core.onSwapChainCreation(desc->OutputWindow, device);
  auto fn = reinterpret_cast<CreateSwapChainFn>(core.trampoline(Hook::CreateSwapChain));
  if (!fn) return DXGI_ERROR_INVALID_CALL;
  detour::GameCallScope game;
  return fn(factory, device, desc, swapChain);
}

HRESULT STDMETHODCALLTYPE detours::createSwapChainForHwnd(IDXGIFactory* factory, IUnknown* device, HWND window,
                                                          const void* desc, const void* fullscreenDesc,
                                                          IDXGIOutput* output, IDXGISwapChain** swapChain) {
  detour::Scope scope;
  Dx11Core& core = Dx11Core::instance();
  if (!scope.nested()) core.onSwapChainCreation(window, device);
  auto fn = reinterpret_cast<CreateSwapChainForHwndFn>(core.trampoline(Hook::CreateSwapChainForHwnd));
  if (!fn) return DXGI_ERROR_INVALID_CALL;
  detour::GameCallScope game;
  return fn(factory, device, window, desc, fullscreenDesc, output, swapChain);
}

}  // namespace zor
