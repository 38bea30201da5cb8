#include "review/compose_adapter.h"

#include <cstring>
#include <stdexcept>

#include "plan/frame_plan.h"
#include "stream/output.h"

namespace review {

FrameComposer::FrameComposer(int width, int height, FrameFormat format, bool bottomFirst)
    : width(width), height(height), format(format), bottomFirst(bottomFirst) {
  if (height < 2 || width < 2) throw std::runtime_error("frames of at least 2 x 2 pixels are needed");
  if (!StartWorkers(pool)) throw std::runtime_error("cannot start the worker threads");
  if (!BuildFilterTables(width, height, tables)) {
    StopWorkers(pool);
    throw std::runtime_error("out of memory for the filter tables");
  }
}

FrameComposer::~FrameComposer() {
  FreePlaneOffsets(offsets);
  FreeFilterTables(tables);
  StopWorkers(pool);
}

// The planes of a frame stored at `data`, in the filter's row order: turned
// over for a bottom-field-first source, as the render hands them over.
FramePlanes FrameComposer::PlanesAt(const uint8_t* data) const {
  FramePlanes planes{};
  uint8_t* at = const_cast<uint8_t*>(data);
  for (int p = 0; p < PlaneCount(format); ++p) {
    planes.plane[p] = at;
    planes.pitch[p] = PlaneRowBytes(format, p, width);
    at += static_cast<size_t>(planes.pitch[p]) * static_cast<size_t>(PlaneRows(format, p, height));
  }
  return bottomFirst ? TurnedOver(planes, format, height) : planes;
}

bool FrameComposer::Compose(int position, char code, const FrameGetter& frame, std::vector<uint8_t>* output) {
  if (!IsFrameCode(static_cast<uint8_t>(code))) return false;
  const size_t bytes = stream::StreamFrameBytes(width, height, format);
  const FrameRecipe recipe = RecipeFor({static_cast<uint32_t>(position), code});
  // The filter's stages, as the render runs them: the frame at the position
  // (a source frame, or the weave of two), then the finish.
  const uint8_t* upper = frame(recipe.upper);
  const uint8_t* lower = recipe.lower == recipe.upper ? upper : frame(recipe.lower);
  output->resize(bytes);
  const FramePlanes target = PlanesAt(output->data());
  if (recipe.code == '1' && !recipe.woven) {
    std::memcpy(output->data(), upper, bytes);
    return true;
  }
  FramePlanes selected = PlanesAt(recipe.code == '4' ? lower : upper);
  if (recipe.woven) {
    woven.resize(bytes);
    selected = recipe.code == '1' ? target : PlanesAt(woven.data());
    WeavePlanes(pool, format, PlanesAt(upper), PlanesAt(lower), selected, width, height);
    if (recipe.code == '1') return true;
  }
  if (!FinishPlanes(pool, tables, offsets, recipe.code, format, selected, format, target, width, height))
    throw std::runtime_error("out of memory for the filter's offsets");
  return true;
}

}  // namespace review
