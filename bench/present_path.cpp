// Cost of the per-frame path: the Present detour with nothing to do, and a pass-through
// PSSetShader / IASetIndexBuffer, each next to the unhooked call. Rounds of the two variants
// alternate; each figure is the median over rounds, and the ratio is hooked / unhooked.
//
// The first half installs the real hooks on Wine's D3D11 and compares the game's calls with the hooks
// enabled and disabled. The second half calls our detour entries directly (the game's method as
// trampoline, or a no-op Present), which isolates our own cost from the runtime's.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "dx11/ComRef.h"
#include "dx11/Detours.h"
#include "dx11/Dx11Core.h"
#include "hook/MinHook.h"

namespace zor {
// Access to the core's trampolines for the isolated measurement.
struct Dx11CoreTestAccess {
  static void setTrampoline(Dx11Core& c, Hook h, void* p) { c.trampolines_[static_cast<size_t>(h)].store(p); }
};
}  // namespace zor

using namespace zor;

namespace {

HRESULT STDMETHODCALLTYPE nopPresent(IDXGISwapChain*, UINT, UINT) { return S_OK; }

double nowNs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// Alternates rounds of base and other, each of `calls` calls; returns {median base, median other} in ns per call.
std::pair<double, double> compare(int rounds, int calls, const std::function<void()>& beforeBase,
                                  const std::function<void()>& base, const std::function<void()>& beforeOther,
                                  const std::function<void()>& other) {
  std::vector<double> a, b;
  for (int r = 0; r < rounds; ++r) {
    beforeBase();
    double t0 = nowNs();
    for (int i = 0; i < calls; ++i) base();
    a.push_back((nowNs() - t0) / calls);
    beforeOther();
    t0 = nowNs();
    for (int i = 0; i < calls; ++i) other();
    b.push_back((nowNs() - t0) / calls);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  return {median(a), median(b)};
}

void report(const char* what, std::pair<double, double> r) {
  std::printf("   %-58s unhooked %9.1f ns   hooked %9.1f ns   ratio %6.2fx\n", what, r.first, r.second,
              r.second / r.first);
}

struct Window {
  HWND hwnd = nullptr;
  ComRef<IDXGISwapChain> swapChain;
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
};

Window makeWindow() {
  Window w;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZorBenchGame";
  RegisterClassExW(&wc);
  RECT rc{0, 0, 320, 200};
  AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, FALSE);
  w.hwnd = CreateWindowExW(0, wc.lpszClassName, L"bench game", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                           rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, wc.hInstance, nullptr);
  DXGI_SWAP_CHAIN_DESC sd{};
  sd.BufferDesc.Width = 320;
  sd.BufferDesc.Height = 200;
  sd.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  sd.SampleDesc.Count = 1;
  sd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  sd.BufferCount = 1;
  sd.OutputWindow = w.hwnd;
  sd.Windowed = TRUE;
  sd.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
  D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &sd,
                                w.swapChain.put(), w.device.put(), nullptr, w.context.put());
  return w;
}

void* slot(void* object, size_t index) { return (*reinterpret_cast<void***>(object))[index]; }

}  // namespace

int main() {
  Window game = makeWindow();
  if (!game.swapChain) {
    std::printf("   no D3D11 swap chain: nothing measured\n");
    return 1;
  }
  ID3D11DeviceContext* ctx = game.context.get();
  IDXGISwapChain* sc = game.swapChain.get();
  ComRef<ID3D11Buffer> indexBuffer;
  D3D11_BUFFER_DESC bd{};
  bd.ByteWidth = 64;
  bd.BindFlags = D3D11_BIND_INDEX_BUFFER;
  game.device->CreateBuffer(&bd, nullptr, indexBuffer.put());
  ID3D11Buffer* ib = indexBuffer.get();
  Dx11Core& core = Dx11Core::instance();
  auto nothing = [] {};

  // ---- The real hooks, enabled against disabled.
  if (!core.initialize()) return 1;
  for (int i = 0; i < 1000 && !(core.hooksInstalled() && !core.bootstrapRunning()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!core.hooksInstalled()) {
    std::printf("   hooks not installed: real-hook figures skipped\n");
  } else {
  std::printf("   -- the game's calls with our hooks enabled vs disabled\n");
  sc->Present(0, 0);  // adopts the context
  void* presentTarget = core.hookTarget(Hook::Present);
  void* shaderTarget = core.hookTarget(Hook::PSSetShader);
  void* indexTarget = core.hookTarget(Hook::IASetIndexBuffer);
  auto toggle = [](void* target, bool on) {
    return [target, on] { on ? MH_EnableHook(target) : MH_DisableHook(target); };
  };
  report("Present, nothing to do (Wine's Present)",
         compare(11, 100, toggle(presentTarget, false), [&] { sc->Present(0, 0); }, toggle(presentTarget, true),
                 [&] { sc->Present(0, 0); }));
  report("PSSetShader pass-through",
         compare(21, 20000, toggle(shaderTarget, false), [&] { ctx->PSSetShader(nullptr, nullptr, 0); },
                 toggle(shaderTarget, true), [&] { ctx->PSSetShader(nullptr, nullptr, 0); }));
  report("IASetIndexBuffer pass-through",
         compare(21, 20000, toggle(indexTarget, false), [&] { ctx->IASetIndexBuffer(ib, DXGI_FORMAT_R16_UINT, 0); },
                 toggle(indexTarget, true), [&] { ctx->IASetIndexBuffer(ib, DXGI_FORMAT_R16_UINT, 0); }));
  for (void* t : {presentTarget, shaderTarget, indexTarget}) MH_EnableHook(t);
  }
  core.shutdown();

  // ---- Our code alone.
  std::printf("   -- detour bodies called directly (our own cost)\n");
  Dx11CoreTestAccess::setTrampoline(core, Hook::Present, reinterpret_cast<void*>(&nopPresent));
  Dx11CoreTestAccess::setTrampoline(core, Hook::PSSetShader, slot(ctx, 9));
  Dx11CoreTestAccess::setTrampoline(core, Hook::IASetIndexBuffer, slot(ctx, 19));
  detours::present(sc, 0, 0);  // adopts the context; later frames have nothing to do
  if (!core.contextAcquired()) {
    std::printf("   context not acquired: nothing measured\n");
    return 1;
  }
  PresentFn volatile nop = &nopPresent;
  report("Present, nothing to do (game's Present = no-op)",
         compare(21, 20000, nothing, [&] { nop(sc, 0, 0); }, nothing, [&] { detours::present(sc, 0, 0); }));
  report("PSSetShader pass-through",
         compare(21, 20000, nothing, [&] { ctx->PSSetShader(nullptr, nullptr, 0); }, nothing,
                 [&] { detours::psSetShader(ctx, nullptr, nullptr, 0); }));
  report("IASetIndexBuffer pass-through",
         compare(21, 20000, nothing, [&] { ctx->IASetIndexBuffer(ib, DXGI_FORMAT_R16_UINT, 0); }, nothing,
                 [&] { detours::iaSetIndexBuffer(ctx, ib, DXGI_FORMAT_R16_UINT, 0); }));
  for (Hook h : {Hook::Present, Hook::PSSetShader, Hook::IASetIndexBuffer}) {
    Dx11CoreTestAccess::setTrampoline(core, h, nullptr);
  }

  return 0;
}
