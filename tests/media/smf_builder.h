// Builds Standard MIDI File bytes for the MIDI tests, and memory files holding them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/dfile.h"

namespace smf {

using Bytes = std::vector<uint8_t>;

inline void Be(Bytes& out, uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void VarLen(Bytes& out, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while (v >>= 7) tmp[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
  while (n) out.push_back(tmp[--n]);
}

// Track events: each call appends a delta time and the event bytes.
struct Track {
  Bytes data;
  Track& Ev(uint32_t delta, std::initializer_list<uint8_t> bytes) {
    VarLen(data, delta);
    data.insert(data.end(), bytes);
    return *this;
  }
  Track& Tempo(uint32_t delta, uint32_t us) {
    VarLen(data, delta);
    data.insert(data.end(), {0xFF, 0x51, 0x03});
    Be(data, us, 3);
    return *this;
  }
  Track& SysEx(uint32_t delta, const Bytes& body) {
    VarLen(data, delta);
    data.push_back(0xF0);
    VarLen(data, static_cast<uint32_t>(body.size()));
    data.insert(data.end(), body.begin(), body.end());
    return *this;
  }
  Track& End(uint32_t delta = 0) { return Ev(delta, {0xFF, 0x2F, 0x00}); }
};

inline Bytes Header(uint16_t format, uint16_t tracks, uint16_t division, uint32_t length = 6) {
  Bytes out = {'M', 'T', 'h', 'd'};
  Be(out, length, 4);
  Be(out, format, 2);
  Be(out, tracks, 2);
  Be(out, division, 2);
  return out;
}

inline void Chunk(Bytes& out, const char* id, const Bytes& body) {
  out.insert(out.end(), id, id + 4);
  Be(out, static_cast<uint32_t>(body.size()), 4);
  out.insert(out.end(), body.begin(), body.end());
}

inline Bytes File(uint16_t division, std::initializer_list<Track> tracks, uint16_t format = 1) {
  Bytes out = Header(format, static_cast<uint16_t>(tracks.size()), division);
  for (const Track& t : tracks) Chunk(out, "MTrk", t.data);
  return out;
}

// A memory file holding the bytes, positioned at its start.
inline bool Open(DFile& file, const Bytes& bytes) {
  if (!file.OpenMemory(static_cast<uint32_t>(bytes.empty() ? 1 : bytes.size()),
                       DFile::kRead | DFile::kWrite)) {
    return false;
  }
  if (!bytes.empty() &&
      file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())) != static_cast<int64_t>(bytes.size())) {
    return false;
  }
  return file.Seek(DFile::kSeekStart, 0);
}

}  // namespace smf
