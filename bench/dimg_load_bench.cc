// DimgLoad of a 640x480 PNG and JPEG beside decoding the same bytes with libpng and libjpeg directly.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_load.h"
#include "imaging/dimg_png.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
using Bytes = std::vector<unsigned char>;

// A photo-like RGB picture: gradients with some texture.
DImage& Picture() {
  static DImage image;
  if (image.GetBits() == nullptr) {
    image.CreateAligned(kWidth, kHeight, DimgFormat::RGB888);
    unsigned seed = 1;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        seed = seed * 1103515245u + 12345u;
        std::uint8_t* p = image.GetPixelPointer(x, y);
        p[0] = static_cast<std::uint8_t>(x * 255 / kWidth + (seed >> 28));
        p[1] = static_cast<std::uint8_t>(y * 255 / kHeight + ((seed >> 20) & 7));
        p[2] = static_cast<std::uint8_t>((x + y) / 5);
      }
  }
  return image;
}

const Bytes& PngBytes() {
  static Bytes bytes = [] {
    DFile file;
    file.OpenMemory(4u << 20, DFile::kRead | DFile::kWrite);
    DimgWritePNG(file, Picture(), false);
    Bytes out(static_cast<std::size_t>(file.Tell()));
    file.Seek(DFile::kSeekStart, 0);
    file.Read(out.data(), static_cast<std::uint32_t>(out.size()));
    return out;
  }();
  return bytes;
}

const Bytes& JpegBytes() {
  static Bytes bytes = [] {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = kWidth, c.image_height = kHeight, c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = Picture().GetPixelPointer(0, static_cast<int>(c.next_scanline));
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes result(out, out + size);
    std::free(out);
    return result;
  }();
  return bytes;
}

void LoadThroughDimg(benchmark::State& state, const Bytes& bytes) {
  DFile file;
  file.OpenMemory(static_cast<std::uint32_t>(bytes.size()), DFile::kRead | DFile::kWrite);
  file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  for (auto _ : state) {
    DImage image;
    if (!DimgLoad(file, image)) state.SkipWithError("DimgLoad failed");
    benchmark::DoNotOptimize(image.GetBits());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_DimgLoadPng(benchmark::State& state) {
  LoadThroughDimg(state, PngBytes());
}
void BM_DimgLoadJpeg(benchmark::State& state) {
  LoadThroughDimg(state, JpegBytes());
}

// The anchors: the libraries' own calls on the same bytes, into one buffer per picture.
struct MemoryReader {
  const Bytes* bytes;
  std::size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (r->pos + length > r->bytes->size()) png_error(png, "short");
  std::memcpy(data, r->bytes->data() + r->pos, length);
  r->pos += length;
}

void BM_LibpngDirect(benchmark::State& state) {
  std::vector<png_byte> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  for (auto _ : state) {
    MemoryReader reader{&PngBytes(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
      png_destroy_read_struct(&png, &info, nullptr);
      break;
    }
    png_set_read_fn(png, &reader, ReadFromMemory);
    png_read_info(png, info);
    png_read_update_info(png, info);
    for (int y = 0; y < kHeight; ++y)
      png_read_row(png, &pixels[static_cast<std::size_t>(y) * kWidth * 3], nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_LibjpegDirect(benchmark::State& state) {
  std::vector<JSAMPLE> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  const Bytes& bytes = JpegBytes();
  for (auto _ : state) {
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, bytes.data(), bytes.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    c.dct_method = JDCT_FLOAT;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = &pixels[static_cast<std::size_t>(c.output_scanline) * kWidth * 3];
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

}  // namespace

BENCHMARK(BM_DimgLoadPng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibpngDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DimgLoadJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegDirect)->Unit(benchmark::kMillisecond);
