// Reading a region of a rendered frame: its average colour and a coarse signature that tells
// apart what the simulator draws (the game's map, the dashboard's own screen, the gauge, the
// plain dashboard body), the plugin's test patterns and the picture of the media program
// (zor_media.exe).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zor::sim {

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

struct Image {
  const uint8_t* rgba = nullptr;  // R, G, B, A bytes
  int width = 0, height = 0;
  int pitch = 0;  // bytes per row
};

struct ProbeResult {
  uint8_t avg[3] = {0, 0, 0};
  std::string signature;  // one of probeSignatures()
  std::string mix;        // the three most frequent palette colours with their share in percent
  std::vector<int8_t> cells;  // the palette colour of each sample (-1: none), row by row
};

// "map", "navmap", "gauge", "panel", "checker", "visual", "direct", "red", "media" (the media
// program's picture), "black", "unknown".
bool isProbeSignature(std::string_view name);
const char* probeSignatureList();

bool rectInside(const Rect& r, int width, int height);
// The region must lie inside the image.
ProbeResult probeRegion(const Image& image, const Rect& region);
// Share of samples (percent) whose palette colour differs between two probes of one region:
// how much the picture moved.
int probeDifference(const ProbeResult& a, const ProbeResult& b);
std::string formatProbe(const std::string& name, const Rect& region, const ProbeResult& result);

}  // namespace zor::sim
