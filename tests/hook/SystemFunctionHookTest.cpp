// Hooks on the real functions the plugin patches: Wine's d3d11/dxgi methods, taken from the
// vtables of a device, context and swap chain made on a hidden window, and three user32
// input functions. Each detour counts and forwards to its trampoline; the tests check that
// both ran and that removal puts every byte back.
#include <d3d11.h>
#include <d3dcompiler.h>

#include <array>
#include <cstring>

#include "HookTestSupport.h"
#include "support/GfxTestKit.h"

namespace zor::test {
namespace {

template <typename T>
void release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

class D3D11Rig {
 public:
  ~D3D11Rig() {
    release(context);
    release(device);
    release(swapChain);
    if (window) DestroyWindow(window);
    UnregisterClassW(L"ZorHookTestWindow", GetModuleHandleW(nullptr));
  }
  bool create() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZorHookTestWindow";
    RegisterClassW(&wc);
    window = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"hook test", WS_POPUP, 0, 0, 64, 64,
                             nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return false;
    const DXGI_SWAP_CHAIN_DESC sd = swapChainDesc(window, 64, 64);
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0};
    return SUCCEEDED(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 1,
                                                   D3D11_SDK_VERSION, &sd, &swapChain, &device, nullptr,
                                                   &context));
  }
  HWND window = nullptr;
  IDXGISwapChain* swapChain = nullptr;
  ID3D11Device* device = nullptr;
  ID3D11DeviceContext* context = nullptr;
};

enum Method { kPresent, kPSSetShaderResources, kPSSetShader, kDrawIndexed, kIASetIndexBuffer, kCreateTexture2D,
              kCreateShaderResourceView, kMethodCount };
std::array<std::atomic<int>, kMethodCount> g_calls;
std::array<void*, kMethodCount> g_trampoline;

template <typename Fn>
Fn trampoline(Method m) {
  return reinterpret_cast<Fn>(g_trampoline[m]);
}

using PresentFn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain*, UINT, UINT);
using PSSetShaderResourcesFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, UINT, UINT, ID3D11ShaderResourceView* const*);
using PSSetShaderFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, ID3D11PixelShader*, ID3D11ClassInstance* const*, UINT);
using DrawIndexedFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, UINT, UINT, INT);
using IASetIndexBufferFn = void(STDMETHODCALLTYPE*)(ID3D11DeviceContext*, ID3D11Buffer*, DXGI_FORMAT, UINT);
using CreateTexture2DFn = HRESULT(STDMETHODCALLTYPE*)(ID3D11Device*, const D3D11_TEXTURE2D_DESC*,
                                                      const D3D11_SUBRESOURCE_DATA*, ID3D11Texture2D**);
using CreateSrvFn = HRESULT(STDMETHODCALLTYPE*)(ID3D11Device*, ID3D11Resource*, const D3D11_SHADER_RESOURCE_VIEW_DESC*,
                                                ID3D11ShaderResourceView**);

HRESULT STDMETHODCALLTYPE presentDetour(IDXGISwapChain* s, UINT interval, UINT flags) {
  ++g_calls[kPresent];
  return trampoline<PresentFn>(kPresent)(s, interval, flags);
}
void STDMETHODCALLTYPE psSetShaderResourcesDetour(ID3D11DeviceContext* c, UINT start, UINT n,
                                                  ID3D11ShaderResourceView* const* views) {
  ++g_calls[kPSSetShaderResources];
  trampoline<PSSetShaderResourcesFn>(kPSSetShaderResources)(c, start, n, views);
}
void STDMETHODCALLTYPE psSetShaderDetour(ID3D11DeviceContext* c, ID3D11PixelShader* ps,
                                         ID3D11ClassInstance* const* instances, UINT n) {
  ++g_calls[kPSSetShader];
  trampoline<PSSetShaderFn>(kPSSetShader)(c, ps, instances, n);
}
void STDMETHODCALLTYPE drawIndexedDetour(ID3D11DeviceContext* c, UINT count, UINT start, INT base) {
  ++g_calls[kDrawIndexed];
  trampoline<DrawIndexedFn>(kDrawIndexed)(c, count, start, base);
}
void STDMETHODCALLTYPE iaSetIndexBufferDetour(ID3D11DeviceContext* c, ID3D11Buffer* b, DXGI_FORMAT f, UINT offset) {
  ++g_calls[kIASetIndexBuffer];
  trampoline<IASetIndexBufferFn>(kIASetIndexBuffer)(c, b, f, offset);
}
HRESULT STDMETHODCALLTYPE createTexture2DDetour(ID3D11Device* d, const D3D11_TEXTURE2D_DESC* desc,
                                                const D3D11_SUBRESOURCE_DATA* init, ID3D11Texture2D** out) {
  ++g_calls[kCreateTexture2D];
  return trampoline<CreateTexture2DFn>(kCreateTexture2D)(d, desc, init, out);
}
HRESULT STDMETHODCALLTYPE createSrvDetour(ID3D11Device* d, ID3D11Resource* r, const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                          ID3D11ShaderResourceView** out) {
  ++g_calls[kCreateShaderResourceView];
  return trampoline<CreateSrvFn>(kCreateShaderResourceView)(d, r, desc, out);
}

