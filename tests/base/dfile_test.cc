// DFile: open modes, views and their clamping, the seek rules, memory files and the throw flag.
#include "base/dfile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_dir.h"

namespace {

// Descriptors this process has open.
int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

class DFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 100; ++i) hundred_ += static_cast<char>(i);
  }
  std::string Path(const std::string& name) const { return scratch_.Path(name); }
  void WriteHost(const std::string& name, const std::string& bytes) { scratch_.Write(name, bytes); }
  std::string ReadHost(const std::string& name) { return scratch_.Read(name); }
  // A 100-byte file (bytes 0..99) opened read-write.
  void OpenHundred(DFile& f) {
    WriteHost("h", hundred_);
    ASSERT_TRUE(f.Open(DString(Path("h").c_str()), 3));
  }
  orvane_test::ScratchDir scratch_{"orvane_dfile_"};
  std::string hundred_;
};

TEST_F(DFileTest, OpenModes) {
  struct Case {
    uint32_t mode;
    bool exists;
    bool opens;
    const char* after;  // file contents afterwards; null: no file
  } cases[] = {
      {1, false, false, nullptr}, {1, true, true, "old"}, {5, false, true, ""}, {5, true, true, "old"},
      {9, true, false, "old"},    {9, false, true, ""},   {15, true, true, ""}, {3, false, false, nullptr},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string name = "m" + std::to_string(i++);
    if (c.exists) WriteHost(name, "old");
    DFile f;
    EXPECT_EQ(f.Open(DString(Path(name).c_str()), c.mode), c.opens) << name;
    EXPECT_EQ(f.IsOpen(), c.opens);
    f.Close();
    if (c.after) {
      EXPECT_EQ(ReadHost(name), c.after) << name;
    } else {
      EXPECT_FALSE(std::ifstream(Path(name)).good()) << name;
    }
  }
  DFile f;
  ASSERT_TRUE(f.Open(DString(Path("m1").c_str()), 1));
  EXPECT_FALSE(f.Open(DString(Path("m1").c_str()), 1));  // already open
  EXPECT_FALSE(f.OpenMemory(8, 3));
}

TEST_F(DFileTest, ViewReadsOnlyItsWindow) {
  DFile file, view;
  OpenHundred(file);
  ASSERT_TRUE(view.OpenView(file, 10, 20));
  EXPECT_EQ(view.GetSize(), 20);
  ASSERT_TRUE(view.Seek(DFile::kSeekStart, 15));
  char buf[30];
  EXPECT_EQ(view.Read(buf, 30), 5);
  EXPECT_EQ(std::string(buf, 5), hundred_.substr(25, 5));
  EXPECT_EQ(view.Read(buf, 1), -1);
  view.SetThrow(true);
  EXPECT_THROW(view.Read(buf, 1), DExceptFile);
  EXPECT_EQ(view.Tell(), 20);
  // The whole file reads 0 at its end, not -1.
  ASSERT_TRUE(file.Seek(DFile::kSeekStart, 100));
  EXPECT_EQ(file.Read(buf, 10), 0);
}

TEST_F(DFileTest, SeekRules) {
  DFile file, view, memory;
  OpenHundred(file);
  ASSERT_TRUE(view.OpenView(file, 10, 20));
  ASSERT_TRUE(memory.OpenMemory(100, 3));
  struct Case {
    DFile* f;
    int64_t from;  // position before
    int origin;
    int64_t offset;
    bool ok;
    int64_t position;  // after
  } cases[] = {
      {&view, 0, 1, 25, false, 20},     {&view, 0, 1, -1, false, 0},     {&view, 0, 1, 20, true, 20},
      {&view, 0, 4, -5, true, 15},      {&view, 5, 4, 1, false, 20},     {&view, 5, 4, -21, false, 0},
      {&view, 7, 3, 0, false, 7},       {&view, 0, 2, -1, false, 0},     {&view, 5, 2, 16, false, 20},
      {&view, 5, 2, -3, true, 2},       {&file, 0, 4, -10, true, 90},    {&file, 0, 4, -101, false, 0},
      {&file, 5, 4, 3, false, 100},     {&file, 0, 2, 150, true, 150},   {&memory, 0, 1, 101, false, 100},
      {&memory, 90, 2, 11, false, 100}, {&memory, 5, 4, -101, false, 0}, {&memory, 5, 4, -1, true, 99},
  };
  int i = 0;
  for (const Case& c : cases) {
    ASSERT_TRUE(c.f->Seek(DFile::kSeekStart, c.from));
    EXPECT_EQ(c.f->Seek(c.origin, c.offset), c.ok) << "case " << i;
    EXPECT_EQ(c.f->Tell(), c.position) << "case " << i;
    ++i;
  }
  view.SetThrow(true);
  EXPECT_THROW(view.Seek(DFile::kSeekStart, 25), DExceptFile);
}

