// Tests of the conversions between cp932 text and 16-bit character codes.
#include "base/charconv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint16_t> Codes(const uint16_t* c) {
  std::vector<uint16_t> v;
  while (*c) v.push_back(*c++);
  return v;
}

TEST(DTextToCodes, Table) {
  struct Case {
    std::string text;
    uint32_t limit;  // UINT32_MAX: the whole text
    std::vector<uint16_t> codes;
  };
  const Case cases[] = {
      {"ab", UINT32_MAX, {0x61, 0x62}},
      {"\x82\xA0x", UINT32_MAX, {0x82A0, 0x78}},
      {"", UINT32_MAX, {}},
      {"a\x82", UINT32_MAX, {0x61, 0x8200}},  // lone lead byte at the end
      {"\x82\xA0x", 1, {0x82A0}},             // lead byte just before the limit: whole
      {"abc", 2, {0x61, 0x62}},
      {"abc", 0, {}},
      {"\x83\x5C\xB1\xFD", UINT32_MAX, {0x835C, 0xB1, 0xFD}},  // 0xFD is not a lead byte
  };
  for (const auto& c : cases) {
    uint16_t buf[16];
    std::memset(buf, 0xFF, sizeof buf);
    const uint32_t n = c.limit == UINT32_MAX ? DTextToCodes(buf, DString(c.text.c_str()))
                                             : DTextToCodes(buf, DString(c.text.c_str()), c.limit);
    EXPECT_EQ(n, c.codes.size()) << c.text;
    EXPECT_EQ(buf[n], 0);
    EXPECT_EQ(Codes(buf), c.codes) << c.text;
  }
}

TEST(DCodesToText, TableAndRoundTrip) {
  struct Case {
    std::vector<uint16_t> codes;
    uint32_t limit;
    std::string text;
  };
  const Case cases[] = {
      {{0x61, 0x62}, UINT32_MAX, "ab"},
      {{0x82A0, 0x78}, UINT32_MAX, "\x82\xA0x"},
      {{0x82A0, 0x78}, 1, "\x82\xA0"},
      {{}, UINT32_MAX, ""},
      {{0x61}, 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<uint16_t> codes = c.codes;
    codes.push_back(0);
    char out[16];
    const uint32_t b =
        c.limit == UINT32_MAX ? DCodesToText(out, codes.data()) : DCodesToText(out, codes.data(), c.limit);
    EXPECT_EQ(b, c.text.size() + 1);
    EXPECT_EQ(std::string(out, b), c.text + std::string(1, '\0'));
  }
  const char* text = "x\x95\x5Cy\x83\x41";
  uint16_t codes[8];
  char back[16];
  DTextToCodes(codes, DString(text));
  DCodesToText(back, codes);
  EXPECT_STREQ(back, text);
}

TEST(DAppendText, AppendsBehindNul) {
  char buf[16] = "ab";
  DAppendText(buf, DString("cd"));
  EXPECT_STREQ(buf, "abcd");
  DAppendText(buf, DString(static_cast<const char*>(nullptr)));
  EXPECT_STREQ(buf, "abcd");
}

}  // namespace
