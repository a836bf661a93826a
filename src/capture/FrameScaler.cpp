#include "capture/FrameScaler.h"

#include "capture/FrameScalerWide.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zor {

namespace {

using scaling::kAcrossBits;
using scaling::kAcrossHalf;
using scaling::kWeightBits;
constexpr int kOne = 1 << kWeightBits;
constexpr int kMaxSide = 1 << 15;
constexpr int kMaxDownPairs = 8;  // rows combined first: at most 16 taps (a shrink by up to 5)
// Shrinking: the tent reaches one output pixel each side of the output pixel's centre, and never
// less than this many source pixels. Reaching one output pixel alone, 1-pixel stripes shrunk by
// 1.1 still beat at a standard deviation near 60; from this reach on they come out as their mean
// at every ratio, and a wider tent only blurs (and costs taps).
constexpr double kShortestReach = 1.65;

bool inside(int x, int length, int limit) { return x >= 0 && length >= 1 && length <= limit && x <= limit - length; }

}  // namespace

void FrameScaler::buildAxis(int n, int m, ShrinkFilter shrink, Axis& axis) {
  const double scale = static_cast<double>(n) / m;
  std::vector<std::vector<std::pair<int32_t, int>>> perPixel(static_cast<size_t>(m));
  size_t most = 0;
  for (int i = 0; i < m; ++i) {
    std::vector<std::pair<int32_t, double>> taps;
    if (n > m && shrink == ShrinkFilter::Tent) {  // the tent around the output pixel's centre, cut at the edges
      const double centre = (i + 0.5) * scale, reach = std::max(scale, kShortestReach);
      const int first = std::max(0, static_cast<int>(std::floor(centre - reach)));
      const int last = std::min(n - 1, static_cast<int>(std::ceil(centre + reach)));
      double sum = 0;
      for (int k = first; k <= last; ++k) {
        const double w = 1.0 - std::abs(k + 0.5 - centre) / reach;
        if (w > 0) taps.push_back({k, w}), sum += w;
      }
      for (auto& tap : taps) tap.second /= sum;
    } else if (n > m) {  // the area [i, i + 1) of the output covers in the source
      const double lo = i * scale, hi = (i + 1) * scale;
      const int first = static_cast<int>(std::floor(lo));
      const int last = std::min(n - 1, static_cast<int>(std::ceil(hi)) - 1);
      for (int k = first; k <= last; ++k) taps.push_back({k, (std::min(hi, k + 1.0) - std::max(lo, double(k))) / scale});
    } else {  // enlarging (or 1:1): between the two source pixels whose centres surround this one's
      const double x = std::clamp((i + 0.5) * scale - 0.5, 0.0, static_cast<double>(n - 1));
      const int k = static_cast<int>(x);
      const double f = x - k;
      taps.push_back({k, 1.0 - f});
      taps.push_back({std::min(k + 1, n - 1), f});
    }
    // Fixed point, the rounding left on the largest weight; empty taps dropped.
    auto& fixed = perPixel[static_cast<size_t>(i)];
    int sum = 0;
    size_t largest = 0;
    for (const auto& [k, w] : taps) {
      const int q = std::min(static_cast<int>(std::lround(w * kOne)), kOne);
      if (q == 0) continue;
      if (fixed.empty() || q > fixed[largest].second) largest = fixed.size();
      fixed.push_back({k, q});
      sum += q;
    }
    fixed[largest].second += kOne - sum;
    most = std::max(most, fixed.size());
  }
  // Every output pixel gets the same number of pairs of taps; the padding weighs nothing.
  axis.pairs = static_cast<int32_t>((most + 1) / 2);
  axis.taps.assign(static_cast<size_t>(m) * axis.pairs, PairTap{});
  for (int i = 0; i < m; ++i) {
    auto& fixed = perPixel[static_cast<size_t>(i)];
    fixed.resize(static_cast<size_t>(axis.pairs) * 2, {fixed.back().first, 0});
    for (int32_t p = 0; p < axis.pairs; ++p) {
      PairTap& t = axis.taps[static_cast<size_t>(i) * axis.pairs + p];
      t.first = fixed[2 * p].first;
      t.second = fixed[2 * p + 1].first;
      t.weights = static_cast<int32_t>(static_cast<uint32_t>(fixed[2 * p].second) |
                                        (static_cast<uint32_t>(fixed[2 * p + 1].second) << 16));
    }
  }
}

