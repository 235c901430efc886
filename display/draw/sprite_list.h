// The Draw unit's sprite list: images in drawing levels, a 24-pixel dirty-cell grid over the
// target, and the incremental update and redraw of the dirty cells.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/dgeometry.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "display/draw/draw_image.h"

class SpriteList : public DObject {
 public:
  SpriteList() = default;
  SpriteList(const SpriteList&) = delete;
  SpriteList& operator=(const SpriteList&) = delete;
  ~SpriteList() override;

  // Binds the target (takes the span library for its format); false when bound, empty or the
  // span library refuses the format.
  bool Attach(const DRef<ConnectedImage>& target);
  // Binds a resized target of the same format: new grid with every cell set; levels stay.
  bool Reattach(const DRef<ConnectedImage>& target);
  bool Detach();
  DRef<ConnectedImage> GetTarget() const { return target_; }

  bool SetCellSize(std::int32_t size);
  // False when levels exist, or for a count below 0 or above 65535.
  bool SetLevelCount(std::int32_t count);
  std::int32_t GetLevelCount() const { return level_count_; }
  // Registers or moves an image; false (the image unregistered) for a level out of range.
  bool SetImageLevel(ConnectedImage& image, std::int32_t level);
  void RemoveImage(ConnectedImage& image);
  void RemoveAll();
  void Update();
  void Render();
  // Sets the cells under a rectangle of target pixels; false when none is under it.
  bool MarkDirty(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height);
  void SetUpdate(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
    MarkDirty(x, y, width, height);
  }
  void SetAllDirty();
  void ClearDirty();

  // Grid access for the screen's present and for tests.
  std::int32_t GetCellSize() const { return cell_size_; }
  std::int32_t GetColumns() const { return columns_; }
  std::int32_t GetRows() const { return rows_; }
  const std::uint8_t* GetGrid() const { return grid_.empty() ? nullptr : grid_.data(); }
  bool IsDirty(std::int32_t column, std::int32_t row) const {
    return grid_[std::size_t(row) * std::size_t(columns_) + std::size_t(column)] != 0;
  }
  std::int32_t GetSkip(std::int32_t level) const { return skip_[std::size_t(level)]; }
  std::uint32_t GetLevelSize(std::int32_t level) { return levels_[std::size_t(level)].GetCount(); }

 private:
  // Cells c0..c1 x r0..r1 under a rectangle; false when none.
  bool Cells(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, std::int64_t* c0,
             std::int64_t* c1, std::int64_t* r0, std::int64_t* r1) const;
  void Draw(ConnectedImage& image);

  DRef<ConnectedImage> target_;
  std::uint32_t format_ = 0;
  std::int32_t width_ = 0, height_ = 0;
  std::int32_t cell_size_ = 24;
  std::int32_t columns_ = 0, rows_ = 0;
  std::vector<std::uint8_t> grid_;
  std::int32_t level_count_ = 0;
  std::unique_ptr<DRefList<ConnectedImage>[]> levels_;  // one list per level (non-owning handles)
  std::vector<std::int32_t> skip_;
  bool hal_ = false;  // holds one reference of the span library
};
