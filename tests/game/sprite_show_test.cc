// Display styles, showing and hiding, the scene fade and the screen transition, judged on the
// frames the fake engine shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/sprite.h"
#include "game/timer.h"
#include "game/wipe.h"
#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

TEST_F(SpriteTest, DisplayStyleWords) {
  struct Case {
    const char* text;
    uint32_t initial;
    uint32_t flags;
  };
  const Case cases[] = {
      {"RIGHT  Bottom", 0, 0x12},
      {"right left", 0, 0x01},
      {"", 0x1234, 0x1234},
      {"\x81\x40 top\tmiddle ", 0, 0x20},
      {"backnormal backhide", 0x1000, 0x2000},
      {"rotatez rotatenone", 0x80, 0x40},
      {"wipehide wipenohide cache", 0, 0x60000},
      {"show hide", 0x400, 0x800},
      {"left top", 0x3F, 0x09},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseDisplayStyle(c.text, c.initial), c.flags) << c.text;
  SetErrorPosition("scn/s.scn", 2);
  EXPECT_EQ(Stops([] { ParseDisplayStyle("right rightx", 0); }),
            Report("scn/s.scn", 2, "表示スタイル \"rightx\" を認識できません。"));
  EXPECT_EQ(Stops([] { sprSetClassStyle(4, "backhide"); }),
            Report("scn/s.scn", 2, "スプライトクラス(4)の指定が異常です"));
  EXPECT_EQ(sprGetClassStyle(2), kStyleBackHide);
  sprSetClassStyle(1, "wipefade wipehide cache right");
  EXPECT_EQ(sprGetClassStyle(1), kStyleWipeFade | kStyleWipeHide);
  sprSetClassStyle(1, "wipenofade");
  EXPECT_EQ(sprGetClassStyle(1), kStyleWipeHide);
}

// Alpha of the sprite's first engine sprite in each frame it appears in.
std::vector<float> Alphas(const FakeEngine& engine, ApiHandle* image) {
  std::vector<float> out;
  for (const auto& frame : engine.Frames())
    for (const auto& s : frame.sprites)
      if (s.image == image) out.push_back(s.alpha[0]);
  return out;
}

TEST_F(SpriteTest, SceneFadeOutAndBackIn) {
  Simple(20, 10, 10, kStyleWipeFade);
  Simple(21, 10, 10, kStyleWipeFade | kStyleWipeHide);
  Simple(22, 10, 10, 0);
  sprSetDisplayFlags(21, kStyleWipeHide);  // the flag set on a shown sprite works
  ApiHandle* fading = ImageOf(20);
  const DWORD t0 = engine.Now();
  sprBeginScene();
  std::vector<float> out = Alphas(engine, fading);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.front(), 1.0f);
  for (size_t i = 1; i < out.size(); ++i) EXPECT_LE(out[i], out[i - 1]);
  EXPECT_GE(engine.Now() - t0, 300u);
  EXPECT_FALSE(sprIsShown(20));
  EXPECT_FALSE(sprIsShown(21));
  EXPECT_TRUE(sprIsShown(22));
  EXPECT_TRUE(sprScenePending());
  const size_t before = engine.Frames().size();
  sprEndScene();
  std::vector<float> in = Alphas(engine, fading);
  in.erase(in.begin(), in.begin() + static_cast<long>(out.size()));
  ASSERT_GE(in.size(), 2u);
  EXPECT_EQ(in.front(), 0.0f);
  for (size_t i = 1; i < in.size(); ++i) EXPECT_GE(in[i], in[i - 1]);
  EXPECT_TRUE(sprIsShown(20));
  EXPECT_FALSE(sprIsShown(21));  // wipehide with wipefade: gone for good
  EXPECT_EQ(Sprite(20).flags & kSpriteSceneHidden, 0u);
  sprRender();
  EXPECT_EQ(engine.Frames().back().sprites.size(), 2u);
  EXPECT_EQ(Find(engine.Frames().back(), fading)->alpha[3], 1.0f);
  EXPECT_GT(engine.Frames().size(), before);
  // Nothing to fade: nothing pending, nothing drawn.
  sprHide(20, "none");
  const size_t frames = engine.Frames().size();
  sprBeginScene();
  EXPECT_FALSE(sprScenePending());
  sprEndScene();
  EXPECT_EQ(engine.Frames().size(), frames);
}

