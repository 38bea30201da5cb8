// The FFMS2 source reader against ffmpeg's own decode of clips made here:
// every frame byte for byte, read forward, backward and shuffled, in every
// container (MPEG-2 in a program stream, interlaced H.264 in MKV and
// MPEG-TS, 4:2:2, a stream cut into at an open GOP, one cut off mid-packet),
// soft-telecined MPEG-2 as ffmpeg's repeatfields filter shows it, the index
// cache, and the refusals.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "source/ffms2_source.h"
#include "stream/errors.h"
#include "stream/frame_reader.h"
#include "tests/footage.h"

namespace {

namespace fs = std::filesystem;
using source::FieldMode;
using stream::FieldOrder;

std::string dir;  // the clips, made once

std::string Clip(const std::string& name) { return dir + "/" + name; }

// MPEG-2 and x264 with the same bytes on every x86-64 processor.
const std::string Mpeg2 = "-c:v mpeg2video -threads 1 -dct int -idct simple -flags +ilme+ildct+bitexact -b:v 2M ";
const std::string X264 = "-c:v libx264 -threads 1 -flags +bitexact -preset fast -crf 26 -x264-params asm=0:keyint=15";

void Cut(const std::string& from, const std::string& to, size_t begin, size_t end) {
  std::ifstream in(from, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(to, std::ios::binary) << b.substr(begin, end - begin);
}

class SourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/zemivtc-source-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    dir = folder;
    using footage::Ffmpeg;
    using footage::Run;
    const std::string video = Clip("video.y4m");
    Run(Ffmpeg(
        "-f lavfi -i testsrc2=size=160x128:rate=60000/1001",
        "-frames:v 72 -vf tinterlace=mode=interleave_top,setfield=tff -pix_fmt yuv420p -f yuv4mpegpipe " + video));
    Run(Ffmpeg("-i " + video, Mpeg2 + "-g 12 -bf 2 -f vob " + Clip("tff.vob")));
    Run(Ffmpeg("-i " + video, X264 + ":interlaced=1:tff=1 " + Clip("tff.mkv")));
    Run(Ffmpeg("-i " + video, "-vf setfield=bff " + X264 + ":interlaced=1:bff=1 -f mpegts " + Clip("bff.ts")));
    Run(Ffmpeg("-i " + video, Mpeg2 + "-g 12 -bf 2 -pix_fmt yuv422p " + Clip("yuv422.mkv")));
    Run(Ffmpeg("-i " + video, X264 + " -pix_fmt yuv444p " + Clip("yuv444.mkv")));
    // Into the stream at a pack boundary: it starts inside a GOP, and the
    // first whole GOP is open (its B-frames refer to a picture before it).
    Cut(Clip("tff.vob"), Clip("opengop.vob"), 2048 * 40, fs::file_size(Clip("tff.vob")));
    // Cut off inside a transport packet, as an interrupted copy leaves it.
    Cut(Clip("bff.ts"), Clip("cut.ts"), 0, fs::file_size(Clip("bff.ts")) * 2 / 3 + 77);
    Run(Ffmpeg("-f lavfi -i testsrc2=size=160x128:rate=24000/1001",
               "-frames:v 48 -pix_fmt yuv420p " + Mpeg2.substr(0, Mpeg2.find("-flags")) +
                   "-flags +bitexact -b:v 2M -g 12 -bf 0 -f mpeg2video " + Clip("film.m2v")));
    footage::SoftTelecine(Clip("film.m2v"), Clip("soft.m2v"));
    Run(Ffmpeg("-i " + Clip("soft.m2v"), "-c copy -f vob " + Clip("soft.vob")));
    std::ofstream(Clip("text.vob")) << "not a video\n";
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static source::Ffms2Options Options(FieldMode mode, std::vector<std::string>* warnings = nullptr) {
    source::Ffms2Options options;
    options.mode = mode;
    options.cacheFolder = Clip("cache");
    options.warning = [warnings](const std::string& line) {
      if (warnings) warnings->push_back(line);
    };
    return options;
  }
};

// ffmpeg's frames of `path` as decoded (through `filters`), planar bytes.
std::vector<std::string> FfmpegFrames(const std::string& path, const std::string& filters) {
  const std::string y4m = path + (filters.empty() ? "" : "." + filters) + ".y4m";
  footage::Run(footage::Ffmpeg(
      "-i " + path, (filters.empty() ? "" : "-vf " + filters) + " -fps_mode passthrough -f yuv4mpegpipe " + y4m));
  std::unique_ptr<stream::FrameReader> reader = stream::OpenFrameReader(y4m, stream::InputFormat());
  const size_t bytes = stream::PlanarFrameBytes(reader->Header());
  std::vector<std::string> frames;
  stream::StoredFrame stored;
  while (reader->ReadStoredFrame(&stored)) {
    frames.emplace_back(reinterpret_cast<const char*>(stored.data), bytes);
    stored = stream::StoredFrame();
  }
  return frames;
}

TEST_F(SourceTest, FramesAreFfmpegsDecodeInAnyOrder) {
  const struct {
    const char* clip;
    FieldMode mode;
    const char* filters;  // what ffmpeg applies to show the same frames
    FieldOrder order;
    stream::Chroma chroma;
    // The file ends inside the last frame's data: the decoder conceals what
    // is missing, and how differs with how the cut-off packet reaches it.
    bool lastFrameCut = false;
  } cases[] = {
      {"tff.vob", FieldMode::Coded, "", FieldOrder::TopFirst, stream::Chroma::Yuv420},
      {"tff.mkv", FieldMode::Player, "", FieldOrder::TopFirst, stream::Chroma::Yuv420},
      {"bff.ts", FieldMode::Player, "", FieldOrder::BottomFirst, stream::Chroma::Yuv420},
      {"yuv422.mkv", FieldMode::Coded, "", FieldOrder::TopFirst, stream::Chroma::Yuv422},
      {"opengop.vob", FieldMode::Player, "", FieldOrder::TopFirst, stream::Chroma::Yuv420},
      {"cut.ts", FieldMode::Coded, "", FieldOrder::BottomFirst, stream::Chroma::Yuv420, true},
      {"soft.vob", FieldMode::Player, "repeatfields", FieldOrder::TopFirst, stream::Chroma::Yuv420},
      {"soft.vob", FieldMode::Coded, "", FieldOrder::Unknown, stream::Chroma::Yuv420},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.clip) + (c.mode == FieldMode::Player ? " as a player shows it" : " as coded"));
    const std::vector<std::string> expected = FfmpegFrames(Clip(c.clip), c.filters);
    std::unique_ptr<source::Ffms2Source> reader = source::Ffms2Source::Open(Clip(c.clip), Options(c.mode));
    const source::SourceProperties& p = reader->Properties();
    ASSERT_EQ(p.frameCount, static_cast<int>(expected.size()));
    EXPECT_EQ(p.streamOrder, c.order) << p.orderReason;
    EXPECT_EQ(p.chroma, c.chroma);
    std::vector<int> forward(expected.size()), backward, shuffled;
    for (size_t n = 0; n < forward.size(); ++n) forward[n] = static_cast<int>(n);
    backward.assign(forward.rbegin(), forward.rend());
    shuffled = forward;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    for (const std::vector<int>* order : {&forward, &backward, &shuffled})
      for (int n : *order) {
        const source::SourceFrame frame = reader->Frame(n);
        if (c.lastFrameCut && n + 1 == p.frameCount) continue;
        ASSERT_TRUE(std::string(reinterpret_cast<const char*>(frame.data), frame.bytes) == expected[n])
            << "frame " << n << " read "
            << (order == &forward    ? "forward"
                : order == &backward ? "backward"
                                     : "shuffled");
      }
  }
}

