// Tests of the PNG codec: PngSuite against its decoded pixels, damaged files, the writers.
#include "imaging/dimg_png.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "imaging/dimg_format.h"
#include "tests/imaging/dimg_test_files.h"

namespace {

const std::string kSuite = std::string(ORVANE_TESTDATA_DIR) + "/pngsuite/";

// The numbers of a JSON array of integers.
std::vector<int> ReadJsonNumbers(const std::string& path) {
  const Bytes text = ReadDiskFile(path);
  std::vector<int> out;
  int value = -1;
  for (std::uint8_t c : text) {
    if (std::isdigit(c)) {
      value = (value < 0 ? 0 : value * 10) + (c - '0');
    } else if (value >= 0) {
      out.push_back(value);
      value = -1;
    }
  }
  return out;
}

std::vector<std::string> SuiteFiles() {
  std::vector<std::string> names;
  if (DIR* dir = opendir((kSuite + "png").c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".png") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// One PNG chunk with its length and CRC.
Bytes Chunk(const char* type, const Bytes& data, bool bad_crc = false) {
  Bytes b;
  PutBE32(b, static_cast<std::uint32_t>(data.size()));
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, b.data() + 4, static_cast<uInt>(data.size() + 4)));
  PutBE32(b, bad_crc ? ~crc : crc);
  return b;
}

// A PNG written by the codec from a small RGBA picture.
Bytes WrittenPng(DImage& image, bool alpha, bool kci = false) {
  auto file = OutputFile(1 << 15, "out.png");
  EXPECT_TRUE(kci ? DimgWriteKCI(*file, image, alpha) : DimgWritePNG(*file, image, alpha));
  const std::int64_t end = file->Tell();
  return FileBytes(*file, static_cast<std::uint32_t>(end));
}

void FillRgba(DImage& image, std::uint32_t w, std::uint32_t h) {
  ASSERT_TRUE(image.CreateAligned(w, h, DimgFormat::RGBA8888));
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t* p = image.GetPixelPointer(static_cast<int>(x), static_cast<int>(y));
      p[0] = static_cast<std::uint8_t>(x * 17), p[1] = static_cast<std::uint8_t>(y * 29);
      p[2] = static_cast<std::uint8_t>(x ^ y), p[3] = static_cast<std::uint8_t>(200 + x);
    }
}

