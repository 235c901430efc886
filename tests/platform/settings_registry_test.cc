// Tests of the registry key store: typed values, keys, errors and a damaged store file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "platform/win32.h"

namespace {

class SettingsRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane_registry_XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  HKEY Create(const char* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition),
        static_cast<LONG>(ERROR_SUCCESS));
    return key;
  }
  std::string dir_;
};

TEST_F(SettingsRegistry, ValuesKeepTheirTypeAndBytesAcrossHandles) {
  DWORD disposition;
  HKEY key = Create("Software\\Amber Quill\\demo\\表示", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  DWORD v = 0x12345678;
  ASSERT_EQ(RegSetValueExA(key, "Int", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), 0);
  ASSERT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("a|b%\n"), 6), 0);
  const BYTE bin[] = {0, 0xFF, '|', '\n'};
  ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, bin, 4), 0);
  EXPECT_EQ(RegSetValueExA(key, "Bad", 0, REG_DWORD, bin, 3), static_cast<LONG>(ERROR_INVALID_PARAMETER));
  RegCloseKey(key);

  key = Create("SOFTWARE\\amber quill\\DEMO\\表示", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  struct Case {
    const char* name;
    DWORD type;
    std::string bytes;
  } cases[] = {{"int", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
               {"TEXT", REG_SZ, std::string("a|b%\n\0", 6)},
               {"bin", REG_BINARY, std::string("\0\xFF|\n", 4)}};
  for (const Case& c : cases) {
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, nullptr, &size), 0) << c.name;
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(size, c.bytes.size());
    std::string data(size, '\0');
    DWORD small = size - 1;
    EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &small),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(small, size);
    ASSERT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size), 0);
    EXPECT_EQ(data, c.bytes);
  }
  EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteValueA(key, "INT"), 0);
  EXPECT_EQ(RegQueryValueExA(key, "int", nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(key);
  EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(SettingsRegistry, OpenNeedsAnExistingKeyAndDeleteNeedsNoSubKeys) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(Create("Software\\X\\Y"));
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, KEY_READ, &key), 0);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\X", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\X"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\X\\Y"), 0);
  EXPECT_EQ(RegSetValueExA(reinterpret_cast<HKEY>(0x99), "v", 0, REG_SZ, nullptr, 0),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(SettingsRegistry, DamagedLinesOfTheStoreAreSkipped) {
  HKEY key = Create("Software\\Keep");
  DWORD v = 5;
  ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), 0);
  {
    std::ofstream out(dir_ + "/orvane/registry", std::ios::app | std::ios::binary);
    out << "V|HKCU\\Software\\Keep|w|4|0G\nV|HKCU|%Z|1|00\nV|||\ngarbage\n\xFF\xFE|%\nV|HKCU\\Software\\Keep|"
           "u|4|050000\n";
  }
  DWORD type, size = 4, got = 0;
  EXPECT_EQ(RegQueryValueExA(key, "w", nullptr, &type, reinterpret_cast<BYTE*>(&got), &size),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(RegQueryValueExA(key, "u", nullptr, &type, reinterpret_cast<BYTE*>(&got), &size), 0);
  EXPECT_EQ(got, 5u);
  size = 4;
  ASSERT_EQ(RegQueryValueExA(key, "v", nullptr, &type, reinterpret_cast<BYTE*>(&got), &size), 0);
  RegCloseKey(key);
}

}  // namespace
