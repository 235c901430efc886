// Tests of script values: conversions, the float text form, copies and sharing, records, string operations.
#include "vm/script_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "tests/vm/vm_fixture.h"

namespace {

std::string FloatText(float x) {
  char buf[64];
  return FormatScriptFloat(x, buf, sizeof buf);
}

TEST(ScriptValueTest, FloatTextForm) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float x;
    const char* text;
  } cases[] = {
      {1.5f, "1.5"},
      {1.0f, "1."},
      {0.0f, "0."},
      {0.1f, "0.1"},
      {-2.25f, "-2.25"},
      {100.0f, "100."},
      {3.14159265f, "3.141593"},
      {1234567.0f, "1234567"},
      {12345678.0f, "1.234568e+007"},
      {0.01f, "1.e-002"},
      {1e10f, "1.e+010"},
      {-1e-10f, "-1.e-010"},
      {0.5f, "0.5"},
      {9999999.0f, "9999999"},
      {99999999.0f, "1.e+008"},
      {3e38f, "3.e+038"},
      {1e-5f, "1.e-005"},
      {1.0f / 3.0f, "0.3333333"},
      {123456.7f, "123456.7"},
      {0.099999994f, "9.999999e-002"},
      {1.5e-45f, "1.401298e-045"},  // the smallest denormal
      {inf, "inf"},
      {-inf, "-inf"},
      {std::nanf(""), "nan"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatText(c.x), c.text) << c.x;
}

TEST(ScriptValueTest, ToIntRules) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"  42abc", 42}, {"abc", 0},        {"", 0},
      {"-17", -17},    {"+8", 8},         {"\t\n\v\f\r 5", 5},
      {"- 5", 0},      {"4294967297", 1}, {"-2147483648", INT32_MIN},
      {"12.9", 12},    {"0x10", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToInt(c.text), c.value) << c.text;

  struct FloatCase {
    float f;
    int32_t value;
  } floats[] = {
      {-1.9f, -1},
      {1.9f, 1},
      {2147483520.0f, 2147483520},
      {2147483648.0f, INT32_MIN},
      {-2147483648.0f, INT32_MIN},
      {-3e9f, INT32_MIN},
      {std::numeric_limits<float>::infinity(), INT32_MIN},
      {std::nanf(""), INT32_MIN},
  };
  for (const FloatCase& c : floats) EXPECT_EQ(FloatToInt(c.f), c.value) << c.f;
}

TEST(ScriptValueTest, StringToFloatRules) {
  struct Case {
    const char* text;
    float value;
  } cases[] = {
      {"1.5", 1.5f},
      {"  -2.5e2x", -250.0f},
      {"3d2", 300.0f},
      {"4D-1", 0.4f},
      {"1e", 1.0f},
      {".5", 0.5f},
      {"5.", 5.0f},
      {".", 0.0f},
      {"abc", 0.0f},
      {"0x10", 0.0f},
      {"inf", 0.0f},
      {"0.1", 0.1f},
      // Only the first 32 bytes count: a numeral behind 32 blanks is not seen, a long one is cut.
      {"                                7", 0.0f},
      {"1234567890123456789012345678901234", 1.2345678901234567890123456789012e31f},
  };
  for (const Case& c : cases) EXPECT_EQ(StringToFloat(c.text), c.value) << c.text;
}

TEST(ScriptValueTest, ConversionsOfEveryType) {
  ScriptValue i, f, s, r, o;
  i.SetInt(-5);
  f.SetFloat(2.5f);
  s.SetString("12abc");
  r.GetMember("x");
  o.SetObject(NewTestObject(), kScriptImage, &ReleaseTestObject);
  EXPECT_EQ(i.ToInt(), -5);
  EXPECT_EQ(f.ToInt(), 2);
  EXPECT_EQ(s.ToInt(), 12);
  EXPECT_EQ(r.ToInt(), 0);
  EXPECT_EQ(o.ToInt(), 0);
  EXPECT_EQ(i.ToFloat(), -5.0f);
  EXPECT_EQ(s.ToFloat(), 12.0f);
  EXPECT_EQ(o.ToFloat(), 0.0f);
  EXPECT_STREQ(i.ToStaticString(), "-5");
  EXPECT_STREQ(f.ToStaticString(), "2.5");
  EXPECT_EQ(s.ToStaticString(), s.text());  // a string gives its own text
  EXPECT_STREQ(r.ToStaticString(), "(error)");
  EXPECT_STREQ(o.ToStaticString(), "(error)");
}