TEST(DimgPngTest, SuiteMatchesDecodedPixels) {
  int checked = 0;
  for (const std::string& name : SuiteFiles()) {
    if (name[0] == 'x') continue;
    SCOPED_TRACE(name);
    std::vector<int> rgba = ReadJsonNumbers(kSuite + "json/" + name.substr(0, name.size() - 4) + ".json");
    // Files of 16-bit samples are listed with 16-bit values; the loader keeps their high bytes.
    if (name.substr(name.size() - 6, 2) == "16")
      for (int& v : rgba) v >>= 8;
    auto file = MemoryFile(ReadDiskFile(kSuite + "png/" + name), name.c_str());
    DImage image;
    ASSERT_TRUE(DimgLoadPNG(image, *file));
    const bool alpha = image.GetFormat() == DimgFormat::RGBA8888;
    ASSERT_TRUE(alpha || image.GetFormat() == DimgFormat::RGB888);
    ASSERT_EQ(rgba.size(), std::size_t{image.GetWidth()} * image.GetHeight() * 4);
    int mismatches = 0;
    for (std::uint32_t i = 0; i < image.GetWidth() * image.GetHeight(); ++i) {
      const std::uint8_t* p = image.GetPixelPointer(static_cast<int>(i % image.GetWidth()),
                                                    static_cast<int>(i / image.GetWidth()));
      // The loader stores alpha inverted; a picture without alpha is opaque.
      const int a = alpha ? 255 - p[3] : 255;
      if (p[0] != rgba[i * 4] || p[1] != rgba[i * 4 + 1] || p[2] != rgba[i * 4 + 2] || a != rgba[i * 4 + 3])
        ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
    std::uint32_t w = 0, h = 0;
    std::int32_t bits = 0;
    ASSERT_TRUE(DimgInfoPNG(&w, &h, &bits, *file));
    EXPECT_EQ(bits, alpha ? 32 : 24);
    ++checked;
  }
  EXPECT_GT(checked, 150);
}

TEST(DimgPngTest, SuiteCorruptFilesAreRefused) {
  int checked = 0;
  for (const std::string& name : SuiteFiles()) {
    if (name[0] != 'x') continue;
    SCOPED_TRACE(name);
    auto file = MemoryFile(ReadDiskFile(kSuite + "png/" + name), name.c_str());
    DImage image;
    EXPECT_FALSE(DimgLoadPNG(image, *file));
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

TEST(DimgPngTest, NotPngIsRefusedSilently) {
  LogCapture log;
  const Bytes cases[] = {{0x89, 'P', 'N'},
                         {'G', 'I', 'F', '8', '9', 'a'},
                         {'K', 'C', 'I', 0x88, 0x99, 0xAA, 0xBB, 0xCD},
                         {'K', 'C', 'I', 0xCC, 0xBB, 0xAA, 0x99},
                         {'K', 'C', 'I', 0x77, 0, 0, 0, 0}};
  for (const Bytes& bytes : cases) {
    auto file = MemoryFile(bytes);
    DImage image;
    std::uint32_t w, h;
    std::int32_t bits;
    EXPECT_FALSE(DimgLoadPNG(image, *file));
    EXPECT_FALSE(DimgInfoPNG(&w, &h, &bits, *file));
  }
  EXPECT_EQ(log.Text(), "");
}

TEST(DimgPngTest, DamagedSignatureTailIsAnError) {
  DImage source;
  FillRgba(source, 2, 2);
  Bytes png = WrittenPng(source, true);
  png[4] = 0x0A;  // as after a CR LF -> LF conversion
  LogCapture log;
  auto file = MemoryFile(png);
  DImage image;
  EXPECT_FALSE(DimgLoadPNG(image, *file));
  EXPECT_EQ(log.Text(), "[Error] PNG file corrupted by ASCII conversion\n");
}

TEST(DimgPngTest, WarningsAreLoggedNotFatal) {
  DImage source;
  FillRgba(source, 3, 2);
  Bytes png = WrittenPng(source, true);
  const Bytes text = Chunk("tEXt", {'k', 0, 'v'}, /*bad_crc=*/true);
  png.insert(png.begin() + 33, text.begin(), text.end());  // behind IHDR
  LogCapture log;
  auto file = MemoryFile(png);
  DImage image;
  ASSERT_TRUE(DimgLoadPNG(image, *file));
  EXPECT_EQ(Pixel(image, 2, 1), (std::vector<std::uint8_t>{34, 29, 3, 53}));
  EXPECT_NE(log.Text().find("[Warning] "), std::string::npos);
}

TEST(DimgPngTest, HeaderOnlyProbeAndSizeCap) {
  DImage source;
  FillRgba(source, 4, 4);
  Bytes png = WrittenPng(source, false);
  // Damage the image data: the probe still answers, the loader refuses.
  Bytes damaged = png;
  damaged[damaged.size() - 20] ^= 0xFF;
  auto file = MemoryFile(damaged);
  std::uint32_t w = 0, h = 0;
  std::int32_t bits = 0;
  ASSERT_TRUE(DimgInfoPNG(&w, &h, &bits, *file));
  EXPECT_EQ(w, 4u);
  EXPECT_EQ(h, 4u);
  EXPECT_EQ(bits, 24);
  DImage image;
  EXPECT_FALSE(DimgLoadPNG(image, *file));

  // A header asking for more than the cap is refused before any pixel storage exists.
  Bytes ihdr;
  PutBE32(ihdr, 40000), PutBE32(ihdr, 40000);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
  Bytes huge(png.begin(), png.begin() + 8);
  for (const Bytes& c : {Chunk("IHDR", ihdr), Chunk("IEND", {})}) huge.insert(huge.end(), c.begin(), c.end());
  auto big = MemoryFile(huge);
  DImage refused;
  EXPECT_FALSE(DimgLoadPNG(refused, *big));
  EXPECT_EQ(refused.GetBits(), nullptr);
}

TEST(DimgPngTest, AlphaComesBackInverted) {
  DImage source;
  FillRgba(source, 7, 5);
  auto file = MemoryFile(WrittenPng(source, true));
  DImage image;
  ASSERT_TRUE(DimgLoadPNG(image, *file));
  ASSERT_EQ(image.GetFormat(), DimgFormat::RGBA8888);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      std::vector<std::uint8_t> want = Pixel(source, x, y);
      want[3] = static_cast<std::uint8_t>(255 - want[3]);
      EXPECT_EQ(Pixel(image, x, y), want);
    }
}

TEST(DimgPngTest, WriterColourTypes) {
  struct Case {
    DimgFormat format;
    bool write_alpha;
    std::uint8_t colour_type;
  } cases[] = {{DimgFormat::RGB565, true, 2},
               {DimgFormat::ARGB1555, true, 6},
               {DimgFormat::ARGB1555, false, 2},
               {DimgFormat::RGBA8888, false, 2},
               {DimgFormat::BGRA8888, true, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    DImage image;
    ASSERT_TRUE(image.CreateAligned(2, 1, c.format));
    std::memset(image.GetBits(), 0, image.GetPitch());
    if (c.format == DimgFormat::ARGB1555) {
      const std::uint16_t words[2] = {0x801F, 0x7C00};  // opaque blue, transparent red
      std::memcpy(image.GetBits(), words, 4);
    }
    const Bytes png = WrittenPng(image, c.write_alpha);
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png[25], c.colour_type);
    if (c.format == DimgFormat::ARGB1555 && c.write_alpha) {
      auto file = MemoryFile(png);
      DImage back;
      ASSERT_TRUE(DimgLoadPNG(back, *file));
      EXPECT_EQ(Pixel(back, 0, 0), (std::vector<std::uint8_t>{0, 0, 248, 0}));    // file alpha 255
      EXPECT_EQ(Pixel(back, 1, 0), (std::vector<std::uint8_t>{248, 0, 0, 255}));  // file alpha 0
    }
  }
}

TEST(DimgPngTest, WriteFailures) {
  DImage empty;
  {
    LogCapture log;
    auto file = OutputFile(64, "empty.png");
    EXPECT_FALSE(DimgWritePNG(*file, empty, true));
    EXPECT_EQ(FileBytes(*file, 64), Bytes(64, 0xEE));
    EXPECT_EQ(log.Text(), "[DimgWritePNG] \"empty.png\": Write Error\n");
  }
  {
    LogCapture log;
    DImage image;
    FillRgba(image, 16, 16);
    auto file = OutputFile(40, "small.kci");
    file->SetThrow(true);
    EXPECT_FALSE(DimgWriteKCI(*file, image, true));
    const std::string text = log.Text();
    EXPECT_NE(text.find("[Error] can't write data.\n"), std::string::npos);
    EXPECT_NE(text.find("[DimgWriteKCI] \"small.kci\": Write Error\n"), std::string::npos);
  }
}

}  // namespace
