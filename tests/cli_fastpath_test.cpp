// The command's shortcuts write the bytes the plain path writes: a mapped
// input file, source frames read only when their bytes are wanted,
// unchanged frames written from their stored planar bytes or copied from the
// input file, weaves written from the stored frames' rows, a writer thread,
// conversions split into bands on several threads, recycled frame memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/app.h"
#include "cli/errors.h"
#include "cli/options.h"
#include "cli/stream_clip.h"
#include "fed_pipe.h"
#include "stream/frame_reader.h"
#include "stream/row_bands.h"
#include "stream/y4m.h"
#include "tests/command_line.h"

namespace {

using testing_support::ReadAll;
using testing_support::WriteAll;

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "cli_fastpath_" + std::to_string(getpid()) + "_" + name;
}

// A stream of random frames (C422 unless `tags` says otherwise); frames[f]
// holds frame f's planes.
std::string RandomY4m(int width, int height, int count, std::vector<std::string>* frames,
                      const std::string& tags = "It C422") {
  std::mt19937 rng(99);
  const stream::Chroma chroma =
      tags.find("C420") != std::string::npos ? stream::Chroma::Yuv420 : stream::Chroma::Yuv422;
  std::string s = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F30000:1001 " + tags + "\n";
  for (int f = 0; f < count; ++f) {
    std::string planes(stream::PlanarFrameBytes(width, height, chroma), '\0');
    for (char& c : planes) c = static_cast<char>(rng());
    frames->push_back(planes);
    s += "FRAME\n" + planes;
  }
  return s;
}

std::vector<std::string> Frames(const std::string& y4m, size_t frameBytes) {
  std::vector<std::string> out;
  size_t at = y4m.find('\n') + 1;
  while (at + 6 + frameBytes <= y4m.size()) {
    EXPECT_EQ(y4m.compare(at, 6, "FRAME\n"), 0) << "at byte " << at;
    out.push_back(y4m.substr(at + 6, frameBytes));
    at += 6 + frameBytes;
  }
  EXPECT_EQ(at, y4m.size());
  return out;
}

// In every format: 4:2:2 and 4:2:0, either field order, and 4:2:0 made
// 4:2:2 on the way out (where no frame passes through as it came): Y4M tags
// and --chroma-out.
using FastPathFormat = std::pair<const char*, const char*>;
const FastPathFormat FastPathFormats[] = {{"It C422", ""},     {"Ib C422", ""},        {"It C420mpeg2", ""},
                                          {"Ib C420jpeg", ""}, {"Ib C420jpeg", "422"}, {"It C422", "420"}};
class CliFastPathFormats : public ::testing::TestWithParam<FastPathFormat> {};

