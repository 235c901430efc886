// DtssManager: the TSS unit's device (DirectDraw and Direct3D objects, display surfaces, window
// and full-screen modes, lost surfaces, GDI mode) and its renderer (image list, level lists,
// batcher, render states, render and present).
#pragma once

#include <array>
#include <cstdint>

#include "base/dgeometry.h"
#include "base/dmessagelistener.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "base/dwindow.h"
#include "platform/ddraw.h"
#include "platform/user.h"

class DImage;
class DtssImage;
class DtssSprite;
class DtssWipe;

// The sprite renderer's vertex: XYZRHW | DIFFUSE | TEX2, 36 bytes.
struct DtssVertex {
  float x, y, z, rhw;
  uint32_t diffuse;  // ARGB
  float tu0, tv0, tu1, tv1;
};
static_assert(sizeof(DtssVertex) == 36);
inline constexpr DWORD kDtssFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;

// Manager flags (given to Create).
enum : uint32_t {
  kDtssSoftware = 0x01,  // the software device even when a hardware one qualifies
  kDtssDepth16 = 0x02,
  kDtssDepth32 = 0x04,
  kDtssNoHalfPixel = 0x08,  // sprite vertices are not shifted by -0.5
  kDtssPoint = 0x10,        // point filtering instead of linear
  kDtssBlitPresent = 0x20,  // full screen presents by a blit instead of a flip
};

// Waits (boundedly) until both surfaces may blit, then blits src_rect of src onto dst_rect of dst.
HRESULT DtssWaitBlt(IDirectDrawSurface7* dst, RECT* dst_rect, IDirectDrawSurface7* src, RECT* src_rect,
                    DWORD flags, DDBLTFX* fx = nullptr);

// Busy-waits on DDERR_WASSTILLDRAWING give up after this many tries.
inline constexpr int kDtssMaxWaits = 1000000;
// Levels are 0..kDtssMaxLevel; -1 takes a sprite out of the lists.
inline constexpr int32_t kDtssMaxLevel = 65535;
inline constexpr uint32_t kDtssMaxVertices = 1024;
inline constexpr uint32_t kDtssMaxIndices = 4096;

class DtssManager : public DMessageListener {
 public:
  DtssManager();
  ~DtssManager() override;

  // ---- Device (start, end, modes).
  // Starts the unit on the main window in window mode at its client size; false (and the unit
  // ended) on any failure, or false with nothing changed when already created.
  bool Create(DWindow& window, uint32_t flags);
  // Ends the unit: releases every image (and so its sprites), the level table, the listener
  // link and the DirectDraw objects. Harmless when not created.
  void Destroy();
  bool OnMessage(LRESULT* result, DWindow* window, UINT message, WPARAM wparam, LPARAM lparam) override;
  // Counted GDI mode: while the count is above 0 full screen keeps a clipper for dialogs,
  // presents by a blit and shows the cursor.
  void UseGDI(bool on);
  bool SetWindowSize(int32_t width, int32_t height);
  bool SetFullscreen(bool fullscreen);
  void SetFlipscreen(bool flip);
  void GetWindowSize(int32_t* width, int32_t* height) const;
  bool IsFullscreen() const { return fullscreen_ != 0; }
  bool CheckFullscreenSize(int32_t width, int32_t height);
  bool IsCreated() const { return hwnd_ != nullptr; }

  // ---- Objects.
  // A new image of the source (width or height <= 0: the source's), kept in the image list.
  DRef<DtssImage> CreateImage(const DImage& source, int32_t width, int32_t height);
  DRef<DtssImage> CreateDynamicImage(int32_t width, int32_t height);
  // A new sprite showing a listed image at a level (hidden); empty on failure.
  DRef<DtssSprite> CreateSprite(DtssImage* image, int32_t level);
  DRef<DtssImage> _FindImage(DtssImage* image);
  void _RemoveImage(DtssImage* image);
  void SetImagesDirty() { image_dirty_ |= 1; }
  // A new wipe of the pattern, kept in the wipe list until Destroy; empty on failure.
  DRef<DtssWipe> LoadWipe(const DImage& source);
  DRef<DtssWipe> _FindWipe(DtssWipe* wipe);
  void _RemoveWipe(DtssWipe* wipe);
  void SetWipesDirty() { wipe_dirty_ |= 1; }
  uint32_t GetWipesDirty() const { return wipe_dirty_; }

  // ---- Levels.
  // Takes the sprite out of its list, then (shown, level 0..65535) appends it to that level's
  // list. False for level -1 and for levels out of range (the sprite then is in no list).
  bool SetSpriteLevel(DtssSprite* sprite, int32_t level);
  void _RemoveFromLevel(DtssSprite* sprite);
  uint32_t LevelCount() const { return level_count_; }
  uint32_t LevelSkip(uint32_t i) const { return levels_[i].skip; }

  // ---- Frames.
  // Restores lost surfaces, uploads changed images and draws the shown sprites level by level
  // into the back buffer. True also when the surfaces cannot be restored (nothing drawn); false
  // when the uploads fail.
  bool Render();
  // Shows the back buffer: a flip, or a blit (window mode, GDI mode, flag 0x20).
  void Present();
  // Copies the rendered frame's top-left part into a dynamic image's texture.
  void GetRenderImage(DtssImage* image);
  // Point filtering for false, linear for true, on either device.
  void SetLinearMode(bool linear);
  // Adds triangles to the batch (indices relative to the call's vertices). Refused, and logged,
  // above 1024 vertices or 4096 indices.
  bool _AddPrimitives(const DtssVertex* vertices, uint32_t vertex_count, const uint16_t* indices,
                      uint32_t index_count, IDirectDrawSurface7* texture0, IDirectDrawSurface7* texture1,
                      uint32_t blend, uint32_t reference);