bool FrameScaler::wideVectorsAvailable() noexcept {
  // The processor has AVX2 and the system keeps 256-bit registers (the built-in checks both).
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return available;
}

void FrameScaler::useWideVectors(bool on) noexcept {
  wide_ = on && wideVectorsAvailable();
  ready_ = false;  // the tables are made again for it
}

bool FrameScaler::prepare(const FrameGeometry& g) noexcept {
  if (ready_ && g == geometry_) return true;
  ready_ = false;
  if (!inside(0, g.sourceWidth, kMaxSide) || !inside(0, g.sourceHeight, kMaxSide) ||
      !inside(0, g.outputWidth, kMaxSide) || !inside(0, g.outputHeight, kMaxSide) ||
      !inside(g.cropX, g.cropWidth, g.sourceWidth) || !inside(g.cropY, g.cropHeight, g.sourceHeight) ||
      !inside(g.pictureX, g.pictureWidth, g.outputWidth) || !inside(g.pictureY, g.pictureHeight, g.outputHeight)) {
    return false;
  }
  try {
    buildAxis(g.cropWidth, g.pictureWidth, g.shrink, columns_);
    buildAxis(g.cropHeight, g.pictureHeight, g.shrink, rows_);
    // Across, the taps of a pixel (neighbours) lie within 2, 4 or 8 neighbouring source pixels:
    // they are read with one or two loads from a start kept inside the row.
    const int most = 2 * columns_.pairs;
    span_ = most <= 2 ? 2 : most <= 4 ? 4 : most <= 8 ? 8 : 0;
    if (g.cropWidth < span_) span_ = 0;
    const int span = span_;
    blockStart_.clear();
    blockWeights_.clear();
    blendWeights_.clear();
    if (span) {
      blockStart_.resize(static_cast<size_t>(g.pictureWidth));
      blockWeights_.resize(static_cast<size_t>(g.pictureWidth) * (span / 2));
      blendWeights_.resize(static_cast<size_t>(g.pictureWidth + 1) / 2);
      for (int j = 0; j < g.pictureWidth; ++j) {
        const PairTap* taps = &columns_.taps[static_cast<size_t>(j) * columns_.pairs];
        int first = g.cropWidth;
        int16_t w[8] = {};
        for (int p = 0; p < columns_.pairs; ++p) {
          if (taps[p].weights & 0xFFFF) first = std::min(first, taps[p].first);
          if (taps[p].weights >> 16) first = std::min(first, taps[p].second);
        }
        const int start = std::min(first, g.cropWidth - span);
        for (int p = 0; p < columns_.pairs; ++p) {
          if (const int16_t a = static_cast<int16_t>(taps[p].weights & 0xFFFF)) w[taps[p].first - start] = a;
          if (const int16_t b = static_cast<int16_t>(taps[p].weights >> 16)) w[taps[p].second - start] = b;
        }
        blockStart_[static_cast<size_t>(j)] = start * 4;
        auto pair = [](int16_t lo, int16_t hi) {
          const auto lane = static_cast<int32_t>(static_cast<uint16_t>(lo) | (static_cast<uint32_t>(hi) << 16));
          return BlockWeights{{lane, lane, lane, lane}};
        };
        BlockWeights* out = &blockWeights_[static_cast<size_t>(j) * (span / 2)];
        if (span == 2) {
          out[0] = pair(w[0], w[1]);
          // The second pixel's weight in 15 bits for the two-at-a-time blend (a full weight
          // becomes 32767 / 32768: a 255th of a level at most).
          auto* lanes = reinterpret_cast<int16_t*>(blendWeights_[static_cast<size_t>(j) / 2].lanes) + (j % 2) * 4;
          std::fill_n(lanes, 4, static_cast<int16_t>(std::min(2 * w[1], 32767)));
        } else {  // per four pixels of the block: its pixels 0 and 2 side by side, then 1 and 3
          for (int q = 0; q < span; q += 4) {
            out[q / 2] = pair(w[q], w[q + 2]);
            out[q / 2 + 1] = pair(w[q + 1], w[q + 3]);
          }
        }
      }
    }
    pairWeights_.clear();
    if (wide_ && span >= 4) {
      const int perPixel = span / 2;
      pairWeights_.resize(static_cast<size_t>(g.pictureWidth / 2) * perPixel);
      for (int j = 0; j + 1 < g.pictureWidth; j += 2) {
        for (int k = 0; k < perPixel; ++k) {
          PairWeights& pw = pairWeights_[static_cast<size_t>(j / 2) * perPixel + k];
          std::memcpy(pw.lanes, blockWeights_[static_cast<size_t>(j) * perPixel + k].lanes, 16);
          std::memcpy(pw.lanes + 4, blockWeights_[static_cast<size_t>(j + 1) * perPixel + k].lanes, 16);
        }
      }
    }
    for (PairTap& t : columns_.taps) t.first *= 4, t.second *= 4;  // byte offsets in a row
    // Shrinking down: the rows can be combined first (into one scratch row of the crop's width),
    // then filtered across once per frame row, instead of every source row filtered across and
    // the filtered rows combined. Whichever touches fewer values, a tap combining whole source
    // rows costing about three quarters of one filtering across (measured): shrinking mostly
    // across (1920x1080 into the tablet) filters across first.
    const auto ph = static_cast<int64_t>(g.pictureHeight), pw = static_cast<int64_t>(g.pictureWidth);
    const int64_t downTaps = 2 * rows_.pairs;
    const int64_t combineFirst = 3 * ph * g.cropWidth * downTaps + 4 * ph * pw * span;
    const int64_t acrossFirst = 4 * (static_cast<int64_t>(g.cropHeight) * pw * span + ph * pw * downTaps);
    downFirst_ = span && rows_.pairs >= 2 && rows_.pairs <= kMaxDownPairs && combineFirst < acrossFirst;
    down_.assign(downFirst_ ? static_cast<size_t>(g.cropWidth + 4) * 4 : 0, 0);
    ringStride_ = static_cast<size_t>((g.pictureWidth + 3) & ~3) * 4;
    ring_.assign(ringStride_ * 2 * static_cast<size_t>(rows_.pairs), 0);
    ringRow_.assign(2 * static_cast<size_t>(rows_.pairs), -1);
    rowPairs_.assign(static_cast<size_t>(rows_.pairs), RowPair{});
  } catch (...) {
    return false;
  }
  geometry_ = g;
  ready_ = true;
  return true;
}

