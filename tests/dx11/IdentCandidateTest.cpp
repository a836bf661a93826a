// The candidate table and its plausibility filter, views the filter cannot read, the bounds of
// a binding call, and the size-based lock of the legacy configuration.
#include "dx11/IdentFixture.h"

using namespace zor;
using namespace zor::test;

namespace {

// The device-child part of the fakes below: counted references, no device, no private data.
template <typename Interface>
class FakeDeviceChild : public Interface {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  void STDMETHODCALLTYPE GetDevice(ID3D11Device** d) override { *d = nullptr; }
  HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT*, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown*) override { return E_NOTIMPL; }
  ULONG refs = 1;
};

// A resource that claims to be a 2D texture but answers no interface.
class LyingResource : public FakeDeviceChild<ID3D11Resource> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    ++queries;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  void STDMETHODCALLTYPE GetType(D3D11_RESOURCE_DIMENSION* t) override { *t = D3D11_RESOURCE_DIMENSION_TEXTURE2D; }
  void STDMETHODCALLTYPE SetEvictionPriority(UINT) override {}
  UINT STDMETHODCALLTYPE GetEvictionPriority() override { return 0; }
  int queries = 0;
};

// A view whose resource is the given one (or none).
class FakeView : public FakeDeviceChild<ID3D11ShaderResourceView> {
 public:
  explicit FakeView(ID3D11Resource* resource) : resource_(resource) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  void STDMETHODCALLTYPE GetResource(ID3D11Resource** r) override {
    ++resourceCalls;
    if (resource_) resource_->AddRef();
    *r = resource_;
  }
  void STDMETHODCALLTYPE GetDesc(D3D11_SHADER_RESOURCE_VIEW_DESC* d) override { *d = {}; }
  int resourceCalls = 0;

 private:
  ID3D11Resource* resource_;
};

class IdentCandidates : public IdentTest {
 protected:
  size_t candidateCount() {
    std::lock_guard<std::mutex> lock(core.identification().candidateMutex);
    return core.identification().candidates.size();
  }
};

constexpr char kLockLine[] = "V1.9.0 GPS LOCK: textura ";

TEST_F(IdentCandidates, OnlyUsualScreenSizesWithinFourToOneBecomeCandidates) {
  struct Case {
    UINT w, h;
    bool candidate;
  };
  const Case cases[] = {
      {1000, 500, false},  // width not a screen width
      {2048, 128, false},  // 16:1
      {128, 1024, false},  // 1:8
      {1024, 100, false},  // height not a screen height
      {512, 128, true},    // 4:1, the widest accepted
      {128, 512, true},    // 1:4
      {800, 600, true},   {1280, 720, true}, {1920, 1080, true}, {256, 256, true},
  };
  std::vector<TextureAndView> kept;
  for (const Case& c : cases) {
    kept.push_back(makeTextureAndView(device, textureDesc(c.w, c.h)));
    ASSERT_TRUE(kept.back().view) << c.w << "x" << c.h;
    bind(0, kept.back().view.get());
    EXPECT_EQ(candidate(kept.back().texture.get()).useCount, c.candidate ? 1u : 0u) << c.w << "x" << c.h;
  }
  // Array textures count too, within the limits of the filter.
  D3D11_TEXTURE2D_DESC array = textureDesc(512, 512);
  array.ArraySize = 4;
  kept.push_back(makeTextureAndView(device, array));
  bind(0, kept.back().view.get());
  EXPECT_EQ(candidate(kept.back().texture.get()).useCount, 1u);
}

TEST_F(IdentCandidates, TheRecordCountsEveryBoundSlotAndKeepsTheLatestSighting) {
  TextureAndView gps = makeTextureAndView(device, textureDesc(1024, 512, 3, DXGI_FORMAT_B8G8R8A8_UNORM,
                                                              D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET));
  useShader(shaderA.get());
  bind(2, gps.view.get());
  useShader(shaderB.get());
  ID3D11ShaderResourceView* twice[3] = {gps.view.get(), nullptr, gps.view.get()};
  core.onPSSetShaderResources(context, 4, 3, twice);
  const GpsCandidate c = candidate(gps.texture.get());
  EXPECT_EQ(c.useCount, 3u);
  EXPECT_EQ(c.firstSlot, 2u);
  EXPECT_EQ(c.lastSlot, 6u);
  EXPECT_EQ(c.numViews, 3u);
  EXPECT_EQ(c.pixelShader, shaderB.get());
  EXPECT_EQ(refCount(gps.texture.get()), 1u);  // no reference kept
}

TEST_F(IdentCandidates, UnreadableViewsAreSkippedAndTheCallStillReachesTheGame) {
  LyingResource lying;
  FakeView noResource(nullptr), notATexture(&lying);
  // A real view of a 3D texture: not 2D.
  D3D11_TEXTURE3D_DESC d3{};
  d3.Width = d3.Height = 256;
  d3.Depth = 4;
  d3.MipLevels = 1;
  d3.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  d3.BindFlags = D3D11_BIND_SHADER_RESOURCE;
  ComRef<ID3D11Texture3D> volume;
  ASSERT_HRESULT_SUCCEEDED(device->CreateTexture3D(&d3, nullptr, volume.put()));
  ComRef<ID3D11ShaderResourceView> volumeView;
  ASSERT_HRESULT_SUCCEEDED(device->CreateShaderResourceView(volume.get(), nullptr, volumeView.put()));
  TextureAndView good = makeTextureAndView(device, textureDesc(256, 256));

  const ULONG volumeRefs = refCount(volume.get());
  ID3D11ShaderResourceView* views[5] = {&noResource, &notATexture, volumeView.get(), nullptr, good.view.get()};
  core.onPSSetShaderResources(context, 0, 5, views);
  ASSERT_EQ(recordedBindings().size(), 1u);
  EXPECT_EQ(recordedBindings()[0].array, views);
  EXPECT_EQ(noResource.resourceCalls, 1);
  EXPECT_EQ(lying.queries, 1);
  EXPECT_EQ(lying.refs, 1u);  // the reference GetResource added is given back
  EXPECT_EQ(refCount(volume.get()), volumeRefs);
  EXPECT_EQ(candidateCount(), 1u);
  EXPECT_EQ(candidate(good.texture.get()).useCount, 1u);
}

