// Cost of the PSSetShaderResources detour, the hottest one: per call, with identification armed
// and after it has stopped, for a texture that fails the plausibility filter and for the tablet
// GPS view itself (identified, and substituted as with the default calibration mode), each next
// to the unhooked call. Rounds of the two variants alternate; each figure is the median over
// rounds, and the ratio is hooked / unhooked.
//
// Part 1 installs the real hooks on Wine's D3D11 and compares the game's call with the hook
// enabled and disabled. Part 2 calls the detour entry directly with the game's method as
// trampoline, which isolates our own cost from the hook engine's jump.
#include <windows.h>
#include <d3dcompiler.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "BenchGame.h"
#include "BenchKit.h"
#include "core/Clock.h"
#include "dx11/Detours.h"
#include "gps/GpsTextureReplacer.h"
#include "hook/MinHook.h"

using namespace zor;
using namespace zor::bench;

namespace {

void report(const char* what, std::pair<double, double> r) { bench::report(what, r, 62, 8); }

ComRef<ID3D11PixelShader> pixelShader(ID3D11Device* device, const char* colour) {
  using CompileFn = decltype(&D3DCompile);
  static HMODULE module = LoadLibraryW(L"d3dcompiler_47.dll");
  auto compile = module ? reinterpret_cast<CompileFn>(GetProcAddress(module, "D3DCompile")) : nullptr;
  ComRef<ID3D11PixelShader> shader;
  if (!compile) return shader;
  char source[128];
  std::snprintf(source, sizeof source, "float4 main(float4 p : SV_Position) : SV_Target { return float4(%s); }",
                colour);
  ComRef<ID3DBlob> code, errors;
  if (FAILED(compile(source, std::strlen(source), nullptr, nullptr, nullptr, "main", "ps_4_0", 0, 0, code.put(),
                     errors.put())))
    return shader;
  device->CreatePixelShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr, shader.put());
  return shader;
}

struct TextureView {
  ComRef<ID3D11Texture2D> texture;
  ComRef<ID3D11ShaderResourceView> view;
};

TextureView textureView(ID3D11Device* device, UINT w, UINT h, UINT mips, DXGI_FORMAT format, UINT bind) {
  D3D11_TEXTURE2D_DESC d{};
  d.Width = w;
  d.Height = h;
  d.MipLevels = mips;
  d.ArraySize = 1;
  d.Format = format;
  d.SampleDesc.Count = 1;
  d.BindFlags = bind;
  TextureView tv;
  device->CreateTexture2D(&d, nullptr, tv.texture.put());
  if (tv.texture) device->CreateShaderResourceView(tv.texture.get(), nullptr, tv.view.put());
  return tv;
}

}  // namespace

