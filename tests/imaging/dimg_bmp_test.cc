// Tests of the BMP reader, probe and 24-bit writer: built files, the BMP Suite, damaged headers.
#include "imaging/dimg_bmp.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "imaging/dimg_format.h"
#include "imaging/dimg_load.h"
#include "tests/imaging/dimg_test_files.h"

namespace {

// One RGBA pixel of an expected picture.
struct Rgba {
  std::uint8_t r, g, b, a;
  bool operator==(const Rgba&) const = default;
};

// Description of a BMP file to build.
struct BmpSpec {
  std::int32_t width = 2;
  std::int32_t height = 2;
  std::uint16_t bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t header_size = 40;
  std::uint32_t colours_used = 0;
  std::uint32_t offset = 54;
  const char* type = "BM";
  Bytes header_tail;  // bytes of a header longer than 40
  Bytes between;      // palette, masks or colour table after the header
  Bytes rows;
};

Bytes MakeBmp(const BmpSpec& s) {
  Bytes b = {static_cast<std::uint8_t>(s.type[0]), static_cast<std::uint8_t>(s.type[1])};
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, s.offset);
  Put32(b, s.header_size);
  Put32(b, static_cast<std::uint32_t>(s.width));
  Put32(b, static_cast<std::uint32_t>(s.height));
  Put16(b, 1);
  Put16(b, s.bits);
  Put32(b, s.compression);
  for (int i = 0; i < 3; ++i) Put32(b, 0);
  Put32(b, s.colours_used);
  Put32(b, 0);
  b.insert(b.end(), s.header_tail.begin(), s.header_tail.end());
  b.insert(b.end(), s.between.begin(), s.between.end());
  b.insert(b.end(), s.rows.begin(), s.rows.end());
  return b;
}

// The 2 x 2 test picture, top row first.
const std::vector<Rgba> kPicture = {
    {10, 20, 30, 255}, {40, 50, 60, 255}, {70, 80, 90, 255}, {100, 110, 120, 255}};

// Rows of the picture in file order, padded to 4 bytes; 32-bit pixels carry alpha a0 + index.
Bytes PictureRows(int bits, bool bottom_up, std::uint8_t a0 = 0) {
  Bytes out;
  for (int r = 0; r < 2; ++r) {
    const int y = bottom_up ? 1 - r : r;
    std::size_t start = out.size();
    for (int x = 0; x < 2; ++x) {
      const Rgba& p = kPicture[y * 2 + x];
      out.insert(out.end(), {p.b, p.g, p.r});
      if (bits == 32) out.push_back(static_cast<std::uint8_t>(a0 + y * 2 + x));
    }
    while ((out.size() - start) % 4) out.push_back(0xAB);
  }
  return out;
}

std::vector<Rgba> ImagePixels(DImage& image) {
  std::vector<Rgba> out;
  for (std::uint32_t y = 0; y < image.GetHeight(); ++y)
    for (std::uint32_t x = 0; x < image.GetWidth(); ++x) {
      const std::uint8_t* p = image.GetPixelPointer(static_cast<int>(x), static_cast<int>(y));
      out.push_back({p[0], p[1], p[2], p[3]});
    }
  return out;
}

Bytes Palette(std::initializer_list<Rgba> colours) {
  Bytes b;
  for (const Rgba& c : colours) b.insert(b.end(), {c.b, c.g, c.r, 0x77});
  return b;
}

struct LoadCase {
  const char* name;
  Bytes file;
  std::vector<Rgba> expected;  // 2 x 2, top row first
};

