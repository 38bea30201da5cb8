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

namespace {

// Horner's rule in plain doubles, for the small tail of a series.
template <int N>
double Polynomial(double z, const double (&c)[N]) {
  double p = c[N - 1];
  for (int i = N - 2; i >= 0; --i) p = p * z + c[i];
  return p;
}

// The series of sin r and cos r past their first terms, z = r * r: the
// coefficients of z^0, z^1, ... of (sin r - r + r^3/6 - r^5/120) / (r z^3)
// and of (cos r - 1 + z/2 - z^2/24) / z^3, up to the term that still moves
// the 66th bit.
constexpr double kSineTail[8] = {-0.0001984126984126984, 2.7557319223985893e-06, -2.505210838544172e-08,
                                 1.6059043836821613e-10, -7.647163731819816e-13, 2.8114572543455206e-15,
                                 -8.22063524662433e-18,  1.9572941063391263e-20};
constexpr double kCosineTail[9] = {-0.001388888888888889,   2.48015873015873e-05,    -2.755731922398589e-07,
                                   2.08767569878681e-09,    -1.1470745597729725e-11, 4.779477332387385e-14,
                                   -1.5619206968586225e-16, 4.110317623312165e-19,   -8.896791392450574e-22};
constexpr DoubleDouble kMinusSixth = {-0.16666666666666666, -9.25185853854297e-18};
constexpr DoubleDouble kOneHundredTwentieth = {0.008333333333333333, 1.1564823173178714e-19};
constexpr DoubleDouble kOneTwentyFourth = {0.041666666666666664, 2.3129646346357427e-18};

// sin r or cos r with the leading terms in double-double and the tail in
// doubles: off from the true value by less than 2^-65 of it.
DoubleDouble QuickSeries(DoubleDouble r, bool odd) {
  const DoubleDouble z = Multiply(r, r);
  if (odd) {
    // r + r z (-1/6 + z (1/120 + z tail))
    const DoubleDouble inner = Add(kOneHundredTwentieth, DoubleDouble{z.hi * Polynomial(z.hi, kSineTail), 0.0});
    const DoubleDouble u = Multiply(z, Add(kMinusSixth, Multiply(z, inner)));
    return Add(r, Multiply(r, u));
  }
  // 1 + z (-1/2 + z (1/24 + z tail))
  const DoubleDouble inner = Add(kOneTwentyFourth, DoubleDouble{z.hi * Polynomial(z.hi, kCosineTail), 0.0});
  const DoubleDouble v = Multiply(z, Add(DoubleDouble{-0.5, 0.0}, Multiply(z, inner)));
  return Add(DoubleDouble{1.0, 0.0}, v);
}

}  // namespace

namespace {

// x = k pi/2 + r with r in double-double, |r| <= pi/4 and a little; the
// quadrant k mod 4 picks sin r, cos r, -sin r or -cos r.
struct Reduced {
  DoubleDouble r;
  int quadrant;
};

Reduced Reduce(double x) {
  const int k = TableFloor(x * kTwoOverPi + 0.5);
  const double kd = static_cast<double>(k);
  DoubleDouble r = TwoSum(x, 0.0);
  const DoubleDouble p0 = TwoProduct(kd, kHalfPi0);
  r = Add(r, DoubleDouble{-p0.hi, -p0.lo});
  const DoubleDouble p1 = TwoProduct(kd, kHalfPi1);
  r = Add(r, DoubleDouble{-p1.hi, -p1.lo});
  r = Add(r, DoubleDouble{-(kd * kHalfPi2), 0.0});
  return Reduced{r, k & 3};
}

bool InRange(double x) {
  const double limit = 1048576.0;  // 2^20
  return x >= -limit && x <= limit;
}

double Signed(DoubleDouble s, int quadrant) { return quadrant >= 2 ? -(s.hi + s.lo) : s.hi + s.lo; }

}  // namespace

double TableSine(double x) {
  if (!InRange(x)) return 0.0;
  if (x == 0.0) return x;
  const Reduced reduced = Reduce(x);
  const bool odd = (reduced.quadrant & 1) == 0;
  DoubleDouble s = QuickSeries(reduced.r, odd);
  // The quick value decides the rounding unless the true value may lie on
  // the other side of a rounding boundary (Ziv's test, with a margin of
  // 2^-62 against an error below 2^-65); then the full series decides.
  const double margin = (s.hi < 0 ? -s.hi : s.hi) * 2.168404344971009e-19;  // 2^-62
  if (s.hi + (s.lo + margin) != s.hi + (s.lo - margin)) s = Series(reduced.r, odd);
  return Signed(s, reduced.quadrant);
}

double TableSineBySeries(double x) {
  if (!InRange(x)) return 0.0;
  if (x == 0.0) return x;
  const Reduced reduced = Reduce(x);
  return Signed(Series(reduced.r, (reduced.quadrant & 1) == 0), reduced.quadrant);
}
