// Script file objects through both faces: the built-ins on the current file (called as a compiled
// call would) and the exports on a handle. One table of cases runs through each face.
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "api/ov_api.h"
#include "api_fixture.h"
#include "base/ddatafile.h"
#include "shell/cfilemanager.h"
#include "shell/engine.h"
#include "tests/support/kmf_archive.h"
#include "tests/support/scratch_dir.h"
#include "vm/script_loader.h"

namespace {

constexpr uint32_t kCreateFile = 205, kGetFile = 206, kSetFile = 207, kReadFileNumber = 208,
                   kReadFileFloat = 209, kReadFileString = 210, kReadFileLine = 213, kWriteFileNumber = 214,
                   kWriteFileFloat = 215, kWriteFileString = 216, kRewindFile = 217, kGetFileSize = 218,
                   kChopFile = 219, kSeekFile = 220, kTellFile = 221, kWriteFileLine = 222;
constexpr uint32_t kFileSlot = 10, kOut = 11, kA = 12, kB = 13;

// A KMF archive of the members, as tests/support/kmf_archive.h builds it.
constexpr auto* Archive = &orvane_test::KmfArchive;

// The fixture's two faces behind one set of calls. Param true: built-ins; false: exports.
class FileFaces : public BuiltinFrame, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    StartFileUnit();
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
  }
  void TearDown() override {
    Close();
    MountedDataFile().Release();
    CurrentTask().Release();
    BuiltinFrame::TearDown();
    EXPECT_EQ(FileManager().EntryCount(), 0u);  // every file closed with its last reference
    StopFileUnit();
  }
  bool Builtin() const { return GetParam(); }

  bool Open(const std::string& path, int32_t mode) {
    Close();
    if (Builtin()) {
      Str(kA, path);
      Int(kB, mode);
      Call(kCreateFile, {kA, kB});
      if (Result()->type() != kScriptFile) return false;
      ScriptValue::Assign(*Result(), Slot(kFileSlot));
      Result()->SetInt(0);
      Call(kSetFile, {kFileSlot});
      return true;
    }
    handle_ = ovCreateFile(path.c_str(), mode);
    return handle_ != nullptr;
  }
  void Close() {
    if (handle_) ovDestroyFile(handle_);
    handle_ = nullptr;
    Slot(kFileSlot)->SetInt(0);
    Call(kSetFile, {kFileSlot});
  }
  // A read: the text, or nullopt with the out variable checked untouched.
  std::optional<std::string> Text(bool line) {
    if (Builtin()) {
      Str(kOut, "untouched");
      Call(line ? kReadFileLine : kReadFileString, {kOut});
      if (Result()->ToInt() == 0) {
        EXPECT_EQ(std::string(Slot(kOut)->text()), "untouched");
        return std::nullopt;
      }
      EXPECT_EQ(Slot(kOut)->type(), kScriptString);
      return std::string(Slot(kOut)->text());
    }
    const char* t = line ? ovReadFileLine(handle_) : ovReadFileString(handle_);
    if (!t) return std::nullopt;
    return std::string(t);
  }
  std::optional<std::string> Line() { return Text(true); }
  std::optional<std::string> String() { return Text(false); }
  std::optional<int32_t> Number() {
    if (Builtin()) {
      Str(kOut, "untouched");
      Call(kReadFileNumber, {kOut});
      if (Result()->ToInt() == 0) {
        EXPECT_EQ(Slot(kOut)->type(), kScriptString);
        return std::nullopt;
      }
      EXPECT_EQ(Slot(kOut)->type(), kScriptInt);
      return Slot(kOut)->ToInt();
    }
    int32_t v = 0x5A5A5A5A;
    if (!ovReadFileNumber(&v, handle_)) {
      EXPECT_EQ(v, 0x5A5A5A5A);
      return std::nullopt;
    }
    return v;
  }
  std::optional<float> Float() {
    if (Builtin()) {
      Str(kOut, "untouched");
      Call(kReadFileFloat, {kOut});
      if (Result()->ToInt() == 0) return std::nullopt;
      EXPECT_EQ(Slot(kOut)->type(), kScriptFloat);
      return Slot(kOut)->ToFloat();
    }
    float v = 0;
    if (!ovReadFileFloat(&v, handle_)) return std::nullopt;
    return v;
  }
  bool WriteText(const std::string& text, bool line) {
    if (Builtin()) {
      Str(kA, text);
      Call(line ? kWriteFileLine : kWriteFileString, {kA});
      return Result()->ToInt() != 0;
    }
    return (line ? ovWriteFileLine(handle_, text.c_str()) : ovWriteFileString(handle_, text.c_str())) != 0;
  }
  bool WriteNumber(int32_t n) {
    if (Builtin()) {
      Int(kA, n);
      Call(kWriteFileNumber, {kA});
      return Result()->ToInt() != 0;
    }
    return ovWriteFileNumber(handle_, n) != 0;
  }
  bool WriteFloat(float f) {
    if (Builtin()) {
      Float(kA, f);
      Call(kWriteFileFloat, {kA});
      return Result()->ToInt() != 0;
    }
    return ovWriteFileFloat(handle_, f) != 0;
  }
  bool Seek(int32_t offset, int32_t origin) {
    if (Builtin()) {
      Int(kA, offset);
      Int(kB, origin);
      Call(kSeekFile, {kA, kB});
      return Result()->ToInt() != 0;
    }
    return ovSeekFile(handle_, offset, origin) != 0;
  }
  int32_t Tell() {
    if (Builtin()) return Call(kTellFile), Result()->ToInt();
    return ovTellFile(handle_);
  }
  int32_t Size() {
    if (Builtin()) return Call(kGetFileSize), Result()->ToInt();
    return ovGetFileSize(handle_);
  }
  bool Chop() {
    if (Builtin()) return Call(kChopFile), Result()->ToInt() != 0;
    return ovChopFile(handle_) != 0;
  }
  void Rewind() {
    if (Builtin())
      Call(kRewindFile);
    else
      ovRewindFile(handle_);
  }
  void Float(uint32_t i, float v) { BuiltinFrame::Float(i, v); }

  orvane_test::ScratchDir scratch_{"orvane_api_file_"};
  ApiHandle* handle_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Faces, FileFaces, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Builtins" : "Exports"; });