std::vector<LoadCase> LoadCases() {
  std::vector<LoadCase> cases;
  std::vector<Rgba> with_alpha = kPicture;
  for (int i = 0; i < 4; ++i) with_alpha[i].a = static_cast<std::uint8_t>(200 + i);
  {
    BmpSpec s;
    s.rows = PictureRows(24, true);
    cases.push_back({"24-bit bottom-up", MakeBmp(s), kPicture});
  }
  {
    BmpSpec s;
    s.height = -2;
    s.rows = PictureRows(24, false);
    cases.push_back({"24-bit top-down", MakeBmp(s), kPicture});
  }
  {
    BmpSpec s;
    s.bits = 32;
    s.rows = PictureRows(32, true, 200);
    cases.push_back({"32-bit keeps byte 3 as alpha", MakeBmp(s), with_alpha});
  }
  {
    BmpSpec s;
    s.bits = 32;
    s.compression = 3;
    Put32(s.between, 0xFF0000), Put32(s.between, 0xFF00), Put32(s.between, 0xFF);
    s.rows = PictureRows(32, true, 200);
    cases.push_back({"32-bit bitfields after a 40-byte header", MakeBmp(s), with_alpha});
  }
  {
    BmpSpec s;
    s.bits = 32;
    s.compression = 3;
    s.header_size = 124;
    Put32(s.header_tail, 0xFF0000), Put32(s.header_tail, 0xFF00), Put32(s.header_tail, 0xFF);
    s.header_tail.resize(84, 0);
    s.rows = PictureRows(32, true, 200);
    cases.push_back({"32-bit bitfields inside a V5 header", MakeBmp(s), with_alpha});
  }
  {
    BmpSpec s;
    s.colours_used = 2;
    s.offset = 62;
    s.between = Palette({{1, 2, 3, 0}, {4, 5, 6, 0}});
    s.rows = PictureRows(24, true);
    cases.push_back({"24-bit colour table passed by the offset field", MakeBmp(s), kPicture});
  }
  {
    BmpSpec s;
    s.colours_used = 2;
    s.rows = PictureRows(24, true);
    cases.push_back({"24-bit colours-used count without a table", MakeBmp(s), kPicture});
  }
  for (std::uint32_t offset : {9999u, 0u, 20u}) {
    BmpSpec s;
    s.offset = offset;
    s.rows = PictureRows(24, true);
    cases.push_back({"implausible offset field: rows behind the header", MakeBmp(s), kPicture});
  }
  {
    BmpSpec s;
    s.offset = 54 + 10;
    s.between = Bytes(10, 0xCD);
    s.rows = PictureRows(24, true);
    cases.push_back({"gap after the header", MakeBmp(s), kPicture});
  }
  {
    BmpSpec s;
    s.bits = 32;
    s.compression = 3;
    Put32(s.between, 0xFF000000u), Put32(s.between, 0xFF00), Put32(s.between, 0xFF0000);
    s.rows = PictureRows(32, true, 200);
    std::vector<Rgba> expected;
    for (int i = 0; i < 4; ++i) {
      const Rgba& p = kPicture[i];
      expected.push_back({static_cast<std::uint8_t>(200 + i), p.g, p.r, 255});
    }
    cases.push_back({"32-bit with other masks: the masks apply", MakeBmp(s), expected});
  }
  // 8 bits: indices 0, 1 / 2, 3 of a palette holding the picture's colours.
  const Bytes indices = {2, 3, 0, 0, 0, 1, 0, 0};  // bottom row first
  const Bytes four = Palette({kPicture[0], kPicture[1], kPicture[2], kPicture[3]});
  for (std::uint32_t used : {16u, 0u, 1000u}) {
    BmpSpec s;
    s.bits = 8;
    s.colours_used = used;
    s.between = four;
    s.between.resize(used == 16 ? 64 : 1024, 0);
    s.rows = indices;
    cases.push_back({used == 16 ? "8-bit with 16 colours"
                     : used     ? "8-bit with 1000 colours"
                                : "8-bit with 0 colours",
                     MakeBmp(s), kPicture});
  }
  {
    // 300 palette entries: the first 256 are read, the offset field finds the rows after all.
    BmpSpec s;
    s.bits = 8;
    s.colours_used = 300;
    s.offset = 54 + 300 * 4;
    s.between = four;
    s.between.resize(300 * 4, 0);
    s.rows = indices;
    cases.push_back({"8-bit with a palette over 256 entries", MakeBmp(s), kPicture});
  }
  {
    BmpSpec s;
    s.bits = 8;
    s.colours_used = 16;
    s.offset = 54 + 64 + 8;
    s.between = four;
    s.between.resize(64 + 8, 0);
    s.rows = indices;
    cases.push_back({"8-bit with a gap after the palette", MakeBmp(s), kPicture});
  }
  {
    BmpSpec s;
    s.bits = 8;
    s.colours_used = 2;
    s.between = Palette({kPicture[0], kPicture[1]});
    s.rows = indices;
    std::vector<Rgba> expected = {kPicture[0], kPicture[1], {0, 0, 0, 255}, {0, 0, 0, 255}};
    cases.push_back({"8-bit index beyond the palette is black", MakeBmp(s), expected});
  }
  return cases;
}