  // ---- Read by images and sprites.
  uint32_t GetFlags() const { return flags_; }
  bool IsHardware() const { return hardware_ != 0; }
  bool IsMultitexture() const { return multitexture_ != 0; }
  IDirectDraw7* GetDirectDraw() const { return ddraw_; }
  const D3DDEVICEDESC7& GetDeviceDesc() const { return device_desc_; }
  uint32_t GetTextureFormat() const { return texture_format_; }
  const DDPIXELFORMAT& GetTexturePixelFormat() const { return texture_pf_; }
  uint32_t GetBackFormat() const { return back_format_; }
  const DDPIXELFORMAT& GetBackPixelFormat() const { return back_pf_; }
  const GUID& GetMovieSubtype() const { return movie_subtype_; }
  IDirectDrawSurface7* GetBackBuffer() const { return back_; }
  int32_t GetGdiCount() const { return gdi_count_; }

 private:
  struct Level {
    DtssSprite* first = nullptr;
    DtssSprite* last = nullptr;
    uint32_t skip = 0;
  };

  bool _CreateD3D(int32_t width, int32_t height, bool fullscreen);
  bool _CreateDisplaySurfaces();
  bool _CreateDevice();
  bool _SetExclusive();
  bool _SetWindowSetting();
  void _RestoreWindow();
  void _ReleaseD3D();
  void _ReleaseSurfaces();
  void _ReleaseDevice();
  bool _ResetDevice();
  bool _CheckLost();
  bool _AttachClipper(bool flip_to_gdi);
  static HRESULT _EnumDeviceCallback(LPSTR description, LPSTR name, LPD3DDEVICEDESC7 desc, LPVOID context);
  static HRESULT _EnumTextureFormatCallback(LPDDPIXELFORMAT format, LPVOID context);
  static HRESULT _EnumMovieFormatCallback(LPDDPIXELFORMAT format, LPVOID context);
  static HRESULT _EnumModeCallback(LPDDSURFACEDESC2 desc, LPVOID context);

  void _InitRenderStates();
  void _SetBlendMode(uint32_t mode);
  void _SetAlphaTest(uint32_t reference);
  void _Flush();
  bool _UpdateImages();
  bool _UploadImages();
  bool _UpdateWipes();
  bool _UploadWipes();
  void _FreeTextures(bool all);

  // Device fields.
  HWND hwnd_ = nullptr;             // the main window; null while not created
  DWindow window_;                  // the same window (not owner)
  uint32_t flags_ = 0;              // kDtss* bits
  int32_t width_ = 0, height_ = 0;  // back-buffer size
  uint32_t depth_ = 0;              // 16 or 32
  uint8_t fullscreen_ = 0;
  int32_t gdi_count_ = 0;  // callers that want dialogs visible
  IDirectDraw7* ddraw_ = nullptr;
  IDirectDrawSurface7* primary_ = nullptr;
  IDirectDrawSurface7* back_ = nullptr;
  IDirect3D7* d3d_ = nullptr;
  IDirect3DDevice7* device_ = nullptr;
  D3DDEVICEDESC7 device_desc_{};
  DRect present_;  // screen x, y of the client origin; width, height
  uint8_t hardware_ = 0;
  uint8_t multitexture_ = 0;
  uint8_t window_saved_ = 0;
  WINDOWPLACEMENT saved_placement_{};
  uint32_t saved_style_ = 0, saved_ex_style_ = 0;
  HMENU saved_menu_ = nullptr;
  uint32_t texture_format_ = 0;  // DImage format code 2 or 5
  DDPIXELFORMAT texture_pf_{};
  uint32_t back_format_ = 0;  // 2, 3, 4, 5 or 6
  DDPIXELFORMAT back_pf_{};
  GUID movie_subtype_{};
  DDPIXELFORMAT movie_pf_{};

  // Renderer fields.
  uint32_t image_dirty_ = 0;    // bit 0: some image may need uploading
  DRefList<DtssImage> images_;  // owning handles of every image made here
  uint32_t wipe_dirty_ = 0;     // bit 0: some wipe may need uploading
  DRefList<DtssWipe> wipes_;    // owning handles of every wipe made here
  uint32_t level_count_ = 0;    // 0 or a multiple of 128
  DRef<Level> levels_;          // level_count_ entries
  uint32_t blend_ = 0;          // last blend mode sent
  uint32_t alpha_ref_ = 0;      // last alpha reference sent
  std::array<DtssVertex, kDtssMaxVertices> vertices_{};
  uint32_t vertex_count_ = 0;
  std::array<uint16_t, kDtssMaxIndices> indices_{};
  uint32_t index_count_ = 0;
  IDirectDrawSurface7* texture0_ = nullptr;  // last set on the device (not owned)
  IDirectDrawSurface7* texture1_ = nullptr;
};

// The engine's TSS unit: one manager for the whole run, started by the engine's start-up when
// the start-up configuration asks for it.
DtssManager& TssManager();