TEST_F(SpriteTest, SceneHiddenSpritesLeaveThatStateThroughShowOrHide) {
  RegisterWipe("fade", "", 100, 0);
  Simple(20, 10, 10, kStyleWipeFade);
  Simple(21, 10, 10, kStyleWipeFade);
  sprBeginScene();
  ASSERT_NE(Sprite(20).flags & kSpriteSceneHidden, 0u);
  size_t frames = engine.Frames().size();
  sprHide(20, "fade");  // draws nothing, stays hidden
  EXPECT_EQ(engine.Frames().size(), frames);
  EXPECT_EQ(Sprite(20).flags & (kSpriteSceneHidden | kSpriteRealized), 0u);
  sprShow(21, kNoSprite, "fade");  // shown through the wipe
  EXPECT_GT(engine.Frames().size(), frames + 1);
  EXPECT_TRUE(sprIsShown(21));
  EXPECT_EQ(Sprite(21).flags & kSpriteSceneHidden, 0u);
  frames = engine.Frames().size();
  sprEndScene();  // nothing is left to bring back
  EXPECT_EQ(engine.Frames().size(), frames);
  EXPECT_FALSE(sprIsShown(20));
}

TEST_F(SpriteTest, MaskWipeRevealsTheIncomingOverTheOutgoing) {
  engine.AddFile("sys/wipe_bg.png", FakeEngine::PngFile(64, 48));
  RegisterWipe("wipe", "sys/wipe_bg", 200, 0);
  ApiHandle* mask = GetWipe("wipe").wipe->handle;
  Simple(20, 10, 10, 0, 5);
  Simple(21, 10, 10, kStyleWipeHide, 5);  // a companion
  sprSetDisplayFlags(21, kStyleWipeHide);
  ApiHandle* old_image = ImageOf(20);
  ApiHandle* companion = ImageOf(21);
  sprCreate(20, 0, 5, 1, Subs({{"new.png", 12, 12}}), 0, 0, 0, 0, 0, "wipe");
  ApiHandle* new_image = ImageOf(20);
  const auto& frames = engine.Frames();
  ASSERT_GE(frames.size(), 3u);
  int last_level = -1;
  for (size_t i = 0; i + 1 < frames.size(); ++i) {
    const auto* in = Find(frames[i], new_image);
    const auto* out = Find(frames[i], old_image);
    const auto* comp = Find(frames[i], companion);
    ASSERT_TRUE(in && out && comp) << "frame " << i;
    EXPECT_EQ((std::vector<int32_t>{in->level, out->level, comp->level}), (std::vector<int32_t>{11, 10, 10}));
    EXPECT_EQ(in->wipe, mask);
    EXPECT_EQ(in->direction, 1);
    EXPECT_EQ(out->direction, 0);
    EXPECT_EQ(comp->wipe, mask);
    EXPECT_GE(in->wipe_level, last_level);
    last_level = in->wipe_level;
    // Incoming drawn over the outgoing at the same sprite level.
    EXPECT_GT(in - frames[i].sprites.data(), out - frames[i].sprites.data());
  }
  EXPECT_EQ(Find(frames[0], new_image)->wipe_level, 0);
  const auto& last = frames.back();
  ASSERT_EQ(last.sprites.size(), 1u);  // the outgoing and the companion are gone
  EXPECT_EQ(last.sprites[0].image, new_image);
  EXPECT_EQ(last.sprites[0].level, 10);
  EXPECT_EQ(last.sprites[0].wipe, nullptr);
  EXPECT_FALSE(sprIsShown(21));
  EXPECT_EQ(Sprite(0).flags, 0u);
}

