// Strings, math, conversions, type and date; paths; profiles; frame timing; the path exports.
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>

#include "api/ov_api.h"
#include "api_fixture.h"
#include "base/dprofile.h"
#include "platform/mmsystem.h"
#include "shell/cframetimer.h"
#include "shell/engine.h"
#include "tests/support/scratch_dir.h"
#include "vm/script_loader.h"

std::string PadText(const ScriptValue& value, const char* fill_text, int32_t width);

namespace {

constexpr uint32_t kStrMid = 106, kStrMidRight = 107, kStrCharLength = 108, kStrLength = 231, kCompare = 109,
                   kStrHex = 113, kStrPad = 114, kRound = 223, kGetType = 194, kGetDateTime = 188,
                   kRandom = 21, kSin = 61, kCos = 62, kTan = 238, kSqrt = 180, kAdjustRadian = 163,
                   kAdjustHalfRadian = 63;

// Three double-byte characters, the first with a 0x5C trail byte.
const std::string kThree = "表示あ";

TEST_F(BuiltinFrame, StrMidAndStrMidRightCountCharactersNotBytes) {
  const std::string six = "ab表cde";
  const struct {
    uint32_t n;
    std::string text;
    int32_t a, count;
    std::string want;
  } rows[] = {
      {kStrMid, kThree, 1, 1, "示"},
      {kStrMid, kThree, 5, 1, ""},
      {kStrMid, kThree, 1, -1, "示あ"},
      {kStrMid, kThree, -1, 2, ""},
      {kStrMid, kThree, 0, 0, ""},
      {kStrMid, "", 0, 3, ""},
      {kStrMid, kThree, 0, 2, "表示"},
      {kStrMidRight, six, 2, 2, "cd"},
      {kStrMidRight, six, 6, 2, ""},
      {kStrMidRight, six, 0, 5, "e"},
      {kStrMidRight, six, -1, 1, ""},
      {kStrMidRight, kThree, 1, 1, "示"},
      {kStrMid, std::string("a\x81", 2), 1, 1, "\x81"},  // a lead byte at the end stands alone
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text + " " + std::to_string(r.a) + " " + std::to_string(r.count));
    Str(1, r.text);
    Int(2, r.a);
    Int(3, r.count);
    Call(r.n, {1, 2, 3});
    EXPECT_EQ(ResultText(), r.want);
  }
}

TEST_F(BuiltinFrame, LengthsCompareAndHex) {
  Int(1, 123);
  Call(kStrLength, {1});
  EXPECT_EQ(Result()->ToInt(), 3);
  Str(1, "a表");
  Call(kStrLength, {1});
  EXPECT_EQ(Result()->ToInt(), 3);
  Call(kStrCharLength, {1});
  EXPECT_EQ(Result()->ToInt(), 2);

  const struct {
    std::string a, b;
    int32_t want;
  } compares[] = {{"AbC表", "aBc表", 1}, {"abc", "abcd", 0}, {"ab", "ac", 0}, {"表", "\x95\x7c", 0}};
  for (const auto& c : compares) {
    Str(1, c.a);
    Str(2, c.b);
    Call(kCompare, {1, 2});
    EXPECT_EQ(Result()->ToInt(), c.want) << c.a << " " << c.b;
  }
  Int(1, 12);
  Str(2, "12");
  Call(kCompare, {1, 2});
  EXPECT_EQ(Result()->ToInt(), 1);

  Int(1, -1);
  Call(kStrHex, {1});
  EXPECT_EQ(ResultText(), "ffffffff");
  Float(1, 1.0f);
  Call(kStrHex, {1});
  EXPECT_EQ(ResultText(), "3f800000");
  Str(1, "x");
  Call(kStrHex, {1});
  EXPECT_EQ(ResultText(), "x");
  Str(0, "self");  // the string argument is the result slot itself
  Call(kStrHex, {0u});
  EXPECT_EQ(ResultText(), "self");
}

