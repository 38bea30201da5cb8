// Script values and counted references, saved strings and variables.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "error_of.h"
#include "host/runtime.h"

namespace {

// A clip that reports its own deletion.
class TrackedClip : public host::MemoryClip {
 public:
  explicit TrackedClip(bool* deleted) : host::MemoryClip(VideoInfo{}, {}), deleted(deleted) {}
  ~TrackedClip() override { *deleted = true; }

 private:
  bool* deleted;
};

TEST(AVSValueTest, IndexingTakesArrayElementsThatExistAndOtherwiseTheValueItself) {
  AVSValue elements[] = {1, "two", 3.0};
  AVSValue array(elements, 3);
  EXPECT_EQ(array.ArraySize(), 3);
  EXPECT_EQ(array[0].AsInt(), 1);
  EXPECT_STREQ(array[1].AsString(), "two");
  EXPECT_DOUBLE_EQ(array[2].AsFloat(), 3.0);
  EXPECT_EQ(&array[3], &array);
  EXPECT_EQ(&array[-1], &array);

  AVSValue single(7);
  EXPECT_EQ(single.ArraySize(), 1);
  EXPECT_EQ(&single[0], &single);
  EXPECT_EQ(&single[1], &single);  // a plain value yields itself at every index
  EXPECT_EQ(single[1].AsInt(), 7);
}

TEST(ReferenceCountTest, ClipCopiesCountAndTheLastReleaseDeletes) {
  bool deleted = false;
  {
    PClip a(new TrackedClip(&deleted));
    EXPECT_EQ(a->RefCount(), 1);
    {
      PClip b = a;
      AVSValue v(a);
      AVSValue w = v;
      EXPECT_EQ(a->RefCount(), 4);
      w = AVSValue(3);  // overwriting a clip value drops its reference
      EXPECT_EQ(a->RefCount(), 3);
      b = b;  // self-assignment keeps the count
      v = v;
      EXPECT_EQ(a->RefCount(), 3);
      EXPECT_EQ(v.AsClip().get(), a.get());  // and keeps the clip
      // An array refers to elements it does not own: no extra reference.
      AVSValue array(&v, 1);
      AVSValue arrayCopy = array;
      EXPECT_EQ(a->RefCount(), 3);
    }
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_FALSE(deleted);
  }
  EXPECT_TRUE(deleted);
}

// The frame operations both sides compile: references raise and lower the
// frame's count, the last one also the buffer's; nothing is freed; a write
// pointer only for a frame held once whose buffer no other frame shares.
TEST(ReferenceCountTest, FrameCountsAndWritePointersFollowTheHostsRules) {
  host::ScriptEnvironment env;
  VideoInfo vi{};
  vi.width = 4;
  vi.height = 2;
  vi.pixel_type = CS_YUY2;
  PVideoFrame a = env.NewVideoFrame(vi);
  VideoFrame* record = a.get();
  VideoFrameBuffer* buffer = record->vfb;
  EXPECT_EQ(record->refcount, 1);
  EXPECT_EQ(buffer->refcount, 1);
  const long sequence = buffer->sequence_number;
  EXPECT_EQ(a->GetWritePtr(), buffer->data + record->offset);
  EXPECT_EQ(buffer->sequence_number, sequence + 1);
  {
    PVideoFrame b = a;
    EXPECT_EQ(record->refcount, 2);
    EXPECT_EQ(buffer->refcount, 1);
    EXPECT_EQ(a->GetWritePtr(), nullptr);
    EXPECT_EQ(buffer->sequence_number, sequence + 1);
  }
  {
    PVideoFrame window = env.Subframe(a, 8, 16, 8, 1);  // a second frame into the same buffer
    EXPECT_EQ(buffer->refcount, 2);
    EXPECT_EQ(window->GetReadPtr(), a->GetReadPtr() + 8);
    EXPECT_EQ(a->GetWritePtr(), nullptr);
    EXPECT_EQ(window->GetWritePtr(), nullptr);
  }
  EXPECT_EQ(buffer->refcount, 1);
  EXPECT_NE(a->GetWritePtr(), nullptr);
  a = PVideoFrame();
  EXPECT_EQ(record->refcount, 0);  // the record and its buffer stay the host's
  EXPECT_EQ(buffer->refcount, 0);
  PVideoFrame again = env.NewVideoFrame(vi);
  EXPECT_EQ(again.get(), record) << "the host hands an idle frame record out again";
  EXPECT_EQ(again->vfb, buffer);
}

char* CallVSprintf(host::ScriptEnvironment& env, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char* out = env.VSprintf(fmt, &ap);
  va_end(ap);
  return out;
}

TEST(StringsTest, SavedAndFormattedTextOutlivesTheCallersBuffers) {
  host::ScriptEnvironment env;
  char buffer[] = "plan";
  char* saved = env.SaveString(buffer);
  char* prefix = env.SaveString("abcdef", 3);
  std::strcpy(buffer, "gone");
  EXPECT_STREQ(saved, "plan");
  EXPECT_STREQ(prefix, "abc");
  EXPECT_STREQ(env.Sprintf("%s=%d", "count", 12), "count=12");
  EXPECT_STREQ(CallVSprintf(env, "%d-%s", 3, "x"), "3-x");
  std::string longText(5000, 'z');
  EXPECT_EQ(std::string(env.Sprintf("%s!", longText.c_str())), longText + "!");
}

TEST(StringsTest, ThrowErrorRaisesTheFormattedMessage) {
  host::ScriptEnvironment env;
  EXPECT_EQ(ErrorOf([&] { env.ThrowError("Frame %d: %s", 7, "bad"); }), "Frame 7: bad");
}

TEST(VariablesTest, NamesIgnoreCaseAndLocalsHideGlobals) {
  host::ScriptEnvironment env;
  EXPECT_FALSE(env.GetVar("x").Defined());
  EXPECT_TRUE(env.SetGlobalVar("X", 1));
  EXPECT_EQ(env.GetVar("x").AsInt(), 1);
  EXPECT_TRUE(env.SetVar("x", 2));
  EXPECT_FALSE(env.SetVar("X", 3));  // replaced, not new
  EXPECT_EQ(env.GetVar("X").AsInt(), 3);
}

TEST(VariablesTest, StringIsCopiedAndArraysAreRefused) {
  host::ScriptEnvironment env;
  char text[] = "first";
  env.SetVar("s", AVSValue(static_cast<const char*>(text)));
  std::strcpy(text, "later");
  EXPECT_STREQ(env.GetVar("s").AsString(), "first");

  AVSValue element(1);
  EXPECT_EQ(ErrorOf([&] { env.SetVar("a", AVSValue(&element, 1)); }), "SetVar: \"a\" cannot hold an array");
}

TEST(VariablesTest, ClipHeldInAVariableIsReleasedWithTheEnvironment) {
  bool deleted = false;
  {
    host::ScriptEnvironment env;
    env.SetVar("c", PClip(new TrackedClip(&deleted)));
    EXPECT_FALSE(deleted);
  }
  EXPECT_TRUE(deleted);
}

}  // namespace
