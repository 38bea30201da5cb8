// Measures of a clip's field positions, taken from the luma of its frames.
//
// The fields of a clip, in time order, are frame 0's first field, frame 0's
// second field, frame 1's first field, and so on; the first field is the top
// one (even rows) in a top-field-first clip and the bottom one (odd rows) in
// a bottom-field-first clip. Field position p stands for the frame woven
// from fields p and p+1: position 2k is frame k as it is, position 2k+1
// frame k's second field with frame k+1's first field. A clip of N frames
// has 2N-1 positions. The analyser measures both orders at once, so that the
// order can be told from the footage when the stream does not say it.
//
// Everything is measured on luma summed over groups of four pixels across:
// per-pixel grain averages down while the combing of a moving edge, which
// runs along the rows, keeps its strength; and there is a quarter as much
// arithmetic.
//
// Three measures say whether the fields of a position show one moment:
//   - comb: for every row of the weave, the energy of its second difference
//     against the other field's rows above and below it, less that against
//     its own field's rows two above and two below. Noise independent from
//     pixel to pixel has the same energy in both and cancels (on average),
//     fine detail of one picture scores no more across than within a field,
//     and two moments woven together leave every row of a moving edge far
//     from its neighbours: the comb excess is then large and positive.
//   - motion: the change between fields of one parity two apart (field p
//     against field p+2), less what the noise alone gives. Two fields of one
//     moment cannot differ, so motion around a position is the scale the
//     comb is read against.
//   - repeat: the change of field p against field p+2 over the whole frame;
//     telecine repeats a field exactly, so up to the noise of a later encode.
// Comb and motion are summed over blocks of the frame and only blocks whose
// change stands out of the noise count, so a still background with fine
// detail adds nothing. The noise is estimated from each frame: the energy of
// its quietest blocks' second differences.
#ifndef ZEMIVTC_ANALYSIS_FIELD_MEASURES_H
#define ZEMIVTC_ANALYSIS_FIELD_MEASURES_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace analysis {

enum class FieldOrder : unsigned char { TopFirst, BottomFirst };

struct PositionMeasures {
  double comb = 0;    // comb excess of the weave (signed), over the blocks that move around it
  double motion = 0;  // change of both parities around the position over the noise, over the same blocks
  // Its two parts: field p-1 against field p+1, and field p against p+2.
  double motionBefore = 0, motionAfter = 0;
  double combAll = 0;  // comb excess over the whole frame
  // Change from field p to field p+2 over the whole frame; negative where
  // field p+2 does not exist.
  double repeat = -1;
  // What noise alone gives that change (twice the noise energy of a field),
  // from the frames around the position.
  double repeatNoise = 0;
  // Field p between its neighbours: its weave with field p+1 less its
  // weave with field p-1, over the blocks where fields p-1 and p+1 differ
  // beyond the noise: positive when field p belongs with field p-1,
  // negative with field p+1, near 0 when it is as far from both (a video
  // field) or they are alike. Noise and fine detail weigh the same in both
  // weaves and cancel. `pairingMotion`: the change between fields p-1 and
  // p+1 over those blocks, over the noise (0 at position 0).
  double pairing = 0, pairingMotion = 0;
  // The two weaves' energies summed over the same blocks: the pairing
  // against it says how far one weave stands from the other, whatever the
  // motion.
  double pairingWeaves = 0;
  // Block by block, the change of field p against p+2 up to the larger
  // change around it (fields p-1 against p+1, p+1 against p+3), over the
  // sum of those larger changes, where they stand out of the noise: near 0
  // where field p+2 repeats field p and the fields around change, near 1
  // where it changes as they do. Per block, so that an encode's errors,
  // spread over the whole frame, weigh less than in `repeat`. -1 where it
  // is not known; `repeatShareMass` the sum it is taken over.
  double repeatShare = -1, repeatShareMass = 0;

  int movingBlocks = 0;
  // Blocks whose fields show detail of their own beyond the noise, and of
  // those the ones whose weave combs more than that detail: at a cut,
  // nearly all (a held drawing giving way to the next changes as much, but
  // its weave does not comb everywhere).
  int activeBlocks = 0, combBlocks = 0;
  int blocks = 0;  // of the frame
};

