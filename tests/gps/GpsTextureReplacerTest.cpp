// The replacer on a real D3D11 device: every resource it creates is read back and compared
// with the expected bytes.
#include <gtest/gtest.h>

#include <limits>

#include "gps/GpsTextureReplacer.h"
#include "support/GfxTestKit.h"
#include "support/ManualClock.h"

using namespace zor;
using namespace zor::test;

namespace {

using Bytes = std::vector<int>;

class ReplacerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device = makeDevice(&context);
    ASSERT_TRUE(device);
    replacer.close();
    replacer.releaseRedTestTexture();
    replacer.setCreateTexture2D(nullptr);
    replacer.initialize();
  }
  void TearDown() override {
    replacer.close();
    replacer.releaseRedTestTexture();
    replacer.setCreateTexture2D(nullptr);
  }

  ComRef<ID3D11Texture2D> makeTexture(UINT w, UINT h, DXGI_FORMAT format, UINT mips = 1,
                                      UINT bind = D3D11_BIND_SHADER_RESOURCE) {
    D3D11_TEXTURE2D_DESC d = textureDesc(w, h, mips, format, bind);
    if (mips != 1 && (bind & D3D11_BIND_RENDER_TARGET)) d.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
    ComRef<ID3D11Texture2D> t;
    device->CreateTexture2D(&d, nullptr, t.put());
    return t;
  }
  ComRef<ID3D11ShaderResourceView> makeView(ID3D11Texture2D* t) {
    ComRef<ID3D11ShaderResourceView> v;
    device->CreateShaderResourceView(t, nullptr, v.put());
    return v;
  }
  ComRef<ID3D11Texture2D> replacementTexture() { return ComRef<ID3D11Texture2D>(replacer.replacementTextureRef()); }

  static void expectView(ID3D11ShaderResourceView* view, DXGI_FORMAT format) {
    D3D11_SHADER_RESOURCE_VIEW_DESC vd{};
    view->GetDesc(&vd);
    EXPECT_EQ(vd.Format, format);
    EXPECT_EQ(vd.ViewDimension, D3D11_SRV_DIMENSION_TEXTURE2D);
    EXPECT_EQ(vd.Texture2D.MostDetailedMip, 0u);
  }
  static void expectDesc(const D3D11_TEXTURE2D_DESC& d, UINT w, UINT h, UINT mips, DXGI_FORMAT format, UINT bind,
                         UINT misc) {
    EXPECT_EQ(d.Width, w);
    EXPECT_EQ(d.Height, h);
    EXPECT_EQ(d.MipLevels, mips);
    EXPECT_EQ(d.Format, format);
    EXPECT_EQ(d.BindFlags, bind);
    EXPECT_EQ(d.MiscFlags, misc);
    EXPECT_EQ(d.ArraySize, 1u);
    EXPECT_EQ(d.SampleDesc.Count, 1u);
    EXPECT_EQ(d.SampleDesc.Quality, 0u);
    EXPECT_EQ(d.Usage, D3D11_USAGE_DEFAULT);
    EXPECT_EQ(d.CPUAccessFlags, 0u);
  }

  GpsTextureReplacer& replacer = GpsTextureReplacer::instance();
  ComRef<ID3D11DeviceContext> context;
  ComRef<ID3D11Device> device;
  LogCapture log;
};

// Checker texel bytes expected at (x, y) of a w x h B8G8R8A8 replacement.
Bytes checkerAt(uint32_t px[], uint32_t w, uint32_t x, uint32_t y) { return bytesOf(px[y * w + x]); }

const Bytes kBlueBorder{255, 70, 40, 255};
const Bytes kOrange{18, 116, 230, 255};
const Bytes kBrown{10, 62, 155, 255};

