// Frames per second of the C-interface module (zemivtc_c.so) in the stand-in
// host, without Prefetch (one instance asked from one thread) and as
// AviSynth+ runs it under Prefetch(N): MULTI_INSTANCE, N instances over one
// source, each asked from a thread of its own. 1920x1080, YUY2 and YV12,
// a film plan (3:2: frames passed through and woven) and a video plan (every
// field rebuilt). The runs alternate within each repetition; the table gives
// medians, then every repetition, the threads the process had while frames
// were made (the host's N, the module's one pool, the main thread) and the
// load average before and after.
//   bench_avisynth_c [FRAMES [REPETITIONS]]
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "avisynth_c/avs_c.h"

namespace {

struct Host {
  AvsEnv* (*createEnv)(int);
  AvsValue (*invoke)(AvsEnv*, const char*, AvsValue, const char**);
  void (*releaseValue)(AvsValue);
  AvsClip* (*takeClip)(AvsValue, AvsEnv*);
  AvsVideoFrame* (*copyFrame)(AvsVideoFrame*);
} host;
AvsApi avs;
AvsEnv* env;

constexpr int kWidth = 1920, kHeight = 1080, kSourceFrames = 16;

// The source: kSourceFrames frames of noise, made once and held.
struct Source {
  AvsVideoFrame* frames[kSourceFrames];
};
AvsVideoFrame* SourceFrame(AvsFilterInfo* fi, int n) {
  return host.copyFrame(static_cast<Source*>(fi->userData)->frames[n % kSourceFrames]);
}
AvsValue MakeSource(AvsEnv* e, AvsValue args, void*) {
  AvsValue blank = host.invoke(e, "BlankClip", AvsValue{'a', 0, {nullptr}}, nullptr), v;
  AvsFilterInfo* fi = nullptr;
  AvsClip* clip = avs.newCFilter(e, &fi, blank, 1);
  const int type = AvsArrayElement(args, 0).d.integer;
  fi->vi = AvsVideoInfo{kWidth, kHeight, 30000, 1001, 1 << 20, type, 0, 0, 0, 0, AvsItTff};
  Source* s = new Source;
  uint32_t seed = 1;
  for (AvsVideoFrame*& f : s->frames) {
    f = avs.newVideoFrameA(e, &fi->vi, 64);
    for (int plane : {AvsPlaneDefault, AvsPlaneY, AvsPlaneU, AvsPlaneV}) {
      if ((plane == AvsPlaneDefault) != (type == static_cast<int>(AvsCsYuy2))) continue;
      const int rows = plane == AvsPlaneDefault || plane == AvsPlaneY ? kHeight : kHeight / 2;
      const int bytes = plane == AvsPlaneDefault ? 2 * kWidth : plane == AvsPlaneY ? kWidth : kWidth / 2;
      for (int y = 0; y < rows; ++y) {
        uint8_t* row = AvsWritePtr(avs, f, plane) + y * AvsPitch(avs, f, plane);
        for (int x = 0; x < bytes; ++x) row[x] = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
      }
    }
  }
  fi->userData = s, fi->getFrame = SourceFrame;
  avs.setToClip(&v, clip);
  avs.releaseClip(clip);
  host.releaseValue(blank);
  return v;
}

int ThreadsNow() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return 0;
}

struct Run {
  double fps;
  int threads;
};

// `frames` output frames of `instances` instances (1: no Prefetch), frame n
// asked of instance n % instances on that instance's thread.
Run Measure(int type, const char* planPath, int instances, int frames) {
  AvsValue typeArg{'i', 0, {}};
  typeArg.d.integer = type;
  AvsValue source = host.invoke(env, "ZemBenchSource", AvsValue{'a', 1, {&typeArg}}, nullptr);
  std::vector<AvsClip*> clips;
  for (int i = 0; i < instances; ++i) {
    AvsValue args[2] = {source, AvsValue{'s', 0, {const_cast<char*>(planPath)}}};
    const char* names[2] = {nullptr, "zemFile"};
    AvsValue v = host.invoke(env, "ZEMIVTC", AvsValue{'a', 2, {args}}, names);
    if (v.type != 'c') {
      std::fprintf(stderr, "bench_avisynth_c: ZEMIVTC: %s\n", v.type == 'e' ? v.d.string : "no clip");
      std::exit(1);
    }
    clips.push_back(host.takeClip(v, env));
    host.releaseValue(v);
  }
  for (AvsClip* clip : clips) avs.releaseVideoFrame(avs.getFrame(clip, 0));  // the pool and first touches
  int threads = 0;
  std::atomic<int> running{instances};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int i = 0; i < instances; ++i) {
    workers.emplace_back([&, i] {
      for (int n = i; n < frames; n += instances) {
        AvsVideoFrame* f = avs.getFrame(clips[i], n);
        if (f == nullptr) std::abort();
        avs.releaseVideoFrame(f);
      }
      --running;
    });
  }
  // The most threads the process has while frames are made (sampled).
  while (running > 0)
    threads = std::max(threads, ThreadsNow()), std::this_thread::sleep_for(std::chrono::milliseconds(2));
  for (std::thread& t : workers) t.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (AvsClip* clip : clips) avs.releaseClip(clip);
  host.releaseValue(source);
  return Run{frames / seconds, threads};
}

