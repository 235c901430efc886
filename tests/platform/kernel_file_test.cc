// Files, directories, copying and file status of the platform layer's kernel part.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/kernel.h"
#include "tests/support/scratch_dir.h"

namespace {

class KernelFile : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch_.Path(name); }
  void WriteHost(const std::string& name, const std::string& bytes) { scratch_.Write(name, bytes); }
  std::string ReadHost(const std::string& name) { return scratch_.Read(name); }
  HANDLE Open(const std::string& name, DWORD access, DWORD creation) {
    return CreateFileA(Path(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  orvane_test::ScratchDir scratch_{"orvane_kfile_"};
};

TEST_F(KernelFile, CreationRules) {
  struct Case {
    bool exists;
    DWORD creation;
    bool opens;
    DWORD error;           // last error after the call
    const char* contents;  // afterwards
  } cases[] = {
      {false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
      {true, OPEN_EXISTING, true, 0, "old"},
      {false, OPEN_ALWAYS, true, 0, ""},
      {true, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old"},
      {false, CREATE_NEW, true, 0, ""},
      {true, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
      {true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {true, TRUNCATE_EXISTING, true, 0, ""},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string name = "f" + std::to_string(i++);
    if (c.exists) WriteHost(name, "old");
    HANDLE h = Open(name, GENERIC_READ | GENERIC_WRITE, c.creation);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << name;
    EXPECT_EQ(GetLastError(), c.error) << name;
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(h));
    }
    if (c.contents) {
      EXPECT_EQ(ReadHost(name), c.contents) << name;
    }
  }
}

TEST_F(KernelFile, HandlesKeepTheirOwnPointers) {
  WriteHost("data", "0123456789");
  HANDLE a = Open("data", GENERIC_READ, OPEN_EXISTING);
  HANDLE b = Open("data", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(a, 6, nullptr, FILE_BEGIN), 6u);
  char buf[8] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(b, buf, 3, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "012");
  ASSERT_TRUE(ReadFile(a, buf, 8, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "6789");
  ASSERT_TRUE(ReadFile(a, buf, 8, &got, nullptr));  // at the end: success with 0 bytes
  EXPECT_EQ(got, 0u);
  // An overlapped offset reads there and leaves the pointer after the transfer.
  OVERLAPPED at = {};
  at.Offset = 2;
  ASSERT_TRUE(ReadFile(b, buf, 2, &got, &at));
  EXPECT_EQ(std::string(buf, got), "23");
  EXPECT_EQ(SetFilePointer(b, 0, nullptr, FILE_CURRENT), 4u);
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_TRUE(CloseHandle(b));
}

TEST_F(KernelFile, PointerSizeAndTruncation) {
  HANDLE h = Open("grow", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(h, "abcdef", 6, &put, nullptr));
  EXPECT_EQ(put, 6u);
  EXPECT_EQ(GetFileSize(h, nullptr), 6u);
  // Before the start: fails and keeps the pointer.
  EXPECT_EQ(SetFilePointer(h, -7, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 6u);
  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 4u);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 4u);
  // A 64-bit move through the high word; a far position past the end is allowed.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 1);
  // Without the high word a result beyond 32 bits fails.
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(ReadHost("grow"), "abcd");
}

TEST_F(KernelFile, RefusesWhatItCannotDo) {
  WriteHost("ro", "x");
  HANDLE h = Open("ro", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 9;
  EXPECT_FALSE(WriteFile(h, "y", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(SetEndOfFile(h));
  EXPECT_TRUE(CloseHandle(h));
  // Stale, forged and wrong-kind handles fail cleanly.
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(reinterpret_cast<HANDLE>(0x12345678), &n, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(GetFileSize(event, nullptr), INVALID_FILE_SIZE);
  EXPECT_TRUE(CloseHandle(event));
  // Directories are not files.
  EXPECT_EQ(Open("", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0777), 0);
  EXPECT_EQ(Open("sub", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(KernelFile, DirectoriesCopiesAndStatus) {
  EXPECT_FALSE(CreateDirectoryA(Path("a/b").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(CreateDirectoryA(Path("a").c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(Path("a").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  WriteHost("src", "payload");
  EXPECT_TRUE(CopyFileA(Path("src").c_str(), Path("a/dst").c_str(), TRUE));
  EXPECT_EQ(ReadHost("a/dst"), "payload");
  EXPECT_FALSE(CopyFileA(Path("src").c_str(), Path("a/dst").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  WriteHost("src", "new");
  EXPECT_TRUE(CopyFileA(Path("src").c_str(), Path("a/dst").c_str(), FALSE));
  EXPECT_EQ(ReadHost("a/dst"), "new");
  // A copy onto the same file would truncate it: refused, bytes kept.
  EXPECT_FALSE(CopyFileA(Path("src").c_str(), Path("src").c_str(), FALSE));
  EXPECT_EQ(ReadHost("src"), "new");
  EXPECT_FALSE(CopyFileA(Path("missing").c_str(), Path("a/x").c_str(), FALSE));
  EXPECT_NE(access(Path("a/x").c_str(), F_OK), 0);

  struct _stat st;
  ASSERT_EQ(_stat(Path("a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFDIR);
  ASSERT_EQ(_stat(Path("src").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFREG);
  EXPECT_EQ(st.st_size, 3);
  EXPECT_EQ(_stat(Path("missing").c_str(), &st), -1);
}

}  // namespace
