// make demo: a moving progressive clip, telecined 3:2 in memory, recovered by
// ZEMIVTC through the host with a plan that uses every code. Reports how many
// output frames are exactly the original film frames, and writes stills of a
// combed frame, its weave and its two field rebuilds.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/runtime.h"

namespace {

const int Width = 640;
const int Height = 480;
const int FilmFrames = 24;

typedef std::vector<uint8_t> Picture;  // packed YUY2, 2 * Width bytes a row

// Film frame f: a soft gradient, a bar sweeping right and a ball bouncing.
Picture FilmFrame(int f) {
  Picture p(static_cast<size_t>(2) * Width * Height);
  const double barX = 40 + f * 23.0;
  const double ballX = 320 + 200 * std::sin(f * 0.35), ballY = 240 + 150 * std::cos(f * 0.5);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; x += 2) {
      uint8_t* px = &p[static_cast<size_t>(y) * 2 * Width + 2 * x];
      auto luma = [&](int xx) {
        double v = 40 + 120.0 * (xx + y) / (Width + Height);
        if (std::fabs(xx - barX) < 18) v = 235;
        const double dx = xx - ballX, dy = y - ballY;
        if (dx * dx + dy * dy < 60 * 60) v = 16 + (static_cast<int>(dx + dy + 200) / 20 % 2) * 200;
        return static_cast<uint8_t>(v);
      };
      px[0] = luma(x);
      px[1] = static_cast<uint8_t>(128 + 24 * std::sin((x + f * 9) * 0.02));  // U
      px[2] = luma(x + 1);
      px[3] = static_cast<uint8_t>(128 + 24 * std::cos((y - f * 7) * 0.02));  // V
    }
  }
  return p;
}

// 3:2 pulldown, top field first: fields At Ab At Bb Bt Cb Ct Cb Dt Db, paired
// into frames (At,Ab) (At,Bb) (Bt,Cb) (Ct,Cb) (Dt,Db).
std::vector<Picture> Telecine(const std::vector<Picture>& film) {
  std::vector<const Picture*> tops, bottoms;
  for (size_t f = 0; f < film.size(); ++f) {
    const int fields = f % 2 == 0 ? 3 : 2;
    for (int i = 0; i < fields; ++i) ((tops.size() + bottoms.size()) % 2 == 0 ? tops : bottoms).push_back(&film[f]);
  }
  std::vector<Picture> video;
  const size_t rowBytes = static_cast<size_t>(2) * Width;
  for (size_t i = 0; i < tops.size() && i < bottoms.size(); ++i) {
    Picture frame(rowBytes * Height);
    for (int y = 0; y < Height; ++y) {
      const Picture& from = y % 2 == 0 ? *tops[i] : *bottoms[i];
      std::memcpy(&frame[y * rowBytes], &from[y * rowBytes], rowBytes);
    }
    video.push_back(frame);
  }
  return video;
}

PClip MakeClip(const std::vector<Picture>& video) {
  VideoInfo vi{};
  vi.width = Width;
  vi.height = Height;
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = static_cast<int>(video.size());
  vi.pixel_type = CS_YUY2;
  std::vector<PVideoFrame> frames;
  for (const Picture& p : video) {
    PVideoFrame frame = host::MakeFrame(vi, 2 * Width);
    for (int y = 0; y < Height; ++y)
      std::memcpy(frame->GetWritePtr() + y * frame->GetPitch(), &p[static_cast<size_t>(y) * 2 * Width], 2 * Width);
    frames.push_back(frame);
  }
  return PClip(new host::MemoryClip(vi, frames));
}

Picture Visible(const PVideoFrame& frame) {
  Picture p(static_cast<size_t>(2) * Width * Height);
  for (int y = 0; y < Height; ++y)
    std::memcpy(&p[static_cast<size_t>(y) * 2 * Width], frame->GetReadPtr() + y * frame->GetPitch(), 2 * Width);
  return p;
}

std::string WritePlan(const std::string& dir, const std::string& name, const std::string& text) {
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return path;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return path;
}

PClip Filter(host::ScriptEnvironment& env, const PClip& clip, const std::string& planPath) {
  AVSValue args[2] = {AVSValue(clip), AVSValue(planPath.c_str())};
  const char* names[2] = {nullptr, "zemFile"};
  return env.Invoke("ZEMIVTC", AVSValue(args, 2), names).AsClip();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s MODULE OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[2];
  try {
    host::ScriptEnvironment env;
    std::printf("module: %s (%s)\n", argv[1], env.LoadPlugin(argv[1]).c_str());

    std::vector<Picture> film;
    for (int f = 0; f < FilmFrames; ++f) film.push_back(FilmFrame(f));
    const std::vector<Picture> video = Telecine(film);
    PClip source = MakeClip(video);

    // Every five video frames (ten field positions) hold four film frames
    // whole at positions 0, 3, 6 and 8; the positions between them get the
    // other codes, so the output mixes recovered film with filtered frames.
    std::string plan;
    const char* cycle = "1231451610";
    for (size_t i = 0; i < video.size() * 2; ++i) plan.push_back(cycle[i % 10]);
    const std::string planPath = WritePlan(dir, "demo_plan.txt", plan);
    PClip filter = Filter(env, source, planPath);
    const VideoInfo& vi = filter->GetVideoInfo();
    std::printf("source: %d telecined frames of %dx%d from %d film frames\n", static_cast<int>(video.size()), Width,
                Height, FilmFrames);
    std::printf("plan: %s (%zu positions)\n", plan.c_str(), plan.size());

    int recovered = 0;
    std::vector<bool> found(film.size(), false);
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < vi.num_frames; ++n) {
      const Picture out = Visible(filter->GetFrame(n, &env));
      for (size_t f = 0; f < film.size(); ++f) {
        if (!found[f] && out == film[f]) {
          found[f] = true;
          ++recovered;
          break;
        }
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("output: %d frames at %u/%u fps\n", vi.num_frames, vi.fps_numerator, vi.fps_denominator);
    std::printf("recovered film frames: %d of %d (byte for byte)\n", recovered, FilmFrames);
    std::printf("time per output frame: %.3f ms\n", 1000.0 * seconds / (vi.num_frames ? vi.num_frames : 1));

    // Stills of video frame 1 (top field from film frame A, bottom from B).
    struct Still {
      const char* name;
      const char* plan;
    } stills[] = {{"combed", "001"}, {"weave", "0001"}, {"top_field", "005"}, {"bottom_field", "004"}};
    for (const Still& s : stills) {
      PClip one = Filter(env, source, WritePlan(dir, std::string("still_") + s.name + ".txt", s.plan));
      const Picture p = Visible(one->GetFrame(0, &env));
      const std::string path = dir + "/" + s.name + ".yuyv";
      FILE* f = std::fopen(path.c_str(), "wb");
      if (!f || std::fwrite(p.data(), 1, p.size(), f) != p.size()) {
        std::fprintf(stderr, "demo: cannot write %s\n", path.c_str());
        return 1;
      }
      std::fclose(f);
    }
    std::printf("stills: %s/{combed,weave,top_field,bottom_field}.yuyv (%dx%d yuyv422)\n", dir.c_str(), Width, Height);
    return recovered == FilmFrames ? 0 : 1;
  } catch (const AvisynthError& e) {
    std::fprintf(stderr, "demo: %s\n", e.msg);
    return 1;
  }
}
