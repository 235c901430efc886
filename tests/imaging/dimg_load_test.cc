// Tests of the loader chain and the probes: each format found by content, the failure log line.
#include "imaging/dimg_load.h"

#include <gtest/gtest.h>

#include <string>

#include "imaging/dimg_bmp.h"
#include "imaging/dimg_format.h"
#include "imaging/dimg_png.h"
#include "tests/imaging/dimg_test_files.h"

namespace {

const std::string kData = ORVANE_TESTDATA_DIR;

struct Probe {
  bool ok;
  std::int32_t width, height, bits;
};

Probe Info(DFile& file) {
  Probe p{};
  p.ok = DimgGetInfo(file, &p.width, &p.height, &p.bits);
  return p;
}

TEST(DimgLoadTest, RecognisesFormatsByContent) {
  DImage rgba;
  ASSERT_TRUE(rgba.CreateAligned(3, 2, DimgFormat::RGBA8888));
  std::memset(rgba.GetBits(), 0x40, rgba.GetPitch() * 2);
  auto kci = OutputFile(4096);
  ASSERT_TRUE(DimgWriteKCI(*kci, rgba, true));
  const Bytes kci_bytes = FileBytes(*kci, static_cast<std::uint32_t>(kci->Tell()));
  // A JPEG from the test data would need a decoder here; the JPEG tests cover that format.
  const struct {
    const char* name;  // misleading names: the content decides
    Bytes bytes;
    DimgFormat format;
    Probe probe;
  } cases[] = {
      {"rgb24.png", ReadDiskFile(kData + "/bmpsuite/g/rgb24.bmp"), DimgFormat::RGBA8888, {true, 127, 64, 24}},
      {"pal8.jpg",
       ReadDiskFile(kData + "/bmpsuite/g/pal8topdown.bmp"),
       DimgFormat::RGBA8888,
       {true, 127, 64, 8}},
      {"basn2c08.bmp",
       ReadDiskFile(kData + "/pngsuite/png/basn2c08.png"),
       DimgFormat::RGB888,
       {true, 32, 32, 24}},
      {"tbrn2c08.bmp",
       ReadDiskFile(kData + "/pngsuite/png/tbrn2c08.png"),
       DimgFormat::RGBA8888,
       {true, 32, 32, 32}},
      {"picture.kci", kci_bytes, DimgFormat::RGBA8888, {true, 3, 2, 32}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = MemoryFile(c.bytes, c.name);
    DImage image;
    ASSERT_TRUE(DimgLoad(*file, image));
    EXPECT_EQ(image.GetFormat(), c.format);
    const Probe p = Info(*file);
    EXPECT_EQ(p.ok, c.probe.ok);
    EXPECT_EQ(p.width, c.probe.width);
    EXPECT_EQ(p.height, c.probe.height);
    EXPECT_EQ(p.bits, c.probe.bits);
    EXPECT_EQ(DimgGetBitCount(*file), c.probe.bits);
    std::int32_t w = 0, h = 0;
    EXPECT_TRUE(DimgGetSize(*file, &w, &h));
    EXPECT_EQ(w, c.probe.width);
  }
}

TEST(DimgLoadTest, UnknownFilesLogOneLine) {
  const Bytes rle = ReadDiskFile(kData + "/bmpsuite/g/pal4rle.bmp");
  const Bytes cases[] = {Bytes(10, 0), {'B', 'A', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, rle};
  for (const Bytes& bytes : cases) {
    LogCapture log;
    auto file = MemoryFile(bytes, "data\\pic.bin");
    DImage image;
    EXPECT_FALSE(DimgLoad(*file, image));
    EXPECT_EQ(log.Text(), "[DimgLoad] \"data\\pic.bin\": Load Error\n");
    // The probes refuse what the loaders refuse: a run-length file tells no size either.
    EXPECT_FALSE(Info(*file).ok);
    EXPECT_EQ(DimgGetBitCount(*file), 0);
  }
}

TEST(DimgLoadTest, SizeCap) {
  // One cap: what the loaders allow is what an image can hold.
  EXPECT_EQ(kDimgMaxImageBytes, DImage::kMaxStorage);
  EXPECT_TRUE(DimgSizeWithinCap(16384, 16384, 4));
  EXPECT_FALSE(DimgSizeWithinCap(16384, 16385, 4));
  EXPECT_FALSE(DimgSizeWithinCap(0, 5, 3));
  EXPECT_FALSE(DimgSizeWithinCap(5, -1, 3));
  EXPECT_FALSE(DimgSizeWithinCap(std::int64_t{1} << 31, 1, 3));
}

}  // namespace