TEST(DimgBmpTest, LoadsBuiltFiles) {
  for (const LoadCase& c : LoadCases()) {
    SCOPED_TRACE(c.name);
    auto file = MemoryFile(c.file);
    DImage image;
    ASSERT_TRUE(DimgLoadBitmap(image, *file));
    EXPECT_EQ(image.GetFormat(), DimgFormat::RGBA8888);
    ASSERT_EQ(image.GetWidth(), 2u);
    ASSERT_EQ(image.GetHeight(), 2u);
    EXPECT_EQ(ImagePixels(image), c.expected);
  }
}

TEST(DimgBmpTest, RefusesWhatItCannotRead) {
  auto with = [](auto change) {
    BmpSpec s;
    s.rows = PictureRows(24, true);
    change(s);
    return MakeBmp(s);
  };
  Bytes truncated = with([](BmpSpec&) {});
  truncated.resize(truncated.size() - 3);
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"10 bytes", Bytes(10, 'B')},
      {"type BA", with([](BmpSpec& s) { s.type = "BA"; })},
      {"4 bits", with([](BmpSpec& s) { s.bits = 4; })},
      {"16 bits", with([](BmpSpec& s) { s.bits = 16; })},
      {"run-length", with([](BmpSpec& s) { s.bits = 8, s.compression = 1; })},
      {"OS/2 header", with([](BmpSpec& s) { s.header_size = 12; })},
      {"width 0", with([](BmpSpec& s) { s.width = 0; })},
      {"negative width", with([](BmpSpec& s) { s.width = -2; })},
      {"height 0", with([](BmpSpec& s) { s.height = 0; })},
      {"height INT_MIN", with([](BmpSpec& s) { s.height = INT_MIN; })},
      {"over the size cap", with([](BmpSpec& s) { s.width = 1 << 20, s.height = 1 << 12; })},
      {"padded rows overflow", with([](BmpSpec& s) { s.width = INT_MAX, s.height = 1; })},
      {"header size past the file", with([](BmpSpec& s) { s.header_size = 0xFFFFFFF0u; })},
      {"info header shorter than 40",
       with([](BmpSpec& s) { s.header_size = 12, s.width = -1, s.height = -1; })},
      {"masks cut by a 44-byte header", with([](BmpSpec& s) {
         s.bits = 32, s.compression = 3, s.header_size = 44;
         s.header_tail.resize(4, 0);
       })},
      {"8-bit palette cut short", with([](BmpSpec& s) { s.bits = 8, s.colours_used = 200, s.rows.clear(); })},
      {"rows cut short", truncated},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = MemoryFile(c.file);
    DImage image;
    EXPECT_FALSE(DimgLoadBitmap(image, *file));
    EXPECT_EQ(image.GetBits(), nullptr);
    // The probe refuses what the loader refuses.
    std::int32_t w = 0, h = 0, bits = 0;
    EXPECT_FALSE(DimgInfoBitmap(*file, &w, &h, &bits));
  }
}

