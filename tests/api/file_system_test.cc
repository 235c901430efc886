// Existence tests, copies and new directories through both faces, against a running task's
// directory or the program's; and the existence exports' view of a mounted archive.
#include <cstring>
#include <filesystem>
#include <string>

#include "api/ov_api.h"
#include "api_fixture.h"
#include "shell/engine.h"
#include "tests/support/kmf_archive.h"
#include "tests/support/scratch_dir.h"
#include "vm/script_loader.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kCreateDir = 125, kCopyFile = 126, kIsFileExist = 129, kIsDirExist = 130;

// A KMF archive of the members, as tests/support/kmf_archive.h builds it.
constexpr auto* Archive = &orvane_test::KmfArchive;

enum Op { kFile, kDir, kCopy, kMkdir };

class FileSystemFaces : public BuiltinFrame, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
    fs::create_directories(scratch_.Path("dir"));
    fs::create_directories(scratch_.Path("task"));
    scratch_.Write("f.txt", "top");
    scratch_.Write("dir/inner.txt", "inner");
    scratch_.Write("task/t.txt", "task file");
  }
  void TearDown() override {
    MountedDataFile().Release();
    CurrentTask().Release();
    BuiltinFrame::TearDown();
  }
  void RunInTask() {
    DRef<ScriptTask> task;
    task.Alloc(1);
    const std::string dir = scratch_.Path("task/");
    std::memcpy(task->directory, dir.c_str(), dir.size() + 1);
    CurrentTask() = task;
  }
  bool Do(Op op, const std::string& a, const std::string& b = "") {
    if (GetParam()) {
      static const uint32_t numbers[] = {kIsFileExist, kIsDirExist, kCopyFile, kCreateDir};
      Str(1, a);
      Str(2, b);
      Result()->SetInt(7);
      if (op == kCopy)
        Call(numbers[op], {1, 2});
      else
        Call(numbers[op], {1});
      EXPECT_EQ(Result()->type(), kScriptInt);
      EXPECT_TRUE(Boxes().empty());
      return Result()->ToInt() != 0;
    }
    switch (op) {
      case kFile:
        return ovIsFileExist(a.c_str()) != 0;
      case kDir:
        return ovIsDirExist(a.c_str()) != 0;
      case kCopy:
        return ovCopyFile(a.c_str(), b.c_str()) != 0;
      case kMkdir:
        return ovCreateDir(a.c_str()) != 0;
    }
    return false;
  }
  orvane_test::ScratchDir scratch_{"orvane_api_fs_"};
};

