#include "plan/plan_file.h"

#include "plan/frame_plan.h"
#include "platform/crt.h"
#include "platform/platform.h"

namespace {

// First buffer for a plan read to its end; it doubles as the plan grows.
constexpr size_t FirstChunk = size_t{1} << 16;

// Reads a plan that is not a regular file (a pipe, a FIFO, a terminal) to its
// end: such a file has no length to ask for beforehand. Reading stops one
// byte past MaxPlanSize, which is enough to know the plan is too long.
PlanReadResult ReadToEnd(int fd, uint8_t** data, int64_t* size) {
  const size_t limit = static_cast<size_t>(MaxPlanSize) + 1;
  uint8_t* buffer = nullptr;
  size_t capacity = 0;
  size_t used = 0;
  for (;;) {
    if (used == capacity) {
      size_t grown = capacity == 0 ? FirstChunk : 2 * capacity;
      if (grown > limit) grown = limit;
      uint8_t* bigger = static_cast<uint8_t*>(realloc(buffer, grown));
      if (!bigger) {
        free(buffer);
        return PlanNoMemory;
      }
      buffer = bigger;
      capacity = grown;
    }
    const int got = platform::ReadOnce(fd, buffer + used, static_cast<uint32_t>(capacity - used));
    if (got < 0) {
      free(buffer);
      return PlanReadError;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
    if (used >= limit) {
      free(buffer);
      return PlanTooLong;
    }
  }
  // Give back the unused tail of the last chunk; keeping it is harmless.
  if (uint8_t* fitted = static_cast<uint8_t*>(realloc(buffer, used > 0 ? used : 1))) buffer = fitted;
  *data = buffer;
  *size = static_cast<int64_t>(used);
  return PlanReadOk;
}

// A regular file, read as its length says in one read.
PlanReadResult ReadWhole(int fd, uint8_t** data, int64_t* size) {
  const int64_t length = platform::FileLength(fd);
  if (length < 0) return PlanOpenError;
  if (length > MaxPlanSize) return PlanTooLong;
  uint8_t* buffer = static_cast<uint8_t*>(malloc(length > 0 ? static_cast<size_t>(length) : 1));
  if (!buffer) return PlanNoMemory;
  const int got = length > 0 ? platform::ReadOnce(fd, buffer, static_cast<uint32_t>(length)) : 0;
  if (got != length) {
    free(buffer);
    return PlanReadError;
  }
  *data = buffer;
  *size = length;
  return PlanReadOk;
}

}  // namespace

PlanReadResult ReadPlanFile(const char* path, uint8_t** data, int32_t* size) {
  const int fd = path ? platform::OpenForReading(path) : -1;
  if (fd < 0) return PlanOpenError;
  return ReadPlanFrom(fd, data, size);
}

PlanReadResult ReadPlanFrom(int fd, uint8_t** data, int32_t* size) {
  int64_t length = 0;
  // A pipe or device has no length to ask for, and a file of the kernel's
  // (/proc) reports 0 whatever it holds: read them to their end, under the
  // same size limit.
  const bool sized = platform::IsRegularFile(fd) && platform::FileLength(fd) > 0;
  const PlanReadResult result = sized ? ReadWhole(fd, data, &length) : ReadToEnd(fd, data, &length);
  platform::CloseFile(fd);
  *size = static_cast<int32_t>(length);
  return result;
}

const char* PlanReadMessage(PlanReadResult result) {
  switch (result) {
    case PlanOpenError: return "File open error";
    case PlanTooLong: return "File too long";
    case PlanReadError: return "File read error";
    case PlanNoMemory: return "Out of memory";
    default: return "";
  }
}
