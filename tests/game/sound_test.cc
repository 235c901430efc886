// Sound effects and background music: the list file, bgmPlay on the engine's stream calls, the
// effect lookup of @sePlay and the release of everything held.
#include "game/sound.h"

#include <string>
#include <vector>

#include "game/scenario_command.h"
#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

class SoundTest : public GameTest {
 protected:
  SoundTest() { Handlers() = BuiltGameHandlers(); }

  // The list from the text; the error box's text, "" when it loaded.
  std::string Load(const std::string& list) {
    engine.AddFile("bgm/list.txt", list);
    const size_t before = engine.Messages().size();
    try {
      LoadBgmList();
    } catch (const DExceptGame&) {
      EXPECT_EQ(engine.Messages().size(), before + 1);
      return engine.Messages().back().text;
    }
    return "";
  }
  // The stream calls since the last look.
  std::vector<std::string> StreamCalls() {
    std::vector<std::string> out;
    for (const std::string& c : engine.Calls())
      if (c.find("Stream") != std::string::npos) out.push_back(c);
    engine.ClearCalls();
    return out;
  }
  std::vector<std::string> SoundCalls() {
    std::vector<std::string> out;
    for (const std::string& c : engine.Calls())
      if (c.rfind("ovLoadSound", 0) == 0 || c.rfind("ovPlaySound", 0) == 0) out.push_back(c);
    engine.ClearCalls();
    return out;
  }
};

struct Record {
  int64_t number;
  const char* name;
  const char* prelude;
  const char* body;
};

TEST_F(SoundTest, ListLinesGiveRecordsOrTheirError) {
  const std::string missing = "BGM定義ファイルにおいてデータが不足しています";
  struct Case {
    const char* list;
    const char* error;
    int64_t count;
    std::vector<Record> records;
  };
  const std::vector<Case> cases = {
      {"@bgm no=3 name=a body=a.ogg", "", 4, {{3, "a", "", "a.ogg"}}},
      {"\n \t\n@BGM NO=0 Name=x PRELUDE=p.ogg\r\n", "", 1, {{0, "x", "p.ogg", ""}}},
      {"@bgm no=1 name=a\n@bgm no=1 name=b body=b.ogg\n", "", 2, {{1, "b", "", "b.ogg"}}},
      {"@bgm no=1 no=2 name=\"a b\" body=x.ogg", "", 3, {{2, "a b", "", "x.ogg"}}},
      {"@bgm no=2000000000 name=big body=b.ogg", "", 2000000001, {{2000000000, "big", "", "b.ogg"}}},
      {"@bgm no=2147483647 name=top", "", 2147483648, {{2147483647, "top", "", ""}}},
      {"@bgm no=5 name=x\n@bgm no=2 name=y", "", 6, {{5, "x", "", ""}, {2, "y", "", ""}}},
      {";@bgm no=1 name=a", "BGM定義ファイルに不正なコマンド \";@bgm\" が存在します。", 0, {}},
      {"@music no=1 name=a", "BGM定義ファイルに不正なコマンド \"@music\" が存在します。", 0, {}},
      {"@bgm", missing.c_str(), 0, {}},
      {"@bgm   ", missing.c_str(), 0, {}},
      {"@bgm name=a", missing.c_str(), 0, {}},
      {"@bgm no=-1 name=a", missing.c_str(), 0, {}},
      {"@bgm no=1", missing.c_str(), 0, {}},
      {"@bgm no=1 name=\"\"", missing.c_str(), 0, {}},
      {"@bgm no=1 name=a loop=1", "BGM定義ファイルに不正なオプション\"loop\"が存在します", 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Load(c.list), c.error) << c.list;
    EXPECT_EQ(engine.OpenFileCount(), 0) << c.list;
    if (*c.error) continue;
    EXPECT_EQ(BgmCount(), c.count) << c.list;
    size_t found = 0;
    for (int64_t n = 0; n < 8; ++n) found += BgmRecord(n) != nullptr;
    found += BgmRecord(2000000000) != nullptr;
    found += BgmRecord(2147483647) != nullptr;
    EXPECT_EQ(found, c.records.size()) << c.list;
    for (const Record& r : c.records) {
      const DBgm* record = BgmRecord(r.number);
      ASSERT_NE(record, nullptr) << c.list;
      EXPECT_STREQ(record->name, r.name);
      EXPECT_STREQ(record->prelude, r.prelude);
      EXPECT_STREQ(record->body, r.body);
    }
  }
  // Long texts are kept to their buffers (a file line holds up to 1,023 bytes).
  EXPECT_EQ(Load("@bgm no=0 name=" + std::string(300, 'n') + " body=" + std::string(600, 'b')), "");
  EXPECT_EQ(std::string(BgmRecord(0)->name), std::string(255, 'n'));
  EXPECT_EQ(std::string(BgmRecord(0)->body), std::string(263, 'b'));
  // Without the file the table is empty and no error is shown.
  engine.RemoveFile("bgm/list.txt");
  LoadBgmList();
  EXPECT_EQ(BgmCount(), 0);
  EXPECT_EQ(Stops([] { bgmPlay("a"); }), "BGM \"a\" を再生できません。");
}

