// The filter's core for frames of one size, as the command and the editor
// run it: its worker pool, its tables and their offsets for the planes'
// pitches, made together and freed together.
#ifndef ZEMIVTC_CLI_FILTER_CORE_H
#define ZEMIVTC_CLI_FILTER_CORE_H

#include "cli/errors.h"
#include "compose/planes.h"
#include "workers/worker_pool.h"

namespace cli {

struct FilterCore {
  // Throws CliError with the module's words when the workers cannot start or
  // memory runs out.
  FilterCore(int width, int height) {
    if (!StartWorkers(pool)) throw CliError("Cannot start worker threads");
    if (!BuildFilterTables(width, height, tables)) {
      StopWorkers(pool);
      throw CliError("Out of memory");
    }
  }
  ~FilterCore() {
    FreePlaneOffsets(offsets);
    FreeFilterTables(tables);
    StopWorkers(pool);
  }
  FilterCore(const FilterCore&) = delete;
  FilterCore& operator=(const FilterCore&) = delete;

  WorkerPool pool{};
  FilterTables tables{};
  PlaneOffsets offsets{};
};

}  // namespace cli

#endif
