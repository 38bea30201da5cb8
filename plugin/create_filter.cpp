#include "plugin/create_filter.h"

#include "plan/plan_file.h"
#include "platform/crt.h"
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

  uint8_t* buffer = nullptr;
  int32_t length = 0;
  const PlanReadResult read = ReadPlanFile(path, &buffer, &length);
  if (read != PlanReadOk) env->ThrowError(PlanReadMessage(read));

  ZemIvtcFilter* filter = new ZemIvtcFilter(clip, buffer, length, env);
  if (!filter) {
    free(buffer);
    env->ThrowError("Out of memory");
  }
  return AVSValue(filter);
}