TEST_F(SoundTest, BgmPlayFollowsItsStateTable) {
  ASSERT_EQ(Load("@bgm no=0 name=Title prelude=t_in.ogg body=t.ogg\n"
                 "@bgm no=1 name=court body=c.ogg\n"
                 "@bgm no=2 name=quiet\n"
                 "@bgm no=3 name=intro prelude=i.ogg\n"
                 "@bgm no=4 name=title body=other.ogg\n"),
            "");
  const std::string create = "ovCreateStream", play = "ovPlayStream", stop = "ovStopStream",
                    destroy = "ovDestroyStream";
  auto add = [](const std::string& path, int repeat) {
    return "ovAddStreamList(" + path + ", " + std::to_string(repeat) + ", 0.000000, 0)";
  };
  struct Step {
    const char* name;
    std::vector<std::string> calls;
    const char* current;
  };
  const std::vector<Step> steps = {
      {"", {}, ""},
      {"title", {create, add("bgm/t_in.ogg", 0), add("bgm/t.ogg", -1), play}, "title"},  // the lower number
      {"TITLE", {}, "title"},
      {"court", {stop, destroy, create, add("bgm/c.ogg", -1), play}, "court"},
      {"quiet", {stop, destroy}, "quiet"},  // no files: silence, the name current
      {"Quiet", {}, "quiet"},
      {"intro", {create, add("bgm/i.ogg", 0), play}, "intro"},
      {"", {stop, destroy}, ""},
      {"", {}, ""},
  };
  engine.ClearCalls();
  for (const Step& s : steps) {
    bgmPlay(s.name);
    EXPECT_EQ(StreamCalls(), s.calls) << s.name;
    EXPECT_STREQ(CurrentBgmName(), s.current);
  }
  // An undefined name: the old music has stopped when the play ends.
  bgmPlay("court");
  engine.ClearCalls();
  EXPECT_EQ(Stops([] { bgmPlay("nope"); }), "BGM \"nope\" を再生できません。");
  EXPECT_EQ(StreamCalls(), (std::vector<std::string>{stop, destroy}));
  EXPECT_EQ(CurrentBgmStream(), nullptr);
  EXPECT_EQ(engine.LiveCount("stream"), 0);
}