TEST(ScriptValueTest, CopiesShareRecordsAndDuplicateStrings) {
  ScriptValue a, b;
  a.GetMember("x")->SetInt(1);
  ScriptValue::Assign(a, &b);
  b.GetMember("x")->SetInt(2);
  EXPECT_EQ(a.GetMember("x")->int_value(), 2);
  EXPECT_TRUE(ScriptValue::SameObject(a, b));

  ScriptValue s, t;
  s.SetString("abc");
  ScriptValue::Assign(s, &t);
  t.CutAtFirst("b");
  EXPECT_STREQ(s.text(), "abc");
  EXPECT_STREQ(t.text(), "a");

  ScriptValue::Assign(s, &s);  // a value assigned to itself stays as it was
  EXPECT_STREQ(s.text(), "abc");
}

TEST(ScriptValueTest, AssigningFromInsideTheDestinationReadsTheSourceFirst) {
  // d = d.inner where d holds the only reference to the record that holds inner.
  ScriptValue d;
  d.GetMember("inner")->SetString("kept");
  ScriptValue::Assign(*d.GetMember("inner"), &d);
  EXPECT_EQ(Show(d), "s:kept");

  ScriptValue e;
  e.GetMember("inner")->GetMember("y")->SetInt(7);
  ScriptValue::Assign(*e.GetMember("inner"), &e);
  EXPECT_EQ(e.GetMember("y")->int_value(), 7);
}

TEST(ScriptValueTest, ObjectCountsFollowCopiesAndReleases) {
  TestObject::destroyed = 0;
  {
    DRef<void> obj = NewTestObject();
    ScriptValue a, b;
    a.SetObject(obj, kScriptImage, &ReleaseTestObject);
    EXPECT_EQ(obj.UseCount(), 2u);
    ScriptValue::Assign(a, &b);
    EXPECT_EQ(obj.UseCount(), 3u);
    a.SetObject(obj, kScriptImage, &ReleaseTestObject);  // the same object again stays alive
    EXPECT_EQ(obj.UseCount(), 3u);
    b.SetInt(1);
    EXPECT_EQ(obj.UseCount(), 2u);
    a.AddRef();
    EXPECT_EQ(obj.UseCount(), 3u);
    dref_detail::DropRef(obj.GetBlock());  // the reference AddRef handed out
  }
  EXPECT_EQ(TestObject::destroyed, 1);
}

TEST(ScriptValueTest, MembersAreFoundByExactBytesInOrder) {
  ScriptValue v;
  v.SetInt(9);
  ScriptValue* x = v.GetMember("x");
  EXPECT_EQ(v.type(), kScriptRecord);  // the number is gone
  EXPECT_EQ(Show(*x), "i:0");
  ScriptValue* upper = v.GetMember("X");
  EXPECT_NE(x, upper);
  EXPECT_EQ(v.GetMember("x"), x);
  auto* record = static_cast<ScriptRecord*>(v.handle()->ref.Get());
  ASSERT_EQ(record->size(), 2u);
  EXPECT_STREQ(record->member(0).name.get(), "x");
  EXPECT_STREQ(record->member(1).name.get(), "X");
}

TEST(ScriptValueTest, LongRecordChainIsFreedWithoutDeepRecursion) {
  ScriptValue head;
  ScriptValue* v = &head;
  for (int i = 0; i < 200000; ++i) v = v->GetMember("next");
  head.SetInt(0);  // must not overflow the native stack
  SUCCEED();
}

