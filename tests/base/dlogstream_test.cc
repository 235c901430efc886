// DLogStream: line ends in the file, chunking, insertions, the header line and the log file.
#include "base/dlogstream.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "base/dapplication.h"
#include "base/dthread.h"
#include "tests/support/scratch_dir.h"

namespace {

// The debugger output goes to stderr only when this is set before its first use.
const bool kDebugOutput = (setenv("ORVANE_DEBUG", "1", 1), true);

class DLogStreamTest : public ::testing::Test {
 protected:
  void TearDown() override {
    DDebugLog().Close();
    DDebugLogFile().Close();
  }
  std::string ReadHost(const std::string& path) { return orvane_test::ScratchDir::ReadPath(path); }
  // A stream with a fresh file attached.
  void Attach(DLogStream& log, DFile& file) {
    path_ = dir_ + "/t.log";
    ASSERT_TRUE(file.Open(DString(path_.c_str()), 15));
    log.AttachFile(file);
  }
  orvane_test::ScratchDir scratch_{"orvane_log_"};
  const std::string dir_ = scratch_.Dir();
  std::string path_;
};

TEST_F(DLogStreamTest, LineEndsBecomeCrLfInTheFileOnly) {
  ASSERT_TRUE(kDebugOutput);
  std::string thousand(1000, 'x');
  std::string wide_at_edge = std::string(253, 'y') + "\x95\x5C" + "\n";  // crosses the 254-byte chunk
  struct Case {
    std::string text;
    std::string file;
  } cases[] = {
      {"a\nb", "a\r\nb"},
      {"a\r\nb", "a\r\nb"},
      {"a\n\rb", "a\r\nb"},
      {"\r", ""},
      {thousand, thousand},
      {wide_at_edge, std::string(253, 'y') + "\x95\x5C\r\n"},
      {std::string(253, 'z') + "\n", std::string(253, 'z') + "\r\n"},
  };
  for (const Case& c : cases) {
    DLogStream log;
    DFile file;
    Attach(log, file);
    ::testing::internal::CaptureStderr();
    log.Write(DString(c.text.c_str()));
    log.Close();  // writes an unfinished last line
    std::string debugger = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadHost(path_), c.file) << c.text.substr(0, 10);
    // The debugger output gets the text unchanged (as UTF-8; these cases are ASCII but one).
    if (c.text.find('\x95') == std::string::npos) {
      EXPECT_EQ(debugger, c.text);
    }
  }
}

TEST_F(DLogStreamTest, Insertions) {
  DLogStream log;
  DFile file;
  Attach(log, file);
  log << "[T] " << 1.5 << " " << 2.25f << " " << 42u << " " << -7 << " " << static_cast<unsigned short>(65535)
      << " " << static_cast<short>(-3) << " " << 'c' << DString() << " " << 4294967295ul << "\n";
  EXPECT_EQ(ReadHost(path_), "[T] 1.500000 2.250000 42 -7 65535 -3 c 4294967295\r\n");
  EXPECT_TRUE(log.Close());
  log << "after close\n";
  EXPECT_EQ(ReadHost(path_), "[T] 1.500000 2.250000 42 -7 65535 -3 c 4294967295\r\n");
}

TEST_F(DLogStreamTest, HeaderLine) {
  SYSTEMTIME t = {2006, 4, 0, 9, 7, 5, 3, 0};
  std::string path = dir_ + "/h.log";
  std::ofstream(path) << "old contents that must go";
  EXPECT_TRUE(OpenDebugLogAt(DString(path.c_str()), t));
  DDebugLog() << "[Orvane] initialized VM unit.\r\n";
  EXPECT_EQ(ReadHost(path), "Orvane Debug Log(2006/4/9 7:5:3)\r\n[Orvane] initialized VM unit.\r\n");
}

TEST_F(DLogStreamTest, UncreatableLogFileLeavesDebuggerOutputOnly) {
  SYSTEMTIME t = {2006, 4, 0, 9, 7, 5, 3, 0};
  EXPECT_TRUE(OpenDebugLogAt(DString((dir_ + "/no/such/dir/x.log").c_str()), t));
  EXPECT_FALSE(DDebugLogFile().IsOpen());
  ::testing::internal::CaptureStderr();
  DDebugLog() << "still logged\n";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "still logged\n");
  // A file that refuses writes, attached with its throw flag set, fails quietly too.
  std::string path = dir_ + "/ro.log";
  std::ofstream(path) << "kept";
  DFile read_only;
  ASSERT_TRUE(read_only.Open(DString(path.c_str()), 1));
  read_only.SetThrow(true);
  DLogStream log;
  log.AttachFile(read_only);
  EXPECT_NO_THROW(log << "refused\n");
  EXPECT_TRUE(read_only.GetThrow());
  EXPECT_EQ(ReadHost(path), "kept");
}

