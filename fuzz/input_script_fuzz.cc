// Fuzz target of the headless input-script reader: arbitrary bytes either parse into events in
// time order with values in range and capture names that stay in their folder, or fail with a
// line number, no events and no settings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/input_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputScript script;
  std::string error;
  const bool ok = ParseInputScript(std::string(reinterpret_cast<const char*>(data), size), &script, &error);
  const std::vector<InputScriptEvent>& events = script.events;
  if (!ok && (!events.empty() || script.virtual_clock || script.trace_files || error.rfind("line ", 0) != 0))
    __builtin_trap();
  uint32_t last = 0;
  for (const InputScriptEvent& e : events) {
    // A capture writes one plain name inside the folder, and only with a folder named.
    if (e.kind == InputScriptEvent::kCapture &&
        (script.capture_folder_line == 0 || e.name.empty() || e.name == "." || e.name == ".." ||
         e.name.find_first_of(std::string("/\\\0", 3)) != std::string::npos))
      __builtin_trap();
    if (e.at_ms < last || e.at_ms > 0x7FFFFFFFu) __builtin_trap();
    if ((e.kind == InputScriptEvent::kKeyDown || e.kind == InputScriptEvent::kKeyUp) && e.dik == 0)
      __builtin_trap();
    if (e.x < -32768 || e.x > 32767 || e.y < -32768 || e.y > 32767) __builtin_trap();
    last = e.at_ms;
  }
  return 0;
}