TEST_F(SpriteTest, CrossFadeAndClassThreeFreeze) {
  RegisterWipe("fade", "", 100, 0);
  Simple(20, 10, 10, 0, 5, 3);
  Simple(21, 10, 10, 0, 6, 2);  // class 2: backhide
  ApiHandle* old_image = ImageOf(20);
  Simple(22, 10, 10, 0, 7, 0);
  ApiHandle* fixed = ImageOf(22);
  sprHide(22, "fade");  // cross-fade of the outgoing alone: 1 - p
  std::vector<float> out = Alphas(engine, fixed);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.front(), 1.0f);
  EXPECT_LT(out.back(), 0.1f);
  EXPECT_FALSE(sprIsShown(22));
  const size_t start = engine.Frames().size();
  sprCreate(20, 3, 5, 1, Subs({{"bg2.png", 16, 16}}), 0, 0, 0, 0, 0, "fade");
  ApiHandle* new_image = ImageOf(20);
  const auto& frames = engine.Frames();
  ASSERT_GE(frames.size(), start + 2);
  for (size_t i = start; i + 1 < frames.size(); ++i) {
    EXPECT_EQ(Find(frames[i], old_image), nullptr);  // the picture stands for the old screen
    EXPECT_EQ(Find(frames[i], fixed), nullptr);
    ASSERT_EQ(frames[i].sprites.size(), 2u) << "frame " << i;  // the picture and the incoming
    EXPECT_EQ(frames[i].sprites[0].image_name, "");
    EXPECT_EQ(frames[i].sprites[0].level, 10);
    EXPECT_EQ(frames[i].sprites[0].alpha[0], 1.0f);
    EXPECT_EQ(frames[i].sprites[1].image, new_image);
  }
  EXPECT_EQ(Find(frames[start], new_image)->alpha[0], 0.0f);
  EXPECT_EQ(engine.LiveCount("dynamic image"), 0);
  EXPECT_FALSE(sprIsShown(21));  // backhide swept
  EXPECT_EQ(frames.back().sprites.size(), 1u);
  EXPECT_EQ(frames.back().sprites[0].alpha[2], 1.0f);
}

TEST_F(SpriteTest, NoWipeDrawsNothingAndSweepsWipeHide) {
  Simple(20, 10, 10, 0, 5, 2);  // backhide
  Simple(21, 10, 10, 0, 5, 0);
  sprSetDisplayFlags(21, kStyleWipeHide);
  const size_t frames = engine.Frames().size();
  Simple(22, 10, 10, 0, 5, 0, "NONE");
  EXPECT_FALSE(sprIsShown(21));
  EXPECT_TRUE(sprIsShown(20));  // only a class-3 change sweeps backhide
  Simple(23, 10, 10, 0, 5, 3, "");
  EXPECT_FALSE(sprIsShown(20));
  EXPECT_TRUE(sprIsShown(22));
  sprHide(22, "none");  // touches nothing else
  EXPECT_TRUE(sprIsShown(23));
  EXPECT_EQ(engine.Frames().size(), frames);
  SetErrorPosition("scn/w.scn", 5);
  EXPECT_EQ(Stops([&] { sprHide(23, "cross"); }),
            Report("scn/w.scn", 5, "\"cross\"というワイプは存在しません。"));
}

TEST_F(SpriteTest, ZeroTimeLostPictureAndClosing) {
  RegisterWipe("quick", "", 0, 50);
  RegisterWipe("slow", "", 1000, 0);
  Simple(20, 10, 10, 0, 5, 3);
  DWORD t0 = engine.Now();
  size_t frames = engine.Frames().size();
  Simple(21, 10, 10, 0, 5, 0, "quick");
  EXPECT_EQ(engine.Frames().size(), frames + 1);  // one frame, then the after-wait
  EXPECT_GE(engine.Now() - t0, 50u);
  // A lost old-screen picture ends the animation; the end state is still reached.
  t0 = engine.Now();
  engine.LoseImagesAt(t0 + 100);
  sprCreate(20, 3, 5, 1, Subs({{"bg.png", 8, 8}}), 0, 0, 0, 0, 0, "slow");
  EXPECT_LT(engine.Now() - t0, 200u);
  EXPECT_TRUE(sprIsShown(20));
  EXPECT_EQ(engine.LiveCount("dynamic image"), 0);
  // Closing mid-transition unwinds; the game's clean-up leaves nothing live.
  engine.SetExitAt(engine.Now() + 100);
  bool thrown = false;
  try {
    sprCreate(20, 3, 5, 1, Subs({{"bg3.png", 8, 8}}), 0, 0, 0, 0, 0, "slow");
  } catch (const DExceptGame&) {
    thrown = true;
  }
  EXPECT_TRUE(thrown);
  EXPECT_EQ(engine.LiveCount("dynamic image"), 0);
  sprClearAll();
  ReleaseCaches();
  ClearWipes();
  for (const char* kind : {"sprite", "image", "dynamic image", "wipe"})
    EXPECT_EQ(engine.LiveCount(kind), 0) << kind;
}

}  // namespace
}  // namespace orvane_test
