// The line tokenizer: characters, tokens with quotes and escapes, and number conversions.
#include "game/tokenizer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Token {
  std::string name;
  std::string value;
  bool end;
  bool operator==(const Token&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Token& t) {
  return os << "{" << t.name << "|" << t.value << "|" << t.end << "}";
}

// Every token of a line read with ReadOption until the end flag is set.
std::vector<Token> Tokens(const std::string& line, CharCode terminator = 0, const char** rest = nullptr) {
  std::vector<Token> tokens;
  const char* cursor = line.c_str();
  bool end = false;
  while (!end && tokens.size() < 64) {
    char name[1024], value[1024];
    ReadOption(cursor, name, sizeof(name), value, sizeof(value), end, terminator);
    tokens.push_back({name, value, end});
  }
  if (rest) *rest = cursor;
  return tokens;
}

TEST(ReadChar, DoubleByteCharactersAndLineEnds) {
  const char* p = "a\x82\xa0\x95\x5c\r b";
  EXPECT_EQ(ReadChar(p), 'a');
  EXPECT_EQ(ReadChar(p), 0x82a0);
  EXPECT_EQ(ReadChar(p), 0x955c);  // a trail byte 0x5C is part of the character
  EXPECT_EQ(ReadChar(p), 0);       // the carriage return ends the line and is not consumed
  EXPECT_EQ(ReadChar(p), 0);
  EXPECT_EQ(*p, '\r');

  const char* q = "x\ny";
  ReadChar(q);
  EXPECT_EQ(ReadChar(q), 0);
  EXPECT_EQ(*q, '\n');
}

TEST(ReadChar, LoneLeadByteAtTheEndIsNotReadPast) {
  // Exactly two bytes on the heap: a lead byte and the NUL, so ASan sees any read past them.
  std::unique_ptr<char[]> text(new char[2]{'\x82', '\0'});
  const char* p = text.get();
  EXPECT_EQ(ReadChar(p), 0x82);
  EXPECT_EQ(p, text.get() + 1);
  EXPECT_EQ(ReadChar(p), 0);

  const char* q = "\x82\n";
  EXPECT_EQ(ReadChar(q), 0x82);
  EXPECT_EQ(ReadChar(q), 0);
}

TEST(PutChar, AppendsWhileThereIsRoomForTheTerminator) {
  char buffer[4] = {};
  size_t length = 0;
  PutChar(buffer, sizeof(buffer), length, 'a');
  PutChar(buffer, sizeof(buffer), length, 0x82a0);  // 1 + 2 < 4
  EXPECT_EQ(length, 3u);
  PutChar(buffer, sizeof(buffer), length, 'b');  // 3 + 1 is not below 4: dropped
  EXPECT_EQ(length, 3u);
  length = 2;
  PutChar(buffer, sizeof(buffer), length, 0x82a0);  // 2 + 2 is not below 4: dropped
  EXPECT_EQ(length, 2u);
  PutChar(buffer, 0, length = 0, 'a');
  EXPECT_EQ(length, 0u);
}

TEST(SkipBlanks, SpacesTabsAndFullWidthSpaces) {
  const char* p = " \t\x81\x40 x y";
  SkipBlanks(p);
  EXPECT_STREQ(p, "x y");
  SkipWord(p);
  EXPECT_STREQ(p, " y");
  const char* q = "\x81\x40";
  SkipBlanks(q);
  EXPECT_EQ(*q, '\0');
  const char* w = "ab\x95\x5c";
  SkipWord(w);
  EXPECT_EQ(*w, '\0');
}

