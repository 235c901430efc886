// Tests of the KCI container: the scramble, golden signature bytes, round trips plain and scrambled.
#include "imaging/dimg_kci.h"

#include <gtest/gtest.h>

#include "imaging/dimg_format.h"
#include "imaging/dimg_png.h"
#include "tests/imaging/dimg_test_files.h"

namespace {

Bytes Written(const DImage& image, bool kci) {
  auto file = OutputFile(1 << 15, "out.kci");
  EXPECT_TRUE(kci ? DimgWriteKCI(*file, image, true) : DimgWritePNG(*file, image, true));
  const std::int64_t end = file->Tell();
  return FileBytes(*file, static_cast<std::uint32_t>(end));
}

void FillPicture(DImage& image) {
  // Large enough that the chunk stream passes offset 256 and the scramble wraps.
  ASSERT_TRUE(image.CreateAligned(40, 30, DimgFormat::RGBA8888));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      std::uint8_t* p = image.GetPixelPointer(x, y);
      p[0] = static_cast<std::uint8_t>(x * 7 + y), p[1] = static_cast<std::uint8_t>(y * 13);
      p[2] = static_cast<std::uint8_t>(x * y), p[3] = static_cast<std::uint8_t>(x * 6);
    }
}

TEST(DimgKciTest, ScrambleIsPositionXor) {
  Bytes b(300, 0);
  DimgKciScramble(b.data() + 8, 292, 8);
  EXPECT_EQ(b[8], 8);
  EXPECT_EQ(b[255], 255);
  EXPECT_EQ(b[256], 0);
  EXPECT_EQ(b[299], 299 % 256);
  DimgKciScramble(b.data() + 8, 292, 8);
  EXPECT_EQ(b, Bytes(300, 0));
}

TEST(DimgKciTest, WriterProducesScrambledPngStream) {
  DImage image;
  FillPicture(image);
  const Bytes png = Written(image, false);
  Bytes kci = Written(image, true);
  ASSERT_GT(kci.size(), 300u);
  ASSERT_EQ(kci.size(), png.size());
  EXPECT_EQ(Bytes(kci.begin(), kci.begin() + 8), (Bytes{'K', 'C', 'I', 0xCC, 0xBB, 0xAA, 0x99, 0x88}));
  DimgKciScramble(kci.data() + 8, kci.size() - 8, 8);
  EXPECT_EQ(Bytes(kci.begin() + 8, kci.end()), Bytes(png.begin() + 8, png.end()));
}

TEST(DimgKciTest, RoundTripsPlainAndScrambled) {
  DImage image;
  FillPicture(image);
  const Bytes png = Written(image, false);
  Bytes plain = {'K', 'C', 'I', 0x88, 0x99, 0xAA, 0xBB, 0xCC};
  plain.insert(plain.end(), png.begin() + 8, png.end());
  const Bytes scrambled = Written(image, true);
  for (const Bytes* bytes : std::initializer_list<const Bytes*>{&png, &plain, &scrambled}) {
    auto file = MemoryFile(*bytes);
    DImage back;
    ASSERT_TRUE(DimgLoadPNG(back, *file));
    std::uint32_t w = 0, h = 0;
    std::int32_t bits = 0;
    ASSERT_TRUE(DimgInfoPNG(&w, &h, &bits, *file));
    EXPECT_EQ(w, 40u);
    EXPECT_EQ(h, 30u);
    EXPECT_EQ(bits, 32);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        std::vector<std::uint8_t> want = Pixel(image, x, y);
        want[3] = static_cast<std::uint8_t>(255 - want[3]);
        ASSERT_EQ(Pixel(back, x, y), want) << x << "," << y;
      }
  }
}

TEST(DimgKciTest, DamagedScrambledFileIsRefused) {
  DImage image;
  FillPicture(image);
  Bytes kci = Written(image, true);
  kci.resize(kci.size() / 2);
  LogCapture log;
  auto file = MemoryFile(kci);
  DImage back;
  EXPECT_FALSE(DimgLoadPNG(back, *file));
  EXPECT_NE(log.Text().find("[Error] can't read data\n"), std::string::npos);
}

}  // namespace