std::string Load() {
  std::ifstream f("/proc/loadavg");
  std::string a, b, c;
  f >> a >> b >> c;
  return a + " " + b + " " + c;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 && argv[1][0] != '-' ? std::atoi(argv[1]) : 240;
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  setenv("ZEMIVTC_STANDIN_NO_FILL", "1", 1);  // new frames as a host's cache hands them out
  void* library = dlopen(ZEMIVTC_STANDIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return std::fprintf(stderr, "bench_avisynth_c: %s\n", dlerror()), 1;
  host = Host{reinterpret_cast<decltype(host.createEnv)>(dlsym(library, "avs_create_script_environment")),
              reinterpret_cast<decltype(host.invoke)>(dlsym(library, "avs_invoke")),
              reinterpret_cast<decltype(host.releaseValue)>(dlsym(library, "avs_release_value")),
              reinterpret_cast<decltype(host.takeClip)>(dlsym(library, "avs_take_clip")),
              reinterpret_cast<decltype(host.copyFrame)>(dlsym(library, "avs_copy_video_frame"))};
#define BIND(ret, slot, name, params) avs.slot = reinterpret_cast<decltype(avs.slot)>(dlsym(library, #name));
  ZEMIVTC_AVS_IMPORTED(BIND) ZEMIVTC_AVS_LOOKED_UP(BIND) env = host.createEnv(3);
  avs.addFunction(env, "ZemBenchSource", "i", MakeSource, nullptr);
  AvsValue path{'s', 0, {const_cast<char*>(ZEMIVTC_C_MODULE_PATH)}};
  host.releaseValue(host.invoke(env, "LoadCPlugin", AvsValue{'a', 1, {&path}}, nullptr));

  // Film: 3:2 telecine picked whole (per ten field positions three frames
  // passed through, one woven). Video: every position rebuilt from its field.
  const std::string dir = std::string(ZEMIVTC_BENCH_DIR);
  const struct {
    const char* name;
    std::string path, unit;
  } plans[] = {{"film", dir + "/film.zem", "1010010010"}, {"video", dir + "/video.zem", "2"}};
  for (const auto& p : plans) {
    std::ofstream out(p.path, std::ios::binary);
    for (int i = 0; i < 4 * frames + 40; i += static_cast<int>(p.unit.size())) out << p.unit;
  }
  const struct {
    const char* name;
    uint32_t type;
  } formats[] = {{"YUY2", AvsCsYuy2}, {"YV12", AvsCsYv12}};
  const int modes[] = {1, 2, 4};
  std::printf("bench_avisynth_c: %d output frames of %dx%d per run, %d repetitions, %u processors; load %s\n", frames,
              kWidth, kHeight, repetitions, std::thread::hardware_concurrency(), Load().c_str());
  std::printf("%-6s %-6s %-12s %10s %8s %9s  every repetition (fps)\n", "format", "plan", "run", "fps", "x none",
              "threads");
  for (const auto& format : formats) {
    for (const auto& plan : plans) {
      std::vector<Run> runs[3];
      for (int r = 0; r < repetitions; ++r) {
        for (int m = 0; m < 3; ++m) runs[m].push_back(Measure(format.type, plan.path.c_str(), modes[m], frames));
      }
      double base = 0;
      for (int m = 0; m < 3; ++m) {
        std::vector<double> fps;
        int threads = 0;
        for (const Run& run : runs[m]) fps.push_back(run.fps), threads = std::max(threads, run.threads);
        std::vector<double> sorted = fps;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted[sorted.size() / 2];
        if (m == 0) base = median;
        const std::string label = modes[m] == 1 ? "no Prefetch" : "Prefetch(" + std::to_string(modes[m]) + ")";
        std::printf("%-6s %-6s %-12s %10.1f %8.2f %9d ", format.name, plan.name, label.c_str(), median, median / base,
                    threads);
        for (double f : fps) std::printf(" %.1f", f);
        std::printf("\n");
      }
    }
  }
  std::printf("load after: %s\n", Load().c_str());
  return 0;
}
