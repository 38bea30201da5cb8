// The one place the editor calls the filter's core: the output frame that a
// code at a position makes, by the same stages the module runs (RecipeFor,
// WeaveFrames, FinishFrame on the worker pool), so that the page shows the
// frame the render writes.
#ifndef ZEMIVTC_REVIEW_COMPOSE_ADAPTER_H
#define ZEMIVTC_REVIEW_COMPOSE_ADAPTER_H

#include <cstdint>
#include <functional>
#include <vector>

#include "compose/compose.h"
#include "workers/worker_pool.h"

namespace review {

class FrameComposer {
 public:
  // Starts the worker pool and builds the tables for frames of width x
  // height (height >= 2). Throws std::runtime_error when they cannot be had.
  FrameComposer(int width, int height, bool bottomFirst);
  ~FrameComposer();
  FrameComposer(const FrameComposer&) = delete;
  FrameComposer& operator=(const FrameComposer&) = delete;

  // Source frame n as YUY2 rows of 2 * width bytes, in the source's own row
  // order; valid until the next call.
  using FrameGetter = std::function<const uint8_t*(int n)>;

  // The frame that `code` ('1' to '6') at `position` makes, into `output`
  // (2 * width bytes a row, the source's row order). False for a code that
  // makes none.
  bool Compose(int position, char code, const FrameGetter& frame, std::vector<uint8_t>* output);

 private:
  // The frame as the filter sees it: a bottom-field-first source turned over.
  const uint8_t* Oriented(const uint8_t* rows, std::vector<uint8_t>* scratch) const;

  int width, height;
  bool bottomFirst;
  WorkerPool pool{};
  FilterTables tables{};
  std::vector<uint8_t> upperRows, lowerRows, woven, finished;
};

}  // namespace review

#endif
