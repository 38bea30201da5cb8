// When each output frame starts and how long it lasts. An output frame made
// at field position p starts at p field periods (1001/60000 s each), except
// in stretches of telecined film, whose frames get the film's own even
// times: the command's timecodes file and the hosts' per-frame durations are
// made here, so they agree to the nanosecond.
//
// Built into the Windows modules too: no C or C++ library here. 64-bit
// division is used (on 32-bit x86 through the compiler's helpers).
#ifndef ZEMIVTC_PLAN_FRAME_TIMES_H
#define ZEMIVTC_PLAN_FRAME_TIMES_H

#include <stdint.h>

#include "plan/frame_plan.h"

// A time in field periods: numerator / denominator, both >= 0, denominator
// >= 1 (not necessarily in lowest terms).
struct FrameTime {
  int64_t numerator;
  int64_t denominator;
};

// The start of every frame of a frame table, into times[0 .. frameCount).
// Frames that repeat a film cadence (4 in 10 positions, 5 in 12, 12 in 25)
// for two cycles or more lie on one line at the cadence's rate, fitted to
// their positions over whole cycles, where that keeps every one within a
// field of its position; a frame the line would put before 0 or not after
// the frame before it keeps its position's time. Times start at 0 or later
// and rise strictly.
void FrameTimes(const FramePlanEntry* frameTable, int32_t frameCount, FrameTime* times);

// Where a frame that starts at `start` ends when no frame follows it: one
// field period later at a video or progressive pace, and as far again as the
// frame before it lasted in film (`previous`: the start of the frame before
// it, null when there is none). Later than `start`.
FrameTime LastFrameEnd(const FrameTime& start, const FrameTime* previous);

// `to` - `from` (to later than from) in seconds, as a fraction in lowest
// terms: *numerator / *denominator. False where it does not fit in 63 bits.
bool DurationSeconds(const FrameTime& from, const FrameTime& to, int64_t* numerator, int64_t* denominator);

// The greatest common divisor (0 and 0 give 0), for rates and durations in
// lowest terms.
uint64_t GreatestCommonDivisor(uint64_t a, uint64_t b);

// The timecode line of a time: milliseconds with six decimals (the time
// rounded to the nanosecond) and a line break, as mkvmerge's "timecode format
// v2" reads it. Writes at most 32 bytes and a terminating zero; returns the
// length.
int32_t FormatTimecodeLine(const FrameTime& time, char* line);

// The first line of a timecodes file.
constexpr const char* TimecodesHeader = "# timecode format v2\n";

#endif