template <typename Shader>
Shader* compile(ID3D11Device* device, const char* source, const char* profile) {
  ID3DBlob* code = nullptr;
  ID3DBlob* errors = nullptr;
  Shader* shader = nullptr;
  if (SUCCEEDED(D3DCompile(source, std::strlen(source), nullptr, nullptr, nullptr, "main", profile, 0, 0, &code, &errors))) {
    if constexpr (std::is_same_v<Shader, ID3D11VertexShader>) {
      device->CreateVertexShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr, &shader);
    } else {
      device->CreatePixelShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr, &shader);
    }
  }
  release(code);
  release(errors);
  return shader;
}

// Draws one red full-target triangle with DrawIndexed into a 4x4 target and reads back the
// corner pixel: red only if the real DrawIndexed ran.
uint32_t drawAndReadPixel(D3D11Rig& rig, ID3D11VertexShader* vs, ID3D11PixelShader* ps, ID3D11Buffer* indices) {
  D3D11_TEXTURE2D_DESC td = textureDesc(4, 4, 1, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_RENDER_TARGET);
  ID3D11Texture2D* target = nullptr;
  ID3D11Texture2D* staging = nullptr;
  ID3D11RenderTargetView* rtv = nullptr;
  uint32_t pixel = 0xDEADBEEF;
  if (SUCCEEDED(rig.device->CreateTexture2D(&td, nullptr, &target)) &&
      SUCCEEDED(rig.device->CreateRenderTargetView(target, nullptr, &rtv))) {
    td.BindFlags = 0;
    td.Usage = D3D11_USAGE_STAGING;
    td.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    if (SUCCEEDED(rig.device->CreateTexture2D(&td, nullptr, &staging))) {
      ID3D11DeviceContext* c = rig.context;
      const float black[4] = {0, 0, 0, 1};
      c->ClearRenderTargetView(rtv, black);
      c->OMSetRenderTargets(1, &rtv, nullptr);
      D3D11_VIEWPORT vp{0, 0, 4, 4, 0, 1};
      c->RSSetViewports(1, &vp);
      c->IASetInputLayout(nullptr);
      c->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
      c->IASetIndexBuffer(indices, DXGI_FORMAT_R16_UINT, 0);
      c->VSSetShader(vs, nullptr, 0);
      c->PSSetShader(ps, nullptr, 0);
      c->DrawIndexed(3, 0, 0);
      c->CopyResource(staging, target);
      D3D11_MAPPED_SUBRESOURCE mapped;
      if (SUCCEEDED(c->Map(staging, 0, D3D11_MAP_READ, 0, &mapped))) {
        std::memcpy(&pixel, mapped.pData, 4);
        c->Unmap(staging, 0);
      }
      c->OMSetRenderTargets(0, nullptr, nullptr);
    }
  }
  release(staging);
  release(rtv);
  release(target);
  return pixel;
}

constexpr uint32_t kRed = 0xFF0000FF;  // R8G8B8A8 read as little-endian uint32

