// The sprite list: grid and cells, skip counts, registration order, and random scenes whose
// incremental redraw equals a full recomposition of the dirty cells.
#include "display/draw/sprite_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "imaging/hal/dhal.h"

namespace {

class Sprites : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DHalInit(6));
    target_.Alloc(1);
  }
  void TearDown() override {
    list_.Detach();
    DHalTerm();
  }
  void Bind(int w, int h) {
    ASSERT_TRUE(target_->Create(nullptr, w, h));
    ASSERT_TRUE(list_.Attach(DRef<ConnectedImage>::Convert(target_)));
  }
  std::vector<std::uint8_t> Grid() {
    return std::vector<std::uint8_t>(list_.GetGrid(), list_.GetGrid() + list_.GetColumns() * list_.GetRows());
  }
  DRef<DrawImage> target_;
  SpriteList list_;
};

TEST_F(Sprites, GridCellsAndLevels) {
  Bind(640, 480);
  EXPECT_EQ(list_.GetColumns(), 27);
  EXPECT_EQ(list_.GetRows(), 20);
  EXPECT_FALSE(list_.SetLevelCount(65536));
  EXPECT_FALSE(list_.SetLevelCount(-1));
  ASSERT_TRUE(list_.SetLevelCount(5));
  EXPECT_FALSE(list_.SetLevelCount(3));
  DrawImage a, b, c;
  for (DrawImage* i : {&a, &b, &c}) i->Create(nullptr, 20, 20);
  ASSERT_TRUE(list_.SetImageLevel(a, 2));
  EXPECT_EQ(list_.GetSkip(0), 2);
  EXPECT_EQ(list_.GetSkip(1), 1);
  ASSERT_TRUE(list_.SetImageLevel(b, 2));
  ASSERT_TRUE(list_.SetImageLevel(a, 2));  // same level: keeps its place
  EXPECT_FALSE(list_.SetImageLevel(c, 5));
  EXPECT_EQ(c.sprite_list_, nullptr);
  list_.RemoveImage(a);
  list_.RemoveImage(b);
  EXPECT_EQ(list_.GetSkip(0), 5);
  EXPECT_EQ(list_.GetSkip(1), 4);
  // x = -30, w = 20 covers no pixel but its cell range holds column 0.
  list_.ClearDirty();
  a.SetPos(-30, 100);
  ASSERT_TRUE(list_.SetImageLevel(a, 0));
  list_.Update();
  EXPECT_TRUE(list_.IsDirty(0, 4));
  EXPECT_FALSE(list_.IsDirty(0, 5));
  list_.ClearDirty();
  list_.Update();  // nothing moved
  for (std::uint8_t g : Grid()) EXPECT_EQ(g, 0);
  EXPECT_FALSE(list_.MarkDirty(648, 0, 10, 10));
  EXPECT_TRUE(list_.MarkDirty(647, 0, 10, 10));
  EXPECT_FALSE(list_.MarkDirty(-50, 0, 10, 10));
  EXPECT_TRUE(list_.MarkDirty(0, 0, 0, 0));  // width 0 at x = 0 covers column 0
  EXPECT_TRUE(list_.MarkDirty(INT64_MIN / 4, INT64_MIN / 4, INT64_MAX / 2, INT64_MAX / 2));
  for (std::uint8_t g : Grid()) EXPECT_EQ(g, 1);
  // Destroying a registered image unregisters it.
  a.Destroy();
  EXPECT_EQ(list_.GetLevelSize(0), 0u);
}

// The test's own bookkeeping of a scene: images in drawing order.
struct Scene {
  std::vector<std::unique_ptr<DrawImage>> images;
  std::vector<int> level;            // -1: not registered
  std::vector<std::uint64_t> order;  // registration stamp within the level
};

