// Playback through the whole graphics core in this process: real D3D11 device and swap chain,
// the real hooks, the real capture engine and the media program (a process of its own). The
// game's Present carries the start request out and uploads the program's picture into the
// tablet's replacement texture, only when the worker has a new frame.
#include <gtest/gtest.h>

#include "MediaProgram.h"
#include "capture/GdiWindowCapture.h"
#include "dx11/Dx11TestSupport.h"
#include "support/ManualClock.h"

using namespace zor;
using namespace zor::test;
using Access = Dx11CoreTestAccess;

namespace {

uint32_t rgb(uint32_t texel) { return texel & 0x00FFFFFFu; }

TEST(CapturePlayback, TheProgramsPictureReachesTheTabletTextureLetterboxedAndOnlyNewFramesAreUploaded) {
  ManualClock clock;
  LogCapture log;
  Dx11Core& core = Dx11Core::instance();
  PluginConfig config;
  config.gpsWidth = 512;
  config.gpsHeight = 512;
  config.calibrationMode = false;
  config.flipVertical = true;  // top rows first: the texture shows the window upright
  Access::fresh(core, config);
  core.gameState().paused.store(false);  // driving
  setGameWindowQualifies(true);
  TestWindow& game = gameWindow();

  const std::wstring title = L"Lofi " + std::to_wstring(GetCurrentProcessId()) + L" - YouTube";
  sim::MediaProgram program("lofi", title, 0);
  std::string error;
  ASSERT_TRUE(program.open(10000, error)) << error;
  // On screen whatever the display's size, in front of the game's window.
  SetWindowPos(program.hwnd(), HWND_TOPMOST, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);

  GdiWindowCapture& engine = GdiWindowCapture::processEngine();
  ASSERT_TRUE(core.initialize());
  ASSERT_TRUE(waitFor([&] { return core.hooksInstalled() && !core.bootstrapRunning(); })) << log.dump();
  Access::setConfig(core, config);  // not the test folder's INI
  PanelState::instance().reset();
  const std::string keyword(title.begin(), title.end());
  PanelState::instance().requestStart(keyword, 1280, 720, 30);

  game.swapChain->Present(0, 0);  // adopts the device, starts capture, hands the texture's size over
  ASSERT_TRUE(engine.isActive()) << log.dump();
  EXPECT_EQ(engine.outputWidth(), 512u);
  ASSERT_TRUE(engine.waitUntilIdle(10000));
  const uint64_t uploads = engine.counters().uploads;
  game.swapChain->Present(0, 0);
  ASSERT_EQ(engine.counters().uploads, uploads + 1) << log.dump();

  ComRef<ID3D11Texture2D> texture(GpsTextureReplacer::instance().replacementTextureRef());
  ASSERT_TRUE(texture);
  const std::vector<uint32_t> texels = readTexels(game.device.get(), texture.get());
  ASSERT_EQ(texels.size(), 512u * 512u);
  auto at = [&](uint32_t x, uint32_t y) { return rgb(texels[y * 512 + x]); };
  // 491 x 491 at (10, 10): black around it.
  EXPECT_EQ(at(9, 256), 0u);
  EXPECT_NE(at(10, 256), 0u);
  EXPECT_NE(at(500, 256), 0u);
  EXPECT_EQ(at(501, 256), 0u);
  EXPECT_EQ(at(256, 9), 0u);
  EXPECT_EQ(at(256, 501), 0u);
  size_t teal = 0, purple = 0, samples = 0;
  for (uint32_t y = 20; y < 380; y += 8) {  // the picture's upper part (the text band is lower)
    for (uint32_t x = 20; x < 492; x += 8, ++samples) {
      teal += at(x, y) == 0x008C82u;
      purple += at(x, y) == 0x6E32A0u;
    }
  }
  EXPECT_GT(teal, samples / 2);
  EXPECT_GT(purple, samples / 20);
  // The mips were made from it.
  EXPECT_NE(rgb(readTexels(game.device.get(), texture.get(), 4)[16 * 32 + 16]), 0u);

  // No new frame: the Presents upload nothing.
  game.swapChain->Present(0, 0);
  game.swapChain->Present(0, 0);
  EXPECT_EQ(engine.counters().uploads, uploads + 1);
  clock.advanceMs(34);
  engine.wake();
  ASSERT_TRUE(engine.waitUntilIdle(10000));
  game.swapChain->Present(0, 0);
  EXPECT_EQ(engine.counters().uploads, uploads + 2);

  core.shutdown();
  EXPECT_FALSE(engine.workerRunning());
  EXPECT_TRUE(program.close(5000));
  PanelState::instance().reset();
  Access::fresh(core);
}

}  // namespace