namespace {

// The two pixels of a pair of taps, their channels side by side as 16-bit values, times the pair's
// two weights: four 32-bit sums, one per channel.
inline __m128i weighPixels(const uint8_t* row, const FrameScaler::PairTap& t) {
  int32_t a, b;
  std::memcpy(&a, row + t.first, 4);
  std::memcpy(&b, row + t.second, 4);
  const __m128i pair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(a), _mm_cvtsi32_si128(b)),
                                         _mm_setzero_si128());
  return _mm_madd_epi16(pair, _mm_set1_epi32(t.weights));
}

// A source row filtered across into `width` pixels of four 16-bit channels (7 fractional bits).
// Pairs: the pairs of taps of each output pixel (0: read from `pairs` at run time).
template <int Pairs>
void filterAcross(const uint8_t* row, int16_t* out, const FrameScaler::PairTap* taps, int width, int pairs) {
  const int n = Pairs ? Pairs : pairs;
  const __m128i half = _mm_set1_epi32(kAcrossHalf);
  for (int j = 0; j < width; ++j, taps += n) {
    __m128i sum = weighPixels(row, taps[0]);
    for (int p = 1; p < n; ++p) sum = _mm_add_epi32(sum, weighPixels(row, taps[p]));
    sum = _mm_srai_epi32(_mm_add_epi32(sum, half), kWeightBits - kAcrossBits);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<size_t>(j) * 4), _mm_packs_epi32(sum, sum));
  }
}

// One pair of filtered rows a and b combined down as a + (b - a) * w, four pixels at a time.
void blendDown(const FrameScaler::RowPair& rows, uint8_t* out, int width, int from) {
  // (b - a) * 2 times the weight in 15 bits, the high half: (b - a) * weight / (1 << 14).
  const __m128i w = _mm_set1_epi16(static_cast<int16_t>((rows.weights >> 16) * 2));
  auto blend = [&](size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.first + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.second + at));
    const __m128i d = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(b, a), 1), w);
    return _mm_srai_epi16(_mm_add_epi16(a, d), kAcrossBits);
  };
  int x = from;
  for (; x + 3 < width; x += 4) {
    const size_t at = static_cast<size_t>(x) * 4;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_packus_epi16(blend(at), blend(at + 8)));
  }
  if (x < width) {  // the last one to three pixels (the filtered rows are padded to four)
    const size_t at = static_cast<size_t>(x) * 4;
    alignas(16) uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), _mm_packus_epi16(blend(at), blend(at + 8)));
    std::memcpy(out + at, last, static_cast<size_t>(width - x) * 4);
  }
}

