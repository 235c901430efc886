// Tests of private profiles: reading values and lists, cutting, case, and keeping other lines.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/win32.h"

namespace {

class SettingsProfile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane_profile_XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    file_ = dir_ + "/test.ini";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  void Write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Get(const char* section, const char* key, const char* def = "def", DWORD size = 64,
                  DWORD* result = nullptr) {
    std::string buf(size + 1, '\xAA');
    DWORD n = GetPrivateProfileStringA(section, key, def, buf.data(), size, file_.c_str());
    if (result) *result = n;
    return std::string(buf.data(), n);
  }
  std::string dir_, file_;
};

TEST_F(SettingsProfile, ReadsValuesIgnoringCaseBlanksAndQuotes) {
  Write("; comment\r\n[Main]\r\n key = value  \r\nQuoted=\"a b\"\r\nempty=\n[表示]\nKey=jp\n[other]\nkey=x");
  struct Case {
    const char *section, *key, *expected;
  } cases[] = {{"main", "KEY", "value"},   {"Main", "quoted", "a b"}, {"Main", "empty", ""},
               {"表示", "key", "jp"},      {"OTHER", "key", "x"},     {"Main", "missing", "def"},
               {"nosection", "key", "def"}};
  for (const Case& c : cases) EXPECT_EQ(Get(c.section, c.key), c.expected) << c.section << "/" << c.key;
  EXPECT_EQ(Get("Main", "missing", "trail   "), "trail");  // the default loses trailing blanks
  EXPECT_EQ(Get("Main", "missing", nullptr), "");
}

TEST_F(SettingsProfile, CutValueGivesSizeMinusOne) {
  Write("[s]\nk=" + std::string(300, 'x') + "\n");
  DWORD n;
  EXPECT_EQ(Get("s", "k", "", 256, &n).size(), 255u);
  EXPECT_EQ(n, 255u);
  EXPECT_EQ(Get("s", "k", "", 302, &n).size(), 300u);
  EXPECT_EQ(Get("s", "k", "", 1, &n), "");
  char none[1];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", none, 0, file_.c_str()), 0u);
}

TEST_F(SettingsProfile, ListsSectionsAndKeys) {
  Write("[a]\nx=1\ny=2\n[b]\nz=3\n");
  EXPECT_EQ(Get(nullptr, nullptr), std::string("a\0b\0", 4));
  EXPECT_EQ(Get("A", nullptr), std::string("x\0y\0", 4));
  DWORD n;
  EXPECT_EQ(Get("a", nullptr, "", 3, &n), std::string("x", 1));  // cut: size - 2
  EXPECT_EQ(n, 1u);
}

TEST_F(SettingsProfile, WritingKeepsOtherLinesAndCreatesWhatIsMissing) {
  ASSERT_TRUE(WritePrivateProfileStringA("New", "k", "1", file_.c_str()));
  EXPECT_EQ(Read(), "[New]\r\nk=1\r\n");
  Write("; keep me\n[A]\nx=1\n\n[B]\ny=2\n");
  ASSERT_TRUE(WritePrivateProfileStringA("a", "X", "9", file_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("A", "w", "new", file_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("C", "z", "3", file_.c_str()));
  // Lines added follow the file's own line ends.
  EXPECT_EQ(Read(), "; keep me\n[A]\nX=9\nw=new\n\n[B]\ny=2\n[C]\nz=3\n");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "X", nullptr, file_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("B", nullptr, nullptr, file_.c_str()));
  EXPECT_EQ(Read(), "; keep me\n[A]\nw=new\n\n[C]\nz=3\n");
  EXPECT_EQ(GetPrivateProfileIntA("C", "z", 5, file_.c_str()), 3u);
  EXPECT_EQ(GetPrivateProfileIntA("C", "none", 5, file_.c_str()), 5u);
  Write("[A]\r\nx=1");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "y", "2", file_.c_str()));
  EXPECT_EQ(Read(), "[A]\r\nx=1\r\ny=2\r\n");
}

TEST_F(SettingsProfile, WriteLeavesNoTemporaryFileAndFailsWithoutDirectory) {
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", file_.c_str()));
  std::string ls = dir_ + "/*.orvane-tmp.*";
  EXPECT_NE(std::system(("ls " + ls + " >/dev/null 2>&1").c_str()), 0);
  std::string bad = dir_ + "/no/such/dir/x.ini";
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", bad.c_str()));
}

TEST_F(SettingsProfile, ReplacingKeepsModeAndOwnerAndRefusesReadOnlyFiles) {
  struct Case {
    mode_t mode;
    bool written;
  } cases[] = {{0644, true}, {0600, true}, {0664, true}, {0444, false}, {0400, false}};
  for (const Case& c : cases) {
    Write("[s]\nk=old\n");
    ASSERT_EQ(chmod(file_.c_str(), c.mode), 0);
    SetLastError(0);
    EXPECT_EQ(WritePrivateProfileStringA("s", "k", "new", file_.c_str()) != FALSE, c.written)
        << std::oct << c.mode;
    struct stat st;
    ASSERT_EQ(stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode) << std::oct << c.mode;
    EXPECT_EQ(Read(), c.written ? "[s]\nk=new\n" : "[s]\nk=old\n") << std::oct << c.mode;
    if (!c.written) {
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    chmod(file_.c_str(), 0644);
  }
  if (geteuid() == 0) {
    // Root writing another user's file leaves it that user's.
    Write("[s]\nk=old\n");
    ASSERT_EQ(chown(file_.c_str(), 65534, 65534), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "new", file_.c_str()));
    struct stat st;
    ASSERT_EQ(stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  // A link is written through: the file it names changes, the link stays a link.
  std::string link = dir_ + "/link.ini";
  ASSERT_EQ(symlink(file_.c_str(), link.c_str()), 0);
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "linked", link.c_str()));
  struct stat lst;
  ASSERT_EQ(lstat(link.c_str(), &lst), 0);
  EXPECT_TRUE(S_ISLNK(lst.st_mode));
  EXPECT_EQ(Read(), "[s]\nk=linked\n");
}

TEST_F(SettingsProfile, StaleTemporaryFilesOfAKilledWriterAreRemoved) {
  Write("[s]\nk=old\n");
  std::string stale = file_ + ".orvane-tmp.999999999";                    // no such process
  std::string live = file_ + ".orvane-tmp." + std::to_string(getppid());  // a writer still running
  std::string other = dir_ + "/other.ini.orvane-tmp.999999999";           // another file's
  for (const std::string& p : {stale, live, other}) std::ofstream(p) << "half";
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "new", file_.c_str()));
  EXPECT_NE(access(stale.c_str(), F_OK), 0);
  EXPECT_EQ(access(live.c_str(), F_OK), 0);
  EXPECT_EQ(access(other.c_str(), F_OK), 0);
  EXPECT_EQ(Read(), "[s]\nk=new\n");
}

TEST_F(SettingsProfile, NameWithoutDirectoryLivesInTheWindowsDirectory) {
  char windows[MAX_PATH];
  UINT n = GetWindowsDirectoryA(windows, sizeof(windows));
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::string(windows), dir_ + "/orvane/windows");
  ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", "plain.ini"));
  std::ifstream in(std::string(windows) + "/plain.ini");
  EXPECT_TRUE(in.good());
  char small[4];
  EXPECT_EQ(GetWindowsDirectoryA(small, sizeof(small)), n + 1);
}

}  // namespace
