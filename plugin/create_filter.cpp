#include "plugin/create_filter.h"

#include "plan/frame_plan.h"
#include "platform/crt.h"
#include "platform/platform.h"
#include "plugin/zem_ivtc_filter.h"

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
  const int64_t length = platform::FileLength(fd);
  if (length < 0) {
    platform::CloseFile(fd);
    env->ThrowError("File open error");
  }
  if (length > MaxPlanSize) {
    platform::CloseFile(fd);
    env->ThrowError("File too long");
  }

  uint8_t* buffer = static_cast<uint8_t*>(malloc(length > 0 ? static_cast<size_t>(length) : 1));
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

  ZemIvtcFilter* filter = new ZemIvtcFilter(clip, buffer, static_cast<int32_t>(length), env);
  if (!filter) {
    free(buffer);
    env->ThrowError("Out of memory");
  }
  return AVSValue(filter);
}