TEST(DimgBmpTest, ProbeReportsStoredSize) {
  BmpSpec s;
  s.width = 2;
  s.height = -2;
  s.bits = 32;
  s.rows = PictureRows(32, false);
  std::int32_t w = 0, h = 0, bits = 0;
  auto file = MemoryFile(MakeBmp(s));
  ASSERT_TRUE(DimgInfoBitmap(*file, &w, &h, &bits));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(bits, 32);
}

// An independent reading of an 8/24/32-bit BI_RGB file that follows its offset field.
std::vector<Rgba> ReferenceDecode(const Bytes& d, std::uint32_t* width, std::uint32_t* height) {
  auto u32 = [&](std::size_t o) {
    return std::uint32_t{d[o]} | d[o + 1] << 8 | d[o + 2] << 16 | std::uint32_t{d[o + 3]} << 24;
  };
  const std::uint32_t offset = u32(10), hs = u32(14), bits = d[28];
  const std::int32_t w = static_cast<std::int32_t>(u32(18)), h = static_cast<std::int32_t>(u32(22));
  const std::uint32_t rows = h < 0 ? -h : h;
  const std::size_t stride = (w * bits / 8 + 3) / 4 * 4;
  std::vector<Rgba> out(static_cast<std::size_t>(w) * rows);
  for (std::uint32_t r = 0; r < rows; ++r) {
    const std::uint8_t* row = &d[offset + r * stride];
    const std::uint32_t y = h < 0 ? r : rows - 1 - r;
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint8_t* p = bits == 8 ? &d[14 + hs + row[x] * 4] : row + x * (bits / 8);
      out[y * w + x] = {p[2], p[1], p[0], bits == 32 ? p[3] : std::uint8_t{255}};
    }
  }
  *width = static_cast<std::uint32_t>(w), *height = rows;
  return out;
}

TEST(DimgBmpTest, BmpSuite) {
  const std::string dir = std::string(ORVANE_TESTDATA_DIR) + "/bmpsuite/g/";
  const char* supported[] = {"pal8.bmp",        "pal8-0.bmp",    "pal8gs.bmp", "pal8nonsquare.bmp",
                             "pal8topdown.bmp", "pal8v4.bmp",    "pal8v5.bmp", "pal8w124.bmp",
                             "pal8w125.bmp",    "pal8w126.bmp",  "rgb24.bmp",  "rgb24pal.bmp",
                             "rgb32.bmp",       "rgb32bfdef.bmp"};
  for (const char* name : supported) {
    SCOPED_TRACE(name);
    const Bytes bytes = ReadDiskFile(dir + name);
    ASSERT_FALSE(bytes.empty());
    std::uint32_t w = 0, h = 0;
    const std::vector<Rgba> expected = ReferenceDecode(bytes, &w, &h);
    auto file = MemoryFile(bytes, name);
    DImage image;
    ASSERT_TRUE(DimgLoadBitmap(image, *file));
    ASSERT_EQ(image.GetWidth(), w);
    ASSERT_EQ(image.GetHeight(), h);
    EXPECT_TRUE(ImagePixels(image) == expected);
  }
  const char* refused[] = {"pal1.bmp",   "pal1bg.bmp",    "pal1wb.bmp",       "pal4.bmp",
                           "pal4gs.bmp", "pal4rle.bmp",   "pal8os2.bmp",      "pal8rle.bmp",
                           "rgb16.bmp",  "rgb16-565.bmp", "rgb16-565pal.bmp", "rgb16bfdef.bmp"};
  for (const char* name : refused) {
    SCOPED_TRACE(name);
    auto file = MemoryFile(ReadDiskFile(dir + name), name);
    DImage image;
    EXPECT_FALSE(DimgLoadBitmap(image, *file));
  }
  // The same picture with its colour masks in another order reads the same.
  DImage plain, masked;
  auto plain_file = MemoryFile(ReadDiskFile(dir + "rgb32.bmp"));
  auto masked_file = MemoryFile(ReadDiskFile(dir + "rgb32bf.bmp"));
  ASSERT_TRUE(DimgLoadBitmap(plain, *plain_file));
  ASSERT_TRUE(DimgLoadBitmap(masked, *masked_file));
  std::vector<Rgba> a = ImagePixels(plain), b = ImagePixels(masked);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    a[i].a = b[i].a = 0;
  }
  EXPECT_TRUE(a == b);
}