TEST_P(CliFastPathFormats, EveryShortcutOnOrOffWritesTheSameBytes) {
  const std::string tags = GetParam().first, chromaOut = GetParam().second;
  // Wide enough rows that the conversions split into up to three bands.
  const int w = 1024, h = 240, count = 6;
  std::vector<std::string> frames;
  const std::string in = TempPath("in.y4m");
  WriteAll(in, RandomY4m(w, h, count, &frames, tags));
  // Pass-through ('1' at even positions), weaves ('1' at odd ones), every
  // other code, and last positions past the input that clamp to its end,
  // whole and woven.
  const std::string plan = TempPath("plan");
  WriteAll(plan, "10011234561" + std::string(9, '0') + "11");
  cli::Options options;
  options.plan = plan;
  options.hasPlan = true;
  options.input = in;
  options.quiet = true;
  options.hasChromaOut = !chromaOut.empty();
  options.chromaOut = chromaOut == "420" ? stream::Chroma::Yuv420 : stream::Chroma::Yuv422;
  const std::string out = TempPath("out.y4m");
  options.output = out;

  cli::RunTuning plain;
  plain.mapInput = false;
  plain.deferRead = false;
  plain.writerThread = false;
  plain.passThrough = false;
  plain.threads = 1;
  cli::RunCommand(options, plain);
  const std::string reference = ReadAll(out);
  if (chromaOut.empty()) {
    const std::vector<std::string> written = Frames(reference, frames[0].size());
    ASSERT_EQ(written.size(), 11u);
    // The '1' codes at even positions 0, 4, 10 and 20 (clamped to the last
    // frame), and at 21 the last frame woven with itself.
    EXPECT_TRUE(written[0] == frames[0]);
    EXPECT_TRUE(written[2] == frames[2]);
    EXPECT_TRUE(written[8] == frames[5]);
    EXPECT_TRUE(written[9] == frames[count - 1]);
    EXPECT_TRUE(written[10] == frames[count - 1]);
  }

  // Every combination in the first format; in the others, each shortcut
  // alone off (and all of them on), which is where a format's own path shows.
  const bool everyCombination = GetParam() == FastPathFormats[0];
  for (int combination = 0; combination < 32; ++combination) {
    const int off = 31 - combination;  // bits of shortcuts turned off
    if (!everyCombination && off != 0 && (off & (off - 1)) != 0) continue;
    cli::RunTuning tuning;
    tuning.mapInput = !(off & 1);
    tuning.deferRead = !(off & 2);
    tuning.passThrough = !(off & 4);
    tuning.writerThread = !(off & 8);
    tuning.threads = off & 16 ? 1 : 3;
    cli::RunCommand(options, tuning);
    EXPECT_TRUE(ReadAll(out) == reference)
        << tags << " " << chromaOut << ": map " << tuning.mapInput << ", deferred " << tuning.deferRead
        << ", pass-through " << tuning.passThrough << ", writer thread " << tuning.writerThread << ", threads "
        << tuning.threads;
  }

  // From the file read without a mapping, and from a pipe.
  for (const bool piped : {false, true}) {
    cli::RunTuning unmapped;
    unmapped.mapInput = false;
    std::unique_ptr<FedPipe> fed;
    const int savedStdin = dup(STDIN_FILENO);
    if (piped) {
      fed = std::make_unique<FedPipe>(ReadAll(in));
      dup2(fed->readEnd, STDIN_FILENO);
      close(fed->readEnd);
      options.input = "-";
    }
    cli::RunCommand(options, unmapped);
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    options.input = in;
    EXPECT_TRUE(ReadAll(out) == reference) << tags << ": piped " << piped;
  }

  // The built command through a pipe (pass-through from kept planar copies)
  // and from the file (mapped, unchanged frames copied from the file).
  const std::string cli = ZEMIVTC_CLI_PATH;
  const std::string chromaOption = chromaOut.empty() ? "" : " --chroma-out " + chromaOut;
  for (const std::string& how :
       {"cat " + in + " | " + cli + chromaOption + " -q --plan " + plan + " - - > " + out + " 2>/dev/null",
        cli + chromaOption + " -q --plan " + plan + " " + in + " " + out + " 2>/dev/null"}) {
    ASSERT_EQ(std::system(how.c_str()), 0) << how;
    EXPECT_TRUE(ReadAll(out) == reference) << how;
  }
  unlink(in.c_str());
  unlink(plan.c_str());
  unlink(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(Formats, CliFastPathFormats, ::testing::ValuesIn(FastPathFormats),
                         [](const ::testing::TestParamInfo<FastPathFormat>& info) {
                           std::string name = std::string(info.param.first) +
                                              (*info.param.second ? std::string(" to ") + info.param.second : "");
                           for (char& c : name)
                             if (c == ' ') c = '_';
                           return name;
                         });

// The bytes a stored frame names: its own copy, or its place in the file.
std::string StoredContent(const stream::StoredFrame& stored, size_t bytes) {
  if (stored.data) return std::string(reinterpret_cast<const char*>(stored.data), bytes);
  std::string out(bytes, '\0');
  if (stored.fileOffset < 0 || pread(stored.fd, out.data(), bytes, stored.fileOffset) != static_cast<ssize_t>(bytes))
    return "(not stored)";
  return out;
}

TEST(CliFastPath, SourceFramesKnowTheirStoredBytesFromFilesMappingsDeferredReadsAndPipes) {
  const int w = 6, h = 4, count = 12;
  std::vector<std::string> frames;
  const std::string data = RandomY4m(w, h, count, &frames);
  const std::string path = TempPath("stored.y4m");
  WriteAll(path, data);
  // 0: a file read at once; 1, 2: a file read or mapped only when its bytes
  // are wanted, every other frame not wanted; 3: a pipe.
  for (int how = 0; how < 4; ++how) {
    std::unique_ptr<FedPipe> fed;
    std::unique_ptr<stream::FrameReader> reader;
    if (how == 3) {
      fed = std::make_unique<FedPipe>(data);
      reader = std::make_unique<stream::FrameReader>(fed->readEnd, "pipe", stream::InputFormat{});
    } else {
      reader =
          std::make_unique<stream::FrameReader>(open(path.c_str(), O_RDONLY), path, stream::InputFormat{}, how == 2);
      EXPECT_EQ(reader->Mapped(), how == 2);
    }
    const bool deferred = how == 1 || how == 2;
    cli::StreamClip source(std::move(reader), 4, deferred);
    // Held frames keep their bytes while later ones are read (and buffers
    // recycled).
    std::vector<std::pair<int, stream::StoredFrame>> held;
    for (int n = 0; n < count; ++n) {
      const bool wanted = !deferred || n % 2 != 0;
      const stream::StoredFrame stored = source.Frame(n, wanted);
      ASSERT_TRUE(stored.Valid()) << how << " frame " << n;
      EXPECT_EQ(stored.data == nullptr, !wanted && how != 3) << how << " frame " << n;
      EXPECT_TRUE(StoredContent(stored, frames[n].size()) == frames[n]) << how << " frame " << n;
      if (n % 5 == 0) held.emplace_back(n, stored);
    }
    for (const auto& [n, stored] : held)
      EXPECT_TRUE(StoredContent(stored, frames[n].size()) == frames[n]) << how << " " << n;
  }
  unlink(path.c_str());
}

TEST(CliFastPath, StoredBytesOutliveTheFrameWhileTheirOwnerIsHeld) {
  const int w = 6, h = 4;
  std::vector<std::string> frames;
  FedPipe fed(RandomY4m(w, h, 20, &frames));
  stream::FrameReader reader(fed.readEnd, "pipe", stream::InputFormat{});
  std::vector<uint8_t> packed(static_cast<size_t>(w) * h * 2);
  std::vector<stream::StoredFrame> kept;
  for (int n = 0; n < 20; ++n) {
    stream::StoredFrame stored;
    ASSERT_TRUE(reader.ReadFrame(n, packed.data(), 2 * w, &stored));
    if (n % 3 == 0) kept.push_back(stored);  // others go back to the reader's spares
  }
  for (size_t i = 0; i < kept.size(); ++i)
    EXPECT_EQ(std::memcmp(kept[i].data, frames[3 * i].data(), frames[0].size()), 0) << "frame " << 3 * i;
}

TEST(CliFastPath, AFileThatGrowsIsReadAtItsNewFramesMappedOrNotAtOnceOrDeferred) {
  const int w = 6, h = 4;
  std::vector<std::string> frames;
  const std::string whole = RandomY4m(w, h, 6, &frames);
  const size_t firstThree = whole.find('\n') + 1 + 3 * (6 + frames[0].size());
  const std::string path = TempPath("grow.y4m");
  for (const bool map : {false, true}) {
    WriteAll(path, whole.substr(0, firstThree));
    stream::FrameReader reader(open(path.c_str(), O_RDONLY), path, stream::InputFormat{}, map);
    ASSERT_EQ(reader.Mapped(), map);
    std::vector<uint8_t> packed(static_cast<size_t>(w) * h * 2), expected(packed.size());
    stream::StoredFrame first;
    ASSERT_TRUE(reader.ReadFrame(1, packed.data(), 2 * w, &first));
    {
      std::ofstream more(path, std::ios::binary | std::ios::app);
      more << whole.substr(firstThree);
    }
    // Mapped again past the old end; earlier frames stay valid.
    stream::StoredFrame last;
    ASSERT_TRUE(reader.ReadFrame(5, nullptr, 0, &last));
    EXPECT_EQ(last.data, nullptr);
    reader.Convert(last, packed.data(), 2 * w);
    stream::PlanarToPacked(reinterpret_cast<const uint8_t*>(frames[5].data()), w, h, expected.data(), 2 * w);
    EXPECT_EQ(packed, expected) << map;
    EXPECT_TRUE(StoredContent(last, frames[5].size()) == frames[5]) << map;
    EXPECT_TRUE(StoredContent(first, frames[1].size()) == frames[1]) << map;
    EXPECT_FALSE(reader.ReadFrame(6, packed.data(), 2 * w));
  }
  unlink(path.c_str());
}

TEST(CliRowBands, EveryRowOnceInOrderedBandsOfAtLeastTheMinimum) {
  for (int threads : {1, 2, 3, 4, 9}) {
    stream::RowBands bands(threads);
    EXPECT_EQ(bands.Threads(), std::min(threads, stream::RowBands::MaxThreads));
    for (int rows : {0, 1, 2, 7, 64, 1081}) {
      for (int minRows : {1, 5, 2000}) {
        std::vector<std::atomic<int>> hits(static_cast<size_t>(rows));
        std::atomic<int> calls{0};
        bands.Run(rows, minRows, [&](int begin, int end) {
          ++calls;
          EXPECT_LE(begin, end);
          EXPECT_TRUE(end - begin >= minRows || end - begin == rows) << begin << ".." << end;
          for (int r = begin; r < end; ++r) ++hits[static_cast<size_t>(r)];
        });
        for (int r = 0; r < rows; ++r) ASSERT_EQ(hits[static_cast<size_t>(r)].load(), 1) << rows << " row " << r;
        EXPECT_LE(calls.load(), bands.Threads() * stream::RowBands::BandsPerThread);
      }
    }
  }
}

TEST(CliRowBands, AFailingBandIsRethrownAndTheBandsStillWork) {
  stream::RowBands bands(3);
  for (int failing = 0; failing < 3; ++failing) {
    int seen = 0;
    EXPECT_THROW(bands.Run(30, 1,
                           [&](int begin, int) {
                             if (begin == failing * 10) throw std::runtime_error("band");
                           }),
                 std::runtime_error);
    std::atomic<int> rows{0};
    bands.Run(30, 1, [&](int begin, int end) { rows += end - begin; });
    seen = rows.load();
    EXPECT_EQ(seen, 30);
  }
  // Back-to-back runs: no band is lost or run twice across generations.
  std::atomic<long> total{0};
  for (int i = 0; i < 2000; ++i) bands.Run(3 + i % 5, 1, [&](int begin, int end) { total += end - begin; });
  long want = 0;
  for (int i = 0; i < 2000; ++i) want += 3 + i % 5;
  EXPECT_EQ(total.load(), want);
}

TEST(CliRowBands, BandedConversionsMatchTheWholeFrameOnes) {
  std::mt19937 rng(5);
  stream::RowBands bands(3);
  for (const stream::Chroma chroma : {stream::Chroma::Yuv422, stream::Chroma::Yuv420})
    for (const bool mirrored : {false, true}) {
      // Bands of whole units: rows at 4:2:2, groups of four rows at 4:2:0.
      const stream::PackedLayout layout{chroma, mirrored};
      const int w = 200, h = chroma == stream::Chroma::Yuv420 ? 36 : 37 - mirrored, unit = stream::RowsPerUnit(chroma);
      std::vector<uint8_t> planar(stream::PlanarFrameBytes(w, h, chroma));
      for (uint8_t& b : planar) b = static_cast<uint8_t>(rng());
      const ptrdiff_t pitch = 2 * w + 24;
      std::vector<uint8_t> whole(static_cast<size_t>(pitch) * h, 0), banded(whole.size(), 0);
      stream::PlanarToPacked(planar.data(), w, h, whole.data(), pitch, layout);
      bands.Run(h / unit, 1, [&](int b, int e) {
        stream::PlanarToPackedRows(planar.data(), w, h, b * unit, e * unit, banded.data(), pitch, layout);
      });
      EXPECT_EQ(banded, whole) << stream::ChromaName(chroma) << " mirrored " << mirrored;
      std::vector<uint8_t> back(planar.size(), 0);
      bands.Run(h / unit, 1, [&](int b, int e) {
        stream::PackedToPlanarRows(whole.data(), pitch, w, h, b * unit, e * unit, back.data(), layout);
      });
      EXPECT_EQ(back, planar) << stream::ChromaName(chroma) << " mirrored " << mirrored;
    }
}

}  // namespace
