// DDataFile: mounting KMF archives (good and damaged), lookups, member views, building and saving.
#include "base/ddatafile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

struct Record {
  std::string name;
  uint32_t offset;
  uint32_t size;
};

std::string Directory(const std::vector<Record>& records, uint32_t count) {
  std::string s = "KMF " + U32(count);
  for (const Record& r : records)
    s += U32(static_cast<uint32_t>(r.name.size())) + r.name + U32(r.offset) + U32(r.size);
  return s;
}

// An archive whose members follow the directory back to back, as the writer lays them out.
std::string Archive(const std::vector<std::pair<std::string, std::string>>& members) {
  std::vector<Record> records;
  uint32_t offset = 8;
  for (const auto& m : members) offset += 12 + static_cast<uint32_t>(m.first.size());
  std::string data;
  for (const auto& m : members) {
    records.push_back(
        {m.first, offset + static_cast<uint32_t>(data.size()), static_cast<uint32_t>(m.second.size())});
    data += m.second;
  }
  return Directory(records, static_cast<uint32_t>(records.size())) + data;
}

class DDataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane_kmf_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string Put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
    return dir_ + "/" + name;
  }
  std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string ReadAll(DFile& f) {
    std::string out;
    char buf[4096];
    for (int64_t n; (n = f.Read(buf, sizeof buf)) > 0;) out.append(buf, n);
    return out;
  }
  std::string dir_;
};

// A double-byte character (trail byte 0x41, an ASCII 'A') followed by an upper-case letter.
const std::string kWideName = std::string("\x83\x41") + "B.txt";

TEST_F(DDataFileTest, LookupFoldsAsciiCaseOnly) {
  std::string path =
      Put("a.kmf", Archive({{"Data/Title.PNG", "png-bytes"}, {kWideName, "wide"}, {"", "empty-name"}}));
  DDataFile archive;
  ASSERT_TRUE(archive.MountFile(DString(path.c_str())));
  struct Case {
    std::string name;
    const char* contents;  // null: not found
  } cases[] = {
      {"Data/Title.PNG", "png-bytes"},
      {"data/title.png", "png-bytes"},
      {"DATA/TITLE.PNG", "png-bytes"},
      {std::string("\x83\x41") + "b.txt", "wide"},
      {std::string("\x83\x61") + "b.txt", nullptr},  // the trail byte is not a letter
      {"", "empty-name"},
      {"data/title.pn", nullptr},
  };
  for (const Case& c : cases) {
    DFile member;
    EXPECT_EQ(archive.OpenMember(DString(c.name.c_str()), member), c.contents != nullptr) << c.name;
    if (c.contents) {
      EXPECT_EQ(ReadAll(member), c.contents) << c.name;
    }
  }
  EXPECT_EQ(archive.Find(DString()), nullptr);
  DDataFileMember* m = archive.Find(DString("DATA/title.png"));
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(archive.GetMemberName(m), "data/title.png");
  EXPECT_EQ(m->view.GetName(), path + " | data/title.png");
  EXPECT_EQ(archive.GetMember(1), archive.Find(DString(kWideName.c_str())));
  EXPECT_EQ(archive.GetMember(3), nullptr);
}

