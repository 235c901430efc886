// End to end on the headless host: keyed run-map sprites, a level-blended image, an alpha-plane
// image, half / add / subtract images and a wipe step go through the sprite list and the screen's
// present; the window shows exactly what an independent compositor computes, windowed and in full
// screen, in both screen formats.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/display/screen_fixture.h"

namespace {

// ---- The reference compositor: one pixel at a time, in the screen's format.
struct Fmt {
  std::uint32_t code;
  int Ch(std::uint16_t p, int c) const {
    if (code == 6) return c == 0 ? p >> 11 : c == 1 ? (p >> 6) & 31 : p & 31;
    return c == 0 ? (p >> 10) & 31 : c == 1 ? (p >> 5) & 31 : p & 31;
  }
  std::uint16_t Pack(int r, int g, int b) const {
    return static_cast<std::uint16_t>(code == 6 ? ((r << 5 | g) << 6) | b : ((r << 5 | g) << 5) | b);
  }
};

struct Sprite {
  std::vector<std::uint16_t> px;
  std::vector<std::uint8_t> alpha;
  int w, h, x, y;
  std::uint32_t kind;
  int level;
  bool key;
  std::uint16_t key_value;
  DRef<DrawImage> image;
};

void Compose(const Fmt& f, std::vector<std::uint16_t>& screen, const Sprite& s) {
  for (int j = 0; j < s.h; ++j) {
    for (int i = 0; i < s.w; ++i) {
      int X = s.x + i, Y = s.y + j;
      if (X < 0 || Y < 0 || X >= 640 || Y >= 480) continue;
      std::uint16_t src = s.px[std::size_t(j * s.w + i)];
      if (s.key && src == s.key_value) continue;
      std::uint16_t& d = screen[std::size_t(Y * 640 + X)];
      int m = s.alpha.empty() ? 0 : s.alpha[std::size_t(j * s.w + i)];
      int w = s.kind == 1 ? s.level : s.kind == 2 ? m : 0;
      int out[3];
      for (int c = 0; c < 3; ++c) {
        int dc = f.Ch(d, c), sc = f.Ch(src, c);
        switch (s.kind) {
          case 1:
          case 2:
            out[c] = ((w * (dc + 1)) >> 5) + (((31 - w) * (sc + 1)) >> 5);
            break;
          case 4:
            out[c] = (dc >> 1) + (sc >> 1);
            break;
          case 5:
            out[c] = std::min(dc + sc, 31);
            break;
          case 6:
            out[c] = std::max(dc - sc, 0);
            break;
          default:
            out[c] = sc;
        }
      }
      d = s.kind == 0 ? src : f.Pack(out[0], out[1], out[2]);
    }
  }
}

class DrawEndToEnd : public ScreenFixture, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(DrawEndToEnd, WindowAndFullScreenShowTheComposition) {
  orvane::dx::DeviceProfile p;
  if (GetParam() == 4) p.modes = {{640, 480, 16, true}, {640, 480, 32, false}};
  orvane::dx::SetProfile(p);
  ASSERT_TRUE(screen_.Init(window_));
  ASSERT_EQ(screen_.GetPixelFormat(), GetParam());
  const Fmt f{GetParam()};
  std::mt19937 rng(GetParam());
  auto rnd = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  auto colour = [&] { return f.Pack(rnd(0, 31), rnd(0, 31), rnd(0, 31)); };
  SpriteList& list = screen_.GetSpriteList();
  ASSERT_TRUE(list.SetLevelCount(4));