TEST_F(HookTest, Direct3D11MethodsOfThePluginHookAndCallThrough) {
  D3D11Rig rig;
  ASSERT_TRUE(rig.create());
  const std::array<void*, kMethodCount> targets = {
      vtableEntry(rig.swapChain, 8),  vtableEntry(rig.context, 8), vtableEntry(rig.context, 9),
      vtableEntry(rig.context, 12),   vtableEntry(rig.context, 19), vtableEntry(rig.device, 5),
      vtableEntry(rig.device, 7)};
  const std::array<void*, kMethodCount> detours = {
      addr(&presentDetour),         addr(&psSetShaderResourcesDetour), addr(&psSetShaderDetour),
      addr(&drawIndexedDetour),     addr(&iaSetIndexBufferDetour),     addr(&createTexture2DDetour),
      addr(&createSrvDetour)};

  // The resources the checks need, made before anything is hooked.
  ID3D11VertexShader* vs = compile<ID3D11VertexShader>(
      rig.device,
      "float4 main(uint id : SV_VertexID) : SV_Position {"
      "  float2 p = float2((id << 1) & 2, id & 2);"
      "  return float4(p * float2(2, -2) + float2(-1, 1), 0, 1); }",
      "vs_4_0");
  ID3D11PixelShader* ps = compile<ID3D11PixelShader>(
      rig.device, "float4 main() : SV_Target { return float4(1, 0, 0, 1); }", "ps_4_0");
  ASSERT_TRUE(vs && ps);
  const uint16_t indexData[3] = {0, 1, 2};
  D3D11_BUFFER_DESC bd{sizeof indexData, D3D11_USAGE_IMMUTABLE, D3D11_BIND_INDEX_BUFFER, 0, 0, 0};
  D3D11_SUBRESOURCE_DATA init{indexData, 0, 0};
  ID3D11Buffer* indices = nullptr;
  ASSERT_HRESULT_SUCCEEDED(rig.device->CreateBuffer(&bd, &init, &indices));
  ASSERT_EQ(drawAndReadPixel(rig, vs, ps, indices), kRed) << "the rig itself must draw";

  std::array<std::vector<uint8_t>, kMethodCount> pristine;
  for (int m = 0; m < kMethodCount; ++m) {
    pristine[m] = codeBytes(targets[m], 16);
    g_calls[m] = 0;
    ASSERT_EQ(MH_CreateHook(targets[m], detours[m], &g_trampoline[m]), MH_OK) << "method " << m;
  }
  ASSERT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);

  // CreateTexture2D and CreateShaderResourceView return real objects.
  const D3D11_TEXTURE2D_DESC td = textureDesc(8, 8);
  ID3D11Texture2D* texture = nullptr;
  EXPECT_EQ(rig.device->CreateTexture2D(&td, nullptr, &texture), S_OK);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(g_calls[kCreateTexture2D], 1);
  ID3D11ShaderResourceView* view = nullptr;
  EXPECT_EQ(rig.device->CreateShaderResourceView(texture, nullptr, &view), S_OK);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(g_calls[kCreateShaderResourceView], 1);

  // The state setters really set state.
  rig.context->PSSetShaderResources(3, 1, &view);
  ID3D11ShaderResourceView* bound = nullptr;
  rig.context->PSGetShaderResources(3, 1, &bound);
  EXPECT_EQ(bound, view);
  release(bound);
  EXPECT_EQ(g_calls[kPSSetShaderResources], 1);
  ID3D11ShaderResourceView* none = nullptr;
  rig.context->PSSetShaderResources(3, 1, &none);

  rig.context->PSSetShader(ps, nullptr, 0);
  ID3D11PixelShader* boundShader = nullptr;
  rig.context->PSGetShader(&boundShader, nullptr, nullptr);
  EXPECT_EQ(boundShader, ps);
  release(boundShader);
  EXPECT_EQ(g_calls[kPSSetShader], 1);

  rig.context->IASetIndexBuffer(indices, DXGI_FORMAT_R16_UINT, 0);
  ID3D11Buffer* boundIndices = nullptr;
  DXGI_FORMAT format = DXGI_FORMAT_UNKNOWN;
  UINT offset = 1;
  rig.context->IAGetIndexBuffer(&boundIndices, &format, &offset);
  EXPECT_EQ(boundIndices, indices);
  EXPECT_EQ(format, DXGI_FORMAT_R16_UINT);
  release(boundIndices);
  EXPECT_EQ(g_calls[kIASetIndexBuffer], 1);

  // A draw through the hooked DrawIndexed still draws (and goes through the other hooks too).
  EXPECT_EQ(drawAndReadPixel(rig, vs, ps, indices), kRed);
  EXPECT_EQ(g_calls[kDrawIndexed], 1);

  EXPECT_EQ(rig.swapChain->Present(0, 0), S_OK);
  EXPECT_EQ(g_calls[kPresent], 1);

  // Disabled: nothing reaches the detours any more.
  ASSERT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_OK);
  std::array<int, kMethodCount> before;
  for (int m = 0; m < kMethodCount; ++m) before[m] = g_calls[m];
  EXPECT_EQ(drawAndReadPixel(rig, vs, ps, indices), kRed);
  EXPECT_EQ(rig.swapChain->Present(0, 0), S_OK);
  for (int m = 0; m < kMethodCount; ++m) EXPECT_EQ(g_calls[m], before[m]) << "method " << m;

  // Enabled again one by one, then removed one by one: every byte comes back.
  for (int m = 0; m < kMethodCount; ++m) ASSERT_EQ(MH_EnableHook(targets[m]), MH_OK) << "method " << m;
  EXPECT_EQ(rig.swapChain->Present(0, 0), S_OK);
  EXPECT_EQ(g_calls[kPresent], before[kPresent] + 1);
  for (int m = 0; m < kMethodCount; ++m) {
    ASSERT_EQ(MH_RemoveHook(targets[m]), MH_OK) << "method " << m;
    EXPECT_EQ(codeBytes(targets[m], 16), pristine[m]) << "method " << m;
  }
  EXPECT_EQ(drawAndReadPixel(rig, vs, ps, indices), kRed);

  release(view);
  release(texture);
  release(indices);
  release(ps);
  release(vs);
}

