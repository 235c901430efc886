// The File unit: texts, data, positions, two files on one path, archive members.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/ddatafile.h"
#include "shell/cfilemanager.h"
#include "tests/support/scratch_dir.h"
#include "vm/script_loader.h"

namespace {

class FileUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_dir_ = GetProgramDirectory();
    SetProgramDirectory((dir_.Dir() + "/").c_str());
    ASSERT_TRUE(fm_.Start());
  }
  void TearDown() override {
    fm_.Term();
    SetProgramDirectory(saved_dir_.c_str());
  }
  DRef<CScriptFile> Open(const std::string& name, int mode, const DRef<DDataFile>& archive = {}) {
    DRef<CScriptFile> f;
    fm_.Open(&f, name.c_str(), archive, mode);
    return f;
  }
  // Every text until null, and whether the error flag is then set.
  static std::vector<std::string> Texts(CScriptFile& f, bool line) {
    std::vector<std::string> out;
    while (const char* t = f.ReadText(line)) out.push_back(t);
    EXPECT_TRUE(f.Flags() & CScriptFile::kError);
    return out;
  }

  orvane_test::ScratchDir dir_{"file_unit"};
  std::string saved_dir_;
  CFileManager fm_;
};

using Strings = std::vector<std::string>;

TEST_F(FileUnitTest, TextModes) {
  struct Case {
    std::string bytes;
    bool line;
    Strings want;
  } cases[] = {
      {"ab\r\ncd", true, {"ab", "cd"}},
      {"ab\r\ncd", false, {"ab\ncd"}},
      {"one\ntwo\n", true, {"one", "two"}},
      {std::string("a\0b\nc", 5), true, {"a", "b", "c"}},
      {std::string("x\0\0y", 4), false, {"x", "", "y"}},
      {"t\tab\x01\x1f!\n", true, {"t\tab!"}},
      {"\x82\xa0\x0a\x82\n", true, {"\x82\xa0", "\x82\n"}},  // a trail byte is not examined
      {"ab\x82", true, {"ab"}},                              // a lone lead byte at the end is consumed
      {"", true, {}},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string name = "t" + std::to_string(i++);
    dir_.Write(name, c.bytes);
    DRef<CScriptFile> f = Open(name, 1);
    ASSERT_TRUE(f) << name;
    EXPECT_EQ(Texts(*f, c.line), c.want) << name;
  }
}

TEST_F(FileUnitTest, LongLinesComeIn1023BytePieces) {
  std::string line(2000, 'x');
  line[1022] = '\x83';  // a lead byte as the 1023rd byte: its trail starts the next piece
  line[1023] = '\x41';
  dir_.Write("long", line);
  DRef<CScriptFile> f = Open("long", 1);
  Strings got = Texts(*f, true);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], line.substr(0, 1023));
  EXPECT_EQ(got[1], line.substr(1023));

  // A lead byte as the 1024th byte of a full buffer: the piece ends before it, the next starts at it.
  std::string l2(1023, 'y');
  l2 += "\x83\x40zz";
  dir_.Write("long2", l2);
  f = Open("long2", 1);
  got = Texts(*f, true);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::string(1023, 'y'));
  EXPECT_EQ(got[1], "\x83\x40zz");

  // Many control bytes before a line: removed, counted as consumed.
  std::string l3(5000, '\r');
  l3 += "end\nnext";
  dir_.Write("long3", l3);
  f = Open("long3", 1);
  EXPECT_STREQ(f->ReadText(true), "end");
  EXPECT_EQ(f->Tell(), 5004);
  EXPECT_STREQ(f->ReadText(true), "next");
}

TEST_F(FileUnitTest, DataSeekTellSizeAndRewind) {
  dir_.Write("hundred", std::string(100, 'h'));
  DRef<CScriptFile> f = Open("hundred", 1);
  EXPECT_EQ(f->GetSize(), 100);
  EXPECT_TRUE(f->Seek(-5, 2));
  EXPECT_EQ(f->Tell(), 95);
  char buf[1100];
  EXPECT_TRUE(f->Read(buf, 5));
  EXPECT_FALSE(f->Read(buf, 1));  // past the end
  EXPECT_EQ(f->Tell(), -1);
  f->Rewind();
  EXPECT_EQ(f->Tell(), 0);
  struct SeekCase {
    int32_t offset, origin;
    bool ok;
    int32_t tell;
  } seeks[] = {
      {1, 2, false, -1}, {-101, 2, false, -1}, {-100, 2, true, 0}, {-1, 0, false, -1},
      {50, 0, true, 50}, {-51, 1, false, -1},  {7, 3, false, -1},  {150, 0, true, 150},
  };
  for (const SeekCase& s : seeks) {
    f->Rewind();
    EXPECT_EQ(f->Seek(s.offset, s.origin), s.ok) << s.offset << "/" << s.origin;
    EXPECT_EQ(f->Tell(), s.tell) << s.offset << "/" << s.origin;
  }
  f->Rewind();
  EXPECT_FALSE(f->Read(buf, 1025));  // more than the buffer: refused
  EXPECT_TRUE(f->Flags() & CScriptFile::kError);
  EXPECT_FALSE(f->Seek(0, 0));  // the flag sticks
  EXPECT_EQ(f->GetSize(), -1);
  f->Rewind();
  EXPECT_TRUE(f->Read(buf, 100));
  EXPECT_FALSE(f->Write("x", 1));  // not writable: fails, flag not set
  EXPECT_FALSE(f->Flags() & CScriptFile::kError);
}

