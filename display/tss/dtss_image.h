// DtssImage: a picture that TSS sprites show. The whole source stays in a system-memory surface
// in the texture format; a window of it (size at a scroll position) is copied into a texture,
// only the changed part and only while some sprite uses the image, so textures can be dropped at
// any time and rebuilt. A dynamic image has no source copy: its texture receives rendered frames.
#pragma once

#include <cstdint>

#include "base/dgeometry.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "platform/ddraw.h"

class DImage;
class DtssManager;
class DtssSprite;

class DtssImage : public DObject {
 public:
  DtssImage() = default;
  DtssImage(const DtssImage&) = delete;
  DtssImage& operator=(const DtssImage&) = delete;
  ~DtssImage() override;

  // Initialises a static image of the source (width or height <= 0: the source's).
  bool Init(DtssManager* manager, int32_t width, int32_t height, const DImage& source);
  // Replaces the source copy by a converted copy of `source`; the window goes back to (0, 0).
  bool Load(const DImage& source);
  bool InitDynamic(DtssManager* manager, int32_t width, int32_t height);
  // Dynamic images: whether the texture was created, restored or dropped since the last call.
  bool IsLost();
  // Scrolls the window inside the source (kept inside; a window wider than the source stays at 0).
  void SetPos(int32_t x, int32_t y);
  // Marks a rectangle in source coordinates for upload.
  void AddDirtyRect(int32_t x, int32_t y, int32_t width, int32_t height);
  // Fills a rectangle of the source (clipped) with a colour of components 0.0..1.0 (clamped;
  // NaN counts as 0).
  void Fill(int32_t x, int32_t y, int32_t width, int32_t height, float r, float g, float b, float a);
  // The source's pixels (null for a dynamic image or when the lock fails); Unlock ends it.
  uint8_t* Lock(int32_t* pitch);
  void Unlock();

  bool _CreateTexture();
  bool _Upload();
  void _PadEdges(int32_t right, int32_t bottom);
  void _RestoreTexture();
  void _ReleaseTexture();
  void AddSprite(DtssSprite* sprite);
  void RemoveSprite(DtssSprite* sprite);
  // Releases every sprite that shows the image, leaves the manager's list and frees the surfaces.
  void Release();

  bool IsInitialised() const { return manager_ != nullptr; }
  bool IsDynamic() const { return dynamic_ != 0; }
  bool IsUsed() { return !sprites_.IsEmpty(); }
  bool HasDirtyRect() const { return dirty_.width != 0 && dirty_.height != 0; }
  const DPoint& GetSize() const { return size_; }
  const DPoint& GetSourceSize() const { return source_size_; }
  const DPoint& GetPos() const { return pos_; }
  const DPoint& GetTextureSize() const { return texture_size_; }
  const DRect& GetDirtyRect() const { return dirty_; }
  IDirectDrawSurface7* GetTexture() const { return texture_; }
  uint32_t GetFlags() const { return flags_; }

 private:
  friend class DtssManager;
  void WholeWindowDirty() { dirty_ = DRect(0, 0, size_.x, size_.y); }

  DtssManager* manager_ = nullptr;  // none until initialised
  uint32_t flags_ = 0;              // bit 0: texture created, released or restored
  uint8_t dynamic_ = 0;
  DPoint size_;                            // the visible window
  IDirectDrawSurface7* system_ = nullptr;  // the whole source; none for dynamic images
  DPoint pos_;                             // the window's position in the source
  DPoint source_size_;
  IDirectDrawSurface7* texture_ = nullptr;
  DPoint texture_size_;
  DRect dirty_;                   // window coordinates; width or height 0: clean
  DRefList<DtssSprite> sprites_;  // non-owning handles of the sprites showing it
};