TEST_F(SourceTest, SoftTelecineShowsEachFilmFramesFieldsWithTheRepeatsCounted) {
  std::unique_ptr<source::Ffms2Source> player = source::Ffms2Source::Open(Clip("soft.vob"), Options(FieldMode::Player));
  EXPECT_EQ(player->Properties().codedFrames, 48);
  EXPECT_EQ(player->Properties().frameCount, 60);
  EXPECT_EQ(player->Properties().repeatedFields, 24);
  EXPECT_EQ(player->Properties().droppedFields, 0);
  EXPECT_EQ(player->Properties().fpsNumerator * 1001u, player->Properties().fpsDenominator * 30000u);
}

TEST_F(SourceTest, PlayerFramesPairTheFieldsAPlayerShows) {
  // Flags per coded frame: T/B first field, + for a repeated first field.
  const struct {
    const char* flags;
    const char* frames;  // per given frame: top field's coded frame, bottom's
    int repeated, dropped;
  } cases[] = {
      {"T+ B B+ T", "00 01 12 22 33", 2, 0},  // 3:2 soft telecine
      {"B B B", "00 11 22", 0, 0},            // bottom first throughout
      {"T+ T B", "00 11 22", 1, 1},           // the repeated field has no partner: dropped
      {"T+", "00", 1, 1},                     // the last field alone
  };
  for (const auto& c : cases) {
    std::vector<source::CodedFrameFacts> coded;
    for (const char* f = c.flags; *f; ++f)
      if (*f == 'T' || *f == 'B') coded.push_back({0, *f == 'T', true, static_cast<uint8_t>(f[1] == '+')});
    const source::FieldMap map = source::PlayerFrames(coded);
    std::string frames;
    for (const source::FieldPair& pair : map.frames)
      frames += (frames.empty() ? "" : " ") + std::to_string(pair.topFrom) + std::to_string(pair.bottomFrom);
    EXPECT_EQ(frames, c.frames) << c.flags;
    EXPECT_EQ(map.repeatedFields, c.repeated) << c.flags;
    EXPECT_EQ(map.droppedFields, c.dropped) << c.flags;
  }
}

