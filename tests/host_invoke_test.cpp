// Module loading and Invoke's argument packing, through real loaded modules.
#include <gtest/gtest.h>

#include <string>

#include "error_of.h"
#include "host/runtime.h"

namespace {

VideoInfo Yuy2Info(int width, int height) {
  VideoInfo vi{};
  vi.width = width;
  vi.height = height;
  vi.fps_numerator = 30000;
  vi.fps_denominator = 1001;
  vi.num_frames = 1;
  vi.pixel_type = CS_YUY2;
  return vi;
}

class InvokeTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(env.LoadPlugin(FIXTURE_ECHO_PATH), "Echo fixture"); }

  std::string Call(const char* name, const AVSValue& args, const char** names = nullptr) {
    AVSValue result = env.Invoke(name, args, names);
    EXPECT_TRUE(result.IsString());
    return result.IsString() ? result.AsString() : "";
  }

  host::ScriptEnvironment env;
  PClip clip{new host::MemoryClip(Yuy2Info(64, 48), {})};
};

TEST_F(InvokeTest, EntryRegistersItsFunctions) {
  ASSERT_GE(env.Functions().size(), 2u);
  EXPECT_EQ(env.Functions()[0].name, "Echo");
  EXPECT_EQ(env.Functions()[0].params, "c[name]s[count]i[gain]f[flag]b");
  EXPECT_TRUE(env.FunctionExists("echo"));
  EXPECT_TRUE(env.FunctionExists("ECHO"));
  EXPECT_FALSE(env.FunctionExists("Ech"));
}

TEST_F(InvokeTest, PacksEveryParameterSlotWithUnsetOptionalsVoid) {
  // A single value that is not an array is the one argument.
  EXPECT_EQ(Call("Echo", clip), "5 c:64x48 v v v v");
  AVSValue positional[] = {clip, "plan.txt", 3, 1.5, true};
  EXPECT_EQ(Call("Echo", AVSValue(positional, 5)), "5 c:64x48 s:plan.txt i:3 f:1.5 b:true");
}

TEST_F(InvokeTest, NamedArgumentsGoToTheirParameterWhateverTheOrderAndCase) {
  AVSValue args[] = {clip, true, "x.zem", 7};
  const char* names[] = {nullptr, "FLAG", "name", "Count"};
  EXPECT_EQ(Call("Echo", AVSValue(args, 4), names), "5 c:64x48 s:x.zem i:7 v b:true");
}

TEST_F(InvokeTest, IntIsAcceptedForFloatAndConverted) {
  AVSValue args[] = {clip, 2};
  const char* names[] = {nullptr, "gain"};
  EXPECT_EQ(Call("Echo", AVSValue(args, 2), names), "5 c:64x48 v v f:2 v");
}

TEST_F(InvokeTest, VoidArgumentLeavesAnOptionalUnset) {
  AVSValue args[] = {clip, AVSValue(), 4};
  EXPECT_EQ(Call("Echo", AVSValue(args, 3)), "5 c:64x48 v i:4 v v");
}

TEST_F(InvokeTest, AnyTypeParameterTakesEveryKind) {
  EXPECT_EQ(Call("Any", 5), "2 i:5 v");
  AVSValue args[] = {"text", clip};
  const char* names[] = {nullptr, "extra"};
  EXPECT_EQ(Call("Any", AVSValue(args, 2), names), "2 s:text c:64x48");
}

TEST_F(InvokeTest, RefusesBadCallsWithClearMessages) {
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Nope", clip); }), "Invoke: there is no function named \"Nope\"");

  AVSValue six[] = {clip, "a", 1, 1.0, true, 2};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(six, 6)); }),
            "Echo: too many arguments: it takes at most 5 (signature \"c[name]s[count]i[gain]f[flag]b\")");

  AVSValue unknown[] = {clip, 1};
  const char* unknownNames[] = {nullptr, "zemFile"};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(unknown, 2), unknownNames); }),
            "Echo: there is no parameter named \"zemFile\"");

  AVSValue wrongType[] = {clip, "three"};
  const char* countName[] = {nullptr, "count"};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(wrongType, 2), countName); }),
            "Echo: argument \"count\" must be an int, not a string");
  AVSValue floatForInt[] = {clip, 2.5};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(floatForInt, 2), countName); }),
            "Echo: argument \"count\" must be an int, not a float");
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", 5); }), "Echo: argument 1 must be a clip, not an int");

  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue()); }), "Echo: argument 1 (a clip) is required but missing");
  AVSValue onlyNamed[] = {"x"};
  const char* nameName[] = {"name"};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(onlyNamed, 1), nameName); }),
            "Echo: argument 1 (a clip) is required but missing");

  AVSValue twice[] = {clip, "a", "b"};
  const char* twiceNames[] = {nullptr, nullptr, "name"};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(twice, 3), twiceNames); }),
            "Echo: argument \"name\" is given twice");
  const char* namedTwice[] = {nullptr, "name", "NAME"};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(twice, 3), namedTwice); }),
            "Echo: argument \"name\" is given twice");
  // A positional argument after a named one must not land on a filled slot.
  AVSValue afterNamed[] = {"a", clip, "b"};
  const char* afterNames[] = {"name", nullptr, nullptr};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(afterNamed, 3), afterNames); }),
            "Echo: argument \"name\" is given twice");
}