TEST_F(IdentCandidates, CallsOutsideOneTo128ViewsReachTheGameUnchanged) {
  TextureAndView gps = overlay();
  bindUnderTwoShaders(gps.view.get());
  ASSERT_EQ(confirmations(), 1u);
  TextureAndView late = makeTextureAndView(device, textureDesc(512, 512));

  // 129 views: passed through as they are, identification looks at the first 128 only.
  std::vector<ID3D11ShaderResourceView*> many(129, nullptr);
  many[0] = gps.view.get();
  many[128] = late.view.get();
  recordedBindings().clear();
  core.onPSSetShaderResources(context, 0, 129, many.data());
  ASSERT_EQ(recordedBindings().size(), 1u);
  EXPECT_EQ(recordedBindings()[0].array, many.data());
  EXPECT_EQ(recordedBindings()[0].numViews, 129u);
  EXPECT_EQ(candidate(late.texture.get()).useCount, 0u);

  // 128 views: the GPS view is substituted, the others are left alone.
  core.onPSSetShaderResources(context, 0, 128, many.data());
  ASSERT_EQ(recordedBindings().size(), 2u);
  EXPECT_NE(recordedBindings()[1].array, many.data());
  EXPECT_EQ(recordedBindings()[1].views[0], replacementView().get());
  for (size_t i = 1; i < 128; ++i) EXPECT_EQ(recordedBindings()[1].views[i], nullptr);

  core.onPSSetShaderResources(context, 3, 0, many.data());
  core.onPSSetShaderResources(context, 3, 1, nullptr);
  ASSERT_EQ(recordedBindings().size(), 4u);
  EXPECT_EQ(recordedBindings()[2].numViews, 0u);
  EXPECT_EQ(recordedBindings()[2].array, many.data());
  EXPECT_EQ(recordedBindings()[3].array, nullptr);

  // Without a trampoline nothing is called and nothing breaks.
  Access::setTrampoline(core, Hook::PSSetShaderResources, nullptr);
  core.onPSSetShaderResources(context, 0, 1, many.data());
  EXPECT_EQ(recordedBindings().size(), 4u);
}

TEST_F(IdentCandidates, SizeLockFiresOnThe30thBindingOfAMatchingTextureAndNeverAgain) {
  start(legacy(1024, 512));
  TextureAndView gps = makeTextureAndView(device, textureDesc(1024, 512, 1, DXGI_FORMAT_R8G8B8A8_UNORM,
                                                              D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET));
  TextureAndView other = makeTextureAndView(device, textureDesc(1024, 1024));
  for (int i = 0; i < 29; ++i) {
    bind(3, gps.view.get());
    bind(3, other.view.get());
  }
  EXPECT_FALSE(log.has(kLockLine));
  EXPECT_FALSE(core.identification().gpsLocked.load());
  bind(3, gps.view.get());
  EXPECT_TRUE(core.identification().gpsLocked.load());
  EXPECT_EQ(log.count(kLockLine), 1u);
  EXPECT_TRUE(log.has(
      "V1.9.0 GPS LOCK: textura 1024x512 (Mips=1, Slot=3, BindFlags=0x00000028) fijada como GPS tras 30 usos."))
      << log.dump();
  EXPECT_EQ(GpsTextureReplacer::instance().currentGpsTexture(), gps.texture.get());
  for (int i = 0; i < 20; ++i) bind(3, gps.view.get());
  EXPECT_EQ(log.count(kLockLine), 1u);
}

TEST_F(IdentCandidates, SizeLockFiltersSlotMipsFormatAndRenderTarget) {
  PluginConfig c = legacy(512, 512);
  c.slot = 2;
  c.maxMips = 4;
  c.format = DXGI_FORMAT_B8G8R8A8_UNORM;
  c.requireRenderTarget = true;
  c.minHitsToLock = 3;
  start(c);
  const UINT rt = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
  std::vector<TextureAndView> misses;
  misses.push_back(makeTextureAndView(device, textureDesc(512, 512, 5, DXGI_FORMAT_B8G8R8A8_UNORM, rt)));
  misses.push_back(makeTextureAndView(device, textureDesc(512, 512, 4, DXGI_FORMAT_R8G8B8A8_UNORM, rt)));
  misses.push_back(makeTextureAndView(device, textureDesc(512, 512, 4, DXGI_FORMAT_B8G8R8A8_UNORM)));
  for (int i = 0; i < 5; ++i) {
    for (auto& m : misses) bind(2, m.view.get());
  }
  TextureAndView hit = makeTextureAndView(device, textureDesc(512, 512, 4, DXGI_FORMAT_B8G8R8A8_UNORM, rt));
  for (int i = 0; i < 5; ++i) bind(1, hit.view.get());  // wrong slot: counted, never locked
  EXPECT_FALSE(log.has(kLockLine));
  EXPECT_EQ(candidate(hit.texture.get()).useCount, 5u);
  bind(2, hit.view.get());  // 6 uses, in the right slot
  EXPECT_TRUE(log.has("textura 512x512 (Mips=4, Slot=2, BindFlags=0x00000028) fijada como GPS tras 6 usos."))
      << log.dump();
}

}  // namespace
