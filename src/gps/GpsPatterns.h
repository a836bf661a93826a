// The test patterns the plugin shows on a GPS screen while it is calibrated or checked: pixels only,
// no device.
#pragma once

#include <cstdint>
#include <vector>

namespace zor {

// The test patterns, one 32-bit texel per pixel in memory byte order.
namespace gpspattern {
// B8G8R8A8: blue 6-texel border, orange and brown 32-texel cells.
std::vector<uint32_t> checker(uint32_t width, uint32_t height);
// R8G8B8A8 256 x 256: red 8-texel border, white cross, blue and dark blue cells.
std::vector<uint32_t> visual();
// At a GPS texture's size in its channel order (formats 28, 29, 87, 88, 91, 93 only);
// false for other formats or sizes outside 1..4096.
bool direct(uint32_t width, uint32_t height, uint32_t format, std::vector<uint32_t>& out);
// Whether direct() knows the format's channel order.
bool hasDirectFormat(uint32_t format);
// Opaque red in B8G8R8A8.
constexpr uint32_t kRedTexel = 0xFFFF0000u;
}  // namespace gpspattern

}  // namespace zor
