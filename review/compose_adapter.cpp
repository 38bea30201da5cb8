#include "review/compose_adapter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "plan/frame_plan.h"

namespace review {

FrameComposer::FrameComposer(int width, int height, bool bottomFirst)
    : width(width), height(height), bottomFirst(bottomFirst) {
  if (height < 2 || width < 2) throw std::runtime_error("frames of at least 2 x 2 pixels are needed");
  if (!StartWorkers(pool)) throw std::runtime_error("cannot start the worker threads");
  if (!BuildFilterTables(width, height, tables)) {
    StopWorkers(pool);
    throw std::runtime_error("out of memory for the filter tables");
  }
}

FrameComposer::~FrameComposer() {
  FreeFilterTables(tables);
  StopWorkers(pool);
}

const uint8_t* FrameComposer::Oriented(const uint8_t* rows, std::vector<uint8_t>* scratch) const {
  if (!bottomFirst) return rows;
  const size_t rowBytes = 2 * static_cast<size_t>(width);
  scratch->resize(rowBytes * height);
  for (int y = 0; y < height; ++y) std::memcpy(&(*scratch)[rowBytes * (height - 1 - y)], rows + rowBytes * y, rowBytes);
  return scratch->data();
}

bool FrameComposer::Compose(int position, char code, const FrameGetter& frame, std::vector<uint8_t>* output) {
  if (!IsFrameCode(static_cast<uint8_t>(code))) return false;
  const int32_t pitch = 2 * width;
  const size_t bytes = static_cast<size_t>(pitch) * height;
  const FrameRecipe recipe = RecipeFor({static_cast<uint32_t>(position), code});
  // The filter's stages, as its frame request runs them: the frame at the
  // position (a source frame, or the weave of two), then the finish.
  const uint8_t* upper = Oriented(frame(recipe.upper), &upperRows);
  if (upper != upperRows.data()) {
    // The getter's buffer may be reused by the next call.
    upperRows.assign(upper, upper + bytes);
    upper = upperRows.data();
  }
  const uint8_t* lower = recipe.lower == recipe.upper ? upper : Oriented(frame(recipe.lower), &lowerRows);
  const uint8_t* selected = recipe.code == '4' ? lower : upper;
  if (recipe.woven) {
    woven.resize(bytes);
    WeaveFrames(pool, upper, pitch, lower, pitch, woven.data(), pitch, width, height);
    selected = woven.data();
  }
  const uint8_t* made = selected;
  if (recipe.code != '1') {
    finished.resize(bytes);
    FinishFrame(pool, tables, recipe.code, TableFor(tables, recipe.code).offsets, selected, pitch, finished.data(),
                pitch, width, height);
    made = finished.data();
  }
  output->resize(bytes);
  if (!bottomFirst) {
    std::memcpy(output->data(), made, bytes);
  } else {
    for (int y = 0; y < height; ++y)
      std::memcpy(output->data() + static_cast<size_t>(pitch) * (height - 1 - y), made + static_cast<size_t>(pitch) * y,
                  pitch);
  }
  return true;
}

}  // namespace review
