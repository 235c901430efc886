// DtssSprite: one textured quad of the TSS unit: a rectangle of a DtssImage at a position, size
// and level, tinted by four corner colours, blended and alpha-tested, following a parent sprite,
// optionally turned about a pivot, placed by four free corners, or revealed through a wipe. It
// rebuilds its vertices when something changed and hands them to the manager's batcher.
#pragma once

#include <cstdint>
#include <vector>

#include "base/dgeometry.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "display/tss/dtss_manager.h"
#include "platform/d3dx.h"

class DtssImage;
class DtssWipe;

class DtssSprite : public DObject {
 public:
  enum : uint32_t { kShown = 1, kRebuild = 2, kRotated = 4, kFreeCorner = 8 };
  // Tiles handed to the batcher per call (4 vertices each, indices relative to the call).
  static constexpr uint32_t kQuadsPerCall = 256;
  // Above this many tiles a sprite is not tiled: it fades like one on a single-texture device.
  static constexpr uint64_t kMaxTiles = 65536;
  struct Color {
    float r, g, b, a;
  };

  DtssSprite() = default;
  DtssSprite(const DtssSprite&) = delete;
  DtssSprite& operator=(const DtssSprite&) = delete;
  ~DtssSprite() override;

  // Starts the sprite hidden at `level` showing the image; false when already initialised, for
  // an empty image or a level the lists refuse.
  bool Init(DtssManager* manager, const DRef<DtssImage>& image, int32_t level);
  // Leaves the level list, the parent, the children and the image.
  void Release();
  void SetDraw(bool shown);
  bool IsDraw() const { return (flags_ & kShown) != 0; }
  bool SetLevel(int32_t level);
  int32_t GetLevel() const { return level_; }
  // Follows a new parent (empty: none). A parent whose chain holds this sprite is refused and
  // the old link stays; false then.
  bool Connect(const DRef<DtssSprite>& parent);
  void _DisconnectChildren();
  // Sets the rebuild flag here and in every descendant.
  void MarkDirty();

  void SetPos(int32_t x, int32_t y);
  DPoint GetPos() const { return DPoint(rect_.x, rect_.y); }
  // The position plus every ancestor's, summed in 64 bits.
  void GetAbsPos(int64_t* x, int64_t* y) const;
  void SetSize(int32_t width, int32_t height);
  DPoint GetSize() const { return DPoint(rect_.width, rect_.height); }
  // Clipped to the image's window size.
  void SetMap(int32_t x, int32_t y, int32_t width, int32_t height);
  const DRect& GetMap() const { return map_; }
  // Corner 0..3 (others ignored); components stored as given.
  void SetColorRGBA(int corner, float r, float g, float b, float a);
  void SetColorRGB(int corner, float r, float g, float b);
  void SetColorA(int corner, float a);
  const Color& GetColor(int corner) const { return colors_[corner & 3]; }
  // Modes 0..7 are stored, others ignored.
  void SetBlend(uint32_t mode);
  uint32_t GetBlend() const { return blend_; }
  // 0 below 0.0038215686 (and for NaN), 255 from 1.0, else v x 255 to the nearest integer.
  void SetAlphaTest(float v);
  float GetAlphaTest() const { return static_cast<float>(alpha_ref_) * (1.0f / 255.0f); }
  uint32_t GetAlphaRef() const { return alpha_ref_; }

  // Pivot as fractions of the drawn size.
  void SetPivot(float x, float y);
  // transform = transform x rotation about the axis by `degrees`.
  void RotateX(float degrees);
  void RotateY(float degrees);
  void RotateZ(float degrees);
  void ResetRotation();
  const D3DXMATRIX& GetTransform() const { return transform_; }
  // Free-corner mode and its corner positions (offsets from the absolute position) and texture
  // pixels; corners outside 0..3 are ignored.
  void SetFreeCornerMode(bool on);
  void SetFreeCornerPos(int corner, float x, float y);
  void SetFreeCornerMap(int corner, int32_t x, int32_t y);

  // Attaches a listed wipe with direction 0 (mask A / fading out) or 1 (mask B / fading in);
  // a null wipe detaches. A wipe not in the manager's list leaves the sprite without one;
  // other directions do nothing.
  void SetWipe(DtssWipe* wipe, int32_t direction);
  DtssWipe* GetWipe() const { return wipe_.Get(); }
  int32_t GetWipeDirection() const { return wipe_direction_; }
  int32_t GetAppliedWipeLevel() const { return applied_level_; }

  void _BuildVertices();
  // Folds the wipe's level into the vertex colours.
  void _ApplyWipeFade();
  // Called by a wipe that is released: the handle is emptied and the sprite rebuilt.
  void _LoseWipe();
  // Builds when needed and hands the quad to the batcher; nothing when the image has no texture
  // or the size is 0 wide or high.
  void Draw();

  DtssSprite* GetParent() const { return parent_; }
  const DtssImage* GetImage() const { return image_.Get(); }
  const DtssVertex* GetVertices() const { return vertex_ptr_; }
  uint32_t GetVertexCount() const { return vertex_count_; }
  // Tile columns and rows of the last build.
  uint64_t GetColumns() const { return columns_; }
  uint64_t GetRows() const { return rows_; }
  uint32_t GetFlags() const { return flags_; }

 private:
  friend class DtssManager;
  void _PackColor(uint32_t vertex);
  void _DetachWipe();
  bool _Tiled() const;
  void _Grow(uint64_t vertices);

  DtssManager* manager_ = nullptr;               // none: not initialised
  DRef<DtssImage> image_;                        // owning
  DRect map_;                                    // rectangle of the image's window mapped onto the quad
  DtssSprite* parent_ = nullptr;                 // not owned
  DRefList<DtssSprite>::Iterator parent_entry_;  // this sprite's entry in the parent's children
  DRefList<DtssSprite> children_;                // non-owning handles
  uint32_t flags_ = 0;                           // kShown, kRebuild
  int32_t level_ = 0;                            // requested level
  DRect rect_;                                   // position (relative to the parent) and drawn size
  Color colors_[4] = {};                         // top-left, top-right, bottom-left, bottom-right
  uint32_t blend_ = 0;
  uint32_t alpha_ref_ = 0;
  DRef<DtssWipe> wipe_;  // owning, or empty
  int32_t wipe_direction_ = 0;
  int32_t applied_level_ = -1;  // wipe level folded into the colours; -1 forces a new fade
  uint8_t too_many_tiles_ = 0;  // the last build gave up tiling (fades instead)
  uint8_t tile_cap_logged_ = 0;
  float pivot_[3] = {};
  D3DXMATRIX transform_{};
  float nc_x_[4] = {}, nc_y_[4] = {};
  DPoint nc_map_[4];
  DtssVertex vertices_[4] = {};  // one quad: TL, TR, BL, BR
  Color vertex_colors_[4] = {};
  std::vector<DtssVertex> tile_vertices_;  // tiled: 4 per tile (TL, TR, BL, BR), row by row
  std::vector<Color> tile_colors_;
  DtssVertex* vertex_ptr_ = vertices_;
  Color* color_ptr_ = vertex_colors_;
  uint32_t vertex_count_ = 0;
  uint64_t columns_ = 0, rows_ = 0;
  int32_t list_level_ = -1;  // level list links, written by the manager
  DtssSprite* prev_ = nullptr;
  DtssSprite* next_ = nullptr;
};
