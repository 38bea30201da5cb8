// The clips and plans that the 32-bit Windows module is checked on, shared by
// the native reference renderer and the Windows interface host. Plain data
// and integer arithmetic only: both programs must draw the same pixels, and
// the Windows one is built without a C++ library.
#ifndef ZEMIVTC_TESTS_ABI_CASES_H
#define ZEMIVTC_TESTS_ABI_CASES_H

#include <stdint.h>

namespace abi {

// xorshift32: the same sequence on every compiler.
struct Xorshift {
  uint32_t state;
  uint8_t NextByte() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<uint8_t>(state >> 24);
  }
};

struct Case {
  int width, height, frames;
  int sourceOffset;   // row 0 of every source frame lies this far into its buffer (a cropped clip)
  int sourcePadding;  // source pitch = 2 * width + sourcePadding
  const char* plan;
};

// Every code at even and at odd positions, runs of each, a closing non-code,
// and requests that reach past the clip's last frame.
constexpr const char* EveryCode = "1212343456561111222233334444555566660";
// Codes after non-codes and bytes outside '0'..'6', which make no frame.
constexpr const char* Mixed =
    "0a1\n2x3 4\xff"
    "56\r\n0000616";

constexpr Case Cases[] = {
    {16, 8, 12, 64, 0, EveryCode},   {18, 7, 12, 64, 12, EveryCode}, {2, 5, 12, 4, 0, EveryCode},
    {3, 2, 12, 64, 2, EveryCode},    {38, 27, 10, 6, 40, EveryCode}, {720, 480, 12, 64, 64, EveryCode},
    {34, 481, 12, 2, 64, EveryCode}, {22, 9, 9, 64, 10, Mixed},
};
constexpr int CaseCount = sizeof(Cases) / sizeof(Cases[0]);

// Byte x of row y of source frame f of case c: the visible bytes from one
// stream per case, the padding a fixed value the filter must never show.
inline void DrawSourceFrame(const Case& c, Xorshift& rng, uint8_t* row0, int pitch) {
  for (int y = 0; y < c.height; ++y) {
    uint8_t* row = row0 + y * pitch;
    for (int x = 0; x < pitch; ++x) row[x] = x < 2 * c.width ? rng.NextByte() : 0xEE;
  }
}
inline uint32_t CaseSeed(int index) { return 2463534242u + static_cast<uint32_t>(index); }

// Audio and parity the filter must pass through unchanged.
inline bool SourceParity(int n) { return (n * 7 + 3) % 5 < 2; }
inline uint8_t AudioByte(int64_t i) { return static_cast<uint8_t>((i * 131 + 17) & 0xFF); }

}  // namespace abi

#endif
