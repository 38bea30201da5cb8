// The one place the editor calls the filter's core: the output frame that a
// code at a position makes, by the same stages on the same planes as the
// render (RecipeFor, WeavePlanes, FinishPlanes on the worker pool), so that
// the page shows the frame the render writes, byte for byte.
#ifndef ZEMIVTC_REVIEW_COMPOSE_ADAPTER_H
#define ZEMIVTC_REVIEW_COMPOSE_ADAPTER_H

#include <cstdint>
#include <functional>
#include <vector>

#include "cli/filter_core.h"
#include "compose/planes.h"
#include "workers/worker_pool.h"

namespace review {

class FrameComposer {
 public:
  // Starts the worker pool and builds the tables for frames of width x
  // height (height >= 2) stored as `format` (stream::StreamFrameFormat).
  // Throws std::runtime_error for frames too small, CliError when the
  // workers or the tables cannot be had.
  FrameComposer(int width, int height, FrameFormat format, bool bottomFirst);
  FrameComposer(const FrameComposer&) = delete;
  FrameComposer& operator=(const FrameComposer&) = delete;

  // Source frame n's bytes as the source stores them (in `format`); they
  // must stay valid until Compose returns.
  using FrameGetter = std::function<const uint8_t*(int n)>;

  // The frame that `code` ('1' to '6') at `position` makes, into `output`
  // in `format`, in the source's row order: the render's frame with the
  // input's chroma. False for a code that makes none.
  bool Compose(int position, char code, const FrameGetter& frame, std::vector<uint8_t>* output);

 private:
  FramePlanes PlanesAt(const uint8_t* data) const { return PlanesOfFrame(data, format, width, height, bottomFirst); }

  int width, height;
  FrameFormat format;
  bool bottomFirst;
  cli::FilterCore core;
  std::vector<uint8_t> woven;
};

}  // namespace review

#endif
