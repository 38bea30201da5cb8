// Writes the vertical filter tables for a range of sizes and shifts to a file,
// words and offsets as raw little-endian bytes. Built natively and for 32-bit
// Windows: the two files must be identical, which shows that the 32-bit
// build's double arithmetic (SSE2, no x87 extended precision, no contraction)
// gives the native coefficients.
//
//   table_dump OUTPUT
#include <cstdint>
#include <cstdio>
#include <string>

#include "vfilter/vertical_filter.h"

namespace {

void Append(std::string& out, const VerticalFilterTable& table) {
  const int32_t header[2] = {table.rows, table.taps};
  out.append(reinterpret_cast<const char*>(header), sizeof header);
  const size_t entries = static_cast<size_t>(table.rows) * table.taps;
  if (table.coeffs) out.append(reinterpret_cast<const char*>(table.coeffs), entries * sizeof(CoefficientWord));
  if (table.offsets) out.append(reinterpret_cast<const char*>(table.offsets), entries * sizeof(int32_t));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: table_dump OUTPUT\n");
    return 2;
  }
  std::string out;
  VerticalFilterTable table{};
  for (int32_t height = 1; height <= 1100; height += (height < 40 ? 1 : 37)) {
    BuildSmoothTable(height, table, 2 * 18);
    Append(out, table);
    FreeTable(table);
    for (double shift : {0.4, -0.4, 0.0, 0.25, -0.125}) {
      BuildLanczosTable(height / 2 > 0 ? height / 2 : 1, height, table, 4 * 18, shift);
      Append(out, table);
      FreeTable(table);
    }
  }
  FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "table_dump: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("table_dump: %lu bytes\n", static_cast<unsigned long>(out.size()));
  return 0;
}
