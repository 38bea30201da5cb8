// Making one output frame from the source frames its plan entry names, on
// packed YUY2 rows: the two stages of a frame request, apart from any host.
// A front end asks its host for the source frames the recipe names and for
// the buffers, then runs the stages; the workers (or the caller's thread, for
// a pool with no workers) do every pixel.
//
// Built into the Windows modules too: no C or C++ library here.
#ifndef ZEMIVTC_COMPOSE_COMPOSE_H
#define ZEMIVTC_COMPOSE_COMPOSE_H

#include <stdint.h>

#include "plan/frame_plan.h"
#include "vfilter/vertical_filter.h"
#include "workers/worker_pool.h"

// The three vertical filter tables of one frame size, built once per filter
// and read-only after that. Source offsets assume rows 2 * width bytes apart.
struct FilterTables {
  VerticalFilterTable topFieldTable;     // code '5': full height from the top field
  VerticalFilterTable bottomFieldTable;  // code '4': full height from the bottom field
  VerticalFilterTable smoothTable;       // code '3': 1/4, 1/2, 1/4
};

// Builds the tables for frames of width x height (height >= 2). False when
// memory runs out or a table cannot be built; the tables are then freed.
bool BuildFilterTables(int32_t width, int32_t height, FilterTables& tables);
void FreeFilterTables(FilterTables& tables);

// What one output frame is made of. Codes '2' and '6' are already mapped to
// the field that matches the position, so `code` is '1', '3', '4' or '5'.
// The frame's even rows (its top field) come from source frame `upper`, its
// odd rows from `lower`: both k at an even position 2k, k+1 and k at an odd
// position 2k+1.
struct FrameRecipe {
  int32_t code;
  int32_t upper;
  int32_t lower;
  bool woven;  // an odd position whose two fields must be woven into a frame first (codes '1' and '3')
};

FrameRecipe RecipeFor(const FramePlanEntry& entry);

// The frame a code '4' or '5' rebuilds from a field of (without a weave), or
// a code '1' or '3' takes at an even position: `lower` for '4', else `upper`.
inline int32_t SelectedSource(const FrameRecipe& recipe) { return recipe.code == '4' ? recipe.lower : recipe.upper; }

// The table of a code '3', '4' or '5'.
const VerticalFilterTable& TableFor(const FilterTables& tables, int32_t code);

// Source offsets of `table` (of code `code`) for frames whose rows lie
// `pitch` bytes apart instead of 2 * width: `offsets` receives rows * taps
// entries.
void RescaleOffsets(const VerticalFilterTable& table, int32_t code, int32_t width, int32_t pitch, int32_t* offsets);

// Stage one: frame `upper`'s even rows and frame `lower`'s odd rows into
// `woven`, each frame at its own pitch; an odd height's last row is upper's.
void WeaveFrames(WorkerPool& pool, const uint8_t* upper, int32_t upperPitch, const uint8_t* lower, int32_t lowerPitch,
                 uint8_t* woven, int32_t wovenPitch, int32_t width, int32_t height);

// Stage two: the selected frame (the source frame or the weave) finished by
// code '3', '4' or '5' into `output`. `offsets` are the table's own when the
// selected frame's rows lie 2 * width bytes apart, else RescaleOffsets' for
// its pitch.
void FinishFrame(WorkerPool& pool, const FilterTables& tables, int32_t code, const int32_t* offsets,
                 const uint8_t* selected, int32_t selectedPitch, uint8_t* output, int32_t outputPitch, int32_t width,
                 int32_t height);

#endif
