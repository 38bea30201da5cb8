// The command's stream layer: Y4M headers, 4:2:2 packing, frame reading from
// files and pipes, the source frames' buffering and clamping, safe output.
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
      {"YUV4MPEG2 W8 H4 C444", "C444"},
      {"YUV4MPEG2 W8 H4 C422p10", "C422p10"},
      {"YUV4MPEG2 W7 H4 C420mpeg2", "odd width 7 in 4:2:0 (C420mpeg2)"},
      {"YUV4MPEG2 W8 H4 Cmono", "Cmono"},
      {"YUV4MPEG2 W7 H4 C422", "odd width 7"},
      {"YUV4MPEG2 H4 C422", "no W"},
      {"YUV4MPEG2 W0 H4", "bad width"},
      {"YUV4MPEG2 W-8 H4", "bad width"},
      {"YUV4MPEG2 W99999999999 H4", "bad width"},
      {"YUV4MPEG2 W8 H4 F30000:0", "rate"},
      {"YUV4MPEG1 W8 H4", "YUV4MPEG2"},
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

TEST(CliY4mHeader, FourTwoZeroKeepsItsTagAndLayoutsRefuseSizesWithoutWholeFields) {
  const struct {
    const char* color;
    stream::Chroma out;
    const char* tag;
  } tags[] = {{" C420mpeg2", stream::Chroma::Yuv420, "C420mpeg2"}, {" C420paldv", stream::Chroma::Yuv420, "C420paldv"},
              {" C420", stream::Chroma::Yuv420, "C420"},           {"", stream::Chroma::Yuv420, "C420jpeg"},
              {" C420jpeg", stream::Chroma::Yuv422, "C422"},       {" C422", stream::Chroma::Yuv420, "C420"}};
  for (const auto& t : tags)
    EXPECT_EQ(stream::FormatOutputHeader(
                  stream::ParseY4mHeader(std::string("YUV4MPEG2 W8 H4 F25:1 Ib XYSCSS=420MPEG2") + t.color), 24000,
                  1001, t.out),
              std::string("YUV4MPEG2 W8 H4 F24000:1001 Ip ") + t.tag + "\n")
        << t.color;

  const struct {
    const char* interlace;
    stream::FieldOrder order;
  } orders[] = {{" It", stream::FieldOrder::TopFirst},
                {" Ib", stream::FieldOrder::BottomFirst},
                {" Ip", stream::FieldOrder::Unknown},
                {" Im", stream::FieldOrder::Unknown},
                {"", stream::FieldOrder::Unknown}};
  for (const auto& o : orders)
    EXPECT_EQ(stream::HeaderFieldOrder(stream::ParseY4mHeader(std::string("YUV4MPEG2 W8 H4") + o.interlace)), o.order)
        << o.interlace;

  const struct {
    int height;
    stream::Chroma chroma;
    bool mirrored;
    const char* problem;  // "" when the frames can be carried
  } layouts[] = {{4, stream::Chroma::Yuv420, false, ""},
                 {8, stream::Chroma::Yuv420, true, ""},
                 {6, stream::Chroma::Yuv420, false, "8x6 is not"},
                 {2, stream::Chroma::Yuv420, true, "multiple of 4"},
                 {5, stream::Chroma::Yuv422, false, ""},
                 {6, stream::Chroma::Yuv422, true, ""},
                 {5, stream::Chroma::Yuv422, true, "bottom field first needs an even height"}};
  for (const auto& l : layouts) {
    const std::string problem = stream::LayoutProblem(8, l.height, {l.chroma, l.mirrored});
    if (*l.problem == '\0')
      EXPECT_EQ(problem, "") << l.height;
    else
      EXPECT_NE(problem.find(l.problem), std::string::npos) << problem;
  }
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

// Stream row s of field s % 2 takes, at 4:2:0, that field's chroma row
// (s / 2) / 2: chroma rows alternate fields, each over two rows of its field.
int ChromaRowModel(int s, stream::Chroma chroma) {
  return chroma == stream::Chroma::Yuv422 ? s : (s / 2) / 2 * 2 + s % 2;
}

// Every layout: each packed row holds its stream row's luma and the chroma
// its field has for it, planar frames come back whole, and a weave of two
// frames' packed rows (even rows of one, odd of the other, as the filter's
// weave) gives each field's rows, chroma rows included, from its own frame.
TEST(CliY4mPacking, EveryLayoutCarriesEachFieldsChromaWithItsRowsAndRoundTrips) {
  std::mt19937 rng(2017);  // fixed seed
  for (const stream::Chroma chroma : {stream::Chroma::Yuv422, stream::Chroma::Yuv420})
    for (const bool mirrored : {false, true})
      for (const int width : {2, 18, 34, 320})
        for (const int height : {4, 8, 12}) {
          const stream::PackedLayout layout{chroma, mirrored};
          const std::string what = std::string(stream::ChromaName(chroma)) + (mirrored ? " mirrored " : " ") +
                                   std::to_string(width) + "x" + std::to_string(height);
          const int half = width / 2, chromaRows = chroma == stream::Chroma::Yuv420 ? height / 2 : height;
          const size_t bytes = stream::PlanarFrameBytes(width, height, chroma);
          const ptrdiff_t pitch = 2 * width + 6;
          std::vector<uint8_t> planar[2], packed[2];
          for (int f = 0; f < 2; ++f) {
            planar[f].resize(bytes);
            for (uint8_t& b : planar[f]) b = static_cast<uint8_t>(rng());
            packed[f].assign(static_cast<size_t>(pitch) * height, 0xEE);
            stream::PlanarToPacked(planar[f].data(), width, height, packed[f].data(), pitch, layout);
          }
          const uint8_t* u = planar[0].data() + width * height;
          const uint8_t* v = u + half * chromaRows;
          for (int r = 0; r < height; ++r) {
            const int s = mirrored ? height - 1 - r : r, c = ChromaRowModel(s, chroma);
            for (int x = 0; x < pitch; ++x) {
              const uint8_t want = x >= 2 * width ? 0xEE
                                   : x % 2 == 0   ? planar[0][s * width + x / 2]
                                   : x % 4 == 1   ? u[c * half + x / 4]
                                                  : v[c * half + x / 4];
              ASSERT_EQ(packed[0][r * pitch + x], want) << what << " row " << r << " byte " << x;
            }
          }
          std::vector<uint8_t> back(bytes + 8, 0xDD);
          stream::PackedToPlanar(packed[0].data(), pitch, width, height, back.data(), layout);
          EXPECT_TRUE(std::equal(planar[0].begin(), planar[0].end(), back.begin())) << what;
          EXPECT_EQ(back[bytes], 0xDD) << what << ": wrote past the planes";

          std::vector<uint8_t> woven(packed[1]);
          for (int r = 0; r < height; r += 2) std::memcpy(&woven[r * pitch], &packed[0][r * pitch], 2 * width);
          stream::PackedToPlanar(woven.data(), pitch, width, height, back.data(), layout);
          // Stream rows of parity q lie on packed rows of parity q, or of
          // the other parity when the (even-height) frame is turned over.
          auto from = [&](int q) { return &planar[(mirrored ? 1 - q : q) % 2 == 0 ? 0 : 1]; };
          for (int s = 0; s < height; ++s)
            ASSERT_TRUE(
                std::equal(back.begin() + s * width, back.begin() + (s + 1) * width, from(s % 2)->begin() + s * width))
                << what << " luma row " << s;
          for (int plane = 0; plane < 2; ++plane)
            for (int j = 0; j < chromaRows; ++j) {
              const size_t at = static_cast<size_t>(width) * height + (plane * chromaRows + j) * half;
              ASSERT_TRUE(std::equal(back.begin() + at, back.begin() + at + half, from(j % 2)->begin() + at))
                  << what << " chroma plane " << plane << " row " << j;
            }
        }
}

// Back to 4:2:0, a chroma row is the mean (rounded up) of the two rows of
// its field it covers: worked numbers, upright and turned over, then random
// rows wide enough for the vector path against the plain mean.
TEST(CliY4mPacking, FourTwoZeroChromaIsTheMeanOfItsFieldsTwoRows) {
  // Rows Y U Y V of a 2x4 frame: luma r and 9, U 10 20 31 40, V 200 100 0 255.
  const std::vector<uint8_t> packed = {0, 10, 9, 200, 1, 20, 9, 100, 2, 31, 9, 0, 3, 40, 9, 255};
  std::vector<uint8_t> planar(12);
  stream::PackedToPlanar(packed.data(), 4, 2, 4, planar.data(), {stream::Chroma::Yuv420, false});
  EXPECT_EQ(planar, (std::vector<uint8_t>{0, 9, 1, 9, 2, 9, 3, 9, 21, 30, 100, 178}));
  stream::PackedToPlanar(packed.data(), 4, 2, 4, planar.data(), {stream::Chroma::Yuv420, true});
  EXPECT_EQ(planar, (std::vector<uint8_t>{3, 9, 2, 9, 1, 9, 0, 9, 30, 21, 178, 100}));

  std::mt19937 rng(420);  // fixed seed
  for (const bool mirrored : {false, true})
    for (const int width : {16, 34, 1920}) {
      const int height = 8, half = width / 2;
      std::vector<uint8_t> rows(static_cast<size_t>(4) * width * height);
      for (uint8_t& b : rows) b = static_cast<uint8_t>(rng());
      std::vector<uint8_t> out(stream::PlanarFrameBytes(width, height, stream::Chroma::Yuv420));
      stream::PackedToPlanar(rows.data(), 4 * width, width, height, out.data(), {stream::Chroma::Yuv420, mirrored});
      // Byte `byte` of stream row s, on packed row s or height-1-s.
      auto at = [&](int s, int byte) {
        return rows[static_cast<size_t>(mirrored ? height - 1 - s : s) * 4 * width + byte];
      };
      const std::string what = std::to_string(width) + (mirrored ? " mirrored" : "");
      for (int j = 0; j < height / 2; ++j)
        for (int i = 0; i < half; ++i) {
          const int a = 4 * (j / 2) + j % 2, b = a + 2;  // the two rows of field j % 2 under chroma row j
          ASSERT_EQ(out[width * height + j * half + i], (at(a, 4 * i + 1) + at(b, 4 * i + 1) + 1) / 2)
              << what << " U row " << j << " at " << i;
          ASSERT_EQ(out[width * height + (height / 2 + j) * half + i], (at(a, 4 * i + 3) + at(b, 4 * i + 3) + 1) / 2)
              << what << " V row " << j << " at " << i;
        }
      for (int s = 0; s < height; ++s)
        for (int x = 0; x < width; ++x) ASSERT_EQ(out[s * width + x], at(s, 2 * x)) << what << " Y " << s << "," << x;
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

// Frame f of MakeY4m as the input stores it.
std::string StoredY4mFrame(int width, int height, int f) {
  const std::string whole = MakeY4m(width, height, f + 1);
  return whole.substr(whole.size() - static_cast<size_t>(width) * height * 2);
}

TEST(CliStreamClip, PipeServesPlanOrderWithFewFramesKeptAndClampsAtTheEnd) {
  const int frames = 40;
  FedPipe fed(MakeY4m(6, 4, frames));
  cli::StreamClip source(std::make_unique<stream::FrameReader>(fed.readEnd, "pipe", stream::InputFormat{}), 4);
  auto same = [&](int requested, int n) {
    const stream::StoredFrame f = source.Frame(requested, true);
    return std::string(reinterpret_cast<const char*>(f.data), 48) == StoredY4mFrame(6, 4, n);
  };
  // What the filter asks for odd positions: k+1, then k; with skips in between.
  for (int k : {0, 1, 2, 5, 6, 20}) {
    EXPECT_TRUE(same(k + 1, k + 1)) << k;
    EXPECT_TRUE(same(k, k)) << k;
  }
  EXPECT_TRUE(same(frames + 10, frames - 1));
  EXPECT_TRUE(source.Clamped());
  EXPECT_EQ(source.HighestRequest(), frames + 10);
  EXPECT_TRUE(same(frames - 2, frames - 2));
  // Frame 21 left the ring long ago: a pipe cannot go back, and says so.
  try {
    source.Frame(21, true);
    ADD_FAILURE() << "frame 21 came back";
  } catch (const CliError& e) {
    EXPECT_NE(std::string(e.what()).find("no longer buffered"), std::string::npos) << e.what();
  }
}

TEST(CliStreamClip, FileClampsPastTheEndAndEmptyInputIsAnError) {
  const std::string path = WriteTemp("clamp.y4m", MakeY4m(6, 4, 3));
  {
    cli::StreamClip source(OpenFile(path));
    EXPECT_EQ(source.Reader().EstimatedFrameCount(), 3);
    const stream::StoredFrame last = source.Frame(7, true);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(last.data), 48), StoredY4mFrame(6, 4, 2));
    EXPECT_TRUE(source.Clamped());
    EXPECT_EQ(source.KnownFrameCount(), 3);
  }
  const std::string empty = WriteTemp("empty.y4m", MakeY4m(6, 4, 0));
  cli::StreamClip source(OpenFile(empty));
  try {
    source.Frame(0, true);
    ADD_FAILURE() << "a frame from an empty input";
  } catch (const CliError& e) {
    EXPECT_NE(std::string(e.what()).find("no frames"), std::string::npos) << e.what();
  }
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
