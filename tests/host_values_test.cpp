// Script values and counted references, saved strings and variables.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

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

TEST(ReferenceCountTest, FrameCopiesCountAndOnlyASoleHolderMayWrite) {
  VideoInfo vi{};
  vi.width = 4;
  vi.height = 2;
  vi.pixel_type = CS_YUY2;
  PVideoFrame a = host::MakeFrame(vi, 16);
  EXPECT_TRUE(a->IsWritable());
  PVideoFrame b = a;
  EXPECT_EQ(a->RefCount(), 2);
  EXPECT_FALSE(a->IsWritable());
  b = PVideoFrame();
  EXPECT_TRUE(a->IsWritable());
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
  try {
    env.ThrowError("Frame %d: %s", 7, "bad");
    FAIL() << "ThrowError returned";
  } catch (const AvisynthError& e) {
    EXPECT_STREQ(e.msg, "Frame 7: bad");
  }
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
  try {
    env.SetVar("a", AVSValue(&element, 1));
    FAIL() << "an array was stored";
  } catch (const AvisynthError& e) {
    EXPECT_STREQ(e.msg, "SetVar: \"a\" cannot hold an array");
  }
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