TEST_F(DDataFileTest, MembersReadOnlyTheirOwnBytes) {
  std::string path = Put("a.kmf", Archive({{"one", "11111"}, {"two", "22"}}));
  DDataFile archive;
  ASSERT_TRUE(archive.MountFile(DString(path.c_str())));
  DFile one;
  ASSERT_TRUE(archive.OpenMember(DString("one"), one));
  EXPECT_EQ(one.GetSize(), 5);
  char buf[16];
  EXPECT_EQ(one.Read(buf, 16), 5);
  EXPECT_EQ(one.Read(buf, 1), -1);
  EXPECT_FALSE(one.Seek(DFile::kSeekStart, 6));
  // A handed-out member stays readable after the archive goes.
  archive.Unmount();
  ASSERT_TRUE(one.Seek(DFile::kSeekStart, 1));
  EXPECT_EQ(one.Read(buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "11");
  EXPECT_EQ(archive.Find(DString("one")), nullptr);
  // The buckets went with the members: a new directory finds none of the old records.
  ASSERT_TRUE(archive.Create());
  EXPECT_EQ(archive.Find(DString("one")), nullptr);
  EXPECT_EQ(archive.GetMember(0), nullptr);
}

TEST_F(DDataFileTest, SizeWithAllBitsReachesTheEnd) {
  std::string dir = Directory({{"rest", 0, 0xFFFFFFFFu}}, 1);
  std::string bytes = dir + "tail-bytes";
  // Patch the offset now that the directory's length is known.
  bytes.replace(8 + 4 + 4, 4, U32(static_cast<uint32_t>(dir.size())));
  std::string path = Put("a.kmf", bytes);
  DDataFile archive;
  ASSERT_TRUE(archive.MountFile(DString(path.c_str())));
  DFile rest;
  ASSERT_TRUE(archive.OpenMember(DString("REST"), rest));
  EXPECT_EQ(ReadAll(rest), "tail-bytes");
}

TEST_F(DDataFileTest, DamagedArchivesFailCleanly) {
  std::string good = Archive({{"a", "xyz"}});
  std::string long_name(264, 'n');
  struct Case {
    const char* what;
    std::string bytes;
    bool read_fails;  // a read falls short (thrown to a caller that asked for exceptions)
  } cases[] = {
      {"empty file", "", true},
      {"short header", "KMF ", true},
      {"bad magic", "KMG " + good.substr(4), false},
      {"short directory", Directory({{"a", 20, 0}}, 2), true},
      {"record cut short", good.substr(0, 14), true},
      {"name length 264", Directory({{long_name, 0, 0}}, 1), true},
      {"offset beyond the file", Directory({{"a", 1000, 0}}, 1), false},
      {"size beyond the file", Directory({{"a", 8, 100}}, 1), false},
      {"offset with the top bit set", Directory({{"a", 0x80000000u, 1}}, 1), false},
      {"offset and size wrapping", Directory({{"a", 0xFFFFFFF0u, 0x20}}, 1), false},
      {"names equal ignoring case", Directory({{"a", 0, 1}, {"A", 0, 1}}, 2), false},
      {"huge count", "KMF " + U32(0xFFFFFFFFu) + good.substr(8), true},
  };
  for (const Case& c : cases) {
    std::string path = Put("bad.kmf", c.bytes);
    DDataFile archive;
    EXPECT_FALSE(archive.MountFile(DString(path.c_str()))) << c.what;
    EXPECT_FALSE(archive.IsMounted()) << c.what;
    EXPECT_EQ(archive.Find(DString("a")), nullptr) << c.what;
    // With the caller's throw flag set, failing reads throw and the flag survives.
    DFile source;
    ASSERT_TRUE(source.Open(DString(path.c_str()), 1));
    source.SetThrow(true);
    bool threw = false;
    try {
      EXPECT_FALSE(archive.Mount(source)) << c.what;
    } catch (const DExceptFile&) {
      threw = true;
    }
    EXPECT_TRUE(source.GetThrow()) << c.what;
    EXPECT_FALSE(archive.IsMounted()) << c.what;
    if (c.read_fails) {
      EXPECT_TRUE(threw) << c.what;
    }
  }
}

TEST_F(DDataFileTest, NameLengthZeroAndMountingTwice) {
  std::string path = Put("a.kmf", Archive({{"", "e"}}));
  DDataFile archive;
  ASSERT_TRUE(archive.MountFile(DString(path.c_str())));
  ASSERT_NE(archive.Find(DString("")), nullptr);
  EXPECT_FALSE(archive.MountFile(DString(path.c_str())));
  EXPECT_FALSE(archive.IsMounted());
  EXPECT_FALSE(archive.MountFile(DString((dir_ + "/missing.kmf").c_str())));
}

TEST_F(DDataFileTest, SaveThenMountRoundTrip) {
  std::string big(10000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  DFile first, second;
  ASSERT_TRUE(first.Open(DString(Put("first.bin", "First").c_str()), 1));
  ASSERT_TRUE(second.Open(DString(Put("second.bin", big).c_str()), 1));
  DDataFile builder;
  DFile target;
  EXPECT_FALSE(builder.Save(target));  // nothing to save yet
  ASSERT_TRUE(builder.Create());
  EXPECT_FALSE(builder.Create());
  ASSERT_TRUE(builder.AddMember(DString("Img/First.txt"), first));
  ASSERT_TRUE(builder.AddMember(DString("second"), second));
  EXPECT_FALSE(builder.AddMember(DString("IMG/first.TXT"), second));
  std::string out = dir_ + "/out.kmf";
  ASSERT_TRUE(target.Open(DString(out.c_str()), 15));
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  ASSERT_TRUE(
      builder.Save(target, [&](uint32_t copied, uint32_t total) { calls.emplace_back(copied, total); }));
  target.Close();
  const uint32_t total = 10005;
  std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, total},    {5, total},    {5, total},
                                                         {4101, total}, {8197, total}, {total, total}};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(Get(out), Archive({{"img/first.txt", "First"}, {"second", big}}));

  DDataFile archive;
  ASSERT_TRUE(archive.MountFile(DString(out.c_str())));
  DFile m1, m2;
  ASSERT_TRUE(archive.OpenMember(DString("IMG/FIRST.TXT"), m1));
  ASSERT_TRUE(archive.OpenMember(DString("second"), m2));
  EXPECT_EQ(ReadAll(m1), "First");
  EXPECT_EQ(ReadAll(m2), big);
}