TEST(ScriptValueTest, SplitsAndCuts) {
  struct Case {
    const char* op;
    const char* text;
    const char* set;
    const char* dest;  // what the destination gets (split forms)
    const char* rest;  // what the operand keeps
  } cases[] = {
      {"first", "a,b,c", ",", "a", "b,c"},
      {"first", "abc", ";", "abc", ""},
      {"first", "", ",", "", ""},
      {"last", "dir/sub/name", "/", "name", "dir/sub"},
      {"last", "abc", "/", "abc", ""},
      {"drop", "key=value", "=", nullptr, "value"},
      {"cut", "key=value", "=", nullptr, "key"},
      {"drop", "key", "=", nullptr, "key"},
      {"cut", "key", "=", nullptr, "key"},
      {"first", "a,b", "", "a,b", ""},  // an empty set finds nothing
      // "表" is 0x95 0x5C: its trail byte is never a backslash separator.
      {"first", "表\\x", "\\", "表", "x"},
      {"last", "a\\表", "\\", "表", "a"},
      {"cut", "表x", "\\", nullptr, "表x"},
      // A double-byte separator matches only the whole character.
      {"first", "a表b", "表", "a", "b"},
      {"last", "x\\y", "表", "x\\y", ""},
  };
  for (const Case& c : cases) {
    ScriptValue a, d;
    a.SetString(c.text);
    std::string op = c.op;
    if (op == "first") ScriptValue::SplitFirst(&d, &a, c.set);
    if (op == "last") ScriptValue::SplitLast(&d, &a, c.set);
    if (op == "drop") a.DropFirst(c.set);
    if (op == "cut") a.CutAtFirst(c.set);
    if (c.dest) {
      EXPECT_EQ(Show(d), std::string("s:") + c.dest) << op << " " << c.text;
    }
    EXPECT_EQ(Show(a), std::string("s:") + c.rest) << op << " " << c.text;
  }
}

TEST(ScriptValueTest, ConcatMayWriteIntoItsOwnOperand) {
  ScriptValue a;
  a.SetString("ab");
  ScriptValue::SetConcat(a, a.text(), &a);
  EXPECT_STREQ(a.text(), "abab");
  ScriptValue d;
  d.SetString("x");
  ScriptValue::SplitFirst(&d, &d, ",");  // destination and operand are one value
  EXPECT_EQ(d.type(), kScriptString);
}

TEST(ScriptValueTest, FloatModTanAndBoundedCopy) {
  EXPECT_EQ(FloatMod(7.5f, 2.0f), 1.5f);
  EXPECT_EQ(FloatMod(-7.5f, 2.0f), -1.5f);
  EXPECT_EQ(FloatMod(7.5f, -2.0f), 1.5f);
  EXPECT_EQ(FloatMod(7.5f, 0.0f), 0.0f);

  const float* sin = VmSinTable();
  EXPECT_EQ(TableTan(0.0f), 0.0f);
  EXPECT_FLOAT_EQ(TableTan(0.5f), sin[325] / sin[325 + 1024]);  // trunc(0.5 * 651.89...) = 325
  EXPECT_FLOAT_EQ(TableTan(-0.5f), sin[4096 - 325] / sin[4096 - 325 + 1024]);
  EXPECT_EQ(TableTan(static_cast<float>(M_PI / 2)), 0.0f);  // index 1024: cosine entry ~0
  EXPECT_EQ(TableTan(std::nanf("")), 0.0f);
  EXPECT_EQ(TableTan(std::numeric_limits<float>::infinity()), 0.0f);

  char buf[8];
  std::memset(buf, 'z', sizeof buf);
  EXPECT_STREQ(CopyStringBounded(buf, "abcdef", 4), "abc");
  EXPECT_STREQ(CopyStringBounded(buf, "ab", 4), "ab");
  buf[0] = 'q';
  CopyStringBounded(buf, "abc", 0);
  EXPECT_EQ(buf[0], 'q');
}

}  // namespace
