// Times the FFMS2 source reader for bench/source_bench.sh:
//   index FILE CACHE      the first opening (index and first reading) and a second one, in seconds
//   read FILE CACHE Y4M   every frame of FILE through the reader, then every frame of Y4M through
//                         stream::FrameReader, in frames per second
//   readall FILE CACHE    every frame, for /usr/bin/time's peak memory
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "source/ffms2_source.h"
#include "source/index_cache.h"
#include "stream/errors.h"
#include "stream/frame_reader.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

source::Ffms2Options Options(const char* cache) {
  source::Ffms2Options options;
  options.cacheFolder = cache;
  options.mode = source::FieldMode::Coded;
  return options;
}

// Reads every frame; returns a checksum of them, so that no read is skipped.
uint64_t ReadAll(source::Ffms2Source& reader) {
  uint64_t sum = 0;
  for (int n = 0; n < reader.Properties().frameCount; ++n) {
    const source::SourceFrame frame = reader.Frame(n);
    sum = source::HashBytes(frame.data, frame.bytes, sum);
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s index|read|readall FILE CACHE [Y4M]\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  try {
    if (mode == "index") {
      auto start = std::chrono::steady_clock::now();
      int frames = source::Ffms2Source::Open(argv[2], Options(argv[3]))->Properties().frameCount;
      const double first = Seconds(start);
      start = std::chrono::steady_clock::now();
      source::Ffms2Source::Open(argv[2], Options(argv[3]));
      std::printf("frames=%d first_open_s=%.3f cached_open_s=%.3f\n", frames, first, Seconds(start));
    } else if (mode == "read" && argc > 4) {
      std::unique_ptr<source::Ffms2Source> reader = source::Ffms2Source::Open(argv[2], Options(argv[3]));
      auto start = std::chrono::steady_clock::now();
      const uint64_t sourceSum = ReadAll(*reader);
      const double sourceSeconds = Seconds(start);
      start = std::chrono::steady_clock::now();
      std::unique_ptr<stream::FrameReader> y4m = stream::OpenFrameReader(argv[4], stream::InputFormat());
      const size_t bytes = stream::PlanarFrameBytes(y4m->Header());
      stream::StoredFrame stored;
      uint64_t y4mSum = 0;
      int y4mFrames = 0;
      while (y4m->ReadStoredFrame(&stored)) {
        y4mSum = source::HashBytes(stored.data, bytes, y4mSum);
        stored = stream::StoredFrame();
        ++y4mFrames;
      }
      const double y4mSeconds = Seconds(start);
      const int frames = reader->Properties().frameCount;
      std::printf("frames=%d source_fps=%.1f y4m_fps=%.1f source_over_y4m_time=%.2f same_frames=%s redecodes=%d\n",
                  frames, frames / sourceSeconds, y4mFrames / y4mSeconds, sourceSeconds / y4mSeconds,
                  sourceSum == y4mSum && frames == y4mFrames ? "yes" : "no", reader->Redecodes());
    } else if (mode == "readall") {
      std::unique_ptr<source::Ffms2Source> reader = source::Ffms2Source::Open(argv[2], Options(argv[3]));
      const auto start = std::chrono::steady_clock::now();
      ReadAll(*reader);
      std::printf("frames=%d read_s=%.2f\n", reader->Properties().frameCount, Seconds(start));
    } else {
      std::fprintf(stderr, "unknown mode %s\n", argv[1]);
      return 2;
    }
  } catch (const stream::CliError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