TEST_F(ReplacerTest, AttachDeviceCreatesTheVisualPattern) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  ComRef<ID3D11Texture2D> tex = replacementTexture();
  ASSERT_TRUE(tex);
  expectDesc(descOf(tex.get()), 256, 256, 1, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, 0x8, 0);
  ComRef<ID3D11ShaderResourceView> view(replacer.replacementViewRef());
  expectView(view.get(), DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);

  std::vector<uint32_t> px = readTexels(device.get(), tex.get());
  ASSERT_EQ(px.size(), 256u * 256u);
  EXPECT_EQ(px, gpspattern::visual());
  auto at = [&](int x, int y) { return bytesOf(px[y * 256 + x]); };
  EXPECT_EQ(at(0, 0), (Bytes{255, 70, 40, 255}));     // border
  EXPECT_EQ(at(248, 100), (Bytes{255, 70, 40, 255}));
  EXPECT_EQ(at(247, 100), (Bytes{18, 116, 230, 255}));  // (7 + 3) even cell
  EXPECT_EQ(at(116, 20), (Bytes{245, 245, 245, 255}));  // white cross, both ends included
  EXPECT_EQ(at(140, 20), (Bytes{245, 245, 245, 255}));
  EXPECT_EQ(at(20, 140), (Bytes{245, 245, 245, 255}));
  EXPECT_EQ(at(141, 20), (Bytes{18, 116, 230, 255}));  // just right of the cross: (4 + 0) even cell
  EXPECT_EQ(at(40, 20), (Bytes{10, 62, 155, 255}));    // (1 + 0) odd cell
}

TEST_F(ReplacerTest, ConfiguredSizeReplacementIsATypelessMippedChecker) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  ASSERT_TRUE(replacer.createForConfiguredSize(300, 200));
  ComRef<ID3D11Texture2D> tex = replacementTexture();
  expectDesc(descOf(tex.get()), 300, 200, 9, DXGI_FORMAT_B8G8R8A8_TYPELESS, 0x28, D3D11_RESOURCE_MISC_GENERATE_MIPS);
  ComRef<ID3D11ShaderResourceView> view(replacer.replacementViewRef());
  expectView(view.get(), DXGI_FORMAT_B8G8R8A8_UNORM_SRGB);

  std::vector<uint32_t> px = readTexels(device.get(), tex.get());
  ASSERT_EQ(px.size(), 300u * 200u);
  EXPECT_EQ(px, gpspattern::checker(300, 200));
  EXPECT_EQ(checkerAt(px.data(), 300, 5, 100), kBlueBorder);
  EXPECT_EQ(checkerAt(px.data(), 300, 294, 100), kBlueBorder);
  EXPECT_EQ(checkerAt(px.data(), 300, 100, 194), kBlueBorder);
  EXPECT_EQ(checkerAt(px.data(), 300, 6, 6), kOrange);
  EXPECT_EQ(checkerAt(px.data(), 300, 40, 6), kBrown);
  EXPECT_EQ(checkerAt(px.data(), 300, 293, 193), kBrown);  // 9 + 6 odd
  // The mips were generated from the pattern: the smallest one is neither empty nor border blue.
  std::vector<uint32_t> last = readTexels(device.get(), tex.get(), 8);
  ASSERT_EQ(last.size(), 1u);
  EXPECT_NE(last[0], 0u);

  // The same size again keeps the texture.
  ASSERT_TRUE(replacer.createForConfiguredSize(300, 200));
  EXPECT_EQ(replacementTexture().get(), tex.get());
}

TEST_F(ReplacerTest, RegisteredGpsTextureGetsDirectPatternAndSizedReplacementOnce) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  ComRef<ID3D11Texture2D> gps = makeTexture(1024, 1024, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB, 11,
                                            D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET);
  const ULONG refsBefore = refCount(gps.get());
  replacer.registerGpsTexture(gps.get());
  EXPECT_EQ(refCount(gps.get()), refsBefore + 1);
  EXPECT_EQ(replacer.currentGpsTexture(), gps.get());

  uint32_t w = 0, h = 0, f = 0;
  std::vector<uint32_t> direct = replacer.directPattern(&w, &h, &f);
  ASSERT_EQ(direct.size(), 1024u * 1024u);
  EXPECT_EQ(f, 29u);
  auto at = [&](int x, int y) { return bytesOf(direct[y * 1024 + x]); };
  EXPECT_EQ(at(0, 0), (Bytes{0, 255, 40, 255}));      // R, G, B, A
  EXPECT_EQ(at(1016, 300), (Bytes{0, 255, 40, 255}));
  EXPECT_EQ(at(504, 100), (Bytes{255, 255, 255, 255}));  // centre band 504..520
  EXPECT_EQ(at(520, 100), (Bytes{255, 255, 255, 255}));
  EXPECT_EQ(at(100, 100), (Bytes{255, 0, 180, 255}));  // even cell
  EXPECT_EQ(at(100, 70), (Bytes{140, 20, 60, 255}));   // odd cell

  ASSERT_TRUE(replacer.prepareForGpsSize());
  ComRef<ID3D11Texture2D> tex = replacementTexture();
  expectDesc(descOf(tex.get()), 1024, 1024, 11, DXGI_FORMAT_B8G8R8A8_TYPELESS, 0x28, D3D11_RESOURCE_MISC_GENERATE_MIPS);
  EXPECT_EQ(readTexels(device.get(), tex.get()), gpspattern::checker(1024, 1024));
  ASSERT_TRUE(replacer.prepareForGpsSize());
  EXPECT_EQ(replacementTexture().get(), tex.get());
  EXPECT_EQ(log.count("V1.8.0: textura de reemplazo recreada a 1024x1024 (coincide con el tamano real del GPS)."), 1u);
}

