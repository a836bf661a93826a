// The truck's own dashboard GPS on a real device with real views: the one draw of the screen
// is issued with our resource in slot 6 and the game's view is bound again right after; every
// other draw, context and texture is left alone; the resource follows the truck.
#include "dx11/CountingCapture.h"
#include "dx11/IdentFixture.h"

#include "gps/TruckGpsProfile.h"

using namespace zor;
using namespace zor::test;

namespace {

// What the game's DrawIndexed received, and what slot 6 held at that moment.
struct DrawCall {
  ID3D11DeviceContext* context;
  UINT count, start;
  INT base;
  ID3D11ShaderResourceView* slot6;
};
std::vector<DrawCall>& recordedDraws() {
  static std::vector<DrawCall> calls;
  return calls;
}
void STDMETHODCALLTYPE recordDraw(ID3D11DeviceContext* context, UINT count, UINT start, INT base) {
  ID3D11ShaderResourceView* slot6 = nullptr;
  if (context) context->PSGetShaderResources(6, 1, &slot6);
  recordedDraws().push_back({context, count, start, base, slot6});
  if (slot6) slot6->Release();
}

HRESULT STDMETHODCALLTYPE failingCreate(ID3D11Device*, const D3D11_TEXTURE2D_DESC*, const D3D11_SUBRESOURCE_DATA*,
                                        ID3D11Texture2D** out) {
  if (out) *out = nullptr;
  return E_OUTOFMEMORY;
}

constexpr char kSurgical[] = "GPS original reemplazado de forma quirurgica";

class Dashboard : public IdentTest {
 protected:
  void SetUp() override {
    IdentTest::SetUp();
    startDashboard(PluginConfig{});
  }
  void TearDown() override {
    unbindSlot6();
    recordedDraws().clear();
    GpsTextureReplacer::instance().setCreateTexture2D(nullptr);
    IdentTest::TearDown();
  }
  // Started with the dashboard target; bindings and draws go to the real context, draws are
  // recorded.
  void startDashboard(const PluginConfig& config) {
    start(config);
    forwardToRealContext();
    Access::setTrampoline(core, Hook::DrawIndexed, reinterpret_cast<void*>(&recordDraw));
    storePlaybackTarget(kTargetDashboard);
    recordedDraws().clear();
  }
  // The truck the game reports, with its resource prepared as the next Present would.
  void drive(const char* vehicleId) {
    core.applyTruckProfile(vehicleId);
    core.prepareDashboardResource();
  }
  // The screen texture of a profile (or another description), bound in slot 6 by the game.
  TextureAndView screen(UINT w, UINT h, UINT mips, DXGI_FORMAT format = DXGI_FORMAT_R8G8B8A8_UNORM_SRGB) {
    D3D11_TEXTURE2D_DESC d = textureDesc(w, h, mips, format, D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET);
    d.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
    return makeTextureAndView(device, d);
  }
  void bindSlot6(ID3D11ShaderResourceView* view, ID3D11DeviceContext* ctx = nullptr) {
    (ctx ? ctx : context)->PSSetShaderResources(6, 1, &view);
  }
  void unbindSlot6() { bindSlot6(nullptr); }
  ComRef<ID3D11ShaderResourceView> slot6() {
    ComRef<ID3D11ShaderResourceView> v;
    context->PSGetShaderResources(6, 1, v.put());
    return v;
  }
  ID3D11ShaderResourceView* ours() { return GpsTextureReplacer::instance().dashboardViewUnlocked(); }
  // One game draw; returns what slot 6 held during it (the call must reach the game once).
  ID3D11ShaderResourceView* draw(UINT count, ID3D11DeviceContext* ctx = nullptr) {
    const size_t before = recordedDraws().size();
    core.onDrawIndexed(ctx ? ctx : context, count, 3, -2);
    if (recordedDraws().size() != before + 1) {
      ADD_FAILURE() << "the game's DrawIndexed was not called exactly once";
      return nullptr;
    }
    const DrawCall& c = recordedDraws().back();
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(c.start, 3u);
    EXPECT_EQ(c.base, -2);
    return c.slot6;
  }
  uint64_t replacements() { return GpsTextureReplacer::instance().replacementCount(); }
};

TEST_F(Dashboard, TheT680ScreenDrawUsesOurResourceAndTheGamesViewIsBoundAgainAfterIt) {
  drive("vehicle.kenworth.t680_2022");
  ASSERT_NE(ours(), nullptr);
  TextureAndView game = screen(1024, 512, 11);
  bindSlot6(game.view.get());
  const ULONG gameRefs = refCount(game.view.get());
  const uint64_t before = replacements();
  clock.advanceMs(70);

  EXPECT_EQ(draw(66), ours());
  EXPECT_EQ(slot6().get(), game.view.get());
  EXPECT_EQ(refCount(game.view.get()), gameRefs);
  EXPECT_EQ(replacements(), before + 1);
  EXPECT_EQ(GpsTextureReplacer::instance().lastReplacementTick(), clock.ms());
  EXPECT_EQ(core.identification().lastGpsUseTick.load(), clock.ms());
  EXPECT_EQ(core.gameState().stateTick.load(), clock.ms());  // the sighting was noted
  EXPECT_TRUE(log.has(LogLevel::INFO,
                      "GPS original reemplazado de forma quirurgica | perfil=Kenworth T680 2022 | slot=6 | DrawIndexed "
                      "count=66 | textura=1024x512. Dashboard restaurado inmediatamente."))
      << log.dump();
}

TEST_F(Dashboard, ThePictureGoesIntoOurResourceOnceAFrameBeforeTheScreensDrawBindsIt) {
  PluginConfig playing;
  playing.calibrationMode = false;
  startDashboard(playing);
  GpsIdentTestAccess::setPlaybackActive(core, true);
  core.gameState().paused.store(false);
  CountingCapture capture;
  capture.context = context;
  WindowCapture::install(&capture);
  drive("vehicle.kenworth.t680_2022");
  TextureAndView game = screen(1024, 512, 11);
  bindSlot6(game.view.get());

  EXPECT_EQ(draw(66), ours());
  EXPECT_EQ(draw(66), ours());
  EXPECT_EQ(capture.uploads, 1);
  EXPECT_EQ(capture.slot6AtLastUpload, game.view.get());  // ours went in after the picture
  WindowCapture::install(nullptr);
}

TEST_F(Dashboard, OnlyTheProfilesScreenTextureAndCountAreReplaced) {
  drive("vehicle.kenworth.t680_2022");
  D3D11_BUFFER_DESC bd{};
  bd.ByteWidth = 256;
  bd.Usage = D3D11_USAGE_DEFAULT;
  bd.BindFlags = D3D11_BIND_SHADER_RESOURCE;
  ComRef<ID3D11Buffer> buffer;
  ASSERT_HRESULT_SUCCEEDED(device->CreateBuffer(&bd, nullptr, buffer.put()));
  D3D11_SHADER_RESOURCE_VIEW_DESC vd{};
  vd.Format = DXGI_FORMAT_R32_FLOAT;
  vd.ViewDimension = D3D11_SRV_DIMENSION_BUFFER;
  vd.Buffer.NumElements = 64;
  ComRef<ID3D11ShaderResourceView> bufferView;
  ASSERT_HRESULT_SUCCEEDED(device->CreateShaderResourceView(buffer.get(), &vd, bufferView.put()));

  TextureAndView square = screen(1024, 1024, 11);         // another instrument with the same count
  TextureAndView oneMip = screen(1024, 512, 1);
  TextureAndView linear = screen(1024, 512, 11, DXGI_FORMAT_R8G8B8A8_UNORM);
  TextureAndView bgra = screen(1024, 512, 11, DXGI_FORMAT_B8G8R8A8_UNORM_SRGB);
  const struct {
    const char* what;
    ID3D11ShaderResourceView* view;
  } others[] = {{"1024x1024", square.view.get()}, {"one mip", oneMip.view.get()}, {"format 28", linear.view.get()},
                {"format 91", bgra.view.get()},   {"buffer", bufferView.get()},   {"nothing", nullptr}};
  const uint64_t before = replacements();
  for (const auto& o : others) {
    bindSlot6(o.view);
    EXPECT_EQ(draw(66), o.view) << o.what;
    EXPECT_EQ(slot6().get(), o.view) << o.what;
  }
  TextureAndView game = screen(1024, 512, 11);
  bindSlot6(game.view.get());
  for (UINT count : {0u, 6u, 42u, 65u, 67u}) EXPECT_EQ(draw(count), game.view.get()) << count;
  EXPECT_EQ(replacements(), before);
  EXPECT_FALSE(log.has(kSurgical));

  // The W900: count 42 on its 256x256 9-mip screen, not count 6.
  drive("vehicle.kenworth.w900");
  TextureAndView w900 = screen(256, 256, 9);
  bindSlot6(w900.view.get());
  EXPECT_EQ(draw(6), w900.view.get());
  EXPECT_EQ(draw(42), ours());
  EXPECT_EQ(slot6().get(), w900.view.get());
  EXPECT_EQ(replacements(), before + 1);
}

TEST_F(Dashboard, EveryConditionOfTheDrawMustHold) {
  drive("vehicle.kenworth.w900");
  TextureAndView game = screen(256, 256, 9);
  ComRef<ID3D11DeviceContext> deferred;
  ASSERT_HRESULT_SUCCEEDED(device->CreateDeferredContext(0, deferred.put()));
  PluginConfig quiet;
  quiet.calibrationMode = false;
  PluginConfig red = quiet;
  red.debugForceRed = true;

  const struct {
    const char* what;
    PluginConfig config;
    std::function<void()> arrange;
    bool replaced;
  } cases[] = {
      {"calibration on", PluginConfig{}, [] {}, true},
      {"debug red on", red, [] {}, true},
      {"playback running", quiet, [&] { Ident::setPlaybackActive(core, true); }, true},
      {"nothing to show", quiet, [] {}, false},
      {"tablet target", PluginConfig{}, [] { storePlaybackTarget(kTargetTablet); }, false},
      {"resource not prepared", PluginConfig{}, [&] { core.gameState().preparedProfileId.store(0); }, false},
      {"no binding trampoline",
       PluginConfig{},
       [&] { Access::setTrampoline(core, Hook::PSSetShaderResources, nullptr); },
       false},
      {"profile out of range", PluginConfig{}, [&] { core.gameState().truckProfileId.store(11); }, false},
  };
  for (const auto& c : cases) {
    startDashboard(c.config);
    drive("vehicle.kenworth.w900");
    bindSlot6(game.view.get());
    c.arrange();
    const uint64_t before = replacements();
    EXPECT_EQ(draw(42), c.replaced ? ours() : game.view.get()) << c.what;
    EXPECT_EQ(slot6().get(), game.view.get()) << c.what;
    EXPECT_EQ(replacements(), before + (c.replaced ? 1 : 0)) << c.what;
  }

  // A deferred context (the game recording a command list) and a null context pass through.
  startDashboard(PluginConfig{});
  drive("vehicle.kenworth.w900");
  bindSlot6(game.view.get(), deferred.get());
  EXPECT_EQ(draw(42, deferred.get()), game.view.get());
  core.onDrawIndexed(nullptr, 42, 3, -2);
  EXPECT_EQ(recordedDraws().back().context, nullptr);
  // Without the game's DrawIndexed nothing is drawn and nothing bound.
  bindSlot6(game.view.get());
  Access::setTrampoline(core, Hook::DrawIndexed, nullptr);
  const size_t draws = recordedDraws().size();
  core.onDrawIndexed(context, 42, 3, -2);
  EXPECT_EQ(recordedDraws().size(), draws);
  EXPECT_EQ(slot6().get(), game.view.get());
}

TEST_F(Dashboard, WithoutOurViewAtTheDrawTheGamesDrawRunsUnchanged) {
  drive("vehicle.kenworth.w900");
  GpsTextureReplacer::instance().releaseDashboardResource();  // prepared, but the view is gone
  TextureAndView game = screen(256, 256, 9);
  bindSlot6(game.view.get());
  const ULONG gameRefs = refCount(game.view.get());
  EXPECT_EQ(draw(42), game.view.get());
  EXPECT_EQ(refCount(game.view.get()), gameRefs);
  EXPECT_FALSE(log.has(kSurgical));
}

TEST_F(Dashboard, TheSurgicalLineIsWrittenOncePerTargetAndTruck) {
  drive("vehicle.kenworth.w900");
  TextureAndView w900 = screen(256, 256, 9);
  bindSlot6(w900.view.get());
  for (int i = 0; i < 3; ++i) draw(42);
  EXPECT_EQ(log.count(kSurgical), 1u);

  setPlaybackTarget(kTargetTablet);
  EXPECT_EQ(draw(42), w900.view.get());
  setPlaybackTarget(kTargetDashboard);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(draw(42), ours());
  EXPECT_EQ(log.count(kSurgical), 2u);

  drive("vehicle.volvo.vnl2018");
  TextureAndView vnl = screen(512, 256, 10);
  bindSlot6(vnl.view.get());
  for (int i = 0; i < 3; ++i) draw(24);
  EXPECT_EQ(log.count(kSurgical), 3u);
  EXPECT_TRUE(log.has("perfil=Volvo VNL 2018 | slot=6 | DrawIndexed count=24 | textura=512x256."));
}

TEST_F(Dashboard, TheResourceFollowsTheTruckAndATruckChangeBetweenTwoDrawsIsSafe) {
  drive("vehicle.volvo.vnl2018");
  ComRef<ID3D11Texture2D> first(GpsTextureReplacer::instance().dashboardTextureRef());
  ASSERT_TRUE(first);
  EXPECT_EQ(descOf(first.get()).Width, 512u);
  EXPECT_EQ(descOf(first.get()).Height, 256u);
  EXPECT_EQ(descOf(first.get()).Format, DXGI_FORMAT_B8G8R8A8_TYPELESS);
  EXPECT_EQ(core.gameState().preparedProfileId.load(), 9u);
  core.prepareDashboardResource();  // nothing to do
  EXPECT_EQ(ComRef<ID3D11Texture2D>(GpsTextureReplacer::instance().dashboardTextureRef()).get(), first.get());

  // The game reports the W900 between two draws of one frame: the second draw is left alone
  // until the next frame has prepared the W900's resource.
  TextureAndView vnl = screen(512, 256, 10), w900 = screen(256, 256, 9);
  bindSlot6(vnl.view.get());
  EXPECT_EQ(draw(24), ours());
  core.applyTruckProfile("vehicle.kenworth.w900");
  bindSlot6(w900.view.get());
  EXPECT_EQ(draw(42), w900.view.get());
  core.prepareDashboardResource();
  ComRef<ID3D11Texture2D> second(GpsTextureReplacer::instance().dashboardTextureRef());
  EXPECT_EQ(descOf(second.get()).Width, 256u);
  EXPECT_EQ(descOf(second.get()).Height, 256u);
  EXPECT_EQ(draw(42), ours());
  EXPECT_TRUE(log.has("GPS original: recurso ZOR privado listo (256x256)"));

  // A truck without a profile lets the resource go.
  drive("vehicle.mack.anthem");
  EXPECT_EQ(ours(), nullptr);
  EXPECT_FALSE(ComRef<ID3D11Texture2D>(GpsTextureReplacer::instance().dashboardTextureRef()));
  EXPECT_EQ(core.gameState().preparedProfileId.load(), 0u);
  EXPECT_EQ(draw(42), w900.view.get());
}

TEST_F(Dashboard, AFailingCreationIsRetriedEveryFrameWithThinnedErrors) {
  GpsTextureReplacer::instance().setCreateTexture2D(&failingCreate);
  core.applyTruckProfile("vehicle.kenworth.w900");
  for (int frame = 0; frame < 120; ++frame) core.prepareDashboardResource();
  EXPECT_EQ(core.gameState().preparedProfileId.load(), 0u);
  EXPECT_EQ(log.count("GPS original: no se pudo crear el recurso ZOR privado."), 3u) << log.dump();  // 1st, 10th, 100th
  EXPECT_TRUE(log.has(LogLevel::ERROR, "GPS original: no se pudo crear el recurso ZOR privado."));

  GpsTextureReplacer::instance().setCreateTexture2D(nullptr);
  core.prepareDashboardResource();
  EXPECT_EQ(core.gameState().preparedProfileId.load(), 1u);
  EXPECT_NE(ours(), nullptr);
  GpsTextureReplacer::instance().setCreateTexture2D(&failingCreate);  // a new run of failures reports again
  drive("vehicle.volvo.vnl2018");
  EXPECT_EQ(log.count("GPS original: no se pudo crear el recurso ZOR privado."), 4u);
}

}  // namespace
