// The `ovts` exports of sprites. Each export catches everything and gives its failure value.
#include <cstdint>

#include "api/ov_api.h"
#include "api/tss_exports.h"
#include "display/tss/dtss_manager.h"

bool TssLevelAccepted(int32_t level) {
  return level >= -1 && level <= kDtssMaxLevel;
}

namespace {

int32_t Saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

ApiHandle* ovtsCreateSprite(ApiHandle* image, int32_t level, int32_t flags) noexcept {
  try {
    DRef<DtssImage> i = TssImageOf(image, "ovtsCreateSprite");
    if (!i || !TssLevelAccepted(level)) return nullptr;
    DRef<DtssSprite> sprite = TssManager().CreateSprite(i.Get(), level);
    if (!sprite) return nullptr;
    if (!(flags & 2)) sprite->SetDraw(true);
    ApiHandle* handle = NewApiHandle(kApiTssSprite, DRef<void>::Convert(sprite));
    return handle;
  } catch (...) {
    return nullptr;
  }
}

void ovtsDestroySprite(ApiHandle* sprite) noexcept {
  TssDestroyHandle(sprite, kApiTssSprite, "ovtsDestroySprite");
}

void ovtsSetSpriteDraw(ApiHandle* sprite, int32_t flag) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteDraw")) s->SetDraw(flag != 0);
  } catch (...) {
  }
}

int32_t ovtsIsSpriteDraw(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsIsSpriteDraw")) return s->IsDraw() ? 1 : 0;
  } catch (...) {
  }
  return 0;
}

int32_t ovtsSetSpriteLevel(ApiHandle* sprite, int32_t level) noexcept {
  try {
    DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteLevel");
    if (!s) return 0;
    if (level == s->GetLevel()) return 1;
    // Below -1 a level would be a huge unsigned one: refused before anything is stored.
    if (!TssLevelAccepted(level)) return 0;
    return s->SetLevel(level) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovtsGetSpriteLevel(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsGetSpriteLevel")) return s->GetLevel();
  } catch (...) {
  }
  return 0;
}

void ovtsSetSpritePos(ApiHandle* sprite, int32_t x, int32_t y) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpritePos")) s->SetPos(x, y);
  } catch (...) {
  }
}

OvPoint ovtsGetSpritePos(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsGetSpritePos"))
      return OvPoint{s->GetPos().x, s->GetPos().y};
  } catch (...) {
  }
  return OvPoint{};
}

OvPoint ovtsGetSpriteAbsPos(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsGetSpriteAbsPos")) {
      int64_t x = 0, y = 0;
      s->GetAbsPos(&x, &y);
      return OvPoint{Saturate(x), Saturate(y)};
    }
  } catch (...) {
  }
  return OvPoint{};
}

void ovtsSetSpriteSize(ApiHandle* sprite, int32_t w, int32_t h) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteSize")) s->SetSize(w, h);
  } catch (...) {
  }
}

OvSize ovtsGetSpriteSize(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsGetSpriteSize"))
      return OvSize{s->GetSize().x, s->GetSize().y};
  } catch (...) {
  }
  return OvSize{};
}

void ovtsSetSpriteMap(ApiHandle* sprite, int32_t x, int32_t y, int32_t w, int32_t h) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteMap")) s->SetMap(x, y, w, h);
  } catch (...) {
  }
}

OvRect ovtsGetSpriteMap(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsGetSpriteMap")) {
      const DRect& m = s->GetMap();
      return OvRect{m.x, m.y, m.width, m.height};
    }
  } catch (...) {
  }
  return OvRect{};
}

void ovtsSetSpritePivot(ApiHandle* sprite, float px, float py) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpritePivot")) s->SetPivot(px, py);
  } catch (...) {
  }
}

void ovtsRotateSpriteX(ApiHandle* sprite, float degrees) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsRotateSpriteX")) s->RotateX(degrees);
  } catch (...) {
  }
}

void ovtsRotateSpriteY(ApiHandle* sprite, float degrees) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsRotateSpriteY")) s->RotateY(degrees);
  } catch (...) {
  }
}

void ovtsRotateSpriteZ(ApiHandle* sprite, float degrees) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsRotateSpriteZ")) s->RotateZ(degrees);
  } catch (...) {
  }
}

void ovtsRotateSpriteNone(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsRotateSpriteNone")) s->ResetRotation();
  } catch (...) {
  }
}

void ovtsSetSpriteColorRGB(ApiHandle* sprite, int32_t corner, float r, float g, float b) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteColorRGB")) s->SetColorRGB(corner, r, g, b);
  } catch (...) {
  }
}

void ovtsSetSpriteColorRGBA(ApiHandle* sprite, int32_t corner, float r, float g, float b, float a) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteColorRGBA"))
      s->SetColorRGBA(corner, r, g, b, a);
  } catch (...) {
  }
}

void ovtsSetSpriteColorA(ApiHandle* sprite, int32_t corner, float a) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteColorA")) s->SetColorA(corner, a);
  } catch (...) {
  }
}

void ovtsSetSpriteBlend(ApiHandle* sprite, int32_t mode) noexcept {
  try {
    DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteBlend");
    if (s && mode >= 0 && mode <= 7) s->SetBlend(static_cast<uint32_t>(mode));
  } catch (...) {
  }
}

int32_t ovtsGetSpriteBlend(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsGetSpriteBlend"))
      return static_cast<int32_t>(s->GetBlend());
  } catch (...) {
  }
  return 0;
}

void ovtsSetSpriteAlphaTest(ApiHandle* sprite, float value) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteAlphaTest")) s->SetAlphaTest(value);
  } catch (...) {
  }
}

float ovtsGetSpriteAlphaTest(ApiHandle* sprite) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsGetSpriteAlphaTest"))
      return static_cast<float>(s->GetAlphaRef()) * 0.003921569f;
  } catch (...) {
  }
  return 0.0f;
}

void ovtsSetSpriteNcMode(ApiHandle* sprite, int32_t flag) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteNcMode")) s->SetFreeCornerMode(flag != 0);
  } catch (...) {
  }
}

void ovtsSetSpriteNcPos(ApiHandle* sprite, int32_t corner, float x, float y) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteNcPos")) s->SetFreeCornerPos(corner, x, y);
  } catch (...) {
  }
}

void ovtsSetSpriteNcImageMap(ApiHandle* sprite, int32_t corner, int32_t u, int32_t v) noexcept {
  try {
    if (DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteNcImageMap"))
      s->SetFreeCornerMap(corner, u, v);
  } catch (...) {
  }
}

void ovtsConnectSprite(ApiHandle* sprite, ApiHandle* parent) noexcept {
  try {
    DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsConnectSprite");
    if (!s) return;
    if (parent == nullptr) {
      s->Connect(DRef<DtssSprite>());
      return;
    }
    // A parent handle that holds no live sprite changes nothing (it does not detach).
    DRef<DtssSprite> p = TssSpriteOf(parent, "ovtsConnectSprite");
    if (p) s->Connect(p);
  } catch (...) {
  }
}

void ovtsSetSpriteWipe(ApiHandle* sprite, ApiHandle* wipe, int32_t direction) noexcept {
  try {
    DRef<DtssSprite> s = TssSpriteOf(sprite, "ovtsSetSpriteWipe");
    if (!s) return;
    if (wipe == nullptr) {
      s->SetWipe(nullptr, direction);
      return;
    }
    if (DRef<DtssWipe> w = TssWipeOf(wipe, "ovtsSetSpriteWipe")) s->SetWipe(w.Get(), direction);
  } catch (...) {
  }
}
