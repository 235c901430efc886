// Path routines: separators, split and merge, absolute and relative paths, wildcards,
// directories and copies, and the command-line splitter.
#include "base/dpath.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Str(const DStringBuffer& b) {
  return b.GetText();
}

TEST(DPath, SeparatorConversionStepsOverDoubleByteCharacters) {
  // 表 and ソ end in the trail byte 0x5C, which is not a separator.
  char text[] = "a\\\x95\x5C\\b/\x83\x5C";
  DConvSlashPath(text);
  EXPECT_STREQ(text, "a/\x95\x5C/b/\x83\x5C");
  DConvYenPath(text);
  EXPECT_STREQ(text, "a\\\x95\x5C\\b\\\x83\x5C");
  char lone[] = "x\\\x95";  // a lead byte at the end
  DConvSlashPath(lone);
  EXPECT_STREQ(lone, "x/\x95");
  char copy[264];
  std::string long_path(300, '\\');
  DCopySlashPath(copy, DString(long_path.c_str()));
  EXPECT_EQ(std::string(copy), std::string(263, '/'));
}

TEST(DPath, MergeAndSplit) {
  struct Merge {
    const char* dir;
    const char* name;
    const char* ext;
    const char* out;
  } merges[] = {
      {"dir", "file", "txt", "dir/file.txt"},
      {"dir/", "file", "", "dir/file"},
      {"", "file", "txt", "file.txt"},
      {"a\\b\\", "c", "d", "a/b/c.d"},
      {nullptr, "n", nullptr, "n"},
      {"\x95\x5C", "n", "", "\x95\x5C/n"},  // the trail byte 0x5C does not end the directory
  };
  for (const Merge& m : merges) {
    char out[264];
    DMargePath(out, DString(m.dir), DString(m.name), DString(m.ext));
    EXPECT_STREQ(out, m.out);
  }
  struct Split {
    const char* path;
    const char* dir;
    const char* name;
    const char* ext;
  } splits[] = {
      {"D:\\data\\bg.tar.png", "D:/data/", "bg.tar", "png"},
      {"readme", "", "readme", ""},
      {"dir/", "dir/", "", ""},
      {"\x95\x5C.txt", "", "\x95\x5C", "txt"},
  };
  for (const Split& s : splits) {
    char dir[264], name[264], ext[264];
    DSplitPath(DString(s.path), dir, name, ext);
    EXPECT_STREQ(dir, s.dir) << s.path;
    EXPECT_STREQ(name, s.name) << s.path;
    EXPECT_STREQ(ext, s.ext) << s.path;
  }
  DSplitPath(DString("a/b.c"), nullptr, nullptr, nullptr);  // null outputs are skipped
  char drive[264], dir[264], name[264], ext[264], out[264];
  DSplitPathEx(DString("D:\\data\\bg.png"), drive, dir, name, ext);
  EXPECT_STREQ(drive, "D:");
  EXPECT_STREQ(dir, "/data/");
  EXPECT_STREQ(name, "bg");
  EXPECT_STREQ(ext, "png");
  DSplitPathEx(DString("data/bg.png"), drive, dir, nullptr, nullptr);
  EXPECT_STREQ(drive, "");
  DMakePathEx(out, DString("D:"), DString("/data/"), DString("bg"), DString("png"));
  EXPECT_STREQ(out, "D:/data/bg.png");
  DString handle;  // the DString-output forms write into the handle's buffer
  handle.Alloc(264);
  DSplitPathEx(DString(out), handle, DString(), DString(), DString());
  EXPECT_STREQ(handle.Get(), "D:");
  DMargePath(handle, DString("a\\b"), DString("c"), DString());
  EXPECT_STREQ(handle.Get(), "a/b/c");
  std::string long_name(300, 'n');
  DMargePath(out, DString("dir"), DString(long_name.c_str()), DString("txt"));
  EXPECT_EQ(std::string(out), "dir/" + std::string(259, 'n'));
}

TEST(DPath, AbsolutePaths) {
  struct Case {
    const char* path;
    const char* base;
    const char* out;
  } cases[] = {
      {"../img/a.png", "D:/game/script/", "D:/game/img/a.png"},
      {".../a.png", "D:/game/script/", "D:/a.png"},
      {"./a.png", "D:/game/", "D:/game/a.png"},
      {"img/../a.png", "D:/game/", "D:/game/img/../a.png"},  // later dot segments stay
      {"img/a.png", "D:\\game\\script", "D:/game/script/img/a.png"},
      {"E:/x.png", "D:/game/", "E:/x.png"},
      {"/x.png", "D:/game/", "D:/x.png"},
      {"x.png", "game", "x.png"},
      {"../../../x.png", "D:/a/", "D:/../../../x.png"},
      {"", "D:/game/", "D:/game/"},
      {"x.png", "", "x.png"},
      {"../x.png", "/game/sub/", "/game/x.png"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Str(DGetAbsolutePath(DString(c.path), DString(c.base))), c.out) << c.path << " on " << c.base;
  }
}