TEST_F(SoundTest, StreamFailuresAreSilenceAndNothingIsLeftAfterRelease) {
  ASSERT_EQ(Load("@bgm no=0 name=a prelude=a_in.ogg body=a.ogg\n@bgm no=1 name=b body=b.ogg\n"), "");
  // No stream: nothing else is called, the name stays current.
  engine.FailStreamCreations(1);
  engine.ClearCalls();
  bgmPlay("a");
  EXPECT_EQ(StreamCalls(), (std::vector<std::string>{"ovCreateStream"}));
  EXPECT_STREQ(CurrentBgmName(), "a");
  bgmPlay("a");
  EXPECT_TRUE(StreamCalls().empty());
  // A refused file: the rest of the entry plays.
  engine.RefuseStreamPath("bgm/a_in.ogg");
  bgmPlay("b");
  bgmPlay("a");
  const FakeEngine::Handle* stream = engine.Inspect(CurrentBgmStream());
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->stream_list.size(), 1u);
  EXPECT_EQ(stream->stream_list[0].path, "bgm/a.ogg");
  EXPECT_EQ(stream->stream_list[0].repeat, -1);
  EXPECT_TRUE(stream->playing);
  ReleaseBgm();
  EXPECT_EQ(engine.LiveCount("stream"), 0);
  EXPECT_STREQ(CurrentBgmName(), "");
  EXPECT_EQ(BgmCount(), 0);
  // Loading the list again stops music that still plays.
  ASSERT_EQ(Load("@bgm no=0 name=a body=a.ogg\n"), "");
  bgmPlay("a");
  ASSERT_EQ(Load("@bgm no=0 name=a body=a.ogg\n"), "");
  EXPECT_EQ(engine.LiveCount("stream"), 0);
}

TEST_F(SoundTest, SePlayLooksInTheChapterThenInTheSystemFolder) {
  SetChapterFolder("scn/c1");
  struct Case {
    std::vector<std::string> files;
    const char* played;  // "" none
  };
  const std::vector<Case> cases = {
      {{"scn/c1/x", "sys/se/x.wav"}, "scn/c1/x"},
      {{"scn/c1/x.wav", "sys/se/x.wav"}, "scn/c1/x.wav"},
      {{"scn/c1/x.ogg"}, "scn/c1/x.ogg"},
      {{"scn/c1/x.mp3"}, "scn/c1/x.mp3"},
      {{"sys/se/x"}, "sys/se/x"},
      {{"sys/se/x.ogg", "scn/c1/y.wav"}, "sys/se/x.ogg"},
      {{}, ""},
  };
  for (const Case& c : cases) {
    for (const std::string& f : c.files) engine.AddFile(f, "RIFF");
    engine.ClearCalls();
    DScenario scenario;
    CurrentScenarioScope scope(&scenario);
    ExecScenarioCommand("@sePlay file=x", 0);
    const std::vector<std::string> expected =
        *c.played ? std::vector<std::string>{"ovLoadSound(" + std::string(c.played) + ", 1)",
                                             "ovPlaySound(" + std::string(c.played) + ", 0)"}
                  : std::vector<std::string>{};
    EXPECT_EQ(SoundCalls(), expected) << c.played;
    EXPECT_TRUE(engine.Messages().empty());
    for (const std::string& f : c.files) engine.RemoveFile(f);
    ReleaseSe();
    ReleaseCaches();
    EXPECT_EQ(engine.LiveCount("sound"), 0);
  }
}

TEST_F(SoundTest, EffectsComeFromTheCacheAndARefusedSoundIsSilent) {
  // 表 ends in the byte 0x5C: the path reaches the engine unchanged.
  engine.AddFile("sys/se/文字表示.wav", "RIFF");
  engine.ClearCalls();
  sePlay("sys/se/文字表示");
  sePlay("sys/se/文字表示");
  EXPECT_EQ(SoundCalls(), (std::vector<std::string>{"ovLoadSound(sys/se/文字表示.wav, 1)",
                                                    "ovPlaySound(sys/se/文字表示.wav, 0)",
                                                    "ovPlaySound(sys/se/文字表示.wav, 0)"}));
  // Every effect redraws first.
  EXPECT_EQ(engine.Frames().size(), 2u);
  // A sound the engine refuses: nothing plays, nothing is reported.
  engine.AddFile("sys/se/bad.ogg", "x");
  engine.Refuse("ovLoadSound");
  sePlay("sys/se/bad");
  EXPECT_EQ(SoundCalls(), (std::vector<std::string>{"ovLoadSound(sys/se/bad.ogg, 1)"}));
  EXPECT_TRUE(engine.Messages().empty());
  // The current effect keeps its sound beyond the cache; ReleaseSe lets it go.
  sePlay("sys/se/文字表示");
  ReleaseCaches();
  EXPECT_EQ(engine.LiveCount("sound"), 1);
  ReleaseSe();
  EXPECT_EQ(engine.LiveCount("sound"), 0);
}

}  // namespace
}  // namespace orvane_test
