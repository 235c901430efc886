// Tests of memory images: creation rules, storage sharing, row addressing and the deep copy.
#include "imaging/dimage.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using F = DimgFormat;

TEST(DImageTest, CreateComputesPitchAndAlignsStorage) {
  struct Case {
    std::uint32_t w, h, pitch;
    F format;
    std::uint32_t want_pitch, bits, bpp;
  };
  const Case cases[] = {
      {3, 2, 0, F::RGB888, 12, 24, 3},   {1, 1, 0, F::RGB565, 4, 16, 2},
      {5, 1, 0, F::RGBA8888, 20, 32, 4}, {10, 10, 41, F::RGBA8888, 41, 32, 4},
      {7, 3, 0, F::YCRCB888, 24, 24, 3}, {3, 3, 0, F::ARGB4444, 8, 16, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w);
    DImage img;
    ASSERT_TRUE(img.Create(c.w, c.h, c.pitch, c.format));
    EXPECT_EQ(img.GetPitch(), c.want_pitch);
    EXPECT_EQ(img.GetWidth(), c.w);
    EXPECT_EQ(img.GetHeight(), c.h);
    EXPECT_EQ(img.GetBitCount(), c.bits);
    EXPECT_EQ(img.GetBytesPerPixel(), c.bpp);
    EXPECT_EQ(img.GetFormat(), c.format);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(img.GetBits()) % 16, 0u);
    // The aligned start lies 1 to 16 bytes into an allocation of height x pitch + 16 bytes.
    const std::ptrdiff_t skip = img.GetBits() - static_cast<std::uint8_t*>(img.GetPixels().GetBlock()->base);
    EXPECT_GE(skip, 1);
    EXPECT_LE(skip, 16);
    img.GetBits()[std::size_t{c.h} * c.want_pitch - 1] = 0xAB;  // the last byte is ours (ASan)
  }
}

TEST(DImageTest, CreateRefusesBadDescriptionsAndLeavesImageUnchanged) {
  struct Case {
    std::uint32_t w, h, pitch;
    std::uint32_t format;
  };
  const Case cases[] = {
      {0, 5, 0, 1},            // zero width
      {5, 0, 0, 1},            // zero height
      {5, 5, 0, 8},            // not a format
      {10, 10, 20, 0},         // 40 bytes per row do not fit in 20
      {0xFFFFFFFFu, 1, 0, 0},  // -1 as a width
      {1, 0x80000000u, 0, 6},  // negative height
      {0x40000000u, 1, 0, 0},  // row bytes overflow 32 bits
      {16384, 16385, 0, 0},    // 1 GiB + 64 KiB of storage
      {1, 0x7FFFFFFFu, 0, 6},  // height x pitch overflows 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " pitch " << c.pitch << " format " << c.format);
    DImage img;
    EXPECT_FALSE(img.Create(c.w, c.h, c.pitch, static_cast<F>(c.format)));
    EXPECT_EQ(img.GetBits(), nullptr);
    EXPECT_EQ(img.GetWidth(), 0u);
    EXPECT_EQ(img.GetPitch(), 0u);
  }
}

TEST(DImageTest, RecreateKeepsStorageOnlyForSameHeightAndPitch) {
  DImage img;
  ASSERT_TRUE(img.Create(10, 10, 0, F::RGBA8888));
  std::uint8_t* bits = img.GetBits();
  bits[0] = 0x5A;

  EXPECT_TRUE(img.Create(10, 10, 0, F::BGRA8888));  // same height and pitch 40
  EXPECT_EQ(img.GetBits(), bits);
  EXPECT_EQ(bits[0], 0x5A);
  EXPECT_EQ(img.GetFormat(), F::BGRA8888);

  EXPECT_FALSE(img.Create(5, 10, 0, F::RGB565));  // pitch 12: refused, nothing changes
  EXPECT_EQ(img.GetWidth(), 10u);
  EXPECT_EQ(img.GetFormat(), F::BGRA8888);

  EXPECT_TRUE(img.Create(20, 10, 40, F::RGB565));  // same height and pitch, 40 bytes fit
  EXPECT_EQ(img.GetBits(), bits);
  EXPECT_EQ(img.GetWidth(), 20u);
  EXPECT_EQ(img.GetBytesPerPixel(), 2u);

  EXPECT_TRUE(img.Destroy());
  EXPECT_FALSE(img.Destroy());
  EXPECT_EQ(img.GetFormat(), F::RGB565);  // the format survives Destroy
  EXPECT_EQ(img.GetWidth(), 0u);
  EXPECT_EQ(img.GetHeight(), 0u);
  EXPECT_EQ(img.GetPitch(), 0u);
  EXPECT_EQ(img.GetBytesPerPixel(), 0u);
  EXPECT_EQ(img.GetTopLine(), nullptr);
}