TEST_P(FileFaces, TextReadsByLinesAndStrings) {
  scratch_.Write("crlf.txt", "a\r\nb");
  ASSERT_TRUE(Open("crlf.txt", 1));
  EXPECT_EQ(Line(), "a");
  EXPECT_EQ(Line(), "b");
  EXPECT_EQ(Line(), std::nullopt);

  scratch_.Write("nul.txt", std::string("x\ny\0", 4));
  ASSERT_TRUE(Open("nul.txt", 1));
  EXPECT_EQ(String(), "x\ny");
  EXPECT_EQ(String(), std::nullopt);

  scratch_.Write("long.txt", std::string(2500, 'q'));
  ASSERT_TRUE(Open("long.txt", 1));
  EXPECT_EQ(Line(), std::string(1023, 'q'));
  EXPECT_EQ(Line(), std::string(1023, 'q'));
  EXPECT_EQ(Line(), std::string(454, 'q'));
  EXPECT_EQ(Line(), std::nullopt);

  scratch_.Write("lead.txt", "ab\x82");  // a lone lead byte ends the file
  ASSERT_TRUE(Open("lead.txt", 1));
  EXPECT_EQ(Line(), "ab");
  EXPECT_EQ(Line(), std::nullopt);
  EXPECT_EQ(Tell(), -1);
}

TEST_P(FileFaces, TheErrorFlagSticksUntilRewind) {
  scratch_.Write("f.bin", "12\n");
  ASSERT_TRUE(Open("f.bin", 3));
  EXPECT_EQ(Line(), "12");
  EXPECT_EQ(Line(), std::nullopt);
  EXPECT_EQ(Tell(), -1);
  EXPECT_EQ(Size(), -1);
  EXPECT_FALSE(Seek(0, 0));
  EXPECT_FALSE(WriteNumber(1));
  EXPECT_FALSE(Chop());
  Rewind();
  EXPECT_EQ(Tell(), 0);
  EXPECT_EQ(Size(), 3);
  EXPECT_EQ(Line(), "12");
}

