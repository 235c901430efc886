// Fuzz target of the script image reader: the checks of a loaded image and the appended form.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vm/script_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  ScriptImageInfo info;
  if (LoadScriptImageInfo(bytes, &info) == nullptr) {
    // A loaded image keeps its promises: entries inside the code, texts ending inside the data.
    for (uint32_t e : info.exports) (void)info.code.at(e);
    for (const auto& m : info.methods) (void)info.code.at(m.entry);
    (void)info.code.at(info.return_address);
    if (info.data.size() != info.data_length + 1u || info.data.back() != 0) __builtin_trap();
  }
  MemoryImageFile file(bytes);
  const std::vector<uint8_t> appended = ReadAppendedImage(file);
  if (!appended.empty()) LoadScriptImageInfo(appended, &info);
  return 0;
}
