// Draw images: creation, pixels, lines, transparency settings, alpha planes and the status stack;
// ConnectedImage's tree of parents and children.
#include "display/draw/draw_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "display/draw/screen.h"
#include "display/draw/sprite_list.h"
#include "imaging/dimg_clip.h"
#include "imaging/hal/dhal.h"

namespace {

std::int32_t Clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

std::uint16_t Read16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void Write16(std::uint8_t* p, std::uint16_t v) {
  std::memcpy(p, &v, 2);
}

// A zeroed byte plane of n bytes; empty for n = 0.
DRef<std::uint8_t> NewPlane(std::uint64_t n) {
  DRef<std::uint8_t> p;
  if (n == 0 || n > DImage::kMaxStorage) return p;
  p.Alloc(static_cast<std::uint32_t>(n));
  std::memset(p.Get(), 0, static_cast<std::size_t>(n));
  return p;
}

}  // namespace

// ---- ConnectedImage.

ConnectedImage::~ConnectedImage() {
  ConnectedImage::Destroy();
}

bool ConnectedImage::InitSpriteState() {
  flags_ = kImageCreated | kImageDraw | kImageOnScreen;
  parent_ = nullptr;
  parent_link_ = {};
  pos_ = DPoint(0, 0);
  last_abs_pos_ = {};
  abs_pos_ = {};
  rect_ = DRect(0, 0, GetWidth(), GetHeight());
  last_rect_ = DRect(0, 0, 0, 0);
  life_ = std::make_shared<int>(0);
  return true;
}

void ConnectedImage::Disconnect() {
  if (parent_) parent_->children_.Erase(parent_link_);
  parent_ = nullptr;
  parent_link_ = {};
}

bool ConnectedImage::Connect(ConnectedImage* parent) {
  for (ConnectedImage* p = parent; p; p = p->parent_)
    if (p == this) return false;
  Disconnect();
  if (parent) {
    DRef<ConnectedImage> self;
    self.Attach(this);
    parent_ = parent;
    parent_link_ = parent->children_.PushBack(self);
  }
  return true;
}

void ConnectedImage::DisconnectAll() {
  while (!children_.IsEmpty()) {
    DRef<ConnectedImage> child = children_.Front();
    if (child) {
      child->parent_ = nullptr;
      child->parent_link_ = {};
    }
    children_.Erase(children_.Begin());
  }
}

bool ConnectedImage::Destroy() {
  if (!(flags_ & kImageCreated)) return false;
  if (sprite_list_) sprite_list_->RemoveImage(*this);
  Disconnect();
  DisconnectAll();
  flags_ = 0;
  parent_ = nullptr;
  children_.Clear();
  life_.reset();
  return true;
}

DPoint64 ConnectedImage::GetAbsolutePos64() const {
  DPoint64 p;
  for (const ConnectedImage* i = this; i; i = i->parent_) {
    p.x += i->pos_.x;
    p.y += i->pos_.y;
  }
  return p;
}

DPoint ConnectedImage::GetAbsolutePos() const {
  DPoint64 p = GetAbsolutePos64();
  return DPoint(Clamp32(p.x), Clamp32(p.y));
}

// ---- DrawImage: creation and life.

DrawImage::~DrawImage() {
  DrawImage::Destroy();
}

void DrawImage::StartCreated(Screen* owner) {
  created_ = 1;
  blend_ = 0;
  alpha_key_ = 0;
  owner_ = owner;
  InitSpriteState();
}

bool DrawImage::CreateWith(Screen* owner, std::int32_t width, std::int32_t height, bool bottom_up) {
  if (owner_) return false;
  record_.Alloc(1);
  owner_ = owner;  // the format comes from the owner
  DRef<DImage> pixels;
  if (bottom_up) {
    DRef<DImageDib> dib;
    dib.Alloc(1);
    pixels = DRef<DImage>::Convert(dib);
  } else {
    pixels.Alloc(1);
  }
  if (width > 0 && height > 0) {
    std::uint64_t pitch = ((2 * std::uint64_t(width) + 15) >> 4) << 4;
    if (pitch <= 0xFFFFFFFFu && pitch * std::uint64_t(height) <= DImage::kMaxStorage) {
      try {
        pixels->Create(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                       static_cast<std::uint32_t>(pitch), static_cast<DimgFormat>(GetFormat()));
      } catch (const std::bad_alloc&) {
        // a created image of 0 x 0
      }
    }
  }
  record_->pixels = pixels;
  StartCreated(owner);
  return true;
}