TEST_F(DDataFileTest, RemoveAndReplaceMembers) {
  DFile a, b;
  ASSERT_TRUE(a.OpenMemory(DString("a"), 3, 3));
  ASSERT_TRUE(a.Write("AAA", 3) == 3);
  ASSERT_TRUE(b.OpenMemory(DString("b"), 2, 3));
  ASSERT_TRUE(b.Write("BB", 2) == 2);
  DDataFile archive;
  EXPECT_FALSE(archive.AddMember(DString("x"), a));  // not mounted
  ASSERT_TRUE(archive.Create());
  ASSERT_TRUE(archive.AddMember(DString("x"), a));
  ASSERT_TRUE(archive.AddMember(DString("y"), a));
  ASSERT_TRUE(archive.ReplaceMember(DString("X"), b));
  DFile x;
  ASSERT_TRUE(archive.OpenMember(DString("x"), x));
  EXPECT_EQ(ReadAll(x), "BB");
  EXPECT_TRUE(archive.RemoveMember(DString("x")));
  EXPECT_FALSE(archive.RemoveMember(DString("x")));
  EXPECT_EQ(archive.Find(DString("x")), nullptr);
  EXPECT_EQ(archive.GetMember(0), archive.Find(DString("y")));
  EXPECT_TRUE(archive.RemoveMember(archive.GetMember(0)));
  EXPECT_EQ(archive.GetMember(0), nullptr);
}

TEST_F(DDataFileTest, ThreadsReadDifferentMembersAtOnce) {
  std::string one(50000, 'a'), two(50000, 'b');
  for (size_t i = 0; i < one.size(); ++i)
    one[i] = static_cast<char>(i % 13), two[i] = static_cast<char>(i % 17);
  std::string path = Put("a.kmf", Archive({{"one", one}, {"two", two}}));
  DDataFile archive;
  ASSERT_TRUE(archive.MountFile(DString(path.c_str())));
  auto reader = [&](const char* name, const std::string* want, bool* ok) {
    *ok = true;
    for (int round = 0; round < 20 && *ok; ++round) {
      DFile member;
      *ok = archive.OpenMember(DString(name), member);
      std::string got;
      char buf[700];
      for (int64_t n; *ok && (n = member.Read(buf, sizeof buf)) > 0;) got.append(buf, n);
      *ok = *ok && got == *want;
    }
  };
  bool ok1 = false, ok2 = false;
  std::thread t1(reader, "one", &one, &ok1), t2(reader, "TWO", &two, &ok2);
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

}  // namespace