TEST_F(DLogStreamTest, LogFileBesideTheProgram) {
  char program[1024];
  ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
  std::string expected = std::string(program) + ".log";  // the test program has no extension
  ASSERT_TRUE(OpenDebugLog());
  DDebugLog().Close();
  DDebugLogFile().Close();
  std::string text = ReadHost(expected);
  unlink(expected.c_str());
  unsigned y, mo, d, h, mi, s;
  char close = 0;
  ASSERT_EQ(
      std::sscanf(text.c_str(), "Orvane Debug Log(%u/%u/%u %u:%u:%u%c", &y, &mo, &d, &h, &mi, &s, &close), 7)
      << text;
  EXPECT_EQ(close, ')');
  EXPECT_EQ(text.substr(text.size() - 3), ")\r\n");
}

TEST_F(DLogStreamTest, LinesOfTwoThreadsNeverInterleave) {
  DLogStream log;
  DFile file;
  Attach(log, file);
  auto writer = [&log](const char* tag) {
    for (int i = 0; i < 60; ++i) log << "[" << tag << "] line " << i << " of " << DString(tag) << "\n";
  };
  {
    std::thread a(writer, "alpha"), b(writer, "beta");
    a.join();
    b.join();
  }
  log.Close();
  std::istringstream lines(ReadHost(path_));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    char first[8] = {}, second[8] = {}, end = 0;
    int number = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "[%7[a-z]] line %d of %7[a-z]%c", first, &number, second, &end), 4)
        << line;
    EXPECT_STREQ(first, second) << line;
    EXPECT_EQ(end, '\r') << line;
    EXPECT_EQ(line.back(), '\r') << line;
  }
  EXPECT_EQ(count, 120);
}

TEST_F(DLogStreamTest, UnfinishedLinesWaitOnlyForTheirOwnThread) {
  DLogStream log;
  DFile file;
  Attach(log, file);
  log << "[main] begun ";
  DEvent written, finish;
  ASSERT_TRUE(written.Create(false, false));
  ASSERT_TRUE(finish.Create(false, false));
  std::thread worker([&] {
    log << "[worker] one"
        << "\n"
        << "[worker] half ";
    written.Set();
    finish.Wait(INFINITE);
    log << "done\n";
  });
  ASSERT_EQ(written.Wait(INFINITE), WAIT_OBJECT_0);
  // The worker's whole line is there although the main thread's line is open, and vice versa.
  EXPECT_EQ(ReadHost(path_), "[worker] one\r\n");
  log << "ended\n";
  EXPECT_EQ(ReadHost(path_), "[worker] one\r\n[main] begun ended\r\n");
  finish.Set();
  worker.join();
  EXPECT_EQ(ReadHost(path_), "[worker] one\r\n[main] begun ended\r\n[worker] half done\r\n");
  // An unfinished line is written when its thread ends.
  size_t before = ReadHost(path_).size();
  std::thread([&] { log << "[gone] no line end"; }).join();
  EXPECT_EQ(ReadHost(path_).substr(before), "[gone] no line end");
}

TEST_F(DLogStreamTest, LinesSurviveACrashWhileAnotherThreadsLineIsOpen) {
  std::string path = dir_ + "/crash.log";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    DFile file;
    if (!file.Open(DString(path.c_str()), 15)) _exit(3);
    DLogStream& log = DDebugLog();
    log.AttachFile(file);
    std::thread([&] { log << "[worker] half a line"; }).join();
    for (int i = 0; i < 100; ++i) log << "[main] line " << i << "\n";
    std::abort();
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  std::string expected = "[worker] half a line";
  for (int i = 0; i < 100; ++i) expected += "[main] line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(ReadHost(path), expected);
}

TEST_F(DLogStreamTest, LogFileNamedByTheApplicationObject) {
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  app.SetDirectory(DString((dir_ + "/").c_str()));
  app.SetApplicationName(DString("renamed"));
  EXPECT_TRUE(OpenDebugLog());
  DDebugLog() << "[T] here\n";
  DDebugLog().Close();
  DSetApplication(nullptr);
  std::string text = ReadHost(dir_ + "/renamed.log");
  EXPECT_EQ(text.rfind("Orvane Debug Log(", 0), 0u) << text;
  EXPECT_NE(text.find(")\r\n[T] here\r\n"), std::string::npos) << text;
}

}  // namespace
