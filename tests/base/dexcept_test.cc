// DExcept's message buffer and comparison; DExceptFile's message and catch forms.
#include "base/dexcept.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DExcept, KeepsAtMost255Characters) {
  struct Case {
    size_t length;
    size_t kept;
  } cases[] = {{0, 0}, {255, 255}, {256, 255}, {300, 255}};
  for (const Case& c : cases) {
    std::string text(c.length, 'm');
    DExcept e{DString(text.c_str())};
    EXPECT_EQ(std::string(e.GetMessage()), text.substr(0, c.kept)) << c.length;
    DExcept copy(e);
    EXPECT_EQ(std::string(copy.GetMessage()), std::string(e.GetMessage()));
  }
}

TEST(DExcept, ComparesIgnoringAsciiCase) {
  DExcept e{DString("Bad Data")};
  EXPECT_TRUE(e == DString("bad data"));
  EXPECT_TRUE(e != DString("bad dat"));
  EXPECT_TRUE(e != DString("bad data!"));
}

TEST(DExceptFile, IsCaughtByEveryBase) {
  try {
    throw DExceptFile();
  } catch (const DObject& o) {
    const DExcept* e = dynamic_cast<const DExcept*>(&o);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->GetMessage(), "DExceptFile");
  }
  EXPECT_THROW(throw DExceptFile(), DExcept);
}

}  // namespace
