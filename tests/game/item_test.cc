// Items: the item definition file, the owned flags from the save, and the item picture and page.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "game/court.h"
#include "tests/game/court_fixture.h"
#include "tests/support/scratch_dir.h"

namespace orvane_test {
namespace {

class ItemTest : public CourtTest {
 protected:
  ItemTest() : dir("court_item_") { Def("sys/ev", 120, 120); }
  void Items(const std::string& text) { engine.AddFile("scn/c1/item.txt", text); }
  // A save file whose section "save" holds the lines.
  std::string Save(const std::string& lines) {
    const std::string path = dir.Path("derora.sav");
    std::ofstream(path) << "[save]\n" << lines << "\n";
    return path;
  }
  static std::string Line(int no, const std::string& extra = "") {
    return "@item no=" + std::to_string(no) + " name=n" + std::to_string(no) + " comment=c image=ev" + extra +
           "\n";
  }
  ScratchDir dir;
};

TEST_F(ItemTest, FileErrorsAreFatalWithoutPosition) {
  struct Case {
    std::string text, message;
  };
  const Case cases[] = {
      {"; a comment\n", "アイテム定義ファイルに不正なコマンド \";\" が存在します。"},
      {"@itemx no=1\n", "アイテム定義ファイルに不正なコマンド \"@itemx\" が存在します。"},
      {"@item\n", "アイテム定義ファイルにおいてデータが不足しています"},
      {"@item no=1 name=a image=b\n", "アイテム定義ファイルにおいてデータが不足しています"},
      {"@item name=a comment=c image=b\n", "アイテム定義ファイルにおいてデータが不足しています"},
      {"@item no=-1 name=a comment=c image=b\n", "アイテム定義ファイルにおいてデータが不足しています"},
      {"@item no=65536 name=a comment=c image=b\n", "アイテム定義ファイルにおいてデータが不足しています"},
      {"@item no=2000000000 name=a comment=c image=b\n",
       "アイテム定義ファイルにおいてデータが不足しています"},
      {"@item no=1 name=a comment=c image=b type=item\n",
       "アイテム定義ファイルに不正なオプション\"type\"が存在します"},
      {"@item no=1 name=a comment=c image=b colour=red\n",
       "アイテム定義ファイルに不正なオプション\"colour\"が存在します"},
      {Line(3) + "\n" + Line(3), "アイテム番号 3 はすでに定義されている"},
  };
  for (const Case& c : cases) {
    Items(c.text);
    EXPECT_EQ(Stops([] { LoadItemDefs(false, ""); }), c.message) << c.text;
  }
}

TEST_F(ItemTest, CountsCapacityAndUndefinedNumbers) {
  Items("\n   \n" + Line(0) + Line(5, " type=CHARA mag=big"));
  LoadItemDefs(false, "");
  EXPECT_EQ(ItemCount(), 6u);
  EXPECT_EQ(ItemCapacity(), 32u);
  EXPECT_EQ(ItemAt(5)->kind, 1);
  EXPECT_STREQ(ItemAt(5)->mag, "big");
  EXPECT_EQ(ItemAt(0)->kind, 0);
  SetErrorPosition("scn/c1/main.scn", 4);
  EXPECT_EQ(Stops([] { itemGet(1); }), At(4, "アイテム番号 1 は不正"));
  EXPECT_EQ(Stops([] { itemGet(6); }), At(4, "アイテム番号 6 は不正"));
  EXPECT_EQ(Stops([] { itemLost(-1); }), At(4, "アイテム番号 -1 は不正"));
  itemGet(5);
  EXPECT_EQ(ItemAt(5)->owned, 1);
  itemLost(5);
  EXPECT_EQ(ItemAt(5)->owned, 0);

  Items(Line(2) + Line(40));
  LoadItemDefs(false, "");
  EXPECT_EQ(ItemCount(), 41u);
  EXPECT_EQ(ItemCapacity(), 64u);
  EXPECT_STREQ(ItemAt(2)->name, "n2");  // copied when the table grew

  engine.RemoveFile("scn/c1/item.txt");
  LoadItemDefs(false, "");
  EXPECT_EQ(ItemCount(), 0u);
  EXPECT_EQ(Stops([] { itemGet(0); }), At(4, "アイテム番号 0 は不正"));
}

TEST_F(ItemTest, LongLinesAndALoneLeadByteAreCutSafely) {
  const std::string head = "@item no=1 comment=c image=ev name=";
  const std::string long_name(1023 - head.size(), 'a');  // a line as long as the engine hands out
  // "あ" twice in cp932, then a name that ends in a lead byte without its trail byte.
  Items(head + long_name + "\n" + "@item no=2 name=\x82\xa0\x82\xa0 comment=" + std::string(300, '\x82') +
        " image=ev\n" + "@item no=3 comment=c image=ev name=x\x82\n");
  LoadItemDefs(false, "");
  ASSERT_EQ(ItemCount(), 4u);
  EXPECT_EQ(std::string(ItemAt(1)->name), std::string(255, 'a'));
  EXPECT_STREQ(ItemAt(2)->name, "\x82\xa0\x82\xa0");
  EXPECT_LE(std::strlen(ItemAt(2)->comment), 255u);
  EXPECT_EQ(ItemAt(3)->name[0], 'x');
}

TEST_F(ItemTest, ReleasedTableRefusesEveryNumber) {
  Items(Line(0) + Line(1));
  LoadItemDefs(false, "");
  ReleaseItemTable();
  EXPECT_EQ(ItemCount(), 0u);
  SetErrorPosition("scn/c1/main.scn", 2);
  EXPECT_EQ(Stops([] { itemGet(1); }), At(2, "アイテム番号 1 は不正"));
}

TEST_F(ItemTest, SavedItemsAreReadWholeAndChecked) {
  std::string defs, owned;
  for (int i = 0; i < 600; ++i) {
    defs += Line(i);
    if (i % 2) owned += std::to_string(i) + "\t ";
  }
  owned += "　599 +3";  // a full-width space separates too
  while (owned.size() < 5000) owned = "1 " + owned;
  Items(defs);
  LoadItemDefs(true, Save("pt_item=" + owned).c_str());
  for (int i = 0; i < 600; ++i) EXPECT_EQ(ItemAt(i)->owned, (i % 2 == 1 || i == 3) ? 1 : 0) << i;

  LoadItemDefs(false, Save("pt_item=1 3").c_str());  // not from the save: nothing owned
  EXPECT_EQ(ItemAt(1)->owned, 0);

  SetErrorPosition("scn/c1/main.scn", 9);
  const std::string bad = Save("pt_item=1 600");
  EXPECT_EQ(Stops([&] { LoadItemDefs(true, bad.c_str()); }), At(9, "アイテム番号 600 は不正"));
  const std::string huge = Save("pt_item=99999999999");
  EXPECT_EQ(Stops([&] { LoadItemDefs(true, huge.c_str()); }), At(9, "アイテム番号 2147483647 は不正"));
}

TEST_F(ItemTest, ItemShowPlacesThePictureAndItemHideRemovesIt) {
  Items(Line(3));
  LoadItemDefs(false, "");
  Run("@itemShow 3 right\n@sprRender\n");
  ASSERT_NE(Drawn("sys/ev"), nullptr);
  EXPECT_EQ(Drawn("sys/ev")->x, 700 + 1 - 120);
  EXPECT_EQ(Drawn("sys/ev")->y, 100);
  EXPECT_EQ(Drawn("sys/ev")->level, 2 * 82);
  Run("@itemShow 3\n@sprRender\n");
  EXPECT_EQ(Drawn("sys/ev")->x, 100);
  Run("@itemHide\n@sprRender\n@itemHide\n");
  EXPECT_EQ(Drawn("sys/ev"), nullptr);
  EXPECT_FALSE(sprIsValid(21));
}

TEST_F(ItemTest, GetShowSlidesThePageInAndOutWithTheFilingMessage) {
  Items(Line(3));
  LoadItemDefs(false, "");
  Def("sys/name_ken", 100, 30);
  Run("@textShowName ken\n@itemGetShow 3 se=1\n@itemGetShow 3 se=2\n");
  EXPECT_EQ(ItemAt(3)->owned, 1);
  EXPECT_EQ(Logged("se:"), (std::vector<std::string>{"sys/se/ジングル", "sys/se/アイテム取得"}));
  const std::vector<std::string> once = {"　[cy]n3[c][br]c", "[cb]証拠品[br]「", "n3",
                                         "」を[br]法廷記録にファイルした。[c][np]"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(Logged("msg:"), twice);
  EXPECT_FALSE(sprIsValid(21));
  EXPECT_FALSE(IsTextLayerShown("sub"));
  EXPECT_TRUE(sprIsShown(20));  // the name plate is back

  // The slide: d = 800 - round(t x 800) in, round(t x 800) out, over 100 ms from its first frame.
  const auto& frames = engine.Frames();
  size_t in = 0;
  while (in < frames.size() && !(Drawn("sys/ev", in) && Drawn("sys/ev", in)->x == 808)) ++in;
  ASSERT_LT(in, frames.size());
  EXPECT_EQ(Drawn("sys/name_ken", in), nullptr);  // the plate is away during the page
  bool seen_half = false;
  size_t i = in;
  for (; i < frames.size() && Drawn("sys/ev", i); ++i) {
    const int64_t e = static_cast<int64_t>(frames[i].time) - frames[in].time;
    if (e >= 100) break;
    EXPECT_EQ(Drawn("sys/ev", i)->x, 8 + 800 - static_cast<int32_t>(std::nearbyint(e * 8.0))) << e;
    if (e == 50) {
      seen_half = true;
      EXPECT_EQ(Drawn("sys/ev", i)->x, 408);
    }
  }
  EXPECT_TRUE(seen_half);
  // The page rests at (8, 88) while the message waits, then leaves to the left.
  while (i < frames.size() && Drawn("sys/ev", i) && Drawn("sys/ev", i)->x == 8) ++i;
  ASSERT_LT(i, frames.size());
  ASSERT_NE(Drawn("sys/ev", i), nullptr);
  EXPECT_EQ(Drawn("sys/ev", i)->y, 88);
  EXPECT_LT(Drawn("sys/ev", i)->x, 8);
}

TEST_F(ItemTest, GetShowLeavesThePageUpWhenTheSceneEnds) {
  Items(Line(3));
  LoadItemDefs(false, "");
  g_court_clicks = {"!exit"};
  Run("@itemGetShow 3\n@itemHide\n");
  EXPECT_TRUE(scenario.exit_request);
  EXPECT_TRUE(sprIsShown(21));
  EXPECT_TRUE(IsTextLayerShown("sub"));
}

}  // namespace
}  // namespace orvane_test
