// KCI container: the position scramble and the libpng hooks that apply it while reading and writing.
#include "imaging/dimg_kci.h"

#include <algorithm>

#include "base/dfile.h"

void DimgKciScramble(std::uint8_t* bytes, std::size_t n, std::uint64_t position) {
  for (std::size_t i = 0; i < n; ++i) bytes[i] ^= static_cast<std::uint8_t>(position + i);
}

extern "C" void DimgKciRead(png_structp png, png_bytep data, png_size_t length) {
  auto& file = *static_cast<DFile*>(png_get_io_ptr(png));
  const char* failure = nullptr;
  std::int64_t position = -1;
  try {
    position = file.Tell();
    if (position < 0) {
      failure = "can't read data.";
    } else if (length > 0x7fffffff ||
               file.Read(data, static_cast<std::uint32_t>(length)) != static_cast<std::int64_t>(length)) {
      failure = "can't read data";
    }
  } catch (...) {
    failure = position < 0 ? "can't read data." : "can't read data";
  }
  if (failure != nullptr) png_error(png, failure);
  DimgKciScramble(data, length, static_cast<std::uint64_t>(position));
}

extern "C" void DimgKciWrite(png_structp png, png_bytep data, png_size_t length) {
  auto& file = *static_cast<DFile*>(png_get_io_ptr(png));
  bool ok = true;
  try {
    const std::int64_t position = file.Tell();
    ok = position >= 0;
    std::uint8_t chunk[8192];
    for (png_size_t done = 0; ok && done < length;) {
      const std::size_t n = std::min<png_size_t>(sizeof chunk, length - done);
      std::copy(data + done, data + done + n, chunk);
      DimgKciScramble(chunk, n, static_cast<std::uint64_t>(position) + done);
      ok = file.Write(chunk, static_cast<std::uint32_t>(n)) == static_cast<std::int64_t>(n);
      done += n;
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "can't write data.");
}
