// The Draw unit's screen: a 16-bit back image in a DIB section, the sprite list drawing into it,
// the images it made, and the window or exclusive full-screen display it is shown on.
#pragma once

#include <cstdint>

#include "base/dgeometry.h"
#include "base/dmessagelistener.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "display/draw/draw_image.h"
#include "display/draw/image_handle.h"
#include "display/draw/sprite_list.h"
#include "imaging/dimage.h"
#include "platform/ddraw.h"
#include "platform/gdi.h"
#include "platform/user.h"

class DWindow;

class Screen : public DMessageListener {
 public:
  // Retries of a surface answering "still drawing" before the frame is given up.
  static constexpr int kStillDrawingRetries = 1000000;

  Screen() = default;
  ~Screen() override;

  // Attaches to the window's messages and builds the back image (640 x 480, black); false, with
  // everything released, on any failure, also when the span library refuses the format.
  bool Init(DWindow& window);
  // Releases everything; false when not attached to a window.
  bool Shutdown();
  bool OnMessage(LRESULT* result, DWindow* window, UINT message, WPARAM wparam, LPARAM lparam) override;

  // Shows the dirty cells (or the whole screen, or the flip mapping) on the display.
  void Present();
  // Counts nested GDI requests (it may go below 0); in full screen a clipper keeps dialogs visible.
  void UseGDI(bool enter);
  bool SetFullscreen(bool on);
  bool IsFullscreen() const { return ddraw_ != nullptr; }
  void GetSize(std::int32_t* width, std::int32_t* height) const {
    *width = size_.x;
    *height = size_.y;
  }
  // False, size kept, for a size of 0 or less or past the image cap.
  bool SetSize(std::int32_t width, std::int32_t height, bool resize_window);
  // Whether a 16-bit display mode of that size exists.
  bool CheckFullscreenSize(std::int32_t width, std::int32_t height);
  void SetFlipscreen(bool on) { flags_ = on ? flags_ | 1u : flags_ & ~1u; }
  void SetFlipMapping(bool stretch, std::int32_t dx, std::int32_t dy, std::int32_t dw, std::int32_t dh,
                      std::int32_t sx, std::int32_t sy, std::int32_t sw, std::int32_t sh);

  DRef<DrawImage> CreateImage(std::int32_t width, std::int32_t height);
  DRef<DrawImage> CreateMovieImage(std::int32_t width, std::int32_t height);
  DRef<DrawImage> CopyImage(const DRef<DrawImage>& source);
  DRef<DrawImage> DuplicateImage(const DRef<DrawImage>& source);
  DRef<WipeMap> LoadWipe(const DImage& source, std::int32_t mode);
  void SetSpriteImageDraw(bool on);
  void PushSpriteImageStatus();
  void PopSpriteImageStatus();
  // A non-owning handle of the screen image.
  DRef<ConnectedImage> GetImageRef();
  void _UnregisterImage(DrawImage& image);

  std::uint32_t GetPixelFormat() const { return format_; }
  SpriteList& GetSpriteList() { return sprites_; }
  ScreenImage& GetScreenImage() { return screen_image_; }
  std::int32_t GetGdiCount() const { return gdi_count_; }
  std::uint32_t GetImageCount() { return images_.GetCount(); }
  HWND GetWindow() const { return hwnd_; }
  DPoint GetDibSize() const { return dib_size_; }
  const DImage& GetDibView() const { return dib_view_; }

 private:
  // Everything Shutdown releases after leaving the window's chain.
  void ReleaseAll();
  std::uint32_t DetectFormat();
  bool ApplySize();
  bool EnterFullscreen();
  void LeaveFullscreen();
  bool AttachClipper();
  DRef<DrawImage> Register(DRef<DrawImage> image);
  // A surface's DC, retried while it is still drawing; null on any other error.
  HDC SurfaceDC(IDirectDrawSurface7* surface);
  // Waits while the back buffer's blits run; false when they never end.
  bool WaitBlt();
  // Copies the back image into a DC: stretched, whole, or the dirty runs.
  void CopyTo(HDC dc, bool whole, bool runs);

  HWND hwnd_ = nullptr;
  DWindow* window_ = nullptr;
  std::uint32_t format_ = 6;
  DPoint size_;
  std::uint32_t flags_ = 0;  // bit 0: flip-screen mode
  std::int32_t gdi_count_ = 0;
  SpriteList sprites_;
  ScreenImage screen_image_;
  DRefList<DrawImage> images_;
  HDC memory_dc_ = nullptr;
  DPoint dib_size_;
  HBITMAP dib_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  std::uint8_t* dib_bits_ = nullptr;
  DImage dib_view_;
  IDirectDraw7* ddraw_ = nullptr;
  IDirectDrawSurface7* primary_ = nullptr;
  IDirectDrawSurface7* back_ = nullptr;
  WINDOWPLACEMENT placement_{};
  LONG style_ = 0;
  LONG ex_style_ = 0;
  HMENU menu_ = nullptr;
  bool saved_window_ = false;
  bool stretch_ = false;
  DRect dst_rect_;
  DRect src_rect_;
};

// The engine's one Draw-unit screen (made on first use, lives for the process).
Screen& DrawScreen();

// A new image handle on the screen image, reset to the whole screen: the scripts' "screen".
DRef<ImageHandle> MakeScreenImageHandle(Screen& screen);
