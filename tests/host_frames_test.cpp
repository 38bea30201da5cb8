// Frames from the host, and the memory clip.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "error_of.h"
#include "host/runtime.h"

namespace {

VideoInfo Info(int width, int height, int pixelType = CS_YUY2) {
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.pixel_type = pixelType;
  vi.num_frames = 1;
  return vi;
}

TEST(NewVideoFrameTest, PitchIsTheRowRoundedUpToTheAlignment) {
  host::ScriptEnvironment env;
  struct Case {
    VideoInfo vi;
    int align, pitch, rowSize, extra = 0;  // extra pitch, added after the alignment
  } cases[] = {
      {Info(10, 4), 16, 32, 20},           // YUY2: 2 bytes a pixel
      {Info(8, 4), 16, 16, 16},            // already aligned: no padding
      {Info(10, 4), 64, 64, 20},           //
      {Info(10, 4), 1, 20, 20},            // byte alignment: exact rows
      {Info(10, 4), 0, 32, 20},            // no alignment given: the default 16
      {Info(10, 4), -8, 32, 20},           //
      {Info(5, 3, CS_BGR24), 16, 16, 15},  // 3 bytes a pixel
      {Info(5, 3, CS_BGR32), 8, 24, 20},   //
      {Info(17, 6, CS_YV12), 16, 32, 17},  // planar: the luma row
      {Info(10, 4), 16, 44, 20, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("width " + std::to_string(c.vi.width) + " align " + std::to_string(c.align));
    EXPECT_EQ(host::AlignedPitch(c.vi, c.align), c.pitch - c.extra);
    env.SetExtraPitch(c.extra);
    PVideoFrame frame = env.NewVideoFrame(c.vi, c.align);
    EXPECT_EQ(frame->GetPitch(), c.pitch);
    EXPECT_EQ(frame->GetRowSize(), c.rowSize);
    EXPECT_EQ(frame->GetHeight(), c.vi.height);
    // A planar frame's V and U planes: half the rows and row, apart from the
    // luma plane and each other, inside the buffer.
    const VideoFrame& f = *frame.get();
    const int64_t lumaEnd = f.offset + int64_t{f.pitch} * f.height, chroma = int64_t{f.pitchUV} * (f.height / 2);
    EXPECT_EQ(f.pitchUV >= f.row_size / 2 && f.pitchUV > 0, c.vi.pixel_type == CS_YV12);
    EXPECT_TRUE(!f.pitchUV ||
                (f.offsetV >= lumaEnd && f.offsetU >= f.offsetV + chroma && f.offsetU + chroma <= f.vfb->data_size));
    std::memset(f.vfb->data + f.offsetV, 0x42, static_cast<size_t>(2 * chroma));
    PVideoFrame shared = frame;  // a writable copy carries the chroma planes too
    EXPECT_TRUE(env.MakeWritable(&shared) && (!f.pitchUV || shared->vfb->data[shared->offsetU] == 0x42));
  }
}

TEST(NewVideoFrameTest, FrameIsWritableAlignedAndPoisonedThroughEveryRow) {
  host::ScriptEnvironment env;
  env.SetExtraPitch(4);
  VideoInfo vi = Info(6, 5);
  PVideoFrame frame = env.NewVideoFrame(vi);
  ASSERT_TRUE(frame->IsWritable());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(frame->GetWritePtr()) % 64, 0u);
  const unsigned char* p = frame->GetReadPtr();
  for (int i = 0; i < frame->GetPitch() * vi.height; ++i) ASSERT_EQ(p[i], 0xCD) << "byte " << i;
  frame->GetWritePtr()[frame->GetPitch() * vi.height - 1] = 0;  // the last byte is the frame's
}

TEST(NewVideoFrameTest, DroppedFrameBuffersAreReusedForTheSameSizeOnly) {
  host::ScriptEnvironment env;
  const VideoInfo hd = Info(1920, 1080);
  const unsigned char* first;
  {
    PVideoFrame frame = env.NewVideoFrame(hd);
    first = frame->GetReadPtr();
    std::memset(frame->GetWritePtr(), 0x11, static_cast<size_t>(frame->GetPitch()) * 1080);
  }
  PVideoFrame again = env.NewVideoFrame(hd);
  EXPECT_EQ(again->GetReadPtr(), first) << "a dropped frame's buffer serves the next frame of its size";
  EXPECT_EQ(again->GetReadPtr()[0], 0xCD) << "a reused buffer is poisoned afresh";
  PVideoFrame other = env.NewVideoFrame(Info(1920, 1082));
  EXPECT_NE(other->GetReadPtr(), first);
  // Buffers in use are never handed out twice.
  std::vector<PVideoFrame> many;
  for (int i = 0; i < 40; ++i) many.push_back(env.NewVideoFrame(hd));
  std::set<const unsigned char*> distinct;
  for (const PVideoFrame& f : many) distinct.insert(f->GetReadPtr());
  distinct.insert(again->GetReadPtr());
  EXPECT_EQ(distinct.size(), 41u);
}

TEST(NewVideoFrameTest, RefusesFramesItCannotMake) {
  host::ScriptEnvironment env;
  EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(Info(0, 4)); }), "NewVideoFrame: cannot make a frame of 0 x 4 pixels");
  EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(Info(8, -1)); }), "NewVideoFrame: cannot make a frame of 8 x -1 pixels");
  EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(Info(8, 4), 24); }),
            "NewVideoFrame: alignment 24 is not a power of two up to 4096");
  EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(Info(8, 4), 8192); }),
            "NewVideoFrame: alignment 8192 is not a power of two up to 4096");
  EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(Info(1 << 30, 4, CS_BGR32)); }),
            "NewVideoFrame: a frame 1073741824 pixels wide is too wide");
  EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(Info(1 << 29, 1 << 30)); }),
            "NewVideoFrame: cannot make a frame: it is too large");
  env.SetExtraPitch(-4);
  EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(Info(8, 4)); }), "NewVideoFrame: negative extra pitch -4");
}