TEST_F(ReplacerTest, DirectPatternFollowsTheChannelOrderOfBgraFormats) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  ComRef<ID3D11Texture2D> gps = makeTexture(64, 48, DXGI_FORMAT_B8G8R8A8_UNORM);
  replacer.registerGpsTexture(gps.get());
  uint32_t w = 0, h = 0, f = 0;
  std::vector<uint32_t> direct = replacer.directPattern(&w, &h, &f);
  ASSERT_EQ(direct.size(), 64u * 48u);
  EXPECT_EQ(bytesOf(direct[0]), (Bytes{40, 255, 0, 255}));             // B, G, R, A
  EXPECT_EQ(bytesOf(direct[10 * 64 + 10]), (Bytes{180, 0, 255, 255}));  // even cell, before the bands
}

TEST_F(ReplacerTest, Bc1GpsTextureIsRegisteredWithoutDirectPattern) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  ComRef<ID3D11Texture2D> gps = makeTexture(256, 256, DXGI_FORMAT_BC1_UNORM);
  ASSERT_TRUE(gps);
  replacer.registerGpsTexture(gps.get());
  EXPECT_TRUE(log.has(LogLevel::WARNING,
                      "V1.5.0: textura GPS detectada, pero su formato no permite la prueba directa. Formato=71 "
                      "Size=256x256"));
  EXPECT_EQ(replacer.trackedTextureCount(), 1u);
  EXPECT_TRUE(replacer.directPattern(nullptr, nullptr, nullptr).empty());
  ASSERT_TRUE(replacer.prepareForGpsSize());
  EXPECT_EQ(descOf(replacementTexture().get()).Width, 256u);
}

TEST_F(ReplacerTest, AtMostTwentyFourTexturesAndViewsAreTracked) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  std::vector<ComRef<ID3D11Texture2D>> textures;
  std::vector<ComRef<ID3D11ShaderResourceView>> views;
  for (int i = 0; i < 25; ++i) {
    textures.push_back(makeTexture(32, 32, DXGI_FORMAT_R8G8B8A8_UNORM));
    views.push_back(makeView(textures.back().get()));
  }
  for (int i = 0; i < 24; ++i) {
    replacer.registerGpsTexture(textures[i].get());
    replacer.registerGpsView(views[i].get());
  }
  replacer.registerGpsTexture(textures[3].get());  // already tracked
  EXPECT_EQ(replacer.trackedTextureCount(), 24u);
  EXPECT_EQ(replacer.currentGpsTexture(), textures[23].get());

  const ULONG refs = refCount(textures[24].get());
  replacer.registerGpsTexture(textures[24].get());
  replacer.registerGpsView(views[24].get());
  EXPECT_EQ(replacer.trackedTextureCount(), 24u);
  EXPECT_EQ(replacer.currentGpsTexture(), textures[23].get());
  EXPECT_EQ(refCount(textures[24].get()), refs);
  ID3D11ShaderResourceView* r = replacer.findReplacement(views[24].get());
  EXPECT_EQ(r, nullptr);

  // Releasing the tracked lists gives every reference back.
  const ULONG tracked = refCount(textures[0].get());
  replacer.releaseTracked();
  EXPECT_EQ(refCount(textures[0].get()), tracked - 1);
  EXPECT_EQ(replacer.trackedTextureCount(), 0u);
}

