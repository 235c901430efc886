// The command table and the interpreter that reads a command line against it.
#include "game/scenario_command.h"

#include <cstring>
#include <initializer_list>
#include <vector>

#include "base/dpath.h"
#include "base/dstring.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/scenario.h"
#include "game/tokenizer.h"

namespace {

constexpr size_t kTokenSize = 1024;
constexpr int kMaxOptions = 6;

enum class Opt : uint8_t { kNone, kFlag, kInt, kFloat, kText };
// What the first token after the name is: an option, or the command's positional value.
enum class Positional : uint8_t { kNone, kText, kNumber };
// How a token with an empty name (a blank after the last option) is treated.
enum class EmptyName : uint8_t { kSkip, kReject };

struct OptionSpec {
  const char* name = nullptr;
  Opt type = Opt::kNone;
  uint16_t size = 0;           // text buffer size (the value is cut to size - 1 bytes)
  int32_t int_default = 0;     // integer when absent
  float float_default = 0.0f;  // float when absent
  bool required = false;       // text not empty, number 0 or more
};

struct CommandArgs;
using CommandRun = void (*)(const CommandArgs& args);

struct CommandSpec {
  const char* name;        // as in the table, with its '@'
  const char* error_name;  // name in option and requirement errors
  CommandRun run;
  int32_t variant = 0;  // which of a group of commands (character class, shout, ...)
  bool reads_options = false;
  Positional positional = Positional::kNone;
  uint16_t positional_size = 256;
  bool positional_required = false;  // the number must be 0 or more
  bool first_token_only = false;     // every token after the first is ignored
  bool ignore_unknown = false;       // unrecognised options are ignored
  EmptyName empty_name = EmptyName::kSkip;
  int8_t kind = -1;  // the one scenario kind allowed; -1 any
  OptionSpec options[kMaxOptions] = {};
};

struct CommandArgs {
  const CommandSpec* spec;
  bool given[kMaxOptions];
  bool flag[kMaxOptions];
  int32_t integer[kMaxOptions];
  float real[kMaxOptions];
  char text[kMaxOptions][kPathSize];
  char positional[kPathSize];

