// Pins the bytes that Japanese literals in the sources compile to: every string is cp932 at run time.
#include <gtest/gtest.h>

#include <string>

namespace {

struct LiteralCase {
  const char* literal;
  std::string bytes;
};

TEST(Cp932Literals, CompileToShiftJisBytes) {
  const LiteralCase cases[] = {
      // The second byte of 表 is 0x5C, the ASCII backslash: it must survive as data.
      {"表示", std::string("\x95\x5C\x8E\xA6", 4)},
      {"ソ", std::string("\x83\x5C", 2)},
      {"実行エラー", std::string("\x8E\xC0\x8D\x73\x83\x47\x83\x89\x81\x5B", 10)},
      {"　", std::string("\x81\x40", 2)},
      {"abc", "abc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(c.literal), c.bytes) << "literal of " << c.bytes.size() << " bytes";
  }
}

}  // namespace
