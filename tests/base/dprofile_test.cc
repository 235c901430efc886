// Tests of DProfile: the growing read, integer text, open and close rules, long names.
#include "base/dprofile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

namespace {

class DProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane_dprofile_XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    file_ = dir_ + "/p.ini";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string dir_, file_;
};

TEST_F(DProfileTest, GrowingReadReturnsWholeValues) {
  DProfile p(file_.c_str(), "S");
  for (size_t n : {0u, 254u, 255u, 256u, 511u, 512u, 600u, 767u, 768u, 2000u}) {
    std::string v(n, 'v');
    if (n > 3) v[n - 1] = 'E';
    ASSERT_TRUE(p.SetString("k", v.c_str()));
    EXPECT_EQ(std::string(p.GetString("k", "d").GetText()), v) << n;
  }
  EXPECT_EQ(p.GetString("missing", "default"), "default");
}

TEST_F(DProfileTest, IntegersReadTheLeadingDigits) {
  DProfile p(file_.c_str(), "S");
  struct Case {
    const char* text;
    int expected;
  } cases[] = {{"12abc", 12}, {"-7", -7}, {"abc", 0}, {"", 0}};
  for (const Case& c : cases) {
    ASSERT_TRUE(p.SetString("k", c.text));
    EXPECT_EQ(p.GetInt("k", 99), c.expected) << c.text;
  }
  ASSERT_TRUE(p.SetInt("n", -123));
  EXPECT_EQ(p.GetInt("n", 0), -123);
  EXPECT_EQ(p.GetInt("missing", 99), 99);
}

TEST_F(DProfileTest, OpenCloseAndEmptySection) {
  DProfile p;
  EXPECT_FALSE(p.IsOpen());
  EXPECT_EQ(p.GetInt("k", 4), 4);
  ASSERT_TRUE(p.Open(file_.c_str(), "First"));
  EXPECT_FALSE(p.Open(file_.c_str(), "Second"));
  EXPECT_STREQ(p.GetSectionName(), "First");
  EXPECT_TRUE(p.Close());
  EXPECT_FALSE(p.IsOpen());
  EXPECT_STREQ(p.GetSectionName(), "First");  // kept, but the profile counts as closed
  EXPECT_FALSE(p.Close());
  EXPECT_FALSE(p.SetInt("k", 1));
  ASSERT_TRUE(p.Open(file_.c_str(), ""));
  EXPECT_FALSE(p.SetString("k", "v"));
  EXPECT_EQ(p.GetString("k", "d"), "d");
  DProfile copy(p);
  EXPECT_TRUE(copy.IsOpen());
  EXPECT_STREQ(copy.GetFileName(), file_.c_str());
}

TEST_F(DProfileTest, NamesThatDoNotFitTheirFieldsAreRefused) {
  std::string long_file = dir_ + "/" + std::string(270, 'f') + ".ini";
  std::string long_section(264, 's');
  DProfile p;
  EXPECT_FALSE(p.Open(long_file.c_str(), "S"));
  EXPECT_FALSE(p.Open(file_.c_str(), long_section.c_str()));
  EXPECT_FALSE(p.IsOpen());
  EXPECT_TRUE(p.Open(file_.c_str(), std::string(263, 's').c_str()));
}

TEST_F(DProfileTest, TheRegistryOpenOfAProfileIsIgnoredByItsReads) {
  DProfile p(file_.c_str(), "S");
  ASSERT_TRUE(p.SetInt("k", 5));
  EXPECT_TRUE(p.Open(HKEY_CURRENT_USER, "Software\\P"));
  EXPECT_NE(p.GetHandle(), nullptr);
  EXPECT_EQ(p.GetInt("k", 0), 5);  // still the file
}

}  // namespace
