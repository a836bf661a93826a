// Built with 256-bit vectors enabled for this file alone; nothing here runs unless
// FrameScaler::wideVectorsAvailable() said so (it lives in FrameScaler.cpp, built without them).
// Vector moves are encoded unaligned (see CMakeLists.txt): the Windows x64 stack keeps 16-byte
// alignment only, and a spilled 256-bit value must not fault on it.
#include "capture/FrameScalerWide.h"

#include <immintrin.h>

namespace zor::wide {

namespace {

using scaling::kAcrossBits;
using scaling::kAcrossHalf;
using scaling::kWeightBits;

// Two 16-byte loads, the second into the high half.
inline __m256i loadTwo(const void* low, const void* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(low))),
                                 _mm_loadu_si128(static_cast<const __m128i*>(high)), 1);
}

inline __m256i load(const void* at) { return _mm256_loadu_si256(static_cast<const __m256i*>(at)); }
inline void store(void* at, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(at), v); }

// Four 32-bit sums per half (one pixel each, its four channels) turned into frame bytes, eight
// pixels in order: a = pixels 0 | 1, b = 2 | 3, c = 4 | 5, d = 6 | 7.
inline __m256i eightPixels(__m256i a, __m256i b, __m256i c, __m256i d) {
  const __m256i low = _mm256_packs_epi32(a, b);   // 0, 2 | 1, 3
  const __m256i high = _mm256_packs_epi32(c, d);  // 4, 6 | 5, 7
  const __m256i bytes = _mm256_packus_epi16(low, high);  // 0, 2, 4, 6 | 1, 3, 5, 7
  return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// A row of frame pixels from rows of 16-bit ones, eight at a time: four(at) makes the four pixels
// from 16-bit value `at` on, as 16-bit channels (pixels 0, 1 | 2, 3). How many it wrote.
template <typename Four>
inline int eightDown(Four four, uint8_t* out, int width) {
  int x = 0;
  for (; x + 7 < width; x += 8) {
    const size_t at = static_cast<size_t>(x) * 4;
    const __m256i bytes = _mm256_packus_epi16(four(at), four(at + 16));  // 0, 1, 4, 5 | 2, 3, 6, 7
    store(out + at, _mm256_permute4x64_epi64(bytes, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  return x;
}

// The weighted sum across of pixels j and j + 1 (halves), Span neighbouring source pixels each,
// from 16-bit channels (Row int16_t) or bytes (Row uint8_t).
template <int Span, typename Row>
inline __m256i twoAcross(const Row* row, const int32_t* start, const PairWeights* weights, int j) {
  const Row* first = row + start[j];
  const Row* second = row + start[j + 1];
  const PairWeights* w = weights + static_cast<size_t>(j / 2) * (Span / 2);
  __m256i sum = _mm256_setzero_si256();
  for (int q = 0; q < Span; q += 4) {  // four pixels of each block: pixels 0 and 2 side by side, then 1 and 3
    __m256i a, b;
    if constexpr (sizeof(Row) == 2) {
      a = loadTwo(first + q * 4, second + q * 4);
      b = loadTwo(first + q * 4 + 8, second + q * 4 + 8);
    } else {
      const __m256i x = loadTwo(first + q * 4, second + q * 4);
      a = _mm256_unpacklo_epi8(x, _mm256_setzero_si256());
      b = _mm256_unpackhi_epi8(x, _mm256_setzero_si256());
    }
    sum = _mm256_add_epi32(sum, _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), load(w[q / 2].lanes)),
                                                 _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), load(w[q / 2 + 1].lanes))));
  }
  return sum;
}

template <int Span>
int acrossToFrame(const int16_t* row, uint8_t* out, const int32_t* start, const PairWeights* weights, int width) {
  const __m256i half = _mm256_set1_epi32(1 << (kWeightBits + kAcrossBits - 1));
  auto two = [&](int j) {
    return _mm256_srai_epi32(_mm256_add_epi32(twoAcross<Span>(row, start, weights, j), half), kWeightBits + kAcrossBits);
  };
  int j = 0;
  for (; j + 7 < width; j += 8) store(out + static_cast<size_t>(j) * 4, eightPixels(two(j), two(j + 2), two(j + 4), two(j + 6)));
  return j;
}

