// Memory images: pixels in one of eight formats, top-down (DImage) or bottom-up (DImageDib) rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "imaging/dimg_format.h"

// A rectangle of pixels kept in a reference-counted byte buffer that several images may share.
// Row 0 is the top row of the picture in both classes; code that walks rows only through
// GetTopLine / NextLine / OffsetLine works on either row order.
//
// Sizes are limited: width and height below 2^31 and at most kMaxStorage bytes of storage, so all
// address arithmetic fits comfortably in 64 bits.
class DImage : public DObject {
 public:
  static constexpr std::uint64_t kMaxStorage = std::uint64_t{1} << 30;  // 1 GiB

  // An empty image: no pixels, every size 0, format RGBA8888.
  DImage() = default;
  // A deep copy with the same size, pitch and format; the picture is copied row by row, so a
  // bottom-up source gives the same picture. An empty source gives an empty image.
  DImage(const DImage& src);
  DImage& operator=(const DImage&) = delete;
  ~DImage() override;

  // Makes storage for width x height pixels with `pitch` bytes per row (0: the row's bytes
  // rounded up to a multiple of 4), 16-byte aligned, not initialised. False, and nothing changed,
  // on a zero or negative (2^31 and above) width or height, a code above 7, a pitch below the
  // row's bytes, storage above kMaxStorage, or other height or pitch while storage is held. The
  // same height and pitch while storage is held keep the storage and its contents and only
  // re-describe width and format. Allocation failure throws std::bad_alloc (image unchanged).
  virtual bool Create(std::uint32_t width, std::uint32_t height, std::uint32_t pitch, DimgFormat format);
  // Create with pitch 0.
  virtual bool CreateAligned(std::uint32_t width, std::uint32_t height, DimgFormat format);
  // Drops the storage (freed when this was its last holder) and zeroes every size; the format
  // keeps its value. False when the image was already empty.
  virtual bool Destroy();

  virtual std::uint32_t GetWidth() const { return width_; }
  virtual std::uint32_t GetHeight() const { return height_; }
  virtual std::uint32_t GetPitch() const { return pitch_; }
  virtual std::uint32_t GetBitCount() const { return bit_count_; }
  virtual std::uint32_t GetBytesPerPixel() const { return bytes_per_pixel_; }
  virtual DimgFormat GetFormat() const { return format_; }

  // p moved dx pixels right and dy rows down the picture. No bounds check.
  virtual std::uint8_t* OffsetPointer(std::uint8_t* p, std::int32_t dx, std::int32_t dy) const;
  const std::uint8_t* OffsetPointer(const std::uint8_t* p, std::int32_t dx, std::int32_t dy) const {
    return OffsetPointer(const_cast<std::uint8_t*>(p), dx, dy);
  }
  // Address of pixel (x, y). No bounds check (callers check).
  virtual std::uint8_t* GetPixelPointer(std::int32_t x, std::int32_t y);
  virtual const std::uint8_t* GetPixelPointer(std::int32_t x, std::int32_t y) const;
  // The row dy rows below the row at p.
  virtual std::uint8_t* OffsetLine(std::uint8_t* p, std::int32_t dy) const;
  const std::uint8_t* OffsetLine(const std::uint8_t* p, std::int32_t dy) const {
    return OffsetLine(const_cast<std::uint8_t*>(p), dy);
  }
  // The row after the row at p.
  virtual std::uint8_t* NextLine(std::uint8_t* p) const;
  const std::uint8_t* NextLine(const std::uint8_t* p) const { return NextLine(const_cast<std::uint8_t*>(p)); }

  // Pixel access: Lock gives the top line, LockBits the storage start; Unlock ends the access and
  // does nothing in these classes.
  virtual std::uint8_t* Lock() { return GetTopLine(); }
  virtual std::uint8_t* LockBits() { return GetBits(); }
  virtual std::uint8_t* GetTopLine();
  virtual const std::uint8_t* GetTopLine() const;
  virtual std::uint8_t* GetBits() { return pixels_.Get(); }
  virtual const std::uint8_t* GetBits() const { return pixels_.Get(); }
  virtual void Unlock() const {}

  // Makes the image use the storage of `pixels` (a reference is added; a handle without control
  // block is memory the image never frees). Pitch 0 means the aligned pitch. False, and nothing
  // changed, on a zero or negative size, a code above 7, a null pointer, a pitch below the row's
  // bytes, or height x pitch above kMaxStorage.
  bool Attach(const DRef<std::uint8_t>& pixels, std::uint32_t width, std::uint32_t height,
              std::uint32_t pitch, DimgFormat format);
  bool Attach(const DRef<std::uint8_t>& pixels, std::uint32_t width, std::uint32_t height,
              DimgFormat format) {
    return Attach(pixels, width, height, 0, format);
  }

  // The storage start, as GetBits; and the handle that holds the storage.
  std::uint8_t* Bits() const { return pixels_.Get(); }
  const DRef<std::uint8_t>& GetPixels() const { return pixels_; }

 protected:
  // Destroy, then Create with the source's description and copy its rows.
  void CopyFrom(const DImage& src);

  DRef<std::uint8_t> pixels_;  // storage start (bits) and its control block
  std::uint32_t width_ = 0;    // pixels per row
  std::uint32_t height_ = 0;   // rows
  std::uint32_t pitch_ = 0;    // bytes from one row's start to the next in memory
  std::uint32_t bit_count_ = 0;
  std::uint32_t bytes_per_pixel_ = 0;
  DimgFormat format_ = DimgFormat::RGBA8888;
};

// A memory image whose rows lie bottom-up in memory (the row order of a device-independent
// bitmap); row 0 is still the top row of the picture.
class DImageDib : public DImage {
 public:
  DImageDib() = default;
  DImageDib(const DImageDib& src) : DImage() { CopyFrom(src); }
  DImageDib& operator=(const DImageDib&) = delete;

  std::uint8_t* OffsetPointer(std::uint8_t* p, std::int32_t dx, std::int32_t dy) const override;
  using DImage::OffsetPointer;
  std::uint8_t* GetPixelPointer(std::int32_t x, std::int32_t y) override;
  const std::uint8_t* GetPixelPointer(std::int32_t x, std::int32_t y) const override;
  std::uint8_t* OffsetLine(std::uint8_t* p, std::int32_t dy) const override;
  using DImage::OffsetLine;
  std::uint8_t* NextLine(std::uint8_t* p) const override;
  using DImage::NextLine;
  std::uint8_t* GetTopLine() override;
  const std::uint8_t* GetTopLine() const override;
};
