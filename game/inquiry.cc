// Testimonies and cross-examinations.
#include "game/inquiry.h"

#include <cstring>
#include <string>

#include "base/dpath.h"
#include "game/choice.h"
#include "game/court.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/resource.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/tokenizer.h"

namespace {

DInquiry* g_current = nullptr;

constexpr size_t kTokenSize = 1024;

bool IsName(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

// Names the object as the current cross-examination for the scope's life and puts the previous
// one back at its end, also when an error unwinds the run.
class CurrentInquiryScope {
 public:
  explicit CurrentInquiryScope(DInquiry* inquiry) : previous_(g_current) { g_current = inquiry; }
  ~CurrentInquiryScope() { g_current = previous_; }
  CurrentInquiryScope(const CurrentInquiryScope&) = delete;
  CurrentInquiryScope& operator=(const CurrentInquiryScope&) = delete;

 private:
  DInquiry* previous_;
};

// The inquiry file's commands.
enum class InqCommand { kNone, kInfo, kSection, kImg, kSpeech, kShake, kConfront, kEnd };
struct InqCommandName {
  const char* name;
  InqCommand command;
};
constexpr InqCommandName kCommands[] = {
    {"@info", InqCommand::kInfo},   {"@section", InqCommand::kSection},
    {"@img", InqCommand::kImg},     {"@speech", InqCommand::kSpeech},
    {"@shake", InqCommand::kShake}, {"@confront", InqCommand::kConfront},
    {"@end", InqCommand::kEnd},
};

void Copy(const char* value, char* field, size_t size) {
  DStrCopyToCharBoundary(value, field, size);
}

void ReadInquiryLine(DInquiry& q, DInquirySection*& current, const char* line) {
  const char* cursor = line;
  bool end = false;
  std::string name(kTokenSize, '\0'), value(kTokenSize, '\0');
  ReadOption(cursor, name.data(), kTokenSize, value.data(), kTokenSize, end, 0);
  if (name[0] == '\0') return;
  InqCommand command = InqCommand::kNone;
  const char* command_name = "";
  for (const InqCommandName& c : kCommands) {
    if (IsName(name.c_str(), c.name)) {
      command = c.command;
      command_name = c.name;
    }
  }
  if (command == InqCommand::kNone) return;
  if (end) {
    if (command == InqCommand::kSection) CommandError(command_name);
    return;
  }
  if (command != InqCommand::kInfo && command != InqCommand::kSection && !current) CommandError(command_name);

  bool has_no = false;
  int32_t no = -1;
  uint32_t add_flags = 0;
  while (!end) {
    ReadOption(cursor, name.data(), kTokenSize, value.data(), kTokenSize, end, 0);
    const char* n = name.c_str();
    const char* v = value.c_str();
    if (n[0] == '\0' && v[0] == '\0') continue;  // blanks before the end of the line
    bool known = true;
    switch (command) {
      case InqCommand::kInfo:
        if (IsName(n, "title"))
          Copy(v, q.title, sizeof(q.title));
        else if (IsName(n, "subscn"))
          Copy(v, q.subscn, sizeof(q.subscn));
        else if (IsName(n, "name"))
          Copy(v, q.name, sizeof(q.name));
        else
          known = false;
        break;
      case InqCommand::kSection:
        if (IsName(n, "no")) {
          has_no = true;
          no = ToInt(v);
        } else if (IsName(n, "enable")) {
          add_flags |= kSectionEnabled;
        } else if (IsName(n, "kurae")) {
          add_flags |= kSectionKurae;
        } else {
          known = false;
        }
        break;
      case InqCommand::kImg:
        if (IsName(n, "file"))
          Copy(v, current->picture, sizeof(current->picture));
        else if (IsName(n, "x"))
          current->x = ToInt(v);
        else if (IsName(n, "y"))
          current->y = ToInt(v);
        else if (IsName(n, "wipe"))
          current->flags |= kSectionWipe;
        else
          known = false;
        break;
      case InqCommand::kSpeech:
        if (IsName(n, "value"))
          Copy(v, current->speech, sizeof(current->speech));
        else
          known = false;
        break;
      case InqCommand::kShake:
        if (IsName(n, "target"))
          Copy(v, current->shake, sizeof(current->shake));
        else
          known = false;
        break;
      case InqCommand::kConfront:
        if (IsName(n, "item"))
          current->item = ToInt(v);
        else if (IsName(n, "success"))
          Copy(v, current->success, sizeof(current->success));
        else if (IsName(n, "miss"))
          Copy(v, current->miss, sizeof(current->miss));
        else
          known = false;
        break;
      case InqCommand::kEnd:
        if (IsName(n, "target"))
          Copy(v, current->end, sizeof(current->end));
        else
          known = false;
        break;
      case InqCommand::kNone:
        break;
    }
    if (!known) CommandOptionError(command_name, n);
  }
  if (command != InqCommand::kSection) return;
  // Numbers above the limit are refused like negative ones: the table would be huge.
  if (!has_no || no < 0 || no > kMaxSectionNumber) CommandError(command_name);
  const size_t need = static_cast<size_t>(no) + 1;
  if (need > q.sections.size()) q.sections.resize((need + 31) / 32 * 32);
  if (need > q.count) q.count = static_cast<uint32_t>(need);
  current = &q.sections[static_cast<size_t>(no)];
  current->flags |= add_flags;
}

DScenario* Caller() {
  return CurrentScenario();
}

bool Say(const char* text, uint32_t flags) {
  return Need(Handlers().ShowMessage, "ShowMessage")(text, nullptr, flags);
}

void Fade() {
  Need(Handlers().backSet, "backSet")("", "black", 0, false, "fade", false);
}

void ShowCharacter(const DInquirySection& s) {
  Need(Handlers().charaShow, "charaShow")(s.picture, 1, s.x, s.y, (s.flags & kSectionWipe) == 0);
}

void ShowName(const char* name) {
  Need(Handlers().textShowName, "textShowName")(name);
}

void PlayBgm(const char* bgm) {
  Need(Handlers().bgmPlay, "bgmPlay")(bgm);
}

void Shout(int32_t item, const char* word) {
  Need(Handlers().courtShowKakegoe, "courtShowKakegoe")(item, word, false);
}

void RemoveSprite(int32_t slot) {
  if (!sprIsValid(slot)) return;
  sprHide(slot, "none");
  sprDestroy(slot);
}

constexpr int32_t kButtonRows[] = {kRowInquiryLeft, kRowInquiryRight, kRowInquiryShake, kRowInquiryConfront};

void PlaceButton(int32_t row, const char* picture, const char* name, int32_t x, int32_t y, uint32_t style) {
  const CourtElement& e = CourtElementAt(row);
  LoadSpriteDef(e.slot, 0, picture, x, y, e.level, style | kStyleShow | kStyleCache, "none");
  RegisterButton(e.slot, name);
}

// The title of the testimony at the start of both ways of playing; true when the scene must end.
bool Opening(DInquiry& q, bool testimony) {
  ShowName("");
  Need(Handlers().textShowMessage, "textShowMessage")();
  Fade();
  Need(Handlers().backSet, "backSet")("bg_court_main", "", -928, false, "fade", false);
  Need(Handlers().frontSet, "frontSet")("fg_court_main", 0, 589, true);
  for (uint32_t n = 0; n < q.count; ++n) {
    if (!q.Enabled(n)) continue;
    Need(Handlers().charaShow, "charaShow")(q.sections[n].picture, 1, q.sections[n].x, q.sections[n].y,
                                            false);
    break;
  }
  const CourtElement& title = CourtElementAt(kRowTitle);
  sprSetTransitionTime(0);
  LoadSpriteDef(title.slot, 0, testimony ? "sys/inquiry_logo0" : "sys/inquiry_logo1", 400, 300, title.level,
                kStyleCenter | kStyleMiddle | kStyleShow | kStyleCache, "slowwipe");
  Need(Handlers().sePlay, "sePlay")("sys/se/証言開始");
  sprSetTransitionTime(300);
  Say("[w 500][cr]～", 0);
  Say(q.title, 0);
  if (Say("～[c][np]", 3)) return true;
  sprSetTransitionTime(0);
  if (sprIsValid(title.slot)) {
    sprHide(title.slot, "wipe");
    sprDestroy(title.slot);
  }
  sprSetTransitionTime(300);
  return false;
}

bool Testimony(DInquiry& q, const char* bgm) {
  for (uint32_t n = 0; n < q.count; ++n) {
    if (!q.Enabled(n)) continue;
    const DInquirySection& s = q.sections[n];
    PlayBgm(bgm);
    ShowName(q.name);
    ShowCharacter(s);
    Say(s.speech, 0);
    if (Say("[np]", 3)) return true;
  }
  Fade();
  return false;
}

// The nearest enabled statement from cur in the direction step, stopping at limit.
uint32_t Neighbour(const DInquiry& q, uint32_t cur, int step, uint32_t limit) {
  while (cur != limit) {
    cur = step < 0 ? cur - 1 : cur + 1;
    if (q.Enabled(cur)) return cur;
  }
  return limit;
}

bool CrossExamination(DInquiry& q, const char* bgm) {
  q.end_request = 0;
  while (!q.end_request) {
    uint32_t first = q.count, last = 0;
    for (uint32_t n = 0; n < q.count; ++n) {
      if (!q.Enabled(n)) continue;
      if (first == q.count) first = n;
      last = n;
    }
    if (first == q.count) {
      q.end_request = 1;
      break;
    }
    uint32_t cur = first;
    q.break_request = 0;
    while (!q.break_request && !q.end_request) {
      const DInquirySection& s = q.sections[cur];
      PlayBgm(bgm);
      ShowName(q.name);
      if (IsCurrentBackground("bg_court_main")) {
        Need(Handlers().backPos, "backPos")(-928, 500.0f);
      } else {
        Need(Handlers().backSet, "backSet")("bg_court_main", "", -928, false, "", true);
        Need(Handlers().frontSet, "frontSet")("fg_court_main", 0, 589, true);
      }
      if (q.Enabled(cur)) {
        ShowCharacter(s);
        Say("[cg]", 0);
        Say(s.speech, 0);
      }
      ClearButtons();
      Need(Handlers().courtShowLife, "courtShowLife")(true);
      if (cur != first)
        PlaceButton(kRowInquiryLeft, "sys/btn_item_left", "left", 0, 491, kStyleLeft | kStyleMiddle);
      PlaceButton(kRowInquiryRight, "sys/btn_item_right", "right", 800, 491, kStyleRight | kStyleMiddle);
      PlaceButton(kRowInquiryShake, "sys/btn_inquiry_shake", "shake", 0, 0, kStyleLeft | kStyleTop);
      PlaceButton(kRowInquiryConfront, "sys/btn_inquiry_confront", "confront", 800, 0,
                  kStyleRight | kStyleTop);
      if (Say("[np]", 3)) return true;
      ClearButtons();
      Need(Handlers().courtHideCourtLife, "courtHideCourtLife")(true);
      sprSetTransitionTime(0);
      for (int32_t row : kButtonRows) RemoveSprite(CourtElementAt(row).slot);
      sprSetTransitionTime(300);

      char clicked[kPathSize] = "";
      if (DScenario* caller = Caller()) Copy(caller->link_target, clicked, sizeof(clicked));
      bool ran = false;
      if (IsName(clicked, "shake")) {
        Shout(-1, "matta");
        if (RunInquirySubScenario(s.shake, q.subscn)) return true;
        ran = true;
      } else if (IsName(clicked, "confront")) {
        int32_t presented = -1;
        if (CourtRecord(&presented, true, true, true, true)) return true;
        if (presented != -1) {
          if (s.item >= 0 && s.item == presented) {
            PlayBgm("");
            if (s.flags & kSectionKurae)
              Shout(presented, "kurae");
            else
              Shout(-1, "igi");
            if (RunInquirySubScenario(s.success, q.subscn)) return true;
          } else {
            Shout(-1, "igi");
            if (RunInquirySubScenario(s.miss, q.subscn)) return true;
            ran = true;
          }
        }
      }
      if (!q.break_request && !q.end_request) {
        // The name is read again: the court record empties the link target when it closes, so a
        // confront never moves the statement.
        char name[kPathSize] = "";
        if (DScenario* caller = Caller()) Copy(caller->link_target, name, sizeof(name));
        if (IsName(name, "left")) {
          if (cur != first) cur = Neighbour(q, cur, -1, first);
        } else if (IsName(name, "right") || IsName(name, "shake") || IsName(name, "confront")) {
          if (cur == last) {
            if (IsName(name, "right")) {
              q.break_request = 1;
              ran = true;
              if (RunInquirySubScenario(q.sections[cur].end, q.subscn)) return true;
            }
          } else {
            cur = Neighbour(q, cur, 1, last);
          }
        }
      }
      if ((q.break_request || ran) && !q.end_request) Fade();
      DScenario::ClearLinkRequest();
    }
  }
  return false;
}

}  // namespace

void LoadInquiryFile(DInquiry& q, const char* file) {
  q.end_request = q.break_request = 0;
  q.title[0] = q.subscn[0] = q.name[0] = '\0';
  q.sections.clear();
  q.count = 0;
  DMargePath(q.path, DString(ChapterFolder()), DString(file), DString("inq"));
  SetErrorFile(q.path);
  DRef<DFileRes> res = OpenFileRes(q.path, 1);
  DInquirySection* current = nullptr;
  while (const char* line = g_engine.ovReadFileLine(res->handle)) {
    NextErrorLine();
    ReadInquiryLine(q, current, line);
  }
}

bool inquiryRun(const char* file, const char* bgm, bool testimony) {
  DInquiry q;
  CurrentInquiryScope scope(&q);
  LoadInquiryFile(q, file);
  SetErrorFile(q.path);
  if (Opening(q, testimony)) return true;
  return testimony ? Testimony(q, bgm) : CrossExamination(q, bgm);
}

bool RunInquirySubScenario(const char* target, const char* file) {
  DScenario sub;
  sub.JumpTo(target, file);
  RunScenario(sub, 1);
  if (g_current) SetErrorFile(g_current->path);
  if (!sub.exit_request) return false;
  if (DScenario* caller = CurrentScenario()) Copy(sub.result, caller->result, sizeof(caller->result));
  return true;
}

void inquiryEnableSpeech(int32_t no) {
  if (!g_current || no < 0 || static_cast<uint32_t>(no) >= g_current->count)
    ScriptError("@inquiryEnableSpeechで指定されたno = \"%d\" は無効です", no);
  g_current->sections[static_cast<uint32_t>(no)].flags |= kSectionEnabled;
}

void inquiryDisableSpeech(int32_t no) {
  if (!g_current || no < 0 || static_cast<uint32_t>(no) >= g_current->count)
    ScriptError("@inquiryDisableSpeechで指定されたno = \"%d\" は無効です", no);
  g_current->sections[static_cast<uint32_t>(no)].flags &= ~kSectionEnabled;
}

void inquiryExit() {
  if (!g_current) return;
  g_current->end_request = 1;
  g_current->break_request = 1;
}

void inquiryRewind() {
  if (g_current) g_current->break_request = 1;
}

DInquiry* CurrentInquiry() {
  return g_current;
}

void ResetInquiryGlobals() {
  g_current = nullptr;
}