bool DrawImage::Create(Screen* owner, std::int32_t width, std::int32_t height) {
  return CreateWith(owner, width, height, false);
}

bool DrawImage::CreateBottomUp(Screen* owner, std::int32_t width, std::int32_t height) {
  return CreateWith(owner, width, height, true);
}

bool DrawImage::Duplicate(const DRef<DrawImage>& source) {
  if (!source || owner_ || !source->created_) return false;
  DrawImage& s = *source;
  record_ = s.record_;
  StartCreated(s.owner_);
  blend_ = s.blend_;
  SetAlphaKey(s.alpha_key_);
  SetDraw(s.GetDraw());
  Connect(s.parent_);
  pos_ = s.pos_;
  rect_ = s.rect_;
  return true;
}

bool DrawImage::CopyFrom(const DRef<DrawImage>& source) {
  if (!source || !source->created_ || !Create(source->owner_, source->GetWidth(), source->GetHeight()))
    return false;
  DrawImage& s = *source;
  Blt(0, 0, GetWidth(), GetHeight(), s, 0, 0, 0);
  std::uint8_t r, g, b;
  s.GetTransColor(&r, &g, &b);
  SetTrans(s.IsTrans(), r, g, b);
  SetFastTrans(s.IsFastTrans());
  blend_ = s.blend_;
  if (s.IsAlpha()) {
    EnableAlpha(true);
    std::uint64_t n = std::uint64_t(GetWidth()) * std::uint64_t(GetHeight());
    if (ValidAlpha() && s.ValidAlpha() && n) std::memcpy(ValidAlpha(), s.ValidAlpha(), n);
  }
  SetAlphaKey(s.alpha_key_);
  SetDraw(s.GetDraw());
  Connect(s.parent_);
  pos_ = s.pos_;
  rect_ = s.rect_;
  return true;
}

bool DrawImage::Destroy() {
  if (!created_) return false;
  if (owner_) owner_->_UnregisterImage(*this);
  ConnectedImage::Destroy();
  status_.Clear();
  record_.Release();
  blend_ = 0;
  created_ = 0;
  owner_ = nullptr;
  blt_source_ = nullptr;
  return true;
}

std::uint8_t* DrawImage::ValidAlpha() const {
  std::uint64_t n = std::uint64_t(GetWidth()) * std::uint64_t(GetHeight());
  return record_ && record_->alpha && record_->alpha_size >= n ? record_->alpha.Get() : nullptr;
}

std::uint8_t* DrawImage::ValidRunMap() const {
  std::uint64_t n = std::uint64_t(GetWidth()) * std::uint64_t(GetHeight());
  return record_ && record_->run_map && record_->run_map_size >= n ? record_->run_map.Get() : nullptr;
}

std::uint32_t DrawImage::GetFormat() const {
  return owner_ ? owner_->GetPixelFormat() : 6;
}
std::int32_t DrawImage::GetWidth() const {
  DImage* i = GetImage();
  return i ? static_cast<std::int32_t>(i->GetWidth()) : 0;
}
std::int32_t DrawImage::GetHeight() const {
  DImage* i = GetImage();
  return i ? static_cast<std::int32_t>(i->GetHeight()) : 0;
}

// ---- Pixels.

std::uint16_t DrawImage::Pack(std::int32_t r, std::int32_t g, std::int32_t b) const {
  std::uint32_t cr = std::clamp(r, 0, 31), cg = std::clamp(g, 0, 31), cb = std::clamp(b, 0, 31);
  if (GetFormat() == 6) return static_cast<std::uint16_t>(((cr << 5 | cg) << 6) | cb);
  return static_cast<std::uint16_t>(((cr << 5 | cg) << 5) | cb);
}

void SplitColor16(const ConnectedImage& image, std::uint16_t pixel, std::uint8_t* r, std::uint8_t* g,
                  std::uint8_t* b) {
  if (image.GetFormat() == 6) {
    *r = static_cast<std::uint8_t>(pixel >> 11);
    *g = static_cast<std::uint8_t>((pixel >> 6) & 31);
  } else {
    *r = static_cast<std::uint8_t>((pixel >> 10) & 31);
    *g = static_cast<std::uint8_t>((pixel >> 5) & 31);
  }
  *b = static_cast<std::uint8_t>(pixel & 31);
}

