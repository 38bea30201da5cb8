// Module loading and Invoke's argument packing, through real loaded modules.
#include <gtest/gtest.h>

#include <string>

#include "error_of.h"
#include "module_fixture.h"

namespace {

class InvokeTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(env.LoadPlugin(FIXTURE_ECHO_PATH), "Echo fixture"); }

  host::ScriptEnvironment env;
  PClip clip{new host::MemoryClip(testing_support::Yuy2Info(64, 48, 1), {})};
};

TEST_F(InvokeTest, EntryRegistersItsFunctions) {
  ASSERT_GE(env.Functions().size(), 2u);
  EXPECT_EQ(env.Functions()[0].name, "Echo");
  EXPECT_EQ(env.Functions()[0].params, "c[name]s[count]i[gain]f[flag]b");
  EXPECT_TRUE(env.FunctionExists("echo"));
  EXPECT_TRUE(env.FunctionExists("ECHO"));
  EXPECT_FALSE(env.FunctionExists("Ech"));
}

// Invoke packs a call's arguments into the signature's slots (a value that
// is not an array the one argument, optionals not given or void left void,
// named ones to their slot whatever the order and case, an int as a float,
// any kind for '.'), or refuses it in words that name the argument.
TEST_F(InvokeTest, PacksArgumentsIntoTheirSlotsOrRefusesTheCall) {
  IClip* none = nullptr;
  const struct {
    const char* function;
    std::vector<AVSValue> args;      // one without names: the value alone
    std::vector<const char*> names;  // none: all positional
    std::string result;              // the function's, or the refusal
  } cases[] = {
      {"Echo", {clip}, {}, "5 c:64x48 v v v v"},
      {"Echo", {clip, "plan.txt", 3, 1.5, true}, {}, "5 c:64x48 s:plan.txt i:3 f:1.5 b:true"},
      {"Echo", {clip, true, "x.zem", 7}, {nullptr, "FLAG", "name", "Count"}, "5 c:64x48 s:x.zem i:7 v b:true"},
      {"Echo", {clip, 2}, {nullptr, "gain"}, "5 c:64x48 v v f:2 v"},
      {"Echo", {clip, AVSValue(), 4}, {}, "5 c:64x48 v i:4 v v"},
      {"Any", {5}, {}, "2 i:5 v"},
      {"Any", {"text", clip}, {nullptr, "extra"}, "2 s:text c:64x48"},
      {"Nope", {clip}, {}, "Invoke: there is no function named \"Nope\""},
      {"Echo",
       {clip, "a", 1, 1.0, true, 2},
       {},
       "Echo: too many arguments: it takes at most 5 (signature \"c[name]s[count]i[gain]f[flag]b\")"},
      {"Echo", {clip, 1}, {nullptr, "zemFile"}, "Echo: there is no parameter named \"zemFile\""},
      {"Echo", {clip, "three"}, {nullptr, "count"}, "Echo: argument \"count\" must be an int, not a string"},
      {"Echo", {clip, 2.5}, {nullptr, "count"}, "Echo: argument \"count\" must be an int, not a float"},
      {"Echo", {5}, {}, "Echo: argument 1 must be a clip, not an int"},
      {"Echo", {AVSValue()}, {}, "Echo: argument 1 (a clip) is required but missing"},
      {"Echo", {"x"}, {"name"}, "Echo: argument 1 (a clip) is required but missing"},
      {"Echo", {clip, "a", "b"}, {nullptr, nullptr, "name"}, "Echo: argument \"name\" is given twice"},
      {"Echo", {clip, "a", "b"}, {nullptr, "name", "NAME"}, "Echo: argument \"name\" is given twice"},
      // A positional argument after a named one must not land on a filled slot.
      {"Echo", {"a", clip, "b"}, {"name", nullptr, nullptr}, "Echo: argument \"name\" is given twice"},
      {"Echo", {AVSValue(none)}, {}, "Echo: argument 1 is a clip value that holds no clip"},
  };
  for (const auto& c : cases) {
    const bool alone = c.args.size() == 1 && c.names.empty();
    std::string result;
    try {
      const AVSValue r = env.Invoke(c.function, alone ? c.args[0] : AVSValue(c.args.data(), int(c.args.size())),
                                    c.names.empty() ? nullptr : const_cast<const char**>(c.names.data()));
      result = r.IsString() ? r.AsString() : "not a string";
    } catch (const AvisynthError& e) {
      result = e.msg;
    }
    EXPECT_EQ(result, c.result) << c.function << " with " << c.args.size() << " arguments";
  }
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

// A module that cannot be loaded: the refusal names it and says why (a bare
// file name is not looked up in the system's library paths), and the
// refusal of its entry reaches the loader; nothing is registered.
TEST(LoadPluginTest, FailuresNameThePath) {
  host::ScriptEnvironment env;
  const std::string missing = "/nonexistent-zemivtc-dir/no-such-module.so", noEntry = FIXTURE_NO_ENTRY_PATH;
  const std::pair<std::string, std::string> cases[] = {
      {missing, "LoadPlugin: cannot load \"" + missing + "\""},
      {noEntry, "LoadPlugin: \"" + noEntry + "\" has no AvisynthPluginInit2 entry"},
      {"", "LoadPlugin: no module path given"},
      {"libc.so.6", "LoadPlugin: cannot load \"libc.so.6\""},
      {FIXTURE_THROWING_PATH, "Throwing fixture: refused to load (on purpose)"}};
  for (const auto& [path, message] : cases) {
    const std::string got = ErrorOf([&] { env.LoadPlugin(path); });
    EXPECT_EQ(got.rfind(message, 0), 0u) << got;
  }
  EXPECT_TRUE(env.Functions().empty());
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
