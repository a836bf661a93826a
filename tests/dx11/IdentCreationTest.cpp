// The overlay texture recognised at creation, right after the game queued its .dds file.
#include "dx11/IdentFixture.h"

#include <thread>

using namespace zor;
using namespace zor::test;

namespace {

constexpr char kCreated[] = "V0.7.6 OVERLAY tablet_gps_overlay.dds -> 0x";

HRESULT STDMETHODCALLTYPE failingCreate(ID3D11Device*, const D3D11_TEXTURE2D_DESC*, const D3D11_SUBRESOURCE_DATA*,
                                        ID3D11Texture2D** out) {
  if (out) *out = nullptr;
  return E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE validatingCreate(ID3D11Device*, const D3D11_TEXTURE2D_DESC*, const D3D11_SUBRESOURCE_DATA*,
                                           ID3D11Texture2D**) {
  return S_FALSE;
}

class IdentCreation : public IdentTest {
 protected:
  void SetUp() override {
    IdentTest::SetUp();
    Access::setTrampoline(core, Hook::CreateTexture2D, vtableEntry(device, kCreateTexture2DSlot));
  }
  // A texture made the way the game makes it, through the detour.
  ComRef<ID3D11Texture2D> create(const D3D11_TEXTURE2D_DESC& desc, HRESULT* result = nullptr) {
    ComRef<ID3D11Texture2D> texture;
    const HRESULT hr = core.onCreateTexture2D(device, &desc, nullptr, texture.put());
    if (result) *result = hr;
    return texture;
  }
  size_t tracked() { return GpsTextureReplacer::instance().trackedTextureCount(); }
};

TEST_F(IdentCreation, AnOverlayTextureCreatedWithinTheWindowAfterItsFileIsRegistered) {
  // Before the game ever queued the overlay file nothing matches (only observable while this
  // process has not queued it yet).
  if (PrismTextureQueueRedirector::instance().overlayDdsTick() == 0) {
    EXPECT_TRUE(create(overlayDesc()));
    EXPECT_EQ(confirmations(), 0u);
  }

  queueOverlayDds();
  clock.advanceMs(150);
  HRESULT hr = E_FAIL;
  EXPECT_TRUE(create(overlayDesc(), &hr));  // 150 ms > dds_window_ms 100
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(confirmations(), 0u);

  queueOverlayDds();
  clock.advanceMs(50);
  const uint64_t createdAt = clock.ns();
  ComRef<ID3D11Texture2D> overlayTexture = create(overlayDesc(), &hr);
  ASSERT_TRUE(overlayTexture);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(confirmations(), 1u);
  EXPECT_EQ(core.identification().firstHookTime.load(), createdAt);  // the search window starts
  EXPECT_EQ(tracked(), 1u);
  EXPECT_EQ(GpsTextureReplacer::instance().currentGpsTexture(), overlayTexture.get());
  EXPECT_EQ(log.count(kCreated), 1u) << log.dump();

  // A texture of another description in the window is not the overlay.
  create(textureDesc(1024, 1024, 11, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE));
  create(textureDesc(1024, 1024, 11, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, D3D11_BIND_SHADER_RESOURCE));
  EXPECT_EQ(confirmations(), 1u);
}

TEST_F(IdentCreation, TheWindowFollowsTheConfiguration) {
  PluginConfig config;
  config.ddsWindowMs = 300;
  start(config);
  Access::setTrampoline(core, Hook::CreateTexture2D, vtableEntry(device, kCreateTexture2DSlot));
  queueOverlayDds();
  clock.advanceMs(300);
  create(overlayDesc());
  EXPECT_EQ(confirmations(), 1u);
  queueOverlayDds();
  clock.advanceMs(301);
  create(overlayDesc());
  EXPECT_EQ(confirmations(), 1u);
}

TEST_F(IdentCreation, AFailedCreationIsReturnedUnchangedAndNeverRegistered) {
  Access::setTrampoline(core, Hook::CreateTexture2D, reinterpret_cast<void*>(&failingCreate));
  queueOverlayDds();
  HRESULT hr = S_OK;
  EXPECT_FALSE(create(overlayDesc(), &hr));
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  // A validation call (no output pointer) succeeds without a texture.
  Access::setTrampoline(core, Hook::CreateTexture2D, reinterpret_cast<void*>(&validatingCreate));
  const D3D11_TEXTURE2D_DESC d = overlayDesc();
  EXPECT_EQ(core.onCreateTexture2D(device, &d, nullptr, nullptr), S_FALSE);
  EXPECT_EQ(confirmations(), 0u);
  EXPECT_EQ(tracked(), 0u);

  Access::setTrampoline(core, Hook::CreateTexture2D, nullptr);
  ComRef<ID3D11Texture2D> none;
  EXPECT_EQ(core.onCreateTexture2D(device, &d, nullptr, none.put()), E_FAIL);
  EXPECT_FALSE(none);
}

TEST_F(IdentCreation, CreationAndBindingConfirmationsShareTheLimitOfThree) {
  queueOverlayDds();
  ComRef<ID3D11Texture2D> first = create(overlayDesc());
  EXPECT_EQ(confirmations(), 1u);
  // The game's view of that texture in slot 6 under two shaders is the second confirmation.
  ComRef<ID3D11ShaderResourceView> firstView;
  device->CreateShaderResourceView(first.get(), nullptr, firstView.put());
  bindUnderTwoShaders(firstView.get());
  EXPECT_EQ(confirmations(), 2u);
  ComRef<ID3D11Texture2D> third = create(overlayDesc());
  EXPECT_EQ(confirmations(), 3u);
  ComRef<ID3D11Texture2D> fourth = create(overlayDesc());
  EXPECT_TRUE(fourth);
  EXPECT_EQ(confirmations(), 3u);
  EXPECT_EQ(tracked(), 2u);  // first and third
  EXPECT_EQ(log.count(kCreated), 2u);
  EXPECT_EQ(refCount(fourth.get()), 1u);
}

// A loading screen long after the tablet was found: the game makes the tablet's texture anew, and
// its view is found and replaced like the first one.
TEST_F(IdentCreation, ATabletTextureMadeAgainAfterTheSearchEndedIsFoundAndReplacedAgain) {
  auto overlayWithView = [&](ComRef<ID3D11Texture2D>& texture, ComRef<ID3D11ShaderResourceView>& view) {
    queueOverlayDds();
    texture = create(overlayDesc());
    ASSERT_TRUE(texture);
    device->CreateShaderResourceView(texture.get(), nullptr, view.put());
    bindUnderTwoShaders(view.get());
  };
  ComRef<ID3D11Texture2D> first, second;
  ComRef<ID3D11ShaderResourceView> firstView, secondView;
  overlayWithView(first, firstView);
  ASSERT_EQ(confirmations(), 2u);
  clock.advanceMs(5000);
  bind(6, firstView.get());
  ASSERT_FALSE(core.identification().gpsSearchActive.load());

  overlayWithView(second, secondView);
  EXPECT_EQ(confirmations(), 2u) << "the new texture and its view";
  EXPECT_NE(bind(6, secondView.get()), secondView.get());
}

TEST_F(IdentCreation, AConfirmationOnALoaderThreadLeavesTheContextToTheRenderThread) {
  auto replacementWidth = [] {
    ComRef<ID3D11Texture2D> texture(GpsTextureReplacer::instance().replacementTextureRef());
    D3D11_TEXTURE2D_DESC d{};
    if (texture) texture->GetDesc(&d);
    return d.Width;
  };
  const UINT before = replacementWidth();
  ASSERT_NE(before, 1024u);

  // The game creates the overlay texture on a thread of its own.
  queueOverlayDds();
  clock.advanceMs(20);
  ComRef<ID3D11Texture2D> created;
  std::thread loader([&] { created = create(overlayDesc()); });
  loader.join();
  ASSERT_TRUE(created);
  EXPECT_EQ(confirmations(), 1u);
  EXPECT_EQ(tracked(), 1u);
  EXPECT_EQ(replacementWidth(), before) << "the loader thread wrote through the immediate context";

  // The next frame sizes the replacement, once.
  Ident::prepareDeferredGpsSize(core);
  EXPECT_EQ(replacementWidth(), 1024u);
  const size_t lines = log.lines().size();
  Ident::prepareDeferredGpsSize(core);
  EXPECT_EQ(log.lines().size(), lines);
}

}  // namespace
