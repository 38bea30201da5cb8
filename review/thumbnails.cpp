#include "review/thumbnails.h"

#include <algorithm>
#include <cstdlib>

namespace cli {
namespace {

// The weave's row y: even rows from the top field's frame, odd ones from
// the bottom field's.
const uint8_t* WeaveRow(const PackedFrame& top, const PackedFrame& bottom, int y) {
  return (y % 2 == 0 ? top : bottom).data + y * (y % 2 == 0 ? top.pitch : bottom.pitch);
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(std::min(255.0, std::max(0.0, v + 0.5))); }

// Studio-range BT.601 to RGB.
void PutRgb(uint8_t* px, double y, double u, double v) {
  y = 1.164 * (y - 16);
  u -= 128;
  v -= 128;
  px[0] = Clamp(y + 1.596 * v);
  px[1] = Clamp(y - 0.392 * u - 0.813 * v);
  px[2] = Clamp(y + 2.017 * u);
}

}  // namespace

RgbPicture Thumbnail(const PackedFrame& top, const PackedFrame& bottom, FieldChoice fields, int thumbnailWidth) {
  const int width = top.width, height = top.height;
  if (height < 2) fields = FieldChoice::Both;
  // The source rows: all of the weave's, or every other one from `first`.
  const int first = fields == FieldChoice::Bottom ? 1 : 0, step = fields == FieldChoice::Both ? 1 : 2;
  const int rows = (height - first + step - 1) / step;
  RgbPicture out;
  out.width = std::max(1, std::min(thumbnailWidth, width));
  out.height = std::max(1, (height * out.width + width / 2) / width);
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  // The columns sampled for each thumbnail column: up to three, evenly
  // spread over the pixels it covers.
  std::vector<std::vector<int>> columns(out.width);
  for (int tx = 0; tx < out.width; ++tx) {
    const int x0 = tx * width / out.width, x1 = std::max(x0 + 1, (tx + 1) * width / out.width);
    for (int i = 0; i < std::min(3, x1 - x0); ++i) columns[tx].push_back(x0 + (2 * i + 1) * (x1 - x0) / 6);
  }
  std::vector<const uint8_t*> sampled;
  for (int ty = 0; ty < out.height; ++ty) {
    const int r0 = ty * rows / out.height, r1 = std::max(r0 + 1, (ty + 1) * rows / out.height);
    // Up to three rows; a weave's in pairs of neighbours, so that both of
    // its fields show (a weave of two moments shows both, ghosted).
    sampled.clear();
    if (fields == FieldChoice::Both && r1 - r0 >= 2) {
      for (int i = 0; i < std::min(2, (r1 - r0) / 2); ++i) {
        const int r = std::min(r1 - 2, r0 + (2 * i + 1) * (r1 - r0) / 4 / 2 * 2);
        sampled.push_back(WeaveRow(top, bottom, r));
        sampled.push_back(WeaveRow(top, bottom, r + 1));
      }
    } else {
      for (int i = 0; i < std::min(3, r1 - r0); ++i)
        sampled.push_back(WeaveRow(top, bottom, first + (r0 + (2 * i + 1) * (r1 - r0) / 6) * step));
    }
    for (int tx = 0; tx < out.width; ++tx) {
      int sy = 0, su = 0, sv = 0;
      for (const uint8_t* row : sampled)
        for (int x : columns[tx]) {
          sy += row[2 * x];
          su += row[4 * (x / 2) + 1];
          sv += row[4 * (x / 2) + 3];
        }
      const double n = static_cast<double>(sampled.size() * columns[tx].size());
      PutRgb(&out.rgb[(static_cast<size_t>(ty) * out.width + tx) * 3], sy / n, su / n, sv / n);
    }
  }
  return out;
}

RgbPicture FramePicture(const PackedFrame& frame) {
  RgbPicture out;
  out.width = frame.width;
  out.height = frame.height;
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  // The same conversion as PutRgb's in 16.16 fixed point: a full frame is
  // made while a key is held.
  constexpr int One = 1 << 16;
  auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 * One ? 255 : (v + One / 2) >> 16); };
  const int ky = static_cast<int>(1.164 * One + 0.5), kvr = static_cast<int>(1.596 * One + 0.5),
            kug = static_cast<int>(0.392 * One + 0.5), kvg = static_cast<int>(0.813 * One + 0.5),
            kub = static_cast<int>(2.017 * One + 0.5);
  for (int y = 0; y < frame.height; ++y) {
    const uint8_t* row = frame.data + y * frame.pitch;
    uint8_t* px = &out.rgb[static_cast<size_t>(y) * out.width * 3];
    for (int x = 0; x < frame.width; ++x, px += 3) {
      const int luma = ky * (row[2 * x] - 16), u = row[4 * (x / 2) + 1] - 128, v = row[4 * (x / 2) + 3] - 128;
      px[0] = clamp(luma + kvr * v);
      px[1] = clamp(luma - kug * u - kvg * v);
      px[2] = clamp(luma + kub * u);
    }
  }
  return out;
}