  std::vector<Sprite> sprites;
  auto add = [&](int w, int h, int x, int y, std::uint32_t kind, int level, bool key, bool alpha, int layer) {
    Sprite s{std::vector<std::uint16_t>(std::size_t(w * h)),
             {},
             w,
             h,
             x,
             y,
             kind,
             level,
             key,
             f.Pack(31, 0, 31),
             {}};
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        s.px[std::size_t(j * w + i)] = key && ((i / 5 + j / 3) % 3 == 0) ? s.key_value : colour();
    s.image = screen_.CreateImage(w, h);
    DrawImage& im = *s.image;
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) im.PutPixel(i, j, s.px[std::size_t(j * w + i)]);
    im.SetTrans(key, 31, 0, 31);
    im.SetFastTrans(key);
    if (alpha) {
      im.EnableAlpha(true);
      s.alpha.resize(std::size_t(w * h));
      for (auto& a : s.alpha) a = static_cast<std::uint8_t>(rnd(0, 31));
      std::copy(s.alpha.begin(), s.alpha.end(), im.GetAlphaPlane().Get());
    }
    im.SetBlend(kind);
    im.SetAlphaKey(static_cast<std::uint32_t>(level));
    im.SetPos(x, y);
    EXPECT_TRUE(list.SetImageLevel(im, layer));
    sprites.push_back(std::move(s));
  };
  add(640, 480, 0, 0, 0, 0, false, false, 0);  // background
  for (int i = 0; i < 6; ++i)
    add(64, 64, rnd(-40, 620), rnd(-40, 460), 0, 0, true, false, 1);  // keyed, run map
  add(200, 150, 100, 80, 1, 10, false, false, 2);                     // level-blended
  add(120, 90, 300, 200, 2, 0, false, true, 2);                       // alpha plane
  add(90, 70, 500, 400, 4, 0, true, false, 3);                        // half, keyed
  add(90, 70, -20, 300, 5, 0, false, false, 3);                       // add
  add(100, 60, 250, 20, 6, 0, true, false, 3);                        // subtract, keyed
  // A wipe step into the background: a second picture revealed where the map is at most T.
  {
    Sprite& bg = sprites[0];
    DRef<DrawImage> other = screen_.CreateImage(640, 480);
    std::vector<std::uint16_t> opx(640 * 480);
    for (int i = 0; i < 640 * 480; ++i) other->PutPixel(i % 640, i / 640, opx[std::size_t(i)] = colour());
    DImage pic;
    ASSERT_TRUE(pic.Create(32, 32, 0, DimgFormat::RGB888));
    for (int j = 0; j < 32; ++j)
      for (int i = 0; i < 32; ++i) {
        std::uint8_t* q = pic.GetPixelPointer(i, j);
        q[0] = q[1] = 0;
        q[2] = static_cast<std::uint8_t>((i * 8) ^ (j * 5));
      }
    DRef<WipeMap> map = screen_.LoadWipe(pic, 0);
    ASSERT_TRUE(map);
    const std::uint32_t T = 16000;
    bg.image->BltWipe(*other, 0, 0, 640, 480, 0, 0, *map, T, 1);
    for (int i = 0; i < 640 * 480; ++i)
      if ((map->At(std::uint32_t(i % 640), std::uint32_t(i / 640)) & 0x7FFF) <= T)
        bg.px[std::size_t(i)] = opx[std::size_t(i)];
  }
  auto reference = [&] {
    std::vector<std::uint16_t> screen(640 * 480, 0);
    for (int layer = 0; layer < 4; ++layer)
      for (const Sprite& s : sprites)
        if (s.image->level_ == std::uint32_t(layer)) Compose(f, screen, s);
    std::vector<std::uint32_t> out;
    for (std::uint16_t px : screen) out.push_back(Expand(px, f.code));
    return out;
  };
  auto frame = [&] {
    list.Update();
    list.Render();
    screen_.Present();
    list.ClearDirty();
  };
  frame();
  ASSERT_EQ(Shown(), reference()) << "first frame, window";
  // Some sprites move; the next frame redraws only their cells.
  for (std::size_t i = 1; i < sprites.size(); i += 2) {
    sprites[i].x += 37;
    sprites[i].y -= 11;
    sprites[i].image->SetPos(sprites[i].x, sprites[i].y);
  }
  frame();
  ASSERT_EQ(Shown(), reference()) << "second frame, window";
  // Full screen: the same picture through the primary surface.
  orvane::dx::CapturePresents(true);
  ASSERT_TRUE(screen_.SetFullscreen(true));
  frame();
  orvane::dx::Capture cap;
  ASSERT_TRUE(orvane::dx::TakeCapture(window_.GetHandle(), &cap));
  std::vector<std::uint32_t> shown;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) shown.push_back(cap.pixels[std::size_t(y * cap.width + x)]);
  ASSERT_EQ(shown, reference()) << "full screen";
  ASSERT_EQ(Shown(), reference()) << "full screen, client surface";
  // And with flip-screen mode, through the back buffer and a flip.
  screen_.SetFlipscreen(true);
  sprites[2].x += 5;
  sprites[2].image->SetPos(sprites[2].x, sprites[2].y);
  frame();
  ASSERT_EQ(Shown(), reference()) << "full screen, flipped";
}

INSTANTIATE_TEST_SUITE_P(Formats, DrawEndToEnd, ::testing::Values(6u, 4u));

}  // namespace