void DrawImage::PutPixel(std::int32_t x, std::int32_t y, std::uint16_t pixel) {
  if (x < 0 || y < 0 || x >= GetWidth() || y >= GetHeight()) return;
  Write16(GetImage()->GetPixelPointer(x, y), pixel);
}

void DrawImage::PutColor(std::int32_t x, std::int32_t y, std::int32_t r, std::int32_t g, std::int32_t b) {
  PutPixel(x, y, Pack(r, g, b));
}

std::uint16_t DrawImage::GetPixel(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= GetWidth() || y >= GetHeight()) return 0;
  return Read16(static_cast<const DImage*>(GetImage())->GetPixelPointer(x, y));
}

void DrawImage::GetTransColor(std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const {
  SplitColor16(*this, record_ ? record_->key : 0, r, g, b);
}

void DrawImage::FillRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                         std::uint16_t pixel) {
  DImage* img = GetImage();
  if (!img || !DHalSpans.Fill16) return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  DimgClip(x, y, w, h, img->GetWidth(), img->GetHeight());
  if (w == 0 || h == 0) return;
  std::uint8_t* row = img->GetPixelPointer(x, y);
  for (std::uint32_t i = 0; i < h; ++i, row = img->NextLine(row)) DHalSpans.Fill16(row, w, pixel);
}

void DrawImage::FillRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                         std::int32_t r, std::int32_t g, std::int32_t b) {
  FillRect(x, y, width, height, Pack(r, g, b));
}

void DrawImage::DrawLine(std::int32_t ix1, std::int32_t iy1, std::int32_t ix2, std::int32_t iy2,
                         std::uint16_t pixel) {
  const std::int64_t W = GetWidth(), H = GetHeight();
  if (W <= 0 || H <= 0) return;
  std::int64_t x1 = ix1, y1 = iy1, x2 = ix2, y2 = iy2;
  auto put = [&](std::int64_t x, std::int64_t y) {
    PutPixel(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), pixel);
  };
  if (x1 == x2) {
    if (x1 < 0 || x1 >= W) return;
    if ((y1 < 0 && y2 < 0) || (y1 >= H && y2 >= H)) return;  // wholly above or below
    std::int64_t a = std::clamp<std::int64_t>(y1, 0, H - 1), b = std::clamp<std::int64_t>(y2, 0, H - 1);
    if (a > b) std::swap(a, b);
    for (std::int64_t y = a; y <= b; ++y) put(x1, y);
    return;
  }
  if (y1 == y2) {
    if (y1 < 0 || y1 >= H) return;
    if ((x1 < 0 && x2 < 0) || (x1 >= W && x2 >= W)) return;
    std::int64_t a = std::clamp<std::int64_t>(x1, 0, W - 1), b = std::clamp<std::int64_t>(x2, 0, W - 1);
    if (a > b) std::swap(a, b);
    for (std::int64_t x = a; x <= b; ++x) put(x, y1);
    return;
  }
  // Clipping end by end: the quotient times the distance in double, rounded to single precision,
  // then to the nearest integer (ties to even), clamped so that no conversion overflows.
  auto clip = [](std::int64_t& minor, std::int64_t& major, std::int64_t other_minor, std::int64_t other_major,
                 std::int64_t edge) {
    // Moves the end (major, minor) along the line through the other end to major = edge.
    double q = static_cast<double>(other_minor - minor) / static_cast<double>(other_major - major) *
               static_cast<double>(edge - major);
    double f = std::nearbyint(static_cast<double>(static_cast<float>(std::clamp(q, -1e15, 1e15))));
    minor = minor + static_cast<std::int64_t>(f);
    major = edge;
  };
  // End 1 against left / right (the distance from end 1 itself).
  if (x1 < 0)
    clip(y1, x1, y2, x2, 0);
  else if (x1 >= W)
    clip(y1, x1, y2, x2, W - 1);
  // End 2 against left / right, computed from end 1.
  auto clip2 = [](std::int64_t& minor2, std::int64_t& major2, std::int64_t minor1, std::int64_t major1,
                  std::int64_t edge) {
    if (major2 == major1) return;
    double q = static_cast<double>(minor2 - minor1) / static_cast<double>(major2 - major1) *
               static_cast<double>(edge - major1);
    double f = std::nearbyint(static_cast<double>(static_cast<float>(std::clamp(q, -1e15, 1e15))));
    minor2 = minor1 + static_cast<std::int64_t>(f);
    major2 = edge;
  };
  if (x2 < 0)
    clip2(y2, x2, y1, x1, 0);
  else if (x2 >= W)
    clip2(y2, x2, y1, x1, W - 1);
  if (y1 != y2) {
    if (y1 < 0)
      clip(x1, y1, x2, y2, 0);
    else if (y1 >= H)
      clip(x1, y1, x2, y2, H - 1);
    if (y2 < 0)
      clip2(x2, y2, x1, y1, 0);
    else if (y2 >= H)
      clip2(x2, y2, x1, y1, H - 1);
  }
  if (x1 < 0 || x1 >= W || x2 < 0 || x2 >= W || y1 < 0 || y1 >= H || y2 < 0 || y2 >= H) return;
  std::int64_t dx = x2 > x1 ? x2 - x1 : x1 - x2, dy = y2 > y1 ? y2 - y1 : y1 - y2;
  if (dx >= dy) {
    if (x1 > x2) std::swap(x1, x2), std::swap(y1, y2);
    std::int64_t ystep = y2 >= y1 ? 1 : -1, err = (dx >> 1) - dy, y = y1;
    for (std::int64_t x = x1; x <= x2; ++x) {
      put(x, y);
      if (err < 0) y += ystep, err += dx;
      err -= dy;
    }
  } else {
    if (y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
    std::int64_t xstep = x2 >= x1 ? 1 : -1, err = (dy >> 1) - dx, x = x1;
    for (std::int64_t y = y1; y <= y2; ++y) {
      put(x, y);
      if (err < 0) x += xstep, err += dy;
      err -= dx;
    }
  }
}