RgbPicture CloseUp(const PackedFrame& top, const PackedFrame& bottom) {
  const int width = top.width, height = top.height;
  const int cw = std::min(CloseUpWidth, width), ch = std::min(CloseUpHeight, height);
  // Comb per pixel: the row stands out from both rows around it, the same
  // way; taken at every other column of one row in four and summed in
  // blocks of Block x Block pixels, then over windows of the close-up's
  // size, a block apart.
  constexpr int Block = 8;
  const int blockCols = (width + Block - 1) / Block, blockRows = (height + Block - 1) / Block;
  std::vector<long> blocks(static_cast<size_t>(blockCols) * blockRows, 0);
  for (int y = 1; y + 1 < height; y += 4) {
    const uint8_t *up = WeaveRow(top, bottom, y - 1), *row = WeaveRow(top, bottom, y),
                  *down = WeaveRow(top, bottom, y + 1);
    long* sums = &blocks[static_cast<size_t>(y / Block) * blockCols];
    for (int x = 0; x < width; x += 2) {
      const int a = row[2 * x] - up[2 * x], b = row[2 * x] - down[2 * x];
      if ((a > 0 && b > 0) || (a < 0 && b < 0)) sums[x / Block] += std::min(std::abs(a), std::abs(b));
    }
  }
  // Sums of the blocks above and left of each corner, so that a window's
  // sum is four look-ups.
  std::vector<long> corner(static_cast<size_t>(blockCols + 1) * (blockRows + 1), 0);
  auto at = [&](int x, int y) -> long& { return corner[static_cast<size_t>(y) * (blockCols + 1) + x]; };
  for (int y = 0; y < blockRows; ++y)
    for (int x = 0; x < blockCols; ++x)
      at(x + 1, y + 1) = blocks[static_cast<size_t>(y) * blockCols + x] + at(x, y + 1) + at(x + 1, y) - at(x, y);
  const int windowCols = std::max(1, cw / Block), windowRows = std::max(1, ch / Block);
  int bestX = (width - cw) / 2, bestY = (height - ch) / 2 / 2 * 2;
  long best = 0;
  for (int by = 0; by + windowRows <= blockRows; ++by)
    for (int bx = 0; bx + windowCols <= blockCols; ++bx) {
      const long sum =
          at(bx + windowCols, by + windowRows) - at(bx, by + windowRows) - at(bx + windowCols, by) + at(bx, by);
      if (sum > best) {
        best = sum;
        bestX = std::min(bx * Block, width - cw);
        bestY = std::min(by * Block, (height - ch) / 2 * 2);
      }
    }
  RgbPicture out;
  out.width = 2 * cw;
  out.height = 2 * ch;
  out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y) {
    const uint8_t* row = WeaveRow(top, bottom, bestY + y / 2);
    for (int x = 0; x < out.width; ++x) {
      const int sx = bestX + x / 2;
      PutRgb(&out.rgb[(static_cast<size_t>(y) * out.width + x) * 3], row[2 * sx], row[4 * (sx / 2) + 1],
             row[4 * (sx / 2) + 3]);
    }
  }
  return out;
}

}  // namespace cli
