// Fuzz target: any bytes through the image loader chain and the probes, read from a memory file.
#include <cstddef>
#include <cstdint>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_load.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  DFile file;
  if (!file.OpenMemory(static_cast<std::uint32_t>(size), DFile::kRead | DFile::kWrite)) return 0;
  file.Write(data, static_cast<std::uint32_t>(size));
  std::int32_t width = 0, height = 0, bits = 0;
  DimgGetInfo(file, &width, &height, &bits);
  // A few hundred header bytes may declare a picture of up to the loaders' 1 GiB cap, which they
  // then allocate and fill; that path is covered by the unit tests. Here such headers stop after
  // the probe, so runs stay within the fuzzer's memory limit and keep exploring the parsers.
  if (std::int64_t{width} * std::int64_t{height} > (std::int64_t{1} << 24)) return 0;
  DImage image;
  DimgLoad(file, image);
  DImageDib dib;
  file.SetThrow(true);
  try {
    DimgLoad(file, dib);
  } catch (const DExceptFile&) {
  }
  return 0;
}