// Filtered rows combined down into `width` frame pixels, two at a time.
template <int Pairs>
void filterDown(const FrameScaler::RowPair* rows, uint8_t* out, int width, int pairs, int from) {
  const int n = Pairs ? Pairs : pairs;
  for (int x = from; x < width; x += 2) {
    __m128i left = _mm_setzero_si128(), right = _mm_setzero_si128();
    const size_t at = static_cast<size_t>(x) * 4;
    for (int p = 0; p < n; ++p) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[p].first + at));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[p].second + at));
      const __m128i w = _mm_set1_epi32(rows[p].weights);
      left = _mm_add_epi32(left, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
      right = _mm_add_epi32(right, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
    }
    left = _mm_srai_epi32(left, kWeightBits + kAcrossBits);
    right = _mm_srai_epi32(right, kWeightBits + kAcrossBits);
    const __m128i words = _mm_packs_epi32(left, right);
    const __m128i bytes = _mm_packus_epi16(words, words);
    if (x + 1 < width) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + at), bytes);
    } else {
      const int32_t pixel = _mm_cvtsi128_si32(bytes);
      std::memcpy(out + at, &pixel, 4);
    }
  }
}

// The same from blocks of neighbouring pixels: Span 2 (one pair of taps), 4 or 8 (up to two or
// four pairs).
template <int Span>
void filterBlocks(const uint8_t* row, int16_t* out, const int32_t* start, const void* blockWeights,
                  const void* blendWeights, int width, int from) {
  const __m128i* weights = static_cast<const __m128i*>(blockWeights);
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi32(kAcrossHalf);
  auto one = [&](int j) {
    const uint8_t* block = row + start[j];
    if constexpr (Span == 2) {
      const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block));
      const __m128i pair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(x, _mm_srli_si128(x, 4)), zero);
      return _mm_madd_epi16(pair, weights[j]);
    } else {
      __m128i sum = _mm_setzero_si128();
      for (int q = 0; q < Span; q += 4) {  // four pixels a load
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + q * 4));
        const __m128i lo = _mm_unpacklo_epi8(x, zero), hi = _mm_unpackhi_epi8(x, zero);
        const __m128i* w = weights + static_cast<size_t>(j) * (Span / 2) + q / 2;
        sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(lo, hi), w[0]),
                                               _mm_madd_epi16(_mm_unpackhi_epi16(lo, hi), w[1])));
      }
      return sum;
    }
  };
  auto round = [&](__m128i sum) { return _mm_srai_epi32(_mm_add_epi32(sum, half), kWeightBits - kAcrossBits); };
  int j = from;
  if constexpr (Span == 2) {  // two pixels at a time as a + (b - a) * w, in 16 bits
    const __m128i* blend = static_cast<const __m128i*>(blendWeights);
    const __m128i bias = _mm_set1_epi16(1 << (kAcrossBits - 1));  // what kAcrossHalf carries down
    for (; j + 1 < width; j += 2) {
      const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + start[j]));
      const __m128i second = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + start[j + 1]));
      const __m128i ab = _mm_unpacklo_epi32(first, second);  // both a, then both b
      const __m128i a = _mm_unpacklo_epi8(ab, zero), b = _mm_unpackhi_epi8(ab, zero);
      const __m128i d = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(b, a), 7), blend[j / 2]);
      const __m128i two = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(a, kAcrossBits), d), bias);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + static_cast<size_t>(j) * 4), two);
    }
  }
  for (; j + 1 < width; j += 2) {
    const __m128i two = _mm_packs_epi32(round(one(j)), round(one(j + 1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + static_cast<size_t>(j) * 4), two);
  }
  if (j < width) {
    const __m128i last = round(one(j));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<size_t>(j) * 4), _mm_packs_epi32(last, last));
  }
}

}  // namespace

