#include "review/compose_adapter.h"

#include <cstring>
#include <stdexcept>

#include "plan/frame_plan.h"
#include "stream/output.h"

namespace review {
namespace {

int Checked(int width, int height) {
  if (height < 2 || width < 2) throw std::runtime_error("frames of at least 2 x 2 pixels are needed");
  return width;
}

}  // namespace

FrameComposer::FrameComposer(int width, int height, FrameFormat format, bool bottomFirst)
    : width(width), height(height), format(format), bottomFirst(bottomFirst), core(Checked(width, height), height) {}

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
    WeavePlanes(core.pool, format, PlanesAt(upper), PlanesAt(lower), selected, width, height);
    if (recipe.code == '1') return true;
  }
  if (!FinishPlanes(core.pool, core.tables, core.offsets, recipe.code, format, selected, format, target, width, height))
    throw std::runtime_error("out of memory for the filter's offsets");
  return true;
}

}  // namespace review
