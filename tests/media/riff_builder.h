// Builds RIFF WAVE and AVI files in memory for the sound tests, and opens bytes as a DFile.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "platform/wave_format.h"

namespace orvane_test {

inline std::string Le32(uint32_t v) {
  return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
}
inline std::string Le16(uint32_t v) {
  return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)};
}

// One chunk: id, size, data and the pad byte of an odd size.
inline std::string Chunk(const std::string& id, const std::string& data) {
  return id + Le32(static_cast<uint32_t>(data.size())) + data + (data.size() & 1 ? std::string(1, '\0') : "");
}
inline std::string List(const std::string& type, const std::string& body) {
  return Chunk("LIST", type + body);
}
inline std::string Riff(const std::string& form, const std::string& body) {
  return "RIFF" + Le32(static_cast<uint32_t>(4 + body.size())) + form + body;
}

// A format record (18 bytes, or 16 when short) with extra bytes after it.
inline std::string Fmt(uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits, uint16_t align = 0,
                       const std::string& extra = "", bool short16 = false) {
  if (!align) align = static_cast<uint16_t>(ch * bits / 8);
  std::string f = Le16(tag) + Le16(ch) + Le32(rate) + Le32(rate * align) + Le16(align) + Le16(bits);
  if (!short16) f += Le16(static_cast<uint32_t>(extra.size())) + extra;
  return f;
}

inline std::string Wav(const std::string& fmt, const std::string& data, const std::string& between = "") {
  return Riff("WAVE", Chunk("fmt ", fmt) + between + Chunk("data", data));
}

inline std::string Pcm16(const std::vector<int16_t>& s) {
  std::string b(s.size() * 2, '\0');
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

// A memory DFile holding the bytes.
inline bool MemoryFile(DFile& file, const std::string& bytes, const char* name = "test.wav") {
  if (!file.OpenMemory(DString(name), static_cast<uint32_t>(bytes.size() ? bytes.size() : 1),
                       DFile::kRead | DFile::kWrite))
    return false;
  if (!bytes.empty() &&
      file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())) != static_cast<int64_t>(bytes.size()))
    return false;
  if (bytes.empty()) return false;
  return file.Seek(DFile::kSeekStart, 0);
}

}  // namespace orvane_test