TEST(MakeFrameTest, RefusesAPitchShorterThanARow) {
  EXPECT_EQ(ErrorOf([] { host::MakeFrame(Info(10, 2), 19); }), "cannot make a frame: the pitch is smaller than a row");
  EXPECT_EQ(host::MakeFrame(Info(10, 2), 20)->GetPitch(), 20);
}

std::vector<unsigned char> Pixels(const PVideoFrame& frame) {
  std::vector<unsigned char> out;
  for (int y = 0; y < frame->GetHeight(); ++y) {
    const unsigned char* row = frame->GetReadPtr() + static_cast<size_t>(y) * frame->GetPitch();
    out.insert(out.end(), row, row + frame->GetRowSize());
  }
  return out;
}

// The rest of what a host offers modules for frames and their lifetime.
TEST(EnvironmentTest, WritableCopiesSubframesShutdownAndVersion) {
  std::vector<int> order;
  {
    host::ScriptEnvironment env;
    PVideoFrame frame = env.NewVideoFrame(Info(4, 3));
    EXPECT_FALSE(env.MakeWritable(&frame)) << "held once: already writable";
    std::memset(frame->GetWritePtr(), 0x42, static_cast<size_t>(frame->GetPitch()) * 3);
    PVideoFrame shared = frame;
    const VideoFrame* before = frame.get();
    EXPECT_TRUE(env.MakeWritable(&frame));
    EXPECT_NE(frame.get(), before);
    ASSERT_NE(frame->GetWritePtr(), nullptr);
    EXPECT_EQ(Pixels(frame), Pixels(shared)) << "the copy has the shared frame's pixels";

    EXPECT_EQ(ErrorOf([&] { env.Subframe(shared, 0, shared->GetPitch(), 8, 4); }),
              "Subframe: the window (offset 0, pitch 16, row size 8, height 4) leaves the frame's buffer");
    EXPECT_EQ(ErrorOf([&] { env.CheckVersion(3); }),
              "CheckVersion: interface version 3 is asked for; this host offers 2");
    env.CheckVersion(2);
    env.AtExit([](void* order, IScriptEnvironment*) { static_cast<std::vector<int>*>(order)->push_back(1); }, &order);
    env.AtExit([](void* order, IScriptEnvironment*) { static_cast<std::vector<int>*>(order)->push_back(2); }, &order);
    EXPECT_TRUE(order.empty());
  }
  EXPECT_EQ(order, (std::vector<int>{2, 1})) << "shut-down functions run at the end, the last first";
}

