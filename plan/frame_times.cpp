#include "plan/frame_times.h"

namespace {

// Film cadences as output frames per field positions: 3:2, 2:3:3:2 and
// 2:2:2:4 (24 frames in 60 fields), 3:2:3:2:2 (25 in 60), 24 frames in 50
// fields (eleven 2s and a 3).
struct FilmCadence {
  int32_t frames, positions;
};
constexpr FilmCadence FilmCadences[] = {{4, 10}, {5, 12}, {12, 25}};

// Frames [begin, begin + count) repeat `c`: every frame lies c.positions
// after the frame c.frames before it. Returns how many frames from `begin` do.
int32_t PeriodicRun(const FramePlanEntry* table, int32_t count, int32_t begin, const FilmCadence& c) {
  int32_t i = begin;
  while (i + c.frames < count && table[i + c.frames].position == table[i].position + c.positions) ++i;
  return i == begin ? 0 : i - begin + c.frames;
}

// a * b for a, b >= 0 as two 64-bit halves, from 32-bit pieces, so that
// 32-bit targets need no 128-bit arithmetic.
struct Wide {
  uint64_t high, low;
};
Wide Multiply(uint64_t a, uint64_t b) {
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t low = a0 * b0, mid1 = a1 * b0, mid2 = a0 * b1;
  const uint64_t carry = ((low >> 32) + (mid1 & 0xFFFFFFFFu) + (mid2 & 0xFFFFFFFFu)) >> 32;
  return Wide{a1 * b1 + (mid1 >> 32) + (mid2 >> 32) + carry, a * b};
}
bool NotAbove(const Wide& x, const Wide& y) { return x.high != y.high ? x.high < y.high : x.low <= y.low; }

// a/b <= c/d for times >= 0.
bool NotLater(const FrameTime& x, const FrameTime& y) {
  return NotAbove(Multiply(static_cast<uint64_t>(x.numerator), static_cast<uint64_t>(y.denominator)),
                  Multiply(static_cast<uint64_t>(y.numerator), static_cast<uint64_t>(x.denominator)));
}

// a * b, false when it does not fit in 63 bits.
bool MultiplyFits(uint64_t a, uint64_t b, uint64_t* product) {
  const Wide w = Multiply(a, b);
  *product = w.low;
  return w.high == 0 && (w.low >> 63) == 0;
}

// Writes the decimal digits of v, at least `minDigits` of them, at `out`;
// returns how many.
int32_t Digits(uint64_t v, int32_t minDigits, char* out) {
  char reversed[24];
  int32_t n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 || n < minDigits);
  for (int32_t i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
  return n;
}

}  // namespace

void FrameTimes(const FramePlanEntry* table, int32_t count, FrameTime* times) {
  for (int32_t j = 0; j < count; ++j) times[j] = FrameTime{table[j].position, 1};
  // Every frame starts at its position, but in telecined film, where frames
  // stand for 2 and 3 fields in turn, that would show them for uneven spans
  // (the judder the telecine put in). There the frames get the film's own
  // even times: a line through their positions with the cadence's slope,
  // placed at their mean over whole cycles, used where it stays within a
  // field of every position. Positions are below 2^24 and runs below 2^23
  // frames, so every sum here stays within 63 bits.
  for (int32_t j = 0; j < count;) {
    int32_t best = 0;
    const FilmCadence* cadence = nullptr;
    for (const FilmCadence& c : FilmCadences) {
      const int32_t run = PeriodicRun(table, count, j, c);
      if (run >= 2 * c.frames && run > best) {
        best = run;
        cadence = &c;
      }
    }
    if (!cadence) {
      ++j;
      continue;
    }
    const int64_t n = cadence->frames, period = cadence->positions;
    const int64_t whole = best / n * n;  // frames in whole cycles
    int64_t sum = 0;                     // of n * (p_m - (m - j) * period / n)
    for (int64_t m = 0; m < whole; ++m) sum += n * table[j + m].position - m * period;
    const int64_t denominator = n * whole;
    bool near = true;
    for (int64_t m = 0; m < best && near; ++m) {
      const int64_t off = sum + m * period * whole - static_cast<int64_t>(table[j + m].position) * denominator;
      near = off < denominator && -off < denominator;
    }
    for (int64_t m = 0; near && m < best; ++m) times[j + m] = FrameTime{sum + m * period * whole, denominator};
    j += best;
  }
  // A line may put a stretch's first frame before the clip's start, or at or
  // before the last frame of a stretch just before it; that frame keeps its
  // position's time, which lies after every earlier frame's (each within a
  // field of its own earlier position), so times start at 0 and rise.
  for (int32_t j = 0; j < count; ++j) {
    const bool early = times[j].numerator < 0 || (j > 0 && NotLater(times[j], times[j - 1]));
    if (early) times[j] = FrameTime{table[j].position, 1};
  }
}

