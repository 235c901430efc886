// The engine's video renderer filter: it accepts 16-bit RGB video in the Draw-unit screen's pixel
// format and makes each frame appear in a Draw-unit image (the frame image). Its own allocator's
// one sample is the frame image's pixel memory, so a decoder that takes it writes frames straight
// into the image; with another allocator each frame is copied.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "base/dref.h"
#include "display/draw/draw_image.h"
#include "platform/dshow.h"

class Screen;
class MovieRenderer;

// Its references are the renderer's (the renderer is its outer object).
class MovieAllocator : public CBaseAllocator {
 public:
  explicit MovieAllocator(MovieRenderer* renderer);
  ~MovieAllocator() override;

  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  // The sample is the frame image: the image's frame lock is held from GetBuffer until the
  // sample comes back, so the whole frame is written under it.
  HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample* sample) override;

  DRef<DrawImage> frame_image;  // made by MovieRenderer::SetMediaType

 protected:
  HRESULT Alloc() override;
  void Free() override;

 private:
  std::unique_lock<std::mutex> frame_held_;  // the frame lock while the sample is out
};

class MovieRendererPin : public CRendererInputPin {
 public:
  explicit MovieRendererPin(MovieRenderer* renderer);

  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
  bool OwnAllocatorInUse() const { return own_allocator_in_use_ != 0; }

 private:
  MovieRenderer* renderer_;
  std::uint8_t own_allocator_in_use_ = 0;
};

class MovieRenderer : public CBaseVideoRenderer {
 public:
  // `factory` makes the frame images and gives the pixel format; null (no Draw unit, as in TSS
  // mode) accepts no video at all.
  MovieRenderer(Screen* factory, HRESULT* hr);
  ~MovieRenderer() override;

  CRendererInputPin* GetPin(int n) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;

  MovieAllocator& GetAllocator() { return allocator_; }
  bool OwnAllocatorInUse() const { return pin_.OwnAllocatorInUse(); }
  // The image the frames land in (empty before a type was set or when it could not be made).
  // Call on the main thread: the copy path's own image is made here on first request.
  DRef<DrawImage> GetFrameImage();

  std::int32_t GetVideoWidth() const { return width_; }
  std::int32_t GetVideoHeight() const { return height_; }
  bool IsBottomUp() const { return bottom_up_ != 0; }

 private:
  // A frame image of the negotiated size and row order; empty when the factory refuses the size.
  DRef<DrawImage> MakeImage();

  MovieAllocator allocator_;
  MovieRendererPin pin_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::uint8_t bottom_up_ = 0;
  Screen* factory_;
  DRef<DrawImage> own_frame_image_;
};

// The renderer's class identifier (never registered).
inline constexpr GUID CLSID_MovieRenderer = {
    0x5f0c1a3e, 0x7d2b, 0x4c81, {0x9a, 0x40, 0x6e, 0x13, 0x52, 0xb7, 0x0d, 0x94}};