template <int Span>
int filterBlocks(const uint8_t* row, int16_t* out, const int32_t* start, const PairWeights* weights, int width) {
  const __m256i half = _mm256_set1_epi32(kAcrossHalf);
  auto two = [&](int j) {
    return _mm256_srai_epi32(_mm256_add_epi32(twoAcross<Span>(row, start, weights, j), half), kWeightBits - kAcrossBits);
  };
  int j = 0;
  for (; j + 3 < width; j += 4) {
    const __m256i words = _mm256_packs_epi32(two(j), two(j + 2));  // 0, 2 | 1, 3
    store(out + static_cast<size_t>(j) * 4, _mm256_permute4x64_epi64(words, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  return j;
}

}  // namespace

size_t combineDown(const uint8_t* const* rows, const int32_t* weights, int taps, int16_t* out, size_t bytes) {
  const __m256i zero = _mm256_setzero_si256();
  size_t at = 0;
  for (; at + 32 <= bytes; at += 32) {
    __m256i lo = zero, hi = zero;  // bytes 0-7 | 16-23, and 8-15 | 24-31
    for (int t = 0; t < taps; ++t) {
      const __m256i x = load(rows[t] + at);
      const __m256i w = _mm256_set1_epi16(static_cast<int16_t>(weights[t]));
      lo = _mm256_add_epi16(lo, _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, x), w));
      hi = _mm256_add_epi16(hi, _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, x), w));
    }
    lo = _mm256_srli_epi16(lo, 2);
    hi = _mm256_srli_epi16(hi, 2);
    store(out + at, _mm256_permute2x128_si256(lo, hi, 0x20));
    store(out + at + 16, _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  return at;
}

int acrossToFrame4(const int16_t* row, uint8_t* out, const int32_t* start, const PairWeights* weights, int width) {
  return acrossToFrame<4>(row, out, start, weights, width);
}
int acrossToFrame8(const int16_t* row, uint8_t* out, const int32_t* start, const PairWeights* weights, int width) {
  return acrossToFrame<8>(row, out, start, weights, width);
}
int filterBlocks4(const uint8_t* row, int16_t* out, const int32_t* start, const PairWeights* weights, int width) {
  return filterBlocks<4>(row, out, start, weights, width);
}
int filterBlocks8(const uint8_t* row, int16_t* out, const int32_t* start, const PairWeights* weights, int width) {
  return filterBlocks<8>(row, out, start, weights, width);
}

int filterDown(const FrameScaler::RowPair* rows, int pairs, uint8_t* out, int width) {
  // Pixels 0 | 2 and 1 | 3 of four, from each pair of rows side by side.
  auto four = [&](size_t at) {
    __m256i left = _mm256_setzero_si256(), right = _mm256_setzero_si256();
    for (int p = 0; p < pairs; ++p) {
      const __m256i a = load(rows[p].first + at), b = load(rows[p].second + at);
      const __m256i w = _mm256_set1_epi32(rows[p].weights);
      left = _mm256_add_epi32(left, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
      right = _mm256_add_epi32(right, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
    }
    return _mm256_packs_epi32(_mm256_srai_epi32(left, kWeightBits + kAcrossBits),
                              _mm256_srai_epi32(right, kWeightBits + kAcrossBits));  // 0, 1 | 2, 3
  };
  return eightDown(four, out, width);
}

int blendDown(const FrameScaler::RowPair& rows, uint8_t* out, int width) {
  const __m256i w = _mm256_set1_epi16(static_cast<int16_t>((rows.weights >> 16) * 2));
  auto blend = [&](size_t at) {  // four pixels: a + (b - a) * w
    const __m256i a = load(rows.first + at), b = load(rows.second + at);
    const __m256i d = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(b, a), 1), w);
    return _mm256_srai_epi16(_mm256_add_epi16(a, d), kAcrossBits);  // 0, 1 | 2, 3
  };
  return eightDown(blend, out, width);
}

}  // namespace zor::wide
