// Tests of the cp932 string routines, DStringBuffer and DStringRange.
#include "base/dstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Double-byte characters used below: "ア" 0x83 0x41 has the trail byte 'A'; "ソ" 0x83 0x5C has the
// trail byte '\'; "表" 0x95 0x5C. Written as bytes so the tests do not depend on the charset flag.
const char kA[] = "\x83\x41";    // ア
const char kSo[] = "\x83\x5C";   // ソ
const char kHyo[] = "\x95\x5C";  // 表

std::string S(const DStringBuffer& b) {
  return std::string(b.GetText(), b.GetLength());
}

TEST(DIsLeadByte, FixedCp932Table) {
  for (int c = 0; c < 256; ++c) {
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    EXPECT_EQ(DIsLeadByte(static_cast<unsigned char>(c)), lead) << c;
  }
}

TEST(DStringCompare, Table) {
  struct Case {
    const char* a;
    const char* b;
    int n;  // -1: whole-text compare
    int exact;
    int nocase;
  };
  const std::string two = std::string(kA) + kSo;           // ア ソ
  const std::string trail = std::string(kA) + "\x83\x61";  // ア ャ: trail differs only in case
  const Case cases[] = {
      {"Abc", "aBC", -1, 1, 0},
      {"abc", "abc", -1, 0, 0},
      {"a", "ab", -1, 1, 1},
      {"", "", -1, 0, 0},
      {nullptr, "", -1, 0, 0},
      {two.c_str(), trail.c_str(), -1, 1, 1},  // trail bytes 'A'/'a' (0x5C/0x61) never fold
      {kA, "\x83\x61", -1, 1, 1},
      {"abc", "abd", 2, 0, 0},
      {"ab", "ab", 5, 0, 0},
      {"ab", "abc", 5, 1, 1},
      {"abc", "ab", 5, 1, 1},
      {"AB@", "ab`", -1, 1, 1},  // '@' and '`' differ by 0x20 but are not letters
      {"[", "{", -1, 1, 1},
      {"x\x83", "X\x83", -1, 1, 0},  // lone lead byte before the NUL
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " / " + c.b);
    if (c.n < 0) {
      EXPECT_EQ(DString::Compare(DString(c.a), DString(c.b)), c.exact);
      EXPECT_EQ(DString::CompareNoCase(DString(c.a), DString(c.b)), c.nocase);
    } else {
      EXPECT_EQ(DString::CompareN(DString(c.a), DString(c.b), c.n), c.exact);
      EXPECT_EQ(DString::CompareNoCaseN(DString(c.a), DString(c.b), c.n), c.nocase);
    }
  }
  // A lead byte on one side only differs even when the bytes would fold.
  EXPECT_EQ(DString::CompareNoCaseN(DString("\x83\x41"), DString("\x83\x61"), 2), 1);
}

TEST(DStringCopy, CopyToCutsAtSize) {
  struct Case {
    const char* src;
    uint32_t size;
    const char* want;
  };
  const Case cases[] = {{"abcdef", 4, "abc"}, {"ab", 4, "ab"}, {"abc", 1, ""}, {"", 4, ""}};
  for (const auto& c : cases) {
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    DString::CopyTo(DString(c.src), buf, c.size);
    EXPECT_STREQ(buf, c.want);
  }
  char untouched[2] = {'Q', 'Q'};
  DString::CopyTo(DString("abc"), untouched, 0);
  EXPECT_EQ(untouched[0], 'Q');
}

TEST(DStringCopy, MoveBytesOverlapsBothWays) {
  DString a;
  a.Alloc(8);
  std::memcpy(a.Get(), "abcdef", 7);
  DString::MoveBytes(a, 2, 0, 4);
  EXPECT_STREQ(a.Get(), "ababcd");
  DString::MoveBytes(a, 0, 2, 4);
  EXPECT_STREQ(a.Get(), "abcdcd");
}

