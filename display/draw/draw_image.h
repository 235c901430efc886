// The Draw unit's images: the blit-target base ConnectedImage (position, parent and children,
// sprite state), the 16-bit DrawImage with key, run map, alpha plane and blend kind, and the
// ScreenImage that wraps the screen's back buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "base/dgeometry.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "imaging/dimage.h"

class DrawImage;
class Screen;
class SpriteList;
class WipeMap;

// Bits of the ConnectedImage flags word.
inline constexpr std::uint32_t kImageCreated = 1;
inline constexpr std::uint32_t kImageDraw = 2;
inline constexpr std::uint32_t kImageUpdate = 4;
inline constexpr std::uint32_t kImageOnScreen = 8;

// Bits of a DrawImageRecord's flags (the same bits the imaging library's mode choice reads).
inline constexpr std::uint32_t kRecordKey = 1;
inline constexpr std::uint32_t kRecordRunMap = 2;
inline constexpr std::uint32_t kRecordAlpha = 4;

// A position in 64 bits: absolute positions add up every parent's position.
struct DPoint64 {
  std::int64_t x = 0;
  std::int64_t y = 0;
  bool operator==(const DPoint64&) const = default;
};

// The blit target and node of the image tree. Positions are relative to the parent.
class ConnectedImage : public DObject {
 public:
  ConnectedImage() = default;
  ConnectedImage(const ConnectedImage&) = delete;
  ConnectedImage& operator=(const ConnectedImage&) = delete;
  ~ConnectedImage() override;

  // The blit-target interface; the base draws nothing and is a 0 x 0 RGB565 image.
  virtual std::uint32_t GetFormat() const { return 6; }
  virtual std::int32_t GetWidth() const { return 0; }
  virtual std::int32_t GetHeight() const { return 0; }
  virtual void Blt(std::int32_t, std::int32_t, std::int32_t, std::int32_t, DrawImage&, std::int32_t,
                   std::int32_t, std::uint32_t) {}
  virtual void BeginBlt(DrawImage&, std::uint32_t) {}
  virtual void BltRect(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {}
  virtual void EndBlt() {}

  // Flags 11 (created, draw, on screen), no parent, position (0, 0), source rectangle the whole
  // image. Always true.
  bool InitSpriteState();
  // Moves the image under `parent` (null: disconnects); the position stays, now relative to it.
  // False, and nothing changed, when the parent's chain holds this image (itself included):
  // such a loop would never end when positions are added up.
  bool Connect(ConnectedImage* parent);
  void Disconnect();
  // Every child loses its parent and keeps its own position.
  void DisconnectAll();
  // Leaves the sprite list, the parent and the children; flags 0. False when not created.
  bool Destroy();

  DPoint GetPos() const { return pos_; }
  void SetPos(std::int32_t x, std::int32_t y) { pos_ = DPoint(x, y); }
  // Own position plus every parent's, in 64 bits.
  DPoint64 GetAbsolutePos64() const;
  // The same, each coordinate clamped to 32 bits.
  DPoint GetAbsolutePos() const;
  DRect GetRect() const { return rect_; }
  void SetRect(const DRect& r) { rect_ = r; }
  std::uint32_t GetFlags() const { return flags_; }
  void SetFlags(std::uint32_t f) { flags_ = f; }
  bool GetDraw() const { return (flags_ & kImageDraw) != 0; }
  void SetDraw(bool on) { flags_ = on ? flags_ | kImageDraw : flags_ & ~kImageDraw; }
  void SetUpdate() { flags_ |= kImageUpdate; }
  ConnectedImage* GetParent() const { return parent_; }
  std::uint32_t ChildCount() const { return children_.GetCount(); }
  // A token that lives while the image is created; status records hold it weakly.
  std::weak_ptr<int> LifeToken() const { return life_; }

  // The sprite list's state of the image (written only by SpriteList).
  SpriteList* sprite_list_ = nullptr;
  std::uint32_t level_ = 0;
  DRefList<ConnectedImage>::Iterator list_node_;
  DPoint64 abs_pos_;
  DPoint64 last_abs_pos_;
  DRect last_rect_;

 protected:
  std::uint32_t flags_ = 0;
  ConnectedImage* parent_ = nullptr;                // not owned
  DRefList<ConnectedImage>::Iterator parent_link_;  // this image's node in the parent's list
  DRefList<ConnectedImage> children_;               // non-owning handles, connection order
  DPoint pos_;
  DRect rect_;
  std::shared_ptr<int> life_;
};

// Pixels, key, run map and alpha plane; duplicates of one image share it.
struct DrawImageRecord {
  std::uint32_t flags = 0;     // kRecord* bits
  DRef<DImage> pixels;         // top-down DImage, bottom-up DImageDib, or a view of the screen's
  std::uint16_t key = 0;       // packed transparent pixel
  DRef<std::uint8_t> run_map;  // width x height bytes, each 1..255
  DRef<std::uint8_t> alpha;    // width x height levels 0 (opaque) .. 31 (invisible)
  // Bytes of each plane: a plane smaller than the image (a duplicate of the screen image after
  // a size change) is never read or written.
  std::uint64_t run_map_size = 0;
  std::uint64_t alpha_size = 0;
  // Movie frames only: held by the movie's streaming thread for a whole frame and by blits while
  // they read the pixels, so that a drawn frame is never half old, half new.
  std::shared_ptr<std::mutex> frame_lock;
};

// Saved settings of one DrawImage::PushStatus.
struct DrawImageStatus {
  std::uint8_t key_on = 0, runs_on = 0, key_r = 0, key_g = 0, key_b = 0;
  std::uint32_t blend = 0;
  std::uint8_t alpha_on = 0, alpha_key = 0, draw = 0;
  ConnectedImage* parent = nullptr;  // not owned: checked through parent_life before use
  std::weak_ptr<int> parent_life;
  DPoint pos;
  DRect rect;
};

class DrawImage : public ConnectedImage {
 public:
  DrawImage() = default;
  ~DrawImage() override;

