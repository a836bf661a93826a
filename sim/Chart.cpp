// The picture-quality chart: the media program's still test chart over the whole screen (a
// browser in full screen), what the tablet's replacement texture holds of it, and the picture
// of the old and the new scaling side by side.
//
//   chart open ID "TITLE"   opens zor_media.exe --chart over the screen as media program ID
//   chart check MS          waits up to MS for the tablet to show a picture from the plugin, then
//                           a second more, reads the top mip of the texture it draws (also left
//                           in chart_top_mip.png) and prints the fine half's
//                           mean and standard deviation and the coarse half's darkest and
//                           brightest values (the stripes' part of the chart, picture at 96 %)
//   chart picture ID FILE   writes FILE (PNG): the chart of program ID as StretchBlt
//                           COLORONCOLOR and as the plugin's scaler make it for the tablet's
//                           texture, a part of each side by side, below a close-up of the
//                           tablet as the last frame showed it, and below that the fine stripes
//                           shrunk by 1.1, 1.3, 1.5, 1.95 and 3 with the area average the scaler
//                           had before (left) and with its tent (right), each ratio's standard
//                           deviations printed
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Console.h"
#include "Png.h"
#include "Simulator.h"
#include "capture/FrameScaler.h"

namespace zor::sim {

namespace {

constexpr int kPicturePercent = 96;  // the plugin's picture inside its frame

std::wstring toWide(const std::string& s) {
  std::wstring w(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), static_cast<int>(w.size()));
  if (!w.empty()) w.pop_back();
  return w;
}

struct PictureRect {
  int x, y, w, h;
};

PictureRect pictureOf(int width, int height) {
  const int w = width * kPicturePercent / 100, h = height * kPicturePercent / 100;
  return {(width - w) / 2, (height - h) / 2, w, h};
}

// Grey level of pixel (x, y) of a 32-bit image: the mean of its three colour bytes.
double grey(const FrameCapture& image, int x, int y) {
  const uint8_t* p = &image.rgba[(static_cast<size_t>(y) * image.width + x) * 4];
  return (p[0] + p[1] + p[2]) / 3.0;
}

// Copies a w x h block of `from` at (fx, fy) to `to` at (tx, ty), each pixel `zoom` times over.
void blit(const FrameCapture& from, int fx, int fy, int w, int h, FrameCapture& to, int tx, int ty, int zoom) {
  for (int y = 0; y < h * zoom; ++y)
    for (int x = 0; x < w * zoom; ++x)
      std::copy_n(&from.rgba[(static_cast<size_t>(fy + y / zoom) * from.width + fx + x / zoom) * 4], 4,
                  &to.rgba[(static_cast<size_t>(ty + y) * to.width + tx + x) * 4]);
}

// A top-down BGRA buffer as an RGBA image.
FrameCapture imageOf(const std::vector<uint8_t>& bgra, int width, int height) {
  FrameCapture image;
  image.width = width;
  image.height = height;
  image.rgba = bgra;
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    std::swap(image.rgba[i], image.rgba[i + 2]);
    image.rgba[i + 3] = 255;
  }
  return image;
}

}  // namespace