FrameTime LastFrameEnd(const FrameTime& start, const FrameTime* previous) {
  if (!previous) return FrameTime{start.numerator + start.denominator, start.denominator};
  if (previous->denominator == start.denominator)
    return FrameTime{2 * start.numerator - previous->numerator, start.denominator};
  // Positions' times (denominator 1) meet a film line's: one field period.
  return FrameTime{start.numerator + start.denominator, start.denominator};
}

bool DurationSeconds(const FrameTime& from, const FrameTime& to, int64_t* numerator, int64_t* denominator) {
  // (to - from) * 1001 / 60000 s, on whole and fractional parts so that the
  // products stay small: t = q + r / d.
  const uint64_t d1 = static_cast<uint64_t>(from.denominator), d2 = static_cast<uint64_t>(to.denominator);
  const uint64_t q1 = static_cast<uint64_t>(from.numerator) / d1, r1 = static_cast<uint64_t>(from.numerator) % d1;
  const uint64_t q2 = static_cast<uint64_t>(to.numerator) / d2, r2 = static_cast<uint64_t>(to.numerator) % d2;
  const uint64_t g = GreatestCommonDivisor(d1, d2);
  const uint64_t l1 = d2 / g, l2 = d1 / g;  // d1 * l1 = d2 * l2 = lcm
  uint64_t lcm, whole, a, b;
  if (!MultiplyFits(d1, l1, &lcm) || !MultiplyFits(q2 - q1, lcm, &whole) || !MultiplyFits(r2, l2, &b) ||
      !MultiplyFits(r1, l1, &a))
    return false;
  uint64_t num = whole + b - a;  // in 1/lcm field periods; > 0 as to is later
  uint64_t den = lcm;
  // Times 1001/60000, reduced crosswise first.
  uint64_t f = 1001, s = 60000;
  uint64_t c = GreatestCommonDivisor(num, s);
  num /= c;
  s /= c;
  c = GreatestCommonDivisor(f, den);
  f /= c;
  den /= c;
  if (!MultiplyFits(num, f, &num) || !MultiplyFits(den, s, &den)) return false;
  c = GreatestCommonDivisor(num, den);
  *numerator = static_cast<int64_t>(num / c);
  *denominator = static_cast<int64_t>(den / c);
  return true;
}

uint64_t GreatestCommonDivisor(uint64_t a, uint64_t b) {
  while (b != 0) {
    const uint64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

int32_t FormatTimecodeLine(const FrameTime& time, char* line) {
  // time * 1001/60 ms, rounded to the nanosecond: with time = q + r / d and
  // a = q * 1001e6, (a d + r 1001e6 + 30 d) / 60 d, rounded down, is
  // a / 60 plus (a % 60 d + r 1001e6 + 30 d) / 60 d, every term within 63
  // bits.
  const uint64_t d = static_cast<uint64_t>(time.denominator);
  const uint64_t q = static_cast<uint64_t>(time.numerator) / d, r = static_cast<uint64_t>(time.numerator) % d;
  const uint64_t a = q * 1001000000u;
  const uint64_t nanoseconds = a / 60 + ((a % 60) * d + r * 1001000000u + 30 * d) / (60 * d);
  int32_t n = Digits(nanoseconds / 1000000, 1, line);
  line[n++] = '.';
  n += Digits(nanoseconds % 1000000, 6, line + n);
  line[n++] = '\n';
  line[n] = '\0';
  return n;
}
