// Fuzz target of the headless input-script reader: arbitrary bytes either parse into events in
// time order with values in range, or fail with a line number and no events.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/input_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<InputScriptEvent> events;
  std::string error;
  const bool ok = ParseInputScript(std::string(reinterpret_cast<const char*>(data), size), &events, &error);
  if (!ok && (!events.empty() || error.rfind("line ", 0) != 0)) __builtin_trap();
  uint32_t last = 0;
  for (const InputScriptEvent& e : events) {
    if (e.at_ms < last || e.at_ms > 0x7FFFFFFFu) __builtin_trap();
    if ((e.kind == InputScriptEvent::kKeyDown || e.kind == InputScriptEvent::kKeyUp) && e.dik == 0)
      __builtin_trap();
    if (e.x < -32768 || e.x > 32767 || e.y < -32768 || e.y > 32767) __builtin_trap();
    last = e.at_ms;
  }
  return 0;
}
