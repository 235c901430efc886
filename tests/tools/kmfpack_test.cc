// Tests of the archive packer: members read back through the archive's own lookups, and the same
// files always give the same archive.
#include "tools/kmfpack/kmfpack.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/ddatafile.h"
#include "base/dfile.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using orvane_test::ScratchDir;

std::string U8(const char8_t* s) {
  return reinterpret_cast<const char*>(s);
}

void WriteTree(const ScratchDir& dir, const std::string& rel, const std::string& bytes) {
  fs::create_directories(fs::path(dir.Path(rel)).parent_path());
  dir.Write(rel, bytes);
}

std::string Member(DDataFile& archive, const char* name) {
  DFile view;
  if (!archive.OpenMember(DString(name), view)) return "<missing>";
  const std::int64_t size = view.GetSize();
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size > 0) view.Read(bytes.data(), static_cast<std::uint32_t>(size));
  return bytes;
}

TEST(KmfpackTest, MembersReadBackThroughLookups) {
  ScratchDir dir("kmfpack_");
  WriteTree(dir, U8(u8"data/sys/se/文字表示.wav"), "RIFF-bytes");
  WriteTree(dir, "data/BG/Court.PNG", "png-bytes");
  WriteTree(dir, "data/scn/maid/start.scn", "scenario");
  WriteTree(dir, "data/empty.txt", "");
  std::string error;
  ASSERT_TRUE(kmfpack::PackDirectory(dir.Path("data"), dir.Path("a.dat"), &error)) << error;
  ASSERT_TRUE(kmfpack::PackDirectory(dir.Path("data"), dir.Path("b.dat"), &error)) << error;
  EXPECT_EQ(dir.Read("a.dat"), dir.Read("b.dat"));

  const std::string path = dir.Path("a.dat");
  DDataFile archive;
  ASSERT_TRUE(archive.MountFile(DString(path.c_str())));
  // Plain literals are cp932 here: 表 is 0x95 0x5C, a trail byte that is no separator.
  const struct {
    const char* name;
    const char* bytes;
  } cases[] = {
      {"sys/se/文字表示.wav", "RIFF-bytes"}, {"SYS/SE/文字表示.WAV", "RIFF-bytes"},
      {"bg/court.png", "png-bytes"},         {"BG/COURT.png", "png-bytes"},
      {"scn/maid/start.scn", "scenario"},    {"empty.txt", ""},
      {"sys/se/文字表.wav", "<missing>"},    {"court.png", "<missing>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Member(archive, c.name), c.bytes) << c.name;
  // Stored in name order, with folded cp932 names.
  std::vector<std::string> names;
  for (std::uint32_t i = 0; DDataFileMember* m = archive.GetMember(i); ++i)
    names.push_back(archive.GetMemberName(m));
  EXPECT_EQ(names, (std::vector<std::string>{"bg/court.png", "empty.txt", "scn/maid/start.scn",
                                             "sys/se/文字表示.wav"}));
}

TEST(KmfpackTest, Faults) {
  struct Case {
    std::vector<std::string> files;
    const char* error_part;
  } cases[] = {
      {{"data/a.txt", "data/A.TXT"}, "fold to one member name"},
      {{U8(u8"data/\U0001F600.txt")}, "a name cp932 cannot spell"},
      {{"data/" + std::string(250, 'd') + "/" + std::string(20, 'f')}, "name longer than 263 bytes"},
  };
  for (const Case& c : cases) {
    ScratchDir dir("kmfpack_");
    for (const std::string& f : c.files) WriteTree(dir, f, "x");
    std::string error;
    EXPECT_FALSE(kmfpack::PackDirectory(dir.Path("data"), dir.Path("a.dat"), &error)) << c.error_part;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
  }
  ScratchDir dir("kmfpack_");
  std::string error;
  EXPECT_FALSE(kmfpack::PackDirectory(dir.Path("none"), dir.Path("a.dat"), &error));
  EXPECT_NE(error.find("cannot read the folder"), std::string::npos) << error;
}

}  // namespace