// Runs work(begin, end) over consecutive ranges covering [0, count),
// possibly on several threads at once, and returns when all are done.
using BandRunner = std::function<void(int count, const std::function<void(int, int)>& work)>;

class FieldAnalyzer {
 public:
  // Luma frames of this size. `runner` spreads the rows of each frame over
  // threads; without one the caller's thread does it all.
  FieldAnalyzer(int width, int height, BandRunner runner = nullptr);

  // The next frame's luma plane, rows `pitch` bytes apart. The plane is
  // read during the call only.
  void AddFrame(const uint8_t* luma, ptrdiff_t pitch);
  int Frames() const { return frames; }

  // The measures of the 2N-1 positions of the frames added so far in each
  // order (empty before the first frame). Finish ends the adding.
  struct Result {
    std::vector<PositionMeasures> order[2];  // indexed by FieldOrder
    const std::vector<PositionMeasures>& In(FieldOrder o) const { return order[static_cast<int>(o)]; }
  };
  Result Finish();
  // The positions measured so far in one order (all but the last frame's).
  const std::vector<PositionMeasures>& Positions(FieldOrder o) const { return positions[static_cast<int>(o)]; }

  // The scale of the measures: luma sums of four pixels across, so one
  // field of the clip holds FieldSamples() of them.
  double FieldSamples() const { return static_cast<double>(reducedWidth) * (height / 2); }

  // Blocks: rows [16 * blockRow, +16) of each field, 16 sums (64 pixels) across.
  static constexpr int BlockFieldRows = 16;
  static constexpr int BlockColumns = 64;
  static constexpr int Reduction = 4;  // pixels summed across
  static constexpr int BlockSamples = BlockColumns / Reduction;

  // Sums of one frame's block: each field's own second differences and
  // the frame's own weave.
  struct FrameSums {
    uint64_t selfTop = 0, selfBottom = 0;
    uint64_t weave = 0;
  };
  // Sums of one block of a frame pair (k, k+1): the two cross weaves and the
  // change of each parity.
  struct PairSums {
    uint64_t weaveTopFirst = 0;     // frame k's bottom field with frame k+1's top field
    uint64_t weaveBottomFirst = 0;  // frame k's top field with frame k+1's bottom field
    uint64_t changeTop = 0, changeBottom = 0;
  };
  // The sums of one block row from the reduced planes (rows `pitch` samples
  // apart, `samples` across, `height` rows) of frame k (`previous`, nullptr
  // for the first frame) and k+1 (`current`). Exposed for the tests'
  // comparison of the vector code with the plain one.
  static void MeasureBlockRow(const uint16_t* previous, const uint16_t* current, ptrdiff_t pitch, int samples,
                              int height, int blockRow, FrameSums* frameSums, PairSums* pairSums, bool vector = true);
  // Sums of four pixels across, `width / 4` of them per row.
  static void ReduceRow(const uint8_t* row, int width, uint16_t* out, bool vector = true);

 private:
  void Reduce(const uint8_t* luma, ptrdiff_t pitch);
  void Measure(bool havePrevious);
  double NoiseOf(const std::vector<FrameSums>& sums) const;
  // Positions 2k and 2k+1 of each order from frame k's and k+1's sums and
  // the pairs (k-1, k) and (k, k+1); the last frame's own position when
  // `next` is null.
  void AddPositions(const std::vector<FrameSums>& frame, const std::vector<FrameSums>* next,
                    const std::vector<PairSums>* before, const std::vector<PairSums>* after, double noise);

  int width, height;
  int reducedWidth;
  int blockRows, blockCols;
  BandRunner runner;
  int frames = 0;
  std::vector<uint16_t> planes[2];  // reduced luma of the last two frames
  int currentPlane = 0;
  std::vector<FrameSums> frameSums[2];  // frame k-1's and frame k's
  std::vector<PairSums> pairSums[2];    // pairs (k-2, k-1) and (k-1, k)
  double frameNoise[2] = {0, 0};        // frame k-1's and frame k's noise energy (NoiseOf)
  std::vector<PositionMeasures> positions[2];
};

}  // namespace analysis

#endif
