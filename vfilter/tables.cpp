// Builders of the vertical filter tables. All floating-point work of the
// filter happens here, once per clip geometry; the kernel only reads the
// integer results.
#include <stdint.h>

#include "platform/crt.h"
#include "vfilter/sine.h"
#include "vfilter/vertical_filter.h"

namespace {

constexpr int32_t kLanczosTaps = 6;
constexpr int32_t kSmoothTaps = 3;
constexpr double kUnit = 32767.0;  // fixed-point 1.0 of a weight
// The doubles that define the coefficients, spelled out so that no library
// constant or compile-time folding can move a result by one unit.
constexpr double kPi = 3.141592653589793;
constexpr double kPiOver3 = 1.0471975511965976;
constexpr double kPiSquaredOver3 = 3.2898681336964524;
constexpr double kZeroDistance = 2.220446049250313e-16;  // 2^-52

// One signed 16-bit weight in each of the four lanes of a word.
CoefficientWord ReplicateWeight(int32_t weight) {
  const uint64_t lane = static_cast<uint16_t>(weight);
  return lane * 0x0001000100010001ULL;
}

double Magnitude(double x) { return x < 0.0 ? -x : x; }

// Lanczos window of order 3 at distance m from the sampling point.
double LanczosWeight(double m) {
  if (Magnitude(m) < kZeroDistance) return 1.0;
  if (Magnitude(m) >= 3.0) return 0.0;
  return TableSine(kPi * m) * TableSine(m * kPiOver3) / ((m * m) * kPiSquaredOver3);
}

void ClearTable(VerticalFilterTable& table) {
  table.rows = 0;
  table.coeffs = nullptr;
  table.offsets = nullptr;
  table.taps = 0;
}

// Allocates both arrays for rows x taps entries; on failure frees what it got
// and leaves the table cleared.
bool AllocateTable(VerticalFilterTable& table, int32_t rows, int32_t taps) {
  ClearTable(table);
  const uint64_t entries = static_cast<uint64_t>(rows) * static_cast<uint64_t>(taps);
  if (entries > SIZE_MAX / sizeof(CoefficientWord)) return false;  // 32-bit address space
  table.coeffs = static_cast<CoefficientWord*>(malloc(entries * sizeof(CoefficientWord)));
  table.offsets = static_cast<int32_t*>(malloc(entries * sizeof(int32_t)));
  if (table.coeffs == nullptr || table.offsets == nullptr) {
    FreeTable(table);
    return false;
  }
  table.rows = rows;
  table.taps = taps;
  return true;
}

// Byte offsets are 32-bit: a geometry whose last row does not fit has no table.
bool OffsetsFit(int32_t sourceRows, int32_t rowStep) {
  const int64_t last = static_cast<int64_t>(sourceRows - 1) * rowStep;
  return last >= INT32_MIN && last <= INT32_MAX;
}

int32_t ClampedOffset(int32_t row, int32_t sourceRows, int32_t rowStep) {
  if (row < 0) return 0;
  if (row >= sourceRows) return (sourceRows - 1) * rowStep;
  return row * rowStep;
}

}  // namespace

void BuildLanczosTable(int32_t sourceRows, int32_t outputRows, VerticalFilterTable& table, int32_t rowStep,
                       double shift) {
  ClearTable(table);
  if (sourceRows < 1 || outputRows < 1 || !OffsetsFit(sourceRows, rowStep)) return;
  if (!AllocateTable(table, outputRows, kLanczosTaps)) return;

  const double r = 1.0 / outputRows;
  double weights[kLanczosTaps];
  for (int32_t i = 0; i < outputRows; ++i) {
    const double c = ((i + 0.5) * sourceRows) * r;
    const int32_t first = TableFloor(c - 2.5);
    const double d = (first + 0.5) - c;
    int32_t* offsets = table.offsets + static_cast<size_t>(i) * kLanczosTaps;
    CoefficientWord* coeffs = table.coeffs + static_cast<size_t>(i) * kLanczosTaps;
    double sum = 0.0;
    for (int32_t j = 0; j < kLanczosTaps; ++j) {
      // The clamp moves only the row read; the weight keeps the true distance.
      offsets[j] = ClampedOffset(first + j, sourceRows, rowStep);
      weights[j] = LanczosWeight(shift + (d + j));
      sum = sum + weights[j];
    }
    const double inv = 1.0 / sum;
    for (int32_t j = 0; j < kLanczosTaps; ++j) {
      const double scaled = (inv * weights[j]) * kUnit;
      coeffs[j] = ReplicateWeight(static_cast<int32_t>(scaled));  // truncates toward zero
    }
  }
}

void BuildSmoothTable(int32_t rows, VerticalFilterTable& table, int32_t rowStep) {
  ClearTable(table);
  if (rows < 1 || !OffsetsFit(rows, rowStep)) return;
  if (!AllocateTable(table, rows, kSmoothTaps)) return;

  // 8192 + 16383 + 8192 = 32767, the same unit as the Lanczos rows.
  const CoefficientWord quarter = ReplicateWeight(8192);
  const CoefficientWord half = ReplicateWeight(16383);
  for (int32_t r = 0; r < rows; ++r) {
    // Missing neighbours above the first and below the last row repeat it.
    int32_t* offsets = table.offsets + static_cast<size_t>(r) * kSmoothTaps;
    offsets[0] = ClampedOffset(r - 1, rows, rowStep);
    offsets[1] = ClampedOffset(r, rows, rowStep);
    offsets[2] = ClampedOffset(r + 1, rows, rowStep);
    CoefficientWord* coeffs = table.coeffs + static_cast<size_t>(r) * kSmoothTaps;
    coeffs[0] = quarter;
    coeffs[1] = half;
    coeffs[2] = quarter;
  }
}

void FreeTable(VerticalFilterTable& table) {
  free(table.coeffs);
  free(table.offsets);
  ClearTable(table);
}
