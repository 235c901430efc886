// Helpers of the codec tests: files in memory, the debug log captured, files read from disk.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "base/dlogstream.h"
#include "imaging/dimage.h"
#include "tests/support/log_capture.h"

using Bytes = std::vector<std::uint8_t>;

// A readable memory file holding bytes (at least one byte: memory files cannot be empty).
inline std::unique_ptr<DFile> MemoryFile(const Bytes& bytes, const char* name = "test.img") {
  auto file = std::make_unique<DFile>();
  const std::uint32_t size = bytes.empty() ? 1 : static_cast<std::uint32_t>(bytes.size());
  if (!file->OpenMemory(DString(name), size, DFile::kRead | DFile::kWrite)) return nullptr;
  if (!bytes.empty()) file->Write(bytes.data(), size);
  file->Seek(DFile::kSeekStart, 0);
  return file;
}

// A writable memory file of capacity bytes, filled with 0xEE so unwritten bytes show.
inline std::unique_ptr<DFile> OutputFile(std::uint32_t capacity, const char* name = "out.img") {
  return MemoryFile(Bytes(capacity, 0xEE), name);
}

// The first n bytes of a memory file.
inline Bytes FileBytes(DFile& file, std::uint32_t n) {
  Bytes out(n);
  const std::int64_t pos = file.Tell();
  file.Seek(DFile::kSeekStart, 0);
  const std::int64_t got = file.Read(out.data(), n);
  out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  file.Seek(DFile::kSeekStart, pos);
  return out;
}

inline Bytes ReadDiskFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteDiskFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

using orvane_test::LogCapture;

// Little-endian appenders for building files.
inline void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v);
  Put16(b, v >> 16);
}
inline void PutBE32(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

// The bytes of pixel (x, y) of an image.
inline std::vector<std::uint8_t> Pixel(DImage& image, int x, int y) {
  const std::uint8_t* p = image.GetPixelPointer(x, y);
  return std::vector<std::uint8_t>(p, p + image.GetBytesPerPixel());
}
