// Reading a plan file whole, for every front end: a regular file as its
// length says, a pipe, FIFO or device to its end, never more than
// MaxPlanSize bytes.
#ifndef ZEMIVTC_PLAN_PLAN_FILE_H
#define ZEMIVTC_PLAN_PLAN_FILE_H

#include <stdint.h>

enum PlanReadResult : int32_t { PlanReadOk, PlanOpenError, PlanTooLong, PlanReadError, PlanNoMemory };

// Reads the plan at `path` (null: none was given, an open error). On
// PlanReadOk *data is a malloc'd block of at least one byte holding *size
// bytes, which the caller frees; on any failure nothing is left allocated
// or open.
PlanReadResult ReadPlanFile(const char* path, uint8_t** data, int32_t* size);

// The same for a plan the caller has opened (for a front end whose host
// gives paths in another encoding than the platform's): reads `fd` as
// ReadPlanFile reads, and closes it.
PlanReadResult ReadPlanFrom(int fd, uint8_t** data, int32_t* size);

// The fixed message of a failure, as every front end reports it: "File open
// error", "File too long", "File read error", "Out of memory".
const char* PlanReadMessage(PlanReadResult result);

#endif