TEST_F(BuiltinFrame, StrPadFillsToTheWidthAndNeverCutsANumber) {
  const struct {
    int kind;  // 0 int, 1 float, 2 string
    std::string value;
    std::string fill;
    int32_t width;
    std::string want;
  } rows[] = {
      {0, "7", "0", 3, "700"},
      {2, "abcdef", "x", 3, "abc"},
      {0, "123456", "0", 3, "123456"},  // a number longer than the width comes back whole
      {0, "5", "ab", -4, "5"},          // a negative width counts as 0
      {2, "abc", "x", -1, ""},
      {2, "a", "表", 4, "a表"},  // one byte left: a double-byte fill character is not split
      {2, "a", "xy", 6, "axyxyx"},
      {2, "a", "", 5, "a"},
      {1, "1.5", "-", 10, "1.500000--"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.value + " " + r.fill + " " + std::to_string(r.width));
    if (r.kind == 0) Int(1, std::stoi(r.value));
    if (r.kind == 1) Float(1, std::stof(r.value));
    if (r.kind == 2) Str(1, r.value);
    Str(2, r.fill);
    Int(3, r.width);
    Call(kStrPad, {1, 2, 3});
    EXPECT_EQ(ResultText(), r.want);
  }
  ScriptValue record;
  record.GetMember("m");
  EXPECT_EQ(PadText(record, "*", 9), "(error)**");
}

TEST_F(BuiltinFrame, RoundGoesToEvenAndOutOfRangeValuesGiveTheMachinesMinimum) {
  const struct {
    float in;
    int32_t want;
  } rows[] = {{2.5f, 2},
              {3.5f, 4},
              {-2.5f, -2},
              {1.4f, 1},
              {-1.6f, -2},
              {NAN, INT32_MIN},
              {INFINITY, INT32_MIN},
              {3e9f, INT32_MIN},
              {-2147483648.0f, INT32_MIN}};
  for (const auto& r : rows) {
    Float(1, r.in);
    Call(kRound, {1});
    EXPECT_EQ(Result()->ToInt(), r.want) << r.in;
  }
}

TEST_F(BuiltinFrame, GetTypeCodesSkipFiles) {
  const struct {
    uint32_t type;
    int32_t want;
  } rows[] = {{kScriptProfile, 9},         {kScriptNet, 10},       {kScriptTask, 11},
              {kScriptPluginFunction, 12}, {kScriptFile, -1},      {kScriptStream, -1},
              {kScriptWipe, -1},           {kScriptAaCharSet, -1}, {kScriptImage, 4}};
  for (const auto& r : rows) {
    DRef<DProfile> p;
    p.Alloc(1);
    Slot(1)->SetObject(DRef<void>::Convert(p), r.type, &ReleaseObjectValue);
    Call(kGetType, {1});
    EXPECT_EQ(Result()->ToInt(), r.want) << r.type;
  }
  Str(1, "s");
  Call(kGetType, {1});
  EXPECT_EQ(Result()->ToInt(), 2);
}

TEST_F(BuiltinFrame, GetDateTimeSetsEightMembersAndKeepsOthers) {
  Result()->GetMember("mine")->SetInt(42);
  Result()->GetMember("year")->SetInt(-1);
  Call(kGetDateTime);
  ASSERT_EQ(Result()->type(), kScriptRecord);
  EXPECT_EQ(Result()->GetMember("mine")->ToInt(), 42);
  EXPECT_GE(Result()->GetMember("year")->ToInt(), 2000);
  const int month = Result()->GetMember("month")->ToInt();
  EXPECT_TRUE(month >= 1 && month <= 12);
  EXPECT_LE(Result()->GetMember("week")->ToInt(), 6);
  EXPECT_LE(Result()->GetMember("millisecond")->ToInt(), 999);
  Int(0, 3);  // a non-structure becomes a new structure
  Call(kGetDateTime);
  EXPECT_EQ(Result()->type(), kScriptRecord);
}

TEST_F(BuiltinFrame, RandomFollowsTheSeededGeneratorModel) {
  SeedRandom(12345);
  uint32_t state = 12345;
  auto model = [&](int32_t lower, int32_t upper) {
    if (lower > upper) std::swap(lower, upper);
    state = state * 214013u + 2531011u;
    const int r = static_cast<int>((state >> 16) & 0x7FFF);
    return static_cast<int32_t>(lower + std::floor(r * (double(upper) - lower + 1) / 32768.0));
  };
  const int32_t pairs[][2] = {{3, 1}, {1, 3}, {5, 5}, {-10, 10}, {0, 100000}, {7, -7}};
  for (int round = 0; round < 50; ++round) {
    for (const auto& p : pairs) {
      Int(1, p[0]);
      Int(2, p[1]);
      Call(kRandom, {1, 2});
      const int32_t lo = std::min(p[0], p[1]), hi = std::max(p[0], p[1]);
      const int32_t got = Result()->ToInt();
      EXPECT_EQ(got, model(lo, hi - 1));
      if (lo == hi)
        EXPECT_TRUE(got == lo - 1 || got == lo);
      else
        EXPECT_TRUE(got >= lo && got < hi);
    }
    EXPECT_EQ(ovRandom(1, 3), model(1, 2));
  }
}

