// Motions on the fake engine's virtual clock, judged on the sprites' state and the frames shown.
#include "game/motion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "game/sprite.h"
#include "game/timer.h"
#include "platform/mmsystem.h"
#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

class MotionTest : public SpriteTest {
 protected:
  MotionTest() {
    Simple(21, 10, 10, 0);  // script sprite 1 at (0, 0)
    Simple(22, 20, 20, 0);  // script sprite 2
    SetErrorPosition("scn/m.scn", 3);
  }
  // Writes "<name>.mot" and starts it with base 20.
  void Start(const std::string& text, bool wait = false, const std::string& name = "m") {
    engine.AddFile(name + ".mot", text);
    sprLoadMotion(20, name.c_str(), wait);
  }
  bool Idle() const {
    for (int i = 0; i < kMotionSlots; ++i)
      if (MotionSlot(i).count != 0) return false;
    return true;
  }
  // The requested position of script sprite 1.
  std::pair<int32_t, int32_t> Pos(int32_t slot = 21) const {
    return {Sprite(slot).req_x, Sprite(slot).req_y};
  }
  // Sprite entries of the frames shown since `from`, with the motion's elapsed time.
  struct Seen {
    int64_t t;
    int32_t x, y, w, h;
  };
  std::vector<Seen> FramesSince(size_t from, DWORD start, ApiHandle* image) const {
    std::vector<Seen> seen;
    for (size_t i = from; i < engine.Frames().size(); ++i) {
      const FakeEngine::Frame& f = engine.Frames()[i];
      const FakeEngine::FrameSprite* s = Find(f, image);
      if (s) seen.push_back({static_cast<int64_t>(f.time) - start, s->x, s->y, s->w, s->h});
    }
    return seen;
  }
};

TEST_F(MotionTest, MoveInterpolatesOverTheSpanOnEveryFrame) {
  sprSetPos(21, 0, 40, kStyleLeft | kStyleTop);
  const size_t from = engine.Frames().size();
  const DWORD start = timeGetTime();
  Start("@pos 0 1 x=100 span=1000");
  EXPECT_EQ(Pos(), std::make_pair(0, 40));  // nothing moves before time passes
  WaitFor(1200, nullptr, 0);
  const std::vector<Seen> seen = FramesSince(from, start, ImageOf(21));
  ASSERT_GT(seen.size(), 100u);
  for (const Seen& s : seen) {
    const int64_t t = std::min<int64_t>(s.t, 1000);
    const float f = static_cast<float>(t) / 1000.0f;
    ASSERT_EQ(s.x, static_cast<int32_t>(std::nearbyint(100.0 * f))) << "at " << s.t;
    ASSERT_EQ(s.y, static_cast<int32_t>(std::nearbyint(40 - 40.0 * f))) << "at " << s.t;  // y=0 by default
  }
  EXPECT_EQ(Pos(), std::make_pair(100, 0));
  EXPECT_TRUE(Idle());
}

TEST_F(MotionTest, SpanZeroJumpsAtTheStartTimeAndAlignmentStays) {
  sprSetPos(21, 50, 50, kStyleRight | kStyleBottom);
  Start("@pos 300 1 x=100 y=7\n@pos 0 2 x=-5 y=-6 span=-10");
  WaitFor(1, nullptr, 0);
  EXPECT_EQ(Pos(22), std::make_pair(-5, -6));
  EXPECT_EQ(Pos(), std::make_pair(50, 50));
  WaitFor(300, nullptr, 0);
  EXPECT_EQ(Pos(), std::make_pair(100, 7));
  EXPECT_EQ(Sprite(21).x, 91);  // right and bottom aligned: 100 + 1 - 10
  EXPECT_EQ(Sprite(21).y, -2);
  EXPECT_TRUE(Idle());
}

