// The game sprite table and cell animation on the fake engine: geometry, parents, scaling,
// pivots, creation, destruction, the redraw and the cell timer.
#include "game/sprite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "game/timer.h"
#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

TEST_F(SpriteTest, GeometryAlignsAndAnchorsAtTheParent) {
  struct Case {
    const char* style;
    int32_t w, h, x, y;
    int32_t left, top;
  };
  const Case cases[] = {
      {"left top", 100, 50, 639, 10, 639, 10},     {"right", 100, 50, 639, 10, 540, 10},
      {"center", 101, 50, 320, 10, 270, 10},       {"bottom", 100, 50, 5, 479, 5, 430},
      {"middle", 100, 51, 5, 240, 5, 215},         {"right bottom", 1, 1, 7, 8, 7, 8},
      {"right", 2, 1, INT32_MIN, 0, INT32_MIN, 0},  // x + 1 - w saturates
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.style);
    Simple(20, c.w, c.h, kStyleHide);
    sprSetPosStyle(20, c.x, c.y, c.style);
    EXPECT_EQ(Sprite(20).x, c.left);
    EXPECT_EQ(Sprite(20).y, c.top);
    EXPECT_EQ(Sprite(20).req_x, c.x);
  }
  // Parents: right-aligned at 639 (left 540, w 100), a child at requested 0 starts at its right
  // edge; a grandchild follows a centred child's anchor.
  Simple(20, 100, 50, kStyleHide);
  Simple(21, 40, 20, kStyleHide);
  Simple(22, 10, 10, kStyleHide);
  sprSetPosStyle(20, 639, 100, "right bottom");
  sprSetPosStyle(21, 0, 0, "center middle");
  sprSetParentChecked(21, 20);
  EXPECT_EQ(Sprite(21).x, 639 - 20);
  EXPECT_EQ(Sprite(21).y, 100 - 10);
  sprSetPosStyle(22, 3, 4, "left top");
  sprSetParentChecked(22, 21);
  EXPECT_EQ(Sprite(22).x, Sprite(21).x + 20 + 3);
  EXPECT_EQ(Sprite(22).y, Sprite(21).y + 10 + 4);
  sprSetPosStyle(20, 339, 200, "right bottom");  // moving the parent moves every descendant
  EXPECT_EQ(Sprite(21).x, 339 - 20);
  EXPECT_EQ(Sprite(22).x, 339 - 20 + 20 + 3);
  EXPECT_EQ(Sprite(22).y, 200 - 10 + 10 + 4);
  sprDestroy(20);  // the children stay at their requested positions, on the screen
  EXPECT_EQ(Sprite(21).parent, kNoSprite);
  EXPECT_EQ(Sprite(21).x, -20);
  EXPECT_EQ(Sprite(22).x, -20 + 20 + 3);
}

TEST_F(SpriteTest, ParentCyclesAreRefused) {
  for (int slot = 20; slot < 23; ++slot) Simple(slot, 10, 10, kStyleHide);
  EXPECT_TRUE(sprSetParent(21, 20));
  EXPECT_TRUE(sprSetParent(22, 21));
  EXPECT_FALSE(sprSetParent(20, 22));
  EXPECT_FALSE(sprSetParent(20, 20));
  EXPECT_FALSE(sprSetParent(20, 30));  // not valid
  EXPECT_EQ(Sprite(20).parent, kNoSprite);
  SetErrorPosition("scn/p.scn", 4);
  EXPECT_EQ(Stops([] { sprSetParentChecked(20, 22); }),
            Report("scn/p.scn", 4, "スプライト 0 の親にスプライト 2 は指定できません。"));
  EXPECT_EQ(Stops([] { sprSetParentChecked(20, 40); }),
            Report("scn/p.scn", 4, "スプライト 20 は有効ではありません。"));
  sprSetParentChecked(22, -1);
  EXPECT_EQ(Sprite(22).parent, kNoSprite);
  sprSetPosStyle(20, 0, 0, "");  // terminates: no loops
}

