// Tests of named mutexes as lock files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "tests/support/scratch_dir.h"

namespace {

class Mutex : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_RUNTIME_DIR");
    saved_ = old ? old : "";
    had_ = old != nullptr;
    setenv("XDG_RUNTIME_DIR", dir_.Dir().c_str(), 1);
  }
  void TearDown() override {
    if (had_) {
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }
  orvane_test::ScratchDir dir_{"orvane_mutex_"};
  std::string saved_;
  bool had_ = false;
};

bool Claim(const std::string& name, HANDLE* h) {
  *h = CreateMutexA(nullptr, FALSE, name.c_str());
  return *h && GetLastError() != ERROR_ALREADY_EXISTS;
}

TEST_F(Mutex, ANameIsHeldUntilItsHandleCloses) {
  HANDLE a, b;
  ASSERT_TRUE(Claim("game one", &a));
  EXPECT_FALSE(Claim("game one", &b));  // an open handle of this process holds it
  EXPECT_NE(b, nullptr);
  CloseHandle(b);
  HANDLE c;
  EXPECT_TRUE(Claim("game two", &c));
  CloseHandle(a);
  EXPECT_TRUE(Claim("game one", &b));
  CloseHandle(b);
  CloseHandle(c);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_FAILED);  // closed
}

TEST_F(Mutex, NamesBecomeSafeDistinctFileNames) {
  const std::string long_a(400, 'a');
  const std::string names[] = {"../../etc/passwd", "a/b", "a%2Fb", "表示", long_a + "1", long_a + "2", "."};
  std::vector<HANDLE> held;
  for (const std::string& n : names) {
    HANDLE h;
    EXPECT_TRUE(Claim(n, &h)) << n;  // distinct names never collide
    held.push_back(h);
  }
  // Every lock file lies in the runtime directory itself, with a bounded name.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Dir())) {
    ++files;
    EXPECT_LE(entry.path().filename().string().size(), 200u);
    EXPECT_EQ(entry.path().filename().string().find('/'), std::string::npos);
  }
  EXPECT_EQ(files, 7);
  for (HANDLE h : held) CloseHandle(h);
}

TEST_F(Mutex, AnotherProcessSeesTheClaim) {
  HANDLE h;
  ASSERT_TRUE(Claim("shared", &h));
  pid_t child = fork();
  if (child == 0) {
    HANDLE c = CreateMutexA(nullptr, FALSE, "shared");
    _exit(c && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CloseHandle(h);
}

}  // namespace
