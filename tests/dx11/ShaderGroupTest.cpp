// The shader-group analysis of the legacy size rule and its trigger from the Present hook.
#include "dx11/IdentFixture.h"

using namespace zor;
using namespace zor::test;

namespace {

constexpr char kNotEnough[] = "V1.14.0: aun no hay suficientes candidatas con shader conocido para analizar.";
constexpr char kOneGroup[] = "V1.14.0: solo se ha visto 1 grupo de shader hasta ahora";
constexpr char kFixed[] = "V1.14.0: shader del GPS fijado automaticamente -> 0x";

HRESULT STDMETHODCALLTYPE countingPresent(IDXGISwapChain*, UINT, UINT) { return S_OK; }

class ShaderGroups : public IdentTest {
 protected:
  void SetUp() override {
    IdentTest::SetUp();
    PluginConfig c = legacy(1024, 512);
    c.slot = 3;
    c.minHitsToLock = 4;
    start(c);
  }
  // A new 1024 x 512 texture bound `uses` times in slot under shader.
  TextureAndView used(ID3D11PixelShader* shader, int uses, UINT slot = 3, UINT width = 1024) {
    TextureAndView tv = makeTextureAndView(device, textureDesc(width, 512));
    useShader(shader);
    for (int i = 0; i < uses; ++i) bind(slot, tv.view.get());
    return tv;
  }
  size_t analyses() { return log.count("V1.14.0:"); }
};

TEST_F(ShaderGroups, TheShaderOfTheSmallestGroupIsFixed) {
  ComRef<ID3D11PixelShader> shaderC = makePixelShader(device, 0.1f);
  std::vector<TextureAndView> kept;
  for (int i = 0; i < 3; ++i) kept.push_back(used(shaderA.get(), 4));
  kept.push_back(used(shaderB.get(), 4, 7));      // another slot still counts here
  kept.push_back(used(shaderC.get(), 3));         // below min_hits_to_lock: ignored
  kept.push_back(used(shaderC.get(), 9, 3, 2048));  // another size: ignored
  core.analyseShaderGroups();
  EXPECT_TRUE(core.identification().gpsShaderFixed.load());
  EXPECT_EQ(core.identification().gpsPixelShader.load(), shaderB.get());
  char expected[300];
  snprintf(expected, sizeof expected,
           "V1.14.0: shader del GPS fijado automaticamente -> 0x%016llX (compartido por 1 textura(s), de 2 grupos de "
           "shader distintos vistos en total). De ahora en adelante solo se sustituye lo que use ESE shader.",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(shaderB.get())));
  EXPECT_TRUE(log.has(LogLevel::INFO, expected)) << log.dump();
}

TEST_F(ShaderGroups, TooLittleDataIsReportedAndNothingIsFixed) {
  std::vector<TextureAndView> kept;
  kept.push_back(used(shaderA.get(), 3));
  kept.push_back(used(nullptr, 6));  // drawn without a known shader
  core.analyseShaderGroups();
  EXPECT_TRUE(log.has(LogLevel::WARNING, kNotEnough));

  kept.push_back(used(shaderA.get(), 4));
  kept.push_back(used(shaderA.get(), 5));
  core.analyseShaderGroups();
  EXPECT_TRUE(log.has(LogLevel::WARNING, kOneGroup));
  EXPECT_FALSE(core.identification().gpsShaderFixed.load());
  EXPECT_EQ(core.identification().gpsPixelShader.load(), nullptr);
}

TEST_F(ShaderGroups, ThePresentHookRunsItAfterFiveSecondsThenAtMostOncePerSecondUntilFixed) {
  Access::setTrampoline(core, Hook::Present, reinterpret_cast<void*>(&countingPresent));
  auto frames = [&](uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 20) {
      clock.advanceMs(20);
      core.onPresent(window_->swapChain.get(), 0, 0);
    }
  };
  std::vector<TextureAndView> kept;
  kept.push_back(used(shaderA.get(), 4));
  frames(5000);  // the context was acquired at start(): exactly 5 s is not yet enough
  EXPECT_EQ(analyses(), 0u);
  frames(20);
  EXPECT_EQ(analyses(), 1u);
  frames(980);
  EXPECT_EQ(analyses(), 1u);
  frames(40);
  EXPECT_EQ(analyses(), 2u);

  kept.push_back(used(shaderB.get(), 4));
  kept.push_back(used(shaderB.get(), 4));
  frames(1020);
  EXPECT_EQ(log.count(kFixed), 1u);
  EXPECT_EQ(core.identification().gpsPixelShader.load(), shaderA.get());
  frames(3000);
  EXPECT_EQ(log.count("V1.14.0:"), 3u);
}

TEST_F(ShaderGroups, WithoutTheLegacyRuleTheAnalysisNeverRuns) {
  start(PluginConfig{});
  Access::setTrampoline(core, Hook::Present, reinterpret_cast<void*>(&countingPresent));
  for (int i = 0; i < 500; ++i) {
    clock.advanceMs(20);
    core.onPresent(window_->swapChain.get(), 0, 0);
  }
  EXPECT_EQ(analyses(), 0u);
}

}  // namespace