  int32_t PositionalNumber() const { return ToInt(positional); }
};

GameHandlers& H() {
  return Handlers();
}

// The current scenario's requests; commands outside every run have nothing to act on.
DScenario* Scene() {
  return CurrentScenario();
}

OptionSpec Flag(const char* name) {
  return {name, Opt::kFlag};
}
OptionSpec Int(const char* name, int32_t def, bool required = false) {
  return {name, Opt::kInt, 0, def, 0.0f, required};
}
OptionSpec Float(const char* name, float def) {
  return {name, Opt::kFloat, 0, 0, def};
}
OptionSpec Text(const char* name, uint16_t size, bool required = false) {
  return {name, Opt::kText, size, 0, 0.0f, required};
}

// Commands without options.
CommandSpec Bare(const char* name, CommandRun run, int8_t kind = -1) {
  CommandSpec spec{name, nullptr, run};
  spec.kind = kind;
  return spec;
}

CommandSpec WithOptions(const char* name, const char* error_name, CommandRun run,
                        std::initializer_list<OptionSpec> options, EmptyName empty = EmptyName::kSkip,
                        int32_t variant = 0) {
  CommandSpec spec{name, error_name, run, variant};
  spec.reads_options = true;
  spec.empty_name = empty;
  int i = 0;
  for (const OptionSpec& o : options) spec.options[i++] = o;
  return spec;
}

CommandSpec ItemCommand(const char* name, CommandRun run, std::initializer_list<OptionSpec> options) {
  CommandSpec spec = WithOptions(name, name, run, options, EmptyName::kReject);
  spec.positional = Positional::kNumber;
  spec.positional_required = true;
  return spec;
}

const char* const kShouts[] = {"kurae", "matta", "igi"};
constexpr const char kCourtBackError[] =
    "@courtSetLawyerBack / @courtSetWitnessBack / @courtSetProsecutorBack / @courtSetJudgeBack / "
    "@courtSetGuideBack";

// Option indexes below follow each row's option list.
void RunSprRender(const CommandArgs&) {
  Need(H().sprRender, "sprRender")();
}
void RunBackSet(const CommandArgs& a) {  // file, color, noclear, wipe, fade, pos
  Need(H().backSet, "backSet")(a.text[0], a.text[1], a.integer[5], a.flag[2], a.flag[4] ? "fade" : "",
                               !(a.flag[3] || a.flag[4]));
}
void RunFrontSet(const CommandArgs& a) {  // file, x, y, wipe
  Need(H().frontSet, "frontSet")(a.text[0], a.integer[1], a.integer[2], !a.flag[3]);
}
void RunCharaShow(const CommandArgs& a) {  // file, x, y, wipe
  Need(H().charaShow, "charaShow")(a.text[0], a.spec->variant, a.integer[1], a.integer[2], !a.flag[3]);
}
void RunCharaHide(const CommandArgs& a) {  // wipe
  Need(H().charaHide, "charaHide")(a.spec->variant, !a.flag[0]);
}
void RunSprBeginScene(const CommandArgs&) {
  Need(H().sprBeginScene, "sprBeginScene")();
}
void RunSprEndScene(const CommandArgs&) {
  Need(H().sprEndScene, "sprEndScene")();
}
void RunSprLoadMotion(const CommandArgs& a) {  // file, wait
  Need(H().sprLoadMotion, "sprLoadMotion")(20, a.text[0], a.flag[1]);
}
void RunTextShowMessage(const CommandArgs&) {
  Need(H().textShowMessage, "textShowMessage")();
}
void RunTextShowName(const CommandArgs& a) {
  Need(H().textShowName, "textShowName")(a.positional);
}
void RunTextShowScene(const CommandArgs& a) {  // line1, line2
  Need(H().textShowScene, "textShowScene")(a.text[0], a.text[1]);
}
void RunGoto(const CommandArgs& a) {  // target
  DScenario* s = Scene();
  if (a.given[0] && s) DStrCopyTo(DString(a.text[0]), s->jump_target, sizeof(s->jump_target));
}
void RunExit(const CommandArgs& a) {  // rescode
  DScenario* s = Scene();
  if (!s) return;
  s->exit_request = true;
  if (a.given[0]) DStrCopyTo(DString(a.text[0]), s->result, sizeof(s->result));
}
void RunReturn(const CommandArgs&) {
  if (DScenario* s = Scene()) s->return_request = true;
}
void RunItemShow(const CommandArgs& a) {  // right
  Need(H().itemShow, "itemShow")(a.PositionalNumber(), a.flag[0]);
}
void RunItemHide(const CommandArgs&) {
  Need(H().itemHide, "itemHide")();
}
void RunItemMessage(const CommandArgs& a) {  // before, after, right
  Need(H().itemMessage, "itemMessage")(a.PositionalNumber(), a.flag[2], a.text[0], a.text[1]);
}
void RunItemGetShow(const CommandArgs& a) {  // se
  Need(H().itemGetShow, "itemGetShow")(a.PositionalNumber(), a.integer[0]);
}
void RunItemGetNoshow(const CommandArgs& a) {
  Need(H().itemGet, "itemGet")(a.PositionalNumber());
}
void RunItemLost(const CommandArgs& a) {
  Need(H().itemLost, "itemLost")(a.PositionalNumber());
}
void RunBackPos(const CommandArgs& a) {  // pos, speed
  Need(H().backPos, "backPos")(a.integer[0], a.real[1]);
}
void RunInquiryRun(const CommandArgs& a) {  // file, bgm
  bool end = Need(H().inquiryRun, "inquiryRun")(a.text[0], a.text[1], a.spec->variant == 1);
  if (end)
    if (DScenario* s = Scene()) s->exit_request = true;
}
void RunInquiryDisableSpeech(const CommandArgs& a) {  // no
  Need(H().inquiryDisableSpeech, "inquiryDisableSpeech")(a.integer[0]);
}
void RunInquiryEnableSpeech(const CommandArgs& a) {  // no
  Need(H().inquiryEnableSpeech, "inquiryEnableSpeech")(a.integer[0]);
}
void RunInquiryExit(const CommandArgs&) {
  Need(H().inquiryExit, "inquiryExit")();
}
void RunInquiryRewind(const CommandArgs&) {
  Need(H().inquiryRewind, "inquiryRewind")();
}
void RunCourtShowKakegoe(const CommandArgs& a) {  // right, item
  Need(H().courtShowKakegoe, "courtShowKakegoe")(a.integer[1], kShouts[a.spec->variant], a.flag[0]);
}
void RunCourtHideCourtLife(const CommandArgs& a) {  // nowipe
  Need(H().courtHideCourtLife, "courtHideCourtLife")(a.flag[0]);
}
void RunCourtShowLife(const CommandArgs& a) {  // wipe
  Need(H().courtShowLife, "courtShowLife")(a.flag[0]);
}
void RunCourtReduceLife(const CommandArgs&) {
  if (Need(H().courtReduceLife, "courtReduceLife")())
    if (DScenario* s = Scene()) s->exit_request = true;
}
void RunCourtSetLife(const CommandArgs& a) {
  Need(H().courtSetLife, "courtSetLife")(a.PositionalNumber());
}
void RunCourtSetNolifeScenario(const CommandArgs& a) {  // target
  Need(H().courtSetNolifeScenario, "courtSetNolifeScenario")(a.text[0]);
}
// noscr, noclear, wipe, fade; fade also sets wipe.
void RunCourtSetBack(const CommandArgs& a) {
  const bool noscr = a.flag[0], noclear = a.flag[1], fade = a.flag[3], wipe = a.flag[2] || fade;
  switch (a.spec->variant) {
    case 0:
      Need(H().courtSetLawyerBack, "courtSetLawyerBack")(noscr, noclear, wipe, fade);
      break;
    case 1:
      Need(H().courtSetWitnessBack, "courtSetWitnessBack")(noscr, noclear, wipe, fade);
      break;
    case 2:
      Need(H().courtSetProsecutorBack, "courtSetProsecutorBack")(noscr, noclear, wipe, fade);
      break;
    case 3:
      Need(H().courtSetJudgeBack, "courtSetJudgeBack")(noclear, wipe, fade);
      break;
    default:
      Need(H().courtSetGuideBack, "courtSetGuideBack")(noclear, wipe, fade);
      break;
  }
}
void RunTextShowFull(const CommandArgs&) {
  Need(H().textShowFull, "textShowFull")();
}
void RunItemShowKiroku(const CommandArgs& a) {  // x, y, target
  Need(H().itemShowKiroku, "itemShowKiroku")(a.text[2], a.integer[0], a.integer[1]);
}
void RunItemHideKiroku(const CommandArgs&) {
  Need(H().itemHideKiroku, "itemHideKiroku")();
}
void RunItemSelect(const CommandArgs& a) {  // item, success, miss, charaonly, kurae, right
  DScenario* s = Scene();
  if (!s) return;
  bool shout_due = false;
  bool end = Need(H().itemSelect, "itemSelect")(a.flag[3], a.integer[0], a.text[1], a.text[2], a.flag[4],
                                                s->jump_target, &shout_due);
  if (!end && shout_due) Need(H().courtShowKakegoe, "courtShowKakegoe")(a.integer[0], "kurae", a.flag[5]);
}
void RunBgmPlay(const CommandArgs& a) {  // file
  Need(H().bgmPlay, "bgmPlay")(a.text[0]);
}
void RunSePlay(const CommandArgs& a) {  // file
  char path[kPathSize];
  DMargePath(path, DString(ChapterFolder()), DString(a.text[0]), DString(""));
  if (!Need(H().FindSoundFile, "FindSoundFile")(path))
    DMargePath(path, DString("sys/se"), DString(a.text[0]), DString(""));
  Need(H().sePlay, "sePlay")(path);
}
void RunTextShowLoud(const CommandArgs& a) {  // value
  Need(H().textShowLoud, "textShowLoud")(a.text[0]);
}
void RunCourtShowPlea(const CommandArgs& a) {  // guilty
  Need(H().courtShowPlea, "courtShowPlea")(a.flag[0]);
}
void RunSave(const CommandArgs& a) {  // target
  Need(H().saveGame, "saveGame")(a.text[0]);
}

// The commands in the order the interpreter tests them.
std::vector<CommandSpec> BuildCommandTable() {
  const EmptyName kReject = EmptyName::kReject;
  std::vector<CommandSpec> t;
  t.push_back(Bare("@sprRender", RunSprRender));
  t.push_back(WithOptions(
      "@backSet", "@backSet", RunBackSet,
      {Text("file", 264), Text("color", 256), Flag("noclear"), Flag("wipe"), Flag("fade"), Int("pos", 0)},
      kReject));
  t.push_back(WithOptions("@frontSet", "@frontSet", RunFrontSet,
                          {Text("file", 264), Int("x", 0), Int("y", 0), Flag("wipe")}, kReject));
  const char* const show[] = {"@charaShowLeft", "@charaShowCenter", "@charaShowRight"};
  const int32_t show_x[] = {-180, 0, 80};
  for (int i = 0; i < 3; ++i)
    t.push_back(WithOptions(show[i], "@charaShow", RunCharaShow,
                            {Text("file", 264), Int("x", show_x[i]), Int("y", 0), Flag("wipe")}, kReject, i));
  const char* const hide[] = {"@charaHideLeft", "@charaHideCenter", "@charaHideRight", "@charaHideAll"};
  for (int i = 0; i < 4; ++i)
    t.push_back(WithOptions(hide[i], "@charaHide", RunCharaHide, {Flag("wipe")}, kReject, i));
  t.push_back(Bare("@sprBeginScene", RunSprBeginScene));
  t.push_back(Bare("@sprEndScene", RunSprEndScene));
  t.push_back(WithOptions("@sprLoadMotion", "@sprLoadMotion", RunSprLoadMotion,
                          {Text("file", 264, true), Flag("wait")}, kReject));
  t.push_back(Bare("@textShowMessage", RunTextShowMessage));
  {
    CommandSpec spec = WithOptions("@textShowName", nullptr, RunTextShowName, {});
    spec.positional = Positional::kText;
    spec.positional_size = 264;
    spec.first_token_only = true;
    t.push_back(spec);
  }
  t.push_back(WithOptions("@textShowScene", "@textShowScene", RunTextShowScene,
                          {Text("line1", 256), Text("line2", 256)}, kReject));
  {
    CommandSpec go = WithOptions("@goto", nullptr, RunGoto, {Text("target", 264)});
    go.ignore_unknown = true;
    t.push_back(go);
    CommandSpec exit = WithOptions("@exit", nullptr, RunExit, {Text("rescode", 256)});
    exit.ignore_unknown = true;
    t.push_back(exit);
  }
  t.push_back(Bare("@return", RunReturn));
  t.push_back(ItemCommand("@itemShow", RunItemShow, {Flag("right")}));
  t.push_back(Bare("@itemHide", RunItemHide));
  t.push_back(
      ItemCommand("@itemMessage", RunItemMessage, {Text("before", 256), Text("after", 256), Flag("right")}));
  t.push_back(ItemCommand("@itemGetShow", RunItemGetShow, {Int("se", 0)}));
  t.push_back(ItemCommand("@itemGetNoshow", RunItemGetNoshow, {}));
  t.push_back(ItemCommand("@itemLost", RunItemLost, {}));
  t.push_back(
      WithOptions("@backPos", "@backPos", RunBackPos, {Int("pos", 0), Float("speed", 500.0f)}, kReject));
  for (int i = 0; i < 2; ++i) {
    CommandSpec spec =
        WithOptions(i == 0 ? "@inquiryRun" : "@testimonyRun", "@inquiryRun/@testimonyRun", RunInquiryRun,
                    {Text("file", 264, true), Text("bgm", 264)}, EmptyName::kSkip, i);
    spec.kind = 0;
    t.push_back(spec);
  }
  {
    CommandSpec disable = WithOptions("@inquiryDisableSpeech", "@inquiryDisableSpeech",
                                      RunInquiryDisableSpeech, {Int("no", -1, true)});
    disable.kind = 1;
    t.push_back(disable);
    CommandSpec enable = WithOptions("@inquiryEnableSpeech", "@inquiryEnableSpeech", RunInquiryEnableSpeech,
                                     {Int("no", -1, true)});
    enable.kind = 1;
    t.push_back(enable);
  }
  t.push_back(Bare("@inquiryExit", RunInquiryExit, 1));
  t.push_back(Bare("@inquiryRewind", RunInquiryRewind, 1));
  const char* const shouts[] = {"@courtShowKurae", "@courtShowMatta", "@courtShowIgi"};
  for (int i = 0; i < 3; ++i)
    t.push_back(WithOptions(shouts[i], "@courtShowKurae/@courtShowMatta/@courtShowIgi", RunCourtShowKakegoe,
                            {Flag("right"), Int("item", -1)}, EmptyName::kSkip, i));
  t.push_back(
      WithOptions("@courtHideCourtLife", "@courtHideCourtLife", RunCourtHideCourtLife, {Flag("nowipe")}));
  t.push_back(WithOptions("@courtShowLife", "@courtShowLife", RunCourtShowLife, {Flag("wipe")}));
  t.push_back(Bare("@courtReduceLife", RunCourtReduceLife));
  {
    CommandSpec spec = WithOptions("@courtSetLife", "@courtSetLife", RunCourtSetLife, {});
    spec.positional = Positional::kNumber;
    spec.positional_required = true;
    t.push_back(spec);
  }
  t.push_back(WithOptions("@courtSetNolifeScenario", "@courtSetNolifeScenario", RunCourtSetNolifeScenario,
                          {Text("target", 264, true)}));
  const char* const backs[] = {"@courtSetLawyerBack", "@courtSetWitnessBack", "@courtSetProsecutorBack",
                               "@courtSetJudgeBack", "@courtSetGuideBack"};
  for (int i = 0; i < 5; ++i)
    t.push_back(WithOptions(backs[i], kCourtBackError, RunCourtSetBack,
                            {Flag("noscr"), Flag("noclear"), Flag("wipe"), Flag("fade")}, EmptyName::kSkip,
                            i));
  t.push_back(Bare("@textShowFull", RunTextShowFull));
  t.push_back(WithOptions("@itemShowKiroku", "@itemShowKiroku", RunItemShowKiroku,
                          {Int("x", 0), Int("y", 0), Text("target", 264)}));
  t.push_back(Bare("@itemHideKiroku", RunItemHideKiroku));
  t.push_back(WithOptions("@itemSelect", "@itemSelect", RunItemSelect,
                          {Int("item", -1, true), Text("success", 264, true), Text("miss", 264, true),
                           Flag("charaonly"), Flag("kurae"), Flag("right")}));
  t.push_back(WithOptions("@bgmPlay", "@bgmPlay", RunBgmPlay, {Text("file", 264)}));
  t.push_back(WithOptions("@sePlay", "@sePlay", RunSePlay, {Text("file", 264)}));
  t.push_back(WithOptions("@textShowLoud", "@textShowLoud", RunTextShowLoud, {Text("value", 264)}));
  t.push_back(WithOptions("@courtShowPlea", "@courtShowPlea", RunCourtShowPlea, {Flag("guilty")}));
  t.push_back(WithOptions("@save", "@save", RunSave, {Text("target", 264)}));
  return t;
}

const std::vector<CommandSpec>& CommandTable() {
  static const std::vector<CommandSpec> table = BuildCommandTable();
  return table;
}

const CommandSpec* FindCommand(const char* name) {
  for (const CommandSpec& spec : CommandTable())
    if (DStrCompareNoCase(DString(name), DString(spec.name)) == 0) return &spec;
  return nullptr;
}

void CheckKind(const CommandSpec& spec, int32_t kind) {
  if (spec.kind < 0 || spec.kind == kind) return;
  if (spec.kind == 0) ScriptError("%sコマンドは通常シナリオ中でのみ使用可能です", spec.error_name);
  ScriptError("%sコマンドは尋問シナリオ中でのみ使用可能です", spec.name);
}

void CopyCut(char* buffer, size_t capacity, const char* text) {
  DStrCopyTo(DString(text), buffer, capacity);
}

// Takes one token of the command's option list into args.
void TakeToken(const CommandSpec& spec, CommandArgs& args, const char* name, const char* value, bool first) {
  if (spec.first_token_only) {
    if (first) CopyCut(args.positional, spec.positional_size, name);
    return;
  }
  if (spec.positional != Positional::kNone && args.positional[0] == '\0') {
    CopyCut(args.positional, spec.positional_size, name);
    return;
  }
  if (name[0] == '\0') {
    if (spec.empty_name == EmptyName::kReject && !spec.ignore_unknown)
      CommandOptionError(spec.error_name, "");
    return;
  }
  for (int i = 0; i < kMaxOptions && spec.options[i].name; ++i) {
    const OptionSpec& option = spec.options[i];
    if (DStrCompareNoCase(DString(name), DString(option.name)) != 0) continue;
    args.given[i] = true;
    switch (option.type) {
      case Opt::kFlag:
        args.flag[i] = true;
        break;
      case Opt::kInt:
        args.integer[i] = ToInt(value);
        break;
      case Opt::kFloat:
        args.real[i] = ToFloat(value);
        break;
      case Opt::kText:
        CopyCut(args.text[i], option.size, value);
        break;
      case Opt::kNone:
        break;
    }
    return;
  }
  if (!spec.ignore_unknown) CommandOptionError(spec.error_name, name);
}

bool RequiredPresent(const CommandSpec& spec, const CommandArgs& args) {
  if (spec.positional_required && args.PositionalNumber() < 0) return false;
  for (int i = 0; i < kMaxOptions && spec.options[i].name; ++i) {
    const OptionSpec& option = spec.options[i];
    if (!option.required) continue;
    if (option.type == Opt::kText && args.text[i][0] == '\0') return false;
    if (option.type == Opt::kInt && args.integer[i] < 0) return false;
  }
  return true;
}

}  // namespace

void ExecScenarioCommand(const char* line, int32_t kind) {
  char name[kTokenSize];
  char value[kTokenSize];
  const char* cursor = line;
  bool end = false;
  ReadOption(cursor, name, sizeof(name), value, sizeof(value), end, 0);
  const CommandSpec* spec = FindCommand(name);
  if (!spec) CommandError(name);
  CheckKind(*spec, kind);

  CommandArgs args{};
  args.spec = spec;
  for (int i = 0; i < kMaxOptions; ++i) {
    args.integer[i] = spec->options[i].int_default;
    args.real[i] = spec->options[i].float_default;
  }
  if (spec->reads_options && !end) {
    bool first = true;
    while (!end) {
      ReadOption(cursor, name, sizeof(name), value, sizeof(value), end, 0);
      TakeToken(*spec, args, name, value, first);
      first = false;
    }
  }
  if (!RequiredPresent(*spec, args)) CommandError(spec->error_name);
  spec->run(args);
}

size_t ScenarioCommandCount() {
  return CommandTable().size();
}

const char* ScenarioCommandName(size_t i) {
  return i < CommandTable().size() ? CommandTable()[i].name : nullptr;
}
