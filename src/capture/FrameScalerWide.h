// The frame scaler's inner loops in 256-bit vectors (AVX2), for the processors that have them
// (FrameScaler::wideVectorsAvailable: nothing of this file runs on the others).
// Each takes the same integer steps as its 128-bit loop in FrameScaler.cpp, so the picture is the
// same to the bit; it does the pixels it can a whole vector at a time and returns where the
// 128-bit loop carries on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/FrameScaler.h"

namespace zor::scaling {

// The fixed point both kinds of loop share.
constexpr int kWeightBits = 14;  // the weights of one output pixel sum to 1 << 14
constexpr int kAcrossBits = 6;   // fractional bits kept between the two passes (twice 255 << 6 fits an int16)
// Rows filtered across into the ring carry half of the last step down in them (the weights down
// sum to one), so the pass down rounds by shifting alone.
constexpr int kAcrossHalf = (1 << (kWeightBits - kAcrossBits - 1)) + (1 << (kAcrossBits - 1) << (kWeightBits - kAcrossBits));

}  // namespace zor::scaling

namespace zor::wide {

// The weights of two neighbouring output pixels side by side (see FrameScaler::PairWeights).
using PairWeights = FrameScaler::PairWeights;

// Source rows combined down (byte offsets in a row: how far it got).
size_t combineDown(const uint8_t* const* rows, const int32_t* weights, int taps, int16_t* out, size_t bytes);
// A combined row filtered across into frame pixels (how many it wrote), Span 4 or 8.
int acrossToFrame4(const int16_t* row, uint8_t* out, const int32_t* start, const PairWeights* weights, int width);
int acrossToFrame8(const int16_t* row, uint8_t* out, const int32_t* start, const PairWeights* weights, int width);
// A source row filtered across into the ring's 16-bit pixels, Span 4 or 8.
int filterBlocks4(const uint8_t* row, int16_t* out, const int32_t* start, const PairWeights* weights, int width);
int filterBlocks8(const uint8_t* row, int16_t* out, const int32_t* start, const PairWeights* weights, int width);
// Filtered rows combined down into frame pixels: `pairs` pairs of rows, or one pair blended.
int filterDown(const FrameScaler::RowPair* rows, int pairs, uint8_t* out, int width);
int blendDown(const FrameScaler::RowPair& rows, uint8_t* out, int width);

}  // namespace zor::wide
