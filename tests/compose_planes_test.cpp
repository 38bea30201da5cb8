// The stages on planes cut every plane into one band per worker, 4:2:0
// chroma into bands of whole field pairs: with any number of workers, more
// than a plane has rows or units included, every format gives the bytes of
// one band on the caller's thread. (The bytes themselves are checked
// against the version-2 module's in cli_module_test.cpp.)
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "compose/planes.h"

namespace {

// A frame of `format` in one buffer, rows packed, every plane from its last
// row up when `turned`.
struct Buffer {
  std::vector<uint8_t> bytes;
  FramePlanes planes{};
  Buffer(FrameFormat format, int32_t width, int32_t height, bool turned, std::mt19937* fill) {
    size_t at = 0;
    for (int32_t p = 0; p < PlaneCount(format); ++p)
      at += PlaneRowBytes(format, p, width) * PlaneRows(format, p, height);
    bytes.resize(at);
    for (uint8_t& b : bytes) b = fill ? static_cast<uint8_t>((*fill)()) : 0xEE;
    at = 0;
    for (int32_t p = 0; p < PlaneCount(format); ++p) {
      planes.plane[p] = bytes.data() + at;
      planes.pitch[p] = PlaneRowBytes(format, p, width);
      at += PlaneRowBytes(format, p, width) * PlaneRows(format, p, height);
    }
    if (turned) planes = TurnedOver(planes, format, height);
  }
};

TEST(ComposePlanes, AnyNumberOfWorkersGivesTheOneBandBytes) {
  const int32_t width = 22, height = 8;  // 4:2:0 chroma: 11 bytes a row, 2 units of 4 frame rows
  FilterTables tables{};
  ASSERT_TRUE(BuildFilterTables(width, height, tables));
  std::mt19937 rng(1618);
  for (const FrameFormat format : {FormatYuy2, FormatYuv422, FormatYuv420, FormatLuma}) {
    const FrameFormat outputs[2] = {format, format == FormatYuv420 ? FormatYuv422 : format};
    const Buffer upper(format, width, height, true, &rng), lower(format, width, height, true, &rng);
    for (const int32_t workers : {1, 3, 8}) {
      WorkerPool pool{}, none{};
      ASSERT_TRUE(StartWorkers(pool, workers));
      PlaneOffsets offsets{};
      Buffer woven(format, width, height, false, nullptr), once(format, width, height, false, nullptr);
      WeavePlanes(pool, format, upper.planes, lower.planes, woven.planes, width, height);
      WeavePlanes(none, format, upper.planes, lower.planes, once.planes, width, height);
      EXPECT_EQ(woven.bytes, once.bytes) << "format " << format << ", " << workers << " workers: weave";
      for (const int32_t code : {'3', '4', '5'}) {
        for (const FrameFormat out : outputs) {
          Buffer banded(out, width, height, true, nullptr), whole(out, width, height, true, nullptr);
          ASSERT_TRUE(
              FinishPlanes(pool, tables, offsets, code, format, upper.planes, out, banded.planes, width, height));
          ASSERT_TRUE(
              FinishPlanes(none, tables, offsets, code, format, upper.planes, out, whole.planes, width, height));
          EXPECT_EQ(banded.bytes, whole.bytes) << "format " << format << " to " << out << ", " << workers
                                               << " workers, code " << static_cast<char>(code);
        }
      }
      FreePlaneOffsets(offsets);
      StopWorkers(pool);
    }
  }
  FreeFilterTables(tables);
}

}  // namespace