int main() {
  GameWindow game = makeGameWindow(L"ZorBenchPsSetShaderResources");
  if (!game.swapChain) {
    std::printf("   no D3D11 swap chain: nothing measured\n");
    return 1;
  }
  ID3D11Device* device = game.device.get();
  ID3D11DeviceContext* ctx = game.context.get();
  ComRef<ID3D11PixelShader> glass = pixelShader(device, "0.2, 0.4, 0.6, 0.5");
  ComRef<ID3D11PixelShader> screen = pixelShader(device, "1, 1, 1, 1");
  // The tablet GPS texture and a texture no GPS screen could be (64 x 64).
  TextureView gps = textureView(device, 1024, 1024, 11, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB,
                                D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET);
  TextureView small = textureView(device, 64, 64, 1, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE);
  if (!glass || !screen || !gps.view || !small.view) {
    std::printf("   shaders or textures could not be created: nothing measured\n");
    return 1;
  }
  ID3D11ShaderResourceView* gpsView = gps.view.get();
  ID3D11ShaderResourceView* smallView = small.view.get();

  Dx11Core& core = Dx11Core::instance();
  GpsIdentification& id = core.identification();
  auto armed = [&] {  // identification running, its 2-second window restarted
    id.firstHookTime.store(clock::steadyNs());
    id.gpsSearchActive.store(true);
  };
  auto stopped = [&] { id.gpsSearchActive.store(false); };
  // The game's binding of the tablet screen: slot 6 under its two shaders.
  auto identify = [&](const std::function<void(UINT, ID3D11ShaderResourceView*)>& bind,
                      const std::function<void(ID3D11PixelShader*)>& useShader) {
    useShader(glass.get());
    bind(6, gpsView);
    useShader(screen.get());
    bind(6, gpsView);
    return id.overlayHookCount.load() >= 1;
  };
  auto both = [](const std::function<void()>& a, const std::function<void()>& b) {
    return [a, b] {
      a();
      b();
    };
  };
  constexpr int kRounds = 21;
  constexpr int kCalls = 20000;

  // ---- Part 1: the real hook, enabled against disabled.
  if (!startCore(core)) return 1;
  if (!core.hooksInstalled()) {
    std::printf("   hooks not installed: real-hook figures skipped\n");
  } else {
    game.swapChain->Present(0, 0);  // adopts the context
    void* target = core.hookTarget(Hook::PSSetShaderResources);
    auto hook = [target](bool on) {
      return [target, on] { on ? MH_EnableHook(target) : MH_DisableHook(target); };
    };
    std::printf("   -- the game's call with our hook enabled vs disabled\n");
    auto bindSmall = [&] { ctx->PSSetShaderResources(3, 1, &smallView); };
    auto bindGps = [&] { ctx->PSSetShaderResources(6, 1, &gpsView); };
    report("64x64 texture (fails the filter), armed, nothing found yet",
           compare(kRounds, kCalls, hook(false), bindSmall, hook(true), bindSmall));
    const bool identified = identify([&](UINT s, ID3D11ShaderResourceView* v) { ctx->PSSetShaderResources(s, 1, &v); },
                                     [&](ID3D11PixelShader* s) { ctx->PSSetShader(s, nullptr, 0); });
    if (!identified) std::printf("   (the GPS view was NOT identified)\n");
    report("64x64 texture (fails the filter), armed, in the 2 s window",
           compare(kRounds, kCalls, hook(false), bindSmall, both(hook(true), armed), bindSmall));
    report("64x64 texture (fails the filter), stopped",
           compare(kRounds, kCalls, hook(false), bindSmall, both(hook(true), stopped), bindSmall));
    report("tablet GPS view (substituted), armed, in the 2 s window",
           compare(kRounds, kCalls, hook(false), bindGps, both(hook(true), armed), bindGps));
    report("tablet GPS view (substituted), stopped",
           compare(kRounds, kCalls, hook(false), bindGps, both(hook(true), stopped), bindGps));
    MH_EnableHook(target);
  }
  core.shutdown();

  // ---- Part 2: our code alone, the detour entry called with the game's method as trampoline.
  Dx11CoreTestAccess::setTrampoline(core, Hook::PSSetShaderResources, slot(ctx, 8));
  Dx11CoreTestAccess::setTrampoline(core, Hook::PSSetShader, slot(ctx, 9));
  if (!core.acquireContext(game.swapChain.get())) {
    std::printf("   context not acquired: detour figures skipped\n");
    return 1;
  }
  std::printf("   -- the detour entry called directly vs the game's method\n");
  auto plainSmall = [&] { ctx->PSSetShaderResources(3, 1, &smallView); };
  auto plainGps = [&] { ctx->PSSetShaderResources(6, 1, &gpsView); };
  auto detourSmall = [&] { detours::psSetShaderResources(ctx, 3, 1, &smallView); };
  auto detourGps = [&] { detours::psSetShaderResources(ctx, 6, 1, &gpsView); };
  auto nothing = [] {};
  report("64x64 texture (fails the filter), armed, nothing found yet",
         compare(kRounds, kCalls, nothing, plainSmall, nothing, detourSmall));
  const bool identified =
      identify([&](UINT s, ID3D11ShaderResourceView* v) { detours::psSetShaderResources(ctx, s, 1, &v); },
               [&](ID3D11PixelShader* s) { detours::psSetShader(ctx, s, nullptr, 0); });
  if (!identified) std::printf("   (the GPS view was NOT identified)\n");
  report("64x64 texture (fails the filter), armed, in the 2 s window",
         compare(kRounds, kCalls, nothing, plainSmall, armed, detourSmall));
  report("64x64 texture (fails the filter), stopped",
         compare(kRounds, kCalls, nothing, plainSmall, stopped, detourSmall));
  report("tablet GPS view (substituted), armed, in the 2 s window",
         compare(kRounds, kCalls, nothing, plainGps, armed, detourGps));
  report("tablet GPS view (substituted), stopped",
         compare(kRounds, kCalls, nothing, plainGps, stopped, detourGps));
  std::printf("   (GPS view substitutions counted by the replacer in part 2: %llu)\n",
              static_cast<unsigned long long>(GpsTextureReplacer::instance().replacementCount()));
  core.shutdown();
  return 0;
}
