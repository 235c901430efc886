// DtssSprite: the sprite's data, its level and parent links, its setters, the vertices of its
// quad or tiles (turned, free-cornered, faded) and its draw.
#include "display/tss/dtss_sprite.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/dlogstream.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_wipe.h"
#include "imaging/dimg_clip.h"

namespace {

// A colour component as 0..255: clamped to 0.0..1.0 (NaN 0), times 255, truncated.
uint32_t Pack(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint32_t>(v * 255.0f);
}

uint32_t PackColor(float r, float g, float b, float a) {
  return Pack(a) << 24 | Pack(r) << 16 | Pack(g) << 8 | Pack(b);
}

// Degrees to radians as the sprite exports convert them.
constexpr float kRadiansPerDegree = 0.017453292f;

D3DXMATRIX Identity() {
  D3DXMATRIX m{};
  for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
  return m;
}

// Indices of kQuadsPerCall quads of 4 vertices (TL, TR, BL, BR): TL, TR, BL, BL, TR, BR each.
// Built at compile time into read-only data, so a start writes no page for it.
struct QuadIndices {
  uint16_t v[DtssSprite::kQuadsPerCall * 6] = {};
  constexpr QuadIndices() {
    for (uint32_t q = 0; q < DtssSprite::kQuadsPerCall; ++q) {
      const uint16_t b = static_cast<uint16_t>(q * 4);
      const uint16_t quad[6] = {b,
                                static_cast<uint16_t>(b + 1),
                                static_cast<uint16_t>(b + 2),
                                static_cast<uint16_t>(b + 2),
                                static_cast<uint16_t>(b + 1),
                                static_cast<uint16_t>(b + 3)};
      for (int i = 0; i < 6; ++i) v[q * 6 + i] = quad[i];
    }
  }
};
constexpr QuadIndices kQuadIndices;

// One axis of the tiling under a wipe: the tiles start at the pattern's periods on the screen, so
// the mask stays anchored there wherever the sprite moves. `a` is the absolute position, `len`
// the sprite's length, `period` the pattern's and `tex` the mask texture's length on the axis.
struct Axis {
  uint64_t count = 1;
  int64_t first = 0;  // the first tile's length
  int64_t f = 0;      // the length from the sprite's edge to the pattern's next period
};

Axis TileAxis(bool tiled, int64_t a, int64_t len, int64_t period) {
  Axis r;
  r.first = len;
  if (!tiled) return r;
  const int64_t f = period - a % period;  // 1 .. 2 x period - 1: keeps the pattern on its grid
  r.f = f;
  if (f >= len) return r;
  r.first = f;
  r.count = static_cast<uint64_t>(len - f + period - 1) / static_cast<uint64_t>(period) + 1;
  return r;
}

// Edge positions and stage-1 coordinates of tile i: low and high.
void TileEdges(const Axis& ax, bool tiled, uint64_t i, int64_t len, int64_t period, float tex, float* lo,
               float* hi, float* c_lo, float* c_hi) {
  int64_t left = i == 0 ? 0 : ax.first + static_cast<int64_t>(i - 1) * period;
  int64_t right = i == 0 ? ax.first : ax.first + static_cast<int64_t>(i) * period;
  const bool last = i + 1 == ax.count;
  if (last) right = len;
  *lo = static_cast<float>(left);
  *hi = static_cast<float>(right);
  if (!tiled) {
    *c_lo = *c_hi = 0.0f;
    return;
  }
  const float t = static_cast<float>(period) / tex;
  *c_lo = i == 0 ? t - static_cast<float>(ax.f) / tex : 0.0f;
  *c_hi = last ? *c_lo + static_cast<float>(right - left) / tex : t;
}

}  // namespace

DtssSprite::~DtssSprite() {
  Release();
}

