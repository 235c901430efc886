// Helpers of the sprite tests: pictures in the fake's files and sub-sprite arrays built from them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "game/sprite.h"
#include "tests/game/game_fixture.h"

namespace orvane_test {

struct SubDef {
  SubDef(std::string picture_, int32_t w, int32_t h, int32_t x = 0, int32_t y = 0, int32_t columns_ = 1,
         int32_t rows_ = 1, std::vector<std::vector<DSpriteCell>> sets_ = {})
      : picture(std::move(picture_)),
        picture_w(w),
        picture_h(h),
        def_x(x),
        def_y(y),
        columns(columns_),
        rows(rows_),
        sets(std::move(sets_)) {}
  std::string picture;  // path of a PNG of the size below, added to the fake's files
  int32_t picture_w, picture_h;
  int32_t def_x, def_y;
  int32_t columns, rows;
  std::vector<std::vector<DSpriteCell>> sets;
};

class SpriteTest : public GameTest {
 protected:
  SpriteTest() { SetTimerRedraw(&sprRender); }

  DRef<DSubSprite> Subs(const std::vector<SubDef>& defs) {
    DRef<DSubSprite> subs;
    subs.Alloc(static_cast<uint32_t>(defs.size()));
    for (size_t i = 0; i < defs.size(); ++i) {
      const SubDef& d = defs[i];
      engine.AddFile(d.picture, FakeEngine::PngFile(d.picture_w, d.picture_h));
      subs[i].image = LoadImageCached(-d.columns, -d.rows, d.picture.c_str(), false, "");
      subs[i].def_x = d.def_x;
      subs[i].def_y = d.def_y;
      subs[i].columns = d.columns;
      subs[i].rows = d.rows;
      subs[i].set_count = static_cast<int32_t>(d.sets.size());
      if (!d.sets.empty()) {
        subs[i].sets.Alloc(static_cast<uint32_t>(d.sets.size()));
        for (size_t s = 0; s < d.sets.size(); ++s) {
          subs[i].sets[s].count = static_cast<int32_t>(d.sets[s].size());
          subs[i].sets[s].cells.Alloc(static_cast<uint32_t>(d.sets[s].size()));
          for (size_t c = 0; c < d.sets[s].size(); ++c) subs[i].sets[s].cells[c] = d.sets[s][c];
        }
      }
    }
    return subs;
  }

  // A one-picture sprite of w x h in the slot.
  void Simple(int32_t slot, int32_t w, int32_t h, uint32_t flags, int32_t level = 5, int32_t sprite_class = 0,
              const char* wipe = "none") {
    const std::string name =
        "pic" + std::to_string(slot) + "_" + std::to_string(w) + "x" + std::to_string(h) + ".png";
    sprCreate(slot, sprite_class, level, 1, Subs({{name, w, h}}), 0, 0, 0, 0, flags, wipe);
  }

  // The frame's entries of the sprite's engine sprites (by its sub-sprite 0 image).
  static const FakeEngine::FrameSprite* Find(const FakeEngine::Frame& frame, ApiHandle* image) {
    for (const auto& s : frame.sprites)
      if (s.image == image) return &s;
    return nullptr;
  }
  ApiHandle* ImageOf(int32_t slot) { return Sprite(slot).subs[0].image->handle; }
};

}  // namespace orvane_test
