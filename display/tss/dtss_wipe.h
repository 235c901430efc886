// DtssWipe: reveals or hides TSS sprites pixel by pixel in the order of a grey pattern. The
// pattern's green channel is kept as the alpha of a system-memory mask; a level 0..255 splits it
// into two two-level masks (A: pattern >= level shown, B: pattern <= level shown), which the
// sprites put on texture stage 1. Without multitexture only the level is kept and the sprites
// fade their vertex colours instead.
#pragma once

#include <cstdint>

#include "base/dgeometry.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "platform/ddraw.h"

class DImage;
class DtssManager;
class DtssSprite;

// A level from a fraction: clamped to 0.0..1.0 first (negative and NaN give 0), then times 255
// to the nearest integer.
uint32_t DtssWipeLevelFromFraction(float v);

class DtssWipe : public DObject {
 public:
  DtssWipe() = default;
  DtssWipe(const DtssWipe&) = delete;
  DtssWipe& operator=(const DtssWipe&) = delete;
  ~DtssWipe() override;

  // Makes the masks of the pattern; the level ends at 0. False when already loaded, for an
  // empty or oversized source, or when a surface cannot be made or locked.
  bool Load(DtssManager* manager, const DImage& source);
  // Levels above 255 become 255; the current level changes nothing.
  void SetLevel(uint32_t level);
  void AddSprite(DtssSprite* sprite);
  void RemoveSprite(DtssSprite* sprite);
  void _ReleaseTextures();
  // Creates the two textures when missing and copies the masks into them when marked.
  bool _UpdateTextures();
  void _Restore();
  // Detaches every user (each gets its rebuild flag), leaves the manager's list and frees the
  // surfaces.
  void Release();

  bool IsLoaded() const { return manager_ != nullptr; }
  bool IsUsed() { return !users_.IsEmpty(); }
  bool IsDirty() const { return dirty_ != 0; }
  uint32_t GetLevel() const { return level_; }
  const DPoint& GetMaskSize() const { return mask_size_; }
  const DPoint& GetTextureSize() const { return texture_size_; }
  IDirectDrawSurface7* GetTextureA() const { return texture_a_; }
  IDirectDrawSurface7* GetTextureB() const { return texture_b_; }
  IDirectDrawSurface7* GetMask() const { return mask_; }
  IDirectDrawSurface7* GetMaskA() const { return mask_a_; }
  IDirectDrawSurface7* GetMaskB() const { return mask_b_; }

 private:
  bool _CreateMaskSurface(uint32_t width, uint32_t height, IDirectDrawSurface7** out);
  void _WriteMasks();

  DtssManager* manager_ = nullptr;       // none: not loaded
  IDirectDrawSurface7* mask_ = nullptr;  // the pattern's green as alpha, colour bits 0
  DPoint mask_size_;                     // the pattern's size
  IDirectDrawSurface7* mask_a_ = nullptr;
  IDirectDrawSurface7* mask_b_ = nullptr;
  IDirectDrawSurface7* texture_a_ = nullptr;  // stage-1 textures: A for direction 0, B for 1
  IDirectDrawSurface7* texture_b_ = nullptr;
  DPoint texture_size_;
  uint8_t dirty_ = 0;  // the textures lack the current masks
  uint32_t level_ = 0;
  DRefList<DtssSprite> users_;  // non-owning handles
};
