// The probe must tell apart what can appear on a GPS screen: the game's pictures, each of the
// plugin's test patterns (built here from their texel definitions) and the media program's picture.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <vector>

#include "MediaProgram.h"
#include "Probe.h"

namespace zor::sim {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

// Renders a texture-space pattern (w x h texels) into a 400x300 region of a frame, the way a
// screen quad shows it (nearest texel), and probes that region.
std::string probePattern(uint32_t w, uint32_t h, const std::function<Rgb(uint32_t, uint32_t)>& texel) {
  const int W = 640, H = 480;
  std::vector<uint8_t> frame(W * H * 4, 0);
  Rect region{100, 80, 400, 300};
  for (int y = 0; y < region.h; ++y)
    for (int x = 0; x < region.w; ++x) {
      Rgb c = texel(static_cast<uint32_t>(x * w / region.w), static_cast<uint32_t>(y * h / region.h));
      uint8_t* p = &frame[((region.y + y) * W + region.x + x) * 4];
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
    }
  return probeRegion(Image{frame.data(), W, H, W * 4}, region).signature;
}

bool evenCell(uint32_t x, uint32_t y) { return (x / 32 + y / 32) % 2 == 0; }

// The plugin's checker pattern: B8G8R8A8 bytes, so the screen shows R = third byte.
Rgb checker(uint32_t w, uint32_t h, uint32_t x, uint32_t y) {
  if (x < 6 || y < 6 || x >= w - 6 || y >= h - 6) return {40, 70, 255};
  return evenCell(x, y) ? Rgb{230, 116, 18} : Rgb{155, 62, 10};
}

Rgb visual(uint32_t x, uint32_t y) {
  if (x < 8 || y < 8 || x >= 248 || y >= 248) return {255, 70, 40};
  if ((x >= 116 && x <= 140) || (y >= 116 && y <= 140)) return {245, 245, 245};
  return evenCell(x, y) ? Rgb{18, 116, 230} : Rgb{10, 62, 155};
}

Rgb direct(uint32_t w, uint32_t h, uint32_t x, uint32_t y) {
  if (x < 8 || y < 8 || x >= w - 8 || y >= h - 8) return {0, 255, 40};
  if ((x + 8 >= w / 2 && x <= w / 2 + 8) || (y + 8 >= h / 2 && y <= h / 2 + 8)) return {255, 255, 255};
  return evenCell(x, y) ? Rgb{255, 0, 180} : Rgb{140, 20, 60};
}

TEST(Probe, TellsThePluginPatternsApart) {
  EXPECT_EQ(probePattern(1024, 1024, [](uint32_t x, uint32_t y) { return checker(1024, 1024, x, y); }), "checker");
  EXPECT_EQ(probePattern(256, 256, [](uint32_t x, uint32_t y) { return checker(256, 256, x, y); }), "checker");
  EXPECT_EQ(probePattern(256, 256, visual), "visual");
  EXPECT_EQ(probePattern(1024, 1024, [](uint32_t x, uint32_t y) { return direct(1024, 1024, x, y); }), "direct");
  EXPECT_EQ(probePattern(1024, 512, [](uint32_t, uint32_t) { return Rgb{255, 0, 0}; }), "red");
  EXPECT_EQ(probePattern(64, 64, [](uint32_t, uint32_t) { return Rgb{0, 0, 0}; }), "black");
  // The plain dashboard body: grey plastic with a little noise.
  EXPECT_EQ(probePattern(64, 64,
                         [](uint32_t x, uint32_t y) {
                           const int n = static_cast<int>((x * 7 + y * 13) % 11) - 5;
                           return Rgb{static_cast<uint8_t>(66 + n), static_cast<uint8_t>(68 + n),
                                      static_cast<uint8_t>(72 + n)};
                         }),
            "panel");
  EXPECT_EQ(probePattern(256, 256, [](uint32_t x, uint32_t y) { return evenCell(x, y) ? Rgb{120, 60, 200} : Rgb{200, 200, 100}; }),
            "unknown");
}

TEST(Probe, ReportsAverageColourAndMix) {
  std::vector<uint8_t> frame(100 * 100 * 4, 0);
  for (size_t i = 0; i < frame.size(); i += 4) frame[i] = 255, frame[i + 3] = 255;
  ProbeResult r = probeRegion(Image{frame.data(), 100, 100, 400}, Rect{10, 10, 50, 50});
  EXPECT_EQ(r.avg[0], 255);
  EXPECT_EQ(r.avg[1], 0);
  EXPECT_EQ(r.mix, "red:100");
  EXPECT_EQ(formatProbe("tablet", Rect{10, 10, 50, 50}, r), "probe tablet at=10,10,50,50 avg=#FF0000 sig=red mix=red:100");
}

// The window's client area as the screen shows it, probed whole.
ProbeResult probeWindow(HWND h) {
  RECT rc;
  GetClientRect(h, &rc);
  const int cw = rc.right, ch = rc.bottom;
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), cw, -ch, 1, 32, BI_RGB};
  void* bits = nullptr;
  HDC windowDc = GetDC(h);
  HDC mem = CreateCompatibleDC(windowDc);
  HBITMAP dib = CreateDIBSection(windowDc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, cw, ch, windowDc, 0, 0, SRCCOPY);
  GdiFlush();
  std::vector<uint8_t> rgba(static_cast<size_t>(cw) * ch * 4);
  auto* px = static_cast<const uint8_t*>(bits);
  for (size_t i = 0; i < rgba.size(); i += 4) rgba[i] = px[i + 2], rgba[i + 1] = px[i + 1], rgba[i + 2] = px[i], rgba[i + 3] = 255;
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(h, windowDc);
  return probeRegion(Image{rgba.data(), cw, ch, cw * 4}, Rect{0, 0, cw, ch});
}

