// Tests of the JPEG loader against djpeg's float-DCT decode of generated files, and its failures.
#include "imaging/dimg_jpeg.h"

#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imaging/dimg_format.h"
#include "tests/imaging/dimg_test_files.h"

// Fault injection for the disk reads of the platform's files: while g_fail_reads_from is not
// negative, a read at or past that position fails with EIO (a disk error in mid-file).
off_t g_fail_reads_from = -1;

// Exported so that it takes the place of the C library's pread inside libplatform.so too.
extern "C" __attribute__((visibility("default"))) ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  using Pread = ssize_t (*)(int, void*, size_t, off_t);
  static const Pread real = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread"));
  if (g_fail_reads_from >= 0 && offset >= g_fail_reads_from) {
    errno = EIO;
    return -1;
  }
  return real(fd, buffer, count, offset);
}

namespace {

struct Encoding {
  const char* name;
  int width, height, components;  // 1 grey, 3 colour, 4 CMYK
  bool progressive;
  std::size_t cut;  // bytes kept (0: all)
};

// A JPEG of a smooth test picture made with libjpeg.
Bytes Encode(const Encoding& e) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(e.width);
  c.image_height = static_cast<JDIMENSION>(e.height);
  c.input_components = e.components;
  c.in_color_space = e.components == 1 ? JCS_GRAYSCALE : e.components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  if (e.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(e.width) * e.components);
  while (c.next_scanline < c.image_height) {
    const int y = static_cast<int>(c.next_scanline);
    for (int x = 0; x < e.width; ++x)
      for (int k = 0; k < e.components; ++k)
        row[x * e.components + k] = static_cast<JSAMPLE>((x * 7 + y * 3 + k * 60 + (x * y) % 23) & 0xFF);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes bytes(out, out + size);
  std::free(out);
  if (e.cut) {
    EXPECT_LT(e.cut, bytes.size());
    bytes.resize(e.cut);
  }
  return bytes;
}

std::string TempPath(const char* stem) {
  return std::string(ORVANE_BINARY_DIR) + "/dimg_jpeg_test_" + std::to_string(getpid()) + "_" + stem;
}

// djpeg -dct float of the file as RGB bytes, or empty when djpeg is missing.
Bytes Djpeg(const Bytes& jpeg, int* width, int* height) {
  const std::string in = TempPath("in.jpg"), out = TempPath("out.pnm");
  WriteDiskFile(in, jpeg);
  const std::string cmd = "djpeg -dct float -pnm -outfile '" + out + "' '" + in + "' 2>/dev/null";
  const int rc = std::system(cmd.c_str());
  const Bytes pnm = ReadDiskFile(out);
  std::remove(in.c_str());
  std::remove(out.c_str());
  // Exit status 2: decoded with warnings (a premature end).
  if (rc == -1 || !WIFEXITED(rc) || (WEXITSTATUS(rc) != 0 && WEXITSTATUS(rc) != 2) || pnm.size() < 3)
    return {};
  // "P5" or "P6", width, height, maxval, one whitespace byte, then the samples.
  std::size_t pos = 2;
  int fields[3] = {0, 0, 0};
  for (int& f : fields) {
    while (pos < pnm.size() && std::isspace(pnm[pos])) ++pos;
    while (pos < pnm.size() && std::isdigit(pnm[pos])) f = f * 10 + (pnm[pos++] - '0');
  }
  ++pos;
  *width = fields[0], *height = fields[1];
  Bytes rgb;
  for (; pos < pnm.size(); ++pos) {
    if (pnm[1] == '5') rgb.insert(rgb.end(), {pnm[pos], pnm[pos]});
    rgb.push_back(pnm[pos]);
  }
  return rgb;
}

TEST(DimgJpegTest, MatchesDjpegFloatDecode) {
  const Encoding cases[] = {
      {"grey", 33, 17, 1, false, 0},
      {"colour", 40, 24, 3, false, 0},
      {"progressive", 37, 29, 3, true, 0},
      {"truncated", 64, 48, 3, false, 1500},
  };
  for (const Encoding& e : cases) {
    SCOPED_TRACE(e.name);
    const Bytes jpeg = Encode(e);
    int w = 0, h = 0;
    const Bytes expected = Djpeg(jpeg, &w, &h);
    ASSERT_FALSE(expected.empty()) << "djpeg failed";
    auto file = MemoryFile(jpeg, "test.jpg");
    file->Seek(DFile::kSeekStart, 10);  // the loader starts at 0 wherever the file stands
    DImage image;
    ASSERT_TRUE(DimgLoadJPEG(image, *file));
    EXPECT_EQ(image.GetFormat(), DimgFormat::RGB888);
    ASSERT_EQ(image.GetWidth(), static_cast<std::uint32_t>(w));
    ASSERT_EQ(image.GetHeight(), static_cast<std::uint32_t>(h));
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(w) * h * 3);
    int mismatches = 0;
    for (int y = 0; y < h; ++y)
      mismatches += std::memcmp(image.GetPixelPointer(0, y), &expected[static_cast<std::size_t>(y) * w * 3],
                                static_cast<std::size_t>(w) * 3) != 0;
    EXPECT_EQ(mismatches, 0);
    std::uint32_t pw = 0, ph = 0;
    std::int32_t bits = 0;
    ASSERT_TRUE(DimgInfoJPEG(&pw, &ph, &bits, *file));
    EXPECT_EQ(pw, static_cast<std::uint32_t>(w));
    EXPECT_EQ(bits, 24);
  }
}

