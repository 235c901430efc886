// Sprite list: levels with skip counts, registration, the dirty grid, Update and Render.
#include "display/draw/sprite_list.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "imaging/hal/dhal.h"

namespace {
std::int32_t Sat32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}
}  // namespace

SpriteList::~SpriteList() {
  Detach();
}

bool SpriteList::Attach(const DRef<ConnectedImage>& target) {
  if (target_ || !target) return false;
  if (!DHalInit(target->GetFormat())) return false;
  hal_ = true;
  target_ = target;
  format_ = target->GetFormat();
  width_ = target->GetWidth();
  height_ = target->GetHeight();
  SetCellSize(24);
  level_count_ = 0;
  return true;
}

bool SpriteList::Reattach(const DRef<ConnectedImage>& target) {
  if (!target || target->GetFormat() != format_) return false;
  target_ = target;
  width_ = target->GetWidth();
  height_ = target->GetHeight();
  SetCellSize(cell_size_);
  return true;
}

bool SpriteList::Detach() {
  if (!target_) return false;
  RemoveAll();
  target_.Release();
  std::vector<std::uint8_t>().swap(grid_);
  columns_ = rows_ = 0;
  if (hal_) DHalTerm();
  hal_ = false;
  return true;
}

bool SpriteList::SetCellSize(std::int32_t size) {
  if (size <= 0) size = 24;
  cell_size_ = size;
  columns_ = width_ > 0 ? static_cast<std::int32_t>((std::int64_t(width_) + size - 1) / size) : 0;
  rows_ = height_ > 0 ? static_cast<std::int32_t>((std::int64_t(height_) + size - 1) / size) : 0;
  grid_.assign(std::size_t(columns_) * std::size_t(rows_), 1);
  return true;
}

bool SpriteList::SetLevelCount(std::int32_t count) {
  if (levels_ || count < 0 || count > 65535) return false;
  levels_.reset(new DRefList<ConnectedImage>[std::size_t(count) + 1]);  // + 1: never a zero-size array
  skip_.resize(std::size_t(count));
  for (std::int32_t i = 0; i < count; ++i) skip_[std::size_t(i)] = count - i;
  level_count_ = count;
  return true;
}

bool SpriteList::SetImageLevel(ConnectedImage& image, std::int32_t level) {
  if (image.sprite_list_ == this) {
    if (static_cast<std::int32_t>(image.level_) == level) return true;
    RemoveImage(image);
  } else if (image.sprite_list_) {
    image.sprite_list_->RemoveImage(image);
  }
  if (!levels_ || level < 0 || level >= level_count_) return false;
  DRefList<ConnectedImage>& list = levels_[std::size_t(level)];
  bool was_empty = list.IsEmpty();
  image.sprite_list_ = this;
  image.level_ = static_cast<std::uint32_t>(level);
  DRef<ConnectedImage> ref;
  ref.Attach(&image);
  image.list_node_ = list.PushBack(ref);
  if (was_empty) {
    for (std::int32_t i = level - 1; i >= 0; --i) {
      if (skip_[std::size_t(i)] + i < level) break;
      skip_[std::size_t(i)] = level - i;
    }
  }
  return true;
}

void SpriteList::RemoveImage(ConnectedImage& image) {
  if (image.sprite_list_ != this || !levels_) return;
  const std::int32_t level = static_cast<std::int32_t>(image.level_);
  MarkDirty(image.last_abs_pos_.x, image.last_abs_pos_.y, image.last_rect_.width, image.last_rect_.height);
  DRefList<ConnectedImage>& list = levels_[std::size_t(level)];
  list.Erase(image.list_node_);
  image.sprite_list_ = nullptr;
  image.level_ = 0;
  image.list_node_ = {};
  if (list.IsEmpty()) {
    for (std::int32_t i = level - 1; i >= 0; --i) {
      if (skip_[std::size_t(i)] + i != level) break;
      skip_[std::size_t(i)] += skip_[std::size_t(level)];
    }
  }
}

void SpriteList::RemoveAll() {
  if (!levels_) return;
  for (std::int32_t l = 0; l < level_count_; ++l) {
    DRefList<ConnectedImage>& list = levels_[std::size_t(l)];
    while (!list.IsEmpty()) {
      DRef<ConnectedImage> image = list.Front();
      RemoveImage(*image);
    }
  }
  levels_.reset();
  skip_.clear();
  level_count_ = 0;
}

