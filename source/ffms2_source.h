// A source read through FFMS2 (DVD VOBs, MPEG-TS, MKV, MP4, ... as they
// are): frame-accurate frames by index, in one of two field modes, with an
// index cache. It gives what the command reads from a Y4M stream
// (stream::FrameReader): the stream's properties up front and any frame by
// index as planar 8-bit 4:2:0 or 4:2:2 bytes exactly as decoded.
//
// Frame accuracy: the first opening of a file indexes it and then decodes
// every frame in order, which is how ffmpeg decodes it, and records a hash
// of each frame's pixels. Every later frame, however it is reached (FFMS2
// seeks to a key frame before it), must reproduce its hash; one that does
// not is decoded again from earlier key frames and at last from the
// file's start, and a frame that still differs is refused, never given.
#ifndef ZEMIVTC_SOURCE_FFMS2_SOURCE_H
#define ZEMIVTC_SOURCE_FFMS2_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "source/field_map.h"
#include "stream/y4m.h"

namespace source {

// Player: the fields as a player shows them (repeat-first-field flags
// applied, fields paired again in display order; field_map.h). Coded: the
// coded frames as they are.
enum class FieldMode { Player, Coded };

struct IndexProgress {
  const char* stage;  // "indexing" (bytes of the file) or "reading frames" (frames)
  int64_t done;
  int64_t total;
};

struct Ffms2Options {
  FieldMode mode = FieldMode::Player;
  std::string library;      // FFMS2's file; empty: libffms2.so.5 or ffms2.dll as the system finds it
  std::string cacheFolder;  // empty: $XDG_CACHE_HOME/zemivtc, ~/.cache/zemivtc, %LOCALAPPDATA%\zemivtc
  bool useCache = true;
  std::function<void(const IndexProgress&)> progress;  // during the first opening of a file
  // One line each: a damaged cache entry rebuilt, an entry that cannot be
  // written. Empty: printed to standard error after "zemivtc: warning: ".
  std::function<void(const std::string&)> warning;
};

struct SourceProperties {
  int width = 0;
  int height = 0;
  stream::Chroma chroma = stream::Chroma::Yuv420;
  std::string pixelFormat;  // the decoder's: "yuv420p", "yuvj422p", ...
  std::string colorTag;     // the Y4M C tag the frames carry: "420mpeg2", "420jpeg", "420paldv", "422"
  // The first frame's range as ffmpeg's Y4M writer states it: "LIMITED",
  // "FULL", or empty where the stream says nothing.
  std::string colorRange;
  unsigned fpsNumerator = 0;  // of the frames given: the player's rate in player mode
  unsigned fpsDenominator = 0;
  int sarNumerator = 0;  // 0:0 when the stream gives none
  int sarDenominator = 0;
  int frameCount = 0;   // frames given, known before any is read
  int codedFrames = 0;  // frames the stream codes, from the first it shows
  // Frames at the start of a stream cut into that no decoder can make
  // whole (P- and B-frames before its first key frame), not given.
  int leadingFramesDropped = 0;
  int repeatedFields = 0;  // fields the repeat flags show again (player mode)
  int droppedFields = 0;   // fields left without a partner (player mode)
  // The order the stream's flags give the whole clip, as a Y4M header's It
  // or Ib would; Unknown where they give none (every frame progressive) or
  // both. `orderReason` says which, for messages.
  stream::FieldOrder streamOrder = stream::FieldOrder::Unknown;
  std::string orderReason;
  std::string container;  // FFMS2's (libavformat's) name: "mpeg", "matroska,webm", "mpegts"
  std::string codec;
  bool indexFromCache = false;
};

// A given frame: planar Y, U, V one after another with their rows packed
// (the layout of a Y4M frame's bytes), in a buffer that `owner` keeps. The
// reader reuses a buffer only once nothing else holds its owner.
struct SourceFrame {
  const uint8_t* plane[3] = {nullptr, nullptr, nullptr};
  ptrdiff_t pitch[3] = {0, 0, 0};
  const uint8_t* data = nullptr;  // == plane[0], the whole frame's bytes
  size_t bytes = 0;
  bool topFirst = true;  // the field a player shows first is the top one
  std::shared_ptr<const std::vector<uint8_t>> owner;
};

// One thread at a time: the frames handed out may be read on any thread.
class Ffms2Source {
 public:
  // Opens `path` (UTF-8). Throws stream::CliError with one line when FFMS2
  // is missing, the file cannot be indexed or decoded, or its format is not
  // 8-bit 4:2:0 or 4:2:2 (naming the ffmpeg command that makes a Y4M).
  static std::unique_ptr<Ffms2Source> Open(const std::string& path, const Ffms2Options& options = Ffms2Options());
  ~Ffms2Source();
  Ffms2Source(const Ffms2Source&) = delete;
  Ffms2Source& operator=(const Ffms2Source&) = delete;

  const SourceProperties& Properties() const { return properties; }
  // The header a Y4M stream of these frames would have: size, rate, aspect,
  // colour tag, XCOLORRANGE as ffmpeg writes it, and It, Ib or no I tag
  // from streamOrder.
  stream::Y4mHeader Header() const;
  // Frame n, 0 <= n < frameCount, in any order. Throws stream::CliError for
  // n out of range or a frame that cannot be decoded as on the first reading.
  SourceFrame Frame(int n);
  // How often a decoded frame failed its hash and was decoded again (the
  // seeks FFMS2 could not place), for the benchmark.
  int Redecodes() const { return redecodes; }

  struct State;

 private:
  explicit Ffms2Source(std::unique_ptr<State> state);
  // `reuseEntry` false: the cache entry is not read (it proved stale) but
  // written again.
  static std::unique_ptr<Ffms2Source> Open(const std::string& path, const Ffms2Options& options, bool reuseEntry);
  std::unique_ptr<State> state;
  SourceProperties properties;
  int redecodes = 0;
};

// The ffmpeg command that makes a Y4M file of `path` instead, for messages.
std::string Y4mCommand(const std::string& path, const char* pixelFormat = "yuv420p");

}  // namespace source

#endif
