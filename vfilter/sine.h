// The sine the filter tables are built with. The tables must be the same
// bytes on every platform, and the C libraries' sines differ by a unit in the
// last place here and there, so the builder carries its own: correctly
// rounded for the arguments the tables use.
#ifndef ZEMIVTC_VFILTER_SINE_H
#define ZEMIVTC_VFILTER_SINE_H

// sin(x), rounded to the nearest double. Exact-to-the-last-bit for
// |x| <= 2^20 (the tables need |x| < 10); larger arguments give 0.
double TableSine(double x);

// floor(x) as an integer, for |x| < 2^31.
int TableFloor(double x);

#endif
