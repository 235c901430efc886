// A test image plug-in: claims files that start with its magic and returns the DIB they carry.
//
// Built several times with different settings (tests/imaging/CMakeLists.txt):
//   PLUGIN_INFO     text of information number 0 ("00IN" for a valid plug-in)
//   PLUGIN_MAGIC    4-byte tag it claims; "FAIL" files are claimed too and fail in GetPicture
//   PLUGIN_NO_INFO  GetPluginInfo is not exported
//   PLUGIN_NO_PICTURE  GetPicture is not exported
// File layout: the tag, u32 size n of the BITMAPINFO block, n bytes of it, then the pixel rows.
// The tests read what the plug-in saw through the Test* exports.
#include <cstdint>
#include <cstring>

#include "platform/localmem.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
unsigned char last_head[4096];
unsigned char previous_head[4096];
char last_name[264];
long last_length = -1;
int picture_calls = 0;

bool Tagged(const unsigned char* p, const char* tag) {
  return std::memcmp(p, tag, 4) == 0;
}
}  // namespace

#ifndef PLUGIN_NO_INFO
PLUGIN_EXPORT int GetPluginInfo(int info_number, char* buffer, int buffer_length) {
  if (info_number != 0 || buffer_length <= 0) return 0;
  std::strncpy(buffer, PLUGIN_INFO, static_cast<std::size_t>(buffer_length));
  buffer[buffer_length - 1] = 0;
  return static_cast<int>(std::strlen(buffer));
}
#endif

PLUGIN_EXPORT int IsSupported(const char* name, void* head) {
  // Reads the whole 4096-byte head, as plug-ins may: the sanitizers catch a shorter buffer.
  std::memcpy(previous_head, last_head, sizeof last_head);
  std::memcpy(last_head, head, sizeof last_head);
  std::strncpy(last_name, name, sizeof last_name - 1);
  return Tagged(last_head, PLUGIN_MAGIC) || Tagged(last_head, "FAIL") ? 1 : 0;
}

PLUGIN_EXPORT int GetPictureInfo(const char*, long, unsigned int, void*) {
  return 1;
}

#ifndef PLUGIN_NO_PICTURE
PLUGIN_EXPORT int GetPicture(const char* data, long length, unsigned int flag, HLOCAL* info, HLOCAL* bits,
                             void*, long) {
  ++picture_calls;
  last_length = length;
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  if (flag != 1 || length < 8 || !Tagged(p, PLUGIN_MAGIC)) return 2;
  std::uint32_t info_size;
  std::memcpy(&info_size, p + 4, 4);
  if (info_size > static_cast<unsigned long>(length) - 8) return 2;
  const std::size_t bits_size = static_cast<std::size_t>(length) - 8 - info_size;
  *info = LocalAlloc(LMEM_MOVEABLE, info_size);
  *bits = LocalAlloc(LMEM_MOVEABLE, bits_size);
  if (*info == nullptr || *bits == nullptr) return 4;
  std::memcpy(LocalLock(*info), p + 8, info_size);
  LocalUnlock(*info);
  std::memcpy(LocalLock(*bits), p + 8 + info_size, bits_size);
  LocalUnlock(*bits);
  return 0;
}
#endif

PLUGIN_EXPORT const unsigned char* TestPreviousHead() {
  return previous_head;
}
PLUGIN_EXPORT const unsigned char* TestLastHead() {
  return last_head;
}
PLUGIN_EXPORT const char* TestLastName() {
  return last_name;
}
PLUGIN_EXPORT long TestLastLength() {
  return last_length;
}
PLUGIN_EXPORT int TestPictureCalls() {
  return picture_calls;
}