  // Creation; each fails when the image already has an owner. A pixel allocation that fails
  // leaves a created 0 x 0 image.
  bool Create(Screen* owner, std::int32_t width, std::int32_t height);
  bool CreateBottomUp(Screen* owner, std::int32_t width, std::int32_t height);
  bool Duplicate(const DRef<DrawImage>& source);
  bool CopyFrom(const DRef<DrawImage>& source);
  bool Destroy();
  bool IsCreated() const { return created_ != 0; }
  Screen* GetOwner() const { return owner_; }

  std::uint32_t GetFormat() const override;
  std::int32_t GetWidth() const override;
  std::int32_t GetHeight() const override;

  void SetAlphaKey(std::uint32_t level) { alpha_key_ = static_cast<std::uint8_t>(level > 31 ? 31 : level); }
  std::uint8_t GetAlphaKey() const { return alpha_key_; }
  void SetBlend(std::uint32_t kind) { blend_ = kind; }
  std::uint32_t GetBlend() const { return blend_; }
  bool IsTrans() const { return Flags() & kRecordKey; }
  bool IsFastTrans() const { return Flags() & kRecordRunMap; }
  bool IsAlpha() const { return Flags() & kRecordAlpha; }
  DRef<std::uint8_t> GetAlphaPlane() const { return record_ ? record_->alpha : DRef<std::uint8_t>(); }
  // The record's own handle of the plane (null without a record).
  DRef<std::uint8_t>* GetAlphaPlaneRef() { return record_ ? &record_->alpha : nullptr; }
  DRef<std::uint8_t> GetRunMap() const { return record_ ? record_->run_map : DRef<std::uint8_t>(); }
  DImage* GetImage() const { return record_ ? record_->pixels.Get() : nullptr; }
  // The planes when they cover the whole image, else null.
  std::uint8_t* ValidAlpha() const;
  std::uint8_t* ValidRunMap() const;
  DrawImageRecord* GetRecord() const { return record_.Get(); }

