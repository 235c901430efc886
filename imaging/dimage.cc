// Memory image storage, row addressing of both row orders, and the deep copy.
#include "imaging/dimage.h"

#include <cstring>

namespace {

constexpr std::uint32_t kMaxSide = 0x7FFFFFFFu;  // larger sizes are negative numbers passed as sizes

// Row bytes rounded up to a multiple of 4, in 64 bits.
std::uint64_t AlignedPitch(std::uint32_t width, std::uint32_t bpp) {
  return (std::uint64_t{width} * bpp + 3) / 4 * 4;
}

// Checks the description shared by Create and Attach and resolves pitch 0. False when the image
// cannot be described: zero or negative sizes, no format, a row that does not fit in the pitch,
// or storage above the cap.
bool Describe(std::uint32_t width, std::uint32_t height, std::uint32_t& pitch, DimgFormat format) {
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
  if (!DimgIsFormat(format)) return false;
  const std::uint32_t bpp = DimgBytesPerPixel(format);
  const std::uint64_t row = std::uint64_t{width} * bpp;
  const std::uint64_t p = pitch == 0 ? AlignedPitch(width, bpp) : pitch;
  if (row > p) return false;
  if (p * height > DImage::kMaxStorage) return false;
  pitch = static_cast<std::uint32_t>(p);
  return true;
}

}  // namespace

DImage::DImage(const DImage& src) : DObject() {
  CopyFrom(src);
}

DImage::~DImage() {
  Destroy();
  pixels_.Release();
}

bool DImage::Create(std::uint32_t width, std::uint32_t height, std::uint32_t pitch, DimgFormat format) {
  if (!Describe(width, height, pitch, format)) return false;
  if (height_ != height || pitch_ != pitch) {
    if (pixels_.Get() != nullptr) return false;
    const std::uint64_t size = std::uint64_t{height} * pitch;
    DRef<std::uint8_t> block;
    block.Alloc(static_cast<std::uint32_t>(size + 16));
    const auto addr = reinterpret_cast<std::uintptr_t>(block.Get());
    pixels_ = block.Offset(static_cast<std::int32_t>(16 - addr % 16));
    height_ = height;
    pitch_ = pitch;
  }
  width_ = width;
  bit_count_ = DimgBitCount(format);
  bytes_per_pixel_ = DimgBytesPerPixel(format);
  format_ = format;
  return true;
}

bool DImage::CreateAligned(std::uint32_t width, std::uint32_t height, DimgFormat format) {
  return Create(width, height, 0, format);
}

bool DImage::Destroy() {
  if (pixels_.Get() == nullptr) return false;
  pixels_.Release();
  width_ = height_ = pitch_ = bit_count_ = bytes_per_pixel_ = 0;
  return true;
}

bool DImage::Attach(const DRef<std::uint8_t>& pixels, std::uint32_t width, std::uint32_t height,
                    std::uint32_t pitch, DimgFormat format) {
  if (pixels.Get() == nullptr || !Describe(width, height, pitch, format)) return false;
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  pitch_ = pitch;
  bit_count_ = DimgBitCount(format);
  bytes_per_pixel_ = DimgBytesPerPixel(format);
  format_ = format;
  return true;
}

void DImage::CopyFrom(const DImage& src) {
  Destroy();
  if (!Create(src.GetWidth(), src.GetHeight(), src.GetPitch(), src.GetFormat())) return;
  const std::uint8_t* from = src.GetTopLine();
  std::uint8_t* to = GetTopLine();
  for (std::uint32_t y = 0; y < height_; ++y) {
    std::memcpy(to, from, pitch_);
    if (y + 1 < height_) {
      from = src.NextLine(from);
      to = NextLine(to);
    }
  }
}

std::uint8_t* DImage::OffsetPointer(std::uint8_t* p, std::int32_t dx, std::int32_t dy) const {
  return p + std::ptrdiff_t{dx} * bytes_per_pixel_ + std::ptrdiff_t{dy} * pitch_;
}

std::uint8_t* DImage::GetPixelPointer(std::int32_t x, std::int32_t y) {
  return pixels_.Get() + std::ptrdiff_t{y} * pitch_ + std::ptrdiff_t{x} * bytes_per_pixel_;
}

const std::uint8_t* DImage::GetPixelPointer(std::int32_t x, std::int32_t y) const {
  return const_cast<DImage*>(this)->GetPixelPointer(x, y);
}

std::uint8_t* DImage::OffsetLine(std::uint8_t* p, std::int32_t dy) const {
  return p + std::ptrdiff_t{dy} * pitch_;
}

std::uint8_t* DImage::NextLine(std::uint8_t* p) const {
  return p + GetPitch();
}

std::uint8_t* DImage::GetTopLine() {
  return pixels_.Get();
}

const std::uint8_t* DImage::GetTopLine() const {
  return pixels_.Get();
}

std::uint8_t* DImageDib::OffsetPointer(std::uint8_t* p, std::int32_t dx, std::int32_t dy) const {
  return p + std::ptrdiff_t{dx} * bytes_per_pixel_ - std::ptrdiff_t{dy} * pitch_;
}

std::uint8_t* DImageDib::GetPixelPointer(std::int32_t x, std::int32_t y) {
  return pixels_.Get() + (std::ptrdiff_t{height_} - 1 - y) * pitch_ + std::ptrdiff_t{x} * bytes_per_pixel_;
}

const std::uint8_t* DImageDib::GetPixelPointer(std::int32_t x, std::int32_t y) const {
  return const_cast<DImageDib*>(this)->GetPixelPointer(x, y);
}

std::uint8_t* DImageDib::OffsetLine(std::uint8_t* p, std::int32_t dy) const {
  return p - std::ptrdiff_t{dy} * pitch_;
}

std::uint8_t* DImageDib::NextLine(std::uint8_t* p) const {
  return p - pitch_;
}

std::uint8_t* DImageDib::GetTopLine() {
  std::uint8_t* bits = pixels_.Get();
  return bits == nullptr ? nullptr : bits + (std::ptrdiff_t{height_} - 1) * pitch_;
}

const std::uint8_t* DImageDib::GetTopLine() const {
  return const_cast<DImageDib*>(this)->GetTopLine();
}
