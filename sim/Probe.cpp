#include "Probe.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zor::sim {

namespace {

enum Swatch : int {
  MapGround, MapRoad, MapRoute,        // the game's tablet map
  NavGround, NavRoad,                  // the dashboard's own screen
  GaugeFace, GaugeMark,                // the other instrument
  CheckerEven, CheckerOdd, CheckerBorder,
  VisualEven, VisualOdd, VisualBorder,
  DirectEven, DirectOdd, DirectBorder,
  White, Red,
  MediaTeal, MediaPurple,              // the media program's picture (sim/media_app)
  Black,
  SwatchCount
};

struct Colour {
  const char* name;
  int r, g, b;
};

// On-screen colours (sRGB bytes). The plugin's patterns are given by their texel bytes; the
// simulator's pictures are drawn with exactly these colours.
constexpr std::array<Colour, SwatchCount> kPalette = {{
    {"map-ground", 38, 84, 52},    {"map-road", 150, 160, 150},   {"map-route", 235, 215, 60},
    {"nav-ground", 22, 30, 70},    {"nav-road", 90, 100, 140},    {"gauge-face", 48, 40, 32},
    {"gauge-mark", 255, 176, 0},   {"checker-orange", 230, 116, 18}, {"checker-brown", 155, 62, 10},
    {"checker-blue", 40, 70, 255}, {"visual-blue", 18, 116, 230}, {"visual-darkblue", 10, 62, 155},
    {"visual-red", 255, 70, 40},   {"direct-pink", 255, 0, 180},  {"direct-wine", 140, 20, 60},
    {"direct-green", 0, 255, 40},  {"white", 245, 245, 245},      {"red", 255, 0, 0},
    {"media-teal", 0, 140, 130},   {"media-purple", 110, 50, 160}, {"black", 0, 0, 0},
}};

constexpr const char* kSignatures[] = {"map",    "navmap", "gauge", "panel",   "checker", "visual",
                                       "direct", "red",    "media", "black", "unknown"};

int nearestSwatch(int r, int g, int b) {
  int best = -1;
  int bestDist = 48 * 48 * 3;  // farther than this from every swatch: no colour of ours
  for (int i = 0; i < SwatchCount; ++i) {
    int dr = r - kPalette[i].r, dg = g - kPalette[i].g, db = b - kPalette[i].b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

// The plain dashboard body: grey plastic with a little noise. Told apart by its own test, not
// by a swatch, so that greys elsewhere (the road) keep their nearest swatch.
constexpr Colour kPanelGrey = {"panel-grey", 66, 68, 72};
constexpr int kPanelTolerance = 12;

bool panelGrey(int r, int g, int b) {
  return std::abs(r - kPanelGrey.r) <= kPanelTolerance && std::abs(g - kPanelGrey.g) <= kPanelTolerance &&
         std::abs(b - kPanelGrey.b) <= kPanelTolerance;
}

// panel: the share of samples that are the dashboard body's grey.
std::string classify(const std::array<double, SwatchCount>& f, double panel) {
  auto sum = [&](std::initializer_list<Swatch> s) {
    double t = 0;
    for (auto i : s) t += f[i];
    return t;
  };
  if (f[Red] >= 0.8) return "red";
  if (f[Black] >= 0.8) return "black";
  if (sum({CheckerEven, CheckerOdd}) >= 0.5) return "checker";
  if (sum({VisualEven, VisualOdd}) >= 0.5) return "visual";
  if (sum({DirectEven, DirectOdd}) >= 0.5) return "direct";
  // The media program: teal ground, purple bars, white text and progress; black around it when
  // the plugin letterboxes it.
  if (f[MediaTeal] >= 0.3 && f[MediaPurple] >= 0.08 && sum({MediaTeal, MediaPurple, White, Black}) >= 0.7)
    return "media";
  if (panel >= 0.6) return "panel";
  if (f[MapGround] >= 0.4 && sum({MapGround, MapRoad, MapRoute, White}) >= 0.6) return "map";
  if (f[NavGround] >= 0.4 && sum({NavGround, NavRoad, White}) >= 0.6) return "navmap";
  if (f[GaugeFace] >= 0.4 && sum({GaugeFace, GaugeMark, White}) >= 0.6) return "gauge";
  return "unknown";
}

}  // namespace

bool isProbeSignature(std::string_view name) {
  return std::find(std::begin(kSignatures), std::end(kSignatures), name) != std::end(kSignatures);
}

const char* probeSignatureList() {
  return "map, navmap, gauge, panel, checker, visual, direct, red, media, black, unknown";
}

bool rectInside(const Rect& r, int width, int height) {
  return r.w > 0 && r.h > 0 && r.x >= 0 && r.y >= 0 && r.x + r.w <= width && r.y + r.h <= height;
}

ProbeResult probeRegion(const Image& image, const Rect& region) {
  ProbeResult out;
  constexpr int kGrid = 32;
  std::array<int, SwatchCount> counts{};
  int other = 0, samples = 0, panel = 0;
  long sums[3] = {0, 0, 0};
  for (int gy = 0; gy < kGrid; ++gy) {
    for (int gx = 0; gx < kGrid; ++gx) {
      int x = region.x + (2 * gx + 1) * region.w / (2 * kGrid);
      int y = region.y + (2 * gy + 1) * region.h / (2 * kGrid);
      const uint8_t* p = image.rgba + static_cast<size_t>(y) * image.pitch + static_cast<size_t>(x) * 4;
      sums[0] += p[0];
      sums[1] += p[1];
      sums[2] += p[2];
      if (panelGrey(p[0], p[1], p[2])) ++panel;
      int s = nearestSwatch(p[0], p[1], p[2]);
      if (s < 0) ++other; else ++counts[s];
      out.cells.push_back(static_cast<int8_t>(s));
      ++samples;
    }
  }
  std::array<double, SwatchCount> fractions{};
  for (int i = 0; i < SwatchCount; ++i) fractions[i] = static_cast<double>(counts[i]) / samples;
  for (int c = 0; c < 3; ++c) out.avg[c] = static_cast<uint8_t>(sums[c] / samples);
  out.signature = classify(fractions, static_cast<double>(panel) / samples);

  std::vector<std::pair<int, const char*>> ranked;
  for (int i = 0; i < SwatchCount; ++i)
    if (counts[i]) ranked.emplace_back(counts[i], kPalette[i].name);
  if (other) ranked.emplace_back(other, "other");
  std::stable_sort(ranked.begin(), ranked.end(), [](auto& a, auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < ranked.size() && i < 3; ++i) {
    if (i) out.mix += ',';
    out.mix += ranked[i].second;
    out.mix += ':' + std::to_string(ranked[i].first * 100 / samples);
  }
  return out;
}

int probeDifference(const ProbeResult& a, const ProbeResult& b) {
  if (a.cells.size() != b.cells.size()) return 100;
  size_t differing = 0;
  for (size_t i = 0; i < a.cells.size(); ++i) differing += a.cells[i] != b.cells[i];
  return a.cells.empty() ? 0 : static_cast<int>(differing * 100 / a.cells.size());
}

std::string formatProbe(const std::string& name, const Rect& r, const ProbeResult& res) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "probe %s at=%d,%d,%d,%d avg=#%02X%02X%02X sig=%s mix=%s", name.c_str(), r.x, r.y, r.w,
                r.h, res.avg[0], res.avg[1], res.avg[2], res.signature.c_str(), res.mix.c_str());
  return buf;
}

}  // namespace zor::sim
