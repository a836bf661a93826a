// The overlay fingerprint rule: slot 6, a second pixel shader or the tablet mesh, three
// confirmations at most, and the 2-second search window.
#include "dx11/IdentFixture.h"

using namespace zor;
using namespace zor::test;

namespace {

class IdentFingerprint : public IdentTest {};

TEST_F(IdentFingerprint, OneShaderRecordsTheTextureASecondShaderConfirmsItOnce) {
  TextureAndView gps = overlay();
  useShader(shaderA.get());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(bind(6, gps.view.get()), gps.view.get());
  EXPECT_EQ(confirmations(), 0u);
  EXPECT_EQ(candidate(gps.texture.get()).useCount, 5u);

  useShader(shaderB.get());
  ID3D11ShaderResourceView* bound = bind(6, gps.view.get());
  EXPECT_EQ(confirmations(), 1u);
  EXPECT_EQ(hookedViews(), 1u);
  // The confirmed texture and view are held by the hooked lists.
  EXPECT_EQ(refCount(gps.view.get()), 3u);  // ours, the hooked list's, the replacer's
  // Registered with the replacer, whose replacement now has the GPS texture's size, and
  // substituted in this very call (calibration is on by default).
  ComRef<ID3D11ShaderResourceView> replacement = replacementView();
  ASSERT_TRUE(replacement);
  EXPECT_EQ(bound, replacement.get());
  ComRef<ID3D11Resource> res;
  replacement->GetResource(res.put());
  ComRef<ID3D11Texture2D> tex;
  res->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(tex.put()));
  EXPECT_EQ(descOf(tex.get()).Width, 1024u);
  EXPECT_EQ(GpsTextureReplacer::instance().trackedTextureCount(), 1u);

  // Further bindings under either shader confirm nothing more.
  bindUnderTwoShaders(gps.view.get());
  useShader(nullptr);
  bind(6, gps.view.get());
  EXPECT_EQ(confirmations(), 1u);
  EXPECT_EQ(hookedViews(), 1u);
}

TEST_F(IdentFingerprint, OnlyTheAbsoluteSlot6Counts) {
  TextureAndView a = overlay();
  bindUnderTwoShaders(a.view.get(), 5);
  EXPECT_EQ(confirmations(), 0u);
  EXPECT_EQ(candidate(a.texture.get()).useCount, 2u);  // still a candidate

  // Slot 5 reached as StartSlot 4 + index 1: not confirmed.
  ID3D11ShaderResourceView* pair[2] = {nullptr, a.view.get()};
  for (ID3D11PixelShader* s : {shaderA.get(), shaderB.get()}) {
    useShader(s);
    core.onPSSetShaderResources(context, 4, 2, pair);
  }
  EXPECT_EQ(confirmations(), 0u);
  EXPECT_EQ(candidate(a.texture.get()).lastSlot, 5u);

  // Slot 6 reached as StartSlot 5 + index 1: confirmed.
  for (ID3D11PixelShader* s : {shaderA.get(), shaderB.get()}) {
    useShader(s);
    core.onPSSetShaderResources(context, 5, 2, pair);
  }
  EXPECT_EQ(confirmations(), 1u);
  EXPECT_EQ(recordedBindings().back().views[1], replacementView().get());
  EXPECT_EQ(recordedBindings().back().views[0], nullptr);
}

TEST_F(IdentFingerprint, TheTabletMeshConfirmsUnderASingleShader) {
  ComRef<ID3D11Buffer> mesh = makeIndexBuffer(device), other = makeIndexBuffer(device);
  TextureAndView a = overlay(), b = overlay();
  Ident::setTabletMesh(core, mesh.get());
  useShader(shaderA.get());

  useIndexBuffer(other.get());
  bind(6, a.view.get());
  EXPECT_EQ(confirmations(), 0u);

  useIndexBuffer(mesh.get());
  bind(6, b.view.get());
  EXPECT_EQ(confirmations(), 1u);
  EXPECT_EQ(hookedViews(), 1u);
}

// What the context reports counts, no pixel shader included: a pass that binds the tablet
// before its shader is set and one pass under a shader are two.
TEST_F(IdentFingerprint, ABindingWithoutAPixelShaderCountsAsOneOfTheTwo) {
  TextureAndView a = overlay();
  useShader(nullptr);
  bind(6, a.view.get());
  bind(6, a.view.get());
  EXPECT_EQ(confirmations(), 0u);
  useShader(shaderA.get());
  bind(6, a.view.get());
  EXPECT_EQ(confirmations(), 1u);
}

TEST_F(IdentFingerprint, AFourthViewIsIgnoredAndTheSearchEndsTwoSecondsAfterTheFirstConfirmation) {
  TextureAndView v[4] = {overlay(), overlay(), overlay(), overlay()};
  bindUnderTwoShaders(v[0].view.get());
  clock.advanceMs(500);
  bindUnderTwoShaders(v[1].view.get());
  bindUnderTwoShaders(v[2].view.get());
  EXPECT_EQ(confirmations(), 3u);
  bindUnderTwoShaders(v[3].view.get());
  EXPECT_EQ(confirmations(), 3u);
  EXPECT_EQ(hookedViews(), 3u);
  EXPECT_EQ(bind(6, v[3].view.get()), v[3].view.get());  // never replaced

  // Exactly 2 s after the first confirmation the search still runs; past it, it stops.
  clock.advanceMs(1500);
  const uint64_t uses = candidate(v[3].texture.get()).useCount;
  bind(6, v[3].view.get());
  EXPECT_EQ(candidate(v[3].texture.get()).useCount, uses + 1);
  EXPECT_TRUE(core.identification().gpsSearchActive.load());
  clock.advanceNs(1);
  bind(6, v[3].view.get());
  EXPECT_FALSE(core.identification().gpsSearchActive.load());
  EXPECT_EQ(candidate(v[3].texture.get()).useCount, uses + 1);
  // The confirmed views are still substituted after the search has stopped.
  EXPECT_EQ(bind(6, v[1].view.get()), replacementView().get());

  // Re-arming (a camera return) lets new confirmations happen.
  core.identification().rearmSearch(clock.ns());
  bindUnderTwoShaders(v[3].view.get());
  EXPECT_EQ(confirmations(), 1u);
}

TEST_F(IdentFingerprint, TexturesCloseToTheFingerprintAreNeverConfirmed) {
  const D3D11_TEXTURE2D_DESC lookalikes[] = {
      textureDesc(1024, 1024, 10, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET),
      textureDesc(1024, 1024, 11, DXGI_FORMAT_R8G8B8A8_UNORM, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET),
      textureDesc(1024, 1024, 11, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, D3D11_BIND_SHADER_RESOURCE),
      textureDesc(1024, 512, 10, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET),
  };
  std::vector<TextureAndView> kept;  // alive together, so that no address is reused
  for (const D3D11_TEXTURE2D_DESC& d : lookalikes) {
    kept.push_back(makeTextureAndView(device, d));
    TextureAndView& tv = kept.back();
    ASSERT_TRUE(tv.view);
    bindUnderTwoShaders(tv.view.get());
    EXPECT_EQ(candidate(tv.texture.get()).useCount, 2u);
  }
  EXPECT_EQ(confirmations(), 0u);
}

}  // namespace
