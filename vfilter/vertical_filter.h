// Vertical filter tables and the fixed-point kernel that applies them.
//
// A table lists, for every output row, `taps` source byte offsets (from one
// source base, edge clamping already applied) and `taps` coefficient words.
// A coefficient word holds one signed 16-bit weight (32767 = 1.0) in each of
// its four 16-bit lanes.
#ifndef ZEMIVTC_VFILTER_VERTICAL_FILTER_H
#define ZEMIVTC_VFILTER_VERTICAL_FILTER_H

#include <stdint.h>

typedef uint64_t CoefficientWord;

struct VerticalFilterTable {
  int32_t rows;             // output rows described
  CoefficientWord* coeffs;  // rows * taps words, row-major
  int32_t* offsets;         // rows * taps byte offsets from the source base
  int32_t taps;             // taps per output row
};

// Lanczos-3 rebuild of sourceRows rows (rowStep bytes apart) to outputRows
// rows, sampling at centre - shift. Allocates coeffs and offsets with malloc;
// both are null (and rows and taps 0) if memory runs out, if sourceRows or
// outputRows is below 1, or if the last row's byte offset does not fit in 32
// bits.
void BuildLanczosTable(int32_t sourceRows, int32_t outputRows, VerticalFilterTable& table, int32_t rowStep,
                       double shift);
// 1/4, 1/2, 1/4 smoothing over rows rows, rowStep bytes apart; the missing
// neighbours of the first and last rows repeat those rows (a single row reads
// itself three times). Empty (as above) for rows below 1, an offset beyond 32
// bits or no memory.
void BuildSmoothTable(int32_t rows, VerticalFilterTable& table, int32_t rowStep);
// Frees both arrays and clears the table.
void FreeTable(VerticalFilterTable& table);

// Filters `rows` output rows of 2 * width bytes each. Output row r, byte x, is
// the saturating fixed-point sum over the row's taps of the byte at
// src + offsets[r * taps + j] + x; it is written at dst + r * dstStride + x.
// Reads only the 2 * width bytes at each tap's offset; writes only the
// 2 * width bytes of each output row. Any width >= 1, rows >= 0, taps >= 1.
typedef void (*VerticalFilterFn)(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                                 const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);

// The kernel chosen once for this processor (AVX2, SSE2 or scalar).
void VerticalFilterKernel(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                          const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);

// The same filter on rows of `rowBytes` bytes, any count (an odd one too: a
// plane of 4:2:0 chroma); VerticalFilterKernel is this with 2 * width.
// Offsets and dstStride may be negative (the rows of a frame turned over).
// Reads only the rowBytes bytes at each tap's offset; writes only the
// rowBytes bytes of each output row. Nothing happens for rowBytes, rows or
// taps below 1.
typedef void (*VerticalFilterBytesFn)(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                                      const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);
void VerticalFilterBytes(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                         const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);

// Every implementation, for tests and benchmarks. All of them read and write
// exactly the bytes described above: the bytes past the last whole vector
// step are done one at a time, never by a wider load or store. Nothing
// happens for width, rows or taps below 1. A null entry is one this
// build or processor does not have.
void VerticalFilterKernelScalar(const uint8_t* src, uint8_t* dst, int32_t width, int32_t rows, int32_t taps,
                                const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);
void VerticalFilterBytesScalar(const uint8_t* src, uint8_t* dst, int32_t rowBytes, int32_t rows, int32_t taps,
                               const int32_t* offsets, const CoefficientWord* coeffs, int32_t dstStride);
enum class KernelIsa { Scalar, Sse2, Avx2 };
VerticalFilterFn KernelFor(KernelIsa isa);            // null where unsupported
VerticalFilterBytesFn BytesKernelFor(KernelIsa isa);  // null where unsupported
const char* KernelName(KernelIsa isa);
KernelIsa SelectedKernelIsa();

#endif
