// The command's frames against the version-2 module's, run in the stand-in
// host as a script host runs it: every code at an even and an odd position,
// either field order, raw yuyv422, Y4M 4:2:2 and Y4M 4:2:0 input, at a
// width whose chroma rows are an odd number of bytes. The module is handed
// a planar source as the front ends once handed it over, through convert/:
// packed rows, 4:2:0 chroma field by field, bottom field first turned over;
// its frames come back the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cli/app.h"
#include "module_fixture.h"
#include "stream/y4m.h"
#include "tests/command_line.h"

namespace {

using testing_support::ReadAll;
using testing_support::WriteAll;
using Picture = std::vector<uint8_t>;

constexpr int Width = 26, Height = 12, Frames = 7;  // chroma rows of 13 bytes
constexpr size_t PackedBytes = 2 * Width * Height;

// The module's frames for these packed source pictures.
std::vector<Picture> ModuleFrames(const std::vector<Picture>& pictures, const std::string& planPath) {
  host::ScriptEnvironment env;
  env.LoadPlugin(ZEMIVTC_MODULE_PATH);
  const VideoInfo vi = testing_support::Yuy2Info(Width, Height, Frames);
  std::vector<PVideoFrame> list;
  for (const Picture& picture : pictures) {
    list.push_back(host::MakeFrame(vi, 2 * Width));
    std::memcpy(list.back()->GetWritePtr(), picture.data(), PackedBytes);
  }
  PClip filtered = testing_support::InvokeZemIvtc(env, new host::MemoryClip(vi, list), planPath.c_str()).AsClip();
  std::vector<Picture> frames;
  for (int n = 0; n < filtered->GetVideoInfo().num_frames; ++n)
    frames.push_back(testing_support::Pixels(filtered->GetFrame(n, &env), Width, Height));
  return frames;
}

// Packed rows turned over: row r becomes row Height - 1 - r.
Picture TurnedOver(const Picture& rows) {
  Picture out(rows.size());
  for (int r = 0; r < Height; ++r) std::memcpy(&out[(Height - 1 - r) * 2 * Width], &rows[r * 2 * Width], 2 * Width);
  return out;
}

TEST(CliAgainstModule, EveryCodeInEitherFieldOrderFromEveryInputFormat) {
  testing_support::PlanFile plan("1234561234560");  // codes 1 to 6 at positions 0 to 5 and 6 to 11
  const struct {
    const char* name;
    bool raw;
    stream::Chroma chroma;
    const char* colourTag;
  } formats[] = {{"raw yuyv422", true, stream::Chroma::Yuv422, ""},
                 {"Y4M 4:2:2", false, stream::Chroma::Yuv422, "C422"},
                 {"Y4M 4:2:0", false, stream::Chroma::Yuv420, "C420mpeg2"}};
  const std::string in = ::testing::TempDir() + "cli_module_in_" + std::to_string(getpid());
  const std::string out = ::testing::TempDir() + "cli_module_out_" + std::to_string(getpid());
  std::mt19937 rng(2718);
  for (const auto& f : formats) {
    for (const bool bottomFirst : {false, true}) {
      const std::string what = std::string(f.name) + (bottomFirst ? " bff" : " tff");
      const stream::PackedLayout layout{f.chroma, bottomFirst};
      const size_t frameBytes = f.raw ? PackedBytes : stream::PlanarFrameBytes(Width, Height, f.chroma);
      std::string input = f.raw ? "" : "YUV4MPEG2 W26 H12 F30000:1001 Ip " + std::string(f.colourTag) + "\n";
      std::vector<Picture> pictures;  // as the module sees them
      for (int n = 0; n < Frames; ++n) {
        Picture stored(frameBytes), packed(PackedBytes);
        for (uint8_t& b : stored) b = static_cast<uint8_t>(rng());
        input += (f.raw ? "" : "FRAME\n") + std::string(stored.begin(), stored.end());
        if (f.raw)
          packed = bottomFirst ? TurnedOver(stored) : stored;
        else
          stream::PlanarToPacked(stored.data(), Width, Height, packed.data(), 2 * Width, layout);
        pictures.push_back(packed);
      }
      WriteAll(in, input);
      cli::Options options;
      options.plan = plan.path;
      options.hasPlan = true;
      options.input = in;
      options.output = out;
      options.quiet = true;
      options.fieldOrder = bottomFirst ? 'b' : 't';
      options.inputFormat = {f.raw, f.raw ? Width : 0, f.raw ? Height : 0};
      options.rawOut = f.raw;
      cli::RunCommand(options);
      const std::vector<Picture> frames = ModuleFrames(pictures, plan.path);
      ASSERT_EQ(frames.size(), 12u) << what;
      const std::string header = f.raw ? "" : "YUV4MPEG2 W26 H12 F60000:1001 Ip " + std::string(f.colourTag) + "\n";
      std::string expected = header;
      for (const Picture& frame : frames) {
        Picture planar(frameBytes);
        if (!f.raw) stream::PackedToPlanar(frame.data(), 2 * Width, Width, Height, planar.data(), layout);
        const Picture& want = f.raw ? (bottomFirst ? TurnedOver(frame) : frame) : planar;
        expected += (f.raw ? "" : "FRAME\n") + std::string(want.begin(), want.end());
      }
      const std::string written = ReadAll(out);
      const size_t differs =
          std::mismatch(written.begin(), written.end(), expected.begin(), expected.end()).first - written.begin();
      EXPECT_TRUE(written == expected) << what << ": first difference in output frame "
                                       << (differs - header.size()) / (frameBytes + (f.raw ? 0 : 6));
    }
  }
  unlink(in.c_str());
  unlink(out.c_str());
}

}  // namespace
