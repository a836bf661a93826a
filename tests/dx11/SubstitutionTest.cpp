// Substitution in the PSSetShaderResources detour: the confirmed view, the tablet mesh, the red
// diagnostic view, the size rule and its fixed shader, deferred contexts, re-identification.
#include "dx11/IdentFixture.h"

using namespace zor;
using namespace zor::test;

namespace {

class Substitution : public IdentTest {
 protected:
  // A confirmed tablet GPS view.
  TextureAndView confirmedGps() {
    TextureAndView gps = overlay();
    bindUnderTwoShaders(gps.view.get());
    EXPECT_EQ(confirmations(), 1u);
    return gps;
  }
};

TEST_F(Substitution, TheConfirmedViewIsReplacedInPlaceAndTheGameSeesTheReplacement) {
  TextureAndView gps = confirmedGps();
  TextureAndView other = makeTextureAndView(device, textureDesc(256, 256));
  ComRef<ID3D11ShaderResourceView> replacement = replacementView();
  const ULONG replacementRefs = refCount(replacement.get());
  GpsIdentification& id = core.identification();
  id.gpsInUse.store(false);
  clock.advanceMs(40);

  ID3D11ShaderResourceView* views[3] = {other.view.get(), gps.view.get(), nullptr};
  recordedBindings().clear();
  core.onPSSetShaderResources(context, 5, 3, views);
  ASSERT_EQ(recordedBindings().size(), 1u);
  const BindingCall& call = recordedBindings()[0];
  EXPECT_EQ(call.startSlot, 5u);
  EXPECT_EQ(call.numViews, 3u);
  EXPECT_EQ(call.views, (std::vector<ID3D11ShaderResourceView*>{other.view.get(), replacement.get(), nullptr}));
  EXPECT_EQ(views[1], gps.view.get());  // the caller's array is not touched
  EXPECT_EQ(refCount(replacement.get()), replacementRefs);
  EXPECT_TRUE(id.gpsInUse.load());
  EXPECT_EQ(id.lastGpsUseTick.load(), clock.ms());
  EXPECT_EQ(core.gameState().stateTick.load(), clock.ms());  // the sighting was noted
  EXPECT_TRUE(GpsTextureReplacer::instance().replacedWithin(1));

  // Through the real context: the pixel shader stage holds the replacement afterwards.
  forwardToRealContext();
  ID3D11ShaderResourceView* gpsView = gps.view.get();
  core.onPSSetShaderResources(context, 6, 1, &gpsView);
  ComRef<ID3D11ShaderResourceView> bound;
  context->PSGetShaderResources(6, 1, bound.put());
  EXPECT_EQ(bound.get(), replacement.get());
  bound.reset();
  ID3D11ShaderResourceView* none = nullptr;
  context->PSSetShaderResources(6, 1, &none);
}

TEST_F(Substitution, NothingIsReplacedWithoutCalibrationPlaybackOrRedAndNothingForTheDashboard) {
  PluginConfig quiet;
  quiet.calibrationMode = false;
  start(quiet);
  TextureAndView gps = confirmedGps();  // identification still runs
  EXPECT_EQ(bind(6, gps.view.get()), gps.view.get());
  EXPECT_EQ(core.gameState().stateTick.load(), 0u);

  Ident::setPlaybackActive(core, true);
  EXPECT_EQ(bind(6, gps.view.get()), replacementView().get());

  Access::setPlaybackTarget(core, 1);
  TextureAndView second = overlay();
  bindUnderTwoShaders(second.view.get());
  EXPECT_EQ(confirmations(), 1u);  // no identification for the dashboard target
  EXPECT_EQ(bind(6, gps.view.get()), gps.view.get());
}

TEST_F(Substitution, OnceTheTabletMeshIsKnownOnlyBindingsOnThatMeshAreReplaced) {
  ComRef<ID3D11Buffer> tablet = makeIndexBuffer(device), dashboard = makeIndexBuffer(device);
  TextureAndView gps = confirmedGps();  // no index buffer bound so far
  EXPECT_EQ(Ident::tabletMesh(core), nullptr);

  useIndexBuffer(tablet.get());
  EXPECT_EQ(bind(6, gps.view.get()), replacementView().get());
  EXPECT_EQ(Ident::tabletMesh(core), tablet.get());

  useIndexBuffer(dashboard.get());
  EXPECT_EQ(bind(6, gps.view.get()), gps.view.get());
  useIndexBuffer(nullptr);
  EXPECT_EQ(bind(6, gps.view.get()), gps.view.get());
  useIndexBuffer(tablet.get());
  EXPECT_EQ(bind(6, gps.view.get()), replacementView().get());
  EXPECT_EQ(Ident::tabletMesh(core), tablet.get());
}

TEST_F(Substitution, ForcedRedReplacesTheMatchedViewWithTheRedViewOnly) {
  PluginConfig red;
  red.calibrationMode = false;
  red.debugForceRed = true;
  start(red);
  TextureAndView gps = confirmedGps();
  TextureAndView other = makeTextureAndView(device, textureDesc(1024, 1024));
  ComRef<ID3D11ShaderResourceView> replacement = replacementView();
  const ULONG replacementRefs = refCount(replacement.get());

  ID3D11ShaderResourceView* bound = bind(6, gps.view.get());
  ASSERT_NE(bound, nullptr);
  EXPECT_NE(bound, gps.view.get());
  EXPECT_NE(bound, replacement.get());
  EXPECT_EQ(bound, GpsTextureReplacer::instance().getRedDiagnosticView());
  EXPECT_EQ(refCount(replacement.get()), replacementRefs);
  ComRef<ID3D11Resource> res;
  bound->GetResource(res.put());
  ComRef<ID3D11Texture2D> tex;
  res->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(tex.put()));
  std::vector<uint32_t> texels = readTexels(device, tex.get());
  ASSERT_FALSE(texels.empty());
  EXPECT_EQ(texels[texels.size() / 2], gpspattern::kRedTexel);

