// The fake engine itself: the engine's line rules, and the faults it must catch in game code.
#include "tests/support/fake_engine.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane_test {
namespace {

std::vector<std::string> ReadAll(FakeEngine& engine, const std::string& bytes) {
  engine.AddFile("f", bytes);
  ApiHandle* file = engine.Exports().ovCreateFile("f", 1);
  std::vector<std::string> lines;
  while (const char* line = engine.Exports().ovReadFileLine(file)) lines.push_back(line);
  EXPECT_EQ(engine.Exports().ovReadFileLine(file), nullptr);  // after the end every read fails
  engine.Exports().ovDestroyFile(file);
  return lines;
}

TEST(FakeEngine, LinesFollowTheEnginesRules) {
  FakeEngine engine;
  using L = std::vector<std::string>;
  EXPECT_EQ(ReadAll(engine, "a\r\nb"), (L{"a", "b"}));
  EXPECT_EQ(ReadAll(engine, "a\n\nb\n"), (L{"a", "", "b"}));
  EXPECT_EQ(ReadAll(engine, std::string("x\0y", 3)), (L{"x", "y"}));
  EXPECT_EQ(ReadAll(engine,
                    "t\ta\x01"
                    "b"),
            (L{"t\tab"}));
  EXPECT_EQ(ReadAll(engine, "ab\x82"), (L{"ab"}));
  EXPECT_EQ(ReadAll(engine, "\x82\n\x82\xa0"), (L{"\x82\n\x82\xa0"}));  // a lead byte takes the next byte
  EXPECT_EQ(ReadAll(engine, ""), (L{}));
  L pieces = ReadAll(engine, std::string(2500, 'x'));
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), 1023u);
  EXPECT_EQ(pieces[1].size(), 1023u);
  EXPECT_EQ(pieces[2].size(), 454u);
  EXPECT_EQ(ReadAll(engine, std::string(1023, 'y') + "\nz"), (L{std::string(1023, 'y'), "z"}));
  L kanji = ReadAll(engine, std::string(1022, 'k') + "\x82\xa0");
  ASSERT_EQ(kanji.size(), 2u);
  EXPECT_EQ(kanji[0].size(), 1022u);
  EXPECT_EQ(kanji[1], "\x82\xa0");
}

TEST(FakeEngine, FilesOpenOnlyWhenTheyExist) {
  FakeEngine engine;
  engine.AddFile("there", "x");
  EXPECT_EQ(engine.Exports().ovCreateFile("missing", 1), nullptr);
  EXPECT_EQ(engine.Exports().ovCreateFile("", 1), nullptr);
  EXPECT_EQ(engine.Exports().ovIsFileExist("there"), 1);
  EXPECT_EQ(engine.Exports().ovIsFileExist("There"), 0);
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovCreateFile("there", 3), "mode 3 is not modelled");
  char path[264];
  engine.Exports().ovMargePath(path, "scn\\a", "b", "scn");
  EXPECT_STREQ(path, "scn/a/b.scn");
}

TEST(FakeEngine, CatchesHandleFaults) {
  FakeEngine engine;
  engine.AddFile("f", "x");
  ApiHandle* file = engine.Exports().ovCreateFile("f", 1);
  ApiHandle* other = engine.NewHandle("sound");
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovReadFileLine(other),
                          "a sound handle where a file handle belongs");
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovDestroyFile(other),
                          "a sound handle where a file handle belongs");
  engine.Destroy(other, "sound", "test");
  engine.Exports().ovDestroyFile(file);
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovDestroyFile(file), "destroyed file handle");
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovReadFileLine(file), "destroyed file handle");
  int stranger = 0;
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovDestroyFile(reinterpret_cast<ApiHandle*>(&stranger)),
                          "never made");
  EXPECT_EQ(engine.OpenFileCount(), 0);
}

TEST(FakeEngine, CatchesLeaksAndUnmodelledExports) {
  EXPECT_NONFATAL_FAILURE(
      {
        FakeEngine engine;
        engine.AddFile("f", "x");
        engine.Exports().ovCreateFile("f", 1);
      },
      "a file handle was never destroyed");
  FakeEngine engine;
  EXPECT_NONFATAL_FAILURE(engine.Exports().ovtsRender(), "ovtsRender, which the fake engine does not model");
  EXPECT_EQ(engine.Calls(), (std::vector<std::string>{"ovtsRender"}));
}

TEST(FakeEngine, BindsEveryNameOfTheList) {
  FakeEngine engine;
  int found = 0;
#define OV_EXPORT(position, name, return_type, params) \
  found += FakeEngine::Lookup(nullptr, #name) == reinterpret_cast<void*>(engine.Exports().name);
#include "api/export_list.h"
#undef OV_EXPORT
  EXPECT_EQ(found, kOvExportCount);
  EXPECT_EQ(FakeEngine::Lookup(nullptr, "ovNothing"), nullptr);
}

TEST(FakeEngine, RecordsMessagesAndAnswers) {
  FakeEngine engine;
  engine.SetMessageAnswer(1);
  EXPECT_EQ(engine.Exports().ovMessage("text", "caption", 4), 1);
  ASSERT_EQ(engine.Messages().size(), 1u);
  EXPECT_EQ(engine.Messages()[0].text, "text");
  EXPECT_EQ(engine.Messages()[0].caption, "caption");
  EXPECT_EQ(engine.Messages()[0].flag, 4);
  EXPECT_EQ(engine.Exports().ovIsExit(), 0);
  engine.SetExit(true);
  EXPECT_EQ(engine.Exports().ovIsExit(), 1);
}

}  // namespace
}  // namespace orvane_test