  // Packs (r, g, b), each clamped to 0-31, in the image's format.
  std::uint16_t Pack(std::int32_t r, std::int32_t g, std::int32_t b) const;
  // Pixels; outside the image a write does nothing and a read gives 0.
  void PutPixel(std::int32_t x, std::int32_t y, std::uint16_t pixel);
  void PutColor(std::int32_t x, std::int32_t y, std::int32_t r, std::int32_t g, std::int32_t b);
  std::uint16_t GetPixel(std::int32_t x, std::int32_t y) const;
  void GetTransColor(std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const;
  void FillRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::uint16_t pixel);
  void FillRect(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::int32_t r,
                std::int32_t g, std::int32_t b);
  void Fill(std::uint16_t pixel) { FillRect(0, 0, GetWidth(), GetHeight(), pixel); }
  void Fill(std::int32_t r, std::int32_t g, std::int32_t b) { Fill(Pack(r, g, b)); }
  // Clipped to the image; a segment that misses the image draws nothing.
  void DrawLine(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::uint16_t pixel);
  void DrawLine(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t r,
                std::int32_t g, std::int32_t b) {
    DrawLine(x1, y1, x2, y2, Pack(r, g, b));
  }

  void SetTrans(bool on, std::int32_t r, std::int32_t g, std::int32_t b);
  // Builds the run map from the pixels as they are now (only with the key on).
  void SetFastTrans(bool on);
  // On: a missing plane is made, all levels 0.
  void EnableAlpha(bool on);
  bool ShareAlpha(DrawImage& other);
  void SeparateAlpha();
  void ConvAlpha(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height, DrawImage& source,
                 std::int32_t sx, std::int32_t sy);
  void ConvTransAlpha(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                      DrawImage& source, std::int32_t sx, std::int32_t sy);

  void PushStatus();
  void PopStatus();
  std::uint32_t StatusDepth() const { return status_.GetCount(); }

  // Blits (flags bit 0: honour the key; bit 1: honour the blend kind).
  void Blt(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height, DrawImage& source,
           std::int32_t sx, std::int32_t sy, std::uint32_t flags) override;
  void BeginBlt(DrawImage& source, std::uint32_t flags) override;
  // Does nothing without a BeginBlt.
  void BltRect(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height, std::int32_t sx,
               std::int32_t sy) override;
  void EndBlt() override;
  std::uint32_t GetBltMode() const { return blt_mode_; }
  // Plain copy; flags bit 0 mirrors each row, bit 1 reads rows from the source's bottom edge.
  void BltMirror(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height, DrawImage& source,
                 std::int32_t sx, std::int32_t sy, std::uint32_t flags);

  // Wipes (direction 1: treated where the map level <= t; 0: where it is >= t).
  void BltWipe(DrawImage& source, std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
               std::int32_t sx, std::int32_t sy, const WipeMap& map, std::uint32_t t,
               std::uint32_t direction);
  void BltAlphaWipe(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                    DrawImage& source, std::int32_t sx, std::int32_t sy, const WipeMap& map, std::uint32_t t,
                    std::uint32_t direction);
  void FillAlphaWipe(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::uint8_t a,
                     std::uint8_t b, const WipeMap& map, std::uint32_t t, std::uint32_t direction);

  // The screen's entry of this image in its image list.
  DRefList<DrawImage>::Iterator registration_;

 protected:
  bool CreateWith(Screen* owner, std::int32_t width, std::int32_t height, bool bottom_up);
  void StartCreated(Screen* owner);
  std::uint32_t Flags() const { return record_ ? record_->flags : 0; }
  void RunBlt(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height, DrawImage& source,
              std::int32_t sx, std::int32_t sy, std::uint32_t mode);

  DRef<DrawImageRecord> record_;
  std::uint32_t created_ = 0;
  std::uint32_t blend_ = 0;
  std::uint8_t alpha_key_ = 0;
  DRefList<DrawImageStatus> status_;
  std::uint32_t blt_mode_ = 0;
  DrawImage* blt_source_ = nullptr;
  Screen* owner_ = nullptr;
};

// The DrawImage over the screen's back buffer.
class ScreenImage : public DrawImage {
 public:
  ~ScreenImage() override;
  // Binds to pixels the screen keeps; false when the image already has an owner.
  bool Attach(Screen* owner, DImage* pixels);
};

// Splits a pixel by an image's format: 5-bit red, green and blue.
void SplitColor16(const ConnectedImage& image, std::uint16_t pixel, std::uint8_t* r, std::uint8_t* g,
                  std::uint8_t* b);