TEST(ReadOption, TokenLists) {
  const struct {
    const char* line;
    std::vector<Token> tokens;
  } cases[] = {
      {"", {{"", "", true}}},
      {"a", {{"a", "", true}}},
      {"a b", {{"a", "", false}, {"b", "", true}}},
      {"a b ", {{"a", "", false}, {"b", "", false}, {"", "", true}}},
      {"  pos = 3 x", {{"pos", "3", false}, {"x", "", true}}},
      {"file=\"a b\" x=1", {{"file", "a b", false}, {"x", "1", true}}},
      {"v=a\"b c\"d", {{"v", "ab cd", true}}},
      {"v=a\\ b", {{"v", "a b", true}}},
      {"v=\\\"x\\\\", {{"v", "\"x\\", true}}},
      {"v=\"a=b\" w", {{"v", "a=b", false}, {"w", "", true}}},
      {"v=\"open to the end", {{"v", "open to the end", true}}},
      {"v=x\\", {{"v", "x", true}}},
      {"a\"b c", {{"a\"b", "", false}, {"c", "", true}}},  // quotes mean nothing in names
      {"n\\m=1", {{"n\\m", "1", true}}},
      {"a\x81\x40"
       "b",
       {{"a", "", false}, {"b", "", true}}},
      {"\x95\x5c=\x95\x5c\x95\x5c", {{"\x95\x5c", "\x95\x5c\x95\x5c", true}}},  // 0x5C trails are no escapes
      {"a=", {{"a", "", true}}},
      {"a= b", {{"a", "b", true}}},
      {"=v", {{"", "v", true}}},
      {"x=1\r y=2", {{"x", "1", true}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.line), c.tokens) << c.line;
}

TEST(ReadOption, TerminatorEndsTheListAndIsConsumed) {
  const struct {
    std::string line;
    std::vector<Token> tokens;
    const char* rest;
  } cases[] = {
      {"a=1 b]tail", {{"a", "1", false}, {"b", "", true}}, "tail"},
      {"a=x]tail", {{"a", "x", true}}, "tail"},
      {"a=\"x]y\"]z", {{"a", "x]y", true}}, "z"},  // inside quotes it is an ordinary character
      {"]", {{"", "", true}}, ""},
  };
  for (const auto& c : cases) {
    const char* rest = nullptr;
    EXPECT_EQ(Tokens(c.line, ']', &rest), c.tokens) << c.line;
    EXPECT_STREQ(rest, c.rest) << c.line;
  }
}

TEST(NextOption, KeepsRawValuesAndCutsToTheBuffers) {
  const char* cursor = "name=\"a b\"\\x";
  bool end = false;
  char name[3], value[64];
  NextOption(cursor, name, sizeof(name), value, sizeof(value), end, 0);
  EXPECT_STREQ(name, "na");
  EXPECT_STREQ(value, "\"a b\"\\x");
  EXPECT_TRUE(end);
  // Once the end flag is set, nothing more is read.
  NextOption(cursor, name, sizeof(name), value, sizeof(value), end, 0);
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(value, "");
  // A null buffer is skipped.
  cursor = "x=1";
  end = false;
  NextOption(cursor, nullptr, 0, value, sizeof(value), end, 0);
  EXPECT_STREQ(value, "1");
}

TEST(UnquoteValue, InPlaceAndCut) {
  char buffer[32] = "\"a\\\"b\" c\\\\";
  UnquoteValue(buffer, sizeof(buffer), buffer);
  EXPECT_STREQ(buffer, "a\"b c\\");
  char small[4];
  UnquoteValue(small, sizeof(small), "\"abcdef\"");
  EXPECT_STREQ(small, "abc");
  char kanji[4];
  UnquoteValue(kanji, sizeof(kanji), "a\x82\xa0\x82\xa0");
  EXPECT_STREQ(kanji, "a\x82\xa0");
}

TEST(ToInt, DecimalPrefixesClamped) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"12", 12},
      {"  -7x", -7},
      {"+5", 5},
      {"abc", 0},
      {"", 0},
      {"12abc", 12},
      {"- 3", 0},
      {"\t\n42", 42},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"-2147483648", INT32_MIN},
      {"-99999999999999999999", INT32_MIN},
      {"99999999999999999999999", INT32_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(ToInt(c.text), c.value) << c.text;
}

TEST(ToFloat, TheDecimalGrammarOnly) {
  const struct {
    const char* text;
    float value;
  } cases[] = {
      {"500.0", 500.0f}, {" -1.5e2x", -150.0f}, {".25", 0.25f},     {"3.", 3.0f},
      {"1e", 1.0f},      {"1e+", 1.0f},         {"abc", 0.0f},      {"", 0.0f},
      {".", 0.0f},       {"inf", 0.0f},         {"nan", 0.0f},      {"-infinity", 0.0f},
      {"0x10", 0.0f},    {"+2", 2.0f},          {"1e999", FLT_MAX}, {"-1e999", -FLT_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(ToFloat(c.text), c.value) << c.text;
}

TEST(ToFloat, ReadsOnlyTheFirst32Characters) {
  // 40 digits: only the first 32 count.
  EXPECT_FLOAT_EQ(ToFloat("1111111111111111111111111111111111111111"), 1.1111111111111111e31f);
  EXPECT_EQ(ToFloat("0000000000000000000000000000000012345"), 0.0f);
  EXPECT_EQ(ToFloat("                               7"), 7.0f);
  EXPECT_EQ(ToFloat("                                7"), 0.0f);
}

TEST(DStrCompareNoCase, AsciiCaseOnly) {
  EXPECT_EQ(DStrCompareNoCase("GoTo", "goto"), 0);
  EXPECT_EQ(DStrCompareNoCase("goto", "gotox"), 1);
  EXPECT_EQ(DStrCompareNoCase("\x82\xa0", "\x82\xa1"), 1);  // trail bytes differ
  EXPECT_EQ(DStrCompareNoCase("\x82\x61", "\x82\x41"), 1);  // a trail byte is no letter
  EXPECT_EQ(DStrCompareNoCase("", ""), 0);
  EXPECT_EQ(DStrCompareNoCaseN("abcX", "ABCy", 3), 0);
  EXPECT_EQ(DStrCompareNoCaseN("ab", "abc", 5), 1);
  char buffer[4];
  DStrCopyTo("abcdef", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "abc");
  buffer[0] = 'z';
  DStrCopyTo("abc", buffer, 0);
  EXPECT_EQ(buffer[0], 'z');
}

}  // namespace
