// Tests of DRegKey: typed reads with defaults, opening rules and shared copies.
#include "base/dregkey.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace {

class DRegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane_dregkey_XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string dir_;
};

TEST_F(DRegKeyTest, ReadsUseOnlyValuesOfTheirOwnType) {
  DRegKey key(HKEY_CURRENT_USER, "Software\\Test");
  ASSERT_NE(key.GetHandle(), nullptr);
  ASSERT_TRUE(key.SetInt("int", -5));
  ASSERT_TRUE(key.SetString("text", "表示"));
  const BYTE four[] = {1, 0, 0, 0};
  RegSetValueExA(key.GetHandle(), "bin4", 0, REG_BINARY, four, 4);
  RegSetValueExA(key.GetHandle(), "num", 0, REG_SZ, reinterpret_cast<const BYTE*>("5"), 2);
  RegSetValueExA(key.GetHandle(), "expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegSetValueExA(key.GetHandle(), "empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegSetValueExA(key.GetHandle(), "nonul", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
  struct IntCase {
    const char* name;
    int expected;
  } ints[] = {{"int", -5}, {"bin4", 9}, {"num", 9}, {"missing", 9}, {"text", 9}};
  for (const IntCase& c : ints) EXPECT_EQ(key.GetInt(c.name, 9), c.expected) << c.name;
  struct StringCase {
    const char* name;
    const char* expected;
  } strings[] = {{"text", "表示"}, {"expand", "d"},  {"empty", ""},
                 {"int", "d"},     {"missing", "d"}, {"nonul", "abc"}};
  for (const StringCase& c : strings) EXPECT_EQ(key.GetString(c.name, "d"), c.expected) << c.name;
}

TEST_F(DRegKeyTest, OpenRulesAndCopies) {
  DRegKey key;
  EXPECT_EQ(key.GetInt("x", 3), 3);
  EXPECT_FALSE(key.SetInt("x", 1));
  EXPECT_FALSE(key.Close());
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\A"));
  EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, "Software\\B"));
  HKEY h = key.GetHandle();
  {
    DRegKey copy(key);
    DRegKey assigned;
    assigned = key;
    EXPECT_EQ(copy.GetHandle(), h);
  }
  DRegKey& same = key;
  key = same;  // assigning itself keeps the key open
  EXPECT_EQ(key.GetHandle(), h);
  EXPECT_TRUE(key.SetInt("still", 1));  // releasing copies does not close the key
  EXPECT_TRUE(key.Close());
  EXPECT_EQ(RegCloseKey(h), static_cast<LONG>(ERROR_INVALID_HANDLE));
  DRegKey bad;
  EXPECT_FALSE(bad.Open(reinterpret_cast<HKEY>(0x42), "x"));
}

}  // namespace