TEST_F(SpriteTest, ScalingDerivesFromTheDefinition) {
  sprCreate(20, 0, 5, 2, Subs({{"a.png", 30, 20}, {"b.png", 11, 7, 30, 5}}), 0, 0, 0, 0, 0, "none");
  EXPECT_EQ(Sprite(20).w, 41);
  EXPECT_EQ(Sprite(20).h, 20);
  const auto sizes = [] {
    std::vector<int32_t> v;
    for (int i = 0; i < 2; ++i) {
      const DSubSprite& s = Sprite(20).subs[i];
      v.insert(v.end(), {s.x, s.y, s.w, s.h});
    }
    return v;
  };
  const std::vector<int32_t> natural = sizes();
  sprSetSize(20, 0, 0);
  EXPECT_EQ(sizes(), (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 0, 0}));
  sprSetSize(20, 82, 10);  // x2 and x0.5: 3.5 rounds to 4, 2.5 to 2
  EXPECT_EQ(sizes(), (std::vector<int32_t>{0, 0, 60, 10, 60, 2, 22, 4}));
  sprSetSize(20, 41, 20);
  EXPECT_EQ(sizes(), natural);
  // The engine sprites follow.
  ASSERT_TRUE(engine.Frames().empty());
  sprRender();
  ASSERT_EQ(engine.Frames().size(), 1u);
  const auto& f = engine.Frames()[0].sprites;
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ((std::vector<int32_t>{f[1].x, f[1].y, f[1].w, f[1].h}), (std::vector<int32_t>{30, 5, 11, 7}));
  // An axis of natural size 0 keeps its defined sizes.
  engine.AddFile("thin.png", FakeEngine::PngFile(64, 8));
  DRef<DSubSprite> thin;
  thin.Alloc(1);
  thin[0].image = LoadImageCached(-1000, 0, "thin.png", false, "");
  sprCreate(21, 0, 5, 1, thin, 0, 0, 0, 0, kStyleHide, "none");
  sprSetSize(21, 50, 16);
  EXPECT_EQ(Sprite(21).w, 0);
  EXPECT_EQ(Sprite(21).h, 16);
}

TEST_F(SpriteTest, PivotAndRotationReachEverySubSprite) {
  sprCreate(20, 0, 5, 2, Subs({{"a.png", 100, 50}, {"b.png", 50, 50, 100, 0}}), 10, 20, 0, 0, 0, "none");
  engine.ClearCalls();
  sprSetRotationChecked(20, 0.5f, 0.5f, -30.0f, "rotatez");
  std::vector<std::string> rotations;
  for (const auto& c : engine.Calls())
    if (c.rfind("ovtsRotate", 0) == 0 || c == "ovtsSetSpritePivot") rotations.push_back(c);
  EXPECT_EQ(rotations,
            (std::vector<std::string>{"ovtsSetSpritePivot", "ovtsSetSpritePivot", "ovtsRotateSpriteNone",
                                      "ovtsRotateSpriteZ", "ovtsRotateSpriteNone", "ovtsRotateSpriteZ"}));
  sprRender();
  const auto& f = engine.Frames().back().sprites;
  ASSERT_EQ(f.size(), 2u);
  EXPECT_FLOAT_EQ(f[0].pivot[0], 0.75f);  // the pivot at (75, 25) of the whole sprite
  EXPECT_FLOAT_EQ(f[0].pivot[1], 0.5f);
  EXPECT_FLOAT_EQ(f[1].pivot[0], -0.5f);
  EXPECT_FLOAT_EQ(f[1].pivot[1], 0.5f);
  EXPECT_EQ(f[1].rotation, (std::vector<std::string>{"z" + std::to_string(330.0f)}));
  EXPECT_EQ(f[1].x, 110);  // connected to sub-sprite 0
  sprSetRotation(20, 0.5f, 0.5f, 0, kStyleRotateNone);
  sprRender();
  EXPECT_TRUE(engine.Frames().back().sprites[0].rotation.empty());
}

TEST_F(SpriteTest, CreateShowsInTheSlotAndEmptiesTheScratchSlot) {
  static std::vector<int32_t> buttons;
  buttons.clear();
  SpriteTableHooks().remove_buttons = [](int32_t slot) { buttons.push_back(slot); };
  Simple(25, 10, 10, kStyleHide);
  EXPECT_TRUE(sprIsValid(25));
  EXPECT_FALSE(sprIsShown(25));
  EXPECT_EQ(engine.LiveCount("sprite"), 0);
  EXPECT_EQ(Sprite(0).flags, 0u);
  Simple(26, 10, 10, 0);
  EXPECT_TRUE(sprIsShown(26));
  EXPECT_EQ(engine.LiveCount("sprite"), 1);
  EXPECT_EQ(Sprite(0).flags, 0u);
  EXPECT_EQ(Sprite(0).count, 0);
  EXPECT_EQ(Sprite(26).level, 5);
  sprRender();
  ASSERT_EQ(engine.Frames().back().sprites.size(), 1u);
  EXPECT_EQ(engine.Frames().back().sprites[0].level, 10);
  EXPECT_EQ(engine.Frames().back().sprites[0].blend, 1);
  // Over an occupied slot: the old sprite's buttons and children go.
  Simple(27, 5, 5, kStyleHide);
  sprSetParent(27, 26);
  buttons.clear();
  Simple(26, 20, 20, 0, -1);
  EXPECT_EQ(buttons, (std::vector<int32_t>{26, 0}));  // the old sprite, then the scratch slot
  EXPECT_EQ(Sprite(27).parent, kNoSprite);
  EXPECT_EQ(Sprite(26).level, 16);  // the default level
  EXPECT_EQ(engine.LiveCount("sprite"), 1);
  sprHide(26, "none");
  EXPECT_EQ(engine.LiveCount("sprite"), 0);
  EXPECT_TRUE(sprIsValid(26));
  SetErrorPosition("scn/c.scn", 1);
  EXPECT_EQ(Stops([&] { Simple(120, 1, 1, 0); }),
            Report("scn/c.scn", 1, "スプライト 100 は有効ではありません。"));
  EXPECT_EQ(Stops([&] { Simple(30, 1, 1, 0, 5, 4); }),
            Report("scn/c.scn", 1, "スプライトクラス(4)の指定が異常です"));
  EXPECT_EQ(Stops([] { sprIsShown(-1); }), Report("scn/c.scn", 1, "スプライト -21 は有効ではありません。"));
  SpriteTableHooks() = SpriteHooks{};
}