bool DtssSprite::Init(DtssManager* manager, const DRef<DtssImage>& image, int32_t level) {
  if (manager_ || !manager || !image) return false;
  manager_ = manager;
  image_ = image;
  const DPoint& size = image_->GetSize();
  map_ = DRect(0, 0, size.x, size.y);
  parent_ = nullptr;
  level_ = level;
  flags_ = kRebuild;
  rect_ = DRect(0, 0, size.x, size.y);
  for (Color& c : colors_) c = Color{1.0f, 1.0f, 1.0f, 1.0f};
  blend_ = 0;
  alpha_ref_ = 0;
  wipe_.Release();
  wipe_direction_ = 0;
  applied_level_ = -1;
  too_many_tiles_ = tile_cap_logged_ = 0;
  pivot_[0] = pivot_[1] = pivot_[2] = 0.0f;
  transform_ = Identity();
  for (int i = 0; i < 4; ++i) {
    nc_x_[i] = nc_y_[i] = 0.0f;
    nc_map_[i] = DPoint();
  }
  vertex_ptr_ = vertices_;
  color_ptr_ = vertex_colors_;
  vertex_count_ = 0;
  columns_ = rows_ = 0;
  list_level_ = -1;
  prev_ = next_ = nullptr;
  for (DtssVertex& v : vertices_) {
    v.z = 0.0f;
    v.rhw = 1.0f;
  }
  if (!manager_->SetSpriteLevel(this, level)) {
    manager_ = nullptr;
    image_.Release();
    return false;
  }
  image_->AddSprite(this);
  return true;
}

void DtssSprite::Release() {
  if (!manager_) return;
  _DetachWipe();
  _DisconnectChildren();
  Connect(DRef<DtssSprite>());
  if (image_) image_->RemoveSprite(this);
  manager_->_RemoveFromLevel(this);
  vertex_count_ = 0;
  vertex_ptr_ = vertices_;
  color_ptr_ = vertex_colors_;
  std::vector<DtssVertex>().swap(tile_vertices_);
  std::vector<Color>().swap(tile_colors_);
  manager_ = nullptr;
  image_.Release();
  children_.Clear();
}

void DtssSprite::SetDraw(bool shown) {
  if (!manager_) return;
  if (shown) {
    flags_ |= kShown;
    manager_->SetSpriteLevel(this, level_);
  } else {
    flags_ &= ~kShown;
    manager_->_RemoveFromLevel(this);
  }
}

bool DtssSprite::SetLevel(int32_t level) {
  if (!manager_) return false;
  if (level == level_) return true;
  level_ = level;
  return manager_->SetSpriteLevel(this, level);
}

bool DtssSprite::Connect(const DRef<DtssSprite>& parent) {
  if (!manager_) return false;
  // A parent whose chain reaches this sprite would make a cycle.
  for (DtssSprite* p = parent.Get(); p; p = p->parent_)
    if (p == this) return false;
  if (parent_) {
    parent_->children_.Erase(parent_entry_);
    parent_ = nullptr;
    parent_entry_ = DRefList<DtssSprite>::Iterator();
  }
  if (parent && parent->manager_) {
    parent_ = parent.Get();
    DRef<DtssSprite> self;
    self.Attach(this);
    parent_entry_ = parent_->children_.PushBack(self);
  }
  return true;
}

void DtssSprite::_DisconnectChildren() {
  while (!children_.IsEmpty()) {
    DRef<DtssSprite> child = children_.Front();
    child->parent_ = nullptr;
    child->parent_entry_ = DRefList<DtssSprite>::Iterator();
    children_.Erase(children_.Begin());
  }
}

void DtssSprite::MarkDirty() {
  // Iterative walk: a deep family needs no deep stack.
  std::vector<DtssSprite*> todo{this};
  while (!todo.empty()) {
    DtssSprite* s = todo.back();
    todo.pop_back();
    s->flags_ |= kRebuild;
    for (auto it = s->children_.Begin(); !(it == s->children_.End()); it = it.Next())
      todo.push_back(it.Value().Get());
  }
}

void DtssSprite::SetPos(int32_t x, int32_t y) {
  rect_.x = x;
  rect_.y = y;
  MarkDirty();
}

void DtssSprite::GetAbsPos(int64_t* x, int64_t* y) const {
  int64_t ax = 0, ay = 0;
  for (const DtssSprite* s = this; s; s = s->parent_) {
    ax += s->rect_.x;
    ay += s->rect_.y;
  }
  *x = ax;
  *y = ay;
}

void DtssSprite::SetSize(int32_t width, int32_t height) {
  rect_.width = width;
  rect_.height = height;
  flags_ |= kRebuild;
}

