// Fuzz target: arbitrary inquiry file text through the inquiry loader on the stand-in engine;
// errors end the play as the game's start does, the table always covers the statement count.
#include <cstdint>
#include <string>

#include "fuzz/game_stand_in_engine.h"
#include "game/inquiry.h"
#include "game/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 14) return 0;
  stand_in_engine::StartPlay();
  stand_in_engine::g_files["scn/f/a.inq"] = std::string(reinterpret_cast<const char*>(data), size);
  SetChapterFolder("scn/f");
  {
    DInquiry inquiry;
    try {
      LoadInquiryFile(inquiry, "a");
    } catch (const DExceptGame&) {
    }
    if (inquiry.count > inquiry.sections.size() || inquiry.count > kMaxSectionNumber + 1u) __builtin_trap();
    for (const DInquirySection& s : inquiry.sections)
      if (!memchr(s.speech, 0, sizeof(s.speech)) || !memchr(s.picture, 0, sizeof(s.picture)))
        __builtin_trap();
  }
  ResetScenarioGlobals();
  stand_in_engine::EndPlay();
  return 0;
}