TEST(DimgBmpTest, WritesBottomUp24BitFile) {
  DImage image;
  ASSERT_TRUE(image.CreateAligned(3, 2, DimgFormat::RGB565));
  const std::uint16_t words[6] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x8410};
  for (int i = 0; i < 6; ++i) std::memcpy(image.GetPixelPointer(i % 3, i / 3), &words[i], 2);
  auto file = OutputFile(100);
  ASSERT_TRUE(DimgWriteBitmap(*file, image));
  Bytes expect = {'B', 'M'};
  Put32(expect, 78), Put32(expect, 0), Put32(expect, 54);
  Put32(expect, 40), Put32(expect, 3), Put32(expect, 2), Put16(expect, 1), Put16(expect, 24);
  for (int i = 0; i < 6; ++i) Put32(expect, 0);
  // Bottom row first: white (31 -> 248), black, grey; then red, green (top five bits), blue.
  expect.insert(expect.end(), {248, 248, 248, 0, 0, 0, 128, 128, 128, 0, 0, 0});
  expect.insert(expect.end(), {0, 0, 248, 0, 248, 0, 248, 0, 0, 0, 0, 0});
  EXPECT_EQ(FileBytes(*file, 100), [&] {
    Bytes all = expect;
    all.resize(100, 0xEE);
    return all;
  }());
}

TEST(DimgBmpTest, WriterRoundTripsBothRowOrders) {
  DImage top;
  DImageDib dib;
  for (DImage* image : {&top, static_cast<DImage*>(&dib)}) {
    ASSERT_TRUE(image->CreateAligned(5, 3, DimgFormat::BGRA8888));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        std::uint8_t* p = image->GetPixelPointer(x, y);
        p[0] = static_cast<std::uint8_t>(x * 40), p[1] = static_cast<std::uint8_t>(y * 70), p[2] = 9,
        p[3] = 1;
      }
    auto file = OutputFile(200);
    ASSERT_TRUE(DimgWriteBitmap(*file, *image));
    file->Seek(DFile::kSeekStart, 0);
    DImage back;
    ASSERT_TRUE(DimgLoadBitmap(back, *file));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        const std::uint8_t* p = image->GetPixelPointer(x, y);
        EXPECT_EQ(Pixel(back, x, y), (std::vector<std::uint8_t>{p[2], p[1], p[0], 255}));
      }
  }
}

TEST(DimgBmpTest, WriteFailures) {
  DImage empty;
  {
    LogCapture log;
    auto file = OutputFile(100);
    EXPECT_FALSE(DimgWriteBitmap(*file, empty));
    EXPECT_FALSE(file->GetThrow());
    EXPECT_EQ(log.Text(), "[DimgWriteBitmap] \"out.img\": Write Error\n");
  }
  {
    LogCapture log;
    auto file = OutputFile(100);
    file->SetThrow(true);
    EXPECT_THROW(DimgWriteBitmap(*file, empty), DExceptFile);
    EXPECT_TRUE(file->GetThrow());
    EXPECT_EQ(log.Text(), "");
  }
  {
    LogCapture log;
    DImage image;
    ASSERT_TRUE(image.CreateAligned(8, 8, DimgFormat::RGB888));
    auto file = OutputFile(60, "small.bmp");
    EXPECT_FALSE(DimgWriteBitmap(*file, image));
    EXPECT_EQ(log.Text(), "[DimgWriteBitmap] \"small.bmp\": Write Error\n");
  }
}

}  // namespace
