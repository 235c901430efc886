// Fuzz target: a cross-examination (or a testimony) over an inquiry file made from the input,
// driven by clicks from the input and sub-scenarios whose actions come from the input, on the
// stand-in engine with the stage and court operations stubbed. Every statement shown must be
// one of the file's, and every run must end: the player's exit comes after a bounded number of
// waits.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/game_stand_in_engine.h"
#include "game/choice.h"
#include "game/court.h"
#include "game/handlers.h"
#include "game/inquiry.h"
#include "game/scenario.h"

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;
size_t g_at = 0;
int g_waits = 0;
uint32_t g_sections = 0;

uint8_t Next() {
  return g_at < g_size ? g_data[g_at++] : 0;
}

bool ShowMessage(const char* text, const char*, uint32_t) {
  DScenario* current = CurrentScenario();
  if (!current) __builtin_trap();
  if (std::string(text).find("[np]") == std::string::npos)
    return current->exit_request || current->return_request;
  static const char* const kClicks[] = {"left", "right", "shake", "confront", "", "other"};
  if (++g_waits > 300 || g_at >= g_size) {
    current->exit_request = true;
  } else {
    std::snprintf(current->link_target, sizeof(current->link_target), "%s", kClicks[Next() % 6]);
  }
  return current->exit_request || current->return_request;
}

void CharaShow(const char* file, int32_t, int32_t, int32_t, bool) {
  // Pictures are "w<n>"; the title's opening shows the lowest enabled one.
  if (file[0] != 'w' || static_cast<uint32_t>(std::atoi(file + 1)) >= g_sections) __builtin_trap();
}
void BackSet(const char*, const char*, int32_t, bool, const char*, bool) {}
void FrontSet(const char*, int32_t, int32_t, bool) {}
void BackPos(int32_t, float) {}
void Name(const char*) {}
void Bgm(const char*) {}
void Se(const char*) {}
void Shout(int32_t, const char*, bool) {}
void Life(bool) {}
void Nothing() {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 4096) return 0;
  stand_in_engine::StartPlay();
  g_data = data;
  g_size = size;
  g_at = 0;
  g_waits = 0;
  const bool testimony = (Next() & 0x80) != 0;
  g_sections = 1 + Next() % 6;
  std::string inq = "@info title=T subscn=sub name=W\n";
  for (uint32_t n = 0; n < g_sections; ++n) {
    const uint8_t bits = Next();
    const std::string s = std::to_string(n);
    inq += "@section no=" + s + ((bits & 1) ? " enable" : "") + ((bits & 2) ? " kurae" : "") +
           "\n@img file=w" + s + ((bits & 4) ? " wipe" : "") + "\n@speech value=S" + s + "\n@shake target=s" +
           s + "\n@confront item=" + std::to_string(static_cast<int>(bits >> 5) - 1) + " success=ok" + s +
           " miss=ng" + s + "\n@end target=end" + s + "\n";
  }
  std::string sub;
  for (const char* kind : {"s", "ok", "ng", "end"}) {
    for (uint32_t n = 0; n < g_sections; ++n) {
      sub += ":" + std::string(kind) + std::to_string(n) + "\n";
      const uint8_t action = Next();
      const std::string k = std::to_string(static_cast<int>(action >> 3) % 8 - 1);
      switch (action % 8) {
        case 1:
          sub += "@inquiryEnableSpeech no=" + k + "\n";
          break;
        case 2:
          sub += "@inquiryDisableSpeech no=" + k + "\n";
          break;
        case 3:
          sub += "@inquiryRewind\n";
          break;
        case 4:
          sub += "@inquiryExit\n";
          break;
        case 5:
          sub += "@exit rescode=r\n";
          break;
        case 6:
          sub += "text [np]\n";
          break;
        default:
          break;
      }
      sub += "@return\n";
    }
  }
  stand_in_engine::g_files["scn/f/w.inq"] = inq;
  stand_in_engine::g_files["scn/f/sub.scn"] = sub;
  stand_in_engine::g_files["scn/f/main.scn"] =
      testimony ? "@testimonyRun file=w bgm=b\n" : "@inquiryRun file=w bgm=b\n";
  stand_in_engine::g_files["sys/pic.png"] = "";
  for (const char* def :
       {"sys/cursor_np.spr", "sys/inquiry_logo0.spr", "sys/inquiry_logo1.spr", "sys/btn_item_left.spr",
        "sys/btn_item_right.spr", "sys/btn_inquiry_shake.spr", "sys/btn_inquiry_confront.spr"})
    stand_in_engine::g_files[def] = "@sprite file=pic";
  stand_in_engine::g_pictures["sys/pic.png"] = {40, 20};
  SetChapterFolder("scn/f");
  RegisterWipe("slowwipe", "", 500, 0);
  RegisterWipe("wipe", "", 200, 0);
  InitTextLayers();
  ResetChoiceGlobals();
  ResetCourtGlobals();
  ResetInquiryGlobals();
  Handlers() = BuiltGameHandlers();
  GameHandlers& h = Handlers();
  h.ShowMessage = &ShowMessage;
  h.charaShow = &CharaShow;
  h.backSet = &BackSet;
  h.frontSet = &FrontSet;
  h.backPos = &BackPos;
  h.textShowName = &Name;
  h.textShowMessage = &Nothing;
  h.bgmPlay = &Bgm;
  h.sePlay = &Se;
  h.courtShowKakegoe = &Shout;
  h.courtShowLife = &Life;
  h.courtHideCourtLife = &Life;
  {
    DScenario scenario;
    try {
      LoadScenarioFile(scenario, "main");
      RunScenario(scenario, 0);
    } catch (const DExceptGame&) {
    }
  }
  if (CurrentInquiry() != nullptr || CurrentScenario() != nullptr) __builtin_trap();
  DestroyButtons();
  ResetButtons();
  ResetCourtGlobals();
  ResetScenarioGlobals();
  Handlers() = GameHandlers{};
  stand_in_engine::EndPlay();
  return 0;
}