TEST(MbChars, CountSubstringFromEnd) {
  const std::string t = std::string(kA) + kSo + "x";  // 3 characters, 5 bytes
  EXPECT_EQ(MbCharCount(t.c_str()), 3u);
  EXPECT_EQ(MbCharCount(nullptr), 0u);
  EXPECT_EQ(MbCharCount("ab\x83"), 3u);  // lone lead byte at the end is one character
  struct Case {
    uint32_t start, count;
    MbSpan want;
  };
  const Case cases[] = {
      {1, 5, {2, 3}}, {3, 1, {0, 0}}, {0, 0, {0, 0}}, {0, 1, {0, 2}}, {2, 1, {4, 1}}, {7, 1, {0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(MbSubstring(t.c_str(), c.start, c.count), c.want) << c.start;
  EXPECT_EQ(MbSubstring("", 0, 1), (MbSpan{0, 0}));
  EXPECT_EQ(MbSubstringFromEnd(t.c_str(), 0, 1), (MbSpan{4, 1}));
  EXPECT_EQ(MbSubstringFromEnd(t.c_str(), 1, 5), (MbSpan{2, 3}));
  EXPECT_EQ(MbSubstringFromEnd(t.c_str(), 3, 1), (MbSpan{0, 0}));
  EXPECT_EQ(MbSubstringFromEnd(nullptr, 0, 1), (MbSpan{0, 0}));
}

TEST(MbFind, TrailBytesNeverMatchSingleByteMembers) {
  struct Case {
    std::string text;
    std::string set;
    bool first_found;
    uint32_t first;
    bool last_found;
    uint32_t last;
  };
  const std::string so = kSo, hyo = kHyo, a = kA;
  const Case cases[] = {
      {"a\\b\\c", "\\", true, 1, true, 3},
      {so + "x", "\\", false, 3, false, 3},          // ソ's trail byte is '\'
      {hyo + "\\" + hyo, "\\", true, 2, true, 2},    // only the real '\' counts
      {"x" + a + "A", "A", true, 3, true, 3},        // ア's trail byte is 'A'
      {"ab" + so + "c" + so, so, true, 2, true, 5},  // double-byte member
      {"\\\x83", "\\", true, 0, true, 0},            // lone lead byte at the end
      {"\x83\\", "\\\x83", false, 2, false, 2},      // "\x83\\" is one character
      {"k\xB1k\xB1", "\xB1", true, 1, true, 3},      // single-byte 0x80-0xFF members
      {"abc", "", false, 3, false, 3},
      {"", "a", false, 0, false, 0},
  };
  for (const auto& c : cases) {
    uint32_t pos = 99;
    EXPECT_EQ(MbFindFirstOf(c.text.c_str(), c.set.c_str(), &pos), c.first_found) << c.text;
    EXPECT_EQ(pos, c.first) << c.text;
    pos = 99;
    EXPECT_EQ(MbFindLastOf(c.text.c_str(), c.set.c_str(), &pos), c.last_found) << c.text;
    EXPECT_EQ(pos, c.last) << c.text;
  }
}

TEST(DStringBuffer, ReserveAlignsAndNeverShrinks) {
  DStringBuffer s;
  s.Reserve(0);
  EXPECT_EQ(s.GetCapacity(), 0u);
  s.Reserve(1);
  EXPECT_EQ(s.GetCapacity(), 32u);
  s.Reserve(32);
  EXPECT_EQ(s.GetCapacity(), 32u);
  s.Reserve(33);
  EXPECT_EQ(s.GetCapacity(), 64u);
  s.Reserve(2);
  EXPECT_EQ(s.GetCapacity(), 64u);
  EXPECT_EQ(S(s), "");
}

TEST(DStringBuffer, AssignClearAndEmptyText) {
  DStringBuffer s;
  EXPECT_STREQ(s.GetText(), "");
  EXPECT_EQ(s.GetBuffer().GetBlock(), nullptr);
  s = "hello";
  EXPECT_EQ(S(s), "hello");
  EXPECT_EQ(s.GetCapacity(), 32u);
  s = "";
  EXPECT_EQ(s.GetLength(), 0u);
  EXPECT_EQ(s.GetCapacity(), 32u);  // array kept
  s.Clear();
  EXPECT_EQ(s.GetCapacity(), 0u);
  EXPECT_STREQ(s.GetText(), "");
  DStringBuffer none;
  none = "";
  EXPECT_EQ(none.GetCapacity(), 0u);  // assigning "" makes no array
}

TEST(DStringBuffer, WriteThroughGetTextThenUpdateLength) {
  DStringBuffer s;
  s.UpdateLength();  // no array: nothing
  EXPECT_EQ(s.GetLength(), 0u);
  s.Reserve(10);
  std::strcpy(s.GetText(), "written");
  s.UpdateLength();
  EXPECT_EQ(S(s), "written");
  // A caller that fills every byte gets the text cut at capacity - 1, never a read past the array.
  std::memset(s.GetText(), 'a', s.GetCapacity());
  s.UpdateLength();
  EXPECT_EQ(s.GetLength(), s.GetCapacity() - 1);
  EXPECT_EQ(s.GetText()[s.GetLength()], 0);
}

TEST(DStringBuffer, CopiesNeverShareAndSelfAssignmentIsSafe) {
  DStringBuffer a("abc");
  DStringBuffer b(a);
  EXPECT_NE(a.GetText(), b.GetText());
  b += "d";
  EXPECT_EQ(S(a), "abc");
  EXPECT_EQ(S(b), "abcd");
  a = a.GetBuffer();  // its own text
  EXPECT_EQ(S(a), "abc");
  a = a;
  EXPECT_EQ(S(a), "abc");
  DStringBuffer empty;
  DStringBuffer copy(empty);
  EXPECT_EQ(copy.GetCapacity(), 0u);
}

TEST(DStringBuffer, AppendGrowsAndDoubles) {
  DStringBuffer s;
  s += DString("");
  EXPECT_EQ(s.GetCapacity(), 32u);  // appending "" still makes an array
  s += DString(static_cast<const char*>(nullptr));
  EXPECT_EQ(S(s), "");
  for (int i = 0; i < 40; ++i) s += "x";
  EXPECT_EQ(s.GetLength(), 40u);
  EXPECT_EQ(s.GetCapacity(), 64u);
  s += s;
  EXPECT_EQ(s.GetLength(), 80u);
  EXPECT_EQ(S(s), std::string(80, 'x'));
  s += s.GetBuffer();
  EXPECT_EQ(s.GetLength(), 160u);
  // A plain pointer into the string's own array holds no reference: the growth must not free the
  // bytes before they are copied.
  struct Case {
    const char* start;
    uint32_t from;  // byte offset into the own text that is appended
    const char* want;
  };
  const Case cases[] = {
      {"0123456789abcdefghijklmnopqrstu", 0,
       "0123456789abcdefghijklmnopqrstu0123456789abcdefghijklmnopqrstu"},
      {"0123456789abcdefghijklmnopqrstu", 20, "0123456789abcdefghijklmnopqrstuklmnopqrstu"},
      {"abc", 1, "abcbc"},
  };
  for (const auto& c : cases) {
    DStringBuffer t(c.start);
    t += t.GetText() + c.from;
    EXPECT_EQ(S(t), c.want);
  }
}

TEST(DStringBuffer, GetBufferKeepsOldTextAfterGrowth) {
  DStringBuffer s("old");
  DString held = s.GetBuffer();
  s += std::string(40, 'n').c_str();
  EXPECT_STREQ(held.Get(), "old");
  EXPECT_EQ(held.UseCount(), 1u);
}

TEST(DStringBuffer, ReplaceTable) {
  struct Case {
    const char* start;
    uint32_t pos, count;
    const char* src;
    uint32_t off, n;
    const char* want;
  };
  const Case cases[] = {
      {"abcdefg", 2, 3, "", 0, 0, "abfg"},
      {"abcdefg", 2, 3, "XY", 0, 2, "abXYfg"},
      {"abcdefg", 2, 1, "XYZW", 1, 3, "abYZWdefg"},
      {"abc", 3, 0, "def", 0, 3, "abcdef"},
      {"abc", 0, 3, nullptr, 0, 3, ""},
      // Positions past the text (a text that shrank since they were taken) stay inside it.
      {"abc", 5, 2, "XY", 0, 2, "abcXY"},
      {"abc", 1, 9, "X", 0, 1, "aX"},
      {"abc", 1, 9, nullptr, 0, 0, "a"},
  };
  for (const auto& c : cases) {
    DStringBuffer s(c.start);
    s.Replace(c.pos, c.count, DString(c.src), c.off, c.n);
    EXPECT_EQ(S(s), c.want);
    EXPECT_EQ(s.GetText()[s.GetLength()], 0);
  }
  // NUL bytes inside the source are copied as they are.
  DStringBuffer z("ab");
  z.Replace(1, 0, DString("x\0y"), 0, 3);
  EXPECT_EQ(z.GetLength(), 5u);
  EXPECT_EQ(std::string(z.GetText(), 5), std::string("ax\0yb", 5));
}

TEST(DStringBuffer, ReplaceFromOwnTextUsesTheBytesBeforeTheChange) {
  DStringBuffer s("abcdefg");
  DStringRange front = s.Mid(0, 2);
  DStringRange back = s.Mid(4, 3);
  front = back;  // "efg" replaces "ab": the tail moves before the source is copied
  EXPECT_EQ(S(s), "efgcdefg");
}

TEST(DStringBuffer, EqualityTable) {
  DStringBuffer none;
  DStringBuffer abc("abc");
  EXPECT_TRUE(none == "");
  EXPECT_TRUE(none == DString(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(none == "a");
  EXPECT_TRUE(abc == "abc");
  EXPECT_FALSE(abc == "ABC");
  EXPECT_TRUE(abc != "ab");
  EXPECT_TRUE(abc == DStringBuffer("abc"));
  DStringBuffer emptied("x");
  emptied = "";
  EXPECT_TRUE(emptied == none);
}

TEST(DStringBuffer, MidCharAtAndFromEnd) {
  DStringBuffer s((std::string(kA) + "bc" + kSo).c_str());  // ア b c ソ
  struct Case {
    DStringRange r;
    uint32_t start, length;
  };
  DStringBuffer none;
  const Case cases[] = {
      {s.Mid(1, 2), 2, 2}, {s.CharAt(0), 0, 2},        {s.CharAt(3), 4, 2},        {s.CharAt(4), 0, 0},
      {s.Mid(1, 0), 0, 0}, {s.MidFromEnd(0, 1), 4, 2}, {s.MidFromEnd(1, 9), 3, 3}, {none.Mid(0, 1), 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.r.GetStart(), c.start);
    EXPECT_EQ(c.r.GetLength(), c.length);
  }
  EXPECT_EQ(s.GetCharCount(), 4u);
  EXPECT_EQ(none.GetCharCount(), 0u);
}

TEST(DStringBuffer, DropTruncateSplit) {
  DStringBuffer p("dir/sub/file");
  p.DropThroughFirstOf("/");
  EXPECT_EQ(S(p), "sub/file");
  p.TruncateAtFirstOf("/");
  EXPECT_EQ(S(p), "sub");
  p.DropThroughFirstOf("/");  // none: unchanged
  EXPECT_EQ(S(p), "sub");

  // A double-byte separator is removed whole; a trail byte is not a separator.
  const std::string so = kSo;
  DStringBuffer d((so + "x" + kHyo + "y").c_str());
  d.DropThroughFirstOf("\\");
  EXPECT_EQ(d.GetLength(), so.size() + 4);
  d.DropThroughFirstOf(DString(kHyo));
  EXPECT_EQ(S(d), "y");

  struct Case {
    const char* text;
    bool front;
    const char* returned;
    const char* kept;
  };
  const Case cases[] = {
      {"a,b,c", true, "a", "b,c"},  {"abc", true, "abc", ""},  {",b", true, "", "b"},
      {"a,b,c", false, "b,c", "a"}, {"abc", false, "abc", ""}, {"a,", false, "", "a"},
  };
  for (const auto& c : cases) {
    DStringBuffer s(c.text);
    DStringBuffer r = c.front ? s.SplitFront(",") : s.SplitBack(",");
    EXPECT_EQ(S(r), c.returned) << c.text << (c.front ? " front" : " back");
    EXPECT_EQ(S(s), c.kept) << c.text;
  }
  DStringBuffer none;
  EXPECT_EQ(none.SplitFront(",").GetCapacity(), 0u);
  DStringBuffer kana((std::string("a") + kSo + "b").c_str());
  DStringBuffer r = kana.SplitFront("\\");  // ソ's trail byte is not the separator
  EXPECT_EQ(r.GetLength(), 4u);
  EXPECT_EQ(kana.GetLength(), 0u);
}

TEST(DStringRange, AssignAndCompare) {
  DStringBuffer s("abcdefg");
  DStringRange r(&s, 2, 3);
  r.Assign(DString("xyz"), 0, 0);
  EXPECT_EQ(S(s), "abfg");
  EXPECT_EQ(r.GetLength(), 0u);
  r = "CDE";
  EXPECT_EQ(S(s), "abCDEfg");
  EXPECT_EQ(r.GetLength(), 3u);
  r.Assign(DString(static_cast<const char*>(nullptr)), 0, 3);  // inserts nothing, claims nothing
  EXPECT_EQ(S(s), "abfg");
  EXPECT_EQ(r.GetLength(), 0u);

  DStringBuffer t("abc");
  DStringBuffer other("xyz");
  DStringRange whole(&t, 0, 3);
  EXPECT_TRUE(whole == "abcdef");
  EXPECT_FALSE(whole == "ab");
  DStringRange empty(&t, 0, 0);
  EXPECT_TRUE(empty == DStringRange(&other, 0, 3));
  EXPECT_FALSE(empty == "xyz");
  EXPECT_TRUE(empty == "");
  EXPECT_TRUE(DStringRange(&t, 0, 2) == whole);  // prefix
  EXPECT_TRUE(whole == t);
  DStringBuffer none;
  EXPECT_FALSE(whole == none);

  // A range kept after its owner let its array go reads nothing outside the owner's array.
  DStringBuffer gone("abcdef");
  DStringRange stale = gone.Mid(2, 3);
  gone.Clear();
  EXPECT_EQ(S(stale + "x"), "x");
  EXPECT_TRUE(stale == "");
  DStringBuffer copy(stale);
  EXPECT_EQ(copy.GetLength(), 0u);
}

TEST(DStringConcat, EveryPairing) {
  DStringBuffer ab("ab");
  DStringBuffer none;
  DStringBuffer word("xyzw");
  DStringRange yz = word.Mid(1, 2);
  EXPECT_EQ(S(ab + ab), "abab");
  EXPECT_EQ(S(ab + yz), "abyz");
  EXPECT_EQ(S(ab + "c"), "abc");
  EXPECT_EQ(S(yz + ab), "yzab");
  EXPECT_EQ(S(yz + yz), "yzyz");
  EXPECT_EQ(S(yz + "!"), "yz!");
  EXPECT_EQ(S("<" + ab), "<ab");
  EXPECT_EQ(S("<" + yz), "<yz");
  EXPECT_EQ(S(DString("d") + ab), "dab");
  DStringBuffer n = none + none;
  EXPECT_EQ(n.GetCapacity(), 0u);
  DStringBuffer c = ab + none;
  EXPECT_EQ(c.GetCapacity(), 32u);
  DStringBuffer nul = DStringBuffer::Concat(DString("a\0b"), 0, 3, DString("c"), 0, 1);
  EXPECT_EQ(nul.GetLength(), 4u);
}

}  // namespace
