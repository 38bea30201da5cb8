#include "cli/timeline.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "stream/png.h"

namespace cli {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

constexpr int MarkRows = 5, DecisionRows = 18, StretchRows = 7, GapRows = 5;
constexpr int StripRows = MarkRows + DecisionRows + StretchRows;

Rgb DecisionColour(const analysis::Decision& d) {
  if (d.orphan) return {0xE0, 0x3C, 0x31};
  switch (d.code) {
    case '1': return {0x2E, 0xA0, 0x43};
    case '2': return {0x3A, 0x6E, 0xD8};
    case '0': return {0xD9, 0xD9, 0xD9};
    default: return {0x00, 0x00, 0x00};
  }
}

Rgb StretchColour(const analysis::Decision& d) {
  switch (d.stretch) {
    case analysis::Stretch::Progressive: return {0x8E, 0x5B, 0xB5};
    case analysis::Stretch::Video: return {0x1C, 0x33, 0x7A};
    case analysis::Stretch::Film: break;
  }
  return d.cadence < 0 ? Rgb{0xA0, 0x6A, 0x2C} : Rgb{0x7A, 0x7A, 0x2E};
}

}  // namespace

std::string TimelinePng(const analysis::Proposal& proposal) {
  const int count = std::max(1, static_cast<int>(proposal.positions.size()));
  const int strips = (count + StripPositions - 1) / StripPositions;
  const int width = std::min(count, StripPositions);
  const int height = strips * StripRows + (strips - 1) * GapRows;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 0xFF);
  auto put = [&](int x, int y, Rgb c) {
    uint8_t* px = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    px[0] = c.r;
    px[1] = c.g;
    px[2] = c.b;
  };
  for (int p = 0; p < static_cast<int>(proposal.positions.size()); ++p) {
    const analysis::Decision& d = proposal.positions[p];
    const int x = p % StripPositions, top = (p / StripPositions) * (StripRows + GapRows);
    if (d.cadenceBreak)
      for (int y = 0; y < MarkRows; ++y) put(x, top + y, {0, 0, 0});
    else if (p % 100 == 0)
      for (int y = MarkRows - 2; y < MarkRows; ++y) put(x, top + y, {0x99, 0x99, 0x99});
    for (int y = 0; y < DecisionRows; ++y) put(x, top + MarkRows + y, DecisionColour(d));
    for (int y = 0; y < StretchRows; ++y) put(x, top + MarkRows + DecisionRows + y, StretchColour(d));
  }
  return stream::EncodePng(width, height, rgb);
}

}  // namespace cli
