// The one path rule of loaders: the mounted archive's member by the caller's path with "/"
// separators, else the disk file resolved against the running task's (or program's) directory,
// refused rather than cut when too long.
#include "api/api_path.h"

#include <gtest/gtest.h>

#include <string>

#include "base/ddatafile.h"
#include "shell/engine.h"
#include "tests/support/scratch_dir.h"
#include "vm/script_loader.h"

namespace {

std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// A KMF archive of one member.
std::string Archive(const std::string& name, const std::string& bytes) {
  return "KMF " + U32(1) + U32(static_cast<uint32_t>(name.size())) + name +
         U32(static_cast<uint32_t>(8 + 12 + name.size())) + U32(static_cast<uint32_t>(bytes.size())) + bytes;
}

std::string ReadAll(DFile& file) {
  std::string out(static_cast<size_t>(file.GetSize()), '\0');
  file.Read(out.data(), static_cast<uint32_t>(out.size()));
  return out;
}

class ApiPath : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramDirectory((scratch_.Dir() + "/").c_str()); }
  void TearDown() override { MountedDataFile().Release(); }
  void Mount(const std::string& name, const std::string& bytes) {
    scratch_.Write("data.dat", Archive(name, bytes));
    MountedDataFile().Alloc(1);
    ASSERT_TRUE(MountedDataFile()->MountFile(DString(scratch_.Path("data.dat").c_str())));
  }
  orvane_test::ScratchDir scratch_{"orvane_api_path_"};
};

TEST_F(ApiPath, DiskPathsResolveAgainstTheProgramWhenNoTaskRuns) {
  scratch_.Write("f.txt", "disk");
  char out[kApiPathSize];
  bool in_archive = true;
  ASSERT_TRUE(ApiResolvePath("f.txt", out, &in_archive));
  EXPECT_FALSE(in_archive);
  EXPECT_EQ(std::string(out), scratch_.Path("f.txt"));
  DFile file;
  ASSERT_TRUE(ApiOpenPath("f.txt", file));
  EXPECT_EQ(ReadAll(file), "disk");
  DFile missing;
  EXPECT_FALSE(ApiOpenPath("none.txt", missing));
}

TEST_F(ApiPath, OverlongPathsFailInsteadOfBeingCut) {
  char out[kApiPathSize];
  // Short enough alone, too long once made absolute.
  const std::string name(kApiPathSize - 1 - scratch_.Dir().size(), 'n');
  EXPECT_FALSE(ApiResolvePath(name.c_str(), out, nullptr));
  EXPECT_EQ(out[0], '\0');
  // Too long as given, even absolute.
  const std::string rooted = "/" + std::string(kApiPathSize, 'r');
  EXPECT_FALSE(ApiResolvePath(rooted.c_str(), out, nullptr));
  EXPECT_FALSE(ApiResolvePath(nullptr, out, nullptr));
  // The longest absolute form that fits.
  const std::string fits = "/" + std::string(kApiPathSize - 2, 'f');
  EXPECT_TRUE(ApiResolvePath(fits.c_str(), out, nullptr));
  EXPECT_EQ(std::string(out), fits);
}

// The disk rule is the File unit's: "/" separators throughout, and a result of exactly 263 bytes
// taken whenever the resolver did not cut it.
TEST_F(ApiPath, DiskPathsFollowTheFileUnitsRule) {
  const std::string base = "/a/" + std::string(100, 'p') + "/";  // 104 bytes
  SetProgramDirectory(base.c_str());
  const struct {
    std::string path;
    std::string out;  // empty: refused
  } rows[] = {
      {std::string(159, 'n'), base + std::string(159, 'n')},  // 263 bytes
      {std::string(160, 'n'), ""},                            // 264
      {std::string(150, 'n') + ".extension", ""},             // the extension would be cut off
      {"x\\y/" + std::string(155, 'n'), base + "x/y/" + std::string(155, 'n')},
      {"\\" + std::string(262, 'r'), "/" + std::string(262, 'r')},  // rooted, 263 bytes
      {"\\r\\s", "/r/s"},
      {"/" + std::string(263, 'r'), ""},                                    // 264 bytes as given
      {"C:" + std::string(157, 'n'), "C:" + base + std::string(157, 'n')},  // 263 bytes
      {"C:" + std::string(158, 'n'), ""},
      {"C:\\x\\y", "C:/x/y"},
      {"../" + std::string(200, 'n'), "/a/" + std::string(200, 'n')},
      {"../" + std::string(260, 'n'), "/a/" + std::string(260, 'n')},  // climbs to exactly 263
      {"../" + std::string(261, 'n'), ""},                             // 264 as given
      {"", base},
  };
  for (const auto& row : rows) {
    char absolute[kApiPathSize], resolved[kApiPathSize];
    bool in_archive = true;
    EXPECT_EQ(ApiAbsolutePath(row.path.c_str(), absolute), !row.out.empty()) << row.path;
    EXPECT_EQ(std::string(absolute), row.out) << row.path;
    EXPECT_EQ(ApiResolvePath(row.path.c_str(), resolved, &in_archive), !row.out.empty()) << row.path;
    EXPECT_EQ(std::string(resolved), row.out) << row.path;
    EXPECT_FALSE(in_archive);
  }
  char out[kApiPathSize];
  EXPECT_FALSE(ApiAbsolutePath(nullptr, out));
  EXPECT_EQ(out[0], '\0');
}

TEST_F(ApiPath, AnArchiveTakesTheCallersPathWithSlashesAndHidesTheDisk) {
  scratch_.Write("disk.txt", "disk");
  Mount("a/b.txt", "member");
  char out[kApiPathSize];
  bool in_archive = false;
  ASSERT_TRUE(ApiResolvePath("a\\b.txt", out, &in_archive));
  EXPECT_TRUE(in_archive);
  EXPECT_EQ(std::string(out), "a/b.txt");
  DFile member;
  ASSERT_TRUE(ApiOpenPath("a\\b.txt", member));
  EXPECT_EQ(ReadAll(member), "member");
  DFile disk;
  EXPECT_FALSE(ApiOpenPath("disk.txt", disk));
  // A double-byte character whose trail byte is 0x5C keeps it.
  ASSERT_TRUE(ApiResolvePath("\x95\x5C\\x", out, nullptr));
  EXPECT_EQ(std::string(out), "\x95\x5C/x");
}

}  // namespace