bool waitFor(const std::function<bool()>& cond) {
  for (int i = 0; i < 300 && !cond(); ++i) Sleep(10);
  return cond();
}

// The media program runs in a process of its own with an unowned, titled window whose moving
// picture reads as "media"; it counts the media commands it receives and obeys retitle,
// minimise, hide and close from outside.
TEST(MediaProgram, SeparateProcessWithAMovingRecognisablePicture) {
  MediaProgram program("lofi", L"Lofi radio - YouTube", 0);
  std::string error;
  ASSERT_TRUE(program.open(10000, error)) << error;
  HWND h = program.hwnd();
  ASSERT_NE(h, nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  EXPECT_NE(pid, GetCurrentProcessId());
  EXPECT_EQ(GetWindow(h, GW_OWNER), nullptr);
  wchar_t title[64];
  GetWindowTextW(h, title, 64);
  EXPECT_STREQ(title, L"Lofi radio - YouTube");

  // Its first paint may come a little after the window shows on a busy machine.
  ProbeResult first;
  waitFor([&] { return (first = probeWindow(h)).signature == "media"; });
  EXPECT_EQ(first.signature, "media") << first.mix;
  EXPECT_TRUE(waitFor([&] { return probeDifference(first, probeWindow(h)) >= 5; })) << "the picture does not move";

  EXPECT_EQ(program.commandCount(), 0u);
  PostMessageW(h, WM_APPCOMMAND, reinterpret_cast<WPARAM>(h), MAKELPARAM(0, APPCOMMAND_MEDIA_NEXTTRACK));
  PostMessageW(h, WM_APPCOMMAND, reinterpret_cast<WPARAM>(h), MAKELPARAM(0, APPCOMMAND_MEDIA_PLAY_PAUSE));
  EXPECT_TRUE(waitFor([&] { return program.commandCount() == 2; }));
  EXPECT_STREQ(mediaCommandName(program.lastCommand()), "PLAY_PAUSE");

  program.setTitle(L"(2) Spotify Premium");
  GetWindowTextW(h, title, 64);
  EXPECT_STREQ(title, L"(2) Spotify Premium");
  program.show(SW_SHOWMINNOACTIVE);
  EXPECT_TRUE(waitFor([&] { return IsIconic(h) && IsWindowVisible(h); }));
  program.show(SW_HIDE);
  EXPECT_TRUE(waitFor([&] { return !IsWindowVisible(h); }));
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  EXPECT_TRUE(program.close(5000));
  EXPECT_FALSE(IsWindow(h));
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
    CloseHandle(process);
  }
}

}  // namespace
}  // namespace zor::sim
