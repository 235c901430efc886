// Compares an X window dump (xwd, 24- or 32-bit TrueColor ZPixmap) with a PNG golden read through
// imaging/. Exit code 0 when every pixel's R, G, B are equal, 1 when they differ (or the sizes do),
// 2 when a file cannot be read. With DIFF_DIR the dump is written there as actual.png and the
// differing pixels in red over a dimmed golden as diff.png.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_png.h"
#include "platform/hostpath.h"

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top-down
};

std::uint32_t Big32(const std::string& b, size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 2])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3]));
}

int Shift(std::uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) mask >>= 1, ++s;
  return s;
}

// Reads the dump; false with a reason on anything it does not understand or a short file.
bool ReadXwd(const std::string& path, Picture* out, std::string* reason) {
  std::ifstream in(path, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(in)), {});
  if (b.size() < 100) return *reason = "short header", false;
  const std::uint32_t header = Big32(b, 0), version = Big32(b, 4), format = Big32(b, 8);
  const std::uint32_t width = Big32(b, 16), height = Big32(b, 20), order = Big32(b, 28);
  const std::uint32_t bpp = Big32(b, 44), line = Big32(b, 48);
  const std::uint32_t red = Big32(b, 56), green = Big32(b, 60), blue = Big32(b, 64), colours = Big32(b, 76);
  if (version != 7 || format != 2 || (bpp != 32 && bpp != 24))
    return *reason = "not a 24/32-bit ZPixmap dump", false;
  if (width == 0 || height == 0 || width > 16384 || height > 16384 || line < width * (bpp / 8))
    return *reason = "bad size", false;
  const std::uint64_t start = std::uint64_t{header} + std::uint64_t{colours} * 12;
  if (header < 100 || start + std::uint64_t{line} * height > b.size())
    return *reason = "short pixel data", false;
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->rgb.resize(std::size_t{width} * height * 3);
  const int bytes = static_cast<int>(bpp / 8);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto* p =
          reinterpret_cast<const std::uint8_t*>(b.data() + start + std::uint64_t{line} * y + x * bytes);
      std::uint32_t v = 0;
      for (int k = 0; k < bytes; ++k)
        v |= static_cast<std::uint32_t>(p[order == 0 ? k : bytes - 1 - k]) << (8 * k);
      std::uint8_t* d = &out->rgb[(std::size_t{y} * width + x) * 3];
      d[0] = static_cast<std::uint8_t>((v & red) >> Shift(red));
      d[1] = static_cast<std::uint8_t>((v & green) >> Shift(green));
      d[2] = static_cast<std::uint8_t>((v & blue) >> Shift(blue));
    }
  return true;
}

std::string EnginePath(const std::string& host) {
  std::string engine;
  orvane::EnginePathFromHost(host, &engine);
  return engine;
}

bool ReadPng(const std::string& path, Picture* out) {
  const std::string engine = EnginePath(path);
  DFile file;
  DImage image;
  if (!file.Open(DString(engine.c_str()), DFile::kRead) || !DimgLoadPNG(image, file)) return false;
  const int bpp = static_cast<int>(image.GetBytesPerPixel());
  out->width = static_cast<int>(image.GetWidth());
  out->height = static_cast<int>(image.GetHeight());
  out->rgb.resize(static_cast<std::size_t>(out->width) * out->height * 3);
  for (int y = 0; y < out->height; ++y)
    for (int x = 0; x < out->width; ++x)
      for (int k = 0; k < 3; ++k)
        out->rgb[(static_cast<std::size_t>(y) * out->width + x) * 3 + k] = image.GetPixelPointer(x, y)[k];
  return bpp >= 3;
}

bool WritePng(const std::string& path, const Picture& p) {
  DImage image;
  if (!image.CreateAligned(p.width, p.height, DimgFormat::RGB888)) return false;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width * 3; ++x)
      image.GetPixelPointer(0, y)[x] = p.rgb[static_cast<std::size_t>(y) * p.width * 3 + x];
  const std::string engine = EnginePath(path);
  DFile file;
  return file.Open(DString(engine.c_str()), DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew) &&
         DimgWritePNG(file, image, false);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: xwd_compare SHOT.xwd GOLDEN.png [DIFF_DIR]\n");
    return 2;
  }
  Picture shot, golden;
  std::string reason;
  if (!ReadXwd(argv[1], &shot, &reason)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], reason.c_str());
    return 2;
  }
  if (!ReadPng(argv[2], &golden)) {
    std::fprintf(stderr, "%s: cannot read the PNG\n", argv[2]);
    return 2;
  }
  long differing = 0;
  int first_x = -1, first_y = -1;
  Picture diff = golden;
  if (shot.width != golden.width || shot.height != golden.height) {
    std::printf("size %dx%d, golden %dx%d\n", shot.width, shot.height, golden.width, golden.height);
    differing = -1;
  } else {
    for (int y = 0; y < shot.height; ++y)
      for (int x = 0; x < shot.width; ++x) {
        const std::size_t at = (static_cast<std::size_t>(y) * shot.width + x) * 3;
        const bool same = shot.rgb[at] == golden.rgb[at] && shot.rgb[at + 1] == golden.rgb[at + 1] &&
                          shot.rgb[at + 2] == golden.rgb[at + 2];
        for (int k = 0; k < 3; ++k) diff.rgb[at + k] = same ? golden.rgb[at + k] / 4 : (k == 0 ? 255 : 0);
        if (!same && differing++ == 0) first_x = x, first_y = y;
      }
    if (differing) std::printf("%ld pixels differ, the first at %d,%d\n", differing, first_x, first_y);
  }
  if (differing == 0) return 0;
  if (argc == 4) {
    const std::string dir = argv[3];
    if (!WritePng(dir + "/actual.png", shot) || (differing > 0 && !WritePng(dir + "/diff.png", diff)))
      std::fprintf(stderr, "cannot write the pictures into %s\n", dir.c_str());
  }
  return 1;
}