TEST_F(SpriteTest, RedrawRetriesTenTimesEmptyingTheCaches) {
  engine.AddFile("c.png", FakeEngine::PngFile(4, 4));
  LoadImageCached(0, 0, "c.png", true, "");
  engine.FailRenders(9);
  sprRender();
  EXPECT_EQ(engine.Frames().size(), 1u);
  EXPECT_EQ(ImageCacheCount(), 0u);
  engine.FailRenders(10);
  SetErrorPosition("scn/v.scn", 9);
  EXPECT_EQ(Stops([] { sprRender(); }), Report("scn/v.scn", 9, "VRAMが不足しています。"));
  EXPECT_EQ(engine.Frames().size(), 1u);
}

// The times at which the image window of each sub-sprite moved, from the frames.
std::vector<std::pair<DWORD, std::vector<int32_t>>> CellTimeline(const FakeEngine& engine) {
  std::vector<std::pair<DWORD, std::vector<int32_t>>> out;
  for (const auto& frame : engine.Frames()) {
    std::vector<int32_t> cells;
    for (const auto& s : frame.sprites) cells.push_back(s.image_x);
    out.push_back({frame.time, cells});
  }
  return out;
}

TEST_F(SpriteTest, CellsChangeOnTheirOwnTimesWithOneTimer) {
  const DWORD t0 = engine.Now();
  sprCreate(20, 0, 5, 2,
            Subs({{"a.png", 20, 10, 0, 0, 2, 1, {{{0, 100}, {1, 100}}}},
                  {"b.png", 20, 10, 0, 0, 2, 1, {{{0, 150}, {1, 150}}}}}),
            0, 0, 0, 0, 0, "none");
  EXPECT_EQ(Sprite(20).timer, 0);
  WaitFor(300, nullptr, 0);
  using T = std::vector<std::pair<DWORD, std::vector<int32_t>>>;
  EXPECT_EQ(CellTimeline(engine),
            (T{{t0 + 100, {10, 0}}, {t0 + 150, {10, 10}}, {t0 + 200, {0, 10}}, {t0 + 300, {10, 0}}}));
  EXPECT_EQ(Sprite(20).timer, 0);  // one event, re-registered in its own slot
  sprHide(20, "none");
  EXPECT_EQ(Sprite(20).timer, -1);
  EXPECT_EQ(DispatchTimerEvents(), kLongestWaitSlice);
}

TEST_F(SpriteTest, StopModeZeroDurationsAndAnimSets) {
  const DWORD t0 = engine.Now();
  // Set 0 plays once and stops; set 1 has a 0-ms cell; the second sub-sprite has no sets.
  sprCreate(20, 0, 5, 2,
            Subs({{"a.png", 30, 10, 0, 0, 3, 1, {{{0, 50}, {2, -1}}, {{1, 0}, {2, 500}}}}, {"b.png", 8, 8}}),
            0, 0, 0, 0, 0, "none");
  WaitFor(200, nullptr, 0);
  ASSERT_EQ(engine.Frames().size(), 1u);
  EXPECT_EQ(engine.Frames()[0].time, t0 + 50);
  EXPECT_EQ(engine.Frames()[0].sprites[0].image_x, 20);
  EXPECT_EQ(Sprite(20).timer, -1);
  EXPECT_FALSE(sprSetAnimSet(20, 0));
  EXPECT_TRUE(sprSetAnimSet(20, 7));  // past the end: the last set
  EXPECT_EQ(Sprite(20).subs[0].cur_set, 1);
  EXPECT_NE(Sprite(20).timer, -1);
  const DWORD t1 = engine.Now();
  WaitFor(10, nullptr, 0);
  EXPECT_EQ(engine.Frames().back().time, t1);  // the 0-ms cell goes at the next dispatch
  EXPECT_EQ(engine.Frames().back().sprites[0].image_x, 20);
  EXPECT_TRUE(sprSetAnimSet(20, -1));  // a negative set takes the first
  EXPECT_EQ(Sprite(20).subs[0].cur_set, 0);
  // A sprite without sets never gets a timer.
  Simple(21, 4, 4, 0);
  EXPECT_EQ(Sprite(21).timer, -1);
  EXPECT_FALSE(sprSetAnimSet(21, 1));
}