// ---- Transparency and alpha planes.

void DrawImage::SetTrans(bool on, std::int32_t r, std::int32_t g, std::int32_t b) {
  if (!record_) return;
  if (on) {
    record_->key = Pack(r, g, b);
    record_->flags |= kRecordKey;
  } else {
    record_->flags &= ~kRecordKey;
  }
  record_->flags &= ~kRecordRunMap;
}

void DrawImage::SetFastTrans(bool on) {
  if (!record_) return;
  if (!on || !(record_->flags & kRecordKey)) {
    record_->flags &= ~kRecordRunMap;
    return;
  }
  const std::int32_t W = GetWidth(), H = GetHeight();
  std::uint64_t n = std::uint64_t(W) * std::uint64_t(H);
  if (!ValidRunMap() && n) {
    record_->run_map = NewPlane(n);
    record_->run_map_size = n;
  }
  record_->flags |= kRecordRunMap;
  if (!n || !ValidRunMap()) return;
  const DImage* img = GetImage();
  const std::uint16_t key = record_->key;
  std::uint8_t* map = record_->run_map.Get();
  for (std::int32_t y = 0; y < H; ++y) {
    const std::uint8_t* row = img->GetPixelPointer(0, y);
    std::uint8_t* out = map + std::uint64_t(y) * W;
    std::int32_t x = 0;
    while (x < W) {
      for (int kind = 0; kind < 2 && x < W; ++kind) {
        std::int32_t n_run = 0;
        while (x + n_run < W && n_run != 255 && ((Read16(row + 2 * (x + n_run)) == key) == (kind == 0)))
          ++n_run;
        for (std::int32_t i = 0; i < n_run; ++i) out[x + i] = static_cast<std::uint8_t>(n_run - i);
        x += n_run;
      }
    }
  }
}

void DrawImage::EnableAlpha(bool on) {
  if (!record_) return;
  if (!on) {
    record_->flags &= ~kRecordAlpha;
    return;
  }
  record_->flags |= kRecordAlpha;
  if (!ValidAlpha()) {
    record_->alpha_size = std::uint64_t(GetWidth()) * std::uint64_t(GetHeight());
    record_->alpha = NewPlane(record_->alpha_size);
  }
}

bool DrawImage::ShareAlpha(DrawImage& other) {
  if (!record_ || !other.record_ || GetWidth() != other.GetWidth() || GetHeight() != other.GetHeight())
    return false;
  DrawImageRecord &me = *record_, &them = *other.record_;
  if (them.alpha) {
    me.alpha = them.alpha;
    me.alpha_size = them.alpha_size;
  } else if (me.alpha) {
    them.alpha = me.alpha;
    them.alpha_size = me.alpha_size;
  } else {
    me.alpha_size = them.alpha_size = std::uint64_t(GetWidth()) * std::uint64_t(GetHeight());
    me.alpha = NewPlane(me.alpha_size);
    them.alpha = me.alpha;
  }
  return true;
}