bool Simulator::cmdChart(const Command& c, Failure& f) {
  const std::vector<std::string>& a = c.args;
  const std::string at = "line " + std::to_string(c.line) + ": ";
  if (a[0] == "open" && a.size() == 3) {
    if (media_.count(a[1])) return f = {kExitBadInput, at + "media program '" + a[1] + "' is already open"}, false;
    auto program = std::make_unique<MediaProgram>(a[1], toWide(a[2]), mediaOpened_++);
    program->showChart(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    std::string error;
    if (!program->open(10000, error)) return f = {kExitEnvironment, "the chart did not open: " + error}, false;
    RECT rc{};
    GetClientRect(program->hwnd(), &rc);
    say("chart: opened '" + a[1] + "' titled \"" + a[2] + "\", " + std::to_string(rc.right) + "x" +
        std::to_string(rc.bottom));
    mediaTitles_[a[1]] = toWide(a[2]);
    media_[a[1]] = std::move(program);
    return true;
  }

  if (a[0] == "check" && a.size() == 2) {
    long long limit = 0;
    if (!parseInt(a[1], limit) || limit < 0) return f = {kExitBadInput, at + "chart check MS"}, false;
    cab_.keepTabletView(true);
    const unsigned long long end = uptimeMs() + static_cast<unsigned long long>(limit);
    FrameCapture mip;
    std::string error;
    bool shown = false;
    while (!shown) {
      if (!renderOne(nullptr, nullptr, f)) return cab_.keepTabletView(false), false;
      ID3D11ShaderResourceView* view = cab_.tabletView();
      if (view && view != cab_.ownTabletView()) {
        Microsoft::WRL::ComPtr<ID3D11Resource> resource;
        view->GetResource(resource.GetAddressOf());
        Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
        if (resource && SUCCEEDED(resource.As(&texture)) && !cab_.readTopMip(texture.Get(), mip, error)) {
          cab_.keepTabletView(false);
          return f = {kExitEnvironment, error}, false;
        }
        shown = texture && grey(mip, mip.width / 2, mip.height / 2) > 0;
      }
      if (!shown && uptimeMs() > end) {
        cab_.keepTabletView(false);
        return f = {kExitExpectation, at + "the tablet showed no picture of the plugin within " + a[1] + " ms"}, false;
      }
    }
    // A second later the tablet shows the window as it stands (the first frames may show it
    // while it was still being painted).
    if (!renderFor(1000, f)) return cab_.keepTabletView(false), false;
    Microsoft::WRL::ComPtr<ID3D11Resource> resource;
    if (ID3D11ShaderResourceView* view = cab_.tabletView()) view->GetResource(resource.GetAddressOf());
    Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
    if (!resource || FAILED(resource.As(&texture)) || !cab_.readTopMip(texture.Get(), mip, error)) {
      cab_.keepTabletView(false);
      return f = {kExitEnvironment, "reading the tablet's texture failed " + error}, false;
    }
    cab_.keepTabletView(false);
    {
      FrameCapture shown = imageOf(mip.rgba, mip.width, mip.height);
      std::string ignored;
      writePng(outPath("chart_top_mip.png"), shown, ignored);
    }
    // The stripes fill the chart's upper three quarters: rows 30-70 % of the picture hold them
    // whichever way up the frame is stored. Fine stripes on the left half, coarse on the right.
    const PictureRect p = pictureOf(mip.width, mip.height);
    double sum = 0, squares = 0, darkest = 255, brightest = 0;
    int n = 0;
    for (int y = p.y + p.h * 3 / 10; y < p.y + p.h * 7 / 10; ++y) {
      for (int x = p.x + p.w / 20; x < p.x + p.w * 9 / 20; ++x, ++n) {
        const double v = grey(mip, x, y);
        sum += v;
        squares += v * v;
      }
      for (int x = p.x + p.w * 11 / 20; x < p.x + p.w * 19 / 20; ++x) {
        darkest = std::min(darkest, grey(mip, x, y));
        brightest = std::max(brightest, grey(mip, x, y));
      }
    }
    const double mean = sum / n, deviation = std::sqrt(std::max(0.0, squares / n - mean * mean));
    char line[200];
    std::snprintf(line, sizeof line, "chart: fine half mean %.1f std %.1f | coarse half min %.0f max %.0f | %dx%d top mip",
                  mean, deviation, darkest, brightest, mip.width, mip.height);
    say(line);
    return true;
  }

  if (a[0] == "picture" && a.size() == 3) {
    auto it = media_.find(a[1]);
    if (it == media_.end()) return f = {kExitBadInput, at + "no media program '" + a[1] + "' open"}, false;
    HWND window = it->second->hwnd();
    RECT rc{};
    GetClientRect(window, &rc);
    const int sw = rc.right, sh = rc.bottom, out = 1024;
    if (sw < 1 || sh < 1) return f = {kExitEnvironment, "the chart window has no client area"}, false;
    // The window's pixels, top row first, and the 1024 x 1024 tablet frame made from them both ways.
    auto dib = [](int w, int h, void** bits) {
      BITMAPINFO bi{};
      bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
      return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
    };
    void *sourceBits = nullptr, *oldBits = nullptr;
    HBITMAP sourceMap = dib(sw, sh, &sourceBits), oldMap = dib(out, out, &oldBits);
    HDC sourceDc = CreateCompatibleDC(nullptr), oldDc = CreateCompatibleDC(nullptr);
    HGDIOBJ sourcePrev = SelectObject(sourceDc, sourceMap), oldPrev = SelectObject(oldDc, oldMap);
    HDC windowDc = GetDC(window);
    BitBlt(sourceDc, 0, 0, sw, sh, windowDc, 0, 0, SRCCOPY);
    ReleaseDC(window, windowDc);
    const PictureRect p = pictureOf(out, out);
    SetStretchBltMode(oldDc, COLORONCOLOR);
    PatBlt(oldDc, 0, 0, out, out, BLACKNESS);
    StretchBlt(oldDc, p.x, p.y, p.w, p.h, sourceDc, 0, 0, sw, sh, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> oldFrame(static_cast<const uint8_t*>(oldBits),
                                  static_cast<const uint8_t*>(oldBits) + static_cast<size_t>(out) * out * 4);
    std::vector<uint8_t> newFrame(oldFrame.size(), 0);
    FrameScaler scaler;
    const FrameGeometry geometry{sw, sh, false, 0, 0, sw, sh, out, out, p.x, p.y, p.w, p.h, true};
    const bool scaled = scaler.prepare(geometry);
    const size_t pitch = static_cast<size_t>(out) * 4;
    if (scaled) scaler.compose(static_cast<const uint8_t*>(sourceBits), newFrame.data() + geometry.pictureOffset(pitch), pitch);
    // The fine stripes (the chart's left half, upper three quarters) shrunk at each ratio both ways.
    struct Strip {
      double ratio;
      int w, h;
      std::vector<uint8_t> pixels[2];  // area average, tent
      double deviation[2];
    };
    std::vector<Strip> strips;
    const int cw = sw / 2, ch = std::min(96, sh / 2);
    for (const double ratio : {1.1, 1.3, 1.5, 1.95, 3.0}) {
      Strip strip{ratio, static_cast<int>(std::lround(cw / ratio)), static_cast<int>(std::lround(ch / ratio)), {}, {}};
      for (int k = 0; k < 2 && scaled; ++k) {
        const FrameGeometry g{sw, sh, false, 0, sh / 4, cw, ch, strip.w, strip.h, 0, 0, strip.w, strip.h, true,
                              k == 0 ? ShrinkFilter::Area : ShrinkFilter::Tent};
        FrameScaler ratioScaler;
        std::vector<uint8_t>& px = strip.pixels[k];
        px.assign(static_cast<size_t>(strip.w) * strip.h * 4, 0);
        if (!ratioScaler.prepare(g)) return f = {kExitEnvironment, "the scaler refused the strip's sizes"}, false;
        ratioScaler.compose(static_cast<const uint8_t*>(sourceBits), px.data(), static_cast<size_t>(strip.w) * 4);
        double sum = 0, squares = 0;
        int n = 0;
        for (int y = 0; y < strip.h; ++y)
          for (int x = 4; x < strip.w - 4; ++x, ++n) {
            const double v = px[(static_cast<size_t>(y) * strip.w + x) * 4 + 1];
            sum += v, squares += v * v;
          }
        const double mean = sum / std::max(n, 1);
        strip.deviation[k] = std::sqrt(std::max(0.0, squares / std::max(n, 1) - mean * mean));
      }
      strips.push_back(std::move(strip));
    }
    SelectObject(sourceDc, sourcePrev);
    SelectObject(oldDc, oldPrev);
    DeleteDC(sourceDc);
    DeleteDC(oldDc);
    DeleteObject(sourceMap);
    DeleteObject(oldMap);
    if (!scaled) return f = {kExitEnvironment, "the scaler refused the chart's sizes"}, false;

    FrameCapture screen;
    if (!renderOne(&screen, nullptr, f)) return false;
    Rect tablet;
    cab_.regionRect("tablet", tablet);
    const int mx = tablet.w / 8, my = tablet.h / 8;  // the whole screen, its bezel's edge too
    tablet = {std::max(0, tablet.x - mx), std::max(0, tablet.y - my), tablet.w + 2 * mx, tablet.h + 2 * my};
    tablet.w = std::min(tablet.w, screen.width - tablet.x);
    tablet.h = std::min(tablet.h, screen.height - tablet.y);

    // Old | new: the picture's lower left 512 x 512 (fine stripes, the text line, the first
    // coarse stripe);
    // below, the tablet at three times its size.
    constexpr int kBlock = 512, kGap = 16, kZoom = 3;
    FrameCapture sheet;
    sheet.width = std::max(2 * kBlock + kGap, tablet.w * kZoom);
    sheet.height = kBlock + kGap + tablet.h * kZoom;
    for (const Strip& strip : strips) sheet.height += kGap + strip.h;
    sheet.rgba.assign(static_cast<size_t>(sheet.width) * sheet.height * 4, 64);
    const int bx = p.x, by = p.y + p.h - kBlock;
    blit(imageOf(oldFrame, out, out), bx, by, kBlock, kBlock, sheet, 0, 0, 1);
    blit(imageOf(newFrame, out, out), bx, by, kBlock, kBlock, sheet, kBlock + kGap, 0, 1);
    blit(screen, tablet.x, tablet.y, tablet.w, tablet.h, sheet, 0, kBlock + kGap, kZoom);
    int stripY = kBlock + kGap + tablet.h * kZoom;
    for (const Strip& strip : strips) {
      stripY += kGap;
      for (int k = 0; k < 2; ++k)
        blit(imageOf(strip.pixels[k], strip.w, strip.h), 0, 0, std::min(strip.w, kBlock), strip.h, sheet,
             k * (kBlock + kGap), stripY, 1);
      stripY += strip.h;
      char line[160];
      std::snprintf(line, sizeof line, "chart: 1-pixel stripes shrunk by %.2f: area average std %.1f | tent std %.1f",
                    strip.ratio, strip.deviation[0], strip.deviation[1]);
      say(line);
    }
    std::string error;
    const std::wstring path = outPath(a[2]);
    if (!writePng(path, sheet, error)) return f = {kExitEnvironment, error}, false;
    say("chart: picture " + a[2] + " (" + std::to_string(sheet.width) + "x" + std::to_string(sheet.height) +
        "): StretchBlt COLORONCOLOR | the scaler, the tablet below, then the ratios (area average | tent)");
    return true;
  }
  return f = {kExitBadInput, at + "chart open ID \"TITLE\" | chart check MS | chart picture ID FILE"}, false;
}

}  // namespace zor::sim
