// The functions the hooks jump to, with the exact signatures of the methods they replace, and
// the signatures of the trampolines through which the game's methods are still called.
// Every entry opens a detour::Scope first; when the thread is already inside one of our
// detours (the plugin's own D3D11 calls) it goes straight to the trampoline.
#pragma once

#include <d3d11.h>
#include <dxgi.h>

namespace zor {

using PresentFn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain*, UINT, UINT);
using PSSetShaderResourcesFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, UINT, UINT,
                                                        ID3D11ShaderResourceView* const*);
using PSSetShaderFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, ID3D11PixelShader*, ID3D11ClassInstance* const*,
                                               UINT);
using IASetIndexBufferFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, ID3D11Buffer*, DXGI_FORMAT, UINT);
using CreateTexture2DHookFn = HRESULT(STDMETHODCALLTYPE*)(ID3D11Device*, const D3D11_TEXTURE2D_DESC*,
                                                          const D3D11_SUBRESOURCE_DATA*, ID3D11Texture2D**);
using CreateShaderResourceViewFn = HRESULT(STDMETHODCALLTYPE*)(ID3D11Device*, ID3D11Resource*,
                                                               const D3D11_SHADER_RESOURCE_VIEW_DESC*,
                                                               ID3D11ShaderResourceView**);
using DrawIndexedFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, UINT, UINT, INT);
using CreateSwapChainFn = HRESULT(STDMETHODCALLTYPE*)(IDXGIFactory*, IUnknown*, DXGI_SWAP_CHAIN_DESC*,
                                                      IDXGISwapChain**);
using CreateSwapChainForHwndFn = HRESULT(STDMETHODCALLTYPE*)(IDXGIFactory*, IUnknown*, HWND, const void*, const void*,
                                                             IDXGIOutput*, IDXGISwapChain**);

namespace detours {

HRESULT STDMETHODCALLTYPE present(IDXGISwapChain* swapChain, UINT syncInterval, UINT flags);
void STDMETHODCALLTYPE psSetShaderResources(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                                            ID3D11ShaderResourceView* const* views);
void STDMETHODCALLTYPE psSetShader(ID3D11DeviceContext* context, ID3D11PixelShader* shader,
                                   ID3D11ClassInstance* const* instances, UINT numInstances);
void STDMETHODCALLTYPE iaSetIndexBuffer(ID3D11DeviceContext* context, ID3D11Buffer* buffer, DXGI_FORMAT format,
                                        UINT offset);
HRESULT STDMETHODCALLTYPE createTexture2D(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* desc,
                                          const D3D11_SUBRESOURCE_DATA* initialData, ID3D11Texture2D** texture);
HRESULT STDMETHODCALLTYPE createShaderResourceView(ID3D11Device* device, ID3D11Resource* resource,
                                                   const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                                   ID3D11ShaderResourceView** view);
void STDMETHODCALLTYPE drawIndexed(ID3D11DeviceContext* context, UINT indexCount, UINT startIndex, INT baseVertex);
// IDXGIFactory::CreateSwapChain and IDXGIFactory2::CreateSwapChainForHwnd (the descriptions are
// passed through untouched, so they are not spelled out).
HRESULT STDMETHODCALLTYPE createSwapChain(IDXGIFactory* factory, IUnknown* device, DXGI_SWAP_CHAIN_DESC* desc,
                                          IDXGISwapChain** swapChain);
HRESULT STDMETHODCALLTYPE createSwapChainForHwnd(IDXGIFactory* factory, IUnknown* device, HWND window,
                                                 const void* desc, const void* fullscreenDesc, IDXGIOutput* output,
                                                 IDXGISwapChain** swapChain);

}  // namespace detours
}  // namespace zor
