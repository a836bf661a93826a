// The frame scaler against a plain reference: each frame pixel the weighted sum, in doubles, of
// the source pixels under it (a tent reaching an output pixel, at least 1.65 source pixels, each
// side when an axis shrinks, or the area it covers; bilinear when it grows), nothing written
// outside the picture, rows in the memory order each side declares, the same to the bit with or
// without 256-bit vectors. And what the shrinking filter is for: fine detail at every ratio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/FrameScaler.h"

namespace zor::test {
namespace {

// The weight of source pixel k in output pixel i, n source and m output pixels along the axis
// (not yet divided by the sum of the pixel's weights).
double referenceWeight(int k, int i, int n, int m, ShrinkFilter shrink) {
  const double s = static_cast<double>(n) / m;
  if (n > m && shrink == ShrinkFilter::Tent) return std::max(0.0, 1.0 - std::abs(k + 0.5 - (i + 0.5) * s) / std::max(s, 1.65));
  if (n > m) return std::max(0.0, std::min((i + 1) * s, k + 1.0) - std::max(i * s, static_cast<double>(k))) / s;
  const double x = std::clamp((i + 0.5) * s - 0.5, 0.0, n - 1.0);
  return std::max(0.0, 1.0 - std::abs(x - k));
}

std::vector<std::vector<std::pair<int, double>>> referenceAxis(int n, int m, ShrinkFilter shrink) {
  std::vector<std::vector<std::pair<int, double>>> taps(static_cast<size_t>(m));
  for (int i = 0; i < m; ++i) {
    auto& pixel = taps[static_cast<size_t>(i)];
    double sum = 0;
    for (int k = 0; k < n; ++k)
      if (const double w = referenceWeight(k, i, n, m, shrink); w > 0) pixel.push_back({k, w}), sum += w;
    for (auto& tap : pixel) tap.second /= sum;
  }
  return taps;
}

// The frame as the reference makes it; `picture` marks the bytes inside the picture.
std::vector<uint8_t> referenceFrame(const FrameGeometry& g, const std::vector<uint8_t>& source,
                                    std::vector<bool>& picture) {
  std::vector<uint8_t> frame(static_cast<size_t>(g.outputWidth) * g.outputHeight * 4, 0);
  picture.assign(frame.size(), false);
  const auto across = referenceAxis(g.cropWidth, g.pictureWidth, g.shrink),
             down = referenceAxis(g.cropHeight, g.pictureHeight, g.shrink);
  for (int y = 0; y < g.pictureHeight; ++y) {
    const int frameY = g.pictureY + y;
    const size_t row = static_cast<size_t>(g.outputTopDown ? frameY : g.outputHeight - 1 - frameY);
    for (int x = 0; x < g.pictureWidth; ++x) {
      for (int c = 0; c < 4; ++c) {
        double v = 0;
        for (const auto& [l, wy] : down[static_cast<size_t>(y)]) {
          const int sy = g.cropY + l;
          const size_t sourceRow = static_cast<size_t>(g.sourceBottomUp ? g.sourceHeight - 1 - sy : sy);
          for (const auto& [k, wx] : across[static_cast<size_t>(x)])
            v += wx * wy * source[(sourceRow * g.sourceWidth + g.cropX + k) * 4 + c];
        }
        const size_t at = (row * g.outputWidth + g.pictureX + x) * 4 + c;
        frame[at] = static_cast<uint8_t>(std::lround(v));
        picture[at] = true;
      }
    }
  }
  return frame;
}

TEST(FrameScaler, MatchesThePlainReferenceInEveryShapeAndRowOrder) {
  const struct Case {
    const char* name;
    FrameGeometry g;
  } cases[] = {
      // source w, h, bottom-up, crop x, y, w, h, output w, h, picture x, y, w, h, output top-down
      {"browser window into the tablet", {1920, 1080, true, 0, 0, 1920, 1080, 1024, 1024, 20, 20, 983, 983, false}},
      {"cropped browser into a 16:9 texture", {1920, 1080, true, 1, 3, 1917, 1075, 1280, 720, 26, 14, 1228, 691, false}},
      {"window onto a small dashboard screen", {1000, 700, true, 0, 0, 1000, 700, 256, 256, 5, 5, 245, 245, true}},
      {"small window enlarged, flipped", {97, 61, true, 0, 0, 97, 61, 256, 256, 5, 5, 245, 245, true}},
      {"odd sizes with a crop", {333, 177, true, 13, 7, 301, 150, 127, 99, 3, 2, 121, 95, true}},
      {"shrunk across, enlarged down", {400, 50, false, 0, 0, 400, 50, 100, 200, 2, 4, 96, 192, false}},
      {"one pixel", {1, 1, true, 0, 0, 1, 1, 16, 16, 0, 0, 15, 15, false}},
      {"same size", {64, 48, false, 0, 0, 64, 48, 64, 48, 0, 0, 64, 48, true}},
      {"a third of the size (eight taps across)", {600, 300, true, 0, 0, 600, 300, 200, 100, 0, 0, 200, 100, false}},
      {"an eighth of the size", {800, 400, false, 4, 4, 792, 392, 104, 52, 2, 1, 99, 49, true}},
      {"a third across, twice down", {600, 100, true, 0, 0, 600, 100, 256, 256, 28, 28, 200, 200, false}},
      {"area average, as before", {1920, 1080, true, 0, 0, 1920, 1080, 1024, 1024, 20, 20, 983, 983, false,
                                   ShrinkFilter::Area}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameGeometry& g = c.g;
    std::vector<uint8_t> source(static_cast<size_t>(g.sourceWidth) * g.sourceHeight * 4);
    uint32_t seed = 12345;
    for (uint8_t& b : source) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
    std::vector<uint8_t> frame(static_cast<size_t>(g.outputWidth) * g.outputHeight * 4, 0xAB);
    FrameScaler scaler;
    ASSERT_TRUE(scaler.prepare(g));
    const std::vector<uint8_t> previous(source.size(), 0x55);  // the frame before, of other pixels
    const size_t pitch = static_cast<size_t>(g.outputWidth) * 4;
    scaler.compose(previous.data(), frame.data() + g.pictureOffset(pitch), pitch);
    scaler.compose(source.data(), frame.data() + g.pictureOffset(pitch), pitch);
    // 128-bit loops only: the same frame to the bit.
    std::vector<uint8_t> narrow(frame.size(), 0xAB);
    FrameScaler narrowScaler;
    narrowScaler.useWideVectors(false);
    ASSERT_TRUE(narrowScaler.prepare(g));
    narrowScaler.compose(source.data(), narrow.data() + g.pictureOffset(pitch), pitch);
    EXPECT_TRUE(narrow == frame);
    std::vector<bool> picture;
    const std::vector<uint8_t> expected = referenceFrame(g, source, picture);
    // A rounding step inside the picture, with no lean either way; outside it nothing written.
    int worst = 0;
    size_t worstAt = 0;
    double lean = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
      const int d = picture[i] ? std::abs(frame[i] - expected[i]) : (frame[i] != 0xAB) * 100;
      if (d > worst) worst = d, worstAt = i;
      if (picture[i]) lean += frame[i] - expected[i];
    }
    EXPECT_LE(worst, 1) << "byte " << worstAt << ": " << int(frame[worstAt]) << " against " << int(expected[worstAt]);
    EXPECT_LT(std::abs(lean) / (g.pictureWidth * g.pictureHeight * 4), 0.25);
  }
  FrameScaler scaler;  // rectangles outside their surfaces are refused
  EXPECT_FALSE(scaler.prepare({100, 100, true, 50, 0, 51, 100, 64, 64, 0, 0, 64, 64, false}));
  EXPECT_FALSE(scaler.prepare({100, 100, true, 0, 0, 100, 100, 64, 64, 1, 0, 64, 64, false}));
  EXPECT_FALSE(scaler.prepare({100, 100, true, 0, 0, 100, 100, 64, 64, 0, 0, 0, 64, false}));
}

// 1-pixel stripes (the finest text, a page's hairlines) shrunk into the tablet's 983-pixel
// picture come out as their mean, whatever the ratio and along either axis; stripes 8 pixels wide
// keep their contrast.
TEST(FrameScaler, OnePixelStripesTurnIntoTheirMeanAtEveryRatioAcrossAndDown) {
  const struct Row {
    double ratio;
    int stripe;       // stripe width in source pixels
    double lo, hi;    // the picture's standard deviation lies between
  } rows[] = {{1.1, 1, 0, 20},   {1.3, 1, 0, 20},   {1.5, 1, 0, 20},   {1.95, 1, 0, 20},  {3.0, 1, 0, 20},
              {1.1, 8, 80, 128}, {1.3, 8, 80, 128}, {1.5, 8, 80, 128}, {1.95, 8, 80, 128}, {3.0, 8, 80, 128}};
  constexpr int kPicture = 983, kThin = 6, kEdge = 8;
  for (const Row& row : rows) {
    for (const bool across : {true, false}) {
      SCOPED_TRACE("ratio " + std::to_string(row.ratio) + ", stripes " + std::to_string(row.stripe) +
                   (across ? " px, across" : " px, down"));
      const int n = static_cast<int>(std::lround(kPicture * row.ratio));
      const int sw = across ? n : kThin, sh = across ? kThin : n, pw = across ? kPicture : kThin,
                ph = across ? kThin : kPicture;
      std::vector<uint8_t> source(static_cast<size_t>(sw) * sh * 4);
      for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
          std::fill_n(&source[(static_cast<size_t>(y) * sw + x) * 4], 4, ((across ? x : y) / row.stripe) % 2 ? 255 : 0);
      std::vector<uint8_t> picture(static_cast<size_t>(pw) * ph * 4);
      FrameScaler scaler;
      ASSERT_TRUE(scaler.prepare({sw, sh, false, 0, 0, sw, sh, pw, ph, 0, 0, pw, ph, true}));
      scaler.compose(source.data(), picture.data(), static_cast<size_t>(pw) * 4);
      double sum = 0, squares = 0;
      int count = 0;
      for (int i = kEdge; i < kPicture - kEdge; ++i) {  // the middle row or column, its green byte
        const int x = across ? i : kThin / 2, y = across ? kThin / 2 : i;
        const double v = picture[(static_cast<size_t>(y) * pw + x) * 4 + 1];
        sum += v, squares += v * v, ++count;
      }
      const double mean = sum / count, deviation = std::sqrt(std::max(0.0, squares / count - mean * mean));
      EXPECT_GE(deviation, row.lo);
      EXPECT_LT(deviation, row.hi);
      EXPECT_NEAR(mean, 127.5, 8);
    }
  }
}

}  // namespace
}  // namespace zor::test