TEST_F(Sprites, RandomScenesRedrawExactlyTheDirtyCells) {
  const int W = 130, H = 100;
  Bind(W, H);
  ASSERT_TRUE(list_.SetLevelCount(6));
  std::mt19937 rng(1502);
  auto rnd = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  Scene s;
  std::uint64_t stamp = 0;
  auto paint = [&](DrawImage& im) {
    for (int y = 0; y < im.GetHeight(); ++y)
      for (int x = 0; x < im.GetWidth(); ++x)
        im.PutPixel(x, y, rnd(0, 3) == 0 ? 0 : static_cast<std::uint16_t>(rng() & 0xFFDF));
    if (im.IsFastTrans()) im.SetFastTrans(true);
    if (im.IsAlpha())
      for (int i = 0; i < im.GetWidth() * im.GetHeight(); ++i)
        im.GetAlphaPlane()[i] = static_cast<std::uint8_t>(rnd(0, 31));
  };
  for (int i = 0; i < 14; ++i) {
    auto im = std::make_unique<DrawImage>();
    im->Create(nullptr, rnd(1, 50), rnd(1, 50));
    im->SetTrans(rnd(0, 1), 0, 0, 0);
    im->SetFastTrans(rnd(0, 1));
    im->EnableAlpha(rnd(0, 1));
    im->SetBlend(static_cast<std::uint32_t>(rnd(0, 7)));
    im->SetAlphaKey(static_cast<std::uint32_t>(std::vector<int>{0, 8, 16, 31}[std::size_t(rnd(0, 3))]));
    paint(*im);
    im->SetPos(rnd(-40, W), rnd(-40, H));
    int l = rnd(0, 5);
    ASSERT_TRUE(list_.SetImageLevel(*im, l));
    s.images.push_back(std::move(im));
    s.level.push_back(l);
    s.order.push_back(++stamp);
  }
  target_->Fill(0x0841);
  int drawn = 0;  // pixels the frames changed
  for (int frame = 0; frame < 50; ++frame) {
    for (int change = rnd(1, 8); change > 0; --change) {
      std::size_t i = std::size_t(rnd(0, int(s.images.size()) - 1));
      DrawImage& im = *s.images[i];
      switch (rnd(0, 8)) {
        case 0:
        case 1:
          im.SetPos(im.GetPos().x + rnd(-30, 30), im.GetPos().y + rnd(-30, 30));
          break;
        case 2: {
          int l = rnd(-1, 6);  // -1 unregisters, 6 is out of range
          if (l < 0) {
            list_.RemoveImage(im);
            s.level[i] = -1;
          } else {
            bool same = s.level[i] == l;
            bool ok = list_.SetImageLevel(im, l);
            EXPECT_EQ(ok, l < 6);
            if (!same) s.order[i] = ++stamp;
            s.level[i] = ok ? l : -1;
          }
          break;
        }
        case 3:
          im.SetDraw(!im.GetDraw());
          im.SetUpdate();
          break;
        case 4:
          paint(im);
          im.SetUpdate();
          break;
        case 5: {
          // Parent: another image that is not a descendant.
          std::size_t p = std::size_t(rnd(0, int(s.images.size()) - 1));
          im.Connect(rnd(0, 2) ? s.images[p].get() : nullptr);
          break;
        }
        case 6:
          im.SetRect(DRect(rnd(-5, 10), rnd(-5, 10), rnd(0, im.GetWidth() + 5), rnd(0, im.GetHeight() + 5)));
          im.SetUpdate();
          break;
        case 7:
          im.SetBlend(static_cast<std::uint32_t>(rnd(0, 7)));
          im.SetUpdate();
          break;
        default:
          if (rnd(0, 3) == 0) list_.SetUpdate(rnd(-20, W), rnd(-20, H), rnd(0, 60), rnd(0, 60));
      }
    }
    list_.SetUpdate(rnd(-20, W), rnd(-20, H), rnd(0, 80), rnd(0, 80));
    // Snapshot, update, and the reference: the picture before with every dirty cell recomposed
    // by blitting each drawable image over it, in level and registration order.
    DrawImage before;
    before.Create(nullptr, W, H);
    before.Blt(0, 0, W, H, *target_, 0, 0, 0);
    list_.Update();
    std::vector<std::uint8_t> grid = Grid();
    DrawImage want;
    want.Create(nullptr, W, H);
    want.Blt(0, 0, W, H, before, 0, 0, 0);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < s.images.size(); ++i)
      if (s.level[i] >= 0) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return s.level[a] != s.level[b] ? s.level[a] < s.level[b] : s.order[a] < s.order[b];
    });
    const int cs = list_.GetCellSize();
    for (int r = 0; r < list_.GetRows(); ++r) {
      for (int c = 0; c < list_.GetColumns(); ++c) {
        if (!grid[std::size_t(r * list_.GetColumns() + c)]) continue;
        for (std::size_t i : order) {
          DrawImage& im = *s.images[i];
          if (!im.GetDraw()) continue;
          DPoint64 a = im.GetAbsolutePos64();
          DRect rc = im.GetRect();
          std::int64_t x0 = std::max<std::int64_t>({a.x, c * cs, 0}),
                       y0 = std::max<std::int64_t>({a.y, r * cs, 0});
          std::int64_t x1 = std::min<std::int64_t>(a.x + rc.width, (c + 1) * cs);
          std::int64_t y1 = std::min<std::int64_t>(a.y + rc.height, (r + 1) * cs);
          if (x1 <= x0 || y1 <= y0) continue;
          want.Blt(int(x0), int(y0), int(x1 - x0), int(y1 - y0), im, int(rc.x + x0 - a.x),
                   int(rc.y + y0 - a.y), 3);
        }
      }
    }
    list_.Render();
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) drawn += want.GetPixel(x, y) != before.GetPixel(x, y);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        bool dirty = grid[std::size_t((y / cs) * list_.GetColumns() + x / cs)] != 0;
        ASSERT_EQ(target_->GetPixel(x, y), dirty ? want.GetPixel(x, y) : before.GetPixel(x, y))
            << "frame " << frame << " at " << x << "," << y << (dirty ? " dirty" : " clean");
      }
    }
    list_.ClearDirty();
  }
  EXPECT_GT(drawn, W * H) << "the scenes drew too little to test anything";
}

TEST_F(Sprites, ReattachKeepsLevelsAndRefusesAnotherFormat) {
  Bind(50, 50);
  ASSERT_TRUE(list_.SetLevelCount(2));
  DrawImage a;
  a.Create(nullptr, 5, 5);
  list_.SetImageLevel(a, 1);
  DRef<DrawImage> bigger;
  bigger.Alloc(1);
  bigger->Create(nullptr, 100, 30);
  ASSERT_TRUE(list_.Reattach(DRef<ConnectedImage>::Convert(bigger)));
  EXPECT_EQ(list_.GetColumns(), 5);
  EXPECT_EQ(list_.GetRows(), 2);
  EXPECT_EQ(list_.GetLevelSize(1), 1u);
  for (std::uint8_t g : Grid()) EXPECT_EQ(g, 1);
  ConnectedImage other;  // format 6 as well; a 0 x 0 target gives an empty grid
  DRef<ConnectedImage> o;
  o.Attach(&other);
  EXPECT_TRUE(list_.Reattach(o));
  EXPECT_EQ(list_.GetGrid(), nullptr);
  list_.Update();
  list_.Render();
}

}  // namespace
