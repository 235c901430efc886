// The movie renderer filter, its input pin and its allocator.
#include "media/movie/movie_renderer.h"

#include <algorithm>
#include <cstring>

#include "display/draw/screen.h"

// ---- MovieAllocator: its references are the renderer's.

MovieAllocator::MovieAllocator(MovieRenderer* renderer)
    : CBaseAllocator(nullptr, renderer, nullptr, TRUE, TRUE) {}

MovieAllocator::~MovieAllocator() {
  frame_image.Release();
  CAutoLock lock(m_cs);
  Free();
}

HRESULT MovieAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  if (request->cbPrefix > 0) return E_INVALIDARG;
  DImage* pixels = frame_image ? frame_image->GetImage() : nullptr;
  if (!pixels) return VFW_E_SIZENOTSET;
  ALLOCATOR_PROPERTIES forced = *request;
  const std::uint64_t size = std::uint64_t(pixels->GetPitch()) * pixels->GetHeight();
  if (size == 0 || size > 0x7fffffff) return VFW_E_SIZENOTSET;
  forced.cbBuffer = static_cast<LONG>(size);
  return CBaseAllocator::SetProperties(&forced, actual);
}

HRESULT MovieAllocator::Alloc() {
  HRESULT hr = CBaseAllocator::Alloc();
  if (FAILED(hr)) return hr;
  DImage* pixels = frame_image ? frame_image->GetImage() : nullptr;
  if (!pixels || !pixels->GetBits()) return VFW_E_SIZENOTSET;
  Free();
  // One sample over the image's pixels, whatever count was asked for.
  m_lFree.push_back(new CMediaSample(nullptr, this, nullptr, pixels->GetBits(), m_lSize));
  m_lAllocated = 1;
  return S_OK;
}

HRESULT MovieAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                  DWORD flags) {
  HRESULT hr = CBaseAllocator::GetBuffer(sample, start, end, flags);
  if (hr == S_OK && frame_image && frame_image->GetRecord() && frame_image->GetRecord()->frame_lock) {
    frame_held_ = std::unique_lock<std::mutex>(*frame_image->GetRecord()->frame_lock);
  }
  return hr;
}

HRESULT MovieAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (frame_held_.owns_lock()) frame_held_.unlock();
  frame_held_ = {};
  return CBaseAllocator::ReleaseBuffer(sample);
}

void MovieAllocator::Free() {
  for (CMediaSample* s : m_lFree) delete s;
  m_lFree.clear();
  m_lAllocated = 0;
}

// ---- MovieRendererPin.

MovieRendererPin::MovieRendererPin(MovieRenderer* renderer)
    : CRendererInputPin(renderer, nullptr, u"Input"), renderer_(renderer) {}

HRESULT MovieRendererPin::GetAllocator(IMemAllocator** allocator) {
  CAutoLock lock(renderer_->InterfaceLock());
  if (!allocator) return E_POINTER;
  if (!m_pAllocator) {
    m_pAllocator = &renderer_->GetAllocator();
    m_pAllocator->AddRef();
  }
  m_pAllocator->AddRef();
  *allocator = m_pAllocator;
  return S_OK;
}

HRESULT MovieRendererPin::NotifyAllocator(IMemAllocator* allocator, BOOL read_only) {
  CAutoLock lock(renderer_->InterfaceLock());
  HRESULT hr = CRendererInputPin::NotifyAllocator(allocator, read_only);
  if (FAILED(hr)) return hr;
  own_allocator_in_use_ = allocator == static_cast<IMemAllocator*>(&renderer_->GetAllocator()) ? 1 : 0;
  return S_OK;
}

// ---- MovieRenderer.

MovieRenderer::MovieRenderer(Screen* factory, HRESULT* hr)
    : CBaseVideoRenderer(CLSID_MovieRenderer, nullptr, nullptr, hr),
      allocator_(this),
      pin_(this),
      factory_(factory) {}

MovieRenderer::~MovieRenderer() {
  // The pin may still hold the embedded allocator; it holds no count that matters any more.
  own_frame_image_.Release();
}

