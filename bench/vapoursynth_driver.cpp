// Runs ZEMIVTC as a VapourSynth script host would: loads a core library (the
// tests' stand-in core) and the plugin, serves the frames of a Y4M file from
// memory through a source filter, and asks for every output frame on THREADS
// threads at once, as a core's thread pool does with an fmParallel filter.
// Each output frame's planes are written to standard output in order, as
// vspipe writes them.
//   vapoursynth_driver CORE PLUGIN IN.y4m PLAN THREADS > /dev/null
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "vapoursynth/vs_api.h"

namespace {

const VSAPI* vs = nullptr;

struct Clip {
  VSVideoFormat format;
  int width = 0, height = 0;
  bool bottomFirst = false;
  std::vector<const char*> frames;
  std::string_view bytes;  // the file, mapped (as the command reads it)
};

const VSFrame* VS_CC SourceFrame(int n, int, void* data, void**, VSFrameContext*, VSCore* core, const VSAPI*) {
  const Clip& c = *static_cast<Clip*>(data);
  VSFrame* f = vs->newVideoFrame(&c.format, c.width, c.height, nullptr, core);
  const char* from = c.frames[n];
  for (int p = 0; p < c.format.numPlanes; ++p) {
    const int w = vs->getFrameWidth(f, p), h = vs->getFrameHeight(f, p);
    for (int y = 0; y < h; ++y, from += w) std::memcpy(vs->getWritePtr(f, p) + y * vs->getStride(f, p), from, w);
  }
  return f;
}

bool ReadY4m(const char* path, Clip& c) {
  const int fd = open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return false;
  void* map = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return false;
  c.bytes = std::string_view(static_cast<const char*>(map), size_t(st.st_size));
  std::istringstream header(std::string(c.bytes.substr(0, c.bytes.find('\n'))));
  bool yuv420 = true;
  for (std::string tag; header >> tag;) {
    if (tag[0] == 'W') c.width = std::stoi(tag.substr(1));
    if (tag[0] == 'H') c.height = std::stoi(tag.substr(1));
    if (tag[0] == 'I') c.bottomFirst = tag == "Ib";
    if (tag[0] == 'C') yuv420 = tag.compare(0, 4, "C420") == 0;
  }
  c.format = {cfYUV, stInteger, 8, 1, 1, yuv420 ? 1 : 0, 3};
  const size_t frameBytes = size_t(c.width) * c.height * (yuv420 ? 3 : 4) / 2;
  for (size_t at = c.bytes.find('\n') + 1; c.bytes.compare(at, 5, "FRAME") == 0; at += frameBytes) {
    at = c.bytes.find('\n', at) + 1;
    if (at + frameBytes > c.bytes.size()) break;
    c.frames.push_back(c.bytes.data() + at);
  }
  return c.width > 0 && !c.frames.empty();
}

// The frame's planes, row after row, in one write.
void WritePlanes(const VSFrame* f, std::string& buffer) {
  buffer.clear();
  for (int p = 0; p < 3; ++p) {
    const int w = vs->getFrameWidth(f, p), h = vs->getFrameHeight(f, p);
    for (int y = 0; y < h; ++y)
      buffer.append(reinterpret_cast<const char*>(vs->getReadPtr(f, p) + y * vs->getStride(f, p)), size_t(w));
  }
  if (write(STDOUT_FILENO, buffer.data(), buffer.size()) != ssize_t(buffer.size())) std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return std::fprintf(stderr, "usage: vapoursynth_driver CORE PLUGIN IN.y4m PLAN THREADS\n"), 2;
  void* library = dlopen(argv[1], RTLD_NOW);
  auto get = library ? reinterpret_cast<VSGetVapourSynthAPI>(dlsym(library, "getVapourSynthAPI")) : nullptr;
  Clip clip;
  if (!get || !(vs = get(VapourSynthApiVersion)) || !ReadY4m(argv[3], clip))
    return std::fprintf(stderr, "vapoursynth_driver: cannot load %s or read %s\n", argv[1], argv[3]), 1;
  VSCore* core = vs->createCore(ccfDisableAutoLoading);
  vs->addLogHandler([](int, const char* msg, void*) { std::fprintf(stderr, "%s\n", msg); }, nullptr, nullptr, core);
  VSMap* args = vs->createMap();
  vs->mapSetData(args, "path", argv[2], -1, dtUtf8, maReplace);
  vs->freeMap(vs->invoke(vs->getPluginByID("com.vapoursynth.std", core), "LoadPlugin", args));
  vs->freeMap(args);

  const VSVideoInfo vi{clip.format, 30000, 1001, clip.width, clip.height, int(clip.frames.size())};
  args = vs->createMap();
  vs->mapConsumeNode(
      args, "clip", vs->createVideoFilter2("Y4mSource", &vi, SourceFrame, nullptr, fmParallel, nullptr, 0, &clip, core),
      maReplace);
  vs->mapSetData(args, "zemFile", argv[4], -1, dtUtf8, maReplace);
  vs->mapSetInt(args, "tff", clip.bottomFirst ? 0 : 1, maReplace);
  VSMap* out = vs->invoke(vs->getPluginByID("org.zemivtc.zemivtc", core), "ZEMIVTC", args);
  vs->freeMap(args);
  if (vs->mapGetError(out)) return std::fprintf(stderr, "%s\n", vs->mapGetError(out)), 1;
  VSNode* node = vs->mapGetNode(out, "clip", 0, nullptr);
  vs->freeMap(out);

  // Frames are made on every thread and written in order from here.
  const int frames = vs->getVideoInfo(node)->numFrames;
  std::vector<const VSFrame*> made(size_t(frames), nullptr);
  std::atomic<int> next{0};
  std::mutex lock;
  std::condition_variable ready;
  auto make = [&] {
    char error[256];
    for (int n; (n = next++) < frames;) {
      const VSFrame* f = vs->getFrame(n, node, error, sizeof error);
      if (!f) std::fprintf(stderr, "frame %d: %s\n", n, error), std::exit(1);
      std::lock_guard<std::mutex> hold(lock);
      made[size_t(n)] = f;
      ready.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < std::atoi(argv[5]); ++t) threads.emplace_back(make);
  std::string buffer;
  for (int n = 0; n < frames; ++n) {
    std::unique_lock<std::mutex> hold(lock);
    ready.wait(hold, [&] { return made[size_t(n)] != nullptr; });
    const VSFrame* f = made[size_t(n)];
    hold.unlock();
    WritePlanes(f, buffer);
    vs->freeFrame(f);
  }
  for (std::thread& t : threads) t.join();
  vs->freeNode(node);
  vs->freeCore(core);
  return 0;
}
