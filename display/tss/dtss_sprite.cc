// DtssSprite: the sprite's data, its level and parent links, its setters and the vertices of its
// quad.
#include "display/tss/dtss_sprite.h"

#include <cmath>
#include <vector>

#include "display/tss/dtss_image.h"
#include "imaging/dimg_clip.h"

namespace {

// A colour component as 0..255: clamped to 0.0..1.0 (NaN 0), times 255, truncated.
uint32_t Pack(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint32_t>(v * 255.0f);
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
  vertex_count_ = 0;
  index_count_ = 0;
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
  _DisconnectChildren();
  Connect(DRef<DtssSprite>());
  if (image_) image_->RemoveSprite(this);
  manager_->_RemoveFromLevel(this);
  vertex_count_ = index_count_ = 0;
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

void DtssSprite::_PackColor(uint32_t i) {
  const Color& c = vertex_colors_[i];
  vertices_[i].diffuse = Pack(c.a) << 24 | Pack(c.r) << 16 | Pack(c.g) << 8 | Pack(c.b);
}

void DtssSprite::_BuildVertices() {
  int64_t ax, ay;
  GetAbsPos(&ax, &ay);
  const float w = static_cast<float>(rect_.width), h = static_cast<float>(rect_.height);
  const DPoint& ts = image_->GetTextureSize();
  const float tw = static_cast<float>(ts.x > 0 ? ts.x : 1), th = static_cast<float>(ts.y > 0 ? ts.y : 1);
  const float xs[2] = {0.0f, w}, ys[2] = {0.0f, h};
  const float offset = (manager_->GetFlags() & kDtssNoHalfPixel) ? 0.0f : 0.5f;
  for (uint32_t i = 0; i < 4; ++i) {
    float x = xs[i & 1], y = ys[i >> 1];
    float s = x / w, t = y / h;  // the caller keeps w and h non-zero
    DtssVertex& v = vertices_[i];
    v.tu0 = static_cast<float>(map_.x) / tw + s * (static_cast<float>(map_.width) / tw);
    v.tv0 = static_cast<float>(map_.y) / th + t * (static_cast<float>(map_.height) / th);
    v.tu1 = v.tv1 = 0.0f;
    Color left, right;
    left.r = colors_[0].r + (colors_[2].r - colors_[0].r) * t;
    left.g = colors_[0].g + (colors_[2].g - colors_[0].g) * t;
    left.b = colors_[0].b + (colors_[2].b - colors_[0].b) * t;
    left.a = colors_[0].a + (colors_[2].a - colors_[0].a) * t;
    right.r = colors_[1].r + (colors_[3].r - colors_[1].r) * t;
    right.g = colors_[1].g + (colors_[3].g - colors_[1].g) * t;
    right.b = colors_[1].b + (colors_[3].b - colors_[1].b) * t;
    right.a = colors_[1].a + (colors_[3].a - colors_[1].a) * t;
    vertex_colors_[i] = Color{left.r + (right.r - left.r) * s, left.g + (right.g - left.g) * s,
                              left.b + (right.b - left.b) * s, left.a + (right.a - left.a) * s};
    _PackColor(i);
    v.x = static_cast<float>(static_cast<double>(x) + static_cast<double>(ax) - offset);
    v.y = static_cast<float>(static_cast<double>(y) + static_cast<double>(ay) - offset);
    v.z = 0.0f;
    v.rhw = 1.0f;
  }
  const uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
  for (int i = 0; i < 6; ++i) indices_[i] = quad[i];
  vertex_count_ = 4;
  index_count_ = 6;
  flags_ &= ~kRebuild;
}

void DtssSprite::Draw() {
  if (!manager_ || !image_ || !image_->GetTexture()) return;
  if (rect_.width == 0 || rect_.height == 0) return;  // nothing to draw (and no division by 0)
  if (flags_ & kRebuild) _BuildVertices();
  manager_->_AddPrimitives(vertices_, vertex_count_, indices_, index_count_, image_->GetTexture(), nullptr,
                           blend_, alpha_ref_);
}
