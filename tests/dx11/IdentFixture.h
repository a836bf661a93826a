// Fixture for GPS identification and substitution: the graphics core adopted on a real device
// of a window of this process, the game's PSSetShaderResources replaced by a recorder (or the
// real method), the game's PSSetShader by the real one so that PSGetShader answers, real
// textures, views and pixel shaders, and time moved by hand.
#pragma once

#include <d3dcompiler.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dx11/Dx11TestSupport.h"
#include "gps/PrismTextureQueueRedirector.h"
#include "support/ManualClock.h"

namespace zor {

struct GpsIdentTestAccess {
  static ID3D11Buffer* tabletMesh(Dx11Core& c) { return c.tabletMeshIndexBuffer_.load(); }
  static void setTabletMesh(Dx11Core& c, ID3D11Buffer* b) { c.tabletMeshIndexBuffer_.store(b); }
  static void setPlaybackActive(Dx11Core& c, bool v) { c.playback_.active.store(v); }
  static ID3D11DeviceContext* immediate(Dx11Core& c) { return c.contextPeek_.load(); }
  static void prepareDeferredGpsSize(Dx11Core& c) { c.prepareDeferredGpsSize(); }
};

namespace test {

// Method slots of ID3D11DeviceContext / ID3D11Device, IUnknown included.
constexpr size_t kPSSetShaderResourcesSlot = 8;
constexpr size_t kPSSetShaderSlot = 9;
constexpr size_t kCreateTexture2DSlot = 5;

// What the game's PSSetShaderResources received.
struct BindingCall {
  ID3D11DeviceContext* context = nullptr;
  UINT startSlot = 0;
  UINT numViews = 0;
  ID3D11ShaderResourceView* const* array = nullptr;
  std::vector<ID3D11ShaderResourceView*> views;  // first min(numViews, 128) entries
};
inline std::vector<BindingCall>& recordedBindings() {
  static std::vector<BindingCall> calls;
  return calls;
}
inline void STDMETHODCALLTYPE recordBinding(ID3D11DeviceContext* context, UINT startSlot, UINT numViews,
                                            ID3D11ShaderResourceView* const* views) {
  BindingCall call{context, startSlot, numViews, views, {}};
  if (views) call.views.assign(views, views + (numViews < 128 ? numViews : 128));
  recordedBindings().push_back(call);
}

// A pixel shader returning one constant colour, compiled at run time.
inline ComRef<ID3D11PixelShader> makePixelShader(ID3D11Device* device, float red) {
  using CompileFn = decltype(&D3DCompile);
  static HMODULE module = LoadLibraryW(L"d3dcompiler_47.dll");
  auto compile = module ? reinterpret_cast<CompileFn>(GetProcAddress(module, "D3DCompile")) : nullptr;
  ComRef<ID3D11PixelShader> shader;
  if (!compile) return shader;
  char source[160];
  snprintf(source, sizeof source, "float4 main(float4 p : SV_Position) : SV_Target { return float4(%f, 0.5, 0, 1); }",
           red);
  ComRef<ID3DBlob> code, errors;
  if (FAILED(compile(source, strlen(source), nullptr, nullptr, nullptr, "main", "ps_4_0", 0, 0, code.put(),
                     errors.put()))) {
    return shader;
  }
  device->CreatePixelShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr, shader.put());
  return shader;
}

// The tablet overlay fingerprint.
inline D3D11_TEXTURE2D_DESC overlayDesc() {
  return textureDesc(1024, 1024, 11, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB,
                     D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET);
}

inline ComRef<ID3D11Buffer> makeIndexBuffer(ID3D11Device* device) {
  D3D11_BUFFER_DESC d{};
  d.ByteWidth = 64;
  d.Usage = D3D11_USAGE_DEFAULT;
  d.BindFlags = D3D11_BIND_INDEX_BUFFER;
  ComRef<ID3D11Buffer> b;
  device->CreateBuffer(&d, nullptr, b.put());
  return b;
}

// Makes the redirector see the overlay .dds queued now (on the fixture's clock).
inline void queueOverlayDds() {
  static const char kPath[] = "/material/ui/dashboard/tjs/tablet_gps_overlay.dds";
  alignas(8) uint8_t entry[0x50] = {};
  const uint64_t chars = reinterpret_cast<uintptr_t>(kPath);
  const uint32_t length = sizeof kPath - 1;
  memcpy(entry + PrismTextureQueueRedirector::kEntryPath, &chars, sizeof chars);
  memcpy(entry + PrismTextureQueueRedirector::kEntryPathLength, &length, sizeof length);
  PrismTextureQueueRedirector::instance().inspectEntry(entry);
}

class IdentTest : public ::testing::Test {
 protected:
  using Access = Dx11CoreTestAccess;
  using Ident = GpsIdentTestAccess;