TEST_P(FileFaces, NumbersAndFloatsAreFourLittleEndianBytes) {
  scratch_.Write("n.bin", std::string("\x01\x02\x03\x04\x00\x00\xc0\x3f\x09", 9));
  ASSERT_TRUE(Open("n.bin", 1));
  EXPECT_EQ(Number(), 0x04030201);
  EXPECT_EQ(Float(), 1.5f);
  EXPECT_EQ(Number(), std::nullopt);  // one byte left
  EXPECT_EQ(Tell(), -1);

  ASSERT_TRUE(Open("w.bin", 6));
  EXPECT_TRUE(WriteNumber(-1));
  EXPECT_TRUE(WriteFloat(1.5f));
  EXPECT_TRUE(WriteText("5", false));
  EXPECT_TRUE(WriteText("x", true));
  EXPECT_EQ(Tell(), 12);
  EXPECT_EQ(Number(), std::nullopt);  // written, not readable
  Close();
  EXPECT_EQ(scratch_.Read("w.bin"), std::string("\xff\xff\xff\xff\x00\x00\xc0\x3f"
                                                "5\0x\n",
                                                12));
}

TEST_P(FileFaces, SeeksFromEachOrigin) {
  scratch_.Write("h.bin", std::string(100, 'h'));
  ASSERT_TRUE(Open("h.bin", 1));
  EXPECT_TRUE(Seek(-4, 2));
  EXPECT_EQ(Tell(), 96);
  EXPECT_TRUE(Seek(-6, 1));
  EXPECT_EQ(Tell(), 90);
  EXPECT_FALSE(Seek(-101, 2));
  EXPECT_EQ(Tell(), -1);
  Rewind();
  EXPECT_FALSE(Seek(5, 2));
  Rewind();
  const struct {
    int32_t offset, origin;
  } refused[] = {{-1, 0}, {-1, 1}, {INT_MIN, 0}, {INT_MIN, 1}, {INT_MIN, 2}, {0, 3}, {0, INT_MIN}, {0, -1}};
  for (const auto& r : refused) {
    EXPECT_FALSE(Seek(r.offset, r.origin)) << r.offset << "," << r.origin;
    EXPECT_EQ(Tell(), -1);
    Rewind();
  }
  EXPECT_TRUE(Seek(INT_MAX, 0));  // past the end of a disk file
  EXPECT_EQ(Tell(), INT_MAX);
  EXPECT_EQ(Line(), std::nullopt);
}

