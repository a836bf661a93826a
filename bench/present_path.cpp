// Cost of the per-frame path: the Present detour with nothing to do, and a pass-through
// PSSetShader / IASetIndexBuffer, each next to the unhooked call. Rounds of the two variants
// alternate; each figure is the median over rounds, and the ratio is hooked / unhooked.
//
// The first half installs the real hooks on Wine's D3D11 and compares the game's calls with the hooks
// enabled and disabled. The second half calls our detour entries directly (the game's method as
// trampoline, or a no-op Present), which isolates our own cost from the runtime's.
#include <windows.h>

#include <cstdio>

#include "BenchGame.h"
#include "BenchKit.h"
#include "dx11/Detours.h"
#include "hook/MinHook.h"

using namespace zor;
using namespace zor::bench;

namespace {

HRESULT STDMETHODCALLTYPE nopPresent(IDXGISwapChain*, UINT, UINT) { return S_OK; }

void report(const char* what, std::pair<double, double> r) { bench::report(what, r, 58, 9); }

}  // namespace

int main() {
  GameWindow game = makeGameWindow(L"ZorBenchGame");
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
  if (!startCore(core)) return 1;
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