void DtssSprite::SetMap(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!image_) return;
  uint32_t w = width < 0 ? 0 : static_cast<uint32_t>(width),
           h = height < 0 ? 0 : static_cast<uint32_t>(height);
  const DPoint& size = image_->GetSize();
  DimgClip(x, y, w, h, static_cast<uint32_t>(size.x < 0 ? 0 : size.x),
           static_cast<uint32_t>(size.y < 0 ? 0 : size.y));
  map_ = DRect(x, y, static_cast<int32_t>(w), static_cast<int32_t>(h));
  flags_ |= kRebuild;
}

void DtssSprite::SetColorRGBA(int corner, float r, float g, float b, float a) {
  if (corner < 0 || corner > 3) return;
  colors_[corner] = Color{r, g, b, a};
  flags_ |= kRebuild;
}

void DtssSprite::SetColorRGB(int corner, float r, float g, float b) {
  if (corner < 0 || corner > 3) return;
  colors_[corner].r = r;
  colors_[corner].g = g;
  colors_[corner].b = b;
  flags_ |= kRebuild;
}

void DtssSprite::SetColorA(int corner, float a) {
  if (corner < 0 || corner > 3) return;
  colors_[corner].a = a;
  flags_ |= kRebuild;
}

void DtssSprite::SetBlend(uint32_t mode) {
  if (mode <= 7) blend_ = mode;
}

void DtssSprite::SetAlphaTest(float v) {
  if (!(v >= 0.0038215686f))
    alpha_ref_ = 0;
  else if (v >= 1.0f)
    alpha_ref_ = 255;
  else
    alpha_ref_ = static_cast<uint32_t>(std::lround(v * 255.0f));
}

void DtssSprite::SetPivot(float x, float y) {
  pivot_[0] = x;
  pivot_[1] = y;
  flags_ |= kRebuild;
}

void DtssSprite::RotateX(float degrees) {
  D3DXMATRIX r;
  D3DXMatrixRotationX(&r, degrees * kRadiansPerDegree);
  D3DXMatrixMultiply(&transform_, &transform_, &r);
  flags_ |= kRotated | kRebuild;
}

void DtssSprite::RotateY(float degrees) {
  D3DXMATRIX r;
  D3DXMatrixRotationY(&r, degrees * kRadiansPerDegree);
  D3DXMatrixMultiply(&transform_, &transform_, &r);
  flags_ |= kRotated | kRebuild;
}

void DtssSprite::RotateZ(float degrees) {
  D3DXMATRIX r;
  D3DXMatrixRotationZ(&r, degrees * kRadiansPerDegree);
  D3DXMatrixMultiply(&transform_, &transform_, &r);
  flags_ |= kRotated | kRebuild;
}

void DtssSprite::ResetRotation() {
  transform_ = Identity();
  flags_ = (flags_ & ~kRotated) | kRebuild;
}

void DtssSprite::SetFreeCornerMode(bool on) {
  if (on)
    flags_ |= kFreeCorner;
  else
    flags_ &= ~kFreeCorner;
  flags_ |= kRebuild;
}

void DtssSprite::SetFreeCornerPos(int corner, float x, float y) {
  if (corner < 0 || corner > 3) return;
  nc_x_[corner] = x;
  nc_y_[corner] = y;
  flags_ |= kRebuild;
}

void DtssSprite::SetFreeCornerMap(int corner, int32_t x, int32_t y) {
  if (corner < 0 || corner > 3) return;
  nc_map_[corner] = DPoint(x, y);
  flags_ |= kRebuild;
}

void DtssSprite::_DetachWipe() {
  if (!wipe_) return;
  flags_ |= kRebuild;
  DRef<DtssWipe> wipe = wipe_;  // holds the wipe while the sprite leaves it
  wipe_.Release();
  wipe->RemoveSprite(this);
}

void DtssSprite::_LoseWipe() {
  flags_ |= kRebuild;
  wipe_.Release();
}

void DtssSprite::SetWipe(DtssWipe* wipe, int32_t direction) {
  if (!manager_) return;
  if (wipe && direction != 0 && direction != 1) return;
  _DetachWipe();
  flags_ |= kRebuild;
  DRef<DtssWipe> found = manager_->_FindWipe(wipe);
  if (!found) return;
  wipe_ = found;
  wipe_->AddSprite(this);
  wipe_direction_ = direction;
  applied_level_ = -1;
}

