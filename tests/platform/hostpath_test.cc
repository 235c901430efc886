// Engine paths to host paths and back, with the case-insensitive component match.
#include "platform/hostpath.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

namespace {

TEST(HostPath, SeparatorsAndEncoding) {
  struct Case {
    std::string engine;
    std::string host;
  } cases[] = {
      {"no/such\\dir\\x.txt", "no/such/dir/x.txt"},
      // The trail byte of 表 is 0x5C: it stays part of the character.
      {"\x95\x5C\\a", "\xE8\xA1\xA8/a"},
      {"\x83\x5C", "\xE3\x82\xBD"},
      {"/abs\\olute", "/abs/olute"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string host;
    ASSERT_TRUE(orvane::HostPathFromEngine(c.engine, &host)) << c.engine;
    EXPECT_EQ(host, c.host) << c.engine;
  }
  std::string host;
  EXPECT_FALSE(orvane::HostPathFromEngine("\x81", &host));  // a lone lead byte is not cp932
}

TEST(HostPath, ComponentsMatchIgnoringCase) {
  char tmpl[] = "/tmp/orvane_hostpath_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  ASSERT_EQ(mkdir((dir + "/Data").c_str(), 0777), 0);
  std::ofstream(dir + "/Data/Title.PNG") << "x";
  struct Case {
    std::string engine;
    std::string host;
  } cases[] = {
      {dir + "\\data\\title.png", dir + "/Data/Title.PNG"},
      {dir + "/DATA/TITLE.PNG", dir + "/Data/Title.PNG"},
      {dir + "/Data/Title.PNG", dir + "/Data/Title.PNG"},
      // Missing parts are kept as written, so new files are created as named.
      {dir + "/data/New.txt", dir + "/Data/New.txt"},
      {dir + "/nodir/TITLE.png", dir + "/nodir/TITLE.png"},
  };
  for (const Case& c : cases) {
    std::string host;
    ASSERT_TRUE(orvane::HostPathFromEngine(c.engine, &host));
    EXPECT_EQ(host, c.host) << c.engine;
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(HostPath, InverseAndConversions) {
  std::string engine;
  ASSERT_TRUE(orvane::EnginePathFromHost("/home/\xE8\xA1\xA8/a.mei", &engine));
  EXPECT_EQ(engine, "/home/\x95\x5C/a.mei");
  std::string utf8;
  EXPECT_TRUE(orvane::Cp932ToUtf8("a\x81", &utf8, true));
  EXPECT_EQ(utf8, "a?");
  EXPECT_FALSE(orvane::Cp932ToUtf8("a\x81", &utf8));
}

TEST(HostPath, NamesCp932CannotSpellRoundTrip) {
  struct Case {
    const char* host;
    const char* engine;  // null: only the round trip is checked
  } cases[] = {
      {"/home/jos\xC3\xA9/a.mei", "/home/jos\xF0\x84\xF0\x69/a.mei"},  // é = C3 A9
      {"/\xF0\x9F\x98\x80", "/\xF0\xB1\xF0\x5F\xF0\x58\xF0\x40"},      // an emoji
      {"/bad\xFF\x80"
       "byte",
       "/bad\xF0\xC0\xF0\x40"
       "byte"},                                            // not UTF-8
      {"/\xEE\x80\x80", nullptr},                          // U+E000, private use
      {"/\xE8\xA1\xA8\xE7\xA4\xBA", "/\x95\x5C\x8E\xA6"},  // cp932 spells it
      {"/mixed \xE8\xA1\xA8 caf\xC3\xA9", nullptr},
  };
  for (const Case& c : cases) {
    std::string engine, host;
    ASSERT_TRUE(orvane::EnginePathFromHost(c.host, &engine)) << c.host;
    if (c.engine) {
      EXPECT_EQ(engine, c.engine) << c.host;
    }
    ASSERT_TRUE(orvane::HostTextFromEngine(engine, &host)) << c.host;
    EXPECT_EQ(host, c.host);
  }
  // The engine form opens the host file.
  char tmpl[] = "/tmp/orvane_jose_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = std::string(tmpl) + "/jos\xC3\xA9";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  std::ofstream(dir + "/caf\xC3\xA9.txt") << "x";
  std::string engine, host;
  ASSERT_TRUE(orvane::EnginePathFromHost(dir + "/CAF\xC3\xA9.TXT", &engine));
  ASSERT_TRUE(orvane::HostPathFromEngine(engine, &host));
  EXPECT_EQ(host, dir + "/caf\xC3\xA9.txt");  // found ignoring case, other bytes kept
  std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
}

}  // namespace
