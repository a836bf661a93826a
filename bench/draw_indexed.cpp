// Cost of the DrawIndexed detour, hooked only while the dashboard target can be drawn: per
// call, for a draw whose index count is not the truck's (the common case, one comparison) and
// for the dashboard screen's draw itself (replaced: our resource bound around the draw and the
// game's view bound again), and for a quad (count 6) of another texture while the truck's screen
// is drawn with 6 indices too (five of the ten trucks), each next to the unhooked call. Rounds of the two variants
// alternate; each figure is the median over rounds, and the ratio is hooked / unhooked.
//
// Part 1 installs the real hooks on Wine's D3D11 and compares the game's call with the hook
// enabled and disabled. Part 2 calls the detour entry directly with the game's methods as
// trampolines, which isolates our own cost from the hook engine's jump.
#include <windows.h>
#include <d3dcompiler.h>

#include <cstdio>
#include <cstring>

#include "BenchGame.h"
#include "BenchKit.h"
#include "dx11/Detours.h"
#include "gps/Calibration.h"
#include "gps/GpsTextureReplacer.h"
#include "gps/PlaybackTarget.h"
#include "hook/MinHook.h"

using namespace zor;
using namespace zor::bench;

namespace {

void report(const char* what, std::pair<double, double> r) { bench::report(what, r, 52, 8); }

// The screen's draw is replaced only while the test pattern or a playback is shown: the bench
// shows the pattern whatever the settings file beside it says, and a row of the screen's draw
// says so when no draw of it was replaced after all.
uint64_t replacements() { return GpsTextureReplacer::instance().replacementCount(); }
void reportScreen(const char* what, uint64_t before, std::pair<double, double> r) {
  if (replacements() == before) {
    std::printf("   %-52s NOT MEASURED: no draw of the screen was replaced\n", what);
    return;
  }
  report(what, r);
}

// A vertex shader that places the indexed vertices itself (no vertex buffer), in a corner a few
// pixels wide so that rasterising costs next to nothing, and a pixel shader that samples slot 6,
// as the game's screen shader does.
constexpr char kShaders[] = R"(
Texture2D t6 : register(t6);
SamplerState s0 : register(s0);
struct V { float4 pos : SV_Position; float2 uv : TEXCOORD0; };
V vsMain(uint id : SV_VertexID) {
  V v;
  float2 p = float2(id % 4, id / 4) / 8.0;
  v.pos = float4(p * 0.02 - 1, 0.5, 1);
  v.uv = p;
  return v;
}
float4 psMain(V v) : SV_Target { return t6.Sample(s0, v.uv); }
)";

struct Pipeline {
  ComRef<ID3D11VertexShader> vs;
  ComRef<ID3D11PixelShader> ps;
  ComRef<ID3D11Buffer> indices;
  ComRef<ID3D11RenderTargetView> rtv;
  ComRef<ID3D11SamplerState> sampler;
};

bool makePipeline(GameWindow& game, Pipeline& p) {
  using CompileFn = decltype(&D3DCompile);
  HMODULE module = LoadLibraryW(L"d3dcompiler_47.dll");
  auto compile = module ? reinterpret_cast<CompileFn>(GetProcAddress(module, "D3DCompile")) : nullptr;
  if (!compile) return false;
  ID3D11Device* device = game.device.get();
  ComRef<ID3DBlob> vsCode, psCode, errors;
  if (FAILED(compile(kShaders, sizeof kShaders - 1, nullptr, nullptr, nullptr, "vsMain", "vs_4_0", 0, 0, vsCode.put(),
                     errors.put())) ||
      FAILED(compile(kShaders, sizeof kShaders - 1, nullptr, nullptr, nullptr, "psMain", "ps_4_0", 0, 0, psCode.put(),
                     errors.put())))
    return false;
  device->CreateVertexShader(vsCode->GetBufferPointer(), vsCode->GetBufferSize(), nullptr, p.vs.put());
  device->CreatePixelShader(psCode->GetBufferPointer(), psCode->GetBufferSize(), nullptr, p.ps.put());
  uint16_t idx[42];
  for (uint16_t i = 0; i < 42; ++i) idx[i] = static_cast<uint16_t>(i % 32);
  D3D11_BUFFER_DESC bd{};
  bd.ByteWidth = sizeof idx;
  bd.Usage = D3D11_USAGE_IMMUTABLE;
  bd.BindFlags = D3D11_BIND_INDEX_BUFFER;
  D3D11_SUBRESOURCE_DATA init{idx, 0, 0};
  device->CreateBuffer(&bd, &init, p.indices.put());
  ComRef<ID3D11Texture2D> back;
  game.swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(back.put()));
  if (back) device->CreateRenderTargetView(back.get(), nullptr, p.rtv.put());
  D3D11_SAMPLER_DESC sd{};
  sd.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
  sd.AddressU = sd.AddressV = sd.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
  sd.MaxLOD = D3D11_FLOAT32_MAX;
  device->CreateSamplerState(&sd, p.sampler.put());
  return p.vs && p.ps && p.indices && p.rtv && p.sampler;
}