bool DtssSprite::_Tiled() const {
  return wipe_ && manager_->IsMultitexture() && !(flags_ & kFreeCorner);
}

void DtssSprite::_Grow(uint64_t count) {
  if (count <= 4) {
    vertex_ptr_ = vertices_;
    color_ptr_ = vertex_colors_;
    return;
  }
  if (tile_vertices_.size() < count) {
    tile_vertices_.resize(count, DtssVertex{0.0f, 0.0f, 0.0f, 1.0f, 0, 0.0f, 0.0f, 0.0f, 0.0f});
    tile_colors_.resize(count);
  }
  vertex_ptr_ = tile_vertices_.data();
  color_ptr_ = tile_colors_.data();
}

void DtssSprite::_PackColor(uint32_t i) {
  const Color& c = color_ptr_[i];
  vertex_ptr_[i].diffuse = PackColor(c.r, c.g, c.b, c.a);
}

void DtssSprite::_BuildVertices() {
  int64_t ax, ay;
  GetAbsPos(&ax, &ay);
  const DPoint& ts = image_->GetTextureSize();
  const float tw = static_cast<float>(ts.x > 0 ? ts.x : 1), th = static_cast<float>(ts.y > 0 ? ts.y : 1);
  const double offset = (manager_->GetFlags() & kDtssNoHalfPixel) ? 0.0 : 0.5;
  // A rebuild rewrites the colours, so a wipe's fade must be folded in again.
  if (wipe_) applied_level_ = -1;
  too_many_tiles_ = 0;

  if (flags_ & kFreeCorner) {
    _Grow(4);
    for (uint32_t i = 0; i < 4; ++i) {
      DtssVertex& v = vertex_ptr_[i];
      v.x = nc_x_[i];
      v.y = nc_y_[i];
      v.z = 0.0f;
      v.rhw = 1.0f;
      v.tu0 = static_cast<float>(nc_map_[i].x) / tw;
      v.tv0 = static_cast<float>(nc_map_[i].y) / th;
      v.tu1 = v.tv1 = 0.0f;
      color_ptr_[i] = colors_[i];
      _PackColor(i);
    }
    vertex_count_ = 4;
    columns_ = rows_ = 1;
  } else {
    const int64_t iw = rect_.width, ih = rect_.height;
    const float w = static_cast<float>(iw), h = static_cast<float>(ih);
    bool tiled = _Tiled();
    int64_t pw = 0, ph = 0;
    float texw = 0.0f, texh = 0.0f;
    if (tiled) {
      pw = wipe_->GetMaskSize().x;
      ph = wipe_->GetMaskSize().y;
      texw = static_cast<float>(wipe_->GetTextureSize().x);
      texh = static_cast<float>(wipe_->GetTextureSize().y);
      tiled = pw >= 1 && ph >= 1 && texw >= 1.0f && texh >= 1.0f;
    }
    Axis cols = TileAxis(tiled, ax, iw, pw), rows = TileAxis(tiled, ay, ih, ph);
    if (tiled && cols.count * rows.count > kMaxTiles) {
      // Too many tiles to hand over: fade the whole quad instead.
      if (!tile_cap_logged_) {
        DDebugLog() << "[DtssSprite::_BuildVertices] " << cols.count * rows.count
                    << " wipe tiles, fading instead.\n";
        tile_cap_logged_ = 1;
      }
      too_many_tiles_ = 1;
      tiled = false;
      cols = TileAxis(false, ax, iw, pw);
      rows = TileAxis(false, ay, ih, ph);
    }
    columns_ = cols.count;
    rows_ = rows.count;
    _Grow(cols.count * rows.count * 4);
    const bool rotated = (flags_ & kRotated) != 0;
    const float px = w * pivot_[0], py = h * pivot_[1];
    uint32_t n = 0;
    for (uint64_t r = 0; r < rows.count; ++r) {
      float y[2], tv1[2];
      TileEdges(rows, tiled, r, ih, ph, texh, &y[0], &y[1], &tv1[0], &tv1[1]);
      for (uint64_t c = 0; c < cols.count; ++c) {
        float x[2], tu1[2];
        TileEdges(cols, tiled, c, iw, pw, texw, &x[0], &x[1], &tu1[0], &tu1[1]);
        for (uint32_t k = 0; k < 4; ++k, ++n) {
          const float vx = x[k & 1], vy = y[k >> 1];
          const float s = vx / w, t = vy / h;
          DtssVertex& v = vertex_ptr_[n];
          v.tu0 = static_cast<float>(map_.x) / tw + s * (static_cast<float>(map_.width) / tw);
          v.tv0 = static_cast<float>(map_.y) / th + t * (static_cast<float>(map_.height) / th);
          v.tu1 = tu1[k & 1];
          v.tv1 = tv1[k >> 1];
          Color left, right;
          left.r = colors_[0].r + (colors_[2].r - colors_[0].r) * t;
          left.g = colors_[0].g + (colors_[2].g - colors_[0].g) * t;
          left.b = colors_[0].b + (colors_[2].b - colors_[0].b) * t;
          left.a = colors_[0].a + (colors_[2].a - colors_[0].a) * t;
          right.r = colors_[1].r + (colors_[3].r - colors_[1].r) * t;
          right.g = colors_[1].g + (colors_[3].g - colors_[1].g) * t;
          right.b = colors_[1].b + (colors_[3].b - colors_[1].b) * t;
          right.a = colors_[1].a + (colors_[3].a - colors_[1].a) * t;
          color_ptr_[n] = Color{left.r + (right.r - left.r) * s, left.g + (right.g - left.g) * s,
                                left.b + (right.b - left.b) * s, left.a + (right.a - left.a) * s};
          _PackColor(n);
          v.x = vx;
          v.y = vy;
          if (rotated) {
            const D3DXVECTOR2 rel{vx - px, vy - py};
            D3DXVECTOR4 out;
            D3DXVec2Transform(&out, &rel, &transform_);
            v.x = px + out.x;
            v.y = py + out.y;
          }
          v.z = 0.0f;
          v.rhw = 1.0f;
        }
      }
    }
    vertex_count_ = n;
  }
  for (uint32_t i = 0; i < vertex_count_; ++i) {
    DtssVertex& v = vertex_ptr_[i];
    v.x = static_cast<float>(static_cast<double>(v.x) + static_cast<double>(ax) - offset);
    v.y = static_cast<float>(static_cast<double>(v.y) + static_cast<double>(ay) - offset);
  }
  flags_ &= ~kRebuild;
}

