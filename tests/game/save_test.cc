// The save command on the fake engine: the prompt, the file's exact text, the round trip into the
// item table and the life, files written elsewhere, long item lists and failed saves.
#include "game/save.h"

#include <gtest/gtest.h>

#include <string>

#include "game/court.h"
#include "platform/kernel.h"
#include "tests/game/court_fixture.h"
#include "tests/support/scratch_dir.h"

namespace orvane_test {
namespace {

class SaveTest : public CourtTest {
 protected:
  SaveTest() : dir_("save_test") {
    Def("sys/text_msg", 800, 200);
    SetSaveFolderForTests(dir_.Dir().c_str());
    SetSaveProfileWriterForTests(nullptr);
    g_writes = 0;
    g_fail_at = 0;
  }
  ~SaveTest() override {
    SetSaveFolderForTests(nullptr);
    SetSaveProfileWriterForTests(nullptr);
  }

  // item.txt of the chapter with items 0 .. count-1.
  void Items(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "@item no=" + std::to_string(i) + " name=n comment=c image=i\n";
    engine.AddFile("scn/c1/item.txt", text);
    LoadItemDefs(false, "");
  }
  // Runs the scenario; a stop of the play fails the test with its report.
  void Play(const std::string& text) {
    try {
      Run(text);
    } catch (const DExceptGame&) {
      ADD_FAILURE() << (engine.Messages().empty() ? "" : engine.Messages().back().text);
    }
  }
  std::string SavePath() const { return dir_.Path("derora.sav"); }
  std::string Key(const char* key) const {
    char buffer[8192];
    GetPrivateProfileStringA("save", key, "<none>", buffer, sizeof(buffer), SavePath().c_str());
    return buffer;
  }

  // A profile writer that fails its g_fail_at-th call.
  static inline int g_writes = 0;
  static inline int g_fail_at = 0;
  static BOOL FailingWriter(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    if (++g_writes == g_fail_at) return FALSE;
    return WritePrivateProfileStringA(section, key, value, file);
  }