// user32's input functions, hooked as the panel's input lock does.
using SetCursorPosFn = BOOL(WINAPI*)(int, int);
using GetRawInputDataFn = UINT(WINAPI*)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);
using GetRawInputBufferFn = UINT(WINAPI*)(PRAWINPUT, PUINT, UINT);

std::atomic<int> g_cursorCalls, g_rawDataCalls, g_rawBufferCalls;
SetCursorPosFn volatile g_setCursorPos;
GetRawInputDataFn volatile g_getRawInputData;
GetRawInputBufferFn volatile g_getRawInputBuffer;

BOOL WINAPI setCursorPosDetour(int x, int y) {
  ++g_cursorCalls;
  return g_setCursorPos(x, y);
}
UINT WINAPI getRawInputDataDetour(HRAWINPUT h, UINT command, LPVOID data, PUINT size, UINT header) {
  ++g_rawDataCalls;
  return g_getRawInputData(h, command, data, size, header);
}
UINT WINAPI getRawInputBufferDetour(PRAWINPUT data, PUINT size, UINT header) {
  ++g_rawBufferCalls;
  return g_getRawInputBuffer(data, size, header);
}

TEST_F(HookTest, User32InputFunctionsHookAndCallThrough) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  ASSERT_NE(user32, nullptr);
  SetCursorPosFn volatile setCursorPos = reinterpret_cast<SetCursorPosFn>(GetProcAddress(user32, "SetCursorPos"));
  GetRawInputDataFn volatile getRawInputData = reinterpret_cast<GetRawInputDataFn>(GetProcAddress(user32, "GetRawInputData"));
  GetRawInputBufferFn volatile getRawInputBuffer =
      reinterpret_cast<GetRawInputBufferFn>(GetProcAddress(user32, "GetRawInputBuffer"));
  ASSERT_TRUE(setCursorPos && getRawInputData && getRawInputBuffer);
  void* const targets[] = {addr(setCursorPos), addr(getRawInputData), addr(getRawInputBuffer)};
  std::vector<uint8_t> pristine[3];
  for (int i = 0; i < 3; ++i) pristine[i] = codeBytes(targets[i], 16);

  // What the unhooked functions answer, to compare with the hooked ones.
  UINT size = 123;
  const UINT rawDataPlain = getRawInputData(reinterpret_cast<HRAWINPUT>(0x1234), RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER));
  UINT bufferSize = 123;
  const UINT rawBufferPlain = getRawInputBuffer(nullptr, &bufferSize, sizeof(RAWINPUTHEADER));
  const UINT bufferSizePlain = bufferSize;

  void* original = nullptr;
  ASSERT_EQ(MH_CreateHook(targets[0], addr(&setCursorPosDetour), &original), MH_OK);
  g_setCursorPos = reinterpret_cast<SetCursorPosFn>(original);
  ASSERT_EQ(MH_CreateHook(targets[1], addr(&getRawInputDataDetour), &original), MH_OK);
  g_getRawInputData = reinterpret_cast<GetRawInputDataFn>(original);
  ASSERT_EQ(MH_CreateHook(targets[2], addr(&getRawInputBufferDetour), &original), MH_OK);
  g_getRawInputBuffer = reinterpret_cast<GetRawInputBufferFn>(original);
  g_cursorCalls = g_rawDataCalls = g_rawBufferCalls = 0;
  ASSERT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);

  EXPECT_TRUE(setCursorPos(37, 41));
  POINT p{};
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, 37);
  EXPECT_EQ(p.y, 41);
  EXPECT_EQ(g_cursorCalls, 1);

  size = 123;
  EXPECT_EQ(getRawInputData(reinterpret_cast<HRAWINPUT>(0x1234), RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)),
            rawDataPlain);
  EXPECT_EQ(g_rawDataCalls, 1);
  bufferSize = 123;
  EXPECT_EQ(getRawInputBuffer(nullptr, &bufferSize, sizeof(RAWINPUTHEADER)), rawBufferPlain);
  EXPECT_EQ(bufferSize, bufferSizePlain);
  EXPECT_EQ(g_rawBufferCalls, 1);

  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(MH_RemoveHook(targets[i]), MH_OK);
    EXPECT_EQ(codeBytes(targets[i], 16), pristine[i]) << i;
  }
  EXPECT_TRUE(setCursorPos(5, 6));
  EXPECT_EQ(g_cursorCalls, 1);
}

}  // namespace
}  // namespace zor::test