TEST_F(DFileTest, ViewsShareTheFileAndOutliveEachOther) {
  const int descriptors = OpenDescriptors();
  {
    DFile file;
    OpenHundred(file);
    EXPECT_EQ(OpenDescriptors(), descriptors + 1);
    ASSERT_TRUE(file.Seek(DFile::kSeekStart, 40));
    DFile at_position, nested, past, copy(file);
    ASSERT_TRUE(at_position.OpenView(file, -1, 10));  // starts at the file's position
    char buf[20];
    EXPECT_EQ(at_position.Read(buf, 20), 10);
    EXPECT_EQ(std::string(buf, 10), hundred_.substr(40, 10));
    ASSERT_TRUE(nested.OpenView(at_position, 4, DFile::kToEnd));
    EXPECT_EQ(nested.GetSize(), 6);
    // An offset past a sized parent leaves an empty view, never bytes beyond the parent.
    ASSERT_TRUE(past.OpenView(at_position, 30, 5));
    EXPECT_EQ(past.GetSize(), 0);
    EXPECT_EQ(past.Read(buf, 5), -1);
    EXPECT_STREQ(copy.GetName(), file.GetName());
    file.Close();
    at_position.Close();
    EXPECT_EQ(nested.Read(buf, 20), 6);
    EXPECT_EQ(std::string(buf, 6), hundred_.substr(44, 6));
    EXPECT_EQ(copy.Read(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), hundred_.substr(0, 3));
    EXPECT_FALSE(file.Close());  // nothing open
    EXPECT_EQ(file.Read(buf, 1), -1);
    file = copy;
    file = file;  // self-assignment keeps the file
    EXPECT_EQ(file.GetSize(), 100);
    EXPECT_EQ(OpenDescriptors(), descriptors + 1);  // one OS handle for all views
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);  // closed with the last view
}

TEST_F(DFileTest, SetEndTruncatesAtThisViewsPosition) {
  DFile file, other;
  OpenHundred(file);
  ASSERT_TRUE(other.OpenView(file, 0, DFile::kToEnd));
  ASSERT_TRUE(file.Seek(DFile::kSeekStart, 30));
  char buf[10];
  ASSERT_EQ(other.Read(buf, 10), 10);  // moves the shared handle elsewhere
  EXPECT_TRUE(file.SetEnd());
  EXPECT_EQ(file.GetSize(), 30);
  file.Close();
  other.Close();
  EXPECT_EQ(ReadHost("h"), hundred_.substr(0, 30));
}

TEST_F(DFileTest, WriteGrowsWholeFilesOnly) {
  DFile file, view;
  ASSERT_TRUE(file.Open(DString(Path("w").c_str()), 15));
  EXPECT_EQ(file.Write("abcdef", 6), 6);
  ASSERT_TRUE(view.OpenView(file, 2, 3));
  EXPECT_EQ(view.Write("XYZW", 4), 3);
  EXPECT_TRUE(file.Flush());
  EXPECT_EQ(ReadHost("w"), "abXYZf");
  DFile ro;
  ASSERT_TRUE(ro.Open(DString(Path("w").c_str()), 1));
  EXPECT_EQ(ro.Write("q", 1), -1);
}

TEST_F(DFileTest, MemoryFiles) {
  DFile ro, rw, view;
  EXPECT_FALSE(ro.OpenMemory(0, 3));
  ASSERT_TRUE(ro.OpenMemory(16, 1));
  EXPECT_STREQ(ro.GetName(), "(In Memory)");
  EXPECT_EQ(ro.Write("x", 1), -1);
  ASSERT_TRUE(rw.OpenMemory(DString("buf"), 16, 3));
  EXPECT_STREQ(rw.GetName(), "buf");
  ASSERT_TRUE(rw.Seek(DFile::kSeekStart, 10));
  EXPECT_EQ(rw.Write("0123456789ABCDEFGHIJ", 20), 6);  // never grows
  EXPECT_EQ(rw.GetSize(), 16);
  ASSERT_TRUE(view.OpenView(rw, 10, DFile::kToEnd));
  char buf[8];
  EXPECT_EQ(view.Read(buf, 8), 6);
  EXPECT_EQ(std::string(buf, 6), "012345");
  EXPECT_EQ(view.Read(buf, 1), -1);  // at the end of a memory file
  ASSERT_TRUE(rw.Seek(DFile::kSeekStart, 12));
  EXPECT_TRUE(rw.SetEnd());
  EXPECT_EQ(rw.GetSize(), 12);
  // A view that starts past the data reads nothing and cannot grow the block.
  DFile beyond;
  ASSERT_TRUE(beyond.OpenView(rw, 20, DFile::kToEnd));
  EXPECT_EQ(beyond.Read(buf, 1), -1);
  EXPECT_EQ(beyond.Tell(), -1);
  EXPECT_FALSE(beyond.SetEnd());
  EXPECT_TRUE(rw.Flush());
}

TEST_F(DFileTest, NamesAndTheThrowFlag) {
  DFile f;
  std::string long_name(300, 'n');
  ASSERT_TRUE(f.OpenMemory(DString(long_name.c_str()), 4, 3));
  EXPECT_EQ(std::string(f.GetName()), long_name.substr(0, 263));
  EXPECT_FALSE(f.SetThrow(true));
  EXPECT_TRUE(f.GetThrow());
  EXPECT_THROW(f.ThrowIfEnabled(), DExceptFile);
  DFile view;
  ASSERT_TRUE(view.OpenView(f, 0, 2));
  EXPECT_TRUE(view.GetThrow());  // copied into views
  f.Close();
  EXPECT_FALSE(f.GetThrow());  // cleared by Close
}

TEST_F(DFileTest, ViewsReadFromSeveralThreads) {
  std::string data;
  for (int i = 0; i < 64 * 1024; ++i) data += static_cast<char>(i * 7 + i / 256);
  WriteHost("big", data);
  DFile file;
  ASSERT_TRUE(file.Open(DString(Path("big").c_str()), 1));
  auto reader = [&](uint32_t start, bool* ok) {
    DFile view;
    *ok = view.OpenView(file, start, 32 * 1024);
    char buf[512];
    for (uint32_t at = 0; *ok && at < 32 * 1024; at += sizeof buf) {
      *ok = view.Read(buf, sizeof buf) == static_cast<int64_t>(sizeof buf) &&
            std::string(buf, sizeof buf) == data.substr(start + at, sizeof buf);
    }
  };
  bool ok1 = false, ok2 = false;
  std::thread a(reader, 0, &ok1), b(reader, 32 * 1024, &ok2);
  a.join();
  b.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

}  // namespace