TEST(DPath, RelativePaths) {
  struct Case {
    const char* path;
    const char* base;
    const char* out;
  } cases[] = {
      {"D:/game/img/a.png", "D:/game/script/", "../img/a.png"},
      {"D:/game/img/a.png", "D:/game/", "img/a.png"},
      {"D:/Game/IMG/a.png", "d:/game/img/", "D:/Game/IMG/a.png"},
      {"D:/Game/IMG/a.png", "D:/game/img/", "a.png"},
      {"D:/a.png", "D:/game/script", ".../a.png"},
      {"/game/a.png", "/gamex/", "../game/a.png"},  // a shared prefix of a name is no shared directory
      {"img/a.png", "D:/game/", "img/a.png"},
      {"D:/a.png", "", "D:/a.png"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Str(DGetRelativePath(DString(c.path), DString(c.base))), c.out) << c.path << " from " << c.base;
  }
}

TEST(DPath, Wildcards) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"*.png", "title.png", true},
      {"*.png", "title.png.bak", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"*?", "", false},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"*aab", "aaab", true},  // the star gives back characters after a partial match
      {"*a*b*c", "xaxbxc", true},
      {"*ab*ab", "abab", true},
      {"*ab*ab", "aab", false},
      {"a*", "A", false},       // case counts
      {"?", "\x95\x5C", true},  // one double-byte character
      {"??", "\x95\x5C", false},
      {"*\x95\x5C", "x\x95\x5C", true},
      {"*\\", "\x95\x5C", false},  // a trail byte is no character of its own
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DIsWildPathCompare(DString(c.pattern), DString(c.text)), c.match)
        << c.pattern << " ~ " << c.text;
  }
}

TEST(DPath, DirectoriesAndCopies) {
  char tmpl[] = "/tmp/orvane_dpath_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string root = tmpl;
  ASSERT_EQ(mkdir((root + "/a").c_str(), 0777), 0);
  EXPECT_TRUE(DCreateDir(DString((root + "/a/b/c/").c_str())));
  EXPECT_TRUE(DIsDir(DString((root + "\\a\\b\\c").c_str())));
  EXPECT_TRUE(DCreateDir(DString((root + "/a/b").c_str())));  // already there
  std::ofstream(root + "/file") << "data";
  EXPECT_FALSE(DCreateDir(DString((root + "/file/x/y").c_str())));
  EXPECT_TRUE(DIsFile(DString((root + "/file").c_str())));
  EXPECT_FALSE(DIsDir(DString((root + "/file").c_str())));
  EXPECT_FALSE(DIsFile(DString((root + "/a").c_str())));
  EXPECT_FALSE(DCreateDir(DString("")));

  EXPECT_TRUE(DCopyFile(DString((root + "/file").c_str()), DString((root + "/n1/n2/copy").c_str())));
  std::ifstream in(root + "/n1/n2/copy");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "data");
  EXPECT_FALSE(DCopyFile(DString((root + "/file").c_str()), DString("nodirpart")));
  EXPECT_FALSE(DCopyFile(DString((root + "/missing").c_str()), DString((root + "/n1/x").c_str())));
  std::system(("rm -rf '" + root + "'").c_str());
}

TEST(DPath, SplitCommandLine) {
  struct Case {
    std::string text;
    std::vector<std::string> args;
  } cases[] = {
      {"a b", {"a", "b"}},
      {"\"my file.mei\" -x", {"my file.mei", "-x"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"\"", {"\""}},
      {"", {}},
      {" \t ", {}},
      {"x\"y z\"w  \"open end", {"xy zw", "open end"}},
      {"\x95\x5C\" q\"", {"\x95\x5C q"}},
      {"a \x95", {"a", "\x95"}},  // a lead byte as the last byte
  };
  for (const Case& c : cases) {
    DRefList<char> list;
    EXPECT_EQ(SplitCommandLine(list, DString(c.text.c_str())), c.args.size()) << c.text;
    std::vector<std::string> got;
    for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) got.push_back(it.Value().Get());
    EXPECT_EQ(got, c.args) << c.text;
  }
}

}  // namespace