TEST_F(MotionTest, TurnsAndResizesWithTheirDefaults) {
  Start("@rot 0 1 deg=90 pivx=0.5 pivy=0.25 style=\"rotatez right\" span=100\n@size 0 2 w=40 span=100");
  WaitFor(50, nullptr, 0);
  EXPECT_GT(Sprite(21).angle, 40.0f);
  EXPECT_LT(Sprite(21).angle, 50.0f);
  EXPECT_EQ(Sprite(21).style & kStyleRotation, kStyleRotateZ);
  EXPECT_EQ(Sprite(21).style & kStyleAlignment, 0u);  // only the rotation bits count
  EXPECT_GT(Sprite(22).w, 25);
  EXPECT_LT(Sprite(22).w, 35);
  EXPECT_EQ(Sprite(22).h, 20);  // h defaults to the size at load time
  WaitFor(100, nullptr, 0);
  EXPECT_EQ(Sprite(21).angle, 90.0f);
  EXPECT_EQ(Sprite(21).pivot_x, 0.5f);
  EXPECT_EQ(Sprite(21).pivot_y, 0.25f);
  sprRender();
  EXPECT_EQ(Find(engine.Frames().back(), ImageOf(21))->rotation.size(), 1u);
  EXPECT_EQ(Sprite(22).w, 40);
  EXPECT_EQ(Sprite(22).h, 20);
  // Defaults: deg 0, rotatenone, the size as loaded even when it changed before the event runs.
  Start("@rot 0 1\n@size 100 2");
  sprSetSize(22, 5, 6);
  WaitFor(150, nullptr, 0);
  EXPECT_EQ(Sprite(21).angle, 0.0f);
  EXPECT_EQ(Sprite(21).style & kStyleRotation, kStyleRotateNone);
  EXPECT_EQ(Sprite(22).w, 40);
  EXPECT_EQ(Sprite(22).h, 20);
  EXPECT_TRUE(Idle());
}

TEST_F(MotionTest, TheFirstTwoItemsAreStartAndSpriteWhateverTheirNames) {
  Simple(20, 4, 4, 0);
  sprSetPos(20, 30, 30, kStyleLeft | kStyleTop);
  Start("@pos span=500 x=3 y=9");  // start "span" (0), sprite "x" (0)
  WaitFor(1, nullptr, 0);
  EXPECT_EQ(Pos(20), std::make_pair(0, 9));
  EXPECT_TRUE(Idle());
}

TEST_F(MotionTest, EveryErrorNamesTheFile) {
  const std::string f = "モーションファイル\"m\"";
  struct Case {
    const char* text;
    std::string message;
  };
  const Case cases[] = {
      {"@move 0 1", f + "に不正な定義文\"@move\"が存在します"},
      {"\n@pos 0 1\nsprite 0 1", f + "に不正な定義文\"sprite\"が存在します"},
      {"@pos 0 1 w=3", f + "の定義文@posに不正なオプション\"w\"が存在します"},
      {"@ROT 0 1 x=3", f + "の定義文@rotに不正なオプション\"x\"が存在します"},
      {"@size 0 1 deg=3", f + "の定義文@sizeに不正なオプション\"deg\"が存在します"},
      {"@pos", f + "の定義文に実行開始時間が指定されていない"},
      {"@pos 0 ", f + "の定義文にスプライト番号が指定されていない"},
      {"@pos 0 5", f + "で指定されたスプライト5は有効ではない"},
      {"@pos 0 -21", f + "で指定されたスプライト-21は有効ではない"},
      {"@pos 0 2147483647", f + "で指定されたスプライト2147483647は有効ではない"},
      {"@pos 0 1\n@size 0 100", f + "で指定されたスプライト100は有効ではない"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Stops([&] { Start(c.text); }), Report("scn/m.scn", 3, c.message)) << c.text;
    EXPECT_TRUE(Idle()) << c.text;
    EXPECT_EQ(engine.OpenFileCount(), 0) << c.text;
  }
  EXPECT_EQ(Stops([] { sprLoadMotion(20, "none", false); }),
            Report("scn/m.scn", 3, "ファイル \"none.mot\" が開けません。"));
  // Four motions run at once; a fifth has no room.
  for (int i = 0; i < kMotionSlots; ++i) Start("@pos 0 1 x=1 span=1000");
  EXPECT_EQ(Stops([&] { Start("@pos 0 2 x=1"); }),
            Report("scn/m.scn", 3, "モーション実行領域に空きがありません"));
}

