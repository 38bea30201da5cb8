// The rows one block row of the field measures reads (field_measures.cpp),
// and the same sums taken sixteen samples at a time with AVX2
// (field_measures_avx2.cpp, built for AVX2 and called only where the
// processor has it). Integer sums: every path gives the same totals.
#ifndef ZEMIVTC_ANALYSIS_FIELD_MEASURES_ROWS_H
#define ZEMIVTC_ANALYSIS_FIELD_MEASURES_ROWS_H

#include <cstddef>
#include <cstdint>

namespace analysis {
namespace rows {

// Rows of one row pair i and its neighbours, in the reduced planes: t = top
// field rows (frame row 2i), b = bottom field rows (2i + 1), of the previous
// (p) and current (c) frame. Second differences exist only where the row
// pair has neighbours on both sides (`inner`).
struct RowSet {
  const uint16_t *ct0, *ct1, *ct2;  // current frame, top rows i-1, i, i+1
  const uint16_t *cb0, *cb1, *cb2;  // current frame, bottom rows i-1, i, i+1
  const uint16_t *pt1, *pt2;        // previous frame, top rows i, i+1
  const uint16_t *pb0, *pb1;        // previous frame, bottom rows i-1, i
  bool inner;
  bool pair;  // the previous frame exists
};

// Row pair i of `rowPairs` in planes whose rows are `pitch` samples apart;
// `prev` is nullptr for the first frame.
inline RowSet RowSetAt(const uint16_t* prev, const uint16_t* cur, ptrdiff_t pitch, int i, int rowPairs) {
  auto row = [pitch](const uint16_t* frame, int r) { return frame + r * pitch; };
  RowSet r{};
  r.inner = i >= 1 && i + 1 < rowPairs;
  r.pair = prev != nullptr;
  r.ct1 = row(cur, 2 * i);
  r.cb1 = row(cur, 2 * i + 1);
  if (r.inner) {
    r.ct0 = row(cur, 2 * i - 2);
    r.ct2 = row(cur, 2 * i + 2);
    r.cb0 = row(cur, 2 * i - 1);
    r.cb2 = row(cur, 2 * i + 3);
  }
  if (r.pair) {
    r.pt1 = row(prev, 2 * i);
    r.pb1 = row(prev, 2 * i + 1);
    if (r.inner) {
      r.pt2 = row(prev, 2 * i + 2);
      r.pb0 = row(prev, 2 * i - 1);
    }
  }
  return r;
}

inline int64_t Square(int v) { return static_cast<int64_t>(v) * v; }
// Second difference of a row against the rows above and below it.
inline int Second(int a, int above, int below) { return 2 * a - above - below; }

// Energy of the weave of top field X (rows x1, x2 = i, i+1) and bottom
// field Y (rows y0, y1 = i-1, i) at row pair i: each row against the other
// field's rows around it.
inline int64_t Weave(int x1, int x2, int y0, int y1) { return Square(Second(x1, y0, y1)) + Square(Second(y1, x1, x2)); }

// One block's sums over a block row.
struct Totals {
  int64_t selfTop = 0, selfBottom = 0, weave = 0, weaveTopFirst = 0, weaveBottomFirst = 0, changeTop = 0,
          changeBottom = 0;
};

bool HaveAvx2();
// Adds the sums of row pairs [i0, i1) over the first `blocks` blocks of
// sixteen samples to totals[0 .. blocks).
void AddBlockRowAvx2(const uint16_t* prev, const uint16_t* cur, ptrdiff_t pitch, int i0, int i1, int rowPairs,
                     int blocks, Totals* totals);
// Sums of four pixels across for the first samples of a row, sixteen at a
// time; returns how many it made.
int ReduceRowAvx2(const uint8_t* row, int samples, uint16_t* out);

}  // namespace rows
}  // namespace analysis

#endif