void FrameScaler::filterRow(const uint8_t* row, int16_t* out) const noexcept {
  const int width = geometry_.pictureWidth, pairs = columns_.pairs;
  switch (span_) {
    case 2: return filterBlocks<2>(row, out, blockStart_.data(), blockWeights_.data(), blendWeights_.data(), width, 0);
    case 4: {
      const int from = wide_ ? wide::filterBlocks4(row, out, blockStart_.data(), pairWeights_.data(), width) : 0;
      return filterBlocks<4>(row, out, blockStart_.data(), blockWeights_.data(), blendWeights_.data(), width, from);
    }
    case 8: {
      const int from = wide_ ? wide::filterBlocks8(row, out, blockStart_.data(), pairWeights_.data(), width) : 0;
      return filterBlocks<8>(row, out, blockStart_.data(), blockWeights_.data(), blendWeights_.data(), width, from);
    }
    default: break;
  }
  const PairTap* taps = columns_.taps.data();
  switch (pairs) {
    case 1: return filterAcross<1>(row, out, taps, width, pairs);
    case 2: return filterAcross<2>(row, out, taps, width, pairs);
    case 3: return filterAcross<3>(row, out, taps, width, pairs);
    default: return filterAcross<0>(row, out, taps, width, pairs);
  }
}

// Source rows combined down into one row of four 16-bit channels (6 fractional bits) per pixel:
// each tap's bytes as x << 8 times its weight << 2, the high half: x * weight / 64.
void combineDown(const uint8_t* const* rows, const int32_t* weights, int taps, int16_t* out, int width, size_t from) {
  const __m128i zero = _mm_setzero_si128();
  __m128i w[2 * kMaxDownPairs];
  for (int t = 0; t < taps; ++t) w[t] = _mm_set1_epi16(static_cast<int16_t>(weights[t]));
  const size_t bytes = static_cast<size_t>(width) * 4;
  size_t at = from;
  for (; at + 16 <= bytes; at += 16) {
    __m128i lo = zero, hi = zero;
    for (int t = 0; t < taps; ++t) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + at));
      lo = _mm_add_epi16(lo, _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, x), w[t]));
      hi = _mm_add_epi16(hi, _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, x), w[t]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_srli_epi16(lo, 2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 8), _mm_srli_epi16(hi, 2));
  }
  for (; at < bytes; ++at) {  // the last pixels, one byte at a time
    uint32_t sum = 0;
    for (int t = 0; t < taps; ++t) sum += (static_cast<uint32_t>(rows[t][at]) << 8) * static_cast<uint32_t>(weights[t]) >> 16;
    out[at] = static_cast<int16_t>(sum >> 2);
  }
}

// A combined row filtered across into `width` frame pixels: Span 2, 4 or 8 neighbouring pixels.
template <int Span>
void acrossToFrame(const int16_t* row, uint8_t* out, const int32_t* start, const void* blockWeights, int width,
                   int from) {
  const __m128i* weights = static_cast<const __m128i*>(blockWeights);
  const __m128i half = _mm_set1_epi32(1 << (kWeightBits + kAcrossBits - 1));
  auto one = [&](int j) {
    const int16_t* block = row + start[j];  // start is in bytes of the source: the same count of channels
    if constexpr (Span == 2) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
      return _mm_madd_epi16(_mm_unpacklo_epi16(v, _mm_srli_si128(v, 8)), weights[j]);
    } else {
      __m128i sum = _mm_setzero_si128();
      for (int q = 0; q < Span; q += 4) {  // four pixels: two loads
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + q * 4));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + q * 4 + 8));
        const __m128i* w = weights + static_cast<size_t>(j) * (Span / 2) + q / 2;
        sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), w[0]),
                                               _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w[1])));
      }
      return sum;
    }
  };
  auto round = [&](__m128i sum) { return _mm_srai_epi32(_mm_add_epi32(sum, half), kWeightBits + kAcrossBits); };
  int j = from;
  for (; j + 1 < width; j += 2) {
    const __m128i words = _mm_packs_epi32(round(one(j)), round(one(j + 1)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<size_t>(j) * 4), _mm_packus_epi16(words, words));
  }
  if (j < width) {
    const __m128i words = _mm_packs_epi32(round(one(j)), round(one(j)));
    const int32_t pixel = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(out + static_cast<size_t>(j) * 4, &pixel, 4);
  }
}