TEST_F(SpriteTest, GuardedFormsCheckTheSlot) {
  Simple(20, 10, 6, kStyleHide);
  sprSetPosStyle(20, 30, 40, "right");
  int32_t a = 0, b = 0;
  sprGetPos(20, &a, &b);
  EXPECT_EQ((std::vector<int32_t>{a, b}), (std::vector<int32_t>{30, 40}));
  sprGetTopLeft(20, &a, &b);
  EXPECT_EQ((std::vector<int32_t>{a, b}), (std::vector<int32_t>{21, 40}));
  sprSetSizeChecked(20, 20, 12);
  sprGetSize(20, &a, &b);
  EXPECT_EQ((std::vector<int32_t>{a, b}), (std::vector<int32_t>{20, 12}));
  sprSetLevelChecked(20, 9);
  EXPECT_EQ(sprGetLevel(20), 9);
  sprShowChecked(20, "none");
  EXPECT_TRUE(sprIsShown(20));
  sprHideChecked(20, "none");
  EXPECT_FALSE(sprIsShown(20));
  sprSetDisplayFlagsChecked(20, "wipefade backhide");
  EXPECT_EQ(Sprite(20).style & (kStyleWipeFade | kStyleBackHide), kStyleWipeFade | kStyleBackHide);
  // Angles come into 0..360; 360 stays, a huge one ends.
  for (const auto& [in, out] : std::vector<std::pair<float, float>>{
           {-30, 330}, {370, 10}, {720, 360}, {360, 360}, {-360, 0}, {1e30f, std::fmod(1e30f, 360.0f)}}) {
    sprSetRotationChecked(20, 0, 0, in, "");
    EXPECT_FLOAT_EQ(Sprite(20).angle, out) << in;
  }
  SetErrorPosition("scn/g.scn", 3);
  const std::string invalid = Report("scn/g.scn", 3, "スプライト 5 は有効ではありません。");
  const std::vector<void (*)()> guarded = {
      [] { sprSetSizeChecked(25, 1, 1); },
      [] { sprSetLevelChecked(25, 1); },
      [] { sprGetLevel(25); },
      [] {
        int32_t x, y;
        sprGetPos(25, &x, &y);
      },
      [] {
        int32_t x, y;
        sprGetSize(25, &x, &y);
      },
      [] {
        int32_t x, y;
        sprGetTopLeft(25, &x, &y);
      },
      [] { sprSetAnimSetChecked(25, 0); },
      [] { sprShowChecked(25, "none"); },
      [] { sprHideChecked(25, "none"); },
      [] { sprSetDisplayFlagsChecked(25, ""); },
      [] { sprSetPosStyle(25, 0, 0, ""); },
      [] { sprSetRotationChecked(25, 0, 0, 0, ""); },
      [] { sprGetImage(25); },
      [] { sprDestroy(25, "none"); },
  };
  for (size_t i = 0; i < guarded.size(); ++i) EXPECT_EQ(Stops(guarded[i]), invalid) << "form " << i;
  sprCreate(21, 0, 5, 0, DRef<DSubSprite>(), 0, 0, 0, 0, kStyleHide, "none");
  EXPECT_EQ(Stops([] { sprGetImage(21); }),
            Report("scn/g.scn", 3, "スプライト 1 はサブスプライトがありません。"));
}

TEST_F(SpriteTest, AFlushedImageStaysWhileASpriteHoldsIt) {
  engine.AddFile("held.png", FakeEngine::PngFile(8, 8));
  DRef<DSubSprite> subs;
  subs.Alloc(1);
  subs[0].image = LoadImageCached(-1, -1, "held", true, "");
  sprCreate(20, 0, 5, 1, subs, 0, 0, 0, 0, 0, "none");
  subs.Release();
  FlushCaches();
  EXPECT_EQ(engine.LiveCount("image"), 1);
  sprRender();
  EXPECT_EQ(engine.Frames().back().sprites.at(0).image_name, "held.png");
  sprDestroy(20);
  EXPECT_EQ(engine.LiveCount("image"), 0);
}

TEST_F(SpriteTest, ScreenSizeIsStoredAndSetOnTheWindow) {
  EXPECT_EQ(GetScreenWidth(), 640);
  SetScreenSize(800, 600);
  EXPECT_EQ(GetScreenWidth(), 800);
  EXPECT_EQ(GetScreenHeight(), 600);
  EXPECT_EQ(engine.WindowSize(), (std::pair<int32_t, int32_t>{800, 600}));
}

}  // namespace
}  // namespace orvane_test
