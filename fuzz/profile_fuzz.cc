// Fuzz target of the private-profile reader and writer: lookups, lists and edits over arbitrary text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/settings_internal.h"

namespace {

using orvane::settings::EditProfile;
using orvane::settings::ReadProfile;

// Calls the reader with a buffer of exactly `size` bytes (ASan sees any overrun) and checks the
// result is NUL-terminated inside it.
std::string Read(const std::string& text, const char* section, const char* key, DWORD size) {
  std::unique_ptr<char[]> buffer(new char[size]);
  DWORD n = ReadProfile(text, section, key, "default ", buffer.get(), size);
  if (n >= size || buffer[n] != 0) __builtin_trap();
  // A list leaves room for its closing second NUL.
  if ((!section || !key) && size >= 2 && n > size - 2) __builtin_trap();
  return std::string(buffer.get(), n);
}

// A name or value that the writer stores and the reader gives back unchanged.
bool Plain(const std::string& s, const char* refused) {
  if (s.empty() || s.front() == ' ' || s.back() == ' ' || s.front() == '[' || s.front() == '"' ||
      s.front() == '\'')
    return false;
  for (unsigned char c : s) {
    if (c < 0x20 || c >= 0x7F || std::string(refused).find(static_cast<char>(c)) != std::string::npos)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 16)) return 0;
  // First byte: the buffer size; then section, key and value, each ended by a NUL; the rest is
  // the file text.
  const DWORD buffer_size = data[0] + 1u;
  std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string field[3] = {"s", "k", "v"};
  size_t at = 0;
  for (std::string& f : field) {
    size_t nul = in.find('\0', at);
    if (nul == std::string::npos) break;
    f = in.substr(at, nul - at);
    at = nul + 1;
  }
  const std::string text = in.substr(at);
  const char* section = field[0].c_str();
  const char* key = field[1].c_str();
  const char* value = field[2].c_str();

  Read(text, nullptr, nullptr, buffer_size);
  Read(text, section, nullptr, buffer_size);
  Read(text, section, key, buffer_size);

  std::string edited = text;
  EditProfile(&edited, section, key, value);
  if (Plain(field[0], "]") && Plain(field[1], "=") && Plain(field[2], "") &&
      Read(edited, section, key, 1024) != field[2])
    __builtin_trap();
  edited = text;
  EditProfile(&edited, section, key, nullptr);
  Read(edited, section, key, buffer_size);
  edited = text;
  EditProfile(&edited, section, nullptr, nullptr);
  Read(edited, nullptr, nullptr, buffer_size);
  return 0;
}