TEST_F(SourceTest, IndexCacheIsReusedRenewedAndRebuilt) {
  const std::string file = Clip("cached.mkv"), cache = Clip("cache");
  fs::copy_file(Clip("tff.mkv"), file);
  auto entries = [&] {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(cache))
      if (e.path().extension() == ".ffindex") found.push_back(e.path());
    return found;
  };
  auto damage = [&](bool truncate) {
    for (const fs::path& entry : entries()) {
      std::fstream f(entry, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(truncate ? 0 : 200);
      f.put('\x55');
      f.close();
      if (truncate) fs::resize_file(entry, fs::file_size(entry) / 2);
    }
  };
  const struct {
    const char* step;
    std::function<void()> change;
    bool reused, warned;
  } steps[] = {
      {"first opening", [] {}, false, false},
      {"second opening", [] {}, true, false},
      {"source replaced", [&] { fs::copy_file(Clip("bff.ts"), file, fs::copy_options::overwrite_existing); }, false,
       false},
      {"source rewritten with its old bytes",
       [&] { fs::copy_file(Clip("tff.mkv"), file, fs::copy_options::overwrite_existing); }, false, false},
      {"entry damaged", [&] { damage(false); }, false, true},
      {"entry truncated", [&] { damage(true); }, false, true},
      {"after the rebuild", [] {}, true, false},
  };
  for (const auto& s : steps) {
    s.change();
    std::vector<std::string> warnings;
    source::Ffms2Options options = Options(FieldMode::Coded, &warnings);
    int64_t lastDone = 0, lastTotal = -1;
    options.progress = [&](const source::IndexProgress& p) { lastDone = p.done, lastTotal = p.total; };
    std::unique_ptr<source::Ffms2Source> reader = source::Ffms2Source::Open(file, options);
    EXPECT_EQ(reader->Properties().indexFromCache, s.reused) << s.step;
    EXPECT_EQ(!warnings.empty(), s.warned) << s.step << ": " << (warnings.empty() ? "" : warnings[0]);
    EXPECT_EQ(lastDone == lastTotal, !s.reused) << s.step << ": progress ends at the last frame";
    EXPECT_EQ(reader->Properties().frameCount, 72) << s.step;
  }
}

TEST_F(SourceTest, RefusalsSayWhatToDo) {
  const struct {
    const char* what;
    std::string clip;
    std::string library;
    const char* says;
  } cases[] = {
      {"no FFMS2", "tff.mkv", "/nonexistent/libffms2.so.5", "apt install libffms2-5"},
      {"4:4:4", "yuv444.mkv", "", "yuv444p, and only 8-bit 4:2:0 and 4:2:2"},
      {"4:4:4's conversion", "yuv444.mkv", "", "-pix_fmt yuv420p -f yuv4mpegpipe"},
      {"no video", "text.vob", "", "make a Y4M file of it: ffmpeg -i"},
      {"no file", "missing.vob", "", "cannot read"},
  };
  for (const auto& c : cases) {
    source::Ffms2Options options = Options(FieldMode::Player);
    options.library = c.library;
    std::string message;
    try {
      source::Ffms2Source::Open(Clip(c.clip), options);
    } catch (const stream::CliError& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(c.says), std::string::npos) << c.what << ": " << message;
  }
  std::unique_ptr<source::Ffms2Source> reader = source::Ffms2Source::Open(Clip("tff.vob"), Options(FieldMode::Coded));
  EXPECT_THROW(reader->Frame(reader->Properties().frameCount), stream::CliError);
}

}  // namespace