// Per mode: on an existing "abcdef" and on a new file, whether it opens, the size after opening,
// whether a line reads, and the bytes after writing the string "Z".
TEST_P(FileFaces, ModeTableOnExistingAndNewFiles) {
  const struct {
    int32_t mode;
    bool opens_old;
    int32_t old_size;
    bool reads_old;
    const char* old_after;
    bool opens_new;
    bool writes;
  } rows[] = {
      {1, true, 6, true, "abcdef", false, false},  {2, true, 6, false, "Z\0cdef", true, true},
      {3, true, 6, true, "Z\0cdef", true, true},   {6, true, 0, false, "Z\0", true, true},
      {7, true, 0, false, "Z\0", true, true},      {4, false, 0, false, "abcdef", true, false},
      {5, false, 0, false, "abcdef", true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    const std::string name = "m" + std::to_string(row.mode);
    scratch_.Write(name + "old", "abcdef");
    ASSERT_EQ(Open(name + "old", row.mode), row.opens_old);
    if (row.opens_old) {
      EXPECT_EQ(Size(), row.old_size);
      EXPECT_EQ(Line().has_value(), row.reads_old);
      Rewind();
      EXPECT_EQ(WriteText("Z", false), row.writes);
      Close();
    }
    const size_t n = row.mode == 6 || row.mode == 7 ? 2 : 6;
    EXPECT_EQ(scratch_.Read(name + "old"), std::string(row.old_after, n));

    EXPECT_EQ(Open(name + "new", row.mode), row.opens_new);
    EXPECT_EQ(std::filesystem::exists(scratch_.Path(name + "new")), row.opens_new);
    if (row.opens_new) {
      EXPECT_EQ(Size(), 0);
      EXPECT_EQ(Line(), std::nullopt);
      Rewind();
      EXPECT_EQ(WriteText("Z", false), row.writes);
      Close();
      EXPECT_EQ(scratch_.Read(name + "new"), row.writes ? std::string("Z\0", 2) : "");
    }
  }
  if (Builtin()) {
    ASSERT_FALSE(Boxes().empty());
    EXPECT_NE(Boxes().back().text.find("ファイルを開けません。\n\"m5old\""), std::string::npos)
        << Boxes().back().text;
  }
}

TEST_P(FileFaces, ChopAfterAShortReadCutsAtThePosition) {
  scratch_.Write("c.txt", "line1\nline2\nline3\n");
  ASSERT_TRUE(Open("c.txt", 3));
  EXPECT_EQ(Line(), "line1");
  EXPECT_TRUE(Chop());
  EXPECT_EQ(Size(), 6);
  EXPECT_EQ(Tell(), 6);
  EXPECT_TRUE(WriteText("end", true));
  Close();
  EXPECT_EQ(scratch_.Read("c.txt"), "line1\nend\n");
}

TEST_P(FileFaces, OverlongAndEmptyPathsFailInsteadOfBeingCut) {
  // The first 263 bytes name a file that exists: a cut path would open it.
  const std::string cut(263 - scratch_.Dir().size() - 1, 'c');
  scratch_.Write(cut, "wrong file");
  EXPECT_FALSE(Open(cut + "tail", 1));
  EXPECT_FALSE(Open(cut + "tail", 6));
  EXPECT_EQ(scratch_.Read(cut), "wrong file");
  EXPECT_FALSE(Open(std::string(64 << 10, 'p'), 6));
  EXPECT_FALSE(Open("", 6));
  EXPECT_TRUE(Open(cut, 1));  // the longest that fits opens
  EXPECT_EQ(Line(), "wrong file");
  if (Builtin()) {
    // The message quotes the path as passed, cut to the path buffer.
    EXPECT_NE(Boxes()[2].text.find("\"" + std::string(263, 'p') + "\""), std::string::npos);
  }
}

TEST_P(FileFaces, AThreeGigabyteFileNeverWrapsThePosition) {
  const std::string path = scratch_.Path("big.bin");
  { std::ofstream(path, std::ios::binary); }
  std::filesystem::resize_file(path, 3ull << 30);  // sparse
  ASSERT_TRUE(Open("big.bin", 1));
  EXPECT_EQ(Size(), -1);
  Rewind();
  EXPECT_FALSE(Seek(-1, 2));
  Rewind();
  ASSERT_TRUE(Seek(INT_MAX - 2, 0));
  EXPECT_EQ(String(), "");
  EXPECT_EQ(String(), "");
  EXPECT_EQ(Tell(), INT_MAX);
  EXPECT_EQ(String(), std::nullopt);
  Rewind();
  ASSERT_TRUE(Seek(INT_MAX - 2, 0));
  EXPECT_EQ(Number(), std::nullopt);
  EXPECT_EQ(Tell(), -1);
}

TEST_P(FileFaces, ArchiveReadsAndDiskWrites) {
  scratch_.Write("arc.dat", Archive({{"data/a.txt", "member\n"}, {"\x95\x5C/x.txt", "sjis"}}));
  std::filesystem::create_directories(scratch_.Path("data"));
  scratch_.Write("data/a.txt", "disk\n");
  scratch_.Write("disk_only.txt", "d");
  ASSERT_EQ(ovSetDataFile("arc.dat"), 1);
  for (const char* spelling : {"data/a.txt", "data\\a.txt", "DATA/A.TXT"}) {
    ASSERT_TRUE(Open(spelling, 1)) << spelling;
    EXPECT_EQ(Line(), "member");
    EXPECT_EQ(Size(), 7);
  }
  ASSERT_TRUE(Open("\x95\x5C\\x.txt", 0));  // mode 0: opened, neither readable nor writable
  EXPECT_EQ(String(), std::nullopt);
  ASSERT_TRUE(Open("\x95\x5C\\x.txt", 1));
  EXPECT_EQ(String(), "sjis");
  EXPECT_FALSE(Open("disk_only.txt", 1));
  ASSERT_TRUE(Open("disk_only.txt", 3));  // read and write: the disk
  EXPECT_EQ(Line(), "d");
  ASSERT_TRUE(Open("data/a.txt", 3));
  EXPECT_EQ(Line(), "disk");
  // A member cannot be moved past its end: the seek fails with the error flag.
  ASSERT_TRUE(Open("data/a.txt", 1));
  EXPECT_FALSE(Seek(100, 0));
  EXPECT_EQ(Tell(), -1);
  EXPECT_EQ(ovSetDataFile(""), 1);  // unmounted: the disk again
  ASSERT_TRUE(Open("data/a.txt", 1));
  EXPECT_EQ(Line(), "disk");
}

TEST_P(FileFaces, WithoutACurrentFileEverythingFails) {
  EXPECT_EQ(Line(), std::nullopt);
  EXPECT_EQ(Number(), std::nullopt);
  EXPECT_FALSE(WriteText("x", true));
  EXPECT_FALSE(WriteNumber(1));
  EXPECT_FALSE(Seek(0, 0));
  EXPECT_EQ(Tell(), -1);
  EXPECT_EQ(Size(), -1);
  EXPECT_FALSE(Chop());
  Rewind();
}

// ---- One face only.

using FileBuiltins = FileFaces;

TEST_F(FileBuiltins, SelectionAndWrongKinds) {
  scratch_.Write("s.txt", "s\n");
  Str(kA, "s.txt");
  Int(kB, 1);
  Call(kCreateFile, {kA, kB});
  ASSERT_EQ(Result()->type(), kScriptFile);
  ScriptValue::Assign(*Result(), Slot(kFileSlot));
  Call(kGetFile);
  EXPECT_EQ(Result()->type(), kScriptInt);  // nothing selected yet
  Call(kSetFile, {kFileSlot});
  Call(kGetFile);
  EXPECT_EQ(Result()->type(), kScriptFile);
  // Any other kind clears the selection quietly.
  DRef<CScriptFile> other;  // a file object, but handed over as another kind
  other.Alloc(1);
  Slot(kA)->SetObject(DRef<void>::Convert(other), kScriptImage, &ReleaseObjectValue);
  Call(kSetFile, {kA});
  EXPECT_TRUE(Boxes().empty());
  Call(kGetFile);
  EXPECT_EQ(Result()->type(), kScriptInt);
  Call(kTellFile);
  EXPECT_EQ(Result()->ToInt(), -1);
  Slot(kA)->SetInt(0);
}

TEST(FileExports, HostileArgumentsGiveFailureValues) {
  orvane_test::ScratchDir scratch("orvane_api_file_x_");
  StartFileUnit();
  SetProgramDirectory((scratch.Dir() + "/").c_str());
  scratch.Write("f.bin", std::string(3000, 'f'));
  ApiHandle* h = ovCreateFile("f.bin", 3);
  ASSERT_NE(h, nullptr);
  char buffer[2048];
  int32_t n = 7;
  float f = 7;
  EXPECT_EQ(ovCreateFile(nullptr, 1), nullptr);
  EXPECT_EQ(ovReadFileNumber(nullptr, h), 0);
  EXPECT_EQ(ovReadFileFloat(nullptr, h), 0);
  EXPECT_EQ(ovReadFileData(nullptr, 4, h), 0);
  EXPECT_EQ(ovWriteFileData(h, nullptr, 4), 0);
  EXPECT_EQ(ovWriteFileString(h, nullptr), 0);
  EXPECT_EQ(ovWriteFileLine(h, nullptr), 0);
  EXPECT_EQ(ovTellFile(h), 0);  // none of them touched the file
  // Null handles.
  EXPECT_EQ(ovReadFileLine(nullptr), nullptr);
  EXPECT_EQ(ovReadFileString(nullptr), nullptr);
  EXPECT_EQ(ovReadFileNumber(&n, nullptr), 0);
  EXPECT_EQ(ovReadFileData(buffer, 4, nullptr), 0);
  EXPECT_EQ(ovWriteFileNumber(nullptr, 1), 0);
  EXPECT_EQ(ovSeekFile(nullptr, 0, 0), 0);
  EXPECT_EQ(ovTellFile(nullptr), -1);
  EXPECT_EQ(ovGetFileSize(nullptr), -1);
  EXPECT_EQ(ovChopFile(nullptr), 0);
  ovRewindFile(nullptr);
  ovDestroyFile(nullptr);
  // A handle of another kind (an image's) is refused by every file export.
  DRef<CScriptFile> other;  // a file object, but handed over as another kind
  other.Alloc(1);
  ApiHandle* image = NewApiHandle(kScriptImage, DRef<void>::Convert(other));
  EXPECT_EQ(ovReadFileLine(image), nullptr);
  EXPECT_EQ(ovReadFileFloat(&f, image), 0);
  EXPECT_EQ(ovWriteFileFloat(image, 1), 0);
  EXPECT_EQ(ovWriteFileData(image, buffer, 4), 0);
  EXPECT_EQ(ovTellFile(image), -1);
  EXPECT_EQ(ovGetFileSize(image), -1);
  EXPECT_EQ(ovSeekFile(image, 0, 0), 0);
  EXPECT_EQ(ovChopFile(image), 0);
  ovRewindFile(image);
  ovDestroyFile(image);  // left alone
  DestroyApiHandle(image, kScriptImage, "test");
  EXPECT_EQ(n, 7);
  EXPECT_EQ(f, 7);
  // Blocks: 1024 bytes at most; 2000 and 0xFFFFFFFF fail with the error flag.
  EXPECT_EQ(ovReadFileData(buffer, 1024, h), 1);
  EXPECT_EQ(ovReadFileData(buffer, 2000, h), 0);
  EXPECT_EQ(ovTellFile(h), -1);
  ovRewindFile(h);
  EXPECT_EQ(ovReadFileData(buffer, 0xFFFFFFFFu, h), 0);
  EXPECT_EQ(ovTellFile(h), -1);
  ovRewindFile(h);
  EXPECT_EQ(ovWriteFileData(h, buffer, 0xFFFFFFFFu), 0);
  EXPECT_EQ(ovTellFile(h), -1);
  ovRewindFile(h);
  EXPECT_EQ(ovReadFileData(buffer, 0, h), 1);
  EXPECT_EQ(ovWriteFileData(h, "ab", 2), 1);
  EXPECT_EQ(ovTellFile(h), 2);
  ovDestroyFile(h);
  EXPECT_EQ(scratch.Read("f.bin").substr(0, 3), "abf");
  EXPECT_EQ(FileManager().EntryCount(), 0u);
  StopFileUnit();
}

TEST_F(FileBuiltins, AScriptFileAndAPluginHandleShareOnePath) {
  Str(kA, "shared.txt");
  Int(kB, 7);
  Call(kCreateFile, {kA, kB});
  ASSERT_EQ(Result()->type(), kScriptFile);
  ScriptValue::Assign(*Result(), Slot(kFileSlot));
  Result()->SetInt(0);
  Call(kSetFile, {kFileSlot});
  ApiHandle* h = ovCreateFile("SHARED.txt", 3);  // the same file in another case
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileManager().EntryCount(), 1u);
  EXPECT_EQ(ovWriteFileLine(h, "hello"), 1);
  Str(kOut, "");
  Call(kReadFileLine, {kOut});
  EXPECT_EQ(std::string(Slot(kOut)->text()), "hello");
  Str(kA, "world");
  Call(kWriteFileLine, {kA});
  EXPECT_EQ(std::string(ovReadFileLine(h)), "world");
  // The handle's destruction leaves the script's file open; dropping the value and the selection
  // closes it.
  ovDestroyFile(h);
  EXPECT_EQ(FileManager().EntryCount(), 1u);
  Slot(kFileSlot)->SetInt(0);
  EXPECT_EQ(FileManager().EntryCount(), 1u);  // still selected
  Call(kSetFile, {kFileSlot});
  EXPECT_EQ(FileManager().EntryCount(), 0u);
  EXPECT_EQ(scratch_.Read("shared.txt"), "hello\nworld\n");
}

}  // namespace
