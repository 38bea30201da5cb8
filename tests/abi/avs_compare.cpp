// Checks what the Windows module made inside the real host against the native
// module: for every script that avs_client ran (WORKDIR/cases.txt), it builds
// a clip of the source frames the host gave (NAME.source), runs the native
// module over it in the stand-in host with the same plan (NAME.zem), renders
// every frame the client asked for, in the same order (NAME.output), and
// compares every visible byte.
//
//   avs_compare MODULE WORKDIR
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/runtime.h"

namespace {

struct DumpedFrame {
  int32_t index, rowSize, height;
  std::string bytes;  // rows of rowSize bytes
};

// Frames as avs_client writes them: index, row size and height (4 bytes
// each), then the rows.
bool ReadDump(const std::string& path, std::vector<DumpedFrame>& frames) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  for (;;) {
    int32_t header[3];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return in.eof() && in.gcount() == 0;
    if (header[1] <= 0 || header[2] <= 0 || header[1] > (1 << 16) || header[2] > (1 << 16)) return false;
    DumpedFrame f{header[0], header[1], header[2], std::string(size_t(header[1]) * header[2], '\0')};
    if (!in.read(f.bytes.data(), static_cast<std::streamsize>(f.bytes.size()))) return false;
    frames.push_back(std::move(f));
  }
}

// Compares one script's frames; prints the first differences and returns the
// number of frames compared, or -1.
long CompareScript(host::ScriptEnvironment& env, const std::string& dir, const std::string& name,
                   const std::string& plan) {
  std::vector<DumpedFrame> source, output;
  if (!ReadDump(dir + "/" + name + ".source", source) || source.empty()) {
    std::fprintf(stderr, "avs_compare: %s: cannot read its source frames\n", name.c_str());
    return -1;
  }
  if (!ReadDump(dir + "/" + name + ".output", output)) {
    std::fprintf(stderr, "avs_compare: %s: cannot read its output frames\n", name.c_str());
    return -1;
  }
  VideoInfo vi{};
  vi.width = source[0].rowSize / 2;
  vi.height = source[0].height;
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = static_cast<int>(source.size());
  vi.pixel_type = CS_YUY2;
  std::vector<PVideoFrame> frames;
  for (size_t i = 0; i < source.size(); ++i) {
    const DumpedFrame& f = source[i];
    if (f.index != static_cast<int32_t>(i) || f.rowSize != 2 * vi.width || f.height != vi.height) {
      std::fprintf(stderr, "avs_compare: %s: source frame %zu is out of place or of another size\n", name.c_str(), i);
      return -1;
    }
    PVideoFrame frame = host::MakeFrame(vi, f.rowSize);
    for (int y = 0; y < f.height; ++y) {
      std::memcpy(frame->GetWritePtr() + static_cast<size_t>(y) * frame->GetPitch(),
                  f.bytes.data() + size_t(y) * f.rowSize, static_cast<size_t>(f.rowSize));
    }
    frames.push_back(frame);
  }
  PClip clip(new host::MemoryClip(vi, frames));
  const std::string planPath = dir + "/" + plan;
  AVSValue args[2] = {AVSValue(clip), AVSValue(planPath.c_str())};
  const char* names[2] = {nullptr, "zemFile"};
  PClip filter = env.Invoke("ZEMIVTC", AVSValue(args, 2), names).AsClip();
  int differences = 0;
  for (const DumpedFrame& got : output) {
    if (got.index < 0 || got.index >= filter->GetVideoInfo().num_frames) {
      std::fprintf(stderr, "avs_compare: %s: the host gave frame %d of a %d-frame clip\n", name.c_str(), got.index,
                   filter->GetVideoInfo().num_frames);
      ++differences;
      continue;
    }
    PVideoFrame want = filter->GetFrame(got.index, &env);
    bool same = got.rowSize == want->GetRowSize() && got.height == want->GetHeight();
    int row = 0;
    for (; same && row < got.height; ++row) {
      same = std::memcmp(got.bytes.data() + size_t(row) * got.rowSize,
                         want->GetReadPtr() + size_t(row) * want->GetPitch(), size_t(got.rowSize)) == 0;
    }
    if (!same && ++differences <= 10) {
      std::fprintf(stderr, "avs_compare: %s: output frame %d differs from the native module's (row %d)\n", name.c_str(),
                   got.index, row - 1);
    }
  }
  if (differences > 0) return -1;
  std::printf("avs_compare: %-12s %zu output frames equal to the native module's (%zu source frames, %dx%d)\n",
              name.c_str(), output.size(), source.size(), vi.width, vi.height);
  return static_cast<long>(output.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: avs_compare MODULE WORKDIR\n");
    return 2;
  }
  const std::string dir = argv[2];
  std::ifstream cases(dir + "/cases.txt");
  if (!cases) {
    std::fprintf(stderr, "avs_compare: no %s/cases.txt (did avs_client run?)\n", dir.c_str());
    return 1;
  }
  long total = 0;
  int scripts = 0;
  bool ok = true;
  try {
    host::ScriptEnvironment env;
    env.LoadPlugin(argv[1]);
    std::string name, plan;
    while (cases >> name >> plan) {
      const long compared = CompareScript(env, dir, name, plan);
      ok = ok && compared >= 0;
      total += compared > 0 ? compared : 0;
      ++scripts;
    }
  } catch (const AvisynthError& e) {
    std::fprintf(stderr, "avs_compare: %s\n", e.msg);
    return 1;
  }
  if (scripts == 0) {
    std::fprintf(stderr, "avs_compare: cases.txt names no script\n");
    return 1;
  }
  std::printf("avs_compare: %ld frames of %d scripts compared: %s\n", total, scripts, ok ? "all equal" : "DIFFERENCES");
  return ok ? 0 : 1;
}
