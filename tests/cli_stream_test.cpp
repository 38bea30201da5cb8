// The command's stream layer: Y4M headers, 4:2:2 packing, frame reading from
// files and pipes, the source clip's buffering and clamping, safe output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/errors.h"
#include "cli/stream_clip.h"
#include "fed_pipe.h"
#include "host/runtime.h"
#include "stream/frame_reader.h"
#include "stream/output.h"
#include "stream/y4m.h"

namespace {

using cli::CliError;

// A C422 stream whose every planar byte is a function of frame, plane offset.
std::string MakeY4m(int width, int height, int frames, const std::string& frameHeader = "FRAME") {
  std::string s =
      "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F30000:1001 It A10:11 C422\n";
  const size_t bytes = static_cast<size_t>(width) * height * 2;
  for (int f = 0; f < frames; ++f) {
    s += frameHeader + "\n";
    for (size_t i = 0; i < bytes; ++i) s += static_cast<char>((i * 7 + f * 31) & 0xFF);
  }
  return s;
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "cli_stream_" + std::to_string(getpid()) + "_" + name;
}

std::string WriteTemp(const std::string& name, const std::string& data) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

std::unique_ptr<stream::FrameReader> OpenFile(const std::string& path) {
  return std::make_unique<stream::FrameReader>(open(path.c_str(), O_RDONLY), path, stream::InputFormat{});
}

// Packed frame n of MakeY4m, as the reader should deliver it.
std::vector<uint8_t> ExpectedPacked(int width, int height, int f) {
  std::vector<uint8_t> planar(static_cast<size_t>(width) * height * 2), packed(planar.size());
  for (size_t i = 0; i < planar.size(); ++i) planar[i] = static_cast<uint8_t>((i * 7 + f * 31) & 0xFF);
  stream::PlanarToPacked(planar.data(), width, height, packed.data(), 2 * width);
  return packed;
}

TEST(CliY4mHeader, AcceptsFfmpegHeadersAndRefusesWhatCannotBeYuy2) {
  const stream::Y4mHeader h =
      stream::ParseY4mHeader("YUV4MPEG2 W720 H480 F30000:1001 Ib A10:11 C422p8 XYSCSS=422 XCOLORRANGE=LIMITED");
  EXPECT_EQ(h.width, 720);
  EXPECT_EQ(h.height, 480);
  EXPECT_EQ(h.fpsNumerator, 30000u);
  EXPECT_EQ(h.interlace, 'b');
  EXPECT_EQ(h.chroma, stream::Chroma::Yuv422);
  EXPECT_EQ(stream::PlanarFrameBytes(h), 720u * 480 * 2);
  for (const char* c : {"", " C420jpeg", " C420paldv", " C420mpeg2", " C420"})
    EXPECT_EQ(stream::ParseY4mHeader(std::string("YUV4MPEG2 W8 H4 F25:1") + c).chroma, stream::Chroma::Yuv420) << c;

  const std::pair<const char*, const char*> refused[] = {
      {"YUV4MPEG2 W8 H4 C444", "C444"},     {"YUV4MPEG2 W8 H4 C422p10", "C422p10"},
      {"YUV4MPEG2 W8 H4 Cmono", "Cmono"},   {"YUV4MPEG2 W7 H4 C422", "odd width 7"},
      {"YUV4MPEG2 H4 C422", "no W"},        {"YUV4MPEG2 W0 H4", "bad width"},
      {"YUV4MPEG2 W-8 H4", "bad width"},    {"YUV4MPEG2 W99999999999 H4", "bad width"},
      {"YUV4MPEG2 W8 H4 F30000:0", "rate"}, {"YUV4MPEG1 W8 H4", "YUV4MPEG2"},
      {"YUV4MPEG2 W8 H40000", "bad height"}};
  for (const auto& [line, needle] : refused) {
    try {
      stream::ParseY4mHeader(line);
      ADD_FAILURE() << "accepted: " << line;
    } catch (const CliError& e) {
      EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
      EXPECT_EQ(e.Status(), cli::ExitFailure);
    }
  }
}

TEST(CliY4mHeader, OutputHeaderIsProgressive422At60000And1001KeepingSizeAspectAndTags) {
  const stream::Y4mHeader in =
      stream::ParseY4mHeader("YUV4MPEG2 W720 H480 F30000:1001 Ib A10:11 C422 XYSCSS=422 XCOLORRANGE=LIMITED");
  EXPECT_EQ(stream::FormatOutputHeader(in), "YUV4MPEG2 W720 H480 F60000:1001 Ip A10:11 C422 XCOLORRANGE=LIMITED\n");
  EXPECT_TRUE(stream::IsFrameHeader("FRAME"));
  EXPECT_TRUE(stream::IsFrameHeader("FRAME Ixyz"));
  EXPECT_FALSE(stream::IsFrameHeader("FRAMEX"));
  EXPECT_FALSE(stream::IsFrameHeader("FRAM"));
}

TEST(CliY4mPacking, InterleavesYuyvHonouringPitchAndRoundTrips) {
  // 4x2 planar: Y rows 0..3, 4..7; U 8,9 / 10,11; V 12,13 / 14,15.
  std::vector<uint8_t> planar(16);
  for (int i = 0; i < 16; ++i) planar[i] = static_cast<uint8_t>(i);
  const int pitch = 12;  // 8 bytes of row and 4 guard bytes
  std::vector<uint8_t> packed(2 * pitch, 0xEE);
  stream::PlanarToPacked(planar.data(), 4, 2, packed.data(), pitch);
  const std::vector<uint8_t> expected = {0, 8,  1, 12, 2, 9,  3, 13, 0xEE, 0xEE, 0xEE, 0xEE,
                                         4, 10, 5, 14, 6, 11, 7, 15, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(packed, expected);
  std::vector<uint8_t> back(16);
  stream::PackedToPlanar(packed.data(), pitch, 4, 2, back.data());
  EXPECT_EQ(back, planar);
}

TEST(CliY4mPacking, WideRowsMatchThePlainInterleaveAtEveryWidth) {
  // Widths around the 16-pixel blocks of the vector path, with pitch padding.
  std::mt19937 rng(77);
  for (int width : {2, 14, 16, 18, 30, 32, 34, 62, 1920}) {
    const int height = 3, pitch = 2 * width + 6;
    std::vector<uint8_t> planar(static_cast<size_t>(width) * height * 2);
    for (uint8_t& b : planar) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> packed(static_cast<size_t>(pitch) * height, 0xEE);
    stream::PlanarToPacked(planar.data(), width, height, packed.data(), pitch);
    const uint8_t* u = planar.data() + width * height;
    const uint8_t* v = u + width / 2 * height;
    for (int row = 0; row < height; ++row)
      for (int x = 0; x < pitch; ++x) {
        const int i = x / 4;
        const uint8_t want = x >= 2 * width ? 0xEE
                             : x % 2 == 0   ? planar[row * width + x / 2]
                             : x % 4 == 1   ? u[row * (width / 2) + i]
                                            : v[row * (width / 2) + i];
        ASSERT_EQ(packed[row * pitch + x], want) << "width " << width << " row " << row << " byte " << x;
      }
    std::vector<uint8_t> back(planar.size() + 8, 0xDD);
    stream::PackedToPlanar(packed.data(), pitch, width, height, back.data());
    EXPECT_TRUE(std::equal(planar.begin(), planar.end(), back.begin())) << width;
    EXPECT_EQ(back[planar.size()], 0xDD) << "wrote past the planes at width " << width;
  }
}

TEST(CliFrameReader, FileReadsAnyFrameInAnyOrderIncludingFrameHeaderParameters) {
  const std::string path = WriteTemp("seek.y4m", MakeY4m(6, 4, 6, "FRAME Ixyz XA=1"));
  auto reader = OpenFile(path);
  ASSERT_TRUE(reader->Seekable());
  std::vector<uint8_t> frame(12 * 4);
  for (int n : {3, 1, 5, 0, 4, 4}) {
    ASSERT_TRUE(reader->ReadFrame(n, frame.data(), 12)) << n;
    EXPECT_EQ(frame, ExpectedPacked(6, 4, n)) << n;
  }
  EXPECT_FALSE(reader->ReadFrame(6, frame.data(), 12));
  EXPECT_EQ(reader->KnownFrameCount(), 6);
  EXPECT_TRUE(reader->ReadFrame(2, frame.data(), 12));
  EXPECT_EQ(frame, ExpectedPacked(6, 4, 2));
  unlink(path.c_str());
}

TEST(CliFrameReader, TruncatedOrCorruptFramesAreErrorsNamingTheFrame) {
  const std::string whole = MakeY4m(4, 2, 3);
  const std::string header = whole.substr(0, whole.find('\n') + 1);
  const size_t frameBytes = 6 + 16;
  struct Case {
    std::string data;
    const char* needle;
  } cases[] = {
      {whole.substr(0, whole.size() - 5), "frame 2 (counting from 0) is truncated: 11 of 16 bytes"},
      {whole.substr(0, header.size() + frameBytes + 3),
       "frame 1 (counting from 0) is truncated inside its frame header"},
      {header + "FRAME\n" + std::string(16, 'a') + "FRAMX\n" + std::string(16, 'a'),
       "frame 1 (counting from 0) has a bad frame header"},
      {header + "GARBAGE" + std::string(40, 'b'), "frame 0"},
  };
  for (const Case& c : cases) {
    const std::string path = WriteTemp("cut.y4m", c.data);
    for (bool viaPipe : {false, true}) {
      std::unique_ptr<FedPipe> fed;
      std::unique_ptr<stream::FrameReader> reader;
      if (viaPipe) {
        fed = std::make_unique<FedPipe>(c.data);
        reader = std::make_unique<stream::FrameReader>(fed->readEnd, "pipe", stream::InputFormat{});
      } else {
        reader = OpenFile(path);
      }
      std::vector<uint8_t> frame(16);
      try {
        for (int n = 0; n < 3; ++n) reader->ReadFrame(viaPipe ? n : 2 - n, frame.data(), 8);
        ADD_FAILURE() << "no error for " << c.needle;
      } catch (const CliError& e) {
        EXPECT_NE(std::string(e.what()).find(c.needle), std::string::npos) << e.what();
      }
    }
    unlink(path.c_str());
  }
}

TEST(CliStreamClip, PipeServesPlanOrderWithFewFramesKeptAndClampsAtTheEnd) {
  const int frames = 40;
  FedPipe fed(MakeY4m(6, 4, frames));
  auto* source =
      new cli::StreamClip(std::make_unique<stream::FrameReader>(fed.readEnd, "pipe", stream::InputFormat{}), 4);
  PClip clip(source);
  host::ScriptEnvironment env;
  EXPECT_EQ(clip->GetVideoInfo().pixel_type, CS_YUY2);
  EXPECT_TRUE(clip->GetParity(0));  // "It"
  auto same = [&](const PVideoFrame& f, int n) {
    const std::vector<uint8_t> want = ExpectedPacked(6, 4, n);
    for (int row = 0; row < 4; ++row)
      if (std::memcmp(f->GetReadPtr() + row * f->GetPitch(), want.data() + row * 12, 12) != 0) return false;
    return true;
  };
  // What the filter asks for odd positions: k+1, then k; with skips in between.
  for (int k : {0, 1, 2, 5, 6, 20}) {
    EXPECT_TRUE(same(clip->GetFrame(k + 1, &env), k + 1)) << k;
    EXPECT_TRUE(same(clip->GetFrame(k, &env), k)) << k;
  }
  EXPECT_TRUE(same(clip->GetFrame(frames + 10, &env), frames - 1));
  EXPECT_TRUE(source->Clamped());
  EXPECT_TRUE(same(clip->GetFrame(frames - 2, &env), frames - 2));
  EXPECT_FALSE(source->Failed());
  // Frame 21 left the ring long ago: a pipe cannot go back, and says so.
  clip->GetFrame(21, &env);
  ASSERT_TRUE(source->Failed());
  EXPECT_NE(source->Error().find("no longer buffered"), std::string::npos) << source->Error();
}

TEST(CliStreamClip, FileClampsPastTheEndAndEmptyInputIsAnError) {
  const std::string path = WriteTemp("clamp.y4m", MakeY4m(6, 4, 3));
  host::ScriptEnvironment env;
  {
    auto* source = new cli::StreamClip(OpenFile(path));
    PClip clip(source);
    EXPECT_EQ(clip->GetVideoInfo().num_frames, 3);
    PVideoFrame last = clip->GetFrame(7, &env);
    EXPECT_EQ(std::memcmp(last->GetReadPtr(), ExpectedPacked(6, 4, 2).data(), 12), 0);
    EXPECT_FALSE(source->Failed());
  }
  const std::string empty = WriteTemp("empty.y4m", MakeY4m(6, 4, 0));
  auto* source = new cli::StreamClip(OpenFile(empty));
  PClip clip(source);
  clip->GetFrame(0, &env);
  EXPECT_TRUE(source->Failed());
  EXPECT_NE(source->Error().find("no frames"), std::string::npos);
  unlink(path.c_str());
  unlink(empty.c_str());
}

TEST(CliOutputFile, ReplacesTheTargetOnlyOnCommitAndReportsWriteErrors) {
  const std::string path = TempPath("out.y4m");
  std::ofstream(path) << "previous";
  {
    stream::OutputFile out(path);
    out.Write("new", 3);
  }  // not committed: the old file stays, no temporary is left
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "previous");
  {
    stream::OutputFile out(path);
    out.Write("new", 3);
    out.Commit();
  }
  std::ifstream again(path);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), "new");
  unlink(path.c_str());

  std::vector<char> big(1 << 16, 'x');
  EXPECT_THROW(
      {
        stream::OutputFile full("/dev/full");
        full.Write(big.data(), big.size());
      },
      CliError);
  EXPECT_THROW(stream::OutputFile("/nonexistent-dir/out.y4m"), CliError);
}

}  // namespace
