// A plain model of what the filter makes of one plan entry: the weave, the
// tables and the fixed-point sum written out the slow way, byte by byte.
// Shared by the module tests and the plan fuzzer.
#ifndef ZEMIVTC_TESTS_FRAME_MODEL_H
#define ZEMIVTC_TESTS_FRAME_MODEL_H

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "vfilter/vertical_filter.h"

namespace testing_support {

typedef std::vector<uint8_t> Picture;  // rows of 2 * width bytes, no padding

// The frame the plan byte `code` at `position` makes from the source frames
// (frame numbers past either end clamped, as hosts' sources do). Throws
// std::logic_error if a table cannot be built or reads outside the frame.
inline Picture ModelFrame(const std::vector<Picture>& source, int width, int height, uint32_t position, int code) {
  const int64_t last = static_cast<int64_t>(source.size()) - 1;
  auto frame = [&](int64_t k) -> const Picture& { return source[std::min(std::max<int64_t>(k, 0), last)]; };
  const int64_t k = position / 2;
  const bool odd = position & 1;
  const size_t rowBytes = static_cast<size_t>(2) * width;

  // Position 2k: frame k. Position 2k+1: even rows of k+1, odd rows of k.
  Picture selected = frame(k);
  if (odd) {
    for (int y = 0; y < height; ++y) {
      const Picture& from = (y % 2 == 0) ? frame(k + 1) : frame(k);
      std::copy(from.begin() + y * rowBytes, from.begin() + (y + 1) * rowBytes, selected.begin() + y * rowBytes);
    }
  }
  if (code == '2' || code == '6') code = odd ? '4' : '5';
  if (code != '3' && code != '4' && code != '5') return selected;

  VerticalFilterTable table{};
  if (code == '3')
    BuildSmoothTable(height, table, 2 * width);
  else
    BuildLanczosTable(height / 2, height, table, 4 * width, code == '5' ? -0.4 : 0.4);
  if (!table.coeffs) throw std::logic_error("model table not built");
  const size_t base = code == '4' ? rowBytes : 0;
  Picture out(selected.size());
  for (int r = 0; r < height; ++r) {
    for (size_t x = 0; x < rowBytes; ++x) {
      int acc = 0;
      for (int j = 0; j < table.taps; ++j) {
        const int q = static_cast<int16_t>(table.coeffs[r * table.taps + j] & 0xFFFF);
        const size_t at = base + static_cast<size_t>(table.offsets[r * table.taps + j]) + x;
        if (at >= selected.size()) {
          FreeTable(table);
          throw std::logic_error("model tap outside the frame");
        }
        const int p = (selected[at] * 128 * q) >> 16;  // floor(b * q / 512)
        acc = std::min(32767, std::max(-32768, acc + p));
      }
      out[r * rowBytes + x] = static_cast<uint8_t>(std::min(255, std::max(0, acc >> 6)));
    }
  }
  FreeTable(table);
  return out;
}

}  // namespace testing_support

#endif