TEST_F(BuiltinFrame, SinCosTanReadTheTableIndexIncludingNegativeAngles) {
  const float half_pi = 1.5707964f;
  Float(1, -half_pi);
  Call(kSin, {1});
  EXPECT_EQ(Result()->float_value(), DimgSinTable[3072]);
  EXPECT_EQ(Result()->float_value(), -1.0f);
  Float(1, 0.0f);
  Call(kCos, {1});
  EXPECT_EQ(Result()->float_value(), DimgSinTable[1024]);
  Float(1, 0.7853982f);  // index 512: tangent 1
  Call(kTan, {1});
  EXPECT_NEAR(Result()->float_value(), 1.0f, 1e-5f);
  Float(1, half_pi);  // cosine entry 0 there
  Call(kTan, {1});
  EXPECT_EQ(Result()->float_value(), 0.0f);
  for (float bad : {NAN, INFINITY, -INFINITY, 1e30f}) {
    Float(1, bad);
    Call(kSin, {1});
    EXPECT_EQ(Result()->float_value(), DimgSinTable[0]) << bad;
  }
}

TEST_F(BuiltinFrame, SqrtFollowsTheBitRule) {
  const struct {
    float in;
    float want;
  } exact[] = {{4.0f, 2.0f}, {0.0f, 0.0f}, {1.0f, 1.0f}, {-4.0f, 0.0f}, {-1.0f, INFINITY}, {16.0f, 4.0f}};
  for (const auto& r : exact) {
    Float(1, r.in);
    Call(kSqrt, {1});
    EXPECT_EQ(Result()->float_value(), r.want) << r.in;
  }
  // A sweep of positive values: within the table's 15-bit grain of the true root.
  for (float x = 1e-6f; x < 1e6f; x *= 1.37f) {
    Float(1, x);
    Call(kSqrt, {1});
    EXPECT_NEAR(Result()->float_value(), std::sqrt(x), std::sqrt(x) * 1e-4f) << x;
  }
}

TEST_F(BuiltinFrame, AdjustRadianTakesOneStepAndMakesTheVariableAFloat) {
  const struct {
    uint32_t n;
    float in, want;
  } rows[] = {{kAdjustRadian, -10.0f, -10.0f + 6.2831855f},
              {kAdjustRadian, 7.0f, 7.0f - 6.2831855f},
              {kAdjustRadian, 1.0f, 1.0f},
              {kAdjustHalfRadian, 4.0f, 4.0f - 3.1415927f},
              {kAdjustHalfRadian, -1.0f, -1.0f + 3.1415927f}};
  for (const auto& r : rows) {
    Float(4, r.in);
    Int(0, 9);
    Call(r.n, {4});
    EXPECT_EQ(Slot(4)->type(), kScriptFloat);
    EXPECT_EQ(Slot(4)->float_value(), r.want);
    EXPECT_EQ(Result()->ToInt(), 9);
  }
  Int(4, 1);
  Call(kAdjustRadian, {4});
  EXPECT_EQ(Slot(4)->type(), kScriptFloat);
}

// ---- Paths.

TEST_F(BuiltinFrame, PathBuiltinsTakeTheirArgumentsInTheirOrder) {
  SetProgramDirectory("/games/one/");
  Str(1, "data");
  Str(2, "pic");
  Str(3, "bmp");
  Call(121, {1, 2, 3});  // MargePath
  EXPECT_EQ(ResultText(), "data/pic.bmp");
  Str(3, "");
  Call(121, {1, 2, 3});
  EXPECT_EQ(ResultText(), "data/pic");

  Str(4, "a\\b\\name.txt");
  Int(1, 0), Int(2, 0), Int(3, 0);
  Call(120, {1, 2, 3, 4});  // SplitPath: the path is the fourth argument
  EXPECT_EQ(std::string(Slot(1)->ToStaticString()), "a/b/");
  EXPECT_EQ(std::string(Slot(2)->ToStaticString()), "name");
  EXPECT_EQ(std::string(Slot(3)->ToStaticString()), "txt");

  Str(1, "x/y.mei");
  Str(2, "");
  Call(123, {1, 2});  // GetAbsolutePath against the running directory
  EXPECT_EQ(ResultText(), "/games/one/x/y.mei");
  Str(1, "/games/one/x/y.mei");
  Str(2, "/games/one/");
  Call(122, {1, 2});  // GetRelativePath
  EXPECT_EQ(ResultText(), "x/y.mei");

  Str(1, "dir/file.txt");
  Str(2, "*.txt");
  Call(124, {1, 2});  // IsWildPathCompare: path, then pattern
  EXPECT_EQ(Result()->ToInt(), 1);
  Call(124, {2, 1});
  EXPECT_EQ(Result()->ToInt(), 0);

  Str(1, "表\\a/b");
  Call(128, {1});  // ConvSlashPath: the trail byte 0x5C of the first character stays
  EXPECT_EQ(ResultText(), "表/a/b");
  Call(127, {1});  // ConvYenPath
  EXPECT_EQ(ResultText(), "表\\a\\b");
}