  static void SetUpTestSuite() { window_ = new TestWindow(320, 240); }
  static void TearDownTestSuite() {
    Access::fresh(Dx11Core::instance());
    delete window_;
    window_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(window_->device) << "no D3D11 device";
    device = window_->device.get();
    context = window_->context.get();
    shaderA = makePixelShader(device, 0.25f);
    shaderB = makePixelShader(device, 0.75f);
    ASSERT_TRUE(shaderA && shaderB) << "pixel shaders could not be compiled";
    start(PluginConfig{});
  }
  void TearDown() override {
    Access::fresh(core);
    recordedBindings().clear();
  }

  // A started core with this configuration, its context adopted, bindings recorded.
  void start(const PluginConfig& config) {
    Access::fresh(core, config);
    recordedBindings().clear();
    Access::setTrampoline(core, Hook::PSSetShaderResources, reinterpret_cast<void*>(&recordBinding));
    Access::setTrampoline(core, Hook::PSSetShader, vtableEntry(context, kPSSetShaderSlot));
    ASSERT_TRUE(core.acquireContext(window_->swapChain.get()));
    log.clear();
  }
  // The legacy configuration: the GPS texture locked by its size.
  static PluginConfig legacy(uint32_t width, uint32_t height) {
    PluginConfig c;
    c.legacyAutoLock = true;
    c.gpsWidth = width;
    c.gpsHeight = height;
    return c;
  }
  // Binding goes to the real context from now on.
  void forwardToRealContext() {
    Access::setTrampoline(core, Hook::PSSetShaderResources, vtableEntry(context, kPSSetShaderResourcesSlot));
  }

  void useShader(ID3D11PixelShader* shader) { core.onPSSetShader(context, shader, nullptr, 0); }
  void useIndexBuffer(ID3D11Buffer* buffer) { core.onIASetIndexBuffer(context, buffer, DXGI_FORMAT_R16_UINT, 0); }
  // One game binding of view at slot; returns what the game's method received there.
  ID3D11ShaderResourceView* bind(UINT slot, ID3D11ShaderResourceView* view, ID3D11DeviceContext* ctx = nullptr) {
    const size_t before = recordedBindings().size();
    core.onPSSetShaderResources(ctx ? ctx : context, slot, 1, &view);
    if (recordedBindings().size() != before + 1) {
      ADD_FAILURE() << "the game's method was not called exactly once";
      return nullptr;
    }
    return recordedBindings().back().views.at(0);
  }
  // Binds view in slot 6 under shaderA, then under shaderB.
  void bindUnderTwoShaders(ID3D11ShaderResourceView* view, UINT slot = 6) {
    useShader(shaderA.get());
    bind(slot, view);
    useShader(shaderB.get());
    bind(slot, view);
  }

  uint32_t confirmations() { return core.identification().overlayHookCount.load(); }
  size_t hookedViews() {
    std::lock_guard<std::mutex> lock(core.identification().hookMutex);
    return core.identification().hookedGpsViews.size();
  }
  // Copy of the candidate record of texture; useCount 0 when there is none.
  GpsCandidate candidate(ID3D11Texture2D* texture) {
    GpsIdentification& id = core.identification();
    std::lock_guard<std::mutex> lock(id.candidateMutex);
    auto it = id.candidates.find(texture);
    return it == id.candidates.end() ? GpsCandidate{} : it->second;
  }
  ComRef<ID3D11ShaderResourceView> replacementView() {
    return ComRef<ID3D11ShaderResourceView>(GpsTextureReplacer::instance().replacementViewRef());
  }
  TextureAndView overlay() { return makeTextureAndView(device, overlayDesc()); }

  static TestWindow* window_;
  Dx11Core& core = Dx11Core::instance();
  ID3D11Device* device = nullptr;
  ID3D11DeviceContext* context = nullptr;
  ComRef<ID3D11PixelShader> shaderA, shaderB;
  ManualClock clock;
  LogCapture log;
};

inline TestWindow* IdentTest::window_ = nullptr;

}  // namespace test
}  // namespace zor