void DtssSprite::_ApplyWipeFade() {
  if (!wipe_) return;
  const uint32_t level = wipe_->GetLevel();
  const float factor = static_cast<float>(wipe_direction_ == 1 ? level : 255 - level) * (1.0f / 255.0f);
  for (uint32_t i = 0; i < vertex_count_; ++i) {
    const Color& c = color_ptr_[i];
    vertex_ptr_[i].diffuse = PackColor(c.r * factor, c.g * factor, c.b * factor, c.a * factor);
  }
  applied_level_ = static_cast<int32_t>(level);
}

void DtssSprite::Draw() {
  if (!manager_ || !image_ || !image_->GetTexture()) return;
  if (rect_.width == 0 || rect_.height == 0) return;  // nothing to draw (and no division by 0)
  if (flags_ & kRebuild) _BuildVertices();
  IDirectDrawSurface7* stage1 = nullptr;
  if (wipe_) {
    if (_Tiled() && !too_many_tiles_)
      stage1 = wipe_direction_ == 1 ? wipe_->GetTextureB() : wipe_->GetTextureA();
    else if (static_cast<int64_t>(wipe_->GetLevel()) != applied_level_)
      _ApplyWipeFade();
  }
  // Four vertices per tile: hand them over in calls of at most kQuadsPerCall tiles.
  for (uint32_t first = 0; first < vertex_count_; first += kQuadsPerCall * 4) {
    const uint32_t nv = std::min(vertex_count_ - first, kQuadsPerCall * 4);
    manager_->_AddPrimitives(vertex_ptr_ + first, nv, kQuadIndices.v, nv / 4 * 6, image_->GetTexture(),
                             stage1, blend_, alpha_ref_);
  }
}
