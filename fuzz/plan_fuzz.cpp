// Plan bytes through the real module, loaded by the stand-in host as a script
// would load it. The first bytes of an input choose the clip (width 1..40,
// height 0..20, 0..6 frames, padded rows, sometimes not YUY2), the worker
// count and the pitch of new frames; the rest is the plan file. Creation must
// either succeed or refuse with one of its fixed messages, and every frame
// asked for (in range or not) must equal a slow model byte for byte.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/runtime.h"
#include "tests/frame_model.h"
#include "vfilter/vertical_filter.h"

namespace {

using testing_support::ModelFrame;
using testing_support::Picture;

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "plan_fuzz: %s\n", what.c_str());
  std::abort();
}

// Reads the header bytes; zero once the input runs out.
class Header {
 public:
  Header(const uint8_t* data, size_t size) : data(data), size(size) {}
  uint8_t Next() { return used < size ? data[used++] : 0; }
  size_t Used() const { return used; }

 private:
  const uint8_t* data;
  size_t size;
  size_t used = 0;
};

Picture Pixels(const PVideoFrame& frame, int width, int height) {
  Picture out(static_cast<size_t>(2) * width * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = frame->GetReadPtr() + static_cast<ptrdiff_t>(y) * frame->GetPitch();
    std::copy(row, row + 2 * width, out.begin() + static_cast<size_t>(y) * 2 * width);
  }
  return out;
}

// The host keeps the text of every error raised through an environment for
// the environment's life, as hosts do; a fresh one every so many inputs
// keeps a long run's memory flat. The first environment only keeps the
// module loaded.
host::ScriptEnvironment* keeper = nullptr;
host::ScriptEnvironment* environment = nullptr;
int inputsOnEnvironment = 0;
int planFd = -1;
std::string planPath;

host::ScriptEnvironment* LoadedEnvironment() {
  auto* env = new host::ScriptEnvironment();
  try {
    env->LoadPlugin(ZEMIVTC_TESTHOOKS_MODULE_PATH);
  } catch (const AvisynthError& e) {
    Fault(std::string("cannot load the module: ") + e.msg);
  }
  return env;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  keeper = LoadedEnvironment();
  // The plan lives in memory; the module opens it by path like any file.
  planFd = memfd_create("zemivtc_plan", 0);
  if (planFd < 0) Fault("memfd_create failed");
  planPath = "/proc/self/fd/" + std::to_string(planFd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int sourcePads[4] = {0, 1, 6, 32};
  static const int framePads[4] = {0, 2, 5, 64};

  Header header(data, size);
  const int width = 1 + header.Next() % 40;
  const int height = header.Next() % 21;
  const uint8_t shape = header.Next();
  const int frames = shape % 7;
  const int sourcePad = sourcePads[(shape >> 3) & 3];
  const bool notYuy2 = (shape & 0xE0) == 0xE0;
  const uint8_t threads = header.Next();
  const int workers = 1 + threads % 9;
  const uint8_t pads = header.Next();
  const uint32_t seed = header.Next();
  const uint8_t* plan = data + header.Used();
  const size_t planSize = size - header.Used();

  if (ftruncate(planFd, 0) != 0 || pwrite(planFd, plan, planSize, 0) != static_cast<ssize_t>(planSize))
    Fault("cannot write the plan");
  setenv("ZEMIVTC_TEST_PROCESSORS", std::to_string(workers).c_str(), 1);

  if (!environment || ++inputsOnEnvironment > 1000) {
    delete environment;
    environment = LoadedEnvironment();
    inputsOnEnvironment = 0;
  }
  host::ScriptEnvironment& env = *environment;
  env.SetExtraPitch(0);
  VideoInfo vi{};
  vi.width = width;
  vi.height = std::max(height, 1);
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = frames;
  vi.pixel_type = CS_YUY2;
  std::vector<PVideoFrame> list;
  std::vector<Picture> pictures;
  uint32_t state = seed * 2654435761u + 1;
  for (int f = 0; f < frames; ++f) {
    PVideoFrame frame = host::MakeFrame(vi, 2 * width + sourcePad);
    for (int y = 0; y < vi.height; ++y) {
      uint8_t* row = frame->GetWritePtr() + static_cast<ptrdiff_t>(y) * frame->GetPitch();
      for (int x = 0; x < frame->GetPitch(); ++x) {
        state = state * 1103515245u + 12345u;
        row[x] = static_cast<uint8_t>(state >> 16);
      }
    }
    pictures.push_back(Pixels(frame, width, vi.height));
    list.push_back(frame);
  }
  vi.height = height;  // the clip may claim a height no frame could have
  if (notYuy2) vi.pixel_type = CS_YV12;
  PClip clip(new host::MemoryClip(vi, list));

  std::string expectedRefusal;
  if (notYuy2)
    expectedRefusal = "Invalid video colorspace";
  else if (height < 2)
    expectedRefusal = "Video height must be at least 2";

  PClip filter;
  try {
    AVSValue args[2] = {AVSValue(clip), AVSValue(planPath.c_str())};
    const char* names[2] = {nullptr, "zemFile"};
    filter = env.Invoke("ZEMIVTC", AVSValue(args, 2), names).AsClip();
  } catch (const AvisynthError& e) {
    if (expectedRefusal != e.msg) Fault(std::string("creation refused with \"") + e.msg + "\"");
    return 0;
  }
  if (!expectedRefusal.empty()) Fault("creation accepted a clip it must refuse: " + expectedRefusal);

  // The frame table, read straight from the plan.
  std::vector<uint32_t> positions;
  std::vector<int> codes;
  for (size_t i = 0; i < planSize; ++i) {
    if (plan[i] >= '1' && plan[i] <= '6') {
      positions.push_back(static_cast<uint32_t>(i));
      codes.push_back(plan[i]);
    }
  }
  const VideoInfo& out = filter->GetVideoInfo();
  const int count = static_cast<int>(positions.size());
  if (out.num_frames != count || out.width != width || out.height != height || out.pixel_type != CS_YUY2 ||
      out.fps_numerator != 60000 || out.fps_denominator != 1001)
    Fault("output clip properties");

  const int requests[] = {0, count - 1, -1, count, count / 2, INT_MAX, INT_MIN, static_cast<int>(seed) % (count + 1)};
  int asked = 0;
  for (int n : requests) {
    env.SetExtraPitch(framePads[(pads >> (2 * (asked++ % 4))) & 3]);
    try {
      PVideoFrame frame = filter->GetFrame(n, &env);
      if (count == 0) Fault("a plan without frames gave a frame");
      if (frames == 0) Fault("a clip without frames gave a frame");
      const int entry = std::min(std::max(n, 0), count - 1);
      if (Pixels(frame, width, height) != ModelFrame(pictures, width, height, positions[entry], codes[entry]))
        Fault("frame " + std::to_string(n) + " differs from the model");
    } catch (const AvisynthError& e) {
      const std::string message = e.msg;
      const bool expected = (count == 0 && message == "The plan makes no frames") ||
                            (count > 0 && frames == 0 && message.rfind("MemoryClip:", 0) == 0);
      if (!expected) Fault("GetFrame(" + std::to_string(n) + ") failed: " + message);
    }
  }
  return 0;
}
