#include "plugin/create_filter.h"

#include "plan/frame_plan.h"
#include "platform/crt.h"
#include "platform/platform.h"
#include "plugin/zem_ivtc_filter.h"

namespace {

// First buffer for a plan read to its end; it doubles as the plan grows.
constexpr size_t FirstChunk = size_t{1} << 16;

enum StreamRead { StreamOk, StreamTooLong, StreamFailed, StreamNoMemory };

// Reads a plan that is not a regular file (a pipe, a FIFO, a terminal) to its
// end: such a file has no length to ask for beforehand. Reading stops one
// byte past MaxPlanSize, which is enough to know the plan is too long. On
// success *data holds *size bytes in a malloc'd block (at least one byte
// long); on failure nothing is left allocated.
StreamRead ReadToEnd(int fd, uint8_t** data, int64_t* size) {
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
        return StreamNoMemory;
      }
      buffer = bigger;
      capacity = grown;
    }
    const int got = platform::ReadOnce(fd, buffer + used, static_cast<uint32_t>(capacity - used));
    if (got < 0) {
      free(buffer);
      return StreamFailed;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
    if (used >= limit) {
      free(buffer);
      return StreamTooLong;
    }
  }
  // Give back the unused tail of the last chunk; keeping it is harmless.
  if (uint8_t* fitted = static_cast<uint8_t*>(realloc(buffer, used > 0 ? used : 1))) buffer = fitted;
  *data = buffer;
  *size = static_cast<int64_t>(used);
  return StreamOk;
}

}  // namespace

AVSValue __cdecl CreateFilter(AVSValue args, void* /*user_data*/, IScriptEnvironment* env) {
  PClip clip = args[0].AsClip();
  const char* path = args[1].IsString() ? args[1].AsString() : nullptr;

  const VideoInfo& vi = clip->GetVideoInfo();
  if (vi.pixel_type != CS_YUY2) env->ThrowError("Invalid video colorspace");
  // The field tables need at least one row per field.
  if (vi.height < 2) env->ThrowError("Video height must be at least 2");
  // Byte offsets within a frame are 32-bit.
  if (vi.width < 1 || 2LL * vi.width * vi.height > 0x7FFFFFFFLL) env->ThrowError("Invalid video size");

  const int fd = path ? platform::OpenForReading(path) : -1;
  if (fd < 0) env->ThrowError("File open error");
  int64_t length = 0;
  uint8_t* buffer = nullptr;
  if (!platform::IsRegularFile(fd)) {
    // A pipe or device has no length to ask for (or reports 0): read it to
    // its end, under the same size limit.
    const StreamRead read = ReadToEnd(fd, &buffer, &length);
    platform::CloseFile(fd);
    if (read == StreamTooLong) env->ThrowError("File too long");
    if (read == StreamNoMemory) env->ThrowError("Out of memory");
    if (read == StreamFailed) env->ThrowError("File read error");
  } else {
    length = platform::FileLength(fd);
    if (length < 0) {
      platform::CloseFile(fd);
      env->ThrowError("File open error");
    }
    if (length > MaxPlanSize) {
      platform::CloseFile(fd);
      env->ThrowError("File too long");
    }

    buffer = static_cast<uint8_t*>(malloc(length > 0 ? static_cast<size_t>(length) : 1));
    if (!buffer) {
      platform::CloseFile(fd);
      env->ThrowError("Out of memory");
    }
    const int got = length > 0 ? platform::ReadOnce(fd, buffer, static_cast<uint32_t>(length)) : 0;
    platform::CloseFile(fd);
    if (got != length) {
      free(buffer);
      env->ThrowError("File read error");
    }
  }

  ZemIvtcFilter* filter = new ZemIvtcFilter(clip, buffer, static_cast<int32_t>(length), env);
  if (!filter) {
    free(buffer);
    env->ThrowError("Out of memory");
  }
  return AVSValue(filter);
}