TEST(DimgJpegTest, RefusedFiles) {
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  const Bytes cmyk = Encode({"cmyk", 8, 8, 4, false, 0});
  Bytes header_only = Encode({"cut", 16, 16, 3, false, 0});
  header_only.resize(20);
  for (const Bytes* bytes : std::initializer_list<const Bytes*>{&png, &cmyk, &header_only}) {
    auto file = MemoryFile(*bytes);
    DImage image;
    std::uint32_t w, h;
    std::int32_t bits;
    EXPECT_FALSE(DimgLoadJPEG(image, *file));
    EXPECT_FALSE(DimgInfoJPEG(&w, &h, &bits, *file));
    if (bytes == &png) {
      EXPECT_EQ(image.GetBits(), nullptr);
    }
  }
  // An empty disk file: "Empty input file".
  const std::string path = TempPath("empty.jpg");
  WriteDiskFile(path, {});
  DFile empty;
  ASSERT_TRUE(empty.Open(DString(path.c_str()), DFile::kRead));
  DImage image;
  EXPECT_FALSE(DimgLoadJPEG(image, empty));
  empty.Close();
  std::remove(path.c_str());
}

TEST(DimgJpegTest, TruncatedInThrowingViewStillLoads) {
  Bytes jpeg = Encode({"whole", 64, 64, 3, false, 0});
  jpeg.resize(jpeg.size() * 2 / 3);
  auto whole = MemoryFile(jpeg);
  DFile view;
  ASSERT_TRUE(view.OpenView(*whole, 0, static_cast<std::uint32_t>(jpeg.size())));
  view.SetThrow(true);
  DImage image;
  EXPECT_TRUE(DimgLoadJPEG(image, view));
  EXPECT_EQ(image.GetWidth(), 64u);
}

TEST(DimgJpegTest, ReadFailingInMidFileFails) {
  const Bytes jpeg = Encode({"big", 256, 256, 3, false, 0});
  ASSERT_GT(jpeg.size(), 3 * 4096u);
  const std::string path = TempPath("fail.jpg");
  WriteDiskFile(path, jpeg);
  for (bool throwing : {false, true}) {
    DFile file;
    ASSERT_TRUE(file.Open(DString(path.c_str()), DFile::kRead));
    file.SetThrow(throwing);
    DImage image;
    g_fail_reads_from = 8192;  // the headers and the first rows come, then the disk fails
    const bool loaded = DimgLoadJPEG(image, file);
    g_fail_reads_from = -1;
    EXPECT_FALSE(loaded) << throwing;
    // The same file reads whole once the disk behaves.
    EXPECT_TRUE(DimgLoadJPEG(image, file)) << throwing;
    EXPECT_EQ(image.GetWidth(), 256u);
  }
  std::remove(path.c_str());
}

}  // namespace