bool SpriteList::Cells(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, std::int64_t* c0,
                       std::int64_t* c1, std::int64_t* r0, std::int64_t* r1) const {
  const std::int64_t cs = cell_size_;
  if (columns_ < 1 || rows_ < 1) return false;
  *c0 = x / cs;
  *r0 = y / cs;
  if (*c0 >= columns_ || *r0 >= rows_) return false;
  *c0 = std::max<std::int64_t>(*c0, 0);
  *r0 = std::max<std::int64_t>(*r0, 0);
  *c1 = (x + w - 1) / cs;
  *r1 = (y + h - 1) / cs;
  if (*c1 < 0 || *r1 < 0) return false;
  *c1 = std::min<std::int64_t>(*c1, columns_ - 1);
  *r1 = std::min<std::int64_t>(*r1, rows_ - 1);
  return *c0 <= *c1 && *r0 <= *r1;
}

bool SpriteList::MarkDirty(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
  std::int64_t c0, c1, r0, r1;
  if (!Cells(x, y, w, h, &c0, &c1, &r0, &r1)) return false;
  for (std::int64_t r = r0; r <= r1; ++r)
    std::memset(&grid_[std::size_t(r * columns_ + c0)], 1, std::size_t(c1 - c0 + 1));
  return true;
}

void SpriteList::SetAllDirty() {
  std::fill(grid_.begin(), grid_.end(), std::uint8_t{1});
}
void SpriteList::ClearDirty() {
  std::fill(grid_.begin(), grid_.end(), std::uint8_t{0});
}

void SpriteList::Update() {
  if (!levels_) return;
  for (std::int32_t l = 0; l < level_count_; l += skip_[std::size_t(l)]) {
    DRefList<ConnectedImage>& list = levels_[std::size_t(l)];
    for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) {
      ConnectedImage& im = *static_cast<ConnectedImage*>(it.Node()->value.Get());
      DPoint64 abs = im.GetAbsolutePos64();
      im.abs_pos_ = abs;
      if (abs == im.last_abs_pos_ && !(im.GetFlags() & kImageUpdate)) continue;
      std::uint32_t f = im.GetFlags() & ~kImageUpdate;
      MarkDirty(im.last_abs_pos_.x, im.last_abs_pos_.y, im.last_rect_.width, im.last_rect_.height);
      DRect r = im.GetRect();
      f = MarkDirty(abs.x, abs.y, r.width, r.height) ? f | kImageOnScreen : f & ~kImageOnScreen;
      im.SetFlags(f);
      im.last_abs_pos_ = abs;
      im.last_rect_ = r;
    }
  }
}

void SpriteList::Render() {
  if (!levels_ || !target_) return;
  for (std::int32_t l = 0; l < level_count_; l += skip_[std::size_t(l)]) {
    DRefList<ConnectedImage>& list = levels_[std::size_t(l)];
    for (auto it = list.Begin(); !(it == list.End()); it = it.Next())
      Draw(*static_cast<ConnectedImage*>(it.Node()->value.Get()));
  }
}

void SpriteList::Draw(ConnectedImage& im) {
  if ((im.GetFlags() & (kImageDraw | kImageOnScreen)) != (kImageDraw | kImageOnScreen)) return;
  DrawImage* source = dynamic_cast<DrawImage*>(&im);
  if (!source) return;
  const DRect r = im.GetRect();
  const std::int64_t ux = im.abs_pos_.x, uy = im.abs_pos_.y;
  std::int64_t x = ux, y = uy, sx = r.x, sy = r.y, w = r.width, h = r.height;
  if (x < 0) {
    sx -= x, w += x, x = 0;
    if (w <= 0) return;
  }
  if (y < 0) {
    sy -= y, h += y, y = 0;
    if (h <= 0) return;
  }
  std::int64_t c0, c1, r0, r1;
  if (!Cells(ux, uy, r.width, r.height, &c0, &c1, &r0, &r1)) return;
  const std::int64_t cs = cell_size_;
  ConnectedImage& target = *target_;
  target.BeginBlt(*source, 3);
  for (std::int64_t by = y; by < y + h;) {
    const std::int64_t row = by / cs;
    if (row > r1) break;
    const std::int64_t bh = std::min((row + 1) * cs, y + h) - by;
    const std::uint8_t* cells = &grid_[std::size_t(row * columns_)];
    std::int64_t run_x = -1, run_end = 0;
    auto flush = [&] {
      if (run_x < 0) return;
      std::int64_t rw = std::min(run_end, x + w) - run_x;
      if (rw > 0)
        target.BltRect(Sat32(run_x), Sat32(by), Sat32(rw), Sat32(bh), Sat32(sx + run_x - x),
                       Sat32(sy + by - y));
      run_x = -1;
    };
    for (std::int64_t c = c0; c <= c1; ++c) {
      if (cells[c]) {
        if (run_x < 0) run_x = c == c0 ? x : c * cs;
        run_end = (c + 1) * cs;
      } else {
        flush();
      }
    }
    flush();
    by += bh;
  }
  target.EndBlt();
}