  EXPECT_EQ(bind(6, other.view.get()), other.view.get());
}

TEST_F(Substitution, TheSizeRuleReplacesFromTheFirstBindingWithinItsFilters) {
  PluginConfig c = legacy(1024, 512);
  c.slot = 4;
  start(c);
  TextureAndView match = makeTextureAndView(device, textureDesc(1024, 512));
  TextureAndView wrongSize = makeTextureAndView(device, textureDesc(1024, 1024));
  ComRef<ID3D11ShaderResourceView> replacement = replacementView();
  ASSERT_TRUE(replacement);
  const ULONG replacementRefs = refCount(replacement.get());

  EXPECT_EQ(bind(4, match.view.get()), replacement.get());
  EXPECT_EQ(refCount(replacement.get()), replacementRefs);
  EXPECT_FALSE(core.identification().gpsInUse.load());  // only a matched view marks the GPS in use
  EXPECT_EQ(bind(4, wrongSize.view.get()), wrongSize.view.get());
  EXPECT_EQ(bind(5, match.view.get()), match.view.get());  // slot filter

  // With a fixed shader, only bindings under that shader.
  core.identification().gpsPixelShader.store(shaderA.get());
  core.identification().gpsShaderFixed.store(true);
  useShader(shaderB.get());
  EXPECT_EQ(bind(4, match.view.get()), match.view.get());
  useShader(shaderA.get());
  EXPECT_EQ(bind(4, match.view.get()), replacement.get());
}

TEST_F(Substitution, ABindingFromAnotherContextIsReplacedAndWarnedAboutOnce) {
  TextureAndView gps = confirmedGps();
  ComRef<ID3D11DeviceContext> deferred;
  ASSERT_HRESULT_SUCCEEDED(device->CreateDeferredContext(0, deferred.put()));
  ASSERT_EQ(Ident::immediate(core), context);
  constexpr char kWarning[] = "V1.8.1 DIAGNOSTICO: PSSetShaderResources llego desde un context_ DISTINTO al inmediato";

  EXPECT_EQ(bind(6, gps.view.get(), deferred.get()), replacementView().get());
  EXPECT_EQ(recordedBindings().back().context, deferred.get());
  EXPECT_EQ(bind(6, gps.view.get(), deferred.get()), replacementView().get());
  EXPECT_EQ(bind(6, gps.view.get()), replacementView().get());
  // Once per process; so at most once here, and exactly once when this test ran first.
  EXPECT_LE(log.count(kWarning), 1u);
  if (log.count(kWarning) == 1) {
    char expected[200];
    snprintf(expected, sizeof expected, "(llamada=0x%016llX, guardado=0x%016llX). Puede ser un contexto diferido.",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(deferred.get())),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(context)));
    EXPECT_TRUE(log.has(LogLevel::WARNING, expected)) << log.dump();
  }
  // Identification through a deferred context works as well.
  TextureAndView second = overlay();
  for (ID3D11PixelShader* s : {shaderA.get(), shaderB.get()}) {
    deferred->PSSetShader(s, nullptr, 0);
    bind(6, second.view.get(), deferred.get());
  }
  EXPECT_EQ(confirmations(), 2u);
}

TEST_F(Substitution, AfterReidentificationTheOldViewIsNoLongerReplacedUntilConfirmedAgain) {
  TextureAndView gps = confirmedGps();
  EXPECT_EQ(bind(6, gps.view.get()), replacementView().get());
  core.restartGpsIdentification();
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V0.6.6 RELOCK"));
  EXPECT_EQ(bind(6, gps.view.get()), gps.view.get());
  EXPECT_EQ(refCount(gps.view.get()), 1u);  // every list let go of it

  bindUnderTwoShaders(gps.view.get());
  EXPECT_EQ(confirmations(), 1u);
  EXPECT_EQ(bind(6, gps.view.get()), replacementView().get());
}

}  // namespace
