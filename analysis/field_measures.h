// Measures of a clip's field positions, taken from the luma of its frames.
//
// The fields of a clip, in time order, are top 0, bottom 0, top 1, bottom 1,
// and so on: field 2k is frame k's even rows, field 2k+1 its odd rows. Field
// position p stands for the frame woven from fields p and p+1 (position 2k
// is frame k as it is, position 2k+1 the top field of frame k+1 over the
// bottom field of frame k), so a clip of N frames has 2N-1 positions.
//
// Two measures say whether the fields of a position show one moment:
//   - comb: how much the weave's rows stand out from the rows of the other
//     field around them, beyond how much they stand out from their own
//     field's rows. Fine detail stands out in its own field too and
//     cancels; two moments woven together leave every row of a moving
//     edge outside its neighbours and count in full.
//   - motion: the change between fields of one parity two apart (field p
//     against field p+2). Two fields of one moment cannot differ, so motion
//     around a position is the scale the comb is read against.
// Both are summed over blocks of the frame and only blocks that move around
// the position count, so a still background with fine detail adds nothing.
#ifndef ZEMIVTC_ANALYSIS_FIELD_MEASURES_H
#define ZEMIVTC_ANALYSIS_FIELD_MEASURES_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace analysis {

struct PositionMeasures {
  double comb = 0;    // comb excess of the weave, over the blocks that move around it
  double motion = 0;  // change of both parities around the position, over the same blocks
  // Its two parts: field p-1 against field p+1, and field p against p+2.
  double motionBefore = 0, motionAfter = 0;
  double combAll = 0;  // comb excess over the whole frame
  // Change from field p to field p+2 over the whole frame (both fields of
  // one parity); negative where field p+2 does not exist.
  double repeat = -1;
  int movingBlocks = 0;
};

// Runs work(begin, end) over consecutive ranges covering [0, count),
// possibly on several threads at once, and returns when all are done.
using BandRunner = std::function<void(int count, const std::function<void(int, int)>& work)>;

class FieldAnalyzer {
 public:
  // Luma frames of this size. `runner` spreads the rows of each frame pair
  // over threads; without one the caller's thread does it all.
  FieldAnalyzer(int width, int height, BandRunner runner = nullptr);

  // The next frame's luma plane, rows `pitch` bytes apart. The previous
  // frame's plane must stay readable until this call returns.
  void AddFrame(const uint8_t* luma, ptrdiff_t pitch);
  int Frames() const { return frames; }
  // Measures of the 2N-1 positions of the frames added so far (at least 1).
  std::vector<PositionMeasures> Finish();

  // Pixel count of one field, the scale of the motion figures.
  double FieldPixels() const { return static_cast<double>(width) * (height / 2); }

  // Sums of one block: rows [16 * blockRow, +16) of each field, 64 columns.
  static constexpr int BlockFieldRows = 16;
  static constexpr int BlockColumns = 64;
  // Per-pixel differences up to this much are taken as noise.
  static constexpr int NoiseFloor = 2;
  // A block moves when its summed change over the floor exceeds this.
  static constexpr uint32_t MovingBlockSum = 16;

  struct BlockSums {
    uint32_t combOwn = 0;    // the previous frame's own weave (its even position)
    uint32_t combCross = 0;  // the current frame's top over the previous frame's bottom
    uint32_t motionTop = 0;  // the previous frame's top field against the current one's
    uint32_t motionBottom = 0;
  };
  // The sums of one block row of a frame pair (exposed for the tests'
  // comparison of the vector code with the plain one).
  static void MeasureBlockRow(const uint8_t* previous, const uint8_t* current, ptrdiff_t pitch, int width, int height,
                              int blockRow, BlockSums* sums, bool vector = true);

 private:
  void MeasurePair(const uint8_t* previous, const uint8_t* current, ptrdiff_t pitch, bool lastFrameOnly);
  void AddPosition(const std::vector<BlockSums>& sums, bool cross);

  int width, height;
  int blockRows, blockCols;
  BandRunner runner;
  int frames = 0;
  const uint8_t* previous = nullptr;
  ptrdiff_t previousPitch = 0;
  std::vector<BlockSums> sums;
  std::vector<uint32_t> previousMotionBottom;  // the last pair's bottom-field change, per block
  std::vector<PositionMeasures> positions;
};

}  // namespace analysis

#endif