INSTANTIATE_TEST_SUITE_P(Faces, FileSystemFaces, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Builtins" : "Exports"; });

TEST_P(FileSystemFaces, ExistenceCopiesAndDirectories) {
  RunInTask();
  const std::string root = scratch_.Dir();
  // The first 263 bytes of `cut + "tail"` made absolute name an existing file and directory.
  const std::string cut(263 - (root.size() + 1), 'c');
  scratch_.Write(cut, "cut");
  const std::string cut_from_task = "../" + cut;
  const struct {
    Op op;
    std::string a, b;
    bool result;
  } rows[] = {
      {kFile, "t.txt", "", true},  // relative to the running task
      {kFile, "../f.txt", "", true},
      {kFile, root + "/f.txt", "", true},
      {kFile, root + "\\dir\\inner.txt", "", true},
      {kFile, "../DIR/INNER.TXT", "", true},  // another case
      {kFile, "../dir", "", false},
      {kFile, "missing.txt", "", false},
      {kDir, "../dir", "", true},
      {kDir, "..\\DIR\\", "", true},
      {kDir, "../f.txt", "", false},
      {kDir, "", "", true},  // the task's own directory
      {kFile, cut_from_task, "", true},
      {kFile, cut_from_task + "tail", "", false},
      {kFile, std::string(64 << 10, 'x'), "", false},
      {kCopy, "t.txt", "out/new/copy.txt", true},         // missing levels made
      {kCopy, "t.txt", root + "\\dir\\inner.txt", true},  // overwritten
      {kCopy, "t.txt", "t.txt", false},                   // onto itself
      {kCopy, "T.TXT", "t.txt", false},                   // onto itself in another case
      {kCopy, "t.txt", "../dir", false},                  // onto a directory
      {kCopy, "missing.txt", "never.txt", false},
      {kCopy, "t.txt", cut_from_task + "tail", false},
      {kCopy, cut_from_task + "tail", "never.txt", false},
      {kMkdir, "a/b/c", "", true},
      {kMkdir, "a\\b\\d", "", true},
      {kMkdir, root + "/task/a/b/c/", "", true},  // exists already
      {kMkdir, "../f.txt", "", false},
      {kMkdir, "../f.txt/sub", "", false},
      {kMkdir, cut_from_task + "tail/x", "", false},
      {kMkdir, std::string(64 << 10, 'm'), "", false},
      {kCopy, "t.txt", std::string(64 << 10, 'y'), false},
      {kDir, std::string(64 << 10, 'z'), "", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Do(row.op, row.a, row.b), row.result)
        << row.op << " " << row.a.substr(0, 80) << " " << row.b.substr(0, 80);
  }
  EXPECT_EQ(scratch_.Read("task/out/new/copy.txt"), "task file");
  EXPECT_EQ(scratch_.Read("dir/inner.txt"), "task file");
  EXPECT_EQ(scratch_.Read("task/t.txt"), "task file");
  EXPECT_TRUE(fs::is_directory(scratch_.Path("dir")));
  EXPECT_FALSE(fs::exists(scratch_.Path("task/never.txt")));
  EXPECT_EQ(scratch_.Read(cut), "cut");  // never written through a cut name
  EXPECT_TRUE(fs::is_directory(scratch_.Path("task/a/b/c")));
  EXPECT_TRUE(fs::is_directory(scratch_.Path("task/a/b/d")));
  EXPECT_EQ(scratch_.Read("f.txt"), "top");

  // No running task: the program's directory.
  CurrentTask().Release();
  EXPECT_TRUE(Do(kFile, "f.txt"));
  EXPECT_FALSE(Do(kFile, "t.txt"));
  EXPECT_TRUE(Do(kMkdir, "made"));
  EXPECT_TRUE(fs::is_directory(scratch_.Path("made")));
}

TEST(FileSystemExports, NullPathsFail) {
  EXPECT_EQ(ovIsFileExist(nullptr), 0);
  EXPECT_EQ(ovIsDirExist(nullptr), 0);
  EXPECT_EQ(ovCopyFile(nullptr, "x"), 0);
  EXPECT_EQ(ovCopyFile("f.txt", nullptr), 0);
  EXPECT_EQ(ovCreateDir(nullptr), 0);
}

// With an archive mounted the existence exports see only its members, by the caller's path with
// "\" made "/"; the built-ins still see only the disk.
TEST_P(FileSystemFaces, AnArchiveHidesTheDiskFromTheExportsOnly) {
  scratch_.Write("arc.dat", Archive({{"data/a.txt", "m"}, {"\x95\x5C/x.txt", "s"}}));
  fs::create_directories(scratch_.Path("data"));
  scratch_.Write("disk_only.txt", "d");
  ASSERT_EQ(ovSetDataFile("arc.dat"), 1);
  const bool builtin = GetParam();
  EXPECT_EQ(Do(kFile, "data\\a.txt"), !builtin);
  EXPECT_EQ(Do(kFile, "DATA/A.TXT"), !builtin);
  EXPECT_EQ(Do(kFile, "\x95\x5C\\x.txt"), !builtin);
  EXPECT_EQ(Do(kFile, "disk_only.txt"), builtin);
  EXPECT_EQ(Do(kDir, "data"), builtin);
  EXPECT_FALSE(Do(kDir, "data/a.txt"));  // a member is not a directory
  ASSERT_EQ(ovSetDataFile(""), 1);
  EXPECT_TRUE(Do(kFile, "disk_only.txt"));
  EXPECT_TRUE(Do(kDir, "data"));
  EXPECT_FALSE(Do(kFile, "data/a.txt"));
}

}  // namespace
