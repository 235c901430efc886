// Fuzz target of the registry store reader: arbitrary file text, read, written back and read again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/settings_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  using namespace orvane::settings;
  const std::vector<RegistryKey> keys = ParseRegistry(std::string(reinterpret_cast<const char*>(data), size));
  for (const RegistryKey& k : keys) {
    if (k.path.empty()) __builtin_trap();
  }
  // What the store writes, it reads back as the same store.
  const std::string text = FormatRegistry(keys);
  if (FormatRegistry(ParseRegistry(text)) != text) __builtin_trap();
  return 0;
}
