// A plain model of what the filter makes of one plan entry: the weave, the
// tables and the fixed-point sum written out the slow way, byte by byte. For
// the module tests, the C-interface client (ModelFrameRows alone, which needs
// no library: ZEMIVTC_FRAME_MODEL_PLAIN) and the plan fuzzer.
#ifndef ZEMIVTC_TESTS_FRAME_MODEL_H
#define ZEMIVTC_TESTS_FRAME_MODEL_H

#include <stdint.h>

#include "vfilter/vertical_filter.h"

namespace testing_support {

// The frame the plan byte `code` at `position` makes into `out` from source
// frames k (`frame`) and k+1 (`next`) of position 2k or 2k+1; rows of
// 2 * width bytes, no padding. `selected` holds the frame picked or woven.
// False if a table cannot be built or reads outside the frame.
inline bool ModelFrameRows(const uint8_t* frame, const uint8_t* next, int width, int height, uint32_t position,
                           int code, uint8_t* selected, uint8_t* out) {
  const bool odd = position & 1;
  const int rowBytes = 2 * width, bytes = rowBytes * height;
  // Position 2k: frame k. Position 2k+1: even rows of k+1, odd rows of k.
  for (int i = 0; i < bytes; ++i) selected[i] = (odd && (i / rowBytes) % 2 == 0 ? next : frame)[i];
  if (code == '2' || code == '6') code = odd ? '4' : '5';
  VerticalFilterTable table{};
  if (code == '3') BuildSmoothTable(height, table, 2 * width);
  if (code == '4' || code == '5') BuildLanczosTable(height / 2, height, table, 4 * width, code == '5' ? -0.4 : 0.4);
  if (code != '3' && code != '4' && code != '5') {
    for (int i = 0; i < bytes; ++i) out[i] = selected[i];
    return true;
  }
  bool inside = table.coeffs != nullptr;
  const int base = code == '4' ? rowBytes : 0;
  for (int r = 0; r < height && inside; ++r) {
    for (int x = 0; x < rowBytes && inside; ++x) {
      int acc = 0;
      for (int j = 0; j < table.taps; ++j) {
        const int q = static_cast<int16_t>(table.coeffs[r * table.taps + j] & 0xFFFF);
        const int64_t at = base + static_cast<int64_t>(table.offsets[r * table.taps + j]) + x;
        inside = inside && at >= 0 && at < bytes;
        const int p = inside ? (selected[at] * 128 * q) >> 16 : 0;  // floor(b * q / 512)
        acc = acc + p > 32767 ? 32767 : acc + p < -32768 ? -32768 : acc + p;
      }
      out[r * rowBytes + x] = static_cast<uint8_t>(acc < 0 ? 0 : acc >> 6 > 255 ? 255 : acc >> 6);
    }
  }
  FreeTable(table);
  return inside;
}

}  // namespace testing_support

#if !defined(ZEMIVTC_FRAME_MODEL_PLAIN)
#include <stdexcept>
#include <vector>

namespace testing_support {

typedef std::vector<uint8_t> Picture;  // rows of 2 * width bytes, no padding

// The same for source frames as pictures (frame numbers past either end
// clamped, as hosts' sources do). Throws std::logic_error if a table cannot
// be built or reads outside the frame.
inline Picture ModelFrame(const std::vector<Picture>& source, int width, int height, uint32_t position, int code) {
  const int64_t k = position / 2, last = static_cast<int64_t>(source.size()) - 1;
  Picture selected(static_cast<size_t>(2) * width * height), out(selected.size());
  if (!ModelFrameRows(source[k < last ? k : last].data(), source[k + 1 < last ? k + 1 : last].data(), width, height,
                      position, code, selected.data(), out.data()))
    throw std::logic_error("model table not built, or a tap outside the frame");
  return out;
}

}  // namespace testing_support
#endif

#endif