void DrawImage::SeparateAlpha() {
  if (!record_) return;
  record_->alpha.Release();
  record_->alpha_size = 0;
  EnableAlpha((record_->flags & kRecordAlpha) != 0);
}

void DrawImage::ConvAlpha(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                          DrawImage& source, std::int32_t sx, std::int32_t sy) {
  std::uint8_t* plane = ValidAlpha();
  if (!IsAlpha() || !plane || !source.GetImage()) return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  DimgClipBoth(dx, dy, sx, sy, w, h, GetWidth(), GetHeight(), source.GetWidth(), source.GetHeight());
  if (!w || !h) return;
  const DImage* s = source.GetImage();
  for (std::uint32_t k = 0; k < h; ++k) {
    const std::uint8_t* row = s->GetPixelPointer(sx, sy + static_cast<std::int32_t>(k));
    std::uint8_t* out = plane + std::uint64_t(dy + k) * GetWidth() + dx;
    for (std::uint32_t i = 0; i < w; ++i) out[i] = static_cast<std::uint8_t>(Read16(row + 2 * i) & 31);
  }
}

void DrawImage::ConvTransAlpha(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                               DrawImage& source, std::int32_t sx, std::int32_t sy) {
  std::uint8_t* plane = ValidAlpha();
  if (!IsAlpha() || !plane || !source.GetImage()) return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  DimgClipBoth(dx, dy, sx, sy, w, h, GetWidth(), GetHeight(), source.GetWidth(), source.GetHeight());
  if (!w || !h) return;
  const DImage* s = source.GetImage();
  const bool key_on = source.IsTrans();
  const std::uint8_t* run_map = source.ValidRunMap();
  const bool runs = key_on && source.IsFastTrans() && run_map;
  const std::uint16_t key = source.record_->key;
  const std::int32_t sw = source.GetWidth();
  for (std::uint32_t k = 0; k < h; ++k) {
    const std::uint8_t* row = s->GetPixelPointer(sx, sy + static_cast<std::int32_t>(k));
    std::uint8_t* out = plane + std::uint64_t(dy + k) * GetWidth() + dx;
    if (!key_on) {
      std::memset(out, 0, w);
    } else if (runs) {
      const std::uint8_t* map = run_map + std::uint64_t(sy + k) * sw + sx;
      for (std::uint32_t i = 0; i < w;) {
        std::uint32_t n = std::max<std::uint32_t>(map[i], 1);
        n = std::min(n, w - i);
        std::memset(out + i, Read16(row + 2 * i) == key ? 31 : 0, n);
        i += n;
      }
    } else {
      for (std::uint32_t i = 0; i < w; ++i) out[i] = Read16(row + 2 * i) == key ? 31 : 0;
    }
  }
}

// ---- Status stack.

void DrawImage::PushStatus() {
  if (!record_) return;
  DRef<DrawImageStatus> s;
  s.Alloc(1);
  s->key_on = IsTrans();
  s->runs_on = IsFastTrans();
  GetTransColor(&s->key_r, &s->key_g, &s->key_b);
  s->blend = blend_;
  s->alpha_on = IsAlpha();
  s->alpha_key = alpha_key_;
  s->draw = GetDraw();
  s->parent = parent_;
  if (parent_) s->parent_life = parent_->LifeToken();
  s->pos = pos_;
  s->rect = rect_;
  status_.PushBack(s);
}

void DrawImage::PopStatus() {
  if (status_.IsEmpty()) return;
  DRef<DrawImageStatus> s = status_.PopBack();
  if (s->key_on) {
    SetTrans(true, s->key_r, s->key_g, s->key_b);
  } else {
    SetTrans(false, 0, 0, 0);
  }
  SetFastTrans(s->runs_on != 0);
  blend_ = s->blend;
  EnableAlpha(s->alpha_on != 0);
  SetAlphaKey(s->alpha_key);
  SetDraw(s->draw != 0);
  // A parent destroyed since the push is gone: the image is left without one.
  Connect(s->parent && !s->parent_life.expired() ? s->parent : nullptr);
  pos_ = s->pos;
  rect_ = s->rect;
}

// ---- ScreenImage.

ScreenImage::~ScreenImage() {
  DrawImage::Destroy();
}

bool ScreenImage::Attach(Screen* owner, DImage* pixels) {
  if (owner_) return false;
  record_.Alloc(1);
  record_->pixels.Attach(pixels);
  StartCreated(owner);
  return true;
}