// Frames 0..count-1, each with its number in its first byte.
std::vector<PVideoFrame> NumberedFrames(int count) {
  std::vector<PVideoFrame> frames;
  for (int i = 0; i < count; ++i) {
    frames.push_back(host::MakeFrame(Info(2, 1), 4));
    frames.back()->GetWritePtr()[0] = static_cast<unsigned char>(i);
  }
  return frames;
}

TEST(MemoryClipTest, ClampsFrameNumbersAndRecordsEveryRequestAsAsked) {
  host::ScriptEnvironment env;
  host::MemoryClip clip(Info(2, 1), NumberedFrames(3)), none(Info(2, 1), {});
  EXPECT_EQ(clip.GetFrame(1, &env)->GetReadPtr()[0], 1);
  EXPECT_EQ(clip.GetFrame(-5, &env)->GetReadPtr()[0], 0);
  EXPECT_EQ(clip.GetFrame(3, &env)->GetReadPtr()[0], 2);
  EXPECT_EQ(clip.GetFrame(1000, &env)->GetReadPtr()[0], 2);
  EXPECT_EQ(clip.requests, (std::vector<int>{1, -5, 3, 1000}));
  // A clip without frames refuses frame requests.
  EXPECT_EQ(ErrorOf([&] { none.GetFrame(0, &env); }), "MemoryClip: frame 0 asked of a clip that has no frames");
  EXPECT_EQ(ErrorOf([&] { none.GetFrame(2, nullptr); }), "MemoryClip: frame asked of a clip that has no frames");
}

TEST(MemoryClipTest, ParityAnswersGivenEntriesAndFalseElsewhere) {
  host::MemoryClip clip(Info(2, 1), {});
  clip.parity = {false, true};
  EXPECT_TRUE(clip.GetParity(1));
  EXPECT_FALSE(clip.GetParity(2));
  EXPECT_FALSE(clip.GetParity(-1));
  EXPECT_EQ(clip.parityRequests, (std::vector<int>{1, 2, -1}));
}

TEST(MemoryClipTest, AudioIsCopiedWithSilenceOutsideTheData) {
  host::MemoryClip clip(Info(2, 1), {});
  clip.bytesPerAudioSample = 2;
  clip.audio = {1, 2, 3, 4, 5, 6};  // three samples
  struct Case {
    int64_t start, count;
    std::vector<uint8_t> expected;
  } cases[] = {
      {0, 3, {1, 2, 3, 4, 5, 6}},
      {1, 1, {3, 4}},
      {-2, 3, {0, 0, 0, 0, 1, 2}},
      {2, 3, {5, 6, 0, 0, 0, 0}},
      {-1, 5, {0, 0, 1, 2, 3, 4, 5, 6, 0, 0}},
      {3, 2, {0, 0, 0, 0}},
      {-10, 2, {0, 0, 0, 0}},
      {INT64_MIN, 1, {0, 0}},
      {INT64_MAX, 1, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("start " + std::to_string(c.start) + " count " + std::to_string(c.count));
    std::vector<uint8_t> buffer(c.expected.size() + 1, 0xEE);  // one guard byte
    clip.GetAudio(buffer.data(), c.start, c.count, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.end() - 1), c.expected);
    EXPECT_EQ(buffer.back(), 0xEE);
  }
  clip.audio.clear(), clip.bytesPerAudioSample = 4;  // no data at all: silence
  std::vector<uint8_t> buffer(8, 0xEE);
  clip.GetAudio(buffer.data(), 0, 2, nullptr);
  EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0));
}

}  // namespace