TEST(DImageTest, RowAddressingOfBothRowOrders) {
  DImage top;
  DImageDib dib;
  ASSERT_TRUE(top.Create(4, 3, 0, F::RGB888));  // pitch 12
  ASSERT_TRUE(dib.Create(4, 3, 0, F::RGB888));
  std::uint8_t* t = top.GetBits();
  std::uint8_t* b = dib.GetBits();
  const std::ptrdiff_t pitch = 12;

  EXPECT_EQ(top.GetTopLine(), t);
  EXPECT_EQ(top.GetPixelPointer(1, 2), t + 2 * pitch + 3);
  EXPECT_EQ(top.NextLine(t), t + pitch);
  EXPECT_EQ(top.OffsetLine(t, 2), t + 2 * pitch);
  EXPECT_EQ(top.OffsetPointer(t, 3, 1), t + pitch + 9);
  EXPECT_EQ(top.Lock(), t);
  EXPECT_EQ(top.LockBits(), t);

  EXPECT_EQ(dib.GetTopLine(), b + 2 * pitch);
  EXPECT_EQ(dib.GetPixelPointer(1, 2), b + 3);
  EXPECT_EQ(dib.GetPixelPointer(0, 0), b + 2 * pitch);
  EXPECT_EQ(dib.NextLine(dib.GetTopLine()), b + pitch);
  EXPECT_EQ(dib.OffsetLine(dib.GetTopLine(), 2), b);
  EXPECT_EQ(dib.OffsetPointer(dib.GetTopLine(), 3, 1), b + pitch + 9);
  EXPECT_EQ(dib.GetBits(), b);
  EXPECT_EQ(dib.Lock(), dib.GetTopLine());
  EXPECT_EQ(dib.LockBits(), b);

  // Through the base class the overrides still apply.
  const DImage& base = dib;
  EXPECT_EQ(base.GetTopLine(), b + 2 * pitch);
  EXPECT_EQ(base.OffsetLine(base.GetTopLine(), 1), b + pitch);
}

TEST(DImageTest, AttachSharesStorageUntilTheLastHolderGoes) {
  DImage first;
  ASSERT_TRUE(first.Create(3, 2, 0, F::RGB888));
  first.GetBits()[5] = 0x77;
  const DRef<std::uint8_t> storage = first.GetPixels();
  {
    DImageDib second;
    ASSERT_TRUE(second.Attach(storage, 3, 2, F::RGB888));
    EXPECT_EQ(second.GetPitch(), 12u);
    EXPECT_EQ(second.GetBits(), first.GetBits());
    EXPECT_TRUE(first.Destroy());
    EXPECT_EQ(second.GetBits()[5], 0x77);  // still alive (ASan would catch a use after free)
    EXPECT_EQ(storage.UseCount(), 2u);
  }
  EXPECT_EQ(storage.UseCount(), 1u);

  // Memory that the image does not own.
  std::uint8_t buffer[64] = {};
  DRef<std::uint8_t> view;
  view.Attach(buffer);
  DImage wrap;
  ASSERT_TRUE(wrap.Attach(view, 4, 4, 16, F::RGBA8888));
  EXPECT_EQ(wrap.GetTopLine(), buffer);
  EXPECT_TRUE(wrap.Destroy());
}

TEST(DImageTest, AttachRefusesBadDescriptions) {
  std::uint8_t buffer[64] = {};
  DRef<std::uint8_t> view;
  view.Attach(buffer);
  const DRef<std::uint8_t> empty;
  DImage img;
  EXPECT_FALSE(img.Attach(view, 3, 2, 0, static_cast<F>(8)));
  EXPECT_FALSE(img.Attach(view, 0, 2, 0, F::RGB888));
  EXPECT_FALSE(img.Attach(view, 3, 0, 0, F::RGB888));
  EXPECT_FALSE(img.Attach(empty, 3, 2, 0, F::RGB888));    // no pixels to point at
  EXPECT_FALSE(img.Attach(view, 8, 2, 16, F::RGBA8888));  // rows would overlap past the end
  EXPECT_FALSE(img.Attach(view, 0x80000000u, 1, 0, F::RGB565));
  EXPECT_EQ(img.GetBits(), nullptr);
}

TEST(DImageTest, CopyConstructorCopiesThePictureOfEitherRowOrder) {
  DImageDib dib;
  ASSERT_TRUE(dib.Create(2, 3, 0, F::RGB565));  // pitch 4
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 2; ++x) *dib.GetPixelPointer(x, y) = static_cast<std::uint8_t>(10 * y + x);

  const DImageDib same(dib);
  const DImage& as_base = dib;
  const DImage top(as_base);  // a top-down copy of a bottom-up picture
  for (const DImage* copy : {static_cast<const DImage*>(&same), &top}) {
    EXPECT_EQ(copy->GetWidth(), 2u);
    EXPECT_EQ(copy->GetHeight(), 3u);
    EXPECT_EQ(copy->GetPitch(), 4u);
    EXPECT_NE(copy->GetBits(), dib.GetBits());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 2; ++x) EXPECT_EQ(*copy->GetPixelPointer(x, y), 10 * y + x);
  }
  const DImage empty;
  const DImage empty_copy(empty);
  EXPECT_EQ(empty_copy.GetBits(), nullptr);
}

}  // namespace
