// Double-double arithmetic (pairs hi + lo carrying about 106 bits) without
// fused multiply-add, so that every step is exact IEEE double arithmetic and
// gives the same bits on every compiler and processor. The table builder's
// flags (-ffp-contract=off, SSE2 doubles on 32-bit x86) apply to this file too.
#include "vfilter/sine.h"

namespace {

struct DoubleDouble {
  double hi, lo;
};

// a + b exactly, as a rounded sum and its error.
DoubleDouble TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  const double err = (a - (s - bb)) + (b - bb);
  return DoubleDouble{s, err};
}

// a + b exactly, when |a| >= |b|.
DoubleDouble QuickTwoSum(double a, double b) {
  const double s = a + b;
  return DoubleDouble{s, b - (s - a)};
}

// Veltkamp's split: a = hi + lo, each with at most 26 significant bits, so
// products of halves are exact.
DoubleDouble Split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return DoubleDouble{hi, a - hi};
}

// a * b exactly (Dekker).
DoubleDouble TwoProduct(double a, double b) {
  const double p = a * b;
  const DoubleDouble x = Split(a);
  const DoubleDouble y = Split(b);
  const double err = ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
  return DoubleDouble{p, err};
}

DoubleDouble Add(DoubleDouble a, DoubleDouble b) {
  DoubleDouble s = TwoSum(a.hi, b.hi);
  const DoubleDouble t = TwoSum(a.lo, b.lo);
  s.lo += t.hi;
  s = QuickTwoSum(s.hi, s.lo);
  s.lo += t.lo;
  return QuickTwoSum(s.hi, s.lo);
}

DoubleDouble Multiply(DoubleDouble a, DoubleDouble b) {
  DoubleDouble p = TwoProduct(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return QuickTwoSum(p.hi, p.lo);
}

// a / b for a small whole number b.
DoubleDouble Divide(DoubleDouble a, double b) {
  const double q1 = a.hi / b;
  const DoubleDouble p = TwoProduct(q1, b);
  const DoubleDouble r = TwoSum(a.hi, -p.hi);
  const double q2 = (r.hi + (r.lo - p.lo + a.lo)) / b;
  return QuickTwoSum(q1, q2);
}

// pi / 2 in three parts: 53 + 53 + 53 bits, far more than any argument up to
// 2^20 loses to cancellation.
constexpr double kHalfPi0 = 1.5707963267948966;
constexpr double kHalfPi1 = 6.123233995736766e-17;
constexpr double kHalfPi2 = -1.4973849048591698e-33;
constexpr double kTwoOverPi = 0.6366197723675814;

// sin(r) (odd = true) or cos(r) for |r| <= pi/4 + a little, by the Taylor
// series, until a term no longer changes the sum's low word.
DoubleDouble Series(DoubleDouble r, bool odd) {
  const DoubleDouble r2 = Multiply(r, r);
  DoubleDouble term = odd ? r : DoubleDouble{1.0, 0.0};
  DoubleDouble sum = term;
  for (int n = odd ? 1 : 0; n < 60; n += 2) {
    term = Divide(Multiply(term, r2), static_cast<double>((n + 1) * (n + 2)));
    term.hi = -term.hi;
    term.lo = -term.lo;
    const DoubleDouble next = Add(sum, term);
    if (next.hi == sum.hi && next.lo == sum.lo) break;
    sum = next;
  }
  return sum;
}

}  // namespace

int TableFloor(double x) {
  const int i = static_cast<int>(x);  // truncates toward zero
  return static_cast<double>(i) > x ? i - 1 : i;
}

double TableSine(double x) {
  const double limit = 1048576.0;  // 2^20
  if (!(x >= -limit && x <= limit)) return 0.0;
  if (x == 0.0) return x;
  // x = k * pi/2 + r, r in double-double.
  const int k = TableFloor(x * kTwoOverPi + 0.5);
  const double kd = static_cast<double>(k);
  DoubleDouble r = TwoSum(x, 0.0);
  const DoubleDouble p0 = TwoProduct(kd, kHalfPi0);
  r = Add(r, DoubleDouble{-p0.hi, -p0.lo});
  const DoubleDouble p1 = TwoProduct(kd, kHalfPi1);
  r = Add(r, DoubleDouble{-p1.hi, -p1.lo});
  r = Add(r, DoubleDouble{-(kd * kHalfPi2), 0.0});
  // sin(x) by the quadrant: sin r, cos r, -sin r, -cos r.
  const int quadrant = k & 3;
  DoubleDouble s = Series(r, (quadrant & 1) == 0);
  if (quadrant >= 2) {
    s.hi = -s.hi;
    s.lo = -s.lo;
  }
  return s.hi + s.lo;
}
