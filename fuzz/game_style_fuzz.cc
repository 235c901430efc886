// Fuzz target: arbitrary bytes as a display style text and as a colour text; an error ends the
// play through the game's exception and nothing else may happen.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/resource.h"
#include "game/sprite.h"

namespace {

#include "fuzz/export_failure_stand_ins.h"

void* Lookup(void*, const char* name) {
#define OV_EXPORT(position, export_name, return_type, params) \
  if (std::string(name) == #export_name) return reinterpret_cast<void*>(&stand_in::export_name);
#include "api/export_list.h"
#undef OV_EXPORT
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static const bool bound = BindEngineApi(&Lookup, nullptr);
  if (!bound) __builtin_trap();
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const uint32_t flags = ParseDisplayStyle(text.c_str(), 0);
    // Each rival pair holds at most one of its bits.
    if ((flags & 0x03) == 0x03 || (flags & 0x0C00) == 0x0C00 || (flags & 0x30000) == 0x30000)
      __builtin_trap();
  } catch (const DExceptGame&) {
  }
  try {
    float rgba[4];
    ParseColor(text.c_str(), rgba);
    for (float v : rgba)
      if (!(v >= 0.0f && v <= 1.0f)) __builtin_trap();
  } catch (const DExceptGame&) {
  }
  return 0;
}
