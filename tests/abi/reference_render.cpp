// Renders the interface host's cases through the native module in the
// stand-in host and writes what the Windows module must reproduce: per case
// the output frame count as 4 bytes, then every output frame's visible bytes,
// row after row.
//
//   abi_reference MODULE OUTPUT
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/runtime.h"
#include "tests/abi/cases.h"

namespace {

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void RenderCase(host::ScriptEnvironment& env, int index, const std::string& planPath, std::string& out) {
  const abi::Case& c = abi::Cases[index];
  VideoInfo vi{};
  vi.width = c.width;
  vi.height = c.height;
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = c.frames;
  vi.pixel_type = CS_YUY2;
  abi::Xorshift rng{abi::CaseSeed(index)};
  std::vector<PVideoFrame> frames;
  for (int f = 0; f < c.frames; ++f) {
    PVideoFrame frame = host::MakeFrame(vi, 2 * c.width + c.sourcePadding, false, c.sourceOffset);
    abi::DrawSourceFrame(c, rng, frame->GetWritePtr(), frame->GetPitch());
    frames.push_back(frame);
  }
  PClip source(new host::MemoryClip(vi, frames));
  AVSValue args[2] = {AVSValue(source), AVSValue(planPath.c_str())};
  const char* names[2] = {nullptr, "zemFile"};
  PClip filter = env.Invoke("ZEMIVTC", AVSValue(args, 2), names).AsClip();
  const int32_t count = filter->GetVideoInfo().num_frames;
  out.append(reinterpret_cast<const char*>(&count), 4);
  for (int n = 0; n < count; ++n) {
    PVideoFrame frame = filter->GetFrame(n, &env);
    for (int y = 0; y < frame->GetHeight(); ++y) {
      out.append(reinterpret_cast<const char*>(frame->GetReadPtr()) + static_cast<size_t>(y) * frame->GetPitch(),
                 static_cast<size_t>(frame->GetRowSize()));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: abi_reference MODULE OUTPUT\n");
    return 2;
  }
  const std::string output = argv[2];
  const std::string planPath = output + ".plan";
  std::string bytes;
  try {
    host::ScriptEnvironment env;
    env.LoadPlugin(argv[1]);
    for (int index = 0; index < abi::CaseCount; ++index) {
      const char* plan = abi::Cases[index].plan;
      if (!WriteFile(planPath, std::string(plan, std::strlen(plan)))) {
        std::fprintf(stderr, "abi_reference: cannot write %s\n", planPath.c_str());
        return 1;
      }
      RenderCase(env, index, planPath, bytes);
    }
  } catch (const AvisynthError& e) {
    std::fprintf(stderr, "abi_reference: %s\n", e.msg);
    std::remove(planPath.c_str());
    return 1;
  }
  std::remove(planPath.c_str());
  if (!WriteFile(output, bytes)) {
    std::fprintf(stderr, "abi_reference: cannot write %s\n", output.c_str());
    return 1;
  }
  std::printf("abi_reference: %lu bytes\n", static_cast<unsigned long>(bytes.size()));
  return 0;
}