TEST_F(MotionTest, WaitReturnsAtTheFirstCheckAfterTheEnd) {
  const DWORD start = timeGetTime();
  Start("@pos 0 1 x=100 span=250", true);
  EXPECT_EQ(Pos(), std::make_pair(100, 0));
  EXPECT_TRUE(Idle());
  EXPECT_GE(timeGetTime() - start, 250u);  // the check after the end, not one later
  EXPECT_LT(timeGetTime() - start, 350u);
  // A file with no statement starts nothing and does not wait; a negative start is due at once.
  const DWORD before = timeGetTime();
  Start("\n  \n", true);
  EXPECT_EQ(timeGetTime(), before);
  Start("@pos -5 1 x=7", true);
  EXPECT_EQ(Pos(), std::make_pair(7, 0));
  EXPECT_LT(timeGetTime() - before, 200u);
}

TEST_F(MotionTest, DestroyingATargetEndsItsEventsAndTheRestRunOn) {
  Start("@pos 0 1 x=100 span=1000\n@pos 0 2 x=50 span=300");
  WaitFor(100, nullptr, 0);
  sprDestroy(21);
  EXPECT_EQ(MotionSlot(0).events[0].sprite == 21 || MotionSlot(0).events[1].sprite == 21, false);
  WaitFor(250, nullptr, 0);
  EXPECT_EQ(Pos(22), std::make_pair(50, 0));
  EXPECT_TRUE(Idle());
  // The whole table cleared mid-motion leaves no slot and no timer behind.
  Simple(21, 10, 10, 0);
  Start("@pos 0 1 x=100 span=1000");
  WaitFor(10, nullptr, 0);
  sprClearAll();
  EXPECT_TRUE(Idle());
  EXPECT_EQ(DispatchTimerEvents(), kLongestWaitSlice);  // no event left to fire
}

TEST_F(MotionTest, OverlappingMovesRunInFileOrderAndLaterEventsStartFromTheSprite) {
  const size_t from = engine.Frames().size();
  const DWORD start = timeGetTime();
  Start("@pos 0 1 x=100 span=200\n@pos 0 1 x=-100 span=200\n@pos 300 1 x=0 y=100 span=100");
  WaitFor(500, nullptr, 0);
  for (const Seen& s : FramesSince(from, start, ImageOf(21))) {
    if (s.t > 200) break;
    ASSERT_EQ(s.x, static_cast<int32_t>(std::nearbyint(-100.0 * (static_cast<float>(s.t) / 200.0f)))) << s.t;
  }
  for (const Seen& s : FramesSince(from, start, ImageOf(21))) {
    if (s.t < 300 || s.t > 400) continue;
    const float f = static_cast<float>(s.t - 300) / 100.0f;
    ASSERT_EQ(s.x, static_cast<int32_t>(-100 + std::nearbyint(100.0 * f))) << s.t;  // from where it was left
    ASSERT_EQ(s.y, static_cast<int32_t>(std::nearbyint(100.0 * f))) << s.t;
  }
  EXPECT_EQ(Pos(), std::make_pair(0, 100));
}

TEST_F(MotionTest, ExtremeValuesSaturate) {
  sprSetPos(21, INT32_MIN, INT32_MAX, kStyleLeft | kStyleTop);
  Start(
      "@pos 0 1 x=2147483647 y=-2147483648 span=2147483647\n@size 0 2 w=2147483647 h=0 span=2147483647\n"
      "@rot 0 1 deg=3e38 span=2147483647");
  WaitFor(1000, nullptr, 0);
  EXPECT_GT(Pos().first, INT32_MIN);
  EXPECT_LT(Pos().second, INT32_MAX);
  EXPECT_GT(Sprite(22).w, 20);
  EXPECT_EQ(Sprite(22).h, 20);
  EXPECT_TRUE(std::isfinite(Sprite(21).angle));
}

}  // namespace
}  // namespace orvane_test
