// Reads the binary PPM (P6, maximum 255) that the engine's captures write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orvane_test {

// The picture as 0x00RRGGBB pixels, row by row, with its size in *w and *h; empty when the file
// is missing or is not a P6 with maximum 255. A short file leaves the missing pixels black.
inline std::vector<uint32_t> ReadPpm(const std::string& path, int* w, int* h) {
  std::vector<uint32_t> out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  int maxval = 0;
  if (std::fscanf(f, "P6 %d %d %d", w, h, &maxval) == 3 && maxval == 255 && *w > 0 && *h > 0 &&
      std::fgetc(f) != EOF) {
    out.resize(size_t(*w) * size_t(*h));
    for (auto& p : out) {
      unsigned char rgb[3];
      if (std::fread(rgb, 1, 3, f) != 3) break;
      p = (uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | rgb[2];
    }
  }
  std::fclose(f);
  return out;
}

}  // namespace orvane_test