CRendererInputPin* MovieRenderer::GetPin(int n) {
  CAutoLock lock(m_InterfaceLock);
  if (n != 0) return nullptr;
  m_pInputPin = &pin_;
  return &pin_;
}

HRESULT MovieRenderer::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  if (type->formattype != FORMAT_VideoInfo) return E_INVALIDARG;
  if (type->majortype != MEDIATYPE_Video) return E_FAIL;
  const std::uint32_t format = factory_ ? factory_->GetPixelFormat() : 0;
  if (format == 6 && type->subtype == MEDIASUBTYPE_RGB565) return S_OK;
  if (format == 4 && type->subtype == MEDIASUBTYPE_RGB555) return S_OK;
  return E_FAIL;
}

DRef<DrawImage> MovieRenderer::MakeImage() {
  if (!factory_ || width_ <= 0 || height_ <= 0) return {};
  DRef<DrawImage> image =
      bottom_up_ ? factory_->CreateMovieImage(width_, height_) : factory_->CreateImage(width_, height_);
  // A size the factory could not allocate leaves a 0 x 0 image: no frame image then.
  if (!image || !image->GetImage() || !image->GetRecord() || image->GetWidth() != width_ ||
      image->GetHeight() != height_) {
    if (image) image->Destroy();
    return {};
  }
  image->GetRecord()->frame_lock = std::make_shared<std::mutex>();
  return image;
}

HRESULT MovieRenderer::SetMediaType(const CMediaType* type) {
  CAutoLock lock(m_InterfaceLock);
  if (!type || !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER)) return E_POINTER;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
  const std::int64_t h = vih->bmiHeader.biHeight;
  width_ = vih->bmiHeader.biWidth;
  height_ = static_cast<std::int32_t>(h < 0 ? std::min<std::int64_t>(-h, INT32_MAX) : h);
  bottom_up_ = h > 0 ? 1 : 0;
  allocator_.frame_image = MakeImage();
  return S_OK;
}

DRef<DrawImage> MovieRenderer::GetFrameImage() {
  if (OwnAllocatorInUse()) return allocator_.frame_image;
  CAutoLock lock(m_InterfaceLock);
  if (!own_frame_image_) own_frame_image_ = MakeImage();
  return own_frame_image_;
}

HRESULT MovieRenderer::DoRenderSample(IMediaSample* sample) {
  if (OwnAllocatorInUse()) return S_OK;  // the decoder wrote into the image itself
  DRef<DrawImage> image;
  {
    CAutoLock lock(m_InterfaceLock);
    image = own_frame_image_;  // never made here: images are made on the main thread
  }
  DImage* pixels = image ? image->GetImage() : nullptr;
  BYTE* src = nullptr;
  if (!pixels || !sample || FAILED(sample->GetPointer(&src)) || !src) return S_OK;
  // Row by row: the sample's rows are 16-bit DIB rows (4-byte aligned), the image's rows have
  // its own pitch; both hold the rows in the same order. A short sample is copied as far as it goes.
  const std::size_t src_stride = (std::size_t(width_) * 2 + 3) & ~std::size_t(3);
  const std::size_t dst_pitch = pixels->GetPitch();
  const std::size_t row_bytes = std::min<std::size_t>(std::size_t(width_) * 2, dst_pitch);
  const LONG length = sample->GetActualDataLength();
  const std::size_t available = length > 0 ? std::size_t(length) : 0;
  std::unique_lock<std::mutex> frame;
  if (image->GetRecord() && image->GetRecord()->frame_lock)
    frame = std::unique_lock<std::mutex>(*image->GetRecord()->frame_lock);
  std::uint8_t* dst = pixels->GetBits();
  const std::size_t rows = std::min<std::size_t>(pixels->GetHeight(), std::size_t(height_));
  for (std::size_t y = 0; y < rows; ++y) {
    const std::size_t at = y * src_stride;
    if (at >= available) break;
    std::memcpy(dst + y * dst_pitch, src + at, std::min(row_bytes, available - at));
  }
  pixels->Unlock();
  return S_OK;
}