TEST_F(InvokeTest, RefusesAClipValueThatHoldsNoClip) {
  IClip* none = nullptr;
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Echo", AVSValue(none)); }),
            "Echo: argument 1 is a clip value that holds no clip");
}

TEST_F(InvokeTest, ErrorRaisedInsideReachesTheCallerAndReleasesTheClip) {
  AVSValue args[] = {clip, "bad plan"};
  EXPECT_EQ(ErrorOf([&] { env.Invoke("Fail", AVSValue(args, 2)); }), "Fail: bad plan (42)");
  EXPECT_EQ(clip->RefCount(), 2);  // `clip` and `args[0]`: the call kept nothing
}

TEST_F(InvokeTest, ReturnedClipIsCountedOnceByTheResult) {
  ASSERT_EQ(clip->RefCount(), 1);
  {
    AVSValue result = env.Invoke("Pass", clip);
    ASSERT_TRUE(result.IsClip());
    EXPECT_EQ(result.AsClip().get(), clip.get());
    EXPECT_EQ(clip->RefCount(), 2);
  }
  EXPECT_EQ(clip->RefCount(), 1);
}

TEST_F(InvokeTest, LatestRegistrationWinsAndUserDataIsPassed) {
  EXPECT_STREQ(env.Invoke("twice", AVSValue()).AsString(), "second");
  EXPECT_EQ(env.Invoke("UserData", AVSValue()).AsInt(), 1234);
}

TEST_F(InvokeTest, FunctionMayRegisterOthersWhileItRuns) {
  EXPECT_STREQ(env.Invoke("Grow", AVSValue()).AsString(), "first");
  EXPECT_TRUE(env.FunctionExists("Grown0"));
}

TEST(LoadPluginTest, FailuresNameThePath) {
  host::ScriptEnvironment env;
  std::string missing = "/nonexistent-zemivtc-dir/no-such-module.so";
  std::string message = ErrorOf([&] { env.LoadPlugin(missing); });
  EXPECT_EQ(message.rfind("LoadPlugin: cannot load \"" + missing + "\"", 0), 0u) << message;

  EXPECT_EQ(ErrorOf([&] { env.LoadPlugin(FIXTURE_NO_ENTRY_PATH); }),
            std::string("LoadPlugin: \"") + FIXTURE_NO_ENTRY_PATH + "\" has no AvisynthPluginInit2 entry");
  EXPECT_EQ(ErrorOf([&] { env.LoadPlugin(""); }), "LoadPlugin: no module path given");
  EXPECT_TRUE(env.Functions().empty());
}

TEST(LoadPluginTest, BareFileNameIsNotLookedUpInSystemLibraryPaths) {
  host::ScriptEnvironment env;
  std::string message = ErrorOf([&] { env.LoadPlugin("libc.so.6"); });
  EXPECT_EQ(message.rfind("LoadPlugin: cannot load \"libc.so.6\"", 0), 0u) << message;
}

TEST(LoadPluginTest, ErrorFromTheEntryReachesTheLoader) {
  host::ScriptEnvironment env;
  EXPECT_EQ(ErrorOf([&] { env.LoadPlugin(FIXTURE_THROWING_PATH); }), "Throwing fixture: refused to load (on purpose)");
}

TEST(LoadPluginTest, ModuleMayBeLoadedTwiceIntoOneEnvironment) {
  host::ScriptEnvironment env;
  env.LoadPlugin(FIXTURE_ECHO_PATH);
  env.LoadPlugin(FIXTURE_ECHO_PATH);
  EXPECT_STREQ(env.Invoke("Twice", AVSValue()).AsString(), "second");
}

TEST(AddFunctionTest, RefusesMalformedSignatures) {
  host::ScriptEnvironment env;
  auto apply = [](AVSValue, void*, IScriptEnvironment*) -> AVSValue { return AVSValue(); };
  EXPECT_EQ(ErrorOf([&] { env.AddFunction("F", "c[x", apply, nullptr); }),
            "AddFunction: \"F\" has a bad parameter signature \"c[x\": unclosed '['");
  EXPECT_EQ(ErrorOf([&] { env.AddFunction("F", "c[]i", apply, nullptr); }),
            "AddFunction: \"F\" has a bad parameter signature \"c[]i\": empty parameter name");
  EXPECT_EQ(ErrorOf([&] { env.AddFunction("F", "c+", apply, nullptr); }),
            "AddFunction: \"F\" has a bad parameter signature \"c+\": unknown type '+'");
  EXPECT_EQ(ErrorOf([&] { env.AddFunction("F", "c[x]", apply, nullptr); }),
            "AddFunction: \"F\" has a bad parameter signature \"c[x]\": a name without a type at the end");
  EXPECT_EQ(ErrorOf([&] { env.AddFunction("F", "[a]i[A]s", apply, nullptr); }),
            "AddFunction: \"F\" has a bad parameter signature \"[a]i[A]s\": parameter \"A\" named twice");
  EXPECT_EQ(ErrorOf([&] { env.AddFunction("F", "c", nullptr, nullptr); }),
            "AddFunction: \"F\" has no creation function");
  EXPECT_TRUE(env.Functions().empty());
}

}  // namespace