TEST_F(ReplacerTest, FindReplacementMatchesTrackedViewsAndStampsTime) {
  ManualClock clock(50'000);
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  EXPECT_EQ(replacer.msSinceLastReplacement(), std::numeric_limits<uint64_t>::max());
  ComRef<ID3D11Texture2D> gps = makeTexture(256, 256, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
  ComRef<ID3D11ShaderResourceView> gpsView = makeView(gps.get());
  ComRef<ID3D11ShaderResourceView> other = makeView(makeTexture(256, 256, DXGI_FORMAT_R8G8B8A8_UNORM).get());

  replacer.registerGpsView(gpsView.get());
  EXPECT_EQ(replacer.findReplacement(gpsView.get()), nullptr);  // no GPS texture yet
  replacer.registerGpsTexture(gps.get());
  EXPECT_EQ(replacer.findReplacement(other.get()), nullptr);
  EXPECT_FALSE(replacer.replacedWithin(550));

  ComRef<ID3D11ShaderResourceView> expected(replacer.replacementViewRef());
  const ULONG refs = refCount(expected.get());
  ComRef<ID3D11ShaderResourceView> got(replacer.findReplacement(gpsView.get()));
  EXPECT_EQ(got.get(), expected.get());
  EXPECT_EQ(refCount(expected.get()), refs + 1);  // the caller's reference
  EXPECT_EQ(replacer.replacementCount(), 1u);
  EXPECT_EQ(replacer.lastReplacementTick(), 50'000u);
  clock.advanceMs(550);
  EXPECT_TRUE(replacer.replacedWithin(550));
  EXPECT_EQ(replacer.msSinceLastReplacement(), 550u);
  clock.advanceMs(1);
  EXPECT_FALSE(replacer.replacedWithin(550));
}

TEST_F(ReplacerTest, ReleaseTrackedKeepsTheReplacement) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  ComRef<ID3D11Texture2D> gps = makeTexture(512, 256, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
  replacer.registerGpsTexture(gps.get());
  ASSERT_TRUE(replacer.prepareForGpsSize());
  ComRef<ID3D11Texture2D> before = replacementTexture();
  ASSERT_NE(replacer.getRedDiagnosticView(), nullptr);

  replacer.releaseTracked();
  EXPECT_TRUE(log.has(LogLevel::WARNING, "V0.6.6 RELOCK: se solto el enganche anterior"));
  EXPECT_EQ(replacer.currentGpsTexture(), nullptr);
  EXPECT_EQ(replacementTexture().get(), before.get());
  EXPECT_EQ(replacer.getRedDiagnosticView(), nullptr);  // red resource went with the tracking

  ComRef<ID3D11Texture2D> again = makeTexture(512, 256, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
  replacer.registerGpsTexture(again.get());
  ASSERT_TRUE(replacer.prepareForGpsSize());
  EXPECT_EQ(replacementTexture().get(), before.get());
  EXPECT_EQ(log.count("V1.8.0: textura de reemplazo recreada a 512x256"), 1u);
}

TEST_F(ReplacerTest, RedResourcesAreOpaqueRed) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  EXPECT_EQ(replacer.getRedDiagnosticView(), nullptr);  // no GPS texture yet
  ComRef<ID3D11Texture2D> gps = makeTexture(512, 256, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
  replacer.registerGpsTexture(gps.get());
  ID3D11ShaderResourceView* red = replacer.getRedDiagnosticView();
  ASSERT_NE(red, nullptr);
  EXPECT_EQ(replacer.getRedDiagnosticView(), red);
  expectView(red, DXGI_FORMAT_B8G8R8A8_UNORM);
  ComRef<ID3D11Resource> res;
  red->GetResource(res.put());
  ComRef<ID3D11Texture2D> redTex;
  res->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(redTex.put()));
  expectDesc(descOf(redTex.get()), 512, 256, 10, DXGI_FORMAT_B8G8R8A8_UNORM, 0x28, D3D11_RESOURCE_MISC_GENERATE_MIPS);
  for (uint32_t t : readTexels(device.get(), redTex.get())) ASSERT_EQ(bytesOf(t), (Bytes{0, 0, 255, 255}));
  EXPECT_TRUE(log.has("V0.6.6: textura de diagnostico ROJA lista (512x256)."));

  // A binder's own reference keeps the red view alive while a truck change releases it.
  ComRef<ID3D11ShaderResourceView> bound(replacer.redDiagnosticViewRef());
  EXPECT_EQ(bound.get(), red);
  replacer.releaseTracked();
  EXPECT_EQ(bound->AddRef(), 2u);
  bound->Release();

  EXPECT_FALSE(replacer.createRedTestTexture(nullptr));
  EXPECT_TRUE(log.has(LogLevel::ERROR, "V1.4.0: no se pudo crear la textura GPU de prueba porque el dispositivo DX11 es nulo."));
  ASSERT_TRUE(replacer.createRedTestTexture(device.get()));
  ComRef<ID3D11Texture2D> test(replacer.redTestTextureRef());
  expectDesc(descOf(test.get()), 1024, 512, 1, DXGI_FORMAT_B8G8R8A8_UNORM, 0x8, 0);
  ComRef<ID3D11ShaderResourceView> testView(replacer.redTestViewRef());
  D3D11_SHADER_RESOURCE_VIEW_DESC vd{};
  testView->GetDesc(&vd);
  EXPECT_EQ(vd.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
  EXPECT_EQ(vd.Texture2D.MipLevels, 1u);
  std::vector<uint32_t> px = readTexels(device.get(), test.get());
  ASSERT_EQ(px.size(), 1024u * 512u);
  EXPECT_EQ(px[0], gpspattern::kRedTexel);
  EXPECT_EQ(px[1024 * 511 + 1023], gpspattern::kRedTexel);
  // It survives close(): the graphics core releases it itself.
  replacer.close();
  EXPECT_NE(ComRef<ID3D11Texture2D>(replacer.redTestTextureRef()).get(), nullptr);
}

TEST_F(ReplacerTest, DashboardResourceIsPrivateAndReleasable) {
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  EXPECT_FALSE(replacer.createDashboardResource(0, 256));
  ASSERT_TRUE(replacer.createDashboardResource(1024, 512));
  ComRef<ID3D11Texture2D> dash(replacer.dashboardTextureRef());
  expectDesc(descOf(dash.get()), 1024, 512, 11, DXGI_FORMAT_B8G8R8A8_TYPELESS, 0x28, D3D11_RESOURCE_MISC_GENERATE_MIPS);
  EXPECT_NE(replacer.dashboardViewUnlocked(), nullptr);
  expectView(replacer.dashboardViewUnlocked(), DXGI_FORMAT_B8G8R8A8_UNORM_SRGB);
  EXPECT_EQ(readTexels(device.get(), dash.get()), gpspattern::checker(1024, 512));
  ASSERT_TRUE(replacer.createDashboardResource(1024, 512));
  EXPECT_EQ(ComRef<ID3D11Texture2D>(replacer.dashboardTextureRef()).get(), dash.get());
  ASSERT_TRUE(replacer.createDashboardResource(256, 256));
  EXPECT_EQ(descOf(ComRef<ID3D11Texture2D>(replacer.dashboardTextureRef()).get()).Width, 256u);
  replacer.releaseDashboardResource();
  EXPECT_EQ(replacer.dashboardViewUnlocked(), nullptr);
  EXPECT_EQ(log.count("GPS original: recurso ZOR privado listo ("), 2u);
}

// Creation through the unhooked entry, and what a failing creation leaves behind.
HRESULT STDMETHODCALLTYPE failingCreate(ID3D11Device*, const D3D11_TEXTURE2D_DESC*, const D3D11_SUBRESOURCE_DATA*,
                                        ID3D11Texture2D** out) {
  *out = nullptr;
  return E_OUTOFMEMORY;
}
int g_forwarded = 0;
HRESULT STDMETHODCALLTYPE countingCreate(ID3D11Device* device, const D3D11_TEXTURE2D_DESC* d,
                                         const D3D11_SUBRESOURCE_DATA* init, ID3D11Texture2D** out) {
  ++g_forwarded;
  return device->CreateTexture2D(d, init, out);
}

TEST_F(ReplacerTest, TexturesGoThroughTheUnhookedEntryAndFailuresLeaveNoReplacement) {
  g_forwarded = 0;
  replacer.setCreateTexture2D(&countingCreate);
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  EXPECT_EQ(g_forwarded, 0);  // the visual pattern uses the device's own method
  ComRef<ID3D11Texture2D> gps = makeTexture(256, 256, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
  ComRef<ID3D11ShaderResourceView> gpsView = makeView(gps.get());
  replacer.registerGpsTexture(gps.get());
  replacer.registerGpsView(gpsView.get());
  ASSERT_TRUE(replacer.prepareForGpsSize());
  EXPECT_EQ(g_forwarded, 1);

  replacer.setCreateTexture2D(&failingCreate);
  EXPECT_FALSE(replacer.createForConfiguredSize(128, 128));
  EXPECT_TRUE(log.has(LogLevel::ERROR, "V1.11.0: no se pudo crear la textura de reemplazo por tamano configurado."));
  EXPECT_EQ(replacer.findReplacement(gpsView.get()), nullptr);  // the game's own view stays bound
  EXPECT_FALSE(replacer.createDashboardResource(256, 256));
  EXPECT_TRUE(log.has(LogLevel::ERROR, "GPS original: no se pudo crear el recurso ZOR privado."));
  EXPECT_EQ(replacer.getRedDiagnosticView(), nullptr);
  EXPECT_TRUE(log.has(LogLevel::ERROR, "V0.6.6: no se pudo crear la textura de diagnostico ROJA."));
}

// Writes one solid frame through the device's immediate context.
struct SolidFrameWriter {
  ID3D11DeviceContext* context = nullptr;
  int writes = 0;
  static bool write(ID3D11Texture2D* texture, void* arg) {
    auto* self = static_cast<SolidFrameWriter*>(arg);
    ++self->writes;
    D3D11_TEXTURE2D_DESC d = descOf(texture);
    std::vector<uint32_t> px(static_cast<size_t>(d.Width) * d.Height, 0xFF204060u);
    self->context->UpdateSubresource(texture, 0, nullptr, px.data(), d.Width * 4, 0);
    return true;
  }
};

TEST_F(ReplacerTest, UploadWritesTheFrameAndRegeneratesMips) {
  SolidFrameWriter writer;
  writer.context = context.get();
  EXPECT_FALSE(replacer.writeTargetFrame(false, &SolidFrameWriter::write, &writer));  // no device yet
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  ASSERT_TRUE(replacer.createForConfiguredSize(64, 64));
  EXPECT_FALSE(replacer.writeTargetFrame(true, &SolidFrameWriter::write, &writer));  // no dashboard resource
  EXPECT_EQ(writer.writes, 0);
  ASSERT_TRUE(replacer.writeTargetFrame(false, &SolidFrameWriter::write, &writer));
  ComRef<ID3D11Texture2D> tex = replacementTexture();
  EXPECT_EQ(readTexels(device.get(), tex.get())[100], 0xFF204060u);
  EXPECT_EQ(readTexels(device.get(), tex.get(), 6)[0], 0xFF204060u);  // 1 x 1 mip regenerated
}

TEST_F(ReplacerTest, CloseReleasesEverythingAndStopsRegistering) {
  ComRef<ID3D11Texture2D> gps = makeTexture(128, 128, DXGI_FORMAT_R8G8B8A8_UNORM);
  const ULONG deviceRefs = refCount(device.get());
  ASSERT_TRUE(replacer.attachDevice(device.get()));
  EXPECT_GT(refCount(device.get()), deviceRefs);
  replacer.registerGpsTexture(gps.get());
  replacer.prepareForGpsSize();
  replacer.close();
  EXPECT_TRUE(log.has("Sistema de reemplazo GPS cerrado correctamente."));  // the closing line, as the log shows it
  EXPECT_EQ(refCount(device.get()), deviceRefs);
  EXPECT_EQ(refCount(gps.get()), 1u);
  replacer.registerGpsTexture(gps.get());
  EXPECT_EQ(replacer.trackedTextureCount(), 0u);
  EXPECT_FALSE(replacer.attachDevice(device.get()));
}

TEST(GpsPatterns, DirectPatternRejectsOtherFormatsAndSizes) {
  std::vector<uint32_t> out;
  EXPECT_FALSE(gpspattern::direct(256, 256, DXGI_FORMAT_BC1_UNORM, out));
  EXPECT_FALSE(gpspattern::direct(4097, 16, DXGI_FORMAT_R8G8B8A8_UNORM, out));
  EXPECT_FALSE(gpspattern::direct(0, 16, DXGI_FORMAT_R8G8B8A8_UNORM, out));
  // Tiny textures: the bands and border overlap without running outside the texture.
  ASSERT_TRUE(gpspattern::direct(3, 2, DXGI_FORMAT_B8G8R8X8_UNORM, out));
  EXPECT_EQ(out.size(), 6u);
}

}  // namespace
