// Local time, the debugger output and the program's path.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "platform/kernel.h"

namespace {

TEST(KernelMisc, LocalTimeFieldsAreInRange) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  EXPECT_GE(t.wYear, 2020);
  EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12);
  EXPECT_TRUE(t.wDay >= 1 && t.wDay <= 31);
  EXPECT_LE(t.wDayOfWeek, 6);
  EXPECT_LE(t.wHour, 23);
  EXPECT_LE(t.wMinute, 59);
  EXPECT_LE(t.wSecond, 60);
  EXPECT_LE(t.wMilliseconds, 999);
}

TEST(KernelMisc, ModuleFileNameIsThisProgram) {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::strlen(path), n);
  EXPECT_NE(std::string(path).find("kernel_misc_test"), std::string::npos);
  char small[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(path, 4));
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x10), path, sizeof path), 0u);
}

TEST(KernelMisc, DebugOutputGoesToStderrAsUtf8WhenEnabled) {
  setenv("ORVANE_DEBUG", "1", 1);
  ::testing::internal::CaptureStderr();
  OutputDebugStringA("[Test] 表示\n");
  OutputDebugStringA(nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[Test] \xE8\xA1\xA8\xE7\xA4\xBA\n");
}

}  // namespace
