// Scenario files, the scenario object and the runner.
#include "game/scenario.h"

#include <cstring>

#include "base/dpath.h"
#include "base/dstring.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/handlers.h"
#include "game/resource.h"
#include "game/scenario_command.h"
#include "game/tokenizer.h"

namespace {

DScenario* g_current = nullptr;
char g_chapter_folder[kPathSize] = "";

void CopyText(char* buffer, size_t capacity, const char* text) {
  DStrCopyTo(DString(text), buffer, capacity);
}

// A shared copy of a line.
DRef<char> CopyLine(const char* text, size_t length) {
  DRef<char> line;
  line.Alloc(static_cast<uint32_t>(length + 1));
  std::memcpy(line.Get(), text, length);
  line[length] = '\0';
  return line;
}

}  // namespace

DScenario::DScenario() {
  Reset();
}

void DScenario::Reset() {
  name[0] = '\0';
  line = 0;
  lines_.Clear();
  current_ = DRefList<char>::Iterator();
  result[0] = '\0';
  exit_request = false;
  return_request = false;
  jump_target[0] = '\0';
  right_click_allowed = false;
  right_click_request = false;
  link_target[0] = '\0';
}

void DScenario::Rewind() {
  current_ = lines_.Begin();
  line = 1;
}

void DScenario::Next() {
  if (AtEnd()) return;
  current_ = current_.Next();
  if (line < INT32_MAX) ++line;
}

bool DScenario::AtEnd() const {
  if (!current_.Node()) return true;
  return current_ == lines_.End();
}

const char* DScenario::CurrentLine() const {
  if (AtEnd()) return "";
  const char* text = static_cast<const char*>(current_.Node()->value.Get());
  if (!text) return "";
  SkipBlanks(text);
  return text;
}

DRef<char> DScenario::CurrentValue() const {
  if (AtEnd()) return DRef<char>();
  return current_.Value();
}

void DScenario::JumpTo(const char* target, const char* default_file) {
  char file[kPathSize];
  char label[kPathSize];
  SplitTarget(target, file, sizeof(file), label, sizeof(label), default_file);
  char joined[kPathSize * 2 + 1];
  std::strcpy(joined, file);
  std::strcat(joined, ":");
  std::strcat(joined, label);
  JumpToLabel(*this, joined);
}

void DScenario::SplitTarget(const char* target, char* file, size_t file_capacity, char* label,
                            size_t label_capacity, const char* default_file) {
  // Positions of the last two colons, found character by character.
  const char* last = nullptr;
  const char* before_last = nullptr;
  for (const char* p = target; *p;) {
    if (*p == ':') {
      before_last = last;
      last = p;
    }
    p += (DIsLeadByte(*p) && p[1]) ? 2 : 1;
  }
  auto copy = [](char* buffer, size_t capacity, const char* from, size_t length) {
    if (!buffer || capacity == 0) return;
    if (length > capacity - 1) length = capacity - 1;
    std::memcpy(buffer, from, length);
    buffer[length] = '\0';
  };
  if (!last) {
    copy(label, label_capacity, target, std::strlen(target));
    copy(file, file_capacity, "", 0);
  } else {
    copy(label, label_capacity, last + 1, std::strlen(last + 1));
    const char* file_start = before_last ? before_last + 1 : target;
    copy(file, file_capacity, file_start, static_cast<size_t>(last - file_start));
  }
  if (file && file_capacity && file[0] == '\0' && default_file && default_file[0])
    copy(file, file_capacity, default_file, std::strlen(default_file));
}

void DScenario::ClearLinkRequest() {
  if (!g_current) return;
  g_current->right_click_request = false;
  g_current->link_target[0] = '\0';
}

DScenario* CurrentScenario() {
  return g_current;
}

CurrentScenarioScope::CurrentScenarioScope(DScenario* scenario) : previous_(g_current) {
  g_current = scenario;
}

CurrentScenarioScope::~CurrentScenarioScope() {
  g_current = previous_;
}

const char* ChapterFolder() {
  return g_chapter_folder;
}

void SetChapterFolder(const char* folder) {
  CopyText(g_chapter_folder, sizeof(g_chapter_folder), folder);
}

void ResetScenarioGlobals() {
  g_current = nullptr;
  g_chapter_folder[0] = '\0';
}

void LoadScenarioFile(DScenario& scenario, const char* file_name) {
  char path[kPathSize];
  DMargePath(path, DString(g_chapter_folder), DString(file_name), DString("scn"));
  CopyText(scenario.name, sizeof(scenario.name), path);
  DRef<DFileRes> file = OpenFileRes(path, 1);
  scenario.current_ = DRefList<char>::Iterator();
  scenario.lines_.Clear();
  while (const char* text = g_engine.ovReadFileLine(file->handle)) {
    const char* first = text;
    SkipBlanks(first);
    // The engine's text lives until its next call: the line is copied before anything else.
    scenario.lines_.PushBack(*first == ';' ? CopyLine("", 0) : CopyLine(text, std::strlen(text)));
  }
  file.Release();
  scenario.Rewind();
}

void JumpToLabel(DScenario& scenario, const char* target) {
  char file[kPathSize];
  char label[kPathSize];
  DScenario::SplitTarget(target, file, sizeof(file), label, sizeof(label), nullptr);
  if (file[0]) LoadScenarioFile(scenario, file);
  if (!label[0]) {
    // A target naming neither a file nor a label (a lone colon) has no place to go.
    if (!file[0] && target[0]) ScriptError("ジャンプ先ラベル \"%s\" が見つかりません。", label);
    return;
  }
  const DString wanted(label);
  for (scenario.Rewind(); !scenario.AtEnd(); scenario.Next()) {
    const char* text = scenario.CurrentLine();
    if (text[0] == ':' && DStrCompareNoCase(DString(text + 1), wanted) == 0) return;
  }
  ScriptError("ジャンプ先ラベル \"%s\" が見つかりません。", label);
}

void RunScenario(DScenario& scenario, int32_t kind) {
  CurrentScenarioScope scope(&scenario);
  while (!scenario.AtEnd()) {
    // The line stays alive while it runs, whatever the command does to the scenario's lines.
    DRef<char> held = scenario.CurrentValue();
    const char* text = scenario.CurrentLine();
    SetErrorPosition(scenario.name, scenario.line);
    scenario.right_click_request = false;
    scenario.link_target[0] = '\0';
    scenario.return_request = false;
    scenario.exit_request = false;
    scenario.jump_target[0] = '\0';
    switch (text[0]) {
      case '@':
        ExecScenarioCommand(text, kind);
        break;
      case ':':
      case ';':
      case '\0':
        break;
      default:
        Need(Handlers().ShowMessage, "ShowMessage")(text, "", 3);
        break;
    }
    if (scenario.exit_request || scenario.return_request) return;
    if (scenario.link_target[0])
      CopyText(scenario.jump_target, sizeof(scenario.jump_target), scenario.link_target);
    if (scenario.jump_target[0]) {
      char target[kPathSize];
      CopyText(target, sizeof(target), scenario.jump_target);
      JumpToLabel(scenario, target);
    } else {
      scenario.Next();
    }
  }
}