TEST_F(FileUnitTest, WritesNumbersTextsAndModes) {
  DRef<CScriptFile> f = Open("w", 6);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->WriteNumber(1));
  EXPECT_TRUE(f->WriteFloat(1.0f));
  EXPECT_TRUE(f->WriteText("ab", true));
  EXPECT_TRUE(f->WriteText("cd", false));
  char buf[4];
  EXPECT_FALSE(f->Read(buf, 1));  // not readable
  f->Close();
  EXPECT_EQ(dir_.Read("w"), std::string("\x01\0\0\0\0\0\x80\x3f"
                                        "ab\ncd\0",
                                        14));

  dir_.Write("m", "0123456789");
  f = Open("m", 2);  // opens at 0 and keeps the tail
  EXPECT_TRUE(f->WriteText("AB", false));
  f->Close();
  EXPECT_EQ(dir_.Read("m"), std::string("AB\0"
                                        "3456789",
                                        10));
  f = Open("m", 6);  // empties first
  f->Close();
  EXPECT_EQ(dir_.Read("m"), "");
  EXPECT_FALSE(Open("missing", 1));
  f = Open("rw", 3);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->WriteText("hello", true));
  EXPECT_TRUE(f->Seek(2, 0));
  EXPECT_TRUE(f->Chop());
  EXPECT_EQ(f->GetSize(), 2);
  f->Rewind();
  EXPECT_STREQ(f->ReadText(true), "he");
  EXPECT_EQ(fm_.EntryCount(), 1u);
  f->Close();
  EXPECT_EQ(fm_.EntryCount(), 0u);
}

TEST_F(FileUnitTest, TwoFilesOnOnePathSeeEachOthersWrites) {
  dir_.Write("shared", "old line\nsecond\n");
  DRef<CScriptFile> a = Open("shared", 1);
  DRef<CScriptFile> b = Open("./shared", 2);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(fm_.EntryCount(), 1u);
  EXPECT_STREQ(a->ReadText(true), "old line");  // a buffered the whole file
  EXPECT_TRUE(b->WriteText("new line", true));
  EXPECT_TRUE(b->WriteText("NEW", true));
  // a reads from its own position (9) the bytes b wrote.
  EXPECT_STREQ(a->ReadText(true), "NEW");
  a->Rewind();
  EXPECT_STREQ(a->ReadText(true), "new line");
  b->Close();
  EXPECT_EQ(fm_.EntryCount(), 1u);
  fm_.CloseAll();
  EXPECT_EQ(fm_.EntryCount(), 0u);
  EXPECT_FALSE(a->IsAttached());
  EXPECT_EQ(a->ReadText(true), nullptr);
}

TEST_F(FileUnitTest, ArchiveMembersAndNeverTheDisk) {
  dir_.Write("member.txt", "in archive\nline2");
  dir_.Write("disk_only.txt", "on disk");
  DFile src;
  ASSERT_TRUE(src.Open(DString(dir_.Path("member.txt").c_str()), DFile::kRead));
  {
    DDataFile builder;
    ASSERT_TRUE(builder.Create());
    ASSERT_TRUE(builder.AddMember(DString("data/Member.txt"), src));
    DFile out;
    ASSERT_TRUE(out.Open(DString(dir_.Path("a.kmf").c_str()),
                         DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew));
    ASSERT_TRUE(builder.Save(out));
  }
  DRef<DDataFile> archive;
  archive.Alloc(1);
  ASSERT_TRUE(archive->MountFile(DString(dir_.Path("a.kmf").c_str())));

  DRef<CScriptFile> f = Open("data\\member.txt", 1, archive);
  ASSERT_TRUE(f);
  EXPECT_EQ(Texts(*f, true), (Strings{"in archive", "line2"}));
  f->Rewind();
  EXPECT_TRUE(f->Seek(0, 2));
  // Past the member's end the move fails: the seek fails and the flag is set.
  f->Rewind();
  EXPECT_FALSE(f->Seek(100, 0));
  EXPECT_TRUE(f->Flags() & CScriptFile::kError);
  EXPECT_FALSE(Open("disk_only.txt", 1, archive));
  EXPECT_FALSE(Open(std::string(300, 'a'), 1, archive));
  // Writing opens use the disk.
  DRef<CScriptFile> w = Open("disk_only.txt", 3, archive);
  ASSERT_TRUE(w);
  EXPECT_STREQ(w->ReadText(true), "on disk");
}

TEST_F(FileUnitTest, StoppedUnitOpensNothing) {
  dir_.Write("x", "x");
  fm_.Term();
  EXPECT_FALSE(fm_.Term());
  EXPECT_FALSE(Open("x", 1));
  ASSERT_TRUE(fm_.Start());
  EXPECT_FALSE(fm_.Start());
  DRef<CScriptFile> f = Open("x", 1);
  ASSERT_TRUE(f);
  f.Release();  // the last reference closes the file and its entry
  EXPECT_EQ(fm_.EntryCount(), 0u);
}

}  // namespace