TEST(PathExports, FillAtMost264BytesAndToleratesNullOutputs) {
  const std::string long_path(600, 'a');
  char out[300];
  std::memset(out, 'Z', sizeof out);
  ovConvSlashPath(out, long_path.c_str());
  EXPECT_EQ(std::strlen(out), 263u);
  EXPECT_EQ(out[264], 'Z');
  std::memset(out, 'Z', sizeof out);
  ovConvYenPath(out, "a/表/c");
  EXPECT_STREQ(out, "a\\表\\c");
  ovMargePath(out, long_path.c_str(), long_path.c_str(), "x");
  EXPECT_LE(std::strlen(out), 263u);
  char name[264];
  ovSplitPath(nullptr, name, nullptr, "d/n.e");
  EXPECT_STREQ(name, "n");
  EXPECT_EQ(ovIsWildPathCompare("n.e", "*.e"), 1);
  EXPECT_EQ(ovIsWildPathCompare("*.e", "n.e"), 0);
  ovGetAbsolutePath(out, "b", "/a/");
  EXPECT_STREQ(out, "/a/b");
  EXPECT_EQ(ovGetWindowsPath(out), 0);
}

// ---- Profiles.

TEST_F(BuiltinFrame, ProfilesReadDefaultsWriteFilesAndResolveAgainstTheScript) {
  orvane_test::ScratchDir dir("orvane_api_profile");
  SetProgramDirectory((dir.Dir() + "/").c_str());
  Str(1, "7");
  Str(2, "fallback");
  Int(3, 7);
  Call(119, {1, 3});  // ReadProfileString without a profile: the default's text
  EXPECT_EQ(ResultText(), "7");
  Call(118, {1, 2});  // WriteProfileString without a profile: nothing
  EXPECT_TRUE(Boxes().empty());

  Str(4, "save.ini");
  Str(5, "sec");
  Call(115, {4, 5});  // LoadProfile of a file that does not exist
  ASSERT_EQ(Result()->type(), kScriptProfile);
  ScriptValue::Assign(*Result(), Slot(6));
  Call(117, {6});  // SetProfile
  Str(1, "key");
  Call(119, {1, 2});
  EXPECT_EQ(ResultText(), "fallback");
  Str(2, "value");
  Call(118, {1, 2});
  EXPECT_NE(dir.Read("save.ini").find("value"), std::string::npos);
  Str(2, "other");
  Call(119, {1, 2});
  EXPECT_EQ(ResultText(), "value");
}

// ---- Frame timing.

TEST_F(BuiltinFrame, FrameTimingBuiltinsDriveTheOneTimer) {
  orvane::clock::UseVirtualClock(100000);
  FrameTimer().Term();
  ASSERT_TRUE(FrameTimer().Init());
  Int(1, 60);
  Call(15, {1});  // SetFPS
  EXPECT_EQ(FrameTimer().GetIntervalFixed(), 1092267u);
  Call(16);  // GetDelayTime
  EXPECT_NEAR(Result()->float_value(), 16.666672f, 1e-5f);
  Int(1, 30);
  Call(15, {1});
  for (int i = 0; i < 70; ++i) Call(18);  // WaitTime: the virtual clock moves by the sleeps
  Call(281);                              // GetCurrentFPS
  EXPECT_EQ(Result()->ToInt(), 30);
  EXPECT_EQ(ovGetCurrentFPS(), 30);
  Call(17);  // ClearTime
  Call(176);
  EXPECT_EQ(Result()->ToInt(), 0);
  Int(1, 3);
  Call(280, {1});  // SetForceFrame
  ovSetFPS(60);
  EXPECT_EQ(FrameTimer().GetIntervalFixed(), 1092267u);
  FrameTimer().Term();
  orvane::clock::UseRealClock();
}

}  // namespace
