// Tests of the sample game's tree: git holds only text under samples/, and the two built variants
// carry the same data, loose and packed.
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <sstream>

#include "base/ddatafile.h"
#include "base/dfile.h"
#include "platform/hostpath.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using orvane_test::ScratchDir;

// True for UTF-8 text without NUL bytes.
bool IsText(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == 0) return false;
    const int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > bytes.size()) return false;
    for (int k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

TEST(SamplesTreeTest, GitHoldsNoBinaryUnderSamples) {
  const std::string command = "git -C '" ORVANE_SOURCE_DIR "' ls-files -z samples 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listing;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) listing.append(buf, n);
  if (pclose(pipe) != 0) GTEST_SKIP() << "not a git checkout: git ls-files cannot list samples/";
  size_t files = 0;
  std::istringstream names(listing);
  for (std::string name; std::getline(names, name, '\0');) {
    ++files;
    EXPECT_TRUE(IsText(ScratchDir::ReadPath(ORVANE_SOURCE_DIR "/" + name))) << name << " is not text";
  }
  EXPECT_GT(files, 0u);
}

// Every generated file of the loose variant is a member of the packed one with the same bytes,
// and the archive holds nothing else.
TEST(SamplesTreeTest, BothVariantsCarryTheSameData) {
  if (!fs::exists(ORVANE_SOURCE_DIR "/samples/game/assets.txt"))
    GTEST_SKIP() << "samples/game/assets.txt is absent: the sample game is not built";
  const std::string loose = ORVANE_BINARY_DIR "/samples/game";
  const std::string dat = ORVANE_BINARY_DIR "/samples/game-dat";
  for (const char* name : {"game.mei", "core.opi"}) {
    EXPECT_TRUE(fs::is_regular_file(loose + "/" + name)) << name;
    EXPECT_EQ(ScratchDir::ReadPath(loose + "/" + name), ScratchDir::ReadPath(dat + "/" + name)) << name;
  }
  DDataFile archive;
  const std::string archive_path = dat + "/derora.dat";
  ASSERT_TRUE(archive.MountFile(DString(archive_path.c_str())));
  std::uint32_t count = 0;
  while (archive.GetMember(count)) ++count;
  std::uint32_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(loose)) {
    const std::string rel = fs::relative(e.path(), loose).generic_string();
    if (!e.is_regular_file() || rel == "game.mei" || rel == "core.opi") continue;
    ++files;
    std::string name;
    ASSERT_TRUE(orvane::Utf8ToCp932(rel, &name)) << rel;
    DFile member;
    ASSERT_TRUE(archive.OpenMember(DString(name.c_str()), member)) << rel;
    std::string bytes(static_cast<size_t>(member.GetSize()), '\0');
    if (!bytes.empty()) member.Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_EQ(bytes, ScratchDir::ReadPath(e.path().string())) << rel;
  }
  EXPECT_EQ(files, count);
  EXPECT_GT(files, 0u);
}

}  // namespace