void FrameScaler::compose(const uint8_t* source, uint8_t* picture, size_t rowPitch) noexcept {
  if (!ready_) return;
  const FrameGeometry& g = geometry_;
  const size_t sourceStride = static_cast<size_t>(g.sourceWidth) * 4;
  auto sourceRow = [&](int y) {  // y counted from the crop's top, within the surface
    const int row = g.cropY + y;
    return source + static_cast<size_t>(g.sourceBottomUp ? g.sourceHeight - 1 - row : row) * sourceStride +
           static_cast<size_t>(g.cropX) * 4;
  };
  auto pictureRow = [&](int y) {  // y counted from the picture's top
    return picture + static_cast<size_t>(g.outputTopDown ? y : g.pictureHeight - 1 - y) * rowPitch;
  };
  std::fill(ringRow_.begin(), ringRow_.end(), -1);  // the source has changed since the last frame

  if (downFirst_) {
    const uint8_t* rows[2 * kMaxDownPairs];
    int32_t weights[2 * kMaxDownPairs];
    for (int i = 0; i < g.pictureHeight; ++i) {
      const PairTap* taps = rows_.taps.data() + static_cast<size_t>(i) * rows_.pairs;
      int n = 0;
      for (int p = 0; p < rows_.pairs; ++p) {
        for (const auto& [row, weight] : {std::pair{taps[p].first, taps[p].weights & 0xFFFF},
                                           std::pair{taps[p].second, (taps[p].weights >> 16) & 0xFFFF}}) {
          if (weight == 0) continue;
          rows[n] = sourceRow(row);
          weights[n++] = std::min(weight * 4, 0xFFFF);
        }
      }
      const size_t bytes = static_cast<size_t>(g.cropWidth) * 4;
      combineDown(rows, weights, n, down_.data(), g.cropWidth,
                  wide_ ? wide::combineDown(rows, weights, n, down_.data(), bytes) : 0);
      uint8_t* out = pictureRow(i);
      switch (span_) {
        case 2: acrossToFrame<2>(down_.data(), out, blockStart_.data(), blockWeights_.data(), g.pictureWidth, 0); break;
        case 4: {
          const int from = wide_ ? wide::acrossToFrame4(down_.data(), out, blockStart_.data(), pairWeights_.data(), g.pictureWidth) : 0;
          acrossToFrame<4>(down_.data(), out, blockStart_.data(), blockWeights_.data(), g.pictureWidth, from);
          break;
        }
        default: {
          const int from = wide_ ? wide::acrossToFrame8(down_.data(), out, blockStart_.data(), pairWeights_.data(), g.pictureWidth) : 0;
          acrossToFrame<8>(down_.data(), out, blockStart_.data(), blockWeights_.data(), g.pictureWidth, from);
          break;
        }
      }
    }
    return;
  }

  const size_t ringSize = ringRow_.size();
  const int width = g.pictureWidth, pairs = rows_.pairs;
  auto filtered = [&](int32_t r) {  // the row filtered across, from the ring or made now
    const size_t slot = static_cast<size_t>(r) % ringSize;
    int16_t* entry = ring_.data() + slot * ringStride_;
    if (ringRow_[slot] != r) {
      filterRow(sourceRow(r), entry);
      ringRow_[slot] = r;
    }
    return entry;
  };
  for (int i = 0; i < g.pictureHeight; ++i) {
    // The pairs that weigh something (the padding ones come last).
    const PairTap* taps = rows_.taps.data() + static_cast<size_t>(i) * pairs;
    int used = 0;
    for (; used < pairs && taps[used].weights != 0; ++used) {
      rowPairs_[used].first = filtered(taps[used].first);
      rowPairs_[used].second = filtered(taps[used].second);
      rowPairs_[used].weights = taps[used].weights;
    }
    uint8_t* out = pictureRow(i);
    switch (used) {
      case 1: blendDown(rowPairs_[0], out, width, wide_ ? wide::blendDown(rowPairs_[0], out, width) : 0); break;
      case 2: filterDown<2>(rowPairs_.data(), out, width, used, wide_ ? wide::filterDown(rowPairs_.data(), used, out, width) : 0); break;
      default: filterDown<0>(rowPairs_.data(), out, width, used, wide_ ? wide::filterDown(rowPairs_.data(), used, out, width) : 0); break;
    }
  }
}

}  // namespace zor