  ScratchDir dir_;
};

TEST_F(SaveTest, YesWritesTheFiveKeysInOrder) {
  Items(13);
  itemGet(0);
  itemGet(3);
  itemGet(12);
  courtSetLife(4);
  courtSetNolifeScenario("court:lost");
  g_court_clicks = {"YES"};
  Play("@save target=c1b:resume\nafter\n");
  EXPECT_EQ(ScratchDir::ReadPath(SavePath()),
            "[save]\r\npt_scn=scn/c1\r\npt_target=c1b:resume\r\npt_item=0 3 12 \r\npt_life=4\r\n"
            "pt_nolife=court:lost\r\n");
  const std::vector<std::string> expected = {
      "[br]",
      "[br]",
      "[br]",
      "[br]",
      "　　ここまでをセーブしますか？[br]",
      "[br]",
      "　　　　　 [link target=yes]はい[/link]　[link target=no]いいえ[/link][br]",
      "[np]",
      "after"};
  EXPECT_EQ(Logged("msg:"), expected);
  EXPECT_EQ(scenario.link_target[0], '\0');
  // The layer stays the full window after the prompt.
  EXPECT_TRUE(IsTextLayerShown("def"));
  EXPECT_EQ(engine.Messages().size(), 0u);
}

TEST_F(SaveTest, AnythingButYesWritesNothing) {
  Items(1);
  for (const char* click : {"no", "", "yesno"}) {
    g_court_clicks = {click};
    Play("@save target=x:y\n");
    EXPECT_FALSE(dir_.Read("derora.sav").size()) << click;
    EXPECT_EQ(scenario.link_target[0], '\0');
  }
}

TEST_F(SaveTest, NoItemsAndLifeZeroAreWrittenAsTheyAre) {
  Items(2);
  dir_.Write("derora.sav", "[save]\npt_life=0\n");
  InitLife(true, SavePath().c_str());
  g_court_clicks = {"yes"};
  Play("@save\n");
  EXPECT_EQ(Key("pt_item"), "");
  EXPECT_EQ(Key("pt_life"), "0");
  EXPECT_EQ(Key("pt_target"), "");
}

TEST_F(SaveTest, RoundTripThroughTheLoaders) {
  Items(13);
  itemGet(3);
  itemGet(12);
  courtSetLife(2);
  courtSetNolifeScenario("nl:x");
  g_court_clicks = {"yes"};
  Play("@save target=here\n");
  ReleaseItemTable();
  InitLife(false, "");
  LoadItemDefs(true, SavePath().c_str());
  InitLife(true, SavePath().c_str());
  for (uint32_t n = 0; n < 13; ++n) EXPECT_EQ(ItemAt(n)->owned, n == 3 || n == 12) << n;
  EXPECT_EQ(CurrentLife(), 2);
  EXPECT_STREQ(NolifeTarget(), "nl:x");
  EXPECT_EQ(Key("pt_scn"), "scn/c1");
  EXPECT_EQ(Key("pt_target"), "here");
}

TEST_F(SaveTest, AFileWrittenOnWindowsKeepsClearAndTakesTheNewKeys) {
  Items(4);
  itemGet(1);
  dir_.Write("derora.sav",
             "[other]\r\nk=v\r\n[save]\r\npt_scn = \"scn/old\"\r\nclear = 3\r\npt_item = \"0 2 \"\r\n"
             "pt_life = 1\r\n");
  g_court_clicks = {"yes"};
  Play("@save target=\"t:l\"\n");
  EXPECT_EQ(Key("pt_scn"), "scn/c1");
  EXPECT_EQ(Key("pt_target"), "t:l");
  EXPECT_NE(dir_.Read("derora.sav").find("pt_item=1 \r\n"), std::string::npos);
  EXPECT_EQ(Key("pt_life"), "5");
  EXPECT_EQ(GetPrivateProfileIntA("save", "clear", 0, SavePath().c_str()), 3u);
  char other[16];
  GetPrivateProfileStringA("other", "k", "", other, sizeof(other), SavePath().c_str());
  EXPECT_STREQ(other, "v");
}

TEST_F(SaveTest, ALongItemListSurvivesTheRoundTrip) {
  Items(1300);
  for (int n = 100; n < 1300; ++n) itemGet(n);
  g_court_clicks = {"yes"};
  Play("@save target=a\n");
  // The reader trims the final blank the writer put there.
  const std::string items = Key("pt_item");
  EXPECT_GT(items.size(), 5000u);
  EXPECT_EQ(items.substr(items.size() - 5), " 1299");
  ReleaseItemTable();
  LoadItemDefs(true, SavePath().c_str());
  for (uint32_t n = 0; n < 1300; ++n) ASSERT_EQ(ItemAt(n)->owned, n >= 100) << n;
}

TEST_F(SaveTest, AFailedWriteLeavesTheOldSaveWholeAndWarns) {
  Items(4);
  const std::string old =
      "[save]\r\npt_scn=scn/c0\r\npt_target=s:old\r\npt_item=1 \r\npt_life=3\r\n"
      "pt_nolife=a:b\r\nclear=2\r\n";
  dir_.Write("derora.sav", old);
  SetSaveProfileWriterForTests(&FailingWriter);
  for (int fail_at : {1, 3, 5}) {
    g_writes = 0;
    g_fail_at = fail_at;
    g_court_clicks = {"yes"};
    Play("@save target=new:t\nafter\n");
    EXPECT_EQ(dir_.Read("derora.sav"), old) << fail_at;
    ASSERT_FALSE(engine.Messages().empty());
    EXPECT_EQ(engine.Messages().back().text, "セーブできませんでした。");
    EXPECT_EQ(Logged("msg:").back(), "after");
  }
  // A good save after the failures starts from the save, not from the copy they left.
  SetSaveProfileWriterForTests(nullptr);
  g_court_clicks = {"yes"};
  Play("@save target=new:t\n");
  EXPECT_EQ(Key("pt_target"), "new:t");
  EXPECT_EQ(Key("clear"), "2");
}

TEST_F(SaveTest, AStaleCopyDoesNotLeakIntoANewSave) {
  Items(1);
  dir_.Write("derora.sav.tmp", "[save]\r\nclear=9\r\npt_scn=stale\r\n");
  g_court_clicks = {"yes"};
  Play("@save target=a\n");
  EXPECT_EQ(Key("clear"), "<none>");
  EXPECT_EQ(Key("pt_scn"), "scn/c1");
}

TEST_F(SaveTest, AnUnwritableFolderWarnsAndPlayGoesOn) {
  Items(1);
  const std::string missing = dir_.Path("no/such/folder");
  SetSaveFolderForTests(missing.c_str());
  g_court_clicks = {"yes"};
  Play("@save target=a\nafter\n");
  ASSERT_EQ(engine.Messages().size(), 1u);
  EXPECT_EQ(engine.Messages()[0].text, "セーブできませんでした。");
  EXPECT_EQ(Logged("msg:").back(), "after");
}

TEST_F(SaveTest, ThePathIsBesideTheProgram) {
  SetSaveFolderForTests(nullptr);
  char program[264], path[264];
  GetModuleFileNameA(nullptr, program, sizeof(program));
  SaveFilePath(path);
  std::string expected = program;
  for (char& c : expected)
    if (c == '\\') c = '/';
  expected = expected.substr(0, expected.rfind('/') + 1) + "derora.sav";
  EXPECT_EQ(path, expected);
}

TEST(MoveFileExA, ReplacesOrRefusesAnExistingFile) {
  ScratchDir dir("movefile");
  dir.Write("a", "new");
  dir.Write("b", "old");
  EXPECT_FALSE(MoveFileExA(dir.Path("a").c_str(), dir.Path("b").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(dir.Read("b"), "old");
  EXPECT_TRUE(MoveFileExA(dir.Path("a").c_str(), dir.Path("b").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(dir.Read("b"), "new");
  EXPECT_FALSE(MoveFileExA(dir.Path("a").c_str(), dir.Path("c").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(MoveFileExA(dir.Path("b").c_str(), dir.Path("c").c_str(), 0));
  EXPECT_EQ(dir.Read("c"), "new");
  EXPECT_FALSE(MoveFileExA(dir.Path("c").c_str(), dir.Path("d").c_str(), 0x2));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace orvane_test