// The game's state for the screen's draw (again after a Present, which may change it).
void bindPipeline(ID3D11DeviceContext* ctx, const Pipeline& p) {
  ctx->VSSetShader(p.vs.get(), nullptr, 0);
  ctx->PSSetShader(p.ps.get(), nullptr, 0);
  ID3D11SamplerState* sampler = p.sampler.get();
  ctx->PSSetSamplers(0, 1, &sampler);
  ctx->IASetInputLayout(nullptr);
  ctx->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
  ctx->IASetIndexBuffer(p.indices.get(), DXGI_FORMAT_R16_UINT, 0);
  ID3D11RenderTargetView* rtv = p.rtv.get();
  ctx->OMSetRenderTargets(1, &rtv, nullptr);
  D3D11_VIEWPORT vp{0, 0, 320, 200, 0, 1};
  ctx->RSSetViewports(1, &vp);
}

}  // namespace

int main() {
  GameWindow game = makeGameWindow(L"ZorBenchDrawIndexed");
  if (!game.swapChain) {
    std::printf("   no D3D11 swap chain: nothing measured\n");
    return 1;
  }
  ID3D11Device* device = game.device.get();
  ID3D11DeviceContext* ctx = game.context.get();
  Pipeline pipeline;
  // The W900's dashboard screen texture: 256 x 256, 9 mips, format 29, in slot 6.
  D3D11_TEXTURE2D_DESC d{};
  d.Width = d.Height = 256;
  d.MipLevels = 9;
  d.ArraySize = 1;
  d.Format = DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;
  d.SampleDesc.Count = 1;
  d.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
  d.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
  ComRef<ID3D11Texture2D> screenTexture;
  ComRef<ID3D11ShaderResourceView> screen;
  device->CreateTexture2D(&d, nullptr, screenTexture.put());
  if (screenTexture) device->CreateShaderResourceView(screenTexture.get(), nullptr, screen.put());
  // Another instrument's texture, drawn as a quad in the screen's slot.
  D3D11_TEXTURE2D_DESC q = d;
  q.Width = q.Height = 128;
  q.MipLevels = 8;
  ComRef<ID3D11Texture2D> quadTexture;
  ComRef<ID3D11ShaderResourceView> quad;
  device->CreateTexture2D(&q, nullptr, quadTexture.put());
  if (quadTexture) device->CreateShaderResourceView(quadTexture.get(), nullptr, quad.put());
  if (!screen || !quad || !makePipeline(game, pipeline)) {
    std::printf("   shaders, buffers or textures could not be created: nothing measured\n");
    return 1;
  }
  ID3D11ShaderResourceView* screenView = screen.get();
  ID3D11ShaderResourceView* quadView = quad.get();
  auto bindScreen = [&] {
    bindPipeline(ctx, pipeline);
    ctx->PSSetShaderResources(6, 1, &screenView);
  };
  auto bindQuad = [&] {
    bindPipeline(ctx, pipeline);
    ctx->PSSetShaderResources(6, 1, &quadView);
  };
  constexpr int kRounds = 21;
  constexpr int kCalls = 5000;
  Dx11Core& core = Dx11Core::instance();
  auto dashboardTarget = [&](const char* truck = "vehicle.kenworth.w900") {
    setPlaybackTarget(kTargetDashboard);
    core.applyTruckProfile(truck);
  };
  constexpr char kQuadRow[] = "quad (count 6) not the screen, count-6 truck (T680)";

  // ---- Part 1: the real hook, enabled against disabled.
  if (!startCore(core)) return 1;
  if (!core.hooksInstalled() || !core.hookTarget(Hook::DrawIndexed)) {
    std::printf("   hooks not installed: real-hook figures skipped\n");
  } else {
    game.swapChain->Present(0, 0);  // adopts the context (and restores the saved target)
    storeCalibrationMode(true);
    dashboardTarget();
    game.swapChain->Present(0, 0);  // prepares the W900's resource and hooks DrawIndexed
    bindScreen();
    void* target = core.hookTarget(Hook::DrawIndexed);
    auto hook = [target](bool on) {
      return [target, on] { on ? MH_EnableHook(target) : MH_DisableHook(target); };
    };
    const uint64_t before = GpsTextureReplacer::instance().replacementCount();
    std::printf("   -- the game's call with our hook enabled vs disabled (dashboard target, W900)\n");
    report("count 6 (not the screen's)", compare(kRounds, kCalls, hook(false), [&] { ctx->DrawIndexed(6, 0, 0); },
                                                 hook(true), [&] { ctx->DrawIndexed(6, 0, 0); }));
    const uint64_t screenBefore = replacements();
    reportScreen("count 42, the screen's texture (replaced)", screenBefore,
                 compare(kRounds, kCalls, hook(false), [&] { ctx->DrawIndexed(42, 0, 0); }, hook(true),
                         [&] { ctx->DrawIndexed(42, 0, 0); }));
    dashboardTarget("vehicle.kenworth.t680");  // its screen is drawn with 6 indices
    game.swapChain->Present(0, 0);              // prepares the T680's resource
    bindQuad();
    report(kQuadRow, compare(kRounds, kCalls, hook(false), [&] { ctx->DrawIndexed(6, 0, 0); }, hook(true),
                             [&] { ctx->DrawIndexed(6, 0, 0); }));
    std::printf("   (dashboard draws replaced in part 1: %llu)\n",
                static_cast<unsigned long long>(GpsTextureReplacer::instance().replacementCount() - before));
  }
  core.shutdown();

  // ---- Part 2: our code alone, the detour entry with the game's methods as trampolines.
  Dx11CoreTestAccess::setTrampoline(core, Hook::DrawIndexed, slot(ctx, 12));
  Dx11CoreTestAccess::setTrampoline(core, Hook::PSSetShaderResources, slot(ctx, 8));
  if (!core.acquireContext(game.swapChain.get())) {
    std::printf("   context not acquired: detour figures skipped\n");
    return 1;
  }
  storeCalibrationMode(true);
  dashboardTarget();
  core.prepareDashboardResource();
  bindScreen();
  const uint64_t before = GpsTextureReplacer::instance().replacementCount();
  auto nothing = [] {};
  std::printf("   -- the detour entry called directly vs the game's method\n");
  report("count 6 (not the screen's)", compare(kRounds, kCalls, nothing, [&] { ctx->DrawIndexed(6, 0, 0); }, nothing,
                                               [&] { detours::drawIndexed(ctx, 6, 0, 0); }));
  const uint64_t screenBefore = replacements();
  reportScreen("count 42, the screen's texture (replaced)", screenBefore,
               compare(kRounds, kCalls, nothing, [&] { ctx->DrawIndexed(42, 0, 0); }, nothing,
                       [&] { detours::drawIndexed(ctx, 42, 0, 0); }));
  dashboardTarget("vehicle.kenworth.t680");
  core.prepareDashboardResource();
  bindQuad();
  report(kQuadRow, compare(kRounds, kCalls, nothing, [&] { ctx->DrawIndexed(6, 0, 0); }, nothing,
                           [&] { detours::drawIndexed(ctx, 6, 0, 0); }));
  std::printf("   (dashboard draws replaced in part 2: %llu)\n",
              static_cast<unsigned long long>(GpsTextureReplacer::instance().replacementCount() - before));
  core.shutdown();
  setPlaybackTarget(kTargetTablet);
  return 0;
}
