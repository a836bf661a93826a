// Composes a captured picture from a painted 32-bit surface in one pass: the source rectangle
// scaled onto the picture rectangle of the frame (the black around it is the caller's, written
// once where the frame's memory is made). Each axis is filtered on its own: shrinking weighs the
// source pixels under a tent reaching one output pixel on each side of the output pixel's centre,
// and at least 1.65 source pixels (its support grows with the ratio, so 1-pixel stripes and fine
// text turn into their mean at every ratio instead of beating into a coarser pattern), enlarging
// interpolates bilinearly between the two nearest source pixels (pixel centres aligned, edges
// held). All four bytes of a pixel are filtered alike, in the values GDI stored.
//
// The per-size tables (which source pixels each output pixel takes, and their weights) and the
// scratch rows are made by prepare() when the geometry changes; compose() allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zor {

// How an axis is shrunk: the tent above, or the plain average of the area an output pixel covers
// (what the worker did before; kept for the benchmark's comparison).
enum class ShrinkFilter : uint8_t { Tent, Area };

struct FrameGeometry {
  int sourceWidth = 0, sourceHeight = 0;  // the painted surface; rows of sourceWidth * 4 bytes
  bool sourceBottomUp = true;             // the surface's first row in memory is its bottom row
  int cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;  // inside the surface, from its top-left
  int outputWidth = 0, outputHeight = 0;                    // the frame; rows of outputWidth * 4 bytes
  int pictureX = 0, pictureY = 0, pictureWidth = 0, pictureHeight = 0;  // inside the frame, from its top-left
  bool outputTopDown = false;  // the frame's first row in memory is its top row
  ShrinkFilter shrink = ShrinkFilter::Tent;

  // Where the picture's first row in memory order starts in a whole frame of rows rowPitch apart.
  size_t pictureOffset(size_t rowPitch) const {
    const int firstRow = outputTopDown ? pictureY : outputHeight - pictureY - pictureHeight;
    return static_cast<size_t>(firstRow) * rowPitch + static_cast<size_t>(pictureX) * 4;
  }

  // Where the crop's first row in memory order starts in the surface (rows sourceWidth * 4 apart).
  size_t cropOffset() const {
    const int firstRow = sourceBottomUp ? sourceHeight - cropY - cropHeight : cropY;
    return (static_cast<size_t>(firstRow) * sourceWidth + cropX) * 4;
  }

  bool operator==(const FrameGeometry&) const = default;
};

class FrameScaler {
 public:
  // Makes the tables for `g` unless they are made already. False (and nothing prepared) when the
  // rectangles do not lie inside their surfaces, one is empty, or memory runs out.
  bool prepare(const FrameGeometry& g) noexcept;
  // 256-bit vectors where the processor has them (the default), or 128-bit ones only. The
  // picture is the same either way.
  void useWideVectors(bool on) noexcept;
  static bool wideVectorsAvailable() noexcept;
  bool prepared() const { return ready_; }
  const FrameGeometry& geometry() const { return geometry_; }

  // Writes the picture (pictureHeight rows of pictureWidth * 4 bytes, in the frame's row order)
  // from `source`, a surface of the prepared geometry. `picture` is the first byte of the picture's
  // first row in memory order, rows rowPitch bytes apart; nothing outside the picture is written.
  // Requires prepare() to have succeeded.
  void compose(const uint8_t* source, uint8_t* picture, size_t rowPitch) noexcept;

 // The tables' entries (public for the file's filter functions).
  struct PairTap {  // two taps of one output pixel: source indices (byte offsets across) and weights
    int32_t first = 0, second = 0;
    int32_t weights = 0;  // the first tap's weight in the low half; the weights of a pixel sum to 1 << 14
  };
  struct RowPair {  // two filtered rows of one output row and their weights
    const int16_t* first = nullptr;
    const int16_t* second = nullptr;
    int32_t weights = 0;
  };
  struct PairWeights {  // output pixels j and j + 1 (j even): pixel j's 128-bit weights, then j + 1's
    int32_t lanes[8];
  };

 private:
  struct Axis {  // output pixel i takes taps[i * pairs, (i + 1) * pairs)
    std::vector<PairTap> taps;
    int32_t pairs = 0;
  };
  static void buildAxis(int sourceLength, int outputLength, ShrinkFilter shrink, Axis& axis);
  void filterRow(const uint8_t* sourceRow, int16_t* out) const noexcept;

  FrameGeometry geometry_;
  bool ready_ = false;
  Axis columns_, rows_;
  // Across, when each pixel's taps fit in 2, 4 or 8 neighbouring source pixels: the block's first
  // byte in a row, and its weights laid out for the block's pixels (span_ / 2 per pixel).
  int span_ = 0;  // 2, 4 or 8 neighbouring pixels a block; 0: taps read one pair at a time
  std::vector<int32_t> blockStart_;
  struct alignas(16) BlockWeights {
    int32_t lanes[4];
  };
  std::vector<BlockWeights> blockWeights_;
  std::vector<BlockWeights> blendWeights_;
  bool wide_ = wideVectorsAvailable();    // 256-bit loops run first
  std::vector<PairWeights> pairWeights_;  // blockWeights_ two pixels an entry, for them  // one pair across: the second pixel's weights, two pixels each
  // Source rows already filtered across, 7 fractional bits per channel: a ring of as many rows
  // as one output row takes (they are consecutive, so they never take each other's place).
  std::vector<int16_t> ring_;
  std::vector<int32_t> ringRow_;  // the source row each ring entry holds (-1: none)
  size_t ringStride_ = 0;         // int16 values per ring entry (picture width * 4, rounded up to 2 pixels)
  std::vector<RowPair> rowPairs_;  // the current output row's
  // Shrinking down: rows combined first, into one scratch row (four 16-bit channels a pixel).
  bool downFirst_ = false;
  std::vector<int16_t> down_;
};

}  // namespace zor
